// The frame while the host's bypass is on: the input delayed by the reported latency, reached
// and left through a linear crossfade, with the engine running all along.

#include "CoreTestSupport.h"

namespace
{

using vyx::test::RecordingProcessor;
using FadeState = cvx::AudioProcessor::FadeState;

using vyx::test::sampleRate;

/** Input sample n of channel ch: distinct, exact in single precision. */
float inputSample (int ch, juce::int64 n)
{
    return (ch == 0 ? 1.0f : -1.0f) * (float) (n + 1) / 65536.0f;
}

/** A recording engine that reports a latency and writes a constant, so that the processed and
    the bypassed outputs differ everywhere. */
class BypassFrameTest : public ::testing::Test
{
protected:
    void prepare (int latency, int maximumBlockSize)
    {
        processor.onPrepare = [this, latency] { processor.setLatencySamples (latency); };
        processor.outputValue = engineValue;
        processor.prepareToPlay (sampleRate, maximumBlockSize);
        position = 0;
    }

    /** Runs one block of the input that follows the previous one, bypassed or not; returns
        the output. */
    juce::AudioBuffer<float> run (int numSamples, bool bypassed)
    {
        juce::AudioBuffer<float> buffer (2, numSamples);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < numSamples; ++i)
                buffer.setSample (ch, i, inputSample (ch, position + i));

        processor.resetCalls();
        if (bypassed)
            processor.processBlockBypassed (buffer, midi);
        else
            processor.processBlock (buffer, midi);

        position += numSamples;
        return buffer;
    }

    /** The input of channel ch delayed by the latency, at absolute sample n. */
    static float delayedInput (int ch, juce::int64 n, int latency)
    {
        return n < latency ? 0.0f : inputSample (ch, n - latency);
    }

    const float engineValue = 0.25f;
    const int fadeLength = (int) std::ceil (cvx::AudioProcessor::bypassFadeSeconds * sampleRate);
    RecordingProcessor processor;
    juce::MidiBuffer midi;
    juce::int64 position = 0;
};

} // namespace

