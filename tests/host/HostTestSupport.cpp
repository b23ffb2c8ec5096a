#include "HostTestSupport.h"

namespace vyx::test
{

namespace
{
    // The editor and preset tests open real windows: the window manager is up before the
    // first test touches one.
    [[maybe_unused]] const bool windowManagerInUse = useWindowManager();
} // namespace

std::unique_ptr<juce::AudioPluginInstance> loadBuiltPlugin (double sampleRate, int blockSize)
{
    const auto bundle = host::getBuiltBundle();
    juce::String error;
    auto instance = host::loadPlugin (bundle, sampleRate, blockSize, error);
    if (instance == nullptr)
        ADD_FAILURE() << "could not load " << bundle.getFullPathName() << ": " << error;
    return instance;
}

juce::String hostParameterId (const juce::String& pluginParameterId)
{
    const auto hash = (juce::uint32) pluginParameterId.hashCode() & 0x7fffffffu;
    return juce::String (hash);
}

juce::String hostBypassParameterId()
{
    return juce::String ((juce::uint32) (('b' << 24) | ('y' << 16) | ('p' << 8) | 's'));
}

juce::HostedAudioProcessorParameter* findParameter (const juce::AudioPluginInstance& instance,
                                                    const juce::String& pluginParameterId)
{
    const auto wanted = hostParameterId (pluginParameterId);
    for (auto* p : instance.getParameters())
        if (auto* hosted = dynamic_cast<juce::HostedAudioProcessorParameter*> (p))
            if (hosted->getParameterID() == wanted)
                return hosted;
    return nullptr;
}

bool isFinite (const juce::AudioBuffer<float>& buffer)
{
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
    {
        const float* data = buffer.getReadPointer (ch);
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            if (! std::isfinite (data[i]))
                return false;
    }
    return true;
}

juce::AudioBuffer<float> makeTestSignal (double sampleRate, double seconds)
{
    const int length = (int) (seconds * sampleRate);
    const int silentFrom = length - length / 8;
    juce::AudioBuffer<float> signal (2, length);
    juce::Random random (7);

    for (int i = 0; i < length; ++i)
    {
        const double t = i / sampleRate;
        const float level = i < length / 2 ? 0.9f : (i < silentFrom ? 0.02f : 0.0f);
        const auto tone = (float) (0.6 * std::sin (juce::MathConstants<double>::twoPi * 97.0 * t)
                                   + 0.3 * std::sin (juce::MathConstants<double>::twoPi * 3100.0 * t));
        for (int ch = 0; ch < 2; ++ch)
            signal.setSample (ch, i, level * (tone + 0.1f * (random.nextFloat() * 2.0f - 1.0f)));
    }
    return signal;
}

void prepare (juce::AudioPluginInstance& instance, double sampleRate, int blockSize)
{
    instance.releaseResources();
    instance.prepareToPlay (sampleRate, blockSize);
    EXPECT_TRUE (host::syncLatency (instance))
        << "host shows " << instance.getLatencySamples() << ", plug-in reports " << host::getProcessorLatency (instance);
}

} // namespace vyx::test
