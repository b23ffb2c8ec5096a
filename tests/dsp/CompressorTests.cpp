#include "TestSupport.h"

namespace
{
using cvx::dsp::Compressor;

/** One-pole coefficient for a time constant of ms milliseconds. */
double expectedCoefficient (double ms, double rate)
{
    return ms == 0.0 ? 0.0 : std::exp (-1.0 / (ms / 1000.0 * rate));
}

/** The gain each transfer curve gives at envelope level m, derived from the output level the
    curve aims for: downward A + (m - A) / R above the threshold; upward A - (A - m) / Re below
    it, with Re fading in linearly from 1 at -160 dB to R at -100 dB. */
double expectedGain (int mode, double threshold, double ratio, double m)
{
    if (mode == Compressor::downward)
        return m > threshold ? (threshold + (m - threshold) / ratio) / m : 1.0;

    if (mode == Compressor::upward)
    {
        const double bottom = (double) 1e-8f, top = (double) 1e-5f;

        if (! (threshold > m && m > bottom))
            return 1.0;

        const auto fade = juce::jlimit (0.0, 1.0, (m - bottom) / (top - bottom));
        const auto effectiveRatio = 1.0 + fade * (ratio - 1.0);
        return (threshold - (threshold - m) / effectiveRatio) / m;
    }

    return 1.0;
}

juce::dsp::ProcessSpec makeSpec (double rate, int blockSize, int channels)
{
    return { rate, (juce::uint32) blockSize, (juce::uint32) channels };
}

} // namespace

TEST (CompressorTest, GainFollowsTheLinearTransferCurves)
{
    struct Case
    {
        const char* name;
        int mode;
        float threshold, ratio, envelope;
    };

    const Case cases[] = {
        { "down above threshold", Compressor::downward, 0.5f, 2.0f, 1.0f },
        { "down well above", Compressor::downward, 0.25f, 4.0f, 0.9f },
        { "down high ratio", Compressor::downward, 0.1f, 19.0f, 0.6f },
        { "down at threshold", Compressor::downward, 0.5f, 4.0f, 0.5f },
        { "down below threshold", Compressor::downward, 0.5f, 4.0f, 0.1f },
        { "down silence", Compressor::downward, 0.5f, 4.0f, 0.0f },
        { "down ratio 1", Compressor::downward, 0.2f, 1.0f, 0.8f },
        { "down 0 dB threshold, below full scale", Compressor::downward, 1.0f, 4.0f, 0.99f },
        { "down 0 dB threshold, above full scale", Compressor::downward, 1.0f, 2.0f, 1.5f },
        { "up full ratio", Compressor::upward, 0.5f, 2.0f, 0.1f },
        { "up full ratio, quiet", Compressor::upward, 0.3f, 4.0f, 1e-3f },
        { "up at fade top", Compressor::upward, 0.5f, 2.0f, 1e-5f },
        { "up inside fade", Compressor::upward, 0.1f, 3.0f, 5e-6f },
        { "up near fade bottom", Compressor::upward, 0.5f, 2.0f, 1e-7f },
        { "up at fade bottom", Compressor::upward, 0.5f, 2.0f, 1e-8f },
        { "up below fade bottom", Compressor::upward, 0.5f, 2.0f, 1e-9f },
        { "up silence", Compressor::upward, 0.5f, 2.0f, 0.0f },
        { "up at threshold", Compressor::upward, 0.5f, 2.0f, 0.5f },
        { "up above threshold", Compressor::upward, 0.5f, 2.0f, 0.9f },
        { "up ratio 1", Compressor::upward, 0.5f, 1.0f, 0.01f },
        { "up 0 dB threshold", Compressor::upward, 1.0f, 2.0f, 0.5f },
        { "other mode", 2, 0.5f, 4.0f, 0.9f },
    };

    constexpr int numSamples = 16;

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);

        Compressor comp (c.mode);
        comp.prepare (makeSpec (48000.0, numSamples, 2), 0.0f);
        comp.setAttack (0.0f);
        comp.setRelease (0.0f);
        comp.setThreshold (c.threshold);
        comp.setRatio (c.ratio);

        // Instant attack and release: the envelope is the linked peak of the source.
        juce::AudioBuffer<float> source (2, numSamples);
        juce::FloatVectorOperations::fill (source.getWritePointer (0), c.envelope * 0.5f, numSamples);
        juce::FloatVectorOperations::fill (source.getWritePointer (1), -c.envelope, numSamples);
        juce::dsp::AudioBlock<float> sourceBlock (source);
        comp.feedDetector (sourceBlock);

        juce::AudioBuffer<float> audio (2, numSamples);
        juce::FloatVectorOperations::fill (audio.getWritePointer (0), 1.0f, numSamples);
        juce::FloatVectorOperations::fill (audio.getWritePointer (1), -0.5f, numSamples);
        juce::dsp::AudioBlock<float> block (audio);
        comp.applyCompression (block);

        const auto gain = expectedGain (c.mode, c.threshold, c.ratio, c.envelope);
        const auto tolerance = 2e-5 * gain;

        for (int n = 0; n < numSamples; ++n)
        {
            ASSERT_NEAR (audio.getSample (0, n), gain, tolerance) << "sample " << n;
            ASSERT_NEAR (audio.getSample (1, n), -0.5 * gain, tolerance) << "sample " << n;
        }

        for (int ch = 0; ch < 2; ++ch)
        {
            EXPECT_EQ (comp.getEnvelopeMeter (ch), c.envelope);
            EXPECT_NEAR (comp.getGainMeter (ch), gain, tolerance);
        }
    }
}

