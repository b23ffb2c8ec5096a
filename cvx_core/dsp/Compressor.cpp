namespace cvx::dsp
{

namespace
{
    /** Whole samples of a delay given in seconds, limited to 0 ... limit. A lookahead handed in
        as a sample count divided by the rate comes back as that count: the float quotient can
        sit just below the whole number, so a relative margin far above its rounding error
        (2^-24) is allowed before truncating. */
    int secondsToDelaySamples (float seconds, float rate, int limit) noexcept
    {
        const auto samples = (double) seconds * (double) rate;

        if (! (samples > 0.0))
            return 0;

        if (samples >= (double) limit)
            return limit;

        return juce::jmin (limit, (int) (samples * (1.0 + 1.0e-6)));
    }

    /** condition ? a : b, as a bit mask. Both values are then computed on every pass, so the
        compiler keeps the gain loops branch-free and vectorises them, which it will not do
        for a division it could move behind the condition. */
    inline float bitSelect (bool condition, float a, float b) noexcept
    {
        std::uint32_t bitsA, bitsB;
        std::memcpy (&bitsA, &a, sizeof (float));
        std::memcpy (&bitsB, &b, sizeof (float));
        const auto mask = 0u - (std::uint32_t) condition;
        const auto bits = (bitsA & mask) | (bitsB & ~mask);
        float result;
        std::memcpy (&result, &bits, sizeof (float));
        return result;
    }
}

Compressor::Compressor (int m)
    : mode (m)
{
}

Compressor::~Compressor() = default;

void Compressor::prepare (juce::dsp::ProcessSpec setup, float maximumDelaySeconds)
{
    sampleRate = (float) setup.sampleRate;
    maximumBlockSize = (int) setup.maximumBlockSize;
    const auto numChannels = (int) setup.numChannels;

    detector.setSize (1, juce::jmax (1, maximumBlockSize), false, false, true);
    detector.clear();
    gains.calloc ((size_t) juce::jmax (1, maximumBlockSize));

    coefficientSampleRate = sampleRate;
    attackCoefficientTime = releaseCoefficientTime = std::numeric_limits<float>::quiet_NaN();

    // As with a framework delay line sized for this maximum (max (4, maximum + 2) slots, delays
    // up to its size less two): the largest delay is the maximum, but never below two.
    const auto maximumDelaySamples = (int) (maximumDelaySeconds * sampleRate);
    delayCapacity = juce::jmax (2, maximumDelaySamples);
    delayBuffer.setSize (juce::jmax (1, numChannels), delayCapacity, false, false, true);
    delayBuffer.clear();
    delayPosition = 0;
    delaySamples = secondsToDelaySamples (lookaheadTime.load(), sampleRate, delayCapacity);

    envelope.store (0.0f);

    if ((int) envelopeMeters.size() != numChannels)
    {
        envelopeMeters.clear();
        gainMeters.clear();

        for (int c = 0; c < numChannels; ++c)
        {
            envelopeMeters.push_back (std::make_unique<std::atomic<float>> (0.0f));
            gainMeters.push_back (std::make_unique<std::atomic<float>> (0.0f));
        }
    }
    else
    {
        for (int c = 0; c < numChannels; ++c)
        {
            envelopeMeters[(size_t) c]->store (0.0f);
            gainMeters[(size_t) c]->store (0.0f);
        }
    }
}

void Compressor::setLookahead (float seconds)
{
    lookaheadTime.store (seconds);

    const auto newDelay = secondsToDelaySamples (seconds, sampleRate, delayCapacity);

    if (newDelay != delaySamples)
    {
        delaySamples = newDelay;
        delayBuffer.clear();
        delayPosition = 0;
    }

    effectiveAttackTime.store (attack.load() + seconds);
    updateAttackCoefficient();
}

void Compressor::setAttack (float milliseconds)
{
    attack.store (milliseconds, std::memory_order_relaxed);
    effectiveAttackTime.store (milliseconds + lookaheadTime.load (std::memory_order_relaxed),
                               std::memory_order_relaxed);
    updateAttackCoefficient();
}

void Compressor::setRelease (float milliseconds)
{
    release.store (milliseconds, std::memory_order_relaxed);
    releaseTime.store (milliseconds, std::memory_order_relaxed);
    updateReleaseCoefficient();
}

void Compressor::updateAttackCoefficient() noexcept
{
    const auto time = effectiveAttackTime.load (std::memory_order_relaxed);

    // The owner sets the same times block after block; exp is only worth calling on a change.
    if (time != attackCoefficientTime)
    {
        attackCoefficient = timeToCoefficient (time, coefficientSampleRate);
        attackCoefficientTime = time;
    }
}

void Compressor::updateReleaseCoefficient() noexcept
{
    const auto time = releaseTime.load (std::memory_order_relaxed);

    if (time != releaseCoefficientTime)
    {
        releaseCoefficient = timeToCoefficient (time, coefficientSampleRate);
        releaseCoefficientTime = time;
    }
}

float Compressor::timeToCoefficient (float milliseconds, float rate) noexcept
{
    const auto samples = (double) milliseconds / 1000.0 * (double) rate;

    // T = 0 is an instant follower; a negative or undefined time is treated the same way
    // rather than producing a coefficient above 1, which would make the envelope diverge.
    if (! (samples > 0.0))
        return 0.0f;

    return (float) std::exp (-1.0 / samples);
}

int Compressor::detectPeaks (const juce::dsp::AudioBlock<float>& source) noexcept
{
    jassert (source.getNumSamples() <= (size_t) detector.getNumSamples());
    const auto numSamples = (int) juce::jmin (source.getNumSamples(), (size_t) detector.getNumSamples());
    const auto numChannels = source.getNumChannels();
    auto* det = detector.getWritePointer (0);  // also marks the buffer not clear

    if (numSamples <= 0)
        return 0;

    // Peak across channels, starting from zero as a cleared buffer would. The comparison form
    // keeps a NaN input from entering the detector.
    if (numChannels == 0)
    {
        juce::FloatVectorOperations::clear (det, numSamples);
        return numSamples;
    }

    const auto* x = source.getChannelPointer (0);

    for (int n = 0; n < numSamples; ++n)
    {
        const auto a = std::abs (x[n]);
        det[n] = 0.0f < a ? a : 0.0f;
    }

    for (size_t c = 1; c < numChannels; ++c)
    {
        x = source.getChannelPointer (c);

        for (int n = 0; n < numSamples; ++n)
        {
            const auto a = std::abs (x[n]);
            det[n] = det[n] < a ? a : det[n];
        }
    }

    return numSamples;
}

void Compressor::smooth (int start, int end) noexcept
{
    auto* det = detector.getWritePointer (0);
    const auto attackCoeff = attackCoefficient;
    const auto releaseCoeff = releaseCoefficient;
    auto env = envelope.load (std::memory_order_relaxed);

    for (int n = start; n < end; ++n)
    {
        const auto x = det[n];
        const auto c = x > env ? attackCoeff : releaseCoeff;
        env = (env - x) * c + x;
        det[n] = env;
    }

    envelope.store (env, std::memory_order_relaxed);
}

template <int lanes>
void Compressor::smoothTogether (Compressor* const* compressors, const int* lengths) noexcept
{
    float* det[(size_t) lanes];
    float env[(size_t) lanes], attackCoeff[(size_t) lanes], releaseCoeff[(size_t) lanes];
    auto common = lengths[0];

    for (int k = 0; k < lanes; ++k)
    {
        auto& comp = *compressors[k];
        det[k] = comp.detector.getWritePointer (0);
        env[k] = comp.envelope.load (std::memory_order_relaxed);
        attackCoeff[k] = comp.attackCoefficient;
        releaseCoeff[k] = comp.releaseCoefficient;
        common = juce::jmin (common, lengths[k]);
    }

    // Each envelope is one long dependency chain; stepping several side by side lets the
    // processor overlap them. Every lane does exactly what smooth does.
    for (int n = 0; n < common; ++n)
    {
        for (int k = 0; k < lanes; ++k)
        {
            const auto x = det[k][n];
            const auto c = x > env[k] ? attackCoeff[k] : releaseCoeff[k];
            env[k] = (env[k] - x) * c + x;
            det[k][n] = env[k];
        }
    }

    for (int k = 0; k < lanes; ++k)
    {
        compressors[k]->envelope.store (env[k], std::memory_order_relaxed);
        compressors[k]->smooth (common, lengths[k]);
    }
}

void Compressor::feedDetector (const juce::dsp::AudioBlock<float>& source) noexcept
{
    smooth (0, detectPeaks (source));
}

void Compressor::feedDetectors (Compressor* const* compressors,
                                const juce::dsp::AudioBlock<float>* sources,
                                int count) noexcept
{
    constexpr int groupSize = 4;

    for (int first = 0; first < count; first += groupSize)
    {
        int lengths[groupSize];
        const auto lanes = juce::jmin (groupSize, count - first);

        for (int k = 0; k < lanes; ++k)
            lengths[k] = compressors[first + k]->detectPeaks (sources[first + k]);

        switch (lanes)
        {
            case 4: smoothTogether<4> (compressors + first, lengths); break;
            case 3: smoothTogether<3> (compressors + first, lengths); break;
            case 2: smoothTogether<2> (compressors + first, lengths); break;
            default: compressors[first]->smooth (0, lengths[0]); break;
        }
    }
}

void Compressor::computeGains (const float* levels, float* gainsOut, int numSamples, float thresh, float r) const noexcept
{
    // The curves are evaluated for every level and then selected; the discarded value may be
    // inf or NaN (level 0), which is never used.
    if (mode == downward)
    {
        for (int n = 0; n < numSamples; ++n)
        {
            const auto m = levels[n];
            const auto reduced = ((m - thresh) / r + thresh) / m;
            gainsOut[n] = bitSelect (m > thresh, reduced, 1.0f);
        }
    }
    else if (mode == upward)
    {
        const auto ratioMinusOne = r - 1.0f;

        for (int n = 0; n < numSamples; ++n)
        {
            const auto m = levels[n];
            const auto u = (fadeInLevel - m) * fadeSlope;
            const auto fade = bitSelect (u < 0.0f, 1.0f, bitSelect (u > 1.0f, 0.0f, 1.0f - u));
            const auto effectiveRatio = fade * ratioMinusOne + 1.0f;
            const auto raised = (thresh - (thresh - m) / effectiveRatio) / (m < 1e-20f ? 1e-20f : m);
            gainsOut[n] = bitSelect ((thresh > m) & (m > lowestLevel), raised, 1.0f);
        }
    }
    else
    {
        juce::FloatVectorOperations::fill (gainsOut, 1.0f, numSamples);
    }
}

void Compressor::applyCompression (juce::dsp::AudioBlock<float>& block) noexcept
{
    const auto thresh = threshold.load (std::memory_order_relaxed);
    const auto r = ratio.load (std::memory_order_relaxed);
    detector.setNotClear();

    jassert (block.getNumSamples() <= (size_t) detector.getNumSamples());
    jassert (block.getNumChannels() <= envelopeMeters.size());
    const auto numSamples = (int) juce::jmin (block.getNumSamples(), (size_t) detector.getNumSamples());
    const auto numChannels = (int) juce::jmin (block.getNumChannels(), envelopeMeters.size());

    if (numSamples <= 0 || numChannels <= 0)
        return;

    const auto* levels = detector.getReadPointer (0);
    auto* g = gains.get();
    computeGains (levels, g, numSamples, thresh, r);

    const auto length = delaySamples;

    if (length == 0)
    {
        for (int c = 0; c < numChannels; ++c)
            juce::FloatVectorOperations::multiply (block.getChannelPointer ((size_t) c), g, numSamples);
    }
    else
    {
        auto position = delayPosition;

        for (int c = 0; c < numChannels; ++c)
        {
            auto* x = block.getChannelPointer ((size_t) c);
            auto* ring = delayBuffer.getWritePointer (c);
            position = delayPosition;

            for (int done = 0; done < numSamples;)
            {
                const auto chunk = juce::jmin (numSamples - done, length - position);
                auto* __restrict slot = ring + position;
                auto* __restrict io = x + done;
                const auto* __restrict gain = g + done;

                // The ring slot holds the sample from `length` samples ago; it hands that one
                // out and keeps the new one.
                for (int k = 0; k < chunk; ++k)
                {
                    const auto delayed = slot[k];
                    slot[k] = io[k];
                    io[k] = delayed * gain[k];
                }

                done += chunk;
                position += chunk;

                if (position == length)
                    position = 0;
            }
        }

        delayPosition = position;
    }

    const auto lastLevel = levels[numSamples - 1];
    const auto lastGain = g[numSamples - 1];

    for (int c = 0; c < numChannels; ++c)
    {
        envelopeMeters[(size_t) c]->store (lastLevel, std::memory_order_relaxed);
        gainMeters[(size_t) c]->store (lastGain, std::memory_order_relaxed);
    }
}

float Compressor::getEnvelopeMeter (int channel) const noexcept
{
    return juce::isPositiveAndBelow (channel, (int) envelopeMeters.size())
               ? envelopeMeters[(size_t) channel]->load (std::memory_order_relaxed)
               : 0.0f;
}

float Compressor::getGainMeter (int channel) const noexcept
{
    return juce::isPositiveAndBelow (channel, (int) gainMeters.size())
               ? gainMeters[(size_t) channel]->load (std::memory_order_relaxed)
               : 0.0f;
}

} // namespace cvx::dsp
