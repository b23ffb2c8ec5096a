#include "Render.h"
#include "PluginHost.h"

#include <plugin/Layout.h>

#include <cstdlib>
#include <iomanip>
#include <optional>
#include <ostream>

namespace vyx::host
{

namespace
{
    /** A failure that ends the run with one line on the error stream. */
    struct RenderError
    {
        juce::String message;
    };

    struct Options
    {
        juce::File input, output, sidechain, preset, state, bundle;
        std::vector<std::pair<juce::String, juce::String>> settings;  // --set, in order
        std::optional<int> oversampling;                              // "OVER" stage 0..3
        int blockSize = 512;
        int bits = 32;
    };

    constexpr int maximumBlockSize = 65536;

    /** Files longer than this many seconds get a progress bar. */
    constexpr double progressFromSeconds = 5.0;

    juce::File fileArgument (const juce::String& path)
    {
        return juce::File::getCurrentWorkingDirectory().getChildFile (path);
    }

    /** A finite decimal number (the whole text), or nothing. */
    std::optional<double> parseNumber (const juce::String& text)
    {
        const auto trimmed = text.trim();
        if (trimmed.isEmpty())
            return {};
        const char* start = trimmed.toRawUTF8();
        char* end = nullptr;
        const double value = std::strtod (start, &end);
        if (end == start || *end != 0 || ! std::isfinite (value))
            return {};
        return value;
    }

    /** A whole number (the whole text), or nothing. */
    std::optional<int> parseInt (const juce::String& text)
    {
        const auto value = parseNumber (text);
        if (! value || *value != std::floor (*value) || std::abs (*value) > 1.0e9)
            return {};
        return (int) *value;
    }

    Options parseArguments (const juce::StringArray& args)
    {
        Options options;
        juce::StringArray positional;

        for (int i = 0; i < args.size(); ++i)
        {
            const auto& arg = args[i];
            const auto value = [&]() -> juce::String
            {
                if (i + 1 >= args.size())
                    throw RenderError { arg + " needs a value" };
                return args[++i];
            };

            if (arg == "--preset")
                options.preset = fileArgument (value());
            else if (arg == "--state")
                options.state = fileArgument (value());
            else if (arg == "--sidechain")
                options.sidechain = fileArgument (value());
            else if (arg == "--plugin")
                options.bundle = fileArgument (value());
            else if (arg == "--set")
            {
                const auto setting = value();
                if (! setting.containsChar ('='))
                    throw RenderError { "--set needs ID=VALUE, not '" + setting + "'" };
                options.settings.emplace_back (setting.upToFirstOccurrenceOf ("=", false, false).trim(),
                                               setting.fromFirstOccurrenceOf ("=", false, false).trim());
            }
            else if (arg == "--oversampling")
            {
                const juce::StringArray names { "none", "2x", "4x", "8x" };
                const auto name = value();
                const int stage = names.indexOf (name, true);
                if (stage < 0)
                    throw RenderError { "--oversampling takes none, 2x, 4x or 8x, not '" + name + "'" };
                options.oversampling = stage;
            }
            else if (arg == "--block")
            {
                const auto text = value();
                const auto n = parseInt (text);
                if (! n || *n < 1 || *n > maximumBlockSize)
                    throw RenderError { "--block takes a whole number from 1 to " + juce::String (maximumBlockSize)
                                        + ", not '" + text + "'" };
                options.blockSize = *n;
            }
            else if (arg == "--bits")
            {
                const auto text = value();
                const auto n = parseInt (text);
                if (! n || (*n != 24 && *n != 32))
                    throw RenderError { "--bits takes 24 or 32, not '" + text + "'" };
                options.bits = *n;
            }
            else if (arg.startsWith ("-") && arg.length() > 1)
                throw RenderError { "unknown option " + arg };
            else
                positional.add (arg);
        }

        if (positional.size() != 2)
            throw RenderError { "expected an input and an output file (" + getRenderUsage().upToFirstOccurrenceOf ("\n", false, false) + ")" };

        options.input = fileArgument (positional[0]);
        options.output = fileArgument (positional[1]);
        if (options.bundle == juce::File())
            options.bundle = getBuiltBundle();
        return options;
    }

