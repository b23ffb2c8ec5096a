#include "Render.h"
#include "PluginHost.h"

#include <plugin/Layout.h>

#include <juce_audio_formats/juce_audio_formats.h>

#include <iomanip>
#include <optional>
#include <ostream>

namespace vyx::host
{

namespace
{
    /** Files longer than this many seconds get a progress bar. */
    constexpr double progressFromSeconds = 5.0;

    //==============================================================================
    std::unique_ptr<juce::AudioFormatReader> openAudio (juce::AudioFormatManager& formats,
                                                        const juce::File& file,
                                                        const juce::String& role)
    {
        if (! file.existsAsFile())
            throw CommandError { "cannot read " + role + " " + file.getFullPathName() + ": no such file" };

        std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (file));
        if (reader == nullptr)
            throw CommandError { "cannot read " + role + " " + file.getFullPathName() + ": not an audio file in a format this build reads" };

        if (reader->numChannels < 1 || reader->numChannels > 2)
            throw CommandError { role + " " + file.getFullPathName() + " has " + juce::String (reader->numChannels)
                                 + " channels; mono and stereo are supported" };
        if (! (reader->sampleRate > 0.0) || reader->lengthInSamples < 0)
            throw CommandError { "cannot read " + role + " " + file.getFullPathName() + ": damaged header" };
        return reader;
    }

    /** IN and the optional sidechain key, open and checked against each other. */
    struct Sources
    {
        std::unique_ptr<juce::AudioFormatReader> input, sidechain;  // sidechain null when there is none

        double getSampleRate() const { return input->sampleRate; }
        int getNumChannels() const { return (int) input->numChannels; }
        juce::int64 getLength() const { return input->lengthInSamples; }
    };

    Sources openSources (juce::AudioFormatManager& formats, const RenderOptions& options)
    {
        Sources sources;
        sources.input = openAudio (formats, options.input, "input");
        if (options.sidechain == juce::File())
            return sources;

        sources.sidechain = openAudio (formats, options.sidechain, "sidechain");
        if (sources.sidechain->sampleRate != sources.input->sampleRate)
            throw CommandError { "sidechain " + options.sidechain.getFullPathName() + " runs at "
                                 + juce::String (sources.sidechain->sampleRate) + " Hz, the input at "
                                 + juce::String (sources.input->sampleRate) + " Hz" };
        return sources;
    }

    /** Reads one file block by block, from any position; past its end there is nothing. */
    class FileFeed
    {
    public:
        FileFeed (juce::AudioFormatReader& source, int blockSize)
            : reader (source), samples ((int) source.numChannels, blockSize)
        {
        }

        /** Reads up to count samples from position on into getSamples(); returns how many
            there were (0 past the end). */
        int read (juce::int64 position, int count)
        {
            const int available = (int) juce::jlimit ((juce::int64) 0, (juce::int64) count, reader.lengthInSamples - position);
            samples.setSize (samples.getNumChannels(), available, false, false, true);
            if (available > 0)
                reader.read (&samples, 0, available, position, true, true);
            return available;
        }

        const juce::AudioBuffer<float>& getSamples() const { return samples; }

    private:
        juce::AudioFormatReader& reader;
        juce::AudioBuffer<float> samples;
    };

    //==============================================================================
    /** OUT, written into a temporary file that replaces it only once the whole render has been
        written. Created before the render, so that an output that cannot be written is refused
        before any time is spent. */
    class OutputFile
    {
    public:
        OutputFile (const juce::File& file, double sampleRate, int channels, int bits)
            : target (file), temporary (file, juce::TemporaryFile::useHiddenFile)
        {
            if (target.isDirectory())
                throw CommandError { "cannot write " + target.getFullPathName() + ": it is a folder" };

            auto stream = temporary.getFile().createOutputStream();
            if (stream == nullptr)
                throw CommandError { "cannot write " + target.getFullPathName() + ": "
                                     + (target.getParentDirectory().isDirectory() ? "permission denied" : "no such folder") };

            juce::WavAudioFormat wav;
            writer.reset (wav.createWriterFor (stream.get(), sampleRate, (unsigned int) channels, bits, {}, 0));
            if (writer == nullptr)
                throw CommandError { "cannot write " + target.getFullPathName() + ": no WAV writer for "
                                     + juce::String (sampleRate) + " Hz" };
            stream.release();  // the writer owns it now
        }

