#include "DspTestSupport.h"
#include "plugin/BandSplitter.h"

#include <complex>
#include <cstring>

namespace
{

using Register = LRFilterSIMD::Register;
using Splitter = BandSplitter<8>;

constexpr double pi = 3.14159265358979323846;
constexpr double sqrt2 = 1.41421356237309504880;
constexpr int maxBlock = 512;

//==============================================================================
// Double-precision reference, written from the filter equations: a second-order
// state-variable filter with trapezoidal integrators (Butterworth damping), in the
// ic1eq/ic2eq update form.
struct RefSvf
{
    void setCutoff (double frequency, double sampleRate)
    {
        const auto g = std::tan (pi * frequency / sampleRate);
        a1 = 1.0 / (1.0 + g * (g + sqrt2));
        a2 = g * a1;
        a3 = g * a2;
    }

    struct Outputs
    {
        double low, band, high, allPass;
    };

    Outputs tick (double x)
    {
        const auto v3 = x - ic2;
        const auto v1 = a1 * ic1 + a2 * v3;
        const auto v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2.0 * v1 - ic1;
        ic2 = 2.0 * v2 - ic2;
        return { v2, v1, x - sqrt2 * v1 - v2, x - 2.0 * sqrt2 * v1 };
    }

    double a1 = 0.0, a2 = 0.0, a3 = 0.0, ic1 = 0.0, ic2 = 0.0;
};

/** Fourth-order Linkwitz-Riley pair: two cascaded low-passes and, separately, two cascaded
    high-passes. */
struct RefCrossover
{
    void setCutoff (double frequency, double sampleRate)
    {
        for (auto* f : { &lowA, &lowB, &highA, &highB })
            f->setCutoff (frequency, sampleRate);
    }

    std::pair<double, double> tick (double x)
    {
        const auto low = lowB.tick (lowA.tick (x).low).low;
        const auto high = highB.tick (highA.tick (x).high).high;
        return { low, high };
    }

    RefSvf lowA, lowB, highA, highB;
};

/** The band tree for one channel: band k = HP4 of crossovers 0 .. k - 1, LP4 of crossover k,
    then the all-passes of crossovers k + 1 .. n - 2; the top band = HP4 of every crossover.
    Filters keep their state across blocks and band counts, like the real ones. */
class RefSplitter
{
public:
    explicit RefSplitter (double rate) : sampleRate (rate) {}

    void setCrossovers (const std::vector<float>& list)
    {
        const auto n = list.size();

        for (size_t k = 0; k + 1 < n; ++k)
            crossovers[k].setCutoff (list[k], sampleRate);

        for (size_t j = 0; j < n; ++j)
            for (size_t k = j + 1; k + 1 < n; ++k)
                allPasses[j][k - j].setCutoff (list[k], sampleRate);
    }

    void tick (double x, size_t n, double* bands)
    {
        auto rest = x;

        for (size_t k = 0; k + 1 < n; ++k)
        {
            const auto [low, high] = crossovers[k].tick (rest);
            auto band = low;

            for (size_t l = 1; k + l + 1 < n; ++l)
                band = allPasses[k][l].tick (band).allPass;

            bands[k] = band;
            rest = high;
        }

        bands[n - 1] = rest;
    }

private:
    double sampleRate;
    std::array<RefCrossover, 8> crossovers;
    std::array<std::array<RefSvf, 8>, 8> allPasses;
};

/** AP(0) · AP(1) · ... · AP(n - 2): what the bands must add up to. */
class RefAllPassCascade
{
public:
    RefAllPassCascade (const std::vector<float>& list, double sampleRate)
    {
        for (size_t k = 0; k + 1 < list.size(); ++k)
        {
            stages.emplace_back();
            stages.back().setCutoff (list[k], sampleRate);
        }
    }