    std::unique_ptr<juce::AudioFormatReader> openAudio (juce::AudioFormatManager& formats,
                                                        const juce::File& file,
                                                        const juce::String& role)
    {
        if (! file.existsAsFile())
            throw RenderError { "cannot read " + role + " " + file.getFullPathName() + ": no such file" };

        std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (file));
        if (reader == nullptr)
            throw RenderError { "cannot read " + role + " " + file.getFullPathName() + ": not an audio file in a format this build reads" };

        if (reader->numChannels < 1 || reader->numChannels > 2)
            throw RenderError { role + " " + file.getFullPathName() + " has " + juce::String (reader->numChannels)
                                + " channels; mono and stereo are supported" };
        if (! (reader->sampleRate > 0.0) || reader->lengthInSamples < 0)
            throw RenderError { "cannot read " + role + " " + file.getFullPathName() + ": damaged header" };
        return reader;
    }

    //==============================================================================
    /** The plug-in's own state block ("VC2!" binary XML) inside the component state the host
        keeps, with the bytes around it that belong to the framework's wrapper. */
    struct ComponentState
    {
        juce::MemoryBlock before, after;
        std::unique_ptr<juce::XmlElement> xml;
    };

    constexpr juce::uint32 stateMagic = 0x21324356;  // "VC2!"

    /** Finds the "VC2!" block in data and parses its XML; null xml when there is none. */
    ComponentState findStateBlock (const juce::MemoryBlock& data)
    {
        ComponentState result;
        const auto* bytes = static_cast<const char*> (data.getData());
        const auto size = data.getSize();

        for (size_t i = 0; i + 8 < size; ++i)
        {
            if (juce::ByteOrder::littleEndianInt (bytes + i) != stateMagic)
                continue;

            const auto length = (size_t) juce::ByteOrder::littleEndianInt (bytes + i + 4);
            const auto end = std::min (size, i + 8 + length + 1);
            result.xml = juce::AudioProcessor::getXmlFromBinary (bytes + i, (int) (end - i));
            if (result.xml == nullptr)
                continue;

            result.before.append (bytes, i);
            result.after.append (bytes + end, size - end);
            break;
        }
        return result;
    }

    /** The "State" document of a --state file: the plug-in's own block, or a block a JUCE
        host saved around it. */
    std::unique_ptr<juce::XmlElement> loadStateFile (const juce::File& file)
    {
        juce::MemoryBlock data;
        if (! file.existsAsFile() || ! file.loadFileAsData (data))
            throw RenderError { "cannot read state " + file.getFullPathName() + ": no such file" };

        auto xml = findStateBlock (data).xml;
        if (xml == nullptr)
            xml = findStateBlock (getComponentState (data)).xml;
        if (xml == nullptr || ! xml->hasTagNameIgnoringNamespace ("State"))
            throw RenderError { "cannot read state " + file.getFullPathName() + ": not a Vyx state block" };
        return xml;
    }

    std::unique_ptr<juce::XmlElement> loadPresetFile (const juce::File& file)
    {
        juce::MemoryBlock data;
        if (! file.existsAsFile() || ! file.loadFileAsData (data))
            throw RenderError { "cannot read preset " + file.getFullPathName() + ": no such file" };

        constexpr int maximumPresetDepth = 64;
        auto xml = cvx::parseUntrustedXml (data.getData(), data.getSize(), maximumPresetDepth);
        if (xml == nullptr || ! xml->getTagName().equalsIgnoreCase ("State"))
            throw RenderError { "cannot read preset " + file.getFullPathName() + ": not a Vyx preset" };
        return xml;
    }

