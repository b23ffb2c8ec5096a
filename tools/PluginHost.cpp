#include "PluginHost.h"

#include <cvx_core/cvx_core.h>

#include <dlfcn.h>
#include <execinfo.h>
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
    // Read as the plug-in reads its own blocks: a saved state can come from anywhere.
    const auto size = std::min (hostState.getSize(), (size_t) std::numeric_limits<int>::max());
    const auto xml = cvx::AudioProcessor::parseStateBlock (hostState.getData(), (int) size);
    if (xml == nullptr || xml->getTagName() != "VST3PluginState")
        return {};

    // Found in any letter case, as the framework's own host finds it, but without its lookup,
    // which asserts when the case differs (a damaged state may hold "icomponent").
    const juce::XmlElement* component = nullptr;
    for (const auto* child : xml->getChildIterator())
        if (component == nullptr && child->getTagName().equalsIgnoreCase ("IComponent"))
            component = child;
    if (component == nullptr)
        return {};

    const auto encoded = component->getAllSubText();
    juce::MemoryBlock state;
    if (! cvx::isSafeToDecodeAsBase64 (encoded) || ! state.fromBase64Encoding (encoded))
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

HostLogger::HostLogger (Output initialOutput) : output (initialOutput) {}

void HostLogger::setOutput (Output newOutput)
{
    output = newOutput;
}

void HostLogger::logMessage (const juce::String& message)
{
    if (output == Output::silent)
        return;

    if (isKnownHostThreadAssertion (message))
        std::cerr << "(framework notice: the plug-in called the VST3 host off the host's message thread, at "
                  << message.fromLastOccurrenceOf (" ", false, false) << ")" << std::endl;
    else
        std::cerr << message << std::endl;
}

namespace
{
    /** Whether the running call came from a plug-in: some frame on the stack lies in the code
        of a VST3 bundle. */
    bool isInsideCallFromPlugin()
    {
        void* frames[128];
        const int count = backtrace (frames, (int) std::size (frames));
        for (int i = 0; i < count; ++i)
        {
            Dl_info info;
            if (dladdr (frames[i], &info) != 0 && info.dli_fname != nullptr
                && juce::String (info.dli_fname).contains (".vst3/Contents/"))
                return true;
        }
        return false;
    }
} // namespace

bool HostLogger::isKnownHostThreadAssertion (const juce::String& message)
{
    // The framework logs an assertion as "JUCE Assertion failure in FILE:LINE". The line moves
    // with every framework release; the file, the thread and the caller tell this one apart: a
    // check of the VST3 host that fails off the host's message thread while the plug-in calls
    // in. The same checks failing on a call of the host's own stay faults.
    return message.startsWith ("JUCE Assertion failure in juce_VST3PluginFormat.cpp:")
           && ! juce::MessageManager::existsAndIsCurrentThread()
           && isInsideCallFromPlugin();
}

} // namespace vyx::host
