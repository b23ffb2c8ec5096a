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

    using namespace lanes;

    // The gain curves and their loops are written once, over a Value that is one level or
    // four (Lanes.h); every lane is bit-identical to the one-level form.

    /** The downward gain for level m: ((m - A) / R + A) / m above the threshold A, else 1. */
    template <typename Value>
    struct DownwardCurve
    {
        DownwardCurve (float thresholdLevel, float ratioValue) noexcept
            : threshold (thresholdLevel), ratio (ratioValue) {}

        /** The same curve for another Value. */
        template <typename Other>
        explicit DownwardCurve (const DownwardCurve<Other>& other) noexcept
            : threshold (other.threshold), ratio (other.ratio) {}

        forcedinline Value operator() (Value level) const noexcept
        {
            const auto reduced = divide (divide (level - threshold, ratio) + threshold, level);
            return select (greaterThan (level, threshold), reduced, Value (1.0f));
        }

        Value threshold, ratio;
    };

    /** The upward gain for level m: towards A - (A - m) / R below the threshold, with the ratio
        fading in between the lowest level and the fade-in level. */
    template <typename Value>
    struct UpwardCurve
    {
        UpwardCurve (float thresholdLevel, float ratioValue, float fadeIn, float slope, float lowest) noexcept
            : threshold (thresholdLevel), ratioMinusOne (ratioValue - 1.0f),
              fadeInLevel (fadeIn), fadeSlope (slope), lowestLevel (lowest) {}

        /** The same curve for another Value. */
        template <typename Other>
        explicit UpwardCurve (const UpwardCurve<Other>& other) noexcept
            : threshold (other.threshold), ratioMinusOne (other.ratioMinusOne),
              fadeInLevel (other.fadeInLevel), fadeSlope (other.fadeSlope), lowestLevel (other.lowestLevel) {}

        forcedinline Value operator() (Value level) const noexcept
        {
            const Value one (1.0f), zero (0.0f), tiny (1e-20f);
            // 0 at the fade-in level and above, 1 at the lowest level.
            const auto fadeOut = (fadeInLevel - level) * fadeSlope;
            const auto fade = select (greaterThan (zero, fadeOut), one,
                                      select (greaterThan (fadeOut, one), zero, one - fadeOut));
            const auto effectiveRatio = fade * ratioMinusOne + one;
            const auto floored = select (greaterThan (tiny, level), tiny, level);
            const auto raised = divide (threshold - divide (threshold - level, effectiveRatio), floored);
            return select (both (greaterThan (threshold, level), greaterThan (level, lowestLevel)), raised, one);
        }

        Value threshold, ratioMinusOne, fadeInLevel, fadeSlope, lowestLevel;
    };

    /** Samples n .. n + width - 1 of both channels times the curve of their levels (width 1
        for a float curve, 4 for a register curve); returns the gains. */
    template <typename Value, template <typename> class Curve>
    forcedinline Value scaleStereo (const Curve<Value>& curve, const float* levels, float* left, float* right,
                                    int n) noexcept
    {
        const auto gains = curve (loadValue<Value> (levels + n));
        store (left + n, loadValue<Value> (left + n) * gains);
        store (right + n, loadValue<Value> (right + n) * gains);
        return gains;
    }

    /** scaleStereo behind the delay ring: the slots hand out the samples from a ring's length
        ago, times the gains, and keep the new ones. */
    template <typename Value, template <typename> class Curve>
    forcedinline Value scaleStereoDelayed (const Curve<Value>& curve, const float* levels, float* left, float* right,
                                           float* slotLeft, float* slotRight, int n) noexcept
    {
        const auto gains = curve (loadValue<Value> (levels + n));
        const auto delayedLeft = loadValue<Value> (slotLeft + n);
        const auto delayedRight = loadValue<Value> (slotRight + n);
        store (slotLeft + n, loadValue<Value> (left + n));
        store (slotRight + n, loadValue<Value> (right + n));
        store (left + n, delayedLeft * gains);
        store (right + n, delayedRight * gains);
        return gains;
    }

    /** Both channels of a stereo band times the curve of the detector level, in one pass, so
        the gain of a sample is computed once and never stored. Four samples at a time where
        the processor has four-lane registers: at small blocks the compiler's own vector loop
        spends more on its set-up and remainder than on the samples. lastGain becomes the gain
        of the last sample. */
    template <template <typename> class Curve>
    void applyStereo (const Curve<float>& oneLevel, const float* __restrict levels, float* __restrict left,
                      float* __restrict right, int numSamples, float& lastGain) noexcept
    {
        int n = 0;

       #if CVX_USE_SSE_INTRINSICS
        const Curve<Lanes> fourLevels (oneLevel);
        Lanes gains (lastGain);

        for (; n + 4 <= numSamples; n += 4)
            gains = scaleStereo (fourLevels, levels, left, right, n);

        lastGain = lastLane (gains);
       #endif

        for (; n < numSamples; ++n)
            lastGain = scaleStereo (oneLevel, levels, left, right, n);
    }

    /** applyStereo behind a delay of `length` samples: each ring slot hands out the sample from
        `length` samples ago and keeps the new one. Returns the ring position after the block. */
    template <template <typename> class Curve>
    int applyStereoDelayed (const Curve<float>& oneLevel, const float* levels, float* left, float* right,
                            float* ringLeft, float* ringRight, int length, int position, int numSamples,
                            float& lastGain) noexcept
    {
       #if CVX_USE_SSE_INTRINSICS
        const Curve<Lanes> fourLevels (oneLevel);
       #endif

        for (int done = 0; done < numSamples;)
        {
            const auto chunk = juce::jmin (numSamples - done, length - position);
            const auto* __restrict chunkLevels = levels + done;
            auto* __restrict chunkLeft = left + done;
            auto* __restrict chunkRight = right + done;
            auto* __restrict slotLeft = ringLeft + position;
            auto* __restrict slotRight = ringRight + position;
            int k = 0;

           #if CVX_USE_SSE_INTRINSICS
            Lanes gains (lastGain);

            for (; k + 4 <= chunk; k += 4)
                gains = scaleStereoDelayed (fourLevels, chunkLevels, chunkLeft, chunkRight, slotLeft, slotRight, k);

            lastGain = lastLane (gains);
           #endif

            for (; k < chunk; ++k)
                lastGain = scaleStereoDelayed (oneLevel, chunkLevels, chunkLeft, chunkRight, slotLeft, slotRight, k);

            done += chunk;
            position += chunk;

            if (position == length)
                position = 0;
        }

        return position;
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

    // Milliseconds of attack plus seconds of lookahead, as in setAttack.
    effectiveAttackTime.store (attack.load() + seconds);
    updateAttackCoefficient();
}