    /** The layout record of a host parameter id ("MIX", "THD3"), or null. */
    const Layout::Parameter* findLayoutParameter (const juce::String& id)
    {
        for (const auto* p : Layout::GLOBAL_PARAMS)
            if (p->id == id)
                return p;

        for (const auto* p : Layout::BAND_PARAMS)
            for (int b = 0; b < Layout::numBands; ++b)
                if (p->id + juce::String (b) == id)
                    return p;
        return nullptr;
    }

    /** Applies --preset, --state, --set and --oversampling to the state document. */
    void applyOptions (juce::XmlElement& state, const Options& options)
    {
        if (options.state != juce::File())
        {
            auto loaded = loadStateFile (options.state);
            state = *loaded;
        }

        if (options.preset != juce::File())
        {
            // A preset carries everything but the instance's Attributes, which stay.
            auto preset = loadPresetFile (options.preset);
            preset->deleteAllChildElementsWithTagName ("Attributes");
            std::unique_ptr<juce::XmlElement> attributes;
            if (auto* current = state.getChildByName ("Attributes"))
                attributes = std::make_unique<juce::XmlElement> (*current);
            state = *preset;
            if (attributes != nullptr)
                state.addChildElement (attributes.release());
        }

        for (const auto& [id, text] : options.settings)
        {
            const auto* record = findLayoutParameter (id);
            if (record == nullptr)
                throw RenderError { "unknown parameter id '" + id + "'" };

            const auto value = parseNumber (text);
            const auto& range = record->range;
            if (! value || *value < range.start || *value > range.end)
                throw RenderError { "value '" + text + "' for " + id + " is out of range ("
                                    + juce::String (range.start) + " to " + juce::String (range.end) + ")" };

            auto* parameters = state.getChildByName ("Parameters");
            if (parameters == nullptr)
                parameters = state.createNewChildElement ("Parameters");

            auto* param = parameters->getChildByAttribute ("id", id);
            if (param == nullptr)
            {
                param = parameters->createNewChildElement ("PARAM");
                param->setAttribute ("id", id);
            }
            param->setAttribute ("value", *value);
        }

        if (options.oversampling)
        {
            auto* attributes = state.getChildByName ("Attributes");
            if (attributes == nullptr)
                attributes = state.createNewChildElement ("Attributes");
            attributes->setAttribute ("OVER", *options.oversampling);
        }
    }

    void restoreState (juce::AudioPluginInstance& instance, const Options& options)
    {
        std::optional<RenderError> failure;
        const bool edited = editPluginState (instance, [&] (juce::XmlElement& state)
        {
            try
            {
                applyOptions (state, options);
            }
            catch (const RenderError& e)
            {
                failure = e;
            }
        });

        if (failure)
            throw *failure;
        if (! edited)
            throw RenderError { "the plug-in did not give the host a state to start from" };
    }

    //==============================================================================
    struct Level
    {
        float peak = 0.0f;
        double sumOfSquares = 0.0;
        juce::int64 count = 0;

        void add (const juce::AudioBuffer<float>& buffer, int channels, int start, int length)
        {
            for (int ch = 0; ch < channels; ++ch)
            {
                const float* x = buffer.getReadPointer (ch, start);
                for (int i = 0; i < length; ++i)
                {
                    peak = std::max (peak, std::abs (x[i]));
                    sumOfSquares += (double) x[i] * x[i];
                }
            }
            count += (juce::int64) channels * length;
        }

        float rms() const { return count > 0 ? (float) std::sqrt (sumOfSquares / (double) count) : 0.0f; }
    };

    juce::String decibels (float level)
    {
        if (level <= 0.0f)
            return "-inf dBFS";
        return juce::String (juce::Decibels::gainToDecibels (level, -300.0f), 1) + " dBFS";
    }

    /** A progress line redrawn in place on the error stream. */
    class ProgressBar
    {
    public:
        ProgressBar (std::ostream& stream, bool enabled) : out (stream), shown (enabled) {}