        void write (const juce::AudioBuffer<float>& buffer, int start, int count)
        {
            if (! writer->writeFromAudioSampleBuffer (buffer, start, count))
                throw CommandError { "cannot write " + target.getFullPathName() + ": write failed (disk full?)" };
        }

        /** Finishes the file and puts it in OUT's place. */
        void commit()
        {
            const bool flushed = writer->flush();
            writer.reset();
            if (! flushed || ! temporary.overwriteTargetFileWithTemporary())
                throw CommandError { "cannot write " + target.getFullPathName() + ": could not replace the file" };
        }

        const juce::File& getTarget() const { return target; }

    private:
        juce::File target;
        juce::TemporaryFile temporary;
        std::unique_ptr<juce::AudioFormatWriter> writer;
    };

    //==============================================================================
    /** Main bus as wide as IN; the sidechain bus as wide, or off when there is no key. */
    void configureBuses (juce::AudioPluginInstance& instance, int channels, bool hasSidechain)
    {
        const auto set = channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
        auto layout = instance.getBusesLayout();
        layout.inputBuses.getReference (0) = set;
        layout.outputBuses.getReference (0) = set;
        if (layout.inputBuses.size() > 1)
            layout.inputBuses.getReference (1) = hasSidechain ? set : juce::AudioChannelSet::disabled();
        else if (hasSidechain)
            throw CommandError { "the plug-in has no sidechain input" };

        if (! instance.setBusesLayout (layout))
            throw CommandError { "the plug-in refused a " + set.getDescription() + " layout" };
    }

    /** The child element of that name, made when there is none. */
    juce::XmlElement& getOrCreateChild (juce::XmlElement& parent, const juce::Identifier& name)
    {
        if (auto* child = parent.getChildByName (name))
            return *child;
        return *parent.createNewChildElement (name);
    }

    /** A preset carries everything but the instance's Attributes, which stay. */
    void applyPreset (juce::XmlElement& document, const juce::XmlElement& preset)
    {
        std::unique_ptr<juce::XmlElement> attributes;
        if (const auto* current = document.getChildByName (cvx::State::attributesID))
            attributes = std::make_unique<juce::XmlElement> (*current);

        document = preset;
        document.deleteAllChildElementsWithTagName (cvx::State::attributesID);
        if (attributes != nullptr)
            document.addChildElement (attributes.release());
    }

    void applySetting (juce::XmlElement& document, const ParameterSetting& setting)
    {
        using Keys = cvx::State::Parameters;
        auto& parameters = getOrCreateChild (document, cvx::State::parametersID);
        auto* parameter = parameters.getChildByAttribute (Keys::id, setting.id);
        if (parameter == nullptr)
        {
            parameter = parameters.createNewChildElement (Keys::type);
            parameter->setAttribute (Keys::id, setting.id);
        }
        parameter->setAttribute (Keys::value, setting.value);
    }

    /** Applies --state, --preset, --set and --oversampling, in that order, to the state the
        instance starts from. The files are read before the instance is touched. */
    void restoreState (juce::AudioPluginInstance& instance, const RenderOptions& options)
    {
        const auto state = options.state != juce::File() ? loadStateFile (options.state) : nullptr;
        const auto preset = options.preset != juce::File() ? loadPresetFile (options.preset) : nullptr;

        const bool edited = editPluginState (instance, [&] (juce::XmlElement& document)
        {
            if (state != nullptr)
                document = *state;
            if (preset != nullptr)
                applyPreset (document, *preset);
            for (const auto& setting : options.settings)
                applySetting (document, setting);
            if (options.oversampling)
                getOrCreateChild (document, cvx::State::attributesID).setAttribute (::Attributes::oversampler, *options.oversampling);
        });

        if (! edited)
            throw CommandError { "the plug-in did not give the host a state to start from" };
    }

