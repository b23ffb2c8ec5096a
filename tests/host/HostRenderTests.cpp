// `vyxhost render`: audio files through the built bundle, offline.

#include "HostTestSupport.h"
#include "Render.h"

#include <sstream>

namespace
{

struct RenderResult
{
    int exitCode;
    std::string out, err;
};

RenderResult renderWith (const juce::StringArray& arguments)
{
    std::ostringstream out, err;
    const int code = vyx::host::runRender (arguments, out, err);
    return { code, out.str(), err.str() };
}

juce::File testFolder()
{
    auto folder = vyx::test::getTestHome().getChildFile ("render");
    folder.createDirectory();
    return folder;
}

/** A sine of the given frequency and amplitude on every channel, the right channel shifted
    a quarter period so the channels differ. It fades in and out over 10 ms: an abrupt start
    or end would make the oversampling filters ring, which is their right answer but not the
    input. */
juce::AudioBuffer<float> makeSine (int channels, double sampleRate, double seconds, double frequency, float amplitude)
{
    juce::AudioBuffer<float> buffer (channels, (int) (seconds * sampleRate));
    const int length = buffer.getNumSamples();
    const int fade = (int) (0.01 * sampleRate);
    for (int ch = 0; ch < channels; ++ch)
    {
        for (int i = 0; i < length; ++i)
        {
            const int edge = std::min (i, length - 1 - i);
            const double envelope = edge < fade ? 0.5 - 0.5 * std::cos (juce::MathConstants<double>::pi * edge / fade) : 1.0;
            buffer.setSample (ch, i, (float) (amplitude * envelope
                                              * std::sin (juce::MathConstants<double>::twoPi * frequency * i / sampleRate
                                                          + ch * juce::MathConstants<double>::halfPi)));
        }
    }
    return buffer;
}

void writeWav (const juce::File& file, const juce::AudioBuffer<float>& audio, double sampleRate, int bits = 32)
{
    file.deleteFile();
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (file.createOutputStream().release(), sampleRate,
                                                                          (unsigned int) audio.getNumChannels(), bits, {}, 0));
    ASSERT_NE (writer, nullptr);
    ASSERT_TRUE (writer->writeFromAudioSampleBuffer (audio, 0, audio.getNumSamples()));
}

struct ReadFile
{
    juce::AudioBuffer<float> audio;
    double sampleRate = 0.0;
    unsigned int bits = 0;
    bool floatingPoint = false;
};

ReadFile readWav (const juce::File& file)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (file));
    ReadFile result;
    if (reader == nullptr)
    {
        ADD_FAILURE() << "cannot read " << file.getFullPathName();
        return result;
    }
    result.audio.setSize ((int) reader->numChannels, (int) reader->lengthInSamples);
    reader->read (&result.audio, 0, (int) reader->lengthInSamples, 0, true, true);
    result.sampleRate = reader->sampleRate;
    result.bits = reader->bitsPerSample;
    result.floatingPoint = reader->usesFloatingPointData;
    return result;
}

/** The largest difference between two buffers of the same shape. */
float maxDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    float worst = 0.0f;
    for (int ch = 0; ch < a.getNumChannels(); ++ch)
        for (int i = 0; i < a.getNumSamples(); ++i)
            worst = std::max (worst, std::abs (a.getSample (ch, i) - b.getSample (ch, i)));
    return worst;
}

/** The shift of b against a (in samples, within ±range) at which they correlate best. */
int bestLag (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b, int range)
{
    int best = 0;
    double bestSum = -1.0e300;
    for (int lag = -range; lag <= range; ++lag)
    {
        double sum = 0.0;
        for (int i = range; i < a.getNumSamples() - range; ++i)
            sum += (double) a.getSample (0, i) * b.getSample (0, i + lag);
        if (sum > bestSum)
        {
            bestSum = sum;
            best = lag;
        }
    }
    return best;
}

/** One band and a mix of 0 % route the input through the latency-compensated dry path only,
    so a correct render gives back the input. */
const juce::StringArray transparent { "--set", "NUM=1", "--set", "MIX=0" };

