#include "EngineTestSupport.h"

#include <complex>

using namespace vyx::test;

namespace
{
    /** Index of the largest magnitude in channel 0. */
    int peakIndex (const juce::AudioBuffer<float>& b)
    {
        int best = 0;
        for (int i = 1; i < b.getNumSamples(); ++i)
            if (std::abs (b.getSample (0, i)) > std::abs (b.getSample (0, best)))
                best = i;
        return best;
    }

    double maxError (const juce::AudioBuffer<float>& out, int channel, const std::vector<double>& expected,
                     double scale, int from)
    {
        double worst = 0.0;
        for (int i = from; i < out.getNumSamples(); ++i)
            worst = std::max (worst, std::abs ((double) out.getSample (channel, i) - scale * expected[(size_t) i]));
        return worst;
    }

    bool bitIdentical (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
    {
        if (a.getNumChannels() != b.getNumChannels() || a.getNumSamples() != b.getNumSamples())
            return false;
        for (int ch = 0; ch < a.getNumChannels(); ++ch)
            if (std::memcmp (a.getReadPointer (ch), b.getReadPointer (ch), sizeof (float) * (size_t) a.getNumSamples()) != 0)
                return false;
        return true;
    }
} // namespace

//==============================================================================
struct LatencyCase
{
    double sampleRate;
    int stages;
};

class EngineLatency : public ::testing::TestWithParam<LatencyCase> {};

TEST_P (EngineLatency, ImpulseArrivesAfterTheReportedLatency)
{
    const auto [sampleRate, stages] = GetParam();
    EngineFixture f;
    f.neutralCompression();
    f.set ("NUM", 1.0f);
    f.setOversampling (stages);
    f.prepare (sampleRate, 512);

    const int lookahead = (int) (sampleRate * 0.008);
    const int latency = f.vyx.getLatencySamples();
    if (stages == 0)
    {
        EXPECT_EQ (latency, lookahead);
    }
    else
    {
        EXPECT_GT (latency, lookahead);
    }
    EXPECT_EQ (f.vyx.getOversamplingFactor(), 1 << stages);

    // The impulse comes after the gains' start-up ramps have settled.
    constexpr int impulseAt = 3000;
    juce::AudioBuffer<float> in (2, 16384);
    in.clear();
    in.setSample (0, impulseAt, 0.5f);
    in.setSample (1, impulseAt, 0.5f);

    const auto out = f.render (in);
    EXPECT_EQ (peakIndex (out) - impulseAt, latency);
    // With oversampling the fractional part of the filters' delay spreads the impulse over
    // neighbouring samples, so only its position is exact.
    if (stages == 0)
    {
        EXPECT_NEAR (out.getSample (0, impulseAt + latency), 0.5f, 1e-6f);
    }
    else
    {
        EXPECT_GT (std::abs (out.getSample (0, impulseAt + latency)), 0.3f);
    }
}

INSTANTIATE_TEST_SUITE_P (RatesAndFactors, EngineLatency,
                          ::testing::Values (LatencyCase { 44100.0, 0 }, LatencyCase { 44100.0, 1 },
                                             LatencyCase { 44100.0, 2 }, LatencyCase { 44100.0, 3 },
                                             LatencyCase { 48000.0, 0 }, LatencyCase { 48000.0, 1 },
                                             LatencyCase { 48000.0, 2 }, LatencyCase { 48000.0, 3 }),
                          [] (const auto& param)
                          { return std::to_string ((int) param.param.sampleRate) + "Hz_over" + std::to_string (param.param.stages); });

TEST (Engine, PreparingTwiceKeepsTheLatency)
{
    EngineFixture f;
    f.prepare (48000.0, 256);
    const int first = f.vyx.getLatencySamples();
    f.prepare (48000.0, 256);
    EXPECT_EQ (f.vyx.getLatencySamples(), first);
    EXPECT_EQ (first, 384);
}

//==============================================================================
struct PathCase
{
    const char* name;
    int bands;
    bool dryWetMode;
    float mix, out, dry, wet;
    double expectedScale;   // of the reference path
};

class EnginePaths : public ::testing::TestWithParam<PathCase> {};

// With nothing compressing, the wet path (summed bands) and the dry path (delayed, all-passed
// input) are the same signal: every mix of them equals the reference path at the right level.
TEST_P (EnginePaths, OutputIsTheAlignedReferencePath)
{
    const auto& c = GetParam();
    constexpr double sampleRate = 48000.0;
    EngineFixture f;
    f.neutralCompression();
    f.set ("NUM", (float) c.bands);
    f.set ("MIX", c.mix);
    f.set ("OUT", c.out);
    f.set ("DRY", c.dry);
    f.set ("WET", c.wet);
    f.vyx.state.properties.setProperty (Properties::dryWet, c.dryWetMode, nullptr);
    const std::vector<double> allCrossovers { 550.0, 2500.0, 20000.0, 120.0, 7000.0, 11000.0, 15000.0 };
    for (int b = 3; b < 7; ++b)
        f.set ("CR" + juce::String (b), (float) allCrossovers[(size_t) b]);
    f.prepare (sampleRate, 512);

    const auto in = makeNoise (24000, 0.2f);
    const auto out = f.render (in);

    const std::vector<double> used (allCrossovers.begin(), allCrossovers.begin() + (c.bands - 1));
    for (int ch = 0; ch < 2; ++ch)
    {
        const auto expected = referencePath (in, ch, f.vyx.getLatencySamples(), used, sampleRate);
        EXPECT_LT (maxError (out, ch, expected, c.expectedScale, 6000), 2e-5) << c.name << " channel " << ch;
    }
}

INSTANTIATE_TEST_SUITE_P (MixModes, EnginePaths,
    ::testing::Values (
        PathCase { "mix 100 is the wet path", 3, false, 100.0f, 0.0f, -80.0f, 0.0f, 1.0 },
        PathCase { "mix 100 with output gain", 3, false, 100.0f, -6.0f, -80.0f, 0.0f, std::pow (10.0, -6.0 / 20.0) },
        PathCase { "mix 0 is the dry path", 3, false, 0.0f, 0.0f, -80.0f, 0.0f, 1.0 },
        PathCase { "mix 0 one band is only delayed", 1, false, 0.0f, 0.0f, -80.0f, 0.0f, 1.0 },
        PathCase { "mix 50 sums aligned paths", 3, false, 50.0f, 0.0f, -80.0f, 0.0f, 1.0 },
        PathCase { "mix 25 eight bands", 8, false, 25.0f, 0.0f, -80.0f, 0.0f, 1.0 },
        PathCase { "dry/wet with dry at -80 is wet alone", 3, true, 30.0f, -12.0f, -80.0f, -3.0f, std::pow (10.0, -3.0 / 20.0) },
        PathCase { "dry/wet both paths", 5, true, 30.0f, -12.0f, -6.0f, -6.0f, 2.0 * std::pow (10.0, -6.0 / 20.0) }),
    [] (const auto& param) { return "case" + std::to_string (param.index); });

//==============================================================================
TEST (Engine, LimiterHoldsThePeakAtTheCeiling)
{
    for (const bool limiterOn : { true, false })
    {
        EngineFixture f;
        f.neutralCompression();
        f.set ("NUM", 1.0f);
        f.set ("IN", 12.0f);
        f.vyx.state.properties.setProperty (Properties::limiter, limiterOn, nullptr);
        f.prepare (48000.0, 512);

        const auto out = f.render (makeSine (24000, 440.0, 48000.0, 0.9f));
        if (limiterOn)
            EXPECT_LE (peak (out), 0.95f + 1e-6f);
        else
            EXPECT_GT (peak (out, 4000), 3.0f);
    }
}

TEST (Engine, LimiterRunsWhenThePropertyIsAbsent)
{
    EngineFixture f;
    f.neutralCompression();
    f.set ("IN", 12.0f);
    ASSERT_FALSE (f.vyx.state.properties.hasProperty (Properties::limiter));
    f.prepare (44100.0, 256);
    EXPECT_LE (peak (f.render (makeSine (20000, 1000.0, 44100.0, 0.9f))), 0.95f + 1e-6f);
}

//==============================================================================
TEST (Engine, SidechainKeysTheDownwardCompressionAndDisablesInputGain)
{
    constexpr double sampleRate = 48000.0;
    const auto main = makeSine (24000, 300.0, sampleRate, 0.25f);
    const auto loudKey = makeSine (24000, 300.0, sampleRate, 0.9f);
    juce::AudioBuffer<float> silentKey (2, 24000);
    silentKey.clear();

    const auto renderWith = [&] (const juce::AudioBuffer<float>& key, float inputGain)
    {
        EngineFixture f;
        f.set ("NUM", 1.0f);
        f.set ("THD0", -20.0f);
        f.set ("RAD0", 4.0f);
        f.set ("IN", inputGain);
        f.enableSidechain (true);
        f.prepare (sampleRate, 512);
        return f.render (main, &key);
    };

    const auto keyed = renderWith (loudKey, 0.0f);
    const auto unkeyed = renderWith (silentKey, 0.0f);
    const float keyedLevel = peak (keyed, 12000);
    const float unkeyedLevel = peak (unkeyed, 12000);

    // A silent key leaves the main signal untouched (no upward compression with a sidechain).
    EXPECT_NEAR (unkeyedLevel, 0.25f, 0.01f);
    // A loud key pulls it down: threshold 0.1, effective ratio 7, key at 0.9.
    const float expectedGain = (float) (((0.9 - 0.1) / 7.0 + 0.1) / 0.9);
    EXPECT_NEAR (keyedLevel, 0.25f * expectedGain, 0.01f);

    EXPECT_TRUE (bitIdentical (renderWith (loudKey, -20.0f), keyed));
}

//==============================================================================
TEST (Engine, ParametersTheEngineDoesNotReadLeaveTheOutputBitIdentical)
{
    const auto in = makeNoise (12000, 0.5f, 3);
    const auto renderWith = [&] (bool changed)
    {
        EngineFixture f;
        f.set ("NUM", 8.0f);
        f.vyx.state.properties.setProperty (Properties::dryWet, false, nullptr);
        f.set ("MIX", 70.0f);
        if (changed)
        {
            for (int b = 0; b < 8; ++b)
            {
                const auto s = juce::String (b);
                f.set ("BMIX" + s, 0.3f);
                f.set ("BON" + s, 0.0f);
                f.set ("ATU" + s, 300.0f);
                f.set ("REU" + s, 1.0f);
                if (b > 0)
                {
                    f.set ("ATD" + s, 200.0f);
                    f.set ("RED" + s, 400.0f);
                }
            }
            f.vyx.state.properties.setProperty (Properties::sidechain, true, nullptr);
        }
        f.prepare (44100.0, 512);
        return f.render (in);
    };

    EXPECT_TRUE (bitIdentical (renderWith (false), renderWith (true)));
}

TEST (Engine, CrossoverAboveHalfTheSampleRateActsAsHalfTheSampleRate)
{
    const auto in = makeNoise (8000, 0.5f, 4);
    const auto renderWith = [&] (float crossover)
    {
        EngineFixture f;
        f.set ("NUM", 2.0f);
        f.set ("CR0", crossover);
        f.prepare (44100.0, 512);
        return f.render (in);
    };

    EXPECT_TRUE (bitIdentical (renderWith (40000.0f), renderWith (22050.0f)));
    EXPECT_FALSE (bitIdentical (renderWith (40000.0f), renderWith (10000.0f)));
}

// The band sum through the whole engine with one crossover at 30 kHz, above half the host
// rate: it is the product of the crossovers' all-passes at the engine's rate, the one at 1 kHz
// and the one at half the host rate, in phase and magnitude up to 0.45 of the host rate.
// Without oversampling the second is the all-pass at half the rate itself, which passes
// everything unchanged; at 2x it sits at a quarter of the engine's rate. Dividing by the
// one-band rendering takes out what both renderings share: the oversampler and the latency.
TEST (Engine, BandSumWithACrossoverAboveHalfTheRateIsTheProductOfTheAllPasses)
{
    struct Case
    {
        double sampleRate;
        int stages;
    };

    const Case cases[] = { { 44100.0, 0 }, { 48000.0, 0 }, { 44100.0, 1 }, { 48000.0, 1 } };
    constexpr int settle = 8192, window = 8192;
    constexpr double lowCrossover = 1000.0, highCrossover = 30000.0;
    const double pi = juce::MathConstants<double>::pi;

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.sampleRate) + " Hz, stages " + juce::String (c.stages));

        // Tones on whole cycles of the window, from 100 Hz up to 0.45 of the host rate.
        std::vector<int> bins;
        for (const double f : { 100.0, 1000.0, 3000.0, 8000.0, 12000.0, 16000.0, 19000.0, 0.45 * c.sampleRate })
            bins.push_back ((int) std::floor (f * window / c.sampleRate));

        juce::AudioBuffer<float> in (2, settle + window);
        juce::Random random (5);
        std::vector<double> phases;
        for (size_t t = 0; t < bins.size(); ++t)
            phases.push_back (2.0 * pi * random.nextDouble());
        for (int i = 0; i < in.getNumSamples(); ++i)
        {
            double x = 0.0;
            for (size_t t = 0; t < bins.size(); ++t)
                x += 0.05 * std::sin (2.0 * pi * bins[t] * i / window + phases[t]);
            in.setSample (0, i, (float) x);
            in.setSample (1, i, (float) x);
        }

        const auto renderWith = [&] (int numBands)
        {
            EngineFixture f;
            f.setOversampling (c.stages);
            f.neutralCompression();
            f.vyx.state.properties.setProperty (Properties::limiter, false, nullptr);
            f.set ("NUM", (float) numBands);
            f.set ("CR0", (float) lowCrossover);
            f.set ("CR1", (float) highCrossover);
            f.prepare (c.sampleRate, 512);
            return f.render (in);
        };

        const auto split = renderWith (3);
        const auto whole = renderWith (1);

        const auto binOf = [&] (const juce::AudioBuffer<float>& out, int bin)
        {
            std::complex<double> sum;
            for (int n = 0; n < window; ++n)
                sum += (double) out.getSample (0, settle + n) * std::polar (1.0, -2.0 * pi * bin * n / window);
            return sum;
        };

        // The second-order all-pass at fc for a rate fs, at frequency f.
        const double engineRate = c.sampleRate * (1 << c.stages);
        const auto allPass = [&] (double fc, double f)
        {
            const std::complex<double> s (0.0, std::tan (pi * f / engineRate) / std::tan (pi * fc / engineRate));
            return (s * s - std::sqrt (2.0) * s + 1.0) / (s * s + std::sqrt (2.0) * s + 1.0);
        };

        for (const int bin : bins)
        {
            const double f = bin * c.sampleRate / window;
            SCOPED_TRACE (juce::String (f, 1) + " Hz");
            const auto measured = binOf (split, bin) / binOf (whole, bin);
            const auto expected = allPass (lowCrossover, f) * allPass (std::min (highCrossover, 0.5 * c.sampleRate), f);
            const auto ratio = measured / expected;

            EXPECT_LT (std::abs (std::arg (ratio)), 1.0e-4);
            EXPECT_LT (std::abs (20.0 * std::log10 (std::abs (ratio))), 0.01);
        }
    }
}

