// Renders a fixed stereo signal with host automation through the whole engine (8 bands, every
// oversampling factor, with and without a sidechain key) and compares the output sample by
// sample with renderings kept in tests/plugin/data. Those renderings pin the engine's sound:
// work that makes the engine cheaper must leave every sample where it was, up to the
// rounding of reordered float sums.
//
// The automation moves what the engine caches or skips between blocks: a crossover that sweeps
// and then stands still, thresholds and ratios, attack and release, the input gain ramp, the
// band count (8, then 5, then 8), the mix (the dry path turns on and off), the dry/wet mode and
// the limiter switch. Blocks come in irregular sizes, and a play head at a fast tempo makes the
// frame cut blocks at sixteenth notes.
//
// To write new reference files (only when the sound is meant to change):
//   VYX_WRITE_ENGINE_REFERENCE=1 plugin_tests --gtest_filter='EngineReference*'

#include "EngineTestSupport.h"

using namespace vyx::test;

namespace
{
    constexpr double sampleRate = 44100.0;
    constexpr int maximumBlockSize = 512;
    constexpr int length = 11025;  // 0.25 s
    constexpr int numChannels = 2;
    constexpr float tolerance = 1.0e-6f;

    juce::File referenceFolder()
    {
        return juce::File (VYX_TEST_DATA_DIR);
    }

    /** A play head at a fixed tempo whose position follows the samples rendered so far. */
    struct SteadyPlayHead : juce::AudioPlayHead
    {
        juce::Optional<PositionInfo> getPosition() const override
        {
            PositionInfo info;
            info.setBpm (bpm);
            info.setPpqPosition ((double) samplesPlayed / sampleRate * bpm / 60.0);
            info.setIsPlaying (true);
            return info;
        }

        static constexpr double bpm = 400.0;  // a sixteenth note every 1654 samples
        juce::int64 samplesPlayed = 0;
    };

    /** Programme material: two tones and noise under a level that swells from about -40 dBFS
        to above full scale, so that upward compression, downward compression and the limiter
        all act during the render. */
    juce::AudioBuffer<float> makeProgramme()
    {
        juce::AudioBuffer<float> b (numChannels, length);
        juce::Random random (2024);
        for (int i = 0; i < length; ++i)
        {
            const double t = i / sampleRate;
            const float swell = (float) (0.01 + 1.3 * std::pow (std::sin (juce::MathConstants<double>::pi * t / 0.25), 4.0));
            for (int ch = 0; ch < numChannels; ++ch)
            {
                const double tone = 0.5 * std::sin (juce::MathConstants<double>::twoPi * (110.0 + 3.0 * ch) * t)
                                    + 0.3 * std::sin (juce::MathConstants<double>::twoPi * 3150.0 * t + ch);
                const float noise = 0.4f * (2.0f * random.nextFloat() - 1.0f);
                b.setSample (ch, i, swell * ((float) tone + noise));
            }
        }
        return b;
    }

    /** A key of noise bursts, four per render, for the sidechain cases. */
    juce::AudioBuffer<float> makeKey()
    {
        juce::AudioBuffer<float> b (numChannels, length);
        juce::Random random (77);
        for (int i = 0; i < length; ++i)
        {
            const double phase = std::fmod (i / sampleRate, 0.0625) / 0.0625;
            const float burst = (float) std::exp (-12.0 * phase);
            for (int ch = 0; ch < numChannels; ++ch)
                b.setSample (ch, i, 0.9f * burst * (2.0f * random.nextFloat() - 1.0f));
        }
        return b;
    }

    /** The irregular block sizes the render cycles through. */
    constexpr int blockSizes[] { 512, 32, 64, 1, 300, 17, 128, 480, 33, 256 };

    /** Host automation written before the block that starts at the given sample. */
    void automate (EngineFixture& f, int start)
    {
        const double t = start / sampleRate;  // 0 .. 0.25 s
        const auto sweep = [t] (double hz) { return (float) std::sin (juce::MathConstants<double>::twoPi * hz * t); };

        for (int b = 0; b < 8; ++b)
        {
            const auto id = juce::String (b);
            float crossover = 60.0f * std::pow (2.0f, 1.3f * (float) (b + 1));
            // Crossover 2 sweeps during the first 0.1 s and then stands still.
            if (b == 2 && t < 0.1)
                crossover *= 1.0f + 0.5f * sweep (9.0);
            f.set ("CR" + id, crossover);
            f.set ("THD" + id, -18.0f + 8.0f * sweep (6.0 + b) - (float) b);
            f.set ("RAD" + id, 2.5f + 0.5f * (float) b);
            f.set ("THU" + id, -30.0f + 6.0f * sweep (4.0));
            f.set ("RAU" + id, 1.5f + 0.3f * (float) b);
        }

        f.set ("ATD0", t < 0.12 ? 5.0f : 20.0f);
        f.set ("RED0", t < 0.15 ? 60.0f : 120.0f);
        f.set ("IN", t < 0.08 ? 0.0f : 4.0f);
        f.set ("NUM", t >= 0.13 && t < 0.16 ? 5.0f : 8.0f);
        f.set ("MIX", t >= 0.09 && t < 0.19 ? 60.0f : 100.0f);
        f.set ("OUT", -1.5f);
        f.set ("DRY", -10.0f);
        f.set ("WET", -2.0f);

        auto& properties = f.vyx.state.properties;
        properties.setProperty (Properties::dryWet, t >= 0.21, nullptr);
        properties.setProperty (Properties::limiter, ! (t >= 0.03 && t < 0.06), nullptr);
    }