TEST (CompressorTest, LookaheadDelaysByExactSamplesTimesUndelayedGain)
{
    struct Case
    {
        double rate;
        int delay;
        int blockSize, numBlocks;
    };

    const Case cases[] = {
        { 48000.0, 384, 512, 4 },
        { 44100.0, 352, 100, 12 },  // blocks shorter than the delay
        { 96000.0, 768, 777, 3 },
        { 352800.0, 2816, 1024, 6 },
    };

    const float threshold = 0.3f, ratio = 4.0f;

    for (const auto& c : cases)
    {
        SCOPED_TRACE (testing::Message() << c.rate << " Hz, block " << c.blockSize);

        Compressor comp (Compressor::upward);
        comp.prepare (makeSpec (c.rate, c.blockSize, 2), 0.008f);
        comp.setLookahead ((float) c.delay / (float) c.rate);
        ASSERT_EQ (comp.getDelaySamples(), c.delay);

        comp.setAttack (0.8f * 0.008f);
        comp.setRelease (20.0f);
        comp.setThreshold (threshold);
        comp.setRatio (ratio);

        // Reference: the framework's delay line, push then pop, at the same whole delay.
        juce::dsp::DelayLine<float, juce::dsp::DelayLineInterpolationTypes::Linear> reference;
        reference.prepare (makeSpec (c.rate, c.blockSize, 2));
        reference.setMaximumDelayInSamples (c.delay);
        reference.setDelay ((float) c.delay);

        juce::Random random (1234);
        bool sawGainAboveOne = false;

        for (int b = 0; b < c.numBlocks; ++b)
        {
            juce::AudioBuffer<float> audio (2, c.blockSize);

            for (int n = 0; n < c.blockSize; ++n)
            {
                // Level swings between quiet and loud so the gain varies around the threshold.
                const auto level = 0.05f + 0.45f * (float) ((b * c.blockSize + n) / 50 % 2);
                audio.setSample (0, n, level * (2.0f * random.nextFloat() - 1.0f));
                audio.setSample (1, n, 0.5f * level * (2.0f * random.nextFloat() - 1.0f));
            }

            juce::AudioBuffer<float> input (audio);
            juce::dsp::AudioBlock<float> block (audio);
            comp.feedDetector (block);
            comp.applyCompression (block);

            const auto* envelope = comp.getDetector().getReadPointer (0);

            for (int ch = 0; ch < 2; ++ch)
            {
                for (int n = 0; n < c.blockSize; ++n)
                {
                    reference.pushSample (ch, input.getSample (ch, n));
                    const auto delayed = reference.popSample (ch);
                    const auto gain = expectedGain (Compressor::upward, threshold, ratio, envelope[n]);
                    sawGainAboveOne = sawGainAboveOne || gain > 1.01;
                    ASSERT_NEAR (audio.getSample (ch, n), delayed * gain, 1e-5 * gain)
                        << "block " << b << " channel " << ch << " sample " << n;
                }

                const auto last = c.blockSize - 1;
                EXPECT_EQ (comp.getEnvelopeMeter (ch), envelope[last]);
                EXPECT_NEAR (comp.getGainMeter (ch),
                             expectedGain (Compressor::upward, threshold, ratio, envelope[last]), 1e-4);
            }
        }

        EXPECT_TRUE (sawGainAboveOne);
    }
}

