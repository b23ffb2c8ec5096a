// Saved states handed to `vyxhost render --state`: any bytes in the file, read the way the test
// host reads them (the plug-in's own block, alone or after other bytes, or a JUCE host's state
// around it). Whatever the bytes, what is found is a "State" document, and the block found
// lies inside the data, with the bytes before and after it kept as they were. Reading needs no
// framework setup: nothing here touches the message thread or the user's folders.

#include "FuzzSupport.h"
#include "StateFile.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const juce::MemoryBlock bytes (data, size);
    const auto isState = [] (const juce::XmlElement& xml) { return xml.getTagName().equalsIgnoreCase ("State"); };

    const auto block = vyx::host::findStateBlock (bytes);
    if (block.xml != nullptr)
    {
        const auto before = block.before.getSize(), after = block.after.getSize();
        if (! isState (*block.xml))
            vyx::fuzz::fail ("a block without a State document was taken", block.xml->toString());
        if (before + after > size)
            vyx::fuzz::fail ("the block found reaches outside the data");
        // An empty block holds no data pointer, which memcmp may not be given even for no bytes.
        const auto differs = [] (const juce::MemoryBlock& kept, const uint8_t* original, size_t length)
        {
            return length > 0 && std::memcmp (kept.getData(), original, length) != 0;
        };
        if (differs (block.before, data, before) || differs (block.after, data + size - after, after))
            vyx::fuzz::fail ("the bytes around the block changed");
    }

    const auto document = vyx::host::readStateDocument (bytes);
    if (document != nullptr && ! isState (*document))
        vyx::fuzz::fail ("a state file without a State document was taken", document->toString());
    return 0;
}
