#pragma once

#include "TestSupport.h"

namespace vyx::test
{

/** The product's settings folder in the tests' home folder. */
inline juce::File settingsFolder()
{
    return getTestHome().getChildFile (".config/Application Support/Corvane/Vyx");
}

/** The product's settings file. */
inline juce::File settingsFile()
{
    return settingsFolder().getChildFile ("Vyx.data");
}

/** The file form of a settings document: the framework's Base64 of its UTF-8 bytes. */
inline juce::String encodeDocument (const juce::String& xml)
{
    return juce::MemoryBlock (xml.toRawUTF8(), xml.getNumBytesAsUTF8()).toBase64Encoding();
}

} // namespace vyx::test
