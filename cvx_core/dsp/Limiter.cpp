namespace cvx::dsp
{

Limiter::Limiter() = default;

void Limiter::prepare (const juce::dsp::ProcessSpec& setup)
{
    detector.setSize (1, (int) juce::jmax ((juce::uint32) 1, setup.maximumBlockSize), false, false, true);
    sampleRate = (float) setup.sampleRate;
    releaseCoefficient = std::exp (-1.0f / (releaseMilliseconds / 1000.0f * sampleRate));
    attackCoefficient = 0.0f;
    reset();
}

void Limiter::reset() noexcept
{
    envelope = 0.0f;
}

void Limiter::limit (const juce::dsp::AudioBlock<float>& block) noexcept
{
    jassert (block.getNumSamples() <= (size_t) detector.getNumSamples());
    const auto numSamples = (int) juce::jmin (block.getNumSamples(), (size_t) detector.getNumSamples());

    if (numSamples == 0)
        return;

    detectPeaks (block, numSamples);
    followEnvelope (numSamples);

    using namespace lanes;
    const auto* levels = detector.getReadPointer (0);

    // A sample whose envelope lies under the ceiling is kept as it is.
    const auto limitAt = [levels] (auto ceilingValue, float* samples, int i)
    {
        using Value = decltype (ceilingValue);
        const auto level = loadValue<Value> (levels + i);
        const auto x = loadValue<Value> (samples + i);
        store (samples + i, select (greaterThan (level, ceilingValue), x * divide (ceilingValue, level), x));
    };

    for (size_t ch = 0; ch < block.getNumChannels(); ++ch)
    {
        auto* samples = block.getChannelPointer (ch);
        int i = 0;

       #if CVX_USE_SSE_INTRINSICS
        for (const Lanes fourCeilings (ceiling); i + 4 <= numSamples; i += 4)
            limitAt (fourCeilings, samples, i);
       #endif

        for (; i < numSamples; ++i)
            limitAt (ceiling, samples, i);
    }
}

void Limiter::detectPeaks (const juce::dsp::AudioBlock<float>& block, int numSamples) noexcept
{
    detector.clear (0, numSamples);
    auto* peaks = detector.getWritePointer (0);

    for (size_t ch = 0; ch < block.getNumChannels(); ++ch)
    {
        const auto* x = block.getChannelPointer (ch);

        for (int i = 0; i < numSamples; ++i)
            peaks[i] = std::max (peaks[i], std::abs (x[i]));
    }
}

void Limiter::followEnvelope (int numSamples) noexcept
{
    auto* levels = detector.getWritePointer (0);
    auto level = envelope;

    for (int i = 0; i < numSamples; ++i)
    {
        const auto peak = levels[i];
        const auto coefficient = peak > level ? attackCoefficient : releaseCoefficient;
        level = (level - peak) * coefficient + peak;
        levels[i] = level;
    }

    envelope = level;
}

} // namespace cvx::dsp