        void update (double fraction)
        {
            const int percent = juce::jlimit (0, 100, (int) (fraction * 100.0));
            if (! shown || percent == lastPercent)
                return;
            lastPercent = percent;
            constexpr int width = 40;
            const int filled = percent * width / 100;
            out << "\rrendering [" << std::string ((size_t) filled, '#') << std::string ((size_t) (width - filled), ' ')
                << "] " << std::setw (3) << percent << "%" << std::flush;
        }

        void finish()
        {
            if (shown && lastPercent >= 0)
                out << std::endl;
        }

    private:
        std::ostream& out;
        bool shown;
        int lastPercent = -1;
    };

    int render (const Options& options, std::ostream& out, std::ostream& err)
    {
        juce::AudioFormatManager formats;
        formats.registerBasicFormats();

        auto input = openAudio (formats, options.input, "input");
        std::unique_ptr<juce::AudioFormatReader> sidechain;
        if (options.sidechain != juce::File())
        {
            sidechain = openAudio (formats, options.sidechain, "sidechain");
            if (sidechain->sampleRate != input->sampleRate)
                throw RenderError { "sidechain " + options.sidechain.getFullPathName() + " runs at "
                                    + juce::String (sidechain->sampleRate) + " Hz, the input at "
                                    + juce::String (input->sampleRate) + " Hz" };
        }

        const double sampleRate = input->sampleRate;
        const int channels = (int) input->numChannels;
        const juce::int64 length = input->lengthInSamples;
        const int blockSize = options.blockSize;

        // Refuse an output that cannot be written before spending time on the render.
        const auto& target = options.output;
        if (target.isDirectory())
            throw RenderError { "cannot write " + target.getFullPathName() + ": it is a folder" };
        juce::TemporaryFile temporary (target, juce::TemporaryFile::useHiddenFile);
        auto stream = temporary.getFile().createOutputStream();
        if (stream == nullptr)
            throw RenderError { "cannot write " + target.getFullPathName() + ": " + (target.getParentDirectory().isDirectory()
                                                                                         ? "permission denied"
                                                                                         : "no such folder") };

        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (
            wav.createWriterFor (stream.get(), sampleRate, (unsigned int) channels, options.bits, {}, 0));
        if (writer == nullptr)
            throw RenderError { "cannot write " + target.getFullPathName() + ": no WAV writer for "
                                + juce::String (sampleRate) + " Hz" };
        stream.release();  // the writer owns it now

        juce::String loadError;
        auto instance = loadPlugin (options.bundle, sampleRate, blockSize, loadError);
        if (instance == nullptr)
            throw RenderError { "cannot load " + options.bundle.getFullPathName() + ": " + loadError };

        const auto set = channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
        auto layout = instance->getBusesLayout();
        layout.inputBuses.getReference (0) = set;
        layout.outputBuses.getReference (0) = set;
        if (layout.inputBuses.size() > 1)
            layout.inputBuses.getReference (1) = sidechain != nullptr ? set : juce::AudioChannelSet::disabled();
        else if (sidechain != nullptr)
            throw RenderError { "the plug-in has no sidechain input" };
        if (! instance->setBusesLayout (layout))
            throw RenderError { "the plug-in refused a " + set.getDescription() + " layout" };

        restoreState (*instance, options);

        instance->prepareToPlay (sampleRate, blockSize);
        syncLatency (*instance);
        const int latency = std::max (0, instance->getLatencySamples());

        const int busChannels = std::max (instance->getTotalNumInputChannels(), instance->getTotalNumOutputChannels());
        juce::AudioBuffer<float> buffer (std::max (busChannels, sidechain != nullptr ? 2 * channels : channels), blockSize);
        juce::AudioBuffer<float> fileBuffer (channels, blockSize), sidechainBuffer (2, blockSize);
        juce::MidiBuffer midi;
        Level inputLevel, outputLevel;
        ProgressBar progress (err, (double) length / sampleRate > progressFromSeconds);

        // The input followed by `latency` samples of silence goes in; the first `latency`
        // samples that come out are dropped, so OUT lines up with IN and has its length.
        const juce::int64 total = length + latency;
        juce::int64 written = 0;
        const auto started = juce::Time::getMillisecondCounterHiRes();

        for (juce::int64 position = 0; position < total; position += blockSize)
        {
            const int n = (int) std::min ((juce::int64) blockSize, total - position);
            buffer.setSize (buffer.getNumChannels(), n, false, false, true);
            buffer.clear();

            if (position < length)
            {
                const int fromFile = (int) std::min ((juce::int64) n, length - position);
                fileBuffer.setSize (channels, fromFile, false, false, true);
                input->read (&fileBuffer, 0, fromFile, position, true, true);
                for (int ch = 0; ch < channels; ++ch)
                    buffer.copyFrom (ch, 0, fileBuffer, ch, 0, fromFile);
                inputLevel.add (buffer, channels, 0, fromFile);
            }

            if (sidechain != nullptr && position < sidechain->lengthInSamples)
            {
                const int fromFile = (int) std::min ((juce::int64) n, sidechain->lengthInSamples - position);
                const int keyChannels = (int) sidechain->numChannels;
                sidechainBuffer.setSize (keyChannels, fromFile, false, false, true);
                sidechain->read (&sidechainBuffer, 0, fromFile, position, true, true);

                // The key takes the main bus's width: a mono key feeds both sides, a stereo
                // key into a mono bus is the average of its sides.
                for (int ch = 0; ch < channels; ++ch)
                {
                    if (keyChannels == channels)
                        buffer.copyFrom (channels + ch, 0, sidechainBuffer, ch, 0, fromFile);
                    else if (keyChannels == 1)
                        buffer.copyFrom (channels + ch, 0, sidechainBuffer, 0, 0, fromFile);
                    else
                    {
                        buffer.copyFromWithRamp (channels + ch, 0, sidechainBuffer.getReadPointer (0), fromFile, 0.5f, 0.5f);
                        buffer.addFrom (channels + ch, 0, sidechainBuffer, 1, 0, fromFile, 0.5f);
                    }
                }
            }

            instance->processBlock (buffer, midi);

            // Drop the first `latency` samples of output, keep at most the input's length.
            const juce::int64 outStart = std::max ((juce::int64) 0, latency - position);
            const juce::int64 outEnd = std::min ((juce::int64) n, length + latency - position);
            if (outEnd > outStart)
            {
                const int first = (int) outStart, count = (int) (outEnd - outStart);
                for (int ch = 0; ch < channels; ++ch)
                {
                    const float* x = buffer.getReadPointer (ch, first);
                    for (int i = 0; i < count; ++i)
                        if (! std::isfinite (x[i]))
                            throw RenderError { "the plug-in produced a non-finite sample at " + juce::String (written + i)
                                                + "; nothing was written" };
                }
                outputLevel.add (buffer, channels, first, count);
                if (! writer->writeFromAudioSampleBuffer (buffer, first, count))
                    throw RenderError { "cannot write " + target.getFullPathName() + ": write failed (disk full?)" };
                written += count;
            }

            progress.update ((double) (position + n) / (double) std::max ((juce::int64) 1, total));
        }

        const double seconds = (juce::Time::getMillisecondCounterHiRes() - started) / 1000.0;
        progress.finish();
        instance->releaseResources();

        const bool flushed = writer->flush();
        writer.reset();
        if (! flushed || ! temporary.overwriteTargetFileWithTemporary())
            throw RenderError { "cannot write " + target.getFullPathName() + ": could not replace the file" };

        const double duration = (double) length / sampleRate;
        out << "input:   " << options.input.getFullPathName() << ", " << channels << (channels == 1 ? " channel, " : " channels, ")
            << sampleRate << " Hz, " << juce::String (duration, 2) << " s\n"
            << "output:  " << target.getFullPathName() << ", " << options.bits << "-bit " << (options.bits == 32 ? "float" : "PCM") << " WAV\n"
            << "input level:  peak " << decibels (inputLevel.peak) << ", RMS " << decibels (inputLevel.rms()) << "\n"
            << "output level: peak " << decibels (outputLevel.peak) << ", RMS " << decibels (outputLevel.rms()) << "\n"
            << "latency: " << latency << " samples (" << juce::String (1000.0 * latency / sampleRate, 2) << " ms), compensated\n"
            << "speed:   " << juce::String (seconds > 0.0 ? duration / seconds : 0.0, 1) << "x real time" << std::endl;
        return 0;
    }
} // namespace