TEST (HostRender, OutputKeepsTheFormatAndLinesUpWithTheInput)
{
    struct Case { int channels; double sampleRate; const char* oversampling; int block; float tolerance; };
    const Case cases[] {
        { 1, 44100.0, "none", 512, 1.0e-6f },
        { 2, 48000.0, "none", 100, 1.0e-6f },
        { 2, 22050.0, "none", 1, 1.0e-6f },
        { 2, 96000.0, "2x", 4096, 2.0e-3f },
        { 1, 48000.0, "4x", 333, 2.0e-3f },
        { 2, 44100.0, "8x", 512, 2.0e-3f },
    };

    const auto in = testFolder().getChildFile ("aligned-in.wav");
    const auto out = testFolder().getChildFile ("aligned-out.wav");

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.channels) + " ch, " + juce::String (c.sampleRate) + " Hz, " + c.oversampling
                      + ", blocks of " + juce::String (c.block));
        // An odd length, so the last block is a short one.
        const auto input = makeSine (c.channels, c.sampleRate, 0.3017, 220.0, 0.5f);
        writeWav (in, input, c.sampleRate);
        out.deleteFile();

        auto args = transparent;
        args.addArray ({ in.getFullPathName(), out.getFullPathName(), "--oversampling", c.oversampling,
                         "--block", juce::String (c.block) });
        const auto result = renderWith (args);
        ASSERT_EQ (result.exitCode, 0) << result.err;

        const auto output = readWav (out);
        EXPECT_EQ (output.sampleRate, c.sampleRate);
        ASSERT_EQ (output.audio.getNumChannels(), c.channels);
        ASSERT_EQ (output.audio.getNumSamples(), input.getNumSamples());
        EXPECT_EQ (bestLag (input, output.audio, 50), 0);
        EXPECT_LT (maxDifference (input, output.audio), c.tolerance);
    }
}

TEST (HostRender, WritesFloatOrTwentyFourBitWav)
{
    struct Case { const char* bits; unsigned int expectedBits; bool floatingPoint; };
    const Case cases[] { { nullptr, 32, true }, { "32", 32, true }, { "24", 24, false } };

    const auto in = testFolder().getChildFile ("bits-in.wav");
    const auto out = testFolder().getChildFile ("bits-out.wav");
    const auto input = makeSine (2, 44100.0, 0.2, 1000.0, 0.25f);
    writeWav (in, input, 44100.0, 16);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.bits != nullptr ? c.bits : "default");
        juce::StringArray args { in.getFullPathName(), out.getFullPathName() };
        if (c.bits != nullptr)
            args.addArray ({ "--bits", c.bits });
        const auto result = renderWith (args);
        ASSERT_EQ (result.exitCode, 0) << result.err;

        const auto output = readWav (out);
        EXPECT_EQ (output.bits, c.expectedBits);
        EXPECT_EQ (output.floatingPoint, c.floatingPoint);
        EXPECT_EQ (output.audio.getNumSamples(), input.getNumSamples());
    }
}

TEST (HostRender, SummaryReportsLevelsAndLatency)
{
    const auto in = testFolder().getChildFile ("summary-in.wav");
    const auto out = testFolder().getChildFile ("summary-out.wav");
    const auto input = makeSine (1, 48000.0, 0.5, 100.0, 0.5f);
    writeWav (in, input, 48000.0);

    const auto result = renderWith ({ in.getFullPathName(), out.getFullPathName() });
    ASSERT_EQ (result.exitCode, 0) << result.err;

    // Expected texts from the input's own samples.
    const float peak = input.getMagnitude (0, 0, input.getNumSamples());
    const float rms = input.getRMSLevel (0, 0, input.getNumSamples());
    const auto dB = [] (float level) { return juce::String (20.0 * std::log10 ((double) level), 1) + " dBFS"; };
    const auto expectedInput = "input level:  peak " + dB (peak) + ", RMS " + dB (rms);
    EXPECT_NE (result.out.find (expectedInput.toStdString()), std::string::npos) << result.out;

    // 8 ms of lookahead at 48 kHz, no oversampling.
    EXPECT_NE (result.out.find ("latency: 384 samples"), std::string::npos) << result.out;
    EXPECT_NE (result.out.find ("output level: peak "), std::string::npos) << result.out;
    EXPECT_NE (result.out.find ("x real time"), std::string::npos) << result.out;
    EXPECT_EQ (result.err.find ("rendering ["), std::string::npos) << "no progress bar for half a second";
}

