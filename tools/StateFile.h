#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <functional>

namespace vyx::host
{

/** The plug-in's own state block inside data that holds more (the component state the
    framework's wrapper keeps: the block, then the wrapper's own record), with the bytes before
    and after it. xml is null when data holds no block with a "State" document. */
struct StateBlock
{
    juce::MemoryBlock before, after;
    std::unique_ptr<juce::XmlElement> xml;
};

/** Finds the first state block in data and reads its document, as the plug-in reads it
    (untrusted, depth-limited). */
StateBlock findStateBlock (const juce::MemoryBlock& data);

/** The "State" document of a saved state: the plug-in's own block, or a state a JUCE host saved
    around it (the framework's VST3 host state). Null when data is neither. */
std::unique_ptr<juce::XmlElement> readStateDocument (const juce::MemoryBlock& data);

/** The "State" document of a --state file. Throws CommandError when the file cannot be read or
    holds no state. */
std::unique_ptr<juce::XmlElement> loadStateFile (const juce::File& file);

/** The "State" document of a preset file. Throws CommandError when the file cannot be read or
    is not a preset. */
std::unique_ptr<juce::XmlElement> loadPresetFile (const juce::File& file);

/** Changes a hosted Vyx instance's state the way a DAW restores a project: reads the state
    the host holds, lets edit change the plug-in's "State" document (parameters, Properties,
    Attributes such as "OVER"), and hands the result back through setStateInformation.
    Returns false, changing nothing, when the host's state holds no plug-in state block.
    Message thread. */
bool editPluginState (juce::AudioPluginInstance& instance, const std::function<void (juce::XmlElement&)>& edit);

} // namespace vyx::host