TEST (CompressorTest, DelaySettingFollowsLookaheadWithinTheDelayLine)
{
    struct Case
    {
        const char* name;
        double rate;
        float maximumDelaySeconds, lookaheadSeconds;
        int expectedMaximum, expectedDelay;
    };

    // The delay line holds maximum delay x rate samples (truncated), but never fewer than 2.
    const Case cases[] = {
        { "8 ms at 48 kHz", 48000.0, 0.008f, 0.008f, 384, 384 },
        { "352 samples at 44.1 kHz", 44100.0, 0.008f, 352.0f / 44100.0f, 352, 352 },
        { "8x oversampled 44.1 kHz", 352800.0, 0.008f, 2816.0f / 352800.0f, 2822, 2816 },
        { "whole samples survive the float quotient", 22050.0, 0.008f, 7.0f / 22050.0f, 176, 7 },
        { "limited to the delay line", 48000.0, 0.004f, 0.008f, 192, 192 },
        { "negative lookahead", 48000.0, 0.008f, -0.001f, 384, 0 },
        { "no lookahead", 48000.0, 0.0f, 0.0f, 2, 0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);

        Compressor comp (Compressor::upward);
        comp.prepare (makeSpec (c.rate, 64, 2), c.maximumDelaySeconds);
        EXPECT_EQ (comp.getDelaySamples(), 0);
        EXPECT_EQ (comp.getMaximumDelaySamples(), c.expectedMaximum);

        comp.setLookahead (c.lookaheadSeconds);
        EXPECT_EQ (comp.getDelaySamples(), c.expectedDelay);
        EXPECT_EQ (comp.getLookahead(), c.lookaheadSeconds);

        // The stored attack (8 ms until the owner sets one) plus the lookahead.
        EXPECT_FLOAT_EQ (comp.getEffectiveAttackTime(), 8.0f + c.lookaheadSeconds);
        EXPECT_NEAR (comp.getAttackCoefficient(),
                     expectedCoefficient (8.0 + c.lookaheadSeconds, c.rate), 1e-6);
    }
}

TEST (CompressorTest, DetectorFollowsStepWithAttackAndReleaseAcrossBlocks)
{
    struct Case
    {
        double rate;
        float attackMs, releaseMs;
        int blockSize;
    };

    const Case cases[] = {
        { 48000.0, 1.0f, 10.0f, 7 },
        { 44100.0, 0.5f, 50.0f, 64 },
        { 96000.0, 2.0f, 0.0f, 33 },  // instant release
        { 48000.0, 0.0f, 5.0f, 300 },  // instant attack, one block per phase
    };

    constexpr int stepLength = 300;
    constexpr double stepLevel = 0.8;

    for (const auto& c : cases)
    {
        SCOPED_TRACE (testing::Message() << "attack " << c.attackMs << " ms, release " << c.releaseMs
                                         << " ms, block " << c.blockSize);

        Compressor comp (Compressor::downward);
        comp.prepare (makeSpec (c.rate, c.blockSize, 2), 0.0f);
        comp.setAttack (c.attackMs);
        comp.setRelease (c.releaseMs);

        const auto attackCoeff = expectedCoefficient (c.attackMs, c.rate);
        const auto releaseCoeff = expectedCoefficient (c.releaseMs, c.rate);
        EXPECT_NEAR (comp.getAttackCoefficient(), attackCoeff, 1e-7);
        EXPECT_NEAR (comp.getReleaseCoefficient(), releaseCoeff, 1e-7);

        // A rising step on the right channel only (the channels are linked), then silence.
        std::vector<float> step (2 * stepLength, 0.0f);
        std::fill (step.begin(), step.begin() + stepLength, (float) -stepLevel);

        // Closed forms: 1 - c^(n+1) towards the step, then E c^(k+1) back to zero.
        std::vector<double> expected (step.size());
        const auto endOfAttack = stepLevel * (1.0 - std::pow (attackCoeff, stepLength));

        for (int n = 0; n < stepLength; ++n)
        {
            expected[(size_t) n] = stepLevel * (1.0 - std::pow (attackCoeff, n + 1));
            expected[(size_t) (stepLength + n)] = endOfAttack * std::pow (releaseCoeff, n + 1);
        }

        for (int start = 0; start < (int) step.size(); start += c.blockSize)
        {
            const auto length = juce::jmin (c.blockSize, (int) step.size() - start);
            juce::AudioBuffer<float> source (2, length);
            source.clear();
            source.copyFrom (1, 0, step.data() + start, length);
            juce::dsp::AudioBlock<float> block (source);
            comp.feedDetector (block);

            const auto* envelope = comp.getDetector().getReadPointer (0);

            for (int n = 0; n < length; ++n)
                ASSERT_NEAR (envelope[n], expected[(size_t) (start + n)], 5e-5) << "sample " << start + n;

            EXPECT_EQ (comp.getEnvelope(), envelope[length - 1]);
        }
    }
}