TEST (HostRender, ProgressBarOnLongFiles)
{
    const auto in = testFolder().getChildFile ("long-in.wav");
    const auto out = testFolder().getChildFile ("long-out.wav");
    writeWav (in, makeSine (1, 22050.0, 6.0, 100.0, 0.1f), 22050.0, 16);

    const auto result = renderWith ({ in.getFullPathName(), out.getFullPathName(), "--block", "4096" });
    ASSERT_EQ (result.exitCode, 0) << result.err;
    EXPECT_NE (result.err.find ("100%"), std::string::npos) << result.err;
}

TEST (HostRender, PresetStateAndSettingsApplyInOrder)
{
    const auto in = testFolder().getChildFile ("settings-in.wav");
    const auto out = testFolder().getChildFile ("settings-out.wav");
    // Loud enough that the factory settings compress it audibly.
    const auto input = makeSine (2, 44100.0, 0.5, 300.0, 0.9f);
    writeWav (in, input, 44100.0);

    // A preset file as the presets menu saves one, and a state block as a host stores it,
    // both made by the product's own processor with the transparent settings.
    std::unique_ptr<juce::AudioProcessor> processor (createPluginFilter());
    auto* cvxProcessor = dynamic_cast<cvx::AudioProcessor*> (processor.get());
    ASSERT_NE (cvxProcessor, nullptr);
    for (const auto& [id, value] : { std::pair<const char*, float> { "NUM", 1.0f }, { "MIX", 0.0f } })
    {
        auto* p = cvxProcessor->state.parameters.getParameter (id);
        ASSERT_NE (p, nullptr) << id;
        p->setValueNotifyingHost (p->convertTo0to1 (value));
    }
    const auto preset = testFolder().getChildFile ("transparent.preset");
    ASSERT_TRUE (preset.replaceWithText (cvxProcessor->state.toPreset().toXmlString()));
    juce::MemoryBlock block;
    cvxProcessor->getStateInformation (block);
    const auto state = testFolder().getChildFile ("transparent.state");
    ASSERT_TRUE (state.replaceWithData (block.getData(), block.getSize()));

    struct Case { juce::StringArray options; bool expectTransparent; };
    const Case cases[] {
        { {}, false },
        { { "--preset", preset.getFullPathName() }, true },
        { { "--state", state.getFullPathName() }, true },
        { transparent, true },
        // --set comes after the preset and the state.
        { { "--preset", preset.getFullPathName(), "--set", "MIX=100" }, false },
        { { "--state", state.getFullPathName(), "--set", "MIX=100" }, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.options.joinIntoString (" "));
        juce::StringArray args { in.getFullPathName(), out.getFullPathName() };
        args.addArray (c.options);
        const auto result = renderWith (args);
        ASSERT_EQ (result.exitCode, 0) << result.err;

        const auto output = readWav (out);
        ASSERT_EQ (output.audio.getNumSamples(), input.getNumSamples());
        if (c.expectTransparent)
            EXPECT_LT (maxDifference (input, output.audio), 1.0e-6f);
        else
            EXPECT_GT (maxDifference (input, output.audio), 0.05f);
    }
}

