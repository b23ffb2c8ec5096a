#include "BandSplitter.h"

namespace
{
    // g = tan (pi fc / fs) runs off to infinity at half the sample rate, where both section
    // poles land on z = -1 and float rounding builds up without ever decaying, and it turns
    // negative (an unstable filter) beyond. Close below half the rate the float sections
    // already stray from their response (by about 7e-5 of the signal at 0.49 fs, 2e-4 at
    // 0.495 fs, 6e-4 at 0.498 fs), so cutoffs are held inside this range for the
    // coefficients. Below 0.49 fs (every audible cutoff at 44.1 kHz and up) nothing changes;
    // from half the rate on the filter passes everything and the sections do not run.
    constexpr double maxCutoffRatio = 0.49;
}

LRFilterSIMD::LRFilterSIMD()
{
    updateCoefficients();
    reset();
}

void LRFilterSIMD::prepare (double newSampleRate)
{
    sampleRate = newSampleRate;
    updateCoefficients();
    reset();
}

void LRFilterSIMD::setCutoff (double frequency)
{
    cutoff = frequency;
    updateCoefficients();
}

void LRFilterSIMD::reset() noexcept
{
    s1 = s2 = s3 = s4 = Register::expand (0.0f);
}

void LRFilterSIMD::updateCoefficients()
{
    const auto frequency = juce::jlimit (0.0, maxCutoffRatio * sampleRate, cutoff);
    const auto gd = std::tan (juce::MathConstants<double>::pi * frequency / sampleRate);
    const auto hd = 1.0 / (gd * gd + juce::MathConstants<double>::sqrt2 * gd + 1.0);

    g = Register::expand ((float) gd);
    R2 = Register::expand (juce::MathConstants<float>::sqrt2);
    h = Register::expand ((float) hd);
}

void LRFilterSIMD::processCrossover (Register* low, Register* io, size_t n) noexcept
{
    if (passesEverything())
    {
        std::copy (io, io + n, low);
        std::fill (io, io + n, Register::expand (0.0f));
        return;
    }

    CrossoverState state (*this);

    for (size_t i = 0; i < n; ++i)
    {
        Register high;
        low[i] = state.process (io[i], high);
        io[i] = high;
    }

    state.store (*this);
}

void LRFilterSIMD::processAllPass (Register* io, size_t n) noexcept
{
    if (passesEverything())
        return;

    AllPassState state (*this);

    for (size_t i = 0; i < n; ++i)
        io[i] = state.process (io[i]);

    state.store (*this);
}