    double tick (double x)
    {
        for (auto& s : stages)
            x = s.tick (x).allPass;

        return x;
    }

private:
    std::vector<RefSvf> stages;
};

//==============================================================================
using vyx::test::makeNoise;

const std::vector<int> irregularBlocks { 1, 7, 64, 5, 200, 512, 3, 6, 100, 2, 333 };

/** Runs the splitter over input in blocks of the given sizes (cycled), with the band count and
    list set before each block, and collects the bands (numBands buffers like input). */
std::vector<juce::AudioBuffer<float>> runSplitter (Splitter& splitter, juce::AudioBuffer<float>& input,
                                                   const std::vector<float>& list,
                                                   const std::vector<int>& blockSizes = irregularBlocks)
{
    const auto numBands = (int) list.size();
    std::vector<juce::AudioBuffer<float>> bands ((size_t) numBands,
                                                 juce::AudioBuffer<float> (input.getNumChannels(), input.getNumSamples()));
    juce::dsp::AudioBlock<float> whole (input);
    int pos = 0;

    for (size_t i = 0; pos < input.getNumSamples(); ++i)
    {
        const auto length = juce::jmin (blockSizes[i % blockSizes.size()], input.getNumSamples() - pos);
        splitter.numBands = numBands;
        splitter.updateCrossovers (list);
        splitter.process (whole.getSubBlock ((size_t) pos, (size_t) length));

        for (int b = 0; b < numBands; ++b)
            for (int c = 0; c < input.getNumChannels(); ++c)
                bands[(size_t) b].copyFrom (c, pos, splitter.getBand (b), c, 0, length);

        pos += length;
    }

    return bands;
}

/** Complex responses of the trapezoidal-integrator SVF at frequency f (bilinear mapping with
    the cutoff prewarped, so s = j tan(pi f / fs) / tan(pi fc / fs)). */
struct Responses
{
    std::complex<double> low2, high2, allPass2;
};

Responses responsesAt (double f, double fc, double fs)
{
    const std::complex<double> s (0.0, std::tan (pi * f / fs) / std::tan (pi * fc / fs));
    const auto d = s * s + sqrt2 * s + 1.0;
    return { 1.0 / d, s * s / d, (s * s - sqrt2 * s + 1.0) / d };
}

/** Least-squares amplitude of a sinusoid of angular frequency w (radians per sample) in y. */
double fittedAmplitude (const std::vector<double>& y, size_t start, double w)
{
    double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;

    for (size_t n = start; n < y.size(); ++n)
    {
        const auto sn = std::sin (w * (double) n), cn = std::cos (w * (double) n);
        ss += sn * sn;
        cc += cn * cn;
        sc += sn * cn;
        ys += y[n] * sn;
        yc += y[n] * cn;
    }

    const auto det = ss * cc - sc * sc;
    const auto a = (ys * cc - yc * sc) / det;
    const auto b = (yc * ss - ys * sc) / det;
    return std::hypot (a, b);
}

//==============================================================================
TEST (LRFilterSIMD, CoefficientsFollowTheCutoffAndSampleRate)
{
    struct Case
    {
        double cutoff, sampleRate;
    };

    // The last three lie outside 0 .. 0.49 fs, where the sections would lose their damping
    // (or turn unstable): they get the coefficients of the nearest end of that range.
    const Case cases[] = { { 2000.0, 44100.0 }, { 20.0, 48000.0 }, { 1000.0, 96000.0 }, { 20000.0, 44100.0 },
                           { 7000.0, 384000.0 }, { 24000.0, 48000.0 }, { 30000.0, 48000.0 }, { -10.0, 48000.0 } };

    for (const auto& tc : cases)
    {
        SCOPED_TRACE (std::to_string (tc.cutoff) + " Hz at " + std::to_string (tc.sampleRate));

        LRFilterSIMD filter;
        filter.prepare (tc.sampleRate);
        filter.setCutoff (tc.cutoff);
        EXPECT_EQ (filter.getCutoff(), tc.cutoff);

        const auto usable = std::min (std::max (tc.cutoff, 0.0), 0.49 * tc.sampleRate);
        const auto g = std::tan (pi * usable / tc.sampleRate);
        const auto h = 1.0 / (g * g + sqrt2 * g + 1.0);

        for (size_t lane = 0; lane < 4; ++lane)
        {
            EXPECT_EQ (filter.g.get (lane), (float) g);
            EXPECT_EQ (filter.h.get (lane), (float) h);
            EXPECT_EQ (filter.R2.get (lane), 1.41421354f);
        }
    }

    // A default filter runs at 2000 Hz and 44100 Hz; a coefficient update keeps the states,
    // a preparation clears them and recomputes from the stored cutoff.
    LRFilterSIMD filter;
    EXPECT_EQ (filter.getCutoff(), 2000.0);
    EXPECT_EQ (filter.getSampleRate(), 44100.0);
    EXPECT_EQ (filter.g.get (0), (float) std::tan (pi * 2000.0 / 44100.0));

    filter.s1 = filter.s2 = filter.s3 = filter.s4 = Register::expand (0.25f);
    filter.setCutoff (500.0);

    for (const auto* state : { &filter.s1, &filter.s2, &filter.s3, &filter.s4 })
        EXPECT_EQ (state->get (2), 0.25f);

    filter.prepare (48000.0);
    EXPECT_EQ (filter.getCutoff(), 500.0);
    EXPECT_EQ (filter.g.get (3), (float) std::tan (pi * 500.0 / 48000.0));

    for (const auto* state : { &filter.s1, &filter.s2, &filter.s3, &filter.s4 })
        for (size_t lane = 0; lane < 4; ++lane)
            EXPECT_EQ (state->get (lane), 0.0f);
}

// Four sines at once (one per lane) through the block loops: after settling, the low and high
// outputs are the fourth-order Linkwitz-Riley responses, -6 dB each at the cutoff, and the
// all-pass has unit gain and the second-order all-pass phase.
TEST (LRFilterSIMD, BlockLoopsFollowTheFilterResponses)
{
    struct Case
    {
        double cutoff, sampleRate;
    };

    const Case cases[] = { { 1000.0, 48000.0 }, { 100.0, 44100.0 }, { 10000.0, 96000.0 }, { 8000.0, 48000.0 } };

    // Lane c carries frequency ratio[c] × cutoff with phase[c].
    const double ratio[] = { 1.0, 1.0 / 3.1, 2.7, 1.0 };
    const double phase[] = { 0.0, 0.4, 1.1, pi / 2.0 };

    for (const auto& tc : cases)
    {
        SCOPED_TRACE (std::to_string (tc.cutoff) + " Hz at " + std::to_string (tc.sampleRate));

        const auto numSamples = (size_t) (tc.sampleRate * 0.15);
        const auto settle = (size_t) (tc.sampleRate * 0.1);
        double w[4];

        for (size_t c = 0; c < 4; ++c)
            w[c] = 2.0 * pi * ratio[c] * tc.cutoff / tc.sampleRate;

        std::vector<Register> input (numSamples), low (numSamples), high (numSamples), allPass (numSamples);

        for (size_t n = 0; n < numSamples; ++n)
            for (size_t c = 0; c < 4; ++c)
                input[n].set (c, (float) std::sin (w[c] * (double) n + phase[c]));

        LRFilterSIMD crossover, allPassFilter;

        for (auto* f : { &crossover, &allPassFilter })
        {
            f->prepare (tc.sampleRate);
            f->setCutoff (tc.cutoff);
        }

        high = input;
        allPass = input;

        for (size_t pos = 0; pos < numSamples; pos += 250)
        {
            const auto length = juce::jmin ((size_t) 250, numSamples - pos);
            crossover.processCrossover (low.data() + pos, high.data() + pos, length);
            allPassFilter.processAllPass (allPass.data() + pos, length);
        }

        for (size_t c = 0; c < 4; ++c)
        {
            const auto r = responsesAt (ratio[c] * tc.cutoff, tc.cutoff, tc.sampleRate);
            const auto expectedLow = r.low2 * r.low2;
            const auto expectedHigh = r.high2 * r.high2;
            double maxError = 0.0;
            std::vector<double> lowLane (numSamples), highLane (numSamples), allPassLane (numSamples);

            for (size_t n = settle; n < numSamples; ++n)
            {
                const auto x = std::polar (1.0, w[c] * (double) n + phase[c]);
                maxError = std::max ({ maxError,
                                       std::abs ((double) low[n].get (c) - (expectedLow * x).imag()),
                                       std::abs ((double) high[n].get (c) - (expectedHigh * x).imag()),
                                       std::abs ((double) allPass[n].get (c) - (r.allPass2 * x).imag()) });
                lowLane[n] = low[n].get (c);
                highLane[n] = high[n].get (c);
                allPassLane[n] = allPass[n].get (c);
            }

            EXPECT_LT (maxError, 2e-5) << "lane " << c;
            EXPECT_NEAR (fittedAmplitude (allPassLane, settle, w[c]), 1.0, 1e-5) << "lane " << c;

            if (ratio[c] == 1.0)
            {
                // At the cutoff both outputs are half the input, inverted, and add up to the
                // all-pass there (minus the input).
                EXPECT_NEAR (20.0 * std::log10 (fittedAmplitude (lowLane, settle, w[c])), -6.0206, 1e-3) << "lane " << c;
                EXPECT_NEAR (20.0 * std::log10 (fittedAmplitude (highLane, settle, w[c])), -6.0206, 1e-3) << "lane " << c;

                for (size_t n = settle; n < numSamples; ++n)
                {
                    const auto x = (double) input[n].get (c);
                    ASSERT_NEAR (low[n].get (c), -0.5 * x, 2e-5) << "lane " << c << " sample " << n;
                    ASSERT_NEAR (high[n].get (c), -0.5 * x, 2e-5) << "lane " << c << " sample " << n;
                }
            }
        }
    }
}

// Low + high of a crossover is its second-order all-pass, sample by sample, on noise.
TEST (LRFilterSIMD, LowPlusHighIsTheAllPass)
{
    constexpr double sampleRate = 48000.0;
    constexpr size_t numSamples = 6000;
    const double cutoffs[] = { 30.0, 1000.0, 12000.0 };

    for (const auto cutoff : cutoffs)
    {
        SCOPED_TRACE (std::to_string (cutoff) + " Hz");

        auto noise = makeNoise (4, (int) numSamples, 7);
        std::vector<Register> low (numSamples), io (numSamples);

        for (size_t n = 0; n < numSamples; ++n)
            for (size_t c = 0; c < 4; ++c)
                io[n].set (c, noise.getSample ((int) c, (int) n));

        LRFilterSIMD crossover;
        crossover.prepare (sampleRate);
        crossover.setCutoff (cutoff);
        crossover.processCrossover (low.data(), io.data(), numSamples);

        for (size_t c = 0; c < 4; ++c)
        {
            RefSvf reference;
            reference.setCutoff (cutoff, sampleRate);
            double maxError = 0.0;

            for (size_t n = 0; n < numSamples; ++n)
            {
                const auto expected = reference.tick (noise.getSample ((int) c, (int) n)).allPass;
                maxError = std::max (maxError, std::abs ((double) low[n].get (c) + (double) io[n].get (c) - expected));
            }

            EXPECT_LT (maxError, 2e-6) << "lane " << c;
        }
    }
}

// At exactly half the sample rate the section coefficients are g = tan (pi / 2), about 1.6e16,
// and h, about 3.7e-33: both poles of each section sit on z = -1, and the low-pass should pass
// everything, the high-pass nothing and the all-pass be the identity. Float sections cannot
// compute that. Rounding piles up in their undamped states until, within a second, the
// outputs are off by a good part of the signal; and with denormals flushed, as every block
// runs, (x - ...) * h underflows for quiet signals, which then vanish from every output.
TEST (LRFilterSIMD, SectionsAtExactlyHalfTheRateFailInFloat)
{
    constexpr size_t numSamples = 48000;  // one second at 48 kHz
    const float levels[] = { 0.5f, 0.5f, 1.0e-6f, 1.0e-6f };  // per lane: two loud, two quiet
    const auto noise = makeNoise (4, (int) numSamples, 41, 1.0f);

    const auto g = std::tan (pi * 0.5);
    const auto h = 1.0 / (g * g + sqrt2 * g + 1.0);
    LRFilterSIMD crossover, allPass;

    // Set by hand: setCutoff keeps the coefficients away from half the rate.
    for (auto* f : { &crossover, &allPass })
    {
        f->g = Register::expand ((float) g);
        f->h = Register::expand ((float) h);
    }

    std::vector<Register> input (numSamples), low (numSamples), high (numSamples), allPassed (numSamples);

    for (size_t n = 0; n < numSamples; ++n)
        for (size_t c = 0; c < 4; ++c)
            input[n].set (c, levels[c] * noise.getSample ((int) c, (int) n));

    high = input;
    allPassed = input;

    {
        const juce::ScopedNoDenormals noDenormals;
        crossover.processCrossover (low.data(), high.data(), numSamples);
        allPass.processAllPass (allPassed.data(), numSamples);
    }

    for (size_t c = 0; c < 4; ++c)
    {
        double lowError = 0.0, highPeak = 0.0, allPassError = 0.0, lowPeak = 0.0, allPassPeak = 0.0;

        for (size_t n = 0; n < numSamples; ++n)
        {
            const auto x = (double) input[n].get (c);
            lowError = std::max (lowError, std::abs (low[n].get (c) - x));
            highPeak = std::max (highPeak, (double) std::abs (high[n].get (c)));
            allPassError = std::max (allPassError, std::abs (allPassed[n].get (c) - x));
            lowPeak = std::max (lowPeak, (double) std::abs (low[n].get (c)));
            allPassPeak = std::max (allPassPeak, (double) std::abs (allPassed[n].get (c)));
        }

        if (levels[c] > 0.1f)
        {
            // Errors of more than a tenth of the signal where there should be none.
            EXPECT_GT (lowError + highPeak, 0.1 * levels[c]) << "lane " << c;
            EXPECT_GT (allPassError, 0.1 * levels[c]) << "lane " << c;
        }
        else
        {
            EXPECT_EQ (lowPeak, 0.0) << "lane " << c;
            EXPECT_EQ (highPeak, 0.0) << "lane " << c;
            EXPECT_EQ (allPassPeak, 0.0) << "lane " << c;
        }
    }
}

// So a filter whose cutoff lies at or above half its sample rate takes no part in the
// arithmetic: as a crossover it hands the whole input to its low output and nothing to its
// high one, as an all-pass it leaves the signal alone.
TEST (LRFilterSIMD, AtOrAboveHalfTheRateTheFilterPassesEverything)
{
    struct Case
    {
        double cutoff, sampleRate;
        bool passes;
    };

    const Case cases[] = { { 24000.0, 48000.0, true }, { 30000.0, 48000.0, true }, { 22050.0, 44100.0, true },
                           { 23999.0, 48000.0, false }, { 20000.0, 44100.0, false }, { 24000.0, 96000.0, false } };

    for (const auto& tc : cases)
    {
        SCOPED_TRACE (std::to_string (tc.cutoff) + " Hz at " + std::to_string (tc.sampleRate));

        LRFilterSIMD crossover, allPass;

        for (auto* f : { &crossover, &allPass })
        {
            f->prepare (tc.sampleRate);
            f->setCutoff (tc.cutoff);
            EXPECT_EQ (f->passesEverything(), tc.passes);
        }

        if (! tc.passes)
            continue;

        const auto noise = makeNoise (4, 1000, 43);
        std::vector<Register> low (1000), io (1000);

        for (size_t n = 0; n < io.size(); ++n)
            for (size_t c = 0; c < 4; ++c)
                io[n].set (c, noise.getSample ((int) c, (int) n));

        auto allPassed = io;
        const auto input = io;
        crossover.processCrossover (low.data(), io.data(), io.size());
        allPass.processAllPass (allPassed.data(), allPassed.size());

        for (size_t n = 0; n < io.size(); ++n)
        {
            for (size_t c = 0; c < 4; ++c)
            {
                ASSERT_EQ (low[n].get (c), input[n].get (c)) << "sample " << n;
                ASSERT_EQ (io[n].get (c), 0.0f) << "sample " << n;
                ASSERT_EQ (allPassed[n].get (c), input[n].get (c)) << "sample " << n;
            }
        }
    }
}

//==============================================================================
struct SplitCase
{
    const char* name;
    double sampleRate;
    std::vector<float> crossovers; // one per band, the last one splits nothing
    double tolerance;              // of full scale
};

// Float rounding in the sections (not in the coefficients) grows as a cutoff nears half the
// sample rate: crossovers up to 0.4 fs stay within about 1e-6 of the double-precision result,
// 20 kHz at 44.1 kHz (0.45 fs) within about 5e-6.
const std::vector<SplitCase> splitCases {
    { "2 bands at 1 kHz", 48000.0, { 1000.0f, 20000.0f }, 2e-6 },
    { "3 bands", 44100.0, { 250.0f, 4000.0f, 20000.0f }, 2e-6 },
    { "4 bands", 48000.0, { 100.0f, 1000.0f, 8000.0f, 20000.0f }, 2e-6 },
    { "5 bands at 96 kHz", 96000.0, { 60.0f, 300.0f, 1500.0f, 7000.0f, 20000.0f }, 2e-6 },
    { "6 bands", 48000.0, { 150.0f, 400.0f, 900.0f, 2500.0f, 9000.0f, 20000.0f }, 2e-6 },
    { "7 bands", 44100.0, { 50.0f, 120.0f, 350.0f, 1000.0f, 3500.0f, 11000.0f, 20000.0f }, 2e-6 },
    { "8 bands", 48000.0, { 80.0f, 200.0f, 500.0f, 1200.0f, 3000.0f, 6000.0f, 12000.0f, 20000.0f }, 2e-6 },
    { "8 bands, low crossovers", 44100.0, { 20.0f, 40.0f, 80.0f, 160.0f, 320.0f, 640.0f, 1280.0f, 20000.0f }, 2e-6 },
    { "8 bands, unsorted and repeated", 44100.0, { 2000.0f, 500.0f, 500.0f, 10000.0f, 300.0f, 15000.0f, 6000.0f, 20000.0f }, 2e-6 },
    { "8 bands up to 20 kHz at 48 kHz", 48000.0, { 2000.0f, 4000.0f, 7000.0f, 10000.0f, 14000.0f, 18000.0f, 20000.0f, 20000.0f }, 8e-6 },
    { "4 bands up to 20 kHz at 44.1 kHz", 44100.0, { 5000.0f, 12000.0f, 20000.0f, 20000.0f }, 8e-6 },
};

class BandSplitterTest : public ::testing::Test
{
protected:
    void prepare (double sampleRate, int numChannels = 2)
    {
        splitter.prepare ({ sampleRate, (juce::uint32) maxBlock, (juce::uint32) numChannels });
    }