TEST (CompressorTest, DetectorTakesThePeakOfAllChannels)
{
    struct Case
    {
        float left, right, peak;
    };

    const Case cases[] = {
        { 0.2f, -0.7f, 0.7f },
        { -0.9f, 0.1f, 0.9f },
        { 0.0f, 0.0f, 0.0f },
        { 0.5f, 0.5f, 0.5f },
        { -0.3f, -0.4f, 0.4f },
        { 0.6f, 0.0f, 0.6f },
    };

    const auto numCases = (int) std::size (cases);
    Compressor comp (Compressor::downward);
    comp.prepare (makeSpec (48000.0, numCases, 2), 0.0f);
    comp.setAttack (0.0f);
    comp.setRelease (0.0f);

    juce::AudioBuffer<float> source (2, numCases);

    for (int n = 0; n < numCases; ++n)
    {
        source.setSample (0, n, cases[n].left);
        source.setSample (1, n, cases[n].right);
    }

    juce::dsp::AudioBlock<float> block (source);
    comp.feedDetector (block);

    for (int n = 0; n < numCases; ++n)
        EXPECT_EQ (comp.getDetector().getSample (0, n), cases[n].peak)
            << cases[n].left << ", " << cases[n].right;
}

TEST (CompressorTest, TimeToCoefficientReachesOneOverEAfterTheTime)
{
    struct Case
    {
        float milliseconds, rate;
    };

    const Case cases[] = {
        { 10.0f, 48000.0f },
        { 50.0f, 44100.0f },
        { 2.0f, 384000.0f },
        { 0.5f, 44100.0f },
        { 0.0144f, 44100.0f },  // below one sample
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (testing::Message() << c.milliseconds << " ms at " << c.rate << " Hz");
        const auto coefficient = (double) Compressor::timeToCoefficient (c.milliseconds, c.rate);
        const auto samples = (double) c.milliseconds / 1000.0 * (double) c.rate;

        EXPECT_GT (coefficient, 0.0);
        EXPECT_LT (coefficient, 1.0);
        EXPECT_NEAR (std::log (coefficient) * samples, -1.0, 1e-5);
    }

    EXPECT_EQ (Compressor::timeToCoefficient (0.0f, 44100.0f), 0.0f);
    EXPECT_EQ (Compressor::timeToCoefficient (0.0f, 384000.0f), 0.0f);
    EXPECT_NEAR (Compressor::timeToCoefficient (0.0144f, 44100.0f), 0.21f, 0.005f);
}

