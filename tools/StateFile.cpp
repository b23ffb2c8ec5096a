#include "StateFile.h"
#include "CommandLine.h"
#include "PluginHost.h"

#include <cvx_core/cvx_core.h>

namespace vyx::host
{

namespace
{
    bool isStateDocument (const juce::XmlElement& xml)
    {
        // The plug-in itself accepts the root in any letter case.
        return xml.getTagName().equalsIgnoreCase (cvx::State::stateID.toString());
    }

    juce::MemoryBlock loadFile (const juce::File& file, const juce::String& role)
    {
        juce::MemoryBlock data;
        if (! file.existsAsFile() || ! file.loadFileAsData (data))
            throw CommandError { "cannot read " + role + " " + file.getFullPathName() + ": no such file" };
        return data;
    }
} // namespace

StateBlock findStateBlock (const juce::MemoryBlock& data)
{
    // A block is the magic, a 32-bit length of the text, the text and a zero byte.
    constexpr size_t headerSize = 8, terminatorSize = 1;
    const auto* bytes = static_cast<const char*> (data.getData());
    const auto size = data.getSize();

    for (size_t start = 0; start + headerSize < size; ++start)
    {
        if (juce::ByteOrder::littleEndianInt (bytes + start) != cvx::AudioProcessor::stateBlockMagic)
            continue;

        const auto available = (int) std::min (size - start, (size_t) std::numeric_limits<int>::max());
        auto xml = cvx::AudioProcessor::parseStateBlock (bytes + start, available);
        if (xml == nullptr || ! isStateDocument (*xml))
            continue;

        const auto length = (size_t) juce::ByteOrder::littleEndianInt (bytes + start + 4);
        const auto end = std::min (size, start + headerSize + length + terminatorSize);

        StateBlock block;
        block.before.append (bytes, start);
        block.after.append (bytes + end, size - end);
        block.xml = std::move (xml);
        return block;
    }
    return {};
}

std::unique_ptr<juce::XmlElement> readStateDocument (const juce::MemoryBlock& data)
{
    if (auto own = findStateBlock (data).xml)
        return own;
    return findStateBlock (getComponentState (data)).xml;
}

std::unique_ptr<juce::XmlElement> loadStateFile (const juce::File& file)
{
    auto xml = readStateDocument (loadFile (file, "state"));
    if (xml == nullptr)
        throw CommandError { "cannot read state " + file.getFullPathName() + ": not a Vyx state block" };
    return xml;
}

std::unique_ptr<juce::XmlElement> loadPresetFile (const juce::File& file)
{
    const auto data = loadFile (file, "preset");

    constexpr int maximumPresetDepth = 64;
    auto xml = cvx::parseUntrustedXml (data.getData(), data.getSize(), maximumPresetDepth);
    if (xml == nullptr || ! isStateDocument (*xml))
        throw CommandError { "cannot read preset " + file.getFullPathName() + ": not a Vyx preset" };
    return xml;
}

bool editPluginState (juce::AudioPluginInstance& instance, const std::function<void (juce::XmlElement&)>& edit)
{
    juce::MemoryBlock hostState;
    instance.getStateInformation (hostState);
    auto hostXml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize());
    auto* component = hostXml != nullptr ? hostXml->getChildByName ("IComponent") : nullptr;
    auto current = findStateBlock (getComponentState (hostState));
    if (component == nullptr || current.xml == nullptr)
        return false;

    edit (*current.xml);

    // The framework's wrapper keeps its own record after the plug-in's block: keep it.
    juce::MemoryBlock block;
    juce::AudioProcessor::copyXmlToBinary (*current.xml, block);
    juce::MemoryBlock componentState (current.before);
    componentState.append (block.getData(), block.getSize());
    componentState.append (current.after.getData(), current.after.getSize());

    component->deleteAllTextElements();
    component->addTextElement (componentState.toBase64Encoding());

    juce::MemoryBlock restored;
    juce::AudioProcessor::copyXmlToBinary (*hostXml, restored);
    instance.setStateInformation (restored.getData(), (int) restored.getSize());
    return true;
}

} // namespace vyx::host
