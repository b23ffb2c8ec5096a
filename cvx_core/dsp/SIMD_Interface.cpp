#if CVX_USE_SSE_INTRINSICS
 #include <xmmintrin.h>
#endif

namespace cvx::dsp
{

namespace
{
    bool rangesOverlap (const float* a, size_t lengthA, const float* b, size_t lengthB) noexcept
    {
        const auto startA = reinterpret_cast<juce::pointer_sized_uint> (a);
        const auto startB = reinterpret_cast<juce::pointer_sized_uint> (b);
        return startA < startB + lengthB * sizeof (float) && startB < startA + lengthA * sizeof (float);
    }
}

void SIMD_Interface::prepare (int newMaximumBlockSize)
{
    maximumBlockSize = juce::jmax (0, newMaximumBlockSize);
    const auto numSamples = (size_t) maximumBlockSize;

    scratchBlock = juce::dsp::AudioBlock<float> (scratchMemory, numLanes, numSamples, sizeof (Register));
    scratchBlock.clear();

    registerBlock = juce::dsp::AudioBlock<Register> (registerMemory, 1, numSamples, sizeof (Register));
    registerBlock.clear();
}

void SIMD_Interface::toSIMD (const juce::dsp::AudioBlock<float>& in, juce::dsp::AudioBlock<Register>& out)
{
    auto numFrames = juce::jmin (in.getNumSamples(), out.getNumSamples());

    if (numFrames == 0 || in.getNumChannels() == 0 || out.getNumChannels() == 0)
        return;

    const float* src[numLanes] {};
    size_t numSources = 0;

    for (const auto numChannels = juce::jmin (in.getNumChannels(), numLanes); numSources < numChannels; ++numSources)
    {
        src[numSources] = in.getChannelPointer (numSources);

        if (src[numSources] == nullptr)
            break;
    }

    if (numSources == 0)
        return;

    if (numSources < numLanes)
    {
        // The scratch lanes only cover the prepared block size.
        jassert (numFrames <= (size_t) maximumBlockSize);
        numFrames = juce::jmin (numFrames, (size_t) maximumBlockSize);

        if (numFrames == 0)
            return;

        for (auto c = numSources; c < numLanes; ++c)
            src[c] = scratchBlock.getChannelPointer (c);
    }

    auto* const dst = reinterpret_cast<float*> (out.getChannelPointer (0));
    const float* const s0 = src[0];
    const float* const s1 = src[1];
    const float* const s2 = src[2];
    const float* const s3 = src[3];

    const auto writeFrame = [&] (size_t n)
    {
        const auto a = s0[n], b = s1[n], c = s2[n], d = s3[n];
        auto* frame = dst + numLanes * n;
        frame[0] = a;
        frame[1] = b;
        frame[2] = c;
        frame[3] = d;
    };

    if (rangesOverlap (dst, numLanes * numFrames, s0, numFrames))
    {
        // The registers sit on top of channel 0: frame n is written at 4n .. 4n + 3, which
        // only holds input frames at or after n, so running backwards never overwrites a
        // sample that has not been read yet.
        for (auto n = numFrames; n-- > 0;)
            writeFrame (n);
    }
    else
    {
        for (size_t n = 0; n < numFrames; ++n)
            writeFrame (n);
    }
}

void SIMD_Interface::fromSIMD (const juce::dsp::AudioBlock<Register>& in, juce::dsp::AudioBlock<float>& out)
{
    auto numFrames = juce::jmin (in.getNumSamples(), out.getNumSamples());

    if (numFrames == 0 || in.getNumChannels() == 0)
        return;

    float* dst[numLanes] {};
    bool needsScratch = false;

    for (size_t c = 0; c < numLanes; ++c)
    {
        if (c < out.getNumChannels())
            dst[c] = out.getChannelPointer (c);

        needsScratch = needsScratch || dst[c] == nullptr;
    }

    if (needsScratch)
    {
        jassert (numFrames <= (size_t) maximumBlockSize);
        numFrames = juce::jmin (numFrames, (size_t) maximumBlockSize);

        if (numFrames == 0)
            return;

        for (size_t c = 0; c < numLanes; ++c)
            if (dst[c] == nullptr)
                dst[c] = scratchBlock.getChannelPointer (c);
    }

    spread (in.getChannelPointer (0), dst, numFrames);
}

void SIMD_Interface::spread (const Register* in, float* const* channels, size_t numFrames) noexcept
{
    const auto* const src = reinterpret_cast<const float*> (in);
    float* const d0 = channels[0];
    float* const d1 = channels[1];
    float* const d2 = channels[2];
    float* const d3 = channels[3];
    size_t n = 0;

   #if CVX_USE_SSE_INTRINSICS
    // Four frames at a time: four registers transposed into four runs of one lane each.
    for (; n + 4 <= numFrames; n += 4)
    {
        const auto* frames = src + numLanes * n;
        auto a = _mm_loadu_ps (frames);
        auto b = _mm_loadu_ps (frames + 4);
        auto c = _mm_loadu_ps (frames + 8);
        auto d = _mm_loadu_ps (frames + 12);
        _MM_TRANSPOSE4_PS (a, b, c, d);

        if (d0 != nullptr) _mm_storeu_ps (d0 + n, a);
        if (d1 != nullptr) _mm_storeu_ps (d1 + n, b);
        if (d2 != nullptr) _mm_storeu_ps (d2 + n, c);
        if (d3 != nullptr) _mm_storeu_ps (d3 + n, d);
    }
   #endif

    for (; n < numFrames; ++n)
    {
        const auto* frame = src + numLanes * n;
        if (d0 != nullptr) d0[n] = frame[0];
        if (d1 != nullptr) d1[n] = frame[1];
        if (d2 != nullptr) d2[n] = frame[2];
        if (d3 != nullptr) d3[n] = frame[3];
    }
}

} // namespace cvx::dsp