    juce::AudioBuffer<float> renderCase (int stages, bool sidechain)
    {
        EngineFixture f;
        f.setOversampling (stages);
        f.enableSidechain (sidechain);
        automate (f, 0);

        SteadyPlayHead playHead;
        f.vyx.setPlayHead (&playHead);
        f.prepare (sampleRate, maximumBlockSize);

        const auto main = makeProgramme();
        const auto key = makeKey();
        juce::AudioBuffer<float> output (numChannels, length);
        juce::AudioBuffer<float> buffer (f.numBufferChannels(), maximumBlockSize);
        juce::MidiBuffer midi;

        int blockIndex = 0;
        for (int start = 0; start < length;)
        {
            const int n = std::min (blockSizes[blockIndex++ % (int) std::size (blockSizes)], length - start);
            automate (f, start);

            juce::AudioBuffer<float> piece (buffer.getArrayOfWritePointers(), buffer.getNumChannels(), n);
            piece.clear();
            for (int ch = 0; ch < numChannels; ++ch)
                piece.copyFrom (ch, 0, main, ch, start, n);
            if (sidechain)
                for (int ch = 0; ch < numChannels; ++ch)
                    piece.copyFrom (numChannels + ch, 0, key, ch, start, n);

            f.vyx.processBlock (piece, midi);
            playHead.samplesPlayed += n;

            for (int ch = 0; ch < numChannels; ++ch)
                output.copyFrom (ch, start, piece, ch, 0, n);
            start += n;
        }

        f.vyx.setPlayHead (nullptr);
        return output;
    }

    /** Raw little-endian float32, channel after channel. */
    bool readReference (const juce::File& file, juce::AudioBuffer<float>& out)
    {
        juce::MemoryBlock data;
        if (! file.loadFileAsData (data) || data.getSize() != sizeof (float) * numChannels * length)
            return false;

        out.setSize (numChannels, length);
        juce::MemoryInputStream in (data, false);
        for (int ch = 0; ch < numChannels; ++ch)
            for (int i = 0; i < length; ++i)
                out.setSample (ch, i, in.readFloat());
        return true;
    }

    bool writeReference (const juce::File& file, const juce::AudioBuffer<float>& audio)
    {
        file.getParentDirectory().createDirectory();
        juce::FileOutputStream out (file);
        if (! out.openedOk())
            return false;
        out.setPosition (0);
        out.truncate();
        for (int ch = 0; ch < numChannels; ++ch)
            for (int i = 0; i < length; ++i)
                out.writeFloat (audio.getSample (ch, i));
        out.flush();
        return out.getStatus().wasOk();
    }
} // namespace

struct ReferenceCase
{
    int stages;
    bool sidechain;
};

class EngineReference : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P (EngineReference, EightBandRenderMatchesTheStoredRendering)
{
    const auto [stages, sidechain] = GetParam();
    const auto file = referenceFolder().getChildFile ("engine-reference-over" + juce::String (stages)
                                                      + (sidechain ? "-side" : "") + ".f32");
    const auto output = renderCase (stages, sidechain);
    ASSERT_TRUE (allFinite (output));

    if (juce::SystemStats::getEnvironmentVariable ("VYX_WRITE_ENGINE_REFERENCE", {}).isNotEmpty())
    {
        ASSERT_TRUE (writeReference (file, output)) << file.getFullPathName();
        GTEST_SKIP() << "reference written to " << file.getFullPathName();
    }

    juce::AudioBuffer<float> expected;
    ASSERT_TRUE (readReference (file, expected)) << "missing or damaged: " << file.getFullPathName();

    // The rendering must carry the signal, so that two silent renderings cannot agree.
    EXPECT_GT (peak (expected), 0.1f);

    float worst = 0.0f;
    int worstChannel = 0, worstIndex = 0;
    for (int ch = 0; ch < numChannels; ++ch)
    {
        for (int i = 0; i < length; ++i)
        {
            const float difference = std::abs (output.getSample (ch, i) - expected.getSample (ch, i));
            if (! (difference <= worst))
            {
                worst = difference;
                worstChannel = ch;
                worstIndex = i;
            }
        }
    }

    EXPECT_LE (worst, tolerance) << "channel " << worstChannel << ", sample " << worstIndex
                                 << ": " << output.getSample (worstChannel, worstIndex)
                                 << " against " << expected.getSample (worstChannel, worstIndex);
}

INSTANTIATE_TEST_SUITE_P (FactorsAndKeys, EngineReference,
                          ::testing::Values (ReferenceCase { 0, false }, ReferenceCase { 1, false },
                                             ReferenceCase { 2, false }, ReferenceCase { 3, false },
                                             ReferenceCase { 0, true }, ReferenceCase { 1, true },
                                             ReferenceCase { 2, true }, ReferenceCase { 3, true }),
                          [] (const ::testing::TestParamInfo<ReferenceCase>& param)
                          {
                              return "over" + std::to_string (param.param.stages)
                                     + (param.param.sidechain ? "_sidechain" : "");
                          });