TEST_F (BypassFrameTest, BypassedOutputIsTheInputDelayedByTheLatency)
{
    // Latencies shorter and longer than a block, none at all, and blocks shorter than announced.
    struct Case { int latency; int preparedBlock; std::vector<int> blocks; };
    const Case cases[] {
        { 384, 512, { 512, 512, 512, 512 } },
        { 384, 128, { 128, 128, 100, 1, 128, 128, 128, 128 } },
        { 1000, 256, { 256, 256, 256, 256, 256, 256 } },
        { 0, 512, { 512, 333 } },
        { 1, 64, { 64, 7, 64 } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE ("latency " + juce::String (c.latency) + ", blocks of " + juce::String (c.preparedBlock));
        prepare (c.latency, c.preparedBlock);
        EXPECT_EQ (processor.getLatencySamples(), c.latency);

        for (const int length : c.blocks)
        {
            const auto start = position;
            const auto out = run (length, true);
            EXPECT_EQ (processor.numCalls, 1) << "the engine keeps running while bypassed";

            for (int ch = 0; ch < 2; ++ch)
                for (int i = 0; i < length; ++i)
                    ASSERT_EQ (out.getSample (ch, i), delayedInput (ch, start + i, c.latency))
                        << "channel " << ch << ", sample " << start + i;
        }
    }
}

TEST_F (BypassFrameTest, TogglesCrossfadeLinearlyOverTheFadeTime)
{
    constexpr int latency = 300;
    constexpr int block = 256;
    prepare (latency, block);

    // The bypass is switched on, and off again before its fade has ended, then on, then off
    // for good. The mix moves by 1 / fadeLength per sample towards the host's choice; the
    // output is the engine's value mixed with the delayed input by that amount.
    const std::vector<bool> bypassedPerBlock {
        false, false, true, true, false, true, true, true, true, true, true, false, false, false, false, false, false
    };

    double mix = 0.0;
    for (const bool bypassed : bypassedPerBlock)
    {
        const auto start = position;
        const auto out = run (block, bypassed);
        const double target = bypassed ? 1.0 : 0.0;

        for (int i = 0; i < block; ++i)
        {
            mix = target > mix ? std::min (target, mix + 1.0 / fadeLength) : std::max (target, mix - 1.0 / fadeLength);
            for (int ch = 0; ch < 2; ++ch)
            {
                const double dry = delayedInput (ch, start + i, latency);
                const double expected = engineValue + mix * (dry - engineValue);
                ASSERT_NEAR (out.getSample (ch, i), expected, 1.0e-5)
                    << "channel " << ch << ", sample " << start + i << ", mix " << mix;
            }
        }
    }
    EXPECT_EQ (mix, 0.0);
}

TEST_F (BypassFrameTest, PreparationStartsWithoutAFade)
{
    // Nothing was playing before a preparation, so the first block takes the host's choice at
    // once, whichever way the previous session ended.
    constexpr int latency = 200;
    prepare (latency, 512);
    run (512, false);
    prepare (latency, 512);

    const auto out = run (512, true);
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ (out.getSample (0, i), delayedInput (0, i, latency)) << i;

    prepare (latency, 512);
    const auto processed = run (512, false);
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ (processed.getSample (0, i), engineValue) << i;
}

TEST_F (BypassFrameTest, BlockLongerThanAnnouncedStaysInTime)
{
    // A host that breaks its word: while bypassed, a block four times the announced size
    // still comes out as the delayed input, and the line stays in step for the next blocks.
    constexpr int latency = 384;
    prepare (latency, 256);

    for (const int length : { 256, 1024, 256, 2048, 100 })
    {
        const auto start = position;
        const auto out = run (length, true);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < length; ++i)
                ASSERT_EQ (out.getSample (ch, i), delayedInput (ch, start + i, latency))
                    << "block of " << length << ", channel " << ch << ", sample " << start + i;
    }

    // Processed blocks longer than announced keep the line fed as well.
    run (4096, false);
    run (256, false);
    for (int k = 0; k * 256 < fadeLength + 256; ++k)
        run (256, true);
    const auto start = position;
    const auto out = run (256, true);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ (out.getSample (1, i), delayedInput (1, start + i, latency)) << start + i;
}

TEST_F (BypassFrameTest, OversamplingChangeFadesTheBypassedOutputToo)
{
    // A rebuild changes the latency: the bypassed output fades out, is silent while the engine
    // is rebuilt, and comes back in time with the new latency.
    prepare (100, 512);
    for (int k = 0; k < 4; ++k)
        run (512, true);

    processor.onPrepare = [this] { processor.setLatencySamples (700); };
    processor.requestReprepare();
    for (int k = 0; k < 5; ++k)
        run (512, true);
    ASSERT_EQ (processor.getFadeState(), FadeState::silent);
    const auto silent = run (512, true);
    EXPECT_EQ (silent.getMagnitude (0, 512), 0.0f);

    ASSERT_TRUE (vyx::test::runMessageLoopUntil ([this] { return processor.getFadeState() == FadeState::fadingIn; }));
    EXPECT_EQ (processor.getLatencySamples(), 700);

    // The line starts empty: the first 700 samples after the rebuild are silent, then the
    // input from the rebuild on comes out 700 samples late, faded in.
    const auto rebuiltAt = position;
    while (processor.getFadeState() != FadeState::normal)
        run (512, true);

    const auto start = position;
    const auto out = run (512, true);
    for (int i = 0; i < 512; ++i)
    {
        const auto n = start + i;
        const float expected = n - rebuiltAt < 700 ? 0.0f : inputSample (0, n - 700);
        ASSERT_EQ (out.getSample (0, i), expected) << n;
    }
}