//==============================================================================
TEST (Engine, DownwardCompressionFollowsTheLinearTransferCurve)
{
    // One band, a steady 0.5 sine peak far above a -20 dB threshold: the output settles at
    // A + (m - A) / R with R = 2 (RAD - 1) + 1.
    EngineFixture f;
    f.set ("NUM", 1.0f);
    f.set ("THD0", -20.0f);
    f.set ("RAD0", 2.0f);
    f.set ("RAU0", 1.0f);
    f.set ("RED0", 400.0f);
    f.prepare (48000.0, 512);

    const auto out = f.render (makeSine (48000, 200.0, 48000.0, 0.5f));
    const double A = 0.1, R = 3.0, m = 0.5;
    EXPECT_NEAR (peak (out, 36000), (float) (A + (m - A) / R), 0.01f);
}

TEST (Engine, UpwardCompressionRaisesQuietBands)
{
    EngineFixture f;
    f.set ("NUM", 1.0f);
    f.set ("RAD0", 1.0f);
    f.set ("THU0", -20.0f);
    f.set ("RAU0", 4.0f);
    f.set ("RED0", 400.0f);
    f.prepare (48000.0, 512);

    const auto out = f.render (makeSine (48000, 200.0, 48000.0, 0.01f));
    // Target level A - (A - m) / R for an envelope at the sine's peak.
    const double A = 0.1, R = 4.0, m = 0.01;
    EXPECT_NEAR (peak (out, 36000), (float) (A - (A - m) / R), 0.003f);
}