TEST (CompressorTest, EffectiveAttackAddsLookaheadSecondsToAttackMilliseconds)
{
    struct Case
    {
        int mode;
        double rate;
        float maximumDelaySeconds, lookaheadSeconds, attackMs, releaseMs;
    };

    const Case cases[] = {
        { Compressor::upward, 44100.0, 0.008f, 352.0f / 44100.0f, 0.8f * 0.008f, 50.0f },
        { Compressor::upward, 384000.0, 0.008f, 3072.0f / 384000.0f, 0.8f * 0.008f, 0.0f },
        { Compressor::downward, 48000.0, 0.0f, 0.0f, 10.0f, 120.0f },
        { Compressor::downward, 96000.0, 0.0f, 0.0f, 0.0f, 30.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (testing::Message() << "mode " << c.mode << " at " << c.rate << " Hz");

        Compressor comp (c.mode);
        comp.prepare (makeSpec (c.rate, 256, 2), c.maximumDelaySeconds);
        comp.setLookahead (c.lookaheadSeconds);
        comp.setAttack (c.attackMs);
        comp.setRelease (c.releaseMs);

        const auto effective = (double) c.attackMs + (double) c.lookaheadSeconds;
        EXPECT_NEAR (comp.getEffectiveAttackTime(), effective, 1e-7);
        EXPECT_NEAR (comp.getAttackCoefficient(), expectedCoefficient (effective, c.rate), 1e-6);
        EXPECT_NEAR (comp.getReleaseCoefficient(), expectedCoefficient (c.releaseMs, c.rate), 1e-6);
    }

    // The upward compressor's attack at 44.1 kHz: about 0.0144 "ms", far below one sample.
    Compressor up (Compressor::upward);
    up.prepare (makeSpec (44100.0, 256, 2), 0.008f);
    up.setLookahead (352.0f / 44100.0f);
    up.setAttack (0.8f * 0.008f);
    EXPECT_NEAR (up.getAttackCoefficient(), 0.21f, 0.005f);
}

TEST (CompressorTest, MetersExistPerChannelAndEmptyBlocksOnlyMarkTheDetector)
{
    struct Case
    {
        int channels;
    };

    for (const auto c : { Case { 1 }, Case { 2 } })
    {
        SCOPED_TRACE (testing::Message() << c.channels << " channels");

        Compressor comp (Compressor::downward);
        comp.prepare (makeSpec (48000.0, 32, c.channels), 0.0f);
        EXPECT_EQ (comp.getNumMeters(), c.channels);
        EXPECT_TRUE (comp.getDetector().hasBeenCleared());

        juce::AudioBuffer<float> empty (c.channels, 0);
        juce::dsp::AudioBlock<float> emptyBlock (empty);
        comp.applyCompression (emptyBlock);
        EXPECT_FALSE (comp.getDetector().hasBeenCleared());

        comp.setAttack (0.0f);
        comp.setRelease (0.0f);
        comp.setThreshold (0.25f);
        comp.setRatio (3.0f);

        juce::AudioBuffer<float> audio (c.channels, 32);

        for (int ch = 0; ch < c.channels; ++ch)
            juce::FloatVectorOperations::fill (audio.getWritePointer (ch), 0.5f, 32);

        juce::dsp::AudioBlock<float> block (audio);
        comp.feedDetector (block);
        comp.applyCompression (block);

        const auto gain = expectedGain (Compressor::downward, 0.25, 3.0, 0.5);

        for (int ch = 0; ch < c.channels; ++ch)
        {
            EXPECT_EQ (comp.getEnvelopeMeter (ch), 0.5f);
            EXPECT_NEAR (comp.getGainMeter (ch), gain, 1e-6);
        }

        // A channel the compressor was not prepared for reads 0.
        EXPECT_EQ (comp.getEnvelopeMeter (c.channels), 0.0f);
        EXPECT_EQ (comp.getGainMeter (c.channels), 0.0f);
        EXPECT_EQ (comp.getGainMeter (-1), 0.0f);
    }
}

TEST (CompressorTest, FeedingSeveralAtOnceMatchesFeedingOneByOne)
{
    struct Case
    {
        int count;
    };

    constexpr int maximumBlock = 96;

    for (const auto c : { Case { 1 }, Case { 2 }, Case { 3 }, Case { 4 }, Case { 5 }, Case { 8 } })
    {
        SCOPED_TRACE (testing::Message() << c.count << " compressors");

        std::vector<std::unique_ptr<Compressor>> single, batched;

        for (int i = 0; i < c.count; ++i)
        {
            for (auto* set : { &single, &batched })
            {
                auto& comp = *set->emplace_back (std::make_unique<Compressor> (i % 2));
                comp.prepare (makeSpec (48000.0, maximumBlock, 2), 0.0f);
                comp.setAttack (0.02f + 0.7f * (float) i);
                comp.setRelease (5.0f + 11.0f * (float) i);
            }
        }

        juce::Random random (99);

        for (int block = 0; block < 4; ++block)
        {
            std::vector<juce::AudioBuffer<float>> sources;
            std::vector<juce::dsp::AudioBlock<float>> blocks;
            std::vector<Compressor*> batch;

            for (int i = 0; i < c.count; ++i)
            {
                // Lengths differ from compressor to compressor, as may the channel count.
                const auto length = maximumBlock - 13 * ((i + block) % 3);
                auto& buffer = sources.emplace_back (1 + (i + block) % 2, length);

                for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
                    for (int n = 0; n < length; ++n)
                        buffer.setSample (ch, n, (random.nextFloat() - 0.5f) * (float) (n / 20 % 2));
            }

            for (int i = 0; i < c.count; ++i)
            {
                blocks.emplace_back (sources[(size_t) i]);
                batch.push_back (batched[(size_t) i].get());
                single[(size_t) i]->feedDetector (blocks.back());
            }

            Compressor::feedDetectors (batch.data(), blocks.data(), c.count);

            for (int i = 0; i < c.count; ++i)
            {
                const auto* expected = single[(size_t) i]->getDetector().getReadPointer (0);
                const auto* actual = batched[(size_t) i]->getDetector().getReadPointer (0);

                for (size_t n = 0; n < blocks[(size_t) i].getNumSamples(); ++n)
                    ASSERT_EQ (actual[n], expected[n]) << "compressor " << i << " block " << block << " sample " << n;

                EXPECT_EQ (batched[(size_t) i]->getEnvelope(), single[(size_t) i]->getEnvelope());
                EXPECT_GT (single[(size_t) i]->getEnvelope(), 0.0f);
            }
        }
    }
}