void Compressor::setAttack (float milliseconds)
{
    // The effective attack adds the lookahead, in seconds, to the attack, in milliseconds. For
    // the upward compressors (about 0.008 s of lookahead, an attack of 0.0064 ms) that gives a
    // time constant of about 0.0144 ms, far below one sample: their envelope follows a rise
    // at once, which is how the product sounds. It is not a unit slip to correct; changing it
    // changes the product's sound.
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
    gatherEnvelopes (compressors, lanes, lanes, det, env, attackCoeff, releaseCoeff);
    const auto common = *std::min_element (lengths, lengths + lanes);

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

void Compressor::gatherEnvelopes (Compressor* const* compressors, int count, int width, float** det,
                                  float* env, float* attackCoeff, float* releaseCoeff) noexcept
{
    for (int k = 0; k < width; ++k)
    {
        if (k < count)
        {
            auto& comp = *compressors[k];
            det[k] = comp.detector.getWritePointer (0);  // also marks the buffer not clear
            env[k] = comp.envelope.load (std::memory_order_relaxed);
            attackCoeff[k] = comp.attackCoefficient;
            releaseCoeff[k] = comp.releaseCoefficient;
        }
        else
        {
            det[k] = det[0];
        }
    }
}

#if CVX_USE_SSE_INTRINSICS
namespace
{
    /** Four envelopes in the lanes of one register, each stepped exactly as smooth steps one. */
    struct EnvelopeLanes
    {
        forcedinline __m128 step (__m128 x) noexcept
        {
            const auto c = select (_mm_cmpgt_ps (x, env), attack, release);
            env = _mm_add_ps (_mm_mul_ps (_mm_sub_ps (env, x), c), x);
            return env;
        }

        __m128 env, attack, release;
    };
}

template <int numRegisters>
void Compressor::smoothInRegisters (Compressor* const* compressors, int count, int length) noexcept
{
    constexpr int width = 4 * numRegisters;
    jassert (count >= 1 && count <= width);

    // Lanes without a compressor read the first one's detector and are never written back.
    float* det[(size_t) width];
    alignas (16) float env[(size_t) width] {}, attackCoeff[(size_t) width] {}, releaseCoeff[(size_t) width] {};
    gatherEnvelopes (compressors, count, width, det, env, attackCoeff, releaseCoeff);

    EnvelopeLanes lanes[(size_t) numRegisters];

    for (int r = 0; r < numRegisters; ++r)
        lanes[r] = { _mm_load_ps (env + 4 * r), _mm_load_ps (attackCoeff + 4 * r), _mm_load_ps (releaseCoeff + 4 * r) };

    // One register carries four envelopes: their dependency chains advance together, where
    // scalar code advances one per chain. Four samples of four detectors are turned into four
    // registers of one sample each, stepped, and turned back.
    int n = 0;

    for (; n + 4 <= length; n += 4)
    {
        for (int r = 0; r < numRegisters; ++r)
        {
            float* const* group = det + 4 * r;
            auto x0 = _mm_loadu_ps (group[0] + n), x1 = _mm_loadu_ps (group[1] + n);
            auto x2 = _mm_loadu_ps (group[2] + n), x3 = _mm_loadu_ps (group[3] + n);
            _MM_TRANSPOSE4_PS (x0, x1, x2, x3);

            auto y0 = lanes[r].step (x0);
            auto y1 = lanes[r].step (x1);
            auto y2 = lanes[r].step (x2);
            auto y3 = lanes[r].step (x3);
            _MM_TRANSPOSE4_PS (y0, y1, y2, y3);

            const int valid = count - 4 * r;
            _mm_storeu_ps (group[0] + n, y0);
            if (valid > 1) _mm_storeu_ps (group[1] + n, y1);
            if (valid > 2) _mm_storeu_ps (group[2] + n, y2);
            if (valid > 3) _mm_storeu_ps (group[3] + n, y3);
        }
    }

    for (; n < length; ++n)
    {
        for (int r = 0; r < numRegisters; ++r)
        {
            float* const* group = det + 4 * r;
            const auto y = lanes[r].step (_mm_setr_ps (group[0][n], group[1][n], group[2][n], group[3][n]));
            alignas (16) float out[4];
            _mm_store_ps (out, y);

            for (int k = 0; k < 4 && 4 * r + k < count; ++k)
                group[k][n] = out[k];
        }
    }

    for (int r = 0; r < numRegisters; ++r)
        _mm_store_ps (env + 4 * r, lanes[r].env);

    for (int k = 0; k < count; ++k)
        compressors[k]->envelope.store (env[k], std::memory_order_relaxed);
}

namespace
{
    /** The linked peak of two channels as detectPeaks forms it: |a| (0 for NaN), then |b| where
        that is larger. */
    forcedinline __m128 stereoPeak (__m128 a, __m128 b) noexcept
    {
        const auto magnitudeBits = _mm_castsi128_ps (_mm_set1_epi32 (0x7fffffff));
        a = _mm_and_ps (a, magnitudeBits);
        b = _mm_and_ps (b, magnitudeBits);
        const auto first = _mm_and_ps (_mm_cmplt_ps (_mm_setzero_ps(), a), a);
        return select (_mm_cmplt_ps (first, b), b, first);
    }

    forcedinline float stereoPeak (float a, float b) noexcept
    {
        const auto first = 0.0f < std::abs (a) ? std::abs (a) : 0.0f;
        return first < std::abs (b) ? std::abs (b) : first;
    }
}

template <int numRegisters>
void Compressor::detectAndSmoothStereo (Compressor* const* compressors, const juce::dsp::AudioBlock<float>* sources,
                                        int count, int length) noexcept
{
    constexpr int width = 4 * numRegisters;
    jassert (count >= 1 && count <= width);

    // Lanes without a compressor read the first one's source and are never written back.
    float* det[(size_t) width];
    const float* left[(size_t) width];
    const float* right[(size_t) width];
    alignas (16) float env[(size_t) width] {}, attackCoeff[(size_t) width] {}, releaseCoeff[(size_t) width] {};

    gatherEnvelopes (compressors, count, width, det, env, attackCoeff, releaseCoeff);

    for (int k = 0; k < width; ++k)
    {
        left[k] = k < count ? sources[k].getChannelPointer (0) : left[0];
        right[k] = k < count ? sources[k].getChannelPointer (1) : right[0];
    }

    EnvelopeLanes lanes[(size_t) numRegisters];

    for (int r = 0; r < numRegisters; ++r)
        lanes[r] = { _mm_load_ps (env + 4 * r), _mm_load_ps (attackCoeff + 4 * r), _mm_load_ps (releaseCoeff + 4 * r) };

    // detectPeaks and the smoothing in one pass: the peaks go straight from the band into the
    // envelope registers instead of through the detector buffer.
    int n = 0;

    for (; n + 4 <= length; n += 4)
    {
        for (int r = 0; r < numRegisters; ++r)
        {
            const int g = 4 * r;
            auto x0 = stereoPeak (_mm_loadu_ps (left[g] + n), _mm_loadu_ps (right[g] + n));
            auto x1 = stereoPeak (_mm_loadu_ps (left[g + 1] + n), _mm_loadu_ps (right[g + 1] + n));
            auto x2 = stereoPeak (_mm_loadu_ps (left[g + 2] + n), _mm_loadu_ps (right[g + 2] + n));
            auto x3 = stereoPeak (_mm_loadu_ps (left[g + 3] + n), _mm_loadu_ps (right[g + 3] + n));
            _MM_TRANSPOSE4_PS (x0, x1, x2, x3);

            auto y0 = lanes[r].step (x0);
            auto y1 = lanes[r].step (x1);
            auto y2 = lanes[r].step (x2);
            auto y3 = lanes[r].step (x3);
            _MM_TRANSPOSE4_PS (y0, y1, y2, y3);

            const int valid = count - g;
            _mm_storeu_ps (det[g] + n, y0);
            if (valid > 1) _mm_storeu_ps (det[g + 1] + n, y1);
            if (valid > 2) _mm_storeu_ps (det[g + 2] + n, y2);
            if (valid > 3) _mm_storeu_ps (det[g + 3] + n, y3);
        }
    }

    for (; n < length; ++n)
    {
        for (int r = 0; r < numRegisters; ++r)
        {
            const int g = 4 * r;
            const auto y = lanes[r].step (_mm_setr_ps (stereoPeak (left[g][n], right[g][n]),
                                                       stereoPeak (left[g + 1][n], right[g + 1][n]),
                                                       stereoPeak (left[g + 2][n], right[g + 2][n]),
                                                       stereoPeak (left[g + 3][n], right[g + 3][n])));
            alignas (16) float out[4];
            _mm_store_ps (out, y);

            for (int k = 0; k < 4 && g + k < count; ++k)
                det[g + k][n] = out[k];
        }
    }

    for (int r = 0; r < numRegisters; ++r)
        _mm_store_ps (env + 4 * r, lanes[r].env);

    for (int k = 0; k < count; ++k)
        compressors[k]->envelope.store (env[k], std::memory_order_relaxed);
}
#endif

void Compressor::feedDetector (const juce::dsp::AudioBlock<float>& source) noexcept
{
    smooth (0, detectPeaks (source));
}

void Compressor::feedDetectors (Compressor* const* compressors,
                                const juce::dsp::AudioBlock<float>* sources,
                                int count) noexcept
{
   #if CVX_USE_SSE_INTRINSICS
    // Up to eight envelopes in two registers; any detector longer than the shortest finishes
    // on its own.
    constexpr int registerGroup = 8;

    for (int first = 0; first < count; first += registerGroup)
    {
        int lengths[registerGroup];
        const auto lanes = juce::jmin (registerGroup, count - first);
        auto common = std::numeric_limits<int>::max();

        // Stereo sources of one length (the engine's bands): peaks and envelopes in one pass.
        bool sameStereo = true;
        const auto length = (int) juce::jmin (sources[first].getNumSamples(),
                                              (size_t) compressors[first]->detector.getNumSamples());

        for (int k = 0; k < lanes && sameStereo; ++k)
        {
            const auto& source = sources[first + k];
            sameStereo = source.getNumChannels() == 2
                         && (int) juce::jmin (source.getNumSamples(), (size_t) compressors[first + k]->detector.getNumSamples()) == length
                         && source.getChannelPointer (0) != nullptr && source.getChannelPointer (1) != nullptr;
        }

        if (sameStereo && length > 0)
        {
            if (lanes > 4)
                detectAndSmoothStereo<2> (compressors + first, sources + first, lanes, length);
            else
                detectAndSmoothStereo<1> (compressors + first, sources + first, lanes, length);

            continue;
        }

        for (int k = 0; k < lanes; ++k)
        {
            lengths[k] = compressors[first + k]->detectPeaks (sources[first + k]);
            common = juce::jmin (common, lengths[k]);
        }

        if (lanes > 4)
            smoothInRegisters<2> (compressors + first, lanes, common);
        else
            smoothInRegisters<1> (compressors + first, lanes, common);

        for (int k = 0; k < lanes; ++k)
            compressors[first + k]->smooth (common, lengths[k]);
    }
   #else
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
   #endif
}

void Compressor::computeGains (const float* levels, float* gainsOut, int numSamples, float thresholdLevel,
                               float ratioValue) const noexcept
{
    // The curves are evaluated for every level and then selected; the discarded value may be
    // inf or NaN (level 0), which is never used.
    const auto fill = [&] (const auto& curve)
    {
        for (int n = 0; n < numSamples; ++n)
            gainsOut[n] = curve (levels[n]);
    };

    if (mode == downward)
        fill (DownwardCurve<float> (thresholdLevel, ratioValue));
    else if (mode == upward)
        fill (UpwardCurve<float> (thresholdLevel, ratioValue, fadeInLevel, fadeSlope, lowestLevel));
    else
        juce::FloatVectorOperations::fill (gainsOut, 1.0f, numSamples);
}

void Compressor::applyCompression (juce::dsp::AudioBlock<float>& block) noexcept
{
    const auto thresholdLevel = threshold.load (std::memory_order_relaxed);
    const auto ratioValue = ratio.load (std::memory_order_relaxed);
    detector.setNotClear();

    jassert (block.getNumSamples() <= (size_t) detector.getNumSamples());
    jassert (block.getNumChannels() <= envelopeMeters.size());
    const auto numSamples = (int) juce::jmin (block.getNumSamples(), (size_t) detector.getNumSamples());
    const auto numChannels = (int) juce::jmin (block.getNumChannels(), envelopeMeters.size());

    if (numSamples <= 0 || numChannels <= 0)
        return;

    const auto* levels = detector.getReadPointer (0);

    // The bands are stereo: the curve and both channels in one pass, which also hands back the
    // gain of the last sample for the meter.
    const auto lastGain = numChannels == 2 && (mode == downward || mode == upward)
                              ? applyToStereo (block, levels, numSamples, thresholdLevel, ratioValue)
                              : applyToChannels (block, levels, numSamples, numChannels, thresholdLevel, ratioValue);

    publishMeters (numChannels, levels[numSamples - 1], lastGain);
}

float Compressor::applyToStereo (juce::dsp::AudioBlock<float>& block, const float* levels, int numSamples,
                                 float thresholdLevel, float ratioValue) noexcept
{
    auto* left = block.getChannelPointer (0);
    auto* right = block.getChannelPointer (1);
    float lastGain = 1.0f;

    const auto run = [&] (const auto& curve)
    {
        if (delaySamples == 0)
            applyStereo (curve, levels, left, right, numSamples, lastGain);
        else
            delayPosition = applyStereoDelayed (curve, levels, left, right, delayBuffer.getWritePointer (0),
                                                delayBuffer.getWritePointer (1), delaySamples, delayPosition,
                                                numSamples, lastGain);
    };

    if (mode == downward)
        run (DownwardCurve<float> (thresholdLevel, ratioValue));
    else
        run (UpwardCurve<float> (thresholdLevel, ratioValue, fadeInLevel, fadeSlope, lowestLevel));

    return lastGain;
}

float Compressor::applyToChannels (juce::dsp::AudioBlock<float>& block, const float* levels, int numSamples,
                                   int numChannels, float thresholdLevel, float ratioValue) noexcept
{
    auto* gainValues = gains.get();
    computeGains (levels, gainValues, numSamples, thresholdLevel, ratioValue);

    if (delaySamples == 0)
    {
        for (int c = 0; c < numChannels; ++c)
            juce::FloatVectorOperations::multiply (block.getChannelPointer ((size_t) c), gainValues, numSamples);
    }
    else
    {
        auto position = delayPosition;

        for (int c = 0; c < numChannels; ++c)
            position = delayChannel (block.getChannelPointer ((size_t) c), delayBuffer.getWritePointer (c),
                                     gainValues, numSamples);

        delayPosition = position;
    }

    return gainValues[numSamples - 1];
}

int Compressor::delayChannel (float* samples, float* ring, const float* gainValues, int numSamples) const noexcept
{
    const auto length = delaySamples;
    auto position = delayPosition;

    for (int done = 0; done < numSamples;)
    {
        const auto chunk = juce::jmin (numSamples - done, length - position);
        auto* __restrict slot = ring + position;
        auto* __restrict io = samples + done;
        const auto* __restrict gain = gainValues + done;

        // The ring slot holds the sample from `length` samples ago; it hands that one out and
        // keeps the new one.
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

    return position;
}

void Compressor::publishMeters (int numChannels, float lastLevel, float lastGain) noexcept
{
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