    /** Prepares the instance and returns its latency in samples, once the host has heard of it. */
    int prepare (juce::AudioPluginInstance& instance, double sampleRate, int blockSize)
    {
        instance.prepareToPlay (sampleRate, blockSize);
        syncLatency (instance);
        return std::max (0, instance.getLatencySamples());
    }

    //==============================================================================
    /** Peak and RMS over every sample added. */
    struct Level
    {
        float peak = 0.0f;
        double sumOfSquares = 0.0;
        juce::int64 count = 0;

        void add (const juce::AudioBuffer<float>& buffer, int channels, int start, int length)
        {
            for (int ch = 0; ch < channels; ++ch)
            {
                const float* samples = buffer.getReadPointer (ch, start);
                for (int i = 0; i < length; ++i)
                {
                    peak = std::max (peak, std::abs (samples[i]));
                    sumOfSquares += (double) samples[i] * samples[i];
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

    //==============================================================================
    /** The key takes the main bus's width: a mono key feeds both sides, a stereo key into a
        mono bus is the average of its sides. The key's channels follow the main ones. */
    void copyKey (const juce::AudioBuffer<float>& key, int length, juce::AudioBuffer<float>& buffer, int mainChannels)
    {
        for (int ch = 0; ch < mainChannels; ++ch)
        {
            const int destination = mainChannels + ch;
            if (key.getNumChannels() == mainChannels)
                buffer.copyFrom (destination, 0, key, ch, 0, length);
            else if (key.getNumChannels() == 1)
                buffer.copyFrom (destination, 0, key, 0, 0, length);
            else
            {
                buffer.copyFromWithRamp (destination, 0, key.getReadPointer (0), length, 0.5f, 0.5f);
                buffer.addFrom (destination, 0, key, 1, 0, length, 0.5f);
            }
        }
    }

    /** The samples of a processed block, starting at position, that belong in OUT: the first
        `latency` samples of the output are dropped, and OUT ends where IN ends. */
    juce::Range<int> getAlignedPart (juce::int64 position, int blockLength, int latency, juce::int64 inputLength)
    {
        const auto start = std::max ((juce::int64) 0, latency - position);
        const auto end = std::min ((juce::int64) blockLength, inputLength + latency - position);
        return { (int) start, (int) std::max (start, end) };
    }

    void checkFinite (const juce::AudioBuffer<float>& buffer, int channels, juce::Range<int> part, juce::int64 written)
    {
        for (int ch = 0; ch < channels; ++ch)
        {
            const float* samples = buffer.getReadPointer (ch);
            for (int i = part.getStart(); i < part.getEnd(); ++i)
                if (! std::isfinite (samples[i]))
                    throw CommandError { "the plug-in produced a non-finite sample at " + juce::String (written + i - part.getStart())
                                         + "; nothing was written" };
        }
    }

    struct Levels
    {
        Level input, output;
    };

    /** Plays IN (and the key) through the prepared instance, block by block, into OUT. The
        input followed by `latency` samples of silence goes in; the first `latency` samples
        that come out are dropped, so OUT lines up with IN and has its length. */
    Levels processFile (juce::AudioPluginInstance& instance, const Sources& sources, OutputFile& output,
                        int latency, int blockSize, ProgressBar& progress)
    {
        const int channels = sources.getNumChannels();
        const auto length = sources.getLength();
        const int busChannels = std::max (instance.getTotalNumInputChannels(), instance.getTotalNumOutputChannels());
        juce::AudioBuffer<float> buffer (std::max (busChannels, sources.sidechain != nullptr ? 2 * channels : channels), blockSize);
        juce::MidiBuffer midi;

        FileFeed input (*sources.input, blockSize);
        std::optional<FileFeed> key;
        if (sources.sidechain != nullptr)
            key.emplace (*sources.sidechain, blockSize);

        Levels levels;
        juce::int64 written = 0;
        const juce::int64 total = length + latency;

        for (juce::int64 position = 0; position < total; position += blockSize)
        {
            const int blockLength = (int) std::min ((juce::int64) blockSize, total - position);
            buffer.setSize (buffer.getNumChannels(), blockLength, false, false, true);
            buffer.clear();

            if (const int fromInput = input.read (position, blockLength); fromInput > 0)
            {
                for (int ch = 0; ch < channels; ++ch)
                    buffer.copyFrom (ch, 0, input.getSamples(), ch, 0, fromInput);
                levels.input.add (buffer, channels, 0, fromInput);
            }

            if (key.has_value())
            {
                if (const int fromKey = key->read (position, blockLength); fromKey > 0)
                    copyKey (key->getSamples(), fromKey, buffer, channels);
            }

            instance.processBlock (buffer, midi);

            if (const auto part = getAlignedPart (position, blockLength, latency, length); ! part.isEmpty())
            {
                checkFinite (buffer, channels, part, written);
                levels.output.add (buffer, channels, part.getStart(), part.getLength());
                output.write (buffer, part.getStart(), part.getLength());
                written += part.getLength();
            }

            progress.update ((double) (position + blockLength) / (double) std::max ((juce::int64) 1, total));
        }
        return levels;
    }

    void printSummary (std::ostream& out, const RenderOptions& options, const Sources& sources,
                       const Levels& levels, int latency, double seconds)
    {
        const double sampleRate = sources.getSampleRate();
        const int channels = sources.getNumChannels();
        const double duration = (double) sources.getLength() / sampleRate;

        out << "input:   " << options.input.getFullPathName() << ", " << channels << (channels == 1 ? " channel, " : " channels, ")
            << sampleRate << " Hz, " << juce::String (duration, 2) << " s\n"
            << "output:  " << options.output.getFullPathName() << ", " << options.bits << "-bit " << (options.bits == 32 ? "float" : "PCM") << " WAV\n"
            << "input level:  peak " << decibels (levels.input.peak) << ", RMS " << decibels (levels.input.rms()) << "\n"
            << "output level: peak " << decibels (levels.output.peak) << ", RMS " << decibels (levels.output.rms()) << "\n"
            << "latency: " << latency << " samples (" << juce::String (1000.0 * latency / sampleRate, 2) << " ms), compensated\n"
            << "speed:   " << juce::String (seconds > 0.0 ? duration / seconds : 0.0, 1) << "x real time" << std::endl;
    }

    int runRenderCommand (const Arguments& arguments, std::ostream& out, std::ostream& err)
    {
        renderFile (readRenderOptions (arguments), out, err);
        return exitSuccess;
    }
} // namespace

void renderFile (const RenderOptions& options, std::ostream& out, std::ostream& err)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();

    const auto sources = openSources (formats, options);
    const double sampleRate = sources.getSampleRate();
    OutputFile output (options.output, sampleRate, sources.getNumChannels(), options.bits);

    auto instance = loadBundle (options.bundle, sampleRate, options.blockSize);
    configureBuses (*instance, sources.getNumChannels(), sources.sidechain != nullptr);
    restoreState (*instance, options);
    const int latency = prepare (*instance, sampleRate, options.blockSize);

    ProgressBar progress (err, (double) sources.getLength() / sampleRate > progressFromSeconds);
    const auto started = juce::Time::getMillisecondCounterHiRes();
    const auto levels = processFile (*instance, sources, output, latency, options.blockSize, progress);
    const double seconds = (juce::Time::getMillisecondCounterHiRes() - started) / 1000.0;
    progress.finish();
    instance->releaseResources();

    output.commit();
    printSummary (out, options, sources, levels, latency, seconds);
}

const Command& getRenderCommand()
{
    static const Command command {
        "render",
        "IN OUT",
        "render an audio file through the plug-in, offline",
        "Renders IN (WAV or AIFF, mono or stereo) through the plug-in into OUT, a WAV file with IN's\n"
        "rate, channels and length that lines up with it sample for sample (the latency is\n"
        "compensated). A failed run leaves no OUT.",
        getRenderOptionList(),
        runRenderCommand,
    };
    return command;
}

int runRender (const juce::StringArray& arguments, std::ostream& out, std::ostream& err)
{
    return runCommand (getRenderCommand(), arguments, out, err);
}

} // namespace vyx::host
