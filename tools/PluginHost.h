#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace vyx::host
{

/** The bundle built by this tree. */
juce::File getBuiltBundle();

/** Loads the VST3 bundle the way a DAW does (GetPluginFactory, component and edit controller)
    and creates one instance. Message thread. Returns null and sets error on failure. */
std::unique_ptr<juce::AudioPluginInstance> loadPlugin (const juce::File& bundle,
                                                       double sampleRate,
                                                       int blockSize,
                                                       juce::String& error);

/** Peak level of a buffer over all channels. */
float getPeak (const juce::AudioBuffer<float>& buffer);

/** Runs the instance over the input (in place, block by block), as a host would: the buffer
    given to the plug-in has as many channels as the instance's total channel count. */
void render (juce::AudioPluginInstance& instance, juce::AudioBuffer<float>& audio, int blockSize);

} // namespace vyx::host
