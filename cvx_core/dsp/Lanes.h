#pragma once

#if CVX_USE_SSE_INTRINSICS
 #include <emmintrin.h>
#endif

/** Arithmetic that DSP loops write once for two widths of Value: one sample (float) or, where
    the processor has SSE, four samples in the lanes of a register (Lanes). Each operation is
    the same IEEE operation in both widths, so a loop that runs four samples at a time and then
    one at a time for the rest gives every sample exactly as the one-sample form alone would. */
namespace cvx::dsp::lanes
{

/** condition ? a : b, as a bit mask. Both values are computed on every pass, so the compiler
    keeps loops branch-free and vectorises them, which it will not do for a division it could
    move behind the condition. */
forcedinline float select (bool condition, float a, float b) noexcept
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

forcedinline bool greaterThan (float a, float b) noexcept { return a > b; }
forcedinline bool both (bool a, bool b) noexcept { return a & b; }
forcedinline float divide (float a, float b) noexcept { return a / b; }
forcedinline void store (float* destination, float value) noexcept { *destination = value; }
forcedinline float lastLane (float value) noexcept { return value; }

/** A Value's worth of samples from source (unaligned). */
template <typename Value>
Value loadValue (const float* source) noexcept;

template <>
forcedinline float loadValue<float> (const float* source) noexcept { return *source; }

#if CVX_USE_SSE_INTRINSICS
using Lanes = juce::dsp::SIMDRegister<float>;
using LaneMask = Lanes::vMaskType;

/** condition ? a : b for each lane of a comparison mask. */
forcedinline __m128 select (__m128 condition, __m128 a, __m128 b) noexcept
{
    return _mm_or_ps (_mm_and_ps (condition, a), _mm_andnot_ps (condition, b));
}

forcedinline Lanes select (LaneMask condition, Lanes a, Lanes b) noexcept
{
    return Lanes::fromNative (select (_mm_castsi128_ps (condition.value), a.value, b.value));
}

forcedinline LaneMask greaterThan (Lanes a, Lanes b) noexcept { return Lanes::greaterThan (a, b); }
forcedinline LaneMask both (LaneMask a, LaneMask b) noexcept { return a & b; }
forcedinline Lanes divide (Lanes a, Lanes b) noexcept { return Lanes::fromNative (_mm_div_ps (a.value, b.value)); }
forcedinline void store (float* destination, Lanes value) noexcept { _mm_storeu_ps (destination, value.value); }

template <>
forcedinline Lanes loadValue<Lanes> (const float* source) noexcept { return Lanes::fromNative (_mm_loadu_ps (source)); }

/** The last of the four samples. */
forcedinline float lastLane (Lanes value) noexcept
{
    return _mm_cvtss_f32 (_mm_shuffle_ps (value.value, value.value, _MM_SHUFFLE (3, 3, 3, 3)));
}
#endif

} // namespace cvx::dsp::lanes