//==============================================================================
TEST (Engine, MetersReportLevelsAndAreSafeBeforePreparation)
{
    {
        EngineFixture f;
        float level = -1.0f, compressed = -1.0f;
        f.vyx.getCompMeter (0, level, compressed);
        EXPECT_EQ (level, 0.0f);
        EXPECT_EQ (compressed, 0.0f);
    }

    // One band and a steady 200 Hz sine: the level is the band's envelope (the sine's peak),
    // the compressed level that envelope through both gains, so it lands on the transfer curve.
    struct Case
    {
        const char* name;
        float sineLevel, downThreshold, downRatio, upThreshold, upRatio;
        double expectedCompressed;
    };
    const Case cases[] {
        { "nothing compresses", 0.5f,  0.0f,  1.0f, -60.0f, 1.0f, 0.5 },
        { "downward",           0.5f, -20.0f, 2.0f, -60.0f, 1.0f, 0.1 + (0.5 - 0.1) / 3.0 },
        { "upward",             0.01f, 0.0f,  1.0f, -20.0f, 4.0f, 0.1 - (0.1 - 0.01) / 4.0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        EngineFixture f;
        f.set ("NUM", 1.0f);
        f.set ("THD0", c.downThreshold);
        f.set ("RAD0", c.downRatio);
        f.set ("THU0", c.upThreshold);
        f.set ("RAU0", c.upRatio);
        f.set ("RED0", 400.0f);
        f.prepare (48000.0, 512);
        f.render (makeSine (48000, 200.0, 48000.0, c.sineLevel));

        float level = -1.0f, compressed = -1.0f;
        f.vyx.getCompMeter (0, level, compressed);
        EXPECT_NEAR (level, c.sineLevel, 0.02f * c.sineLevel);
        EXPECT_NEAR (compressed, (float) c.expectedCompressed, 0.02f * (float) c.expectedCompressed);
        if (c.downRatio == 1.0f && c.upRatio == 1.0f)
        {
            EXPECT_FLOAT_EQ (compressed, level);
        }

        f.vyx.getCompMeter (99, level, compressed);
        EXPECT_EQ (level, 0.0f);
    }
}

//==============================================================================
TEST (Engine, SpectrumFeedsShowTheGainedInputOrTheKeyAndTheWetSum)
{
    // The input analyser shows the main signal after the input gain, or the sidechain as it
    // arrives when there is one; the output analyser shows the wet sum before the dry path.
    constexpr double sampleRate = 48000.0;
    constexpr float mainLevel = 0.1f, keyLevel = 0.3f;
    const float inputGain = juce::Decibels::decibelsToGain (12.0f);

    struct Case { const char* name; bool sidechain; float mix; float inputFrame, outputFrame, output; };
    const Case cases[] {
        { "all wet",          false, 100.0f, mainLevel * inputGain, mainLevel * inputGain, mainLevel * inputGain },
        { "all dry",          false, 0.0f,   mainLevel * inputGain, 0.0f,                  mainLevel },
        { "keyed, all dry",   true,  0.0f,   keyLevel,              0.0f,                  mainLevel },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        EngineFixture f;
        f.neutralCompression();
        f.set ("NUM", 3.0f);
        f.set ("IN", 12.0f);
        f.set ("MIX", c.mix);
        f.enableSidechain (c.sidechain);
        f.prepare (sampleRate, 512);

        // Well past the ring's length of steady signal, then one more block takes a frame.
        constexpr int steady = 32 * 512;
        const auto main = makeSine (steady + 512, 1000.0, sampleRate, mainLevel);
        const auto key = makeSine (steady + 512, 1000.0, sampleRate, keyLevel);
        const auto part = [] (const juce::AudioBuffer<float>& b, int start, int length)
        {
            juce::AudioBuffer<float> p (b.getNumChannels(), length);
            for (int ch = 0; ch < b.getNumChannels(); ++ch)
                p.copyFrom (ch, 0, b, ch, start, length);
            return p;
        };
        const auto mainHead = part (main, 0, steady), keyHead = part (key, 0, steady);
        const auto mainTail = part (main, steady, 512), keyTail = part (key, steady, 512);

        f.render (mainHead, c.sidechain ? &keyHead : nullptr);
        f.vyx.inputSpectrum.releaseFrame();
        f.vyx.outputSpectrum.releaseFrame();
        const auto output = f.render (mainTail, c.sidechain ? &keyTail : nullptr);

        ASSERT_TRUE (f.vyx.inputSpectrum.isFrameReady());
        ASSERT_TRUE (f.vyx.outputSpectrum.isFrameReady());
        const auto framePeak = [] (const std::vector<float>& frame)
        {
            float p = 0.0f;
            for (int i = 0; i < cvx::ui::SpectrumDisplay::frameSize; ++i)
                p = std::max (p, std::abs (frame[(size_t) i]));
            return p;
        };

        EXPECT_NEAR (framePeak (f.vyx.inputSpectrum.getFrame()), c.inputFrame, 0.02f * c.inputFrame);
        EXPECT_NEAR (framePeak (f.vyx.outputSpectrum.getFrame()), c.outputFrame, 0.02f * c.outputFrame + 1.0e-5f);
        EXPECT_NEAR (peak (output), c.output, 0.03f * c.output);
    }
}
