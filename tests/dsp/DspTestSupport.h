#pragma once

#include "TestSupport.h"

namespace vyx::test
{

/** Uniform noise of the given peak, the same for the same seed. */
inline juce::AudioBuffer<float> makeNoise (int numChannels, int numSamples, int seed, float peak = 0.9f)
{
    juce::AudioBuffer<float> buffer (numChannels, numSamples);
    juce::Random random (seed);

    for (int c = 0; c < numChannels; ++c)
        for (int n = 0; n < numSamples; ++n)
            buffer.setSample (c, n, peak * (2.0f * random.nextFloat() - 1.0f));

    return buffer;
}

} // namespace vyx::test