bool editPluginState (juce::AudioPluginInstance& instance, const std::function<void (juce::XmlElement&)>& edit)
{
    juce::MemoryBlock hostState;
    instance.getStateInformation (hostState);
    auto hostXml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize());
    auto* component = hostXml != nullptr ? hostXml->getChildByName ("IComponent") : nullptr;
    auto current = findStateBlock (getComponentState (hostState));
    if (component == nullptr || current.xml == nullptr)
        return false;

    edit (*current.xml);

    // The framework's wrapper keeps its own record after the plug-in's block: keep it.
    juce::MemoryBlock block;
    juce::AudioProcessor::copyXmlToBinary (*current.xml, block);
    juce::MemoryBlock componentState (current.before);
    componentState.append (block.getData(), block.getSize());
    componentState.append (current.after.getData(), current.after.getSize());

    component->deleteAllTextElements();
    component->addTextElement (componentState.toBase64Encoding());

    juce::MemoryBlock restored;
    juce::AudioProcessor::copyXmlToBinary (*hostXml, restored);
    instance.setStateInformation (restored.getData(), (int) restored.getSize());
    return true;
}

juce::String getRenderUsage()
{
    return "usage: vyxhost render IN OUT [--preset FILE] [--state FILE] [--set ID=VALUE ...] "
           "[--oversampling none|2x|4x|8x] [--sidechain FILE] [--block N] [--bits 24|32] [--plugin BUNDLE]\n"
           "Renders IN through the plug-in into OUT (WAV, same rate, channels and length, latency compensated).\n";
}

