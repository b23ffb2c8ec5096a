#include "PluginHost.h"

namespace vyx::host
{

juce::File getBuiltBundle()
{
    return juce::File (VYX_BUNDLE_PATH);
}

std::unique_ptr<juce::AudioPluginInstance> loadPlugin (const juce::File& bundle,
                                                       double sampleRate,
                                                       int blockSize,
                                                       juce::String& error)
{
    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> types;
    format.findAllTypesForFile (types, bundle.getFullPathName());

    if (types.isEmpty())
    {
        error = "no plug-in found in " + bundle.getFullPathName();
        return {};
    }

    return format.createInstanceFromDescription (*types[0], sampleRate, blockSize, error);
}

float getPeak (const juce::AudioBuffer<float>& buffer)
{
    float peak = 0.0f;
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        peak = std::max (peak, buffer.getMagnitude (ch, 0, buffer.getNumSamples()));
    return peak;
}

void render (juce::AudioPluginInstance& instance, juce::AudioBuffer<float>& audio, int blockSize)
{
    const int channels = std::max (instance.getTotalNumInputChannels(), instance.getTotalNumOutputChannels());
    juce::AudioBuffer<float> block (std::max (channels, audio.getNumChannels()), blockSize);
    juce::MidiBuffer midi;

    for (int start = 0; start < audio.getNumSamples(); start += blockSize)
    {
        const int n = std::min (blockSize, audio.getNumSamples() - start);
        block.setSize (block.getNumChannels(), n, false, false, true);
        block.clear();
        for (int ch = 0; ch < audio.getNumChannels(); ++ch)
            block.copyFrom (ch, 0, audio, ch, start, n);

        instance.processBlock (block, midi);

        for (int ch = 0; ch < audio.getNumChannels(); ++ch)
            audio.copyFrom (ch, start, block, ch, 0, n);
    }
}

} // namespace vyx::host
