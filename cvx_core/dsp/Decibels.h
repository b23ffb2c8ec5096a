#pragma once

namespace cvx::dsp
{

/** Levels in dB at or below this are silence. */
constexpr float silenceDecibels = -100.0f;

/** A level in dB as a linear gain: 10^(dB / 20), and 0 at or below silenceDecibels. */
inline float decibelsToGain (float decibels) noexcept
{
    return decibels > silenceDecibels ? std::pow (10.0f, decibels / 20.0f) : 0.0f;
}

/** A linear gain in dB: 20 log10 (gain), and silenceDecibels for gains that give less
    (0 and below included). */
inline float gainToDecibels (float gain) noexcept
{
    return gain > 0.0f ? std::max (20.0f * std::log10 (gain), silenceDecibels) : silenceDecibels;
}

} // namespace cvx::dsp
