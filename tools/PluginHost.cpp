#include "PluginHost.h"

#include <iostream>

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wshadow", "-Wnon-virtual-dtor", "-Wzero-as-null-pointer-constant",
                                     "-Wextra-semi", "-Wunused-parameter", "-Wfloat-equal")
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
JUCE_END_IGNORE_WARNINGS_GCC_LIKE

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

int getProcessorLatency (const juce::AudioPluginInstance& instance)
{
    struct Visitor : juce::ExtensionsVisitor
    {
        void visitVST3Client (const VST3Client& client) override
        {
            auto* component = client.getIComponentPtr();
            if (component == nullptr)
                return;

            Steinberg::Vst::IAudioProcessor* processor = nullptr;
            if (component->queryInterface (Steinberg::Vst::IAudioProcessor::iid, (void**) &processor) == Steinberg::kResultOk
                && processor != nullptr)
            {
                latency = (int) processor->getLatencySamples();
                processor->release();
            }
        }

        int latency = -1;
    };

    Visitor visitor;
    instance.getExtensions (visitor);
    return visitor.latency;
}

bool syncLatency (juce::AudioPluginInstance& instance, int timeoutMs)
{
    const auto agree = [&instance] { return instance.getLatencySamples() == getProcessorLatency (instance); };
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    // Deliver whatever is queued first: a restart request can be waiting even when the two
    // values happen to agree already.
    juce::MessageManager::getInstance()->runDispatchLoopUntil (10);

    while (! agree())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
    }
    return true;
}

juce::MemoryBlock getComponentState (const juce::MemoryBlock& hostState)
{
    const auto xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize());
    if (xml == nullptr || ! xml->hasTagName ("VST3PluginState"))
        return {};

    const auto* component = xml->getChildByName ("IComponent");
    if (component == nullptr)
        return {};

    juce::MemoryBlock state;
    if (! state.fromBase64Encoding (component->getAllSubText()))
        return {};
    return state;
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

void HostLogger::logMessage (const juce::String& message)
{
    if (isKnownHostThreadAssertion (message))
        std::cerr << "(known framework notice: VST3 restartComponent called off the message thread)" << std::endl;
    else
        std::cerr << message << std::endl;
}

bool HostLogger::isKnownHostThreadAssertion (const juce::String& message)
{
    // The line of JUCE_ASSERT_MESSAGE_THREAD in the framework's VST3HostContext::restartComponent.
    return message == "JUCE Assertion failure in juce_VST3PluginFormat.cpp:3635";
}

} // namespace vyx::host