int runRender (const juce::StringArray& arguments, std::ostream& out, std::ostream& err)
{
    try
    {
        return render (parseArguments (arguments), out, err);
    }
    catch (const RenderError& e)
    {
        err << "vyxhost render: " << e.message << std::endl;
        return 1;
    }
}

namespace
{
    struct Passage
    {
        const char* name;
        double frequency;  // Hz
        float level;       // dBFS, peak of the tone
    };

    const Passage demoPassages[] {
        { "low, loud", 80.0, -3.0f },
        { "low, quiet", 80.0, -40.0f },
        { "middle, loud", 1000.0, -3.0f },
        { "middle, quiet", 1000.0, -40.0f },
        { "high, loud", 8000.0, -3.0f },
        { "high, quiet", 8000.0, -40.0f },
    };

    constexpr double demoRate = 48000.0;
    constexpr double passageSeconds = 1.5;

    /** RMS in dBFS of the second half of a passage, once the compressors have settled. */
    float passageLevel (const juce::AudioBuffer<float>& audio, int passage)
    {
        const int length = (int) (passageSeconds * demoRate);
        const int start = passage * length + length / 2;
        const int count = std::min (length / 2, audio.getNumSamples() - start);
        if (count <= 0)
            return -300.0f;
        float sum = 0.0f;
        for (int ch = 0; ch < audio.getNumChannels(); ++ch)
            sum += audio.getRMSLevel (ch, start, count) / (float) audio.getNumChannels();
        return juce::Decibels::gainToDecibels (sum, -300.0f);
    }