TEST (HostRender, SidechainKeysTheCompression)
{
    const auto in = testFolder().getChildFile ("quiet-in.wav");
    const auto key = testFolder().getChildFile ("loud-key.wav");
    const auto out = testFolder().getChildFile ("keyed-out.wav");
    const double rate = 44100.0;
    // A quiet main signal under every band's downward threshold, and a loud key in its band.
    const auto input = makeSine (2, rate, 1.0, 200.0, 0.1f);
    writeWav (in, input, rate);
    writeWav (key, makeSine (1, rate, 0.6, 200.0, 2.0f), rate);  // shorter: padded with silence

    const auto plain = renderWith ({ in.getFullPathName(), out.getFullPathName() });
    ASSERT_EQ (plain.exitCode, 0) << plain.err;
    const auto unkeyed = readWav (out).audio;

    const auto keyed = renderWith ({ in.getFullPathName(), out.getFullPathName(), "--sidechain", key.getFullPathName() });
    ASSERT_EQ (keyed.exitCode, 0) << keyed.err;
    const auto keyedAudio = readWav (out).audio;
    ASSERT_EQ (keyedAudio.getNumSamples(), input.getNumSamples());

    // While the key plays (after the attack), the main signal is pushed down; after it ends
    // the level comes back.
    const int from = (int) (0.2 * rate), to = (int) (0.5 * rate);
    EXPECT_LT (keyedAudio.getRMSLevel (0, from, to - from), 0.5f * unkeyed.getRMSLevel (0, from, to - from));
    const int late = (int) (0.9 * rate);
    EXPECT_NEAR (keyedAudio.getRMSLevel (0, late, input.getNumSamples() - late),
                 unkeyed.getRMSLevel (0, late, input.getNumSamples() - late), 0.01f);
}

TEST (HostRender, ErrorsAreOneLineAndWriteNothing)
{
    const auto folder = testFolder();
    const auto in = folder.getChildFile ("errors-in.wav");
    writeWav (in, makeSine (2, 44100.0, 0.1, 440.0, 0.5f), 44100.0);
    const auto text = folder.getChildFile ("not-audio.wav");
    text.replaceWithText ("this is not a WAV file");
    const auto out = folder.getChildFile ("errors-out.wav");
    const auto inPath = in.getFullPathName(), outPath = out.getFullPathName();

    struct Case { juce::StringArray args; const char* mentions; };
    const Case cases[] {
        { { folder.getChildFile ("missing.wav").getFullPathName(), outPath }, "no such file" },
        { { text.getFullPathName(), outPath }, "not an audio file" },
        { { inPath, outPath, "--set", "NOPE=1" }, "unknown parameter id 'NOPE'" },
        { { inPath, outPath, "--set", "MIX=101" }, "out of range" },
        { { inPath, outPath, "--set", "THD0=-61" }, "out of range" },
        { { inPath, outPath, "--set", "MIX=loud" }, "out of range" },
        { { inPath, outPath, "--set", "MIX" }, "ID=VALUE" },
        { { inPath, outPath, "--oversampling", "3x" }, "--oversampling" },
        { { inPath, outPath, "--block", "0" }, "--block" },
        { { inPath, outPath, "--bits", "16" }, "--bits" },
        { { inPath, outPath, "--sidechain", folder.getChildFile ("missing-key.wav").getFullPathName() }, "no such file" },
        { { inPath, outPath, "--preset", text.getFullPathName() }, "not a Vyx preset" },
        { { inPath, outPath, "--state", text.getFullPathName() }, "not a Vyx state block" },
        { { inPath, folder.getChildFile ("no-such-folder").getChildFile ("out.wav").getFullPathName() }, "no such folder" },
        { { inPath }, "expected an input and an output" },
        { { inPath, outPath, "--frobnicate" }, "unknown option" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.args.joinIntoString (" "));
        // An earlier OUT stays as it was.
        ASSERT_TRUE (out.replaceWithText ("previous contents"));

        const auto result = renderWith (c.args);
        EXPECT_NE (result.exitCode, 0);
        EXPECT_EQ (std::count (result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ (result.err.rfind ("vyxhost render: ", 0), 0u) << result.err;
        EXPECT_NE (result.err.find (c.mentions), std::string::npos) << result.err;
        EXPECT_TRUE (result.out.empty()) << result.out;
        EXPECT_EQ (out.loadFileAsString(), "previous contents");
    }

    // No temporary files left beside the output either.
    EXPECT_EQ (folder.findChildFiles (juce::File::findFiles, false, "*errors-out*", juce::File::FollowSymlinks::no).size(), 1);
}

} // namespace