    Splitter splitter;
};

// Each band against the tree computed in double precision, and the sum of the bands against the
// all-pass cascade of the crossovers, over blocks of irregular sizes.
TEST_F (BandSplitterTest, BandsMatchTheTreeAndAddUpToTheAllPassCascade)
{
    constexpr int numSamples = 5000;

    for (const auto& tc : splitCases)
    {
        SCOPED_TRACE (tc.name);
        prepare (tc.sampleRate);

        auto input = makeNoise (2, numSamples, 11);
        const auto bands = runSplitter (splitter, input, tc.crossovers);
        const auto n = tc.crossovers.size();

        for (int c = 0; c < 2; ++c)
        {
            RefSplitter reference (tc.sampleRate);
            reference.setCrossovers (tc.crossovers);
            RefAllPassCascade cascade (tc.crossovers, tc.sampleRate);
            std::vector<double> expected (n);
            std::vector<double> bandError (n, 0.0);
            double sumError = 0.0;

            for (int i = 0; i < numSamples; ++i)
            {
                const auto x = (double) input.getSample (c, i);
                reference.tick (x, n, expected.data());
                double sum = 0.0;

                for (size_t b = 0; b < n; ++b)
                {
                    const auto actual = (double) bands[b].getSample (c, i);
                    bandError[b] = std::max (bandError[b], std::abs (actual - expected[b]));
                    sum += actual;
                }

                sumError = std::max (sumError, std::abs (sum - cascade.tick (x)));
            }

            EXPECT_LT (sumError, tc.tolerance) << "channel " << c;

            for (size_t b = 0; b < n; ++b)
                EXPECT_LT (bandError[b], tc.tolerance) << "channel " << c << " band " << b;
        }
    }
}

// A steady sine at crossover k: band k and the bands above it together (which are the two
// outputs of crossover k, after the high-passes below it and ahead of the all-passes above it)
// each carry half of what reaches crossover k.
TEST_F (BandSplitterTest, BandsMeetAtMinusSixDecibelsAtTheCrossover)
{
    struct Case
    {
        double sampleRate;
        std::vector<float> crossovers;
        size_t crossover; // the one the sine sits on
    };

    const Case cases[] = {
        { 48000.0, { 1000.0f, 20000.0f }, 0 },
        { 44100.0, { 200.0f, 2000.0f, 9000.0f, 20000.0f }, 1 },
        { 48000.0, { 80.0f, 200.0f, 500.0f, 1200.0f, 3000.0f, 6000.0f, 12000.0f, 20000.0f }, 5 },
        { 48000.0, { 80.0f, 200.0f, 500.0f, 1200.0f, 3000.0f, 6000.0f, 12000.0f, 20000.0f }, 0 },
    };

    for (const auto& tc : cases)
    {
        SCOPED_TRACE (std::to_string (tc.crossovers.size()) + " bands, crossover " + std::to_string (tc.crossover));
        prepare (tc.sampleRate);

        const auto numSamples = (int) (tc.sampleRate * 0.2);
        const auto settle = (size_t) (tc.sampleRate * 0.15);
        const double frequency = tc.crossovers[tc.crossover];
        const auto w = 2.0 * pi * frequency / tc.sampleRate;
        juce::AudioBuffer<float> input (2, numSamples);

        for (int i = 0; i < numSamples; ++i)
            for (int c = 0; c < 2; ++c)
                input.setSample (c, i, (float) std::sin (w * i + c));

        const auto bands = runSplitter (splitter, input, tc.crossovers, { maxBlock });

        // What reaches crossover k: the sine through the high-passes of the crossovers below.
        auto reaching = 1.0;

        for (size_t j = 0; j < tc.crossover; ++j)
            reaching *= std::norm (responsesAt (frequency, tc.crossovers[j], tc.sampleRate).high2);

        for (int c = 0; c < 2; ++c)
        {
            std::vector<double> low ((size_t) numSamples), high ((size_t) numSamples, 0.0);

            for (int i = 0; i < numSamples; ++i)
            {
                low[(size_t) i] = bands[tc.crossover].getSample (c, i);

                for (size_t b = tc.crossover + 1; b < bands.size(); ++b)
                    high[(size_t) i] += bands[b].getSample (c, i);
            }

            EXPECT_NEAR (20.0 * std::log10 (fittedAmplitude (low, settle, w) / reaching), -6.0206, 1e-3) << "channel " << c;
            EXPECT_NEAR (20.0 * std::log10 (fittedAmplitude (high, settle, w) / reaching), -6.0206, 1e-3) << "channel " << c;
        }
    }
}

// A crossover at or above half the sample rate is a crossover at exactly half the rate: the
// band below it gets everything that reaches it, the bands above it get nothing, and its
// all-pass is the identity, as the tree computed in double precision gives. The bands and
// the dry path's all-pass chain stay on the double-precision results whatever the other
// crossovers do, sorted or not.
TEST_F (BandSplitterTest, CrossoverAtOrAboveHalfTheRateSplitsAtHalfTheRate)
{
    struct Case
    {
        const char* name;
        double sampleRate;
        std::vector<float> crossovers;
    };

    const Case cases[] = {
        { "at half the rate", 48000.0, { 1000.0f, 24000.0f, 20000.0f } },
        { "above half the rate", 48000.0, { 1000.0f, 30000.0f, 20000.0f } },
        { "at half of 32 kHz", 32000.0, { 1000.0f, 16000.0f, 20000.0f } },
        { "the first crossover, one below it after it", 44100.0, { 22050.0f, 1000.0f, 20000.0f } },
        { "two of them between real ones", 48000.0, { 500.0f, 30000.0f, 3000.0f, 24000.0f, 9000.0f, 20000.0f } },
    };

    constexpr int numSamples = 48000;

    for (const auto& tc : cases)
    {
        SCOPED_TRACE (tc.name);
        prepare (tc.sampleRate);

        // The filters the split stands for: every crossover limited to half the rate.
        std::vector<float> limited;
        for (const auto c : tc.crossovers)
            limited.push_back (std::min (c, (float) (0.5 * tc.sampleRate)));

        const auto n = tc.crossovers.size();
        auto input = makeNoise (1, numSamples, 29);
        const auto bands = runSplitter (splitter, input, tc.crossovers);

        RefSplitter reference (tc.sampleRate);
        reference.setCrossovers (limited);
        std::vector<double> expected (n);
        std::vector<double> bandError (n, 0.0);

        for (int i = 0; i < numSamples; ++i)
        {
            reference.tick (input.getSample (0, i), n, expected.data());

            for (size_t b = 0; b < n; ++b)
                bandError[b] = std::max (bandError[b], std::abs ((double) bands[b].getSample (0, i) - expected[b]));
        }

        for (size_t b = 0; b < n; ++b)
            EXPECT_LT (bandError[b], 2e-6) << "band " << b;

        // The dry path's chain over the same noise.
        Splitter chainSplitter;
        chainSplitter.prepare ({ tc.sampleRate, (juce::uint32) maxBlock, 2 });
        std::vector<Register> chained ((size_t) numSamples);

        for (size_t i = 0; i < chained.size(); ++i)
            chained[i] = Register::expand (input.getSample (0, (int) i));

        for (size_t pos = 0, i = 0; pos < chained.size(); ++i)
        {
            const auto length = juce::jmin ((size_t) irregularBlocks[i % irregularBlocks.size()], chained.size() - pos);
            chainSplitter.updateCrossovers (tc.crossovers);
            Register* channel = chained.data() + pos;
            chainSplitter.processAllPassChain (juce::dsp::AudioBlock<Register> (&channel, 1, length), (int) n);
            pos += length;
        }

        RefAllPassCascade cascade (limited, tc.sampleRate);
        double chainError = 0.0;

        for (size_t i = 0; i < chained.size(); ++i)
            chainError = std::max (chainError, std::abs ((double) chained[i].get (0) - cascade.tick (input.getSample (0, (int) i))));

        EXPECT_LT (chainError, 2e-6);
    }
}

// The dry path's chain of element-0 all-passes gives a signal the phase of the summed bands:
// the all-pass cascade of the crossovers, and exactly what processAllPass of each element in
// turn gives.
TEST_F (BandSplitterTest, AllPassChainIsTheCascadeOfTheCrossovers)
{
    constexpr size_t numSamples = 3000;

    for (const auto& tc : splitCases)
    {
        SCOPED_TRACE (tc.name);
        const auto n = tc.crossovers.size();

        Splitter stepwise;
        prepare (tc.sampleRate);
        stepwise.prepare ({ tc.sampleRate, (juce::uint32) maxBlock, 2 });

        auto noise = makeNoise (4, (int) numSamples, 31);
        std::vector<Register> chained (numSamples);

        for (size_t i = 0; i < numSamples; ++i)
            for (size_t c = 0; c < 4; ++c)
                chained[i].set (c, noise.getSample ((int) c, (int) i));

        auto separate = chained;

        for (size_t pos = 0, i = 0; pos < numSamples; ++i)
        {
            const auto length = juce::jmin ((size_t) irregularBlocks[i % irregularBlocks.size()], numSamples - pos);
            splitter.updateCrossovers (tc.crossovers);
            stepwise.updateCrossovers (tc.crossovers);

            Register* channel = chained.data() + pos;
            juce::dsp::AudioBlock<Register> view (&channel, 1, length);
            splitter.processAllPassChain (view, (int) n);

            for (size_t j = 0; j + 1 < n; ++j)
                stepwise.getAllPassSet ((int) j)[0].processAllPass (separate.data() + pos, length);

            pos += length;
        }

        for (size_t c = 0; c < 4; ++c)
        {
            RefAllPassCascade cascade (tc.crossovers, tc.sampleRate);
            double maxError = 0.0;

            for (size_t i = 0; i < numSamples; ++i)
            {
                const auto a = chained[i].get (c), b = separate[i].get (c);
                ASSERT_EQ (std::memcmp (&a, &b, sizeof (float)), 0) << "lane " << c << " sample " << i;
                maxError = std::max (maxError, std::abs ((double) a - cascade.tick (noise.getSample ((int) c, (int) i))));
            }

            EXPECT_LT (maxError, tc.tolerance) << "lane " << c;
        }
    }

    // One band: nothing to compensate, the registers stay as they are.
    std::vector<Register> registers (10, Register::expand (0.3f));
    Register* channel = registers.data();
    juce::dsp::AudioBlock<Register> view (&channel, 1, registers.size());
    splitter.processAllPassChain (view, 1);

    for (const auto& r : registers)
        EXPECT_EQ (r.get (0), 0.3f);
}

TEST_F (BandSplitterTest, OneBandCopiesTheInputBitExactly)
{
    const float specials[] = { -0.0f, 1.0e-40f, -3.0e38f, 1.0f, std::numeric_limits<float>::quiet_NaN(),
                               std::numeric_limits<float>::infinity(), 0.123456789f };

    for (const int numChannels : { 1, 2, 4 })
    {
        SCOPED_TRACE ("channels " + std::to_string (numChannels));
        prepare (44100.0, numChannels);

        auto input = makeNoise (numChannels, 700, 3);

        for (int c = 0; c < numChannels; ++c)
            for (int i = 0; i < (int) std::size (specials); ++i)
                input.setSample (c, 100 * c + 3 * i, specials[i]);

        const auto bands = runSplitter (splitter, input, { 1000.0f });

        for (int c = 0; c < numChannels; ++c)
            EXPECT_EQ (std::memcmp (bands[0].getReadPointer (c), input.getReadPointer (c), sizeof (float) * 700), 0)
                << "channel " << c;
    }
}

// Lanes past the block's channels are fed from the scratch block; filtering them never touches
// the real channels, and the ones without a band buffer channel go back to the scratch.
TEST_F (BandSplitterTest, LanesPastTheChannelsUseTheScratch)
{
    struct Case
    {
        const char* name;
        size_t numPointers;
        bool nullSecond;
        size_t numReal; // lanes that come from the block
    };

    const Case cases[] = {
        { "two channels", 2, false, 2 },
        { "one channel", 1, false, 1 },
        { "null channel 1", 2, true, 1 },
    };

    const std::vector<float> list { 300.0f, 2000.0f, 9000.0f, 20000.0f };
    constexpr double sampleRate = 48000.0;
    constexpr int length = 300;
    const auto n = list.size();

    for (const auto& tc : cases)
    {
        SCOPED_TRACE (tc.name);

        // Splitter A has loud noise in its scratch lanes, splitter B a clean scratch.
        Splitter clean;
        prepare (sampleRate);
        clean.prepare ({ sampleRate, (juce::uint32) maxBlock, 2 });

        auto scratchNoise = makeNoise (4, maxBlock, 21, 1.0f);
        auto& scratch = splitter.getSIMDInterface().getScratchBlock();

        for (int c = 0; c < 4; ++c)
            for (int i = 0; i < maxBlock; ++i)
                scratch.setSample (c, i, scratchNoise.getSample (c, i));

        auto input = makeNoise (2, 4 * length, 5);
        float* pointers[] = { input.getWritePointer (0), tc.nullSecond ? nullptr : input.getWritePointer (1) };

        std::vector<RefSplitter> references (4, RefSplitter (sampleRate));
        std::vector<double> expected (n);

        for (int block = 0; block < 4; ++block)
        {
            float* blockPointers[] = { pointers[0] + block * length, pointers[1] == nullptr ? nullptr : pointers[1] + block * length };
            juce::dsp::AudioBlock<float> audio (blockPointers, tc.numPointers, (size_t) length);

            for (auto* s : { &splitter, &clean })
            {
                s->numBands = (int) n;
                s->updateCrossovers (list);
                s->process (audio);
            }

            for (size_t b = 0; b < n; ++b)
                for (size_t c = 0; c < tc.numReal; ++c)
                    ASSERT_EQ (std::memcmp (splitter.getBand ((int) b).getReadPointer ((int) c),
                                            clean.getBand ((int) b).getReadPointer ((int) c), sizeof (float) * length), 0)
                        << "block " << block << " band " << b << " channel " << c;

            if (block > 0)
                continue;

            // First block: every lane against the reference, the scratch lanes fed with the noise.
            for (auto& r : references)
                r.setCrossovers (list);

            for (int i = 0; i < length; ++i)
            {
                for (size_t c = 0; c < 4; ++c)
                {
                    const auto x = c < tc.numReal ? input.getSample ((int) c, i) : scratchNoise.getSample ((int) c, i);
                    references[c].tick (x, n, expected.data());

                    if (c < 2)
                    {
                        for (size_t b = 0; b < n; ++b)
                            ASSERT_NEAR (splitter.getBand ((int) b).getSample ((int) c, i), expected[b], 2e-6)
                                << "lane " << c << " band " << b << " sample " << i;
                    }
                    else
                    {
                        // The last band spread is the top one.
                        ASSERT_NEAR (scratch.getSample ((int) c, i), expected[n - 1], 2e-6) << "lane " << c << " sample " << i;
                    }
                }
            }

            for (int c = 2; c < 4; ++c)
                for (int i = length; i < maxBlock; ++i)
                    ASSERT_EQ (scratch.getSample (c, i), scratchNoise.getSample (c, i)) << "lane " << c << " sample " << i;
        }
    }
}

// The last list entry splits nothing: changing it leaves every band bit-identical, but its
// crossover filter follows it and is in place when the band count grows.
TEST_F (BandSplitterTest, LastCrossoverChangesNoOutputButUpdatesItsFilter)
{
    struct Case
    {
        std::vector<float> list, otherLast;
    };

    const Case cases[] = {
        { { 1000.0f, 7000.0f }, { 1000.0f, 9000.0f } },
        { { 300.0f, 3000.0f, 7000.0f }, { 300.0f, 3000.0f, 9000.0f } },
        { { 80.0f, 200.0f, 500.0f, 1200.0f, 3000.0f, 6000.0f, 12000.0f, 15000.0f },
          { 80.0f, 200.0f, 500.0f, 1200.0f, 3000.0f, 6000.0f, 12000.0f, 19000.0f } },
    };

    constexpr double sampleRate = 48000.0;

    for (const auto& tc : cases)
    {
        const auto n = tc.list.size();
        SCOPED_TRACE (std::to_string (n) + " bands");

        Splitter other;
        prepare (sampleRate);
        other.prepare ({ sampleRate, (juce::uint32) maxBlock, 2 });

        auto input = makeNoise (2, 3000, 9);
        const auto bands = runSplitter (splitter, input, tc.list);
        const auto otherBands = runSplitter (other, input, tc.otherLast);

        for (size_t b = 0; b < n; ++b)
            for (int c = 0; c < 2; ++c)
                EXPECT_EQ (std::memcmp (bands[b].getReadPointer (c), otherBands[b].getReadPointer (c), sizeof (float) * 3000), 0)
                    << "band " << b << " channel " << c;

        EXPECT_EQ (splitter.getCrossoverFilter ((int) n - 1).getCutoff(), (double) tc.list.back());
        EXPECT_EQ (other.getCrossoverFilter ((int) n - 1).getCutoff(), (double) tc.otherLast.back());
        EXPECT_EQ (other.getAllPassSet ((int) n - 1)[0].getCutoff(), (double) tc.otherLast.back());
        EXPECT_EQ (other.getCrossover ((int) n - 1), tc.otherLast.back());

        if (n == 8)
            continue;

        // One more band, the former last entry unchanged: the split there uses the filter the
        // earlier update set up.
        auto grown = tc.otherLast;
        grown.push_back (20000.0f);

        auto more = makeNoise (2, 2000, 10);
        const auto grownBands = runSplitter (other, more, grown);

        for (int c = 0; c < 2; ++c)
        {
            // Reference with the same history: the first run, then the grown one.
            RefSplitter reference (sampleRate);
            std::vector<double> expected (n + 1);
            reference.setCrossovers (tc.otherLast);

            for (int i = 0; i < 3000; ++i)
                reference.tick (input.getSample (c, i), n, expected.data());

            reference.setCrossovers (grown);
            double maxError = 0.0;

            for (int i = 0; i < 2000; ++i)
            {
                reference.tick (more.getSample (c, i), n + 1, expected.data());

                for (size_t b = 0; b <= n; ++b)
                    maxError = std::max (maxError, std::abs ((double) grownBands[b].getSample (c, i) - expected[b]));
            }

            EXPECT_LT (maxError, 2e-6) << "channel " << c;
        }
    }
}

// Preparation sets every remembered crossover to 20000 Hz while the filters still hold their
// previous (or construction) cutoffs; the first update after it must still bring every listed
// crossover filter to its value, including a value of exactly 20000 Hz.
TEST_F (BandSplitterTest, FirstUpdateAfterPreparationReachesEveryFilter)
{
    struct Case
    {
        const char* name;
        std::vector<std::vector<float>> updates; // in order, after one preparation
    };

    const Case cases[] = {
        { "20 kHz in the first update", { { 1000.0f, 20000.0f, 20000.0f } } },
        { "after an empty update", { {}, { 1000.0f, 20000.0f, 20000.0f } } },
        { "20 kHz entry added when the band count grows", { { 1000.0f, 20000.0f }, { 1000.0f, 20000.0f, 20000.0f } } },
    };

    constexpr double sampleRate = 48000.0;

    for (const auto& tc : cases)
    {
        SCOPED_TRACE (tc.name);
        Splitter fresh;
        fresh.prepare ({ sampleRate, (juce::uint32) maxBlock, 2 });

        for (const auto& list : tc.updates)
            fresh.updateCrossovers (list);

        const auto& last = tc.updates.back();

        for (size_t k = 0; k < last.size(); ++k)
        {
            EXPECT_EQ (fresh.getCrossover ((int) k), last[k]) << "crossover " << k;
            EXPECT_EQ (fresh.getCrossoverFilter ((int) k).getCutoff(), (double) last[k]) << "crossover " << k;
            EXPECT_EQ (fresh.getAllPassSet ((int) k)[0].getCutoff(), (double) last[k]) << "crossover " << k;
            EXPECT_EQ (fresh.getCrossoverFilter ((int) k).g.get (0), (float) std::tan (pi * last[k] / sampleRate)) << "crossover " << k;
        }

        // The split really happens at 20 kHz.
        auto input = makeNoise (2, 2000, 13);
        const auto bands = runSplitter (fresh, input, last);
        RefSplitter reference (sampleRate);
        reference.setCrossovers (last);
        std::vector<double> expected (last.size());
        double maxError = 0.0;

        for (int i = 0; i < 2000; ++i)
        {
            reference.tick (input.getSample (0, i), last.size(), expected.data());

            for (size_t b = 0; b < last.size(); ++b)
                maxError = std::max (maxError, std::abs ((double) bands[b].getSample (0, i) - expected[b]));
        }

        EXPECT_LT (maxError, 2e-6);
    }

    // A preparation at another rate keeps the cutoffs, restarts the states and forces the
    // next update again.
    prepare (44100.0);
    const std::vector<float> list { 500.0f, 3000.0f, 20000.0f };
    auto first = makeNoise (2, 1500, 17);
    runSplitter (splitter, first, list);

    prepare (96000.0);

    for (size_t k = 0; k < list.size(); ++k)
    {
        EXPECT_EQ (splitter.getCrossover ((int) k), 20000.0f);
        EXPECT_EQ (splitter.getCrossoverFilter ((int) k).getCutoff(), (double) list[k]);
        EXPECT_EQ (splitter.getCrossoverFilter ((int) k).getSampleRate(), 96000.0);
    }

    auto second = makeNoise (2, 1500, 19);
    const auto bands = runSplitter (splitter, second, list);
    RefSplitter reference (96000.0);
    reference.setCrossovers (list);
    std::vector<double> expected (list.size());
    double maxError = 0.0;

    for (int i = 0; i < 1500; ++i)
    {
        reference.tick (second.getSample (1, i), list.size(), expected.data());

        for (size_t b = 0; b < list.size(); ++b)
            maxError = std::max (maxError, std::abs ((double) bands[b].getSample (1, i) - expected[b]));
    }

    EXPECT_LT (maxError, 2e-6);
}

// The compensation all-passes of a band sit at the crossovers above it. A crossover that moves
// while the band count is low has no compensation to move; when the count grows back with the
// same list, those compensations must follow although no list entry differs from the last.
TEST_F (BandSplitterTest, CompensationsFollowWhenTheBandCountGrowsBack)
{
    struct Case
    {
        const char* name;
        std::vector<std::vector<float>> updates;
    };

    const Case cases[] = {
        { "second crossover moved at two bands",
          { { 500.0f, 2000.0f, 8000.0f, 20000.0f }, { 500.0f, 3000.0f }, { 500.0f, 3000.0f, 8000.0f, 20000.0f } } },
        { "third crossover moved at three bands",
          { { 300.0f, 1000.0f, 4000.0f, 9000.0f, 20000.0f }, { 300.0f, 1000.0f, 6000.0f },
            { 300.0f, 1000.0f, 6000.0f, 9000.0f, 20000.0f } } },
        { "unchanged list repeated", { { 700.0f, 5000.0f, 20000.0f }, { 700.0f, 5000.0f, 20000.0f } } },
    };

    constexpr double sampleRate = 48000.0;

    for (const auto& tc : cases)
    {
        SCOPED_TRACE (tc.name);
        prepare (sampleRate);

        for (const auto& list : tc.updates)
            splitter.updateCrossovers (list);

        const auto& last = tc.updates.back();
        const auto n = last.size();

        for (size_t j = 0; j < n; ++j)
            for (size_t k = j + 1; k + 1 < n; ++k)
                EXPECT_EQ (splitter.getAllPassSet ((int) j)[k - j].getCutoff(), (double) last[k])
                    << "band " << j << " compensation at crossover " << k;

        auto input = makeNoise (2, 2000, 23);
        const auto bands = runSplitter (splitter, input, last);
        RefSplitter reference (sampleRate);
        reference.setCrossovers (last);
        std::vector<double> expected (n);
        double maxError = 0.0;

        for (int i = 0; i < 2000; ++i)
        {
            reference.tick (input.getSample (0, i), n, expected.data());

            for (size_t b = 0; b < n; ++b)
                maxError = std::max (maxError, std::abs ((double) bands[b].getSample (0, i) - expected[b]));
        }

        EXPECT_LT (maxError, 2e-6);
    }
}

TEST_F (BandSplitterTest, BandBuffersAndTheirClearFlags)
{
    prepare (48000.0, 2);

    for (int b = 0; b < 8; ++b)
    {
        EXPECT_EQ (splitter.getBand (b).getNumChannels(), 2);
        EXPECT_EQ (splitter.getBand (b).getNumSamples(), maxBlock);
        EXPECT_TRUE (splitter.getBand (b).hasBeenCleared());
        EXPECT_EQ (splitter.getAllPassSet (b).size(), (size_t) (8 - b));
    }

    auto input = makeNoise (2, maxBlock, 23);
    juce::dsp::AudioBlock<float> block (input);
    const std::vector<float> list { 400.0f, 5000.0f, 20000.0f };

    splitter.numBands = 3;
    splitter.updateCrossovers (list);
    splitter.process (block);

    for (int b = 0; b < 8; ++b)
        EXPECT_EQ (splitter.getBand (b).hasBeenCleared(), b >= 3) << "band " << b;

    // A shorter block only rewrites its own samples.
    for (int c = 0; c < 2; ++c)
        for (int i = 10; i < maxBlock; ++i)
            splitter.getBand (1).setSample (c, i, 0.5f);

    splitter.updateCrossovers (list);
    splitter.process (block.getSubBlock (0, 10));

    for (int c = 0; c < 2; ++c)
        for (int i = 10; i < maxBlock; ++i)
            ASSERT_EQ (splitter.getBand (1).getSample (c, i), 0.5f);

    // A new preparation clears the buffers and marks them clear.
    prepare (48000.0, 2);

    for (int b = 0; b < 8; ++b)
    {
        EXPECT_TRUE (splitter.getBand (b).hasBeenCleared());

        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < maxBlock; ++i)
                ASSERT_EQ (splitter.getBand (b).getSample (c, i), 0.0f);
    }

    // With the states restarted, a block without a channel 0 splits silence.
    float* none[] = { nullptr, nullptr };
    splitter.updateCrossovers (list);
    splitter.process (juce::dsp::AudioBlock<float> (none, 2, 20));

    for (int b = 0; b < 3; ++b)
    {
        EXPECT_FALSE (splitter.getBand (b).hasBeenCleared());

        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 20; ++i)
                ASSERT_EQ (splitter.getBand (b).getSample (c, i), 0.0f);
    }
}

} // namespace