    bool readWholeFile (const juce::File& file, juce::AudioBuffer<float>& audio)
    {
        juce::AudioFormatManager formats;
        formats.registerBasicFormats();
        std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (file));
        if (reader == nullptr)
            return false;
        audio.setSize ((int) reader->numChannels, (int) reader->lengthInSamples);
        return reader->read (&audio, 0, audio.getNumSamples(), 0, true, true);
    }
} // namespace

int runDemo (const juce::StringArray& arguments, std::ostream& out, std::ostream& err)
{
    juce::File folder = juce::File::getCurrentWorkingDirectory();
    juce::StringArray renderOptions;
    for (int i = 0; i < arguments.size(); ++i)
    {
        if (arguments[i] == "--plugin" && i + 1 < arguments.size())
            renderOptions.addArray ({ arguments[i], arguments[i + 1] }), ++i;
        else
            folder = fileArgument (arguments[i]);
    }

    const auto input = folder.getChildFile ("demo-in.wav");
    const auto output = folder.getChildFile ("demo-out.wav");
    if (! folder.createDirectory())
    {
        err << "vyxhost demo: cannot create " << folder.getFullPathName() << std::endl;
        return 1;
    }

    // Stereo tones, each passage fading in and out over 5 ms so no passage starts with a click.
    const int passageLength = (int) (passageSeconds * demoRate);
    const int numPassages = (int) std::size (demoPassages);
    juce::AudioBuffer<float> demo (2, passageLength * numPassages);
    const int fade = (int) (0.005 * demoRate);
    for (int p = 0; p < numPassages; ++p)
    {
        const auto& passage = demoPassages[p];
        const float amplitude = juce::Decibels::decibelsToGain (passage.level);
        for (int i = 0; i < passageLength; ++i)
        {
            const int edge = std::min (i, passageLength - 1 - i);
            const float envelope = edge < fade ? (float) edge / (float) fade : 1.0f;
            const auto x = (float) std::sin (juce::MathConstants<double>::twoPi * passage.frequency * i / demoRate);
            demo.setSample (0, p * passageLength + i, amplitude * envelope * x);
            demo.setSample (1, p * passageLength + i, amplitude * envelope * x);
        }
    }

    {
        input.deleteFile();
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (input.createOutputStream().release(),
                                                                              demoRate, 2, 32, {}, 0));
        if (writer == nullptr || ! writer->writeFromAudioSampleBuffer (demo, 0, demo.getNumSamples()))
        {
            err << "vyxhost demo: cannot write " << input.getFullPathName() << std::endl;
            return 1;
        }
    }

    juce::StringArray renderArguments { input.getFullPathName(), output.getFullPathName() };
    renderArguments.addArray (renderOptions);
    const int result = runRender (renderArguments, out, err);
    if (result != 0)
        return result;

    juce::AudioBuffer<float> before, after;
    if (! readWholeFile (input, before) || ! readWholeFile (output, after))
    {
        err << "vyxhost demo: cannot read the rendered files back" << std::endl;
        return 1;
    }

    out << "\nfactory settings, level of each passage (RMS):\n"
        << "  passage          tone      before      after      change\n";
    for (int p = 0; p < numPassages; ++p)
    {
        const float in = passageLevel (before, p), outLevel = passageLevel (after, p);
        out << "  " << juce::String (demoPassages[p].name).paddedRight (' ', 15) << "  "
            << juce::String (demoPassages[p].frequency, 0).paddedLeft (' ', 5) << " Hz  "
            << juce::String (in, 1).paddedLeft (' ', 6) << " dBFS  " << juce::String (outLevel, 1).paddedLeft (' ', 6)
            << " dBFS  " << (outLevel >= in ? "+" : "") << juce::String (outLevel - in, 1) << " dB\n";
    }
    out << "loud passages come down, quiet ones come up: listen to " << input.getFullPathName() << " and "
        << output.getFullPathName() << std::endl;
    return 0;
}

} // namespace vyx::host
