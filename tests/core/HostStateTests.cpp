#include "CoreTestSupport.h"

#include <cstring>

namespace
{

using vyx::test::RecordingProcessor;
using vyx::test::StateSnapshot;
using vyx::test::plainValues;
using vyx::test::rawValue;
using vyx::test::setPlain;

using Bytes = std::vector<unsigned char>;

Bytes toBytes (const juce::MemoryBlock& block)
{
    const auto* data = static_cast<const unsigned char*> (block.getData());
    return Bytes (data, data + block.getSize());
}

void putUint32 (Bytes& bytes, size_t offset, juce::uint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + (size_t) i] = (unsigned char) ((value >> (8 * i)) & 0xff);
}

juce::uint32 getUint32 (const Bytes& bytes, size_t offset)
{
    juce::uint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value |= (juce::uint32) bytes[offset + (size_t) i] << (8 * i);
    return value;
}

/** A block as the host stores it: "VC2!", the length, the text and a zero byte. */
Bytes makeBlock (const juce::String& text)
{
    Bytes bytes { 'V', 'C', '2', '!', 0, 0, 0, 0 };
    const auto* utf8 = text.toRawUTF8();
    bytes.insert (bytes.end(), utf8, utf8 + text.getNumBytesAsUTF8());
    bytes.push_back (0);
    putUint32 (bytes, 4, (juce::uint32) (bytes.size() - 9));
    return bytes;
}

/** The XML text inside a block written by getStateInformation. */
juce::String textOf (const Bytes& block)
{
    const auto length = getUint32 (block, 4);
    return juce::String::fromUTF8 (reinterpret_cast<const char*> (block.data()) + 8, (int) length);
}

void restore (juce::AudioProcessor& processor, const Bytes& bytes)
{
    processor.setStateInformation (bytes.empty() ? nullptr : bytes.data(), (int) bytes.size());
}

class HostStateTest : public ::testing::Test
{
protected:
    /** Puts an instance into a state that differs from a fresh one everywhere a block reaches. */
    static void edit (cvx::State& s, float threshold)
    {
        setPlain (s, "THD0", threshold);
        setPlain (s, "NUM", 6.0f);
        setPlain (s, "CR4", 3300.0f);
        setPlain (s, "BMIX2", 0.4f);
        s.properties.setProperty (Properties::limiter, false, nullptr);
        s.properties.setProperty (Properties::dryWet, true, nullptr);
        s.attributes.setProperty (cvx::State::Attributes::width, 600, nullptr);
        s.attributes.setProperty (cvx::State::Attributes::height, 420, nullptr);
        s.attributes.setProperty (cvx::State::Attributes::colour, "ff2060a0", nullptr);
        s.attributes.setProperty (cvx::State::Attributes::preset, "/presets/Drums.preset", nullptr);
        s.attributes.setProperty (cvx::State::Attributes::dirty, true, nullptr);
        s.attributes.setProperty (Attributes::oversampler, 2, nullptr);
    }

    Bytes save (juce::AudioProcessor& p)
    {
        juce::MemoryBlock block;
        p.getStateInformation (block);
        return toBytes (block);
    }

    RecordingProcessor source;
    RecordingProcessor target;
};

} // namespace

TEST_F (HostStateTest, SavedBlockLayout)
{
    edit (source.state, -20.0f);

    // Earlier contents of the destination are replaced.
    juce::MemoryBlock block (100000, true);
    block.fillWith (0xaa);
    source.getStateInformation (block);
    const auto bytes = toBytes (block);

    ASSERT_GT (bytes.size(), 9u);
    EXPECT_EQ (bytes[0], 0x56);
    EXPECT_EQ (bytes[1], 0x43);
    EXPECT_EQ (bytes[2], 0x32);
    EXPECT_EQ (bytes[3], 0x21);
    EXPECT_EQ (bytes.back(), 0);
    EXPECT_EQ (getUint32 (bytes, 4), (juce::uint32) bytes.size() - 9);

    const auto text = textOf (bytes);
    EXPECT_TRUE (text.startsWith ("<?xml")) << text.substring (0, 40);
    EXPECT_FALSE (text.containsChar ('\n'));
    EXPECT_FALSE (text.containsChar ((juce::juce_wchar) 0));

    const auto xml = juce::parseXML (text);
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getTagName(), "State");
    ASSERT_EQ (xml->getNumChildElements(), 5);
    const char* order[] { "Parameters", "Properties", "Serialized", "Modulators", "Attributes" };
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ (xml->getChildElement (i)->getTagName(), order[i]);

    EXPECT_EQ (xml->getChildElement (0)->getNumChildElements(), 94);
    const auto* attributes = xml->getChildElement (4);
    EXPECT_EQ (attributes->getIntAttribute ("width"), 600);
    EXPECT_EQ (attributes->getIntAttribute ("height"), 420);
    EXPECT_EQ (attributes->getStringAttribute ("colour"), "ff2060a0");
    EXPECT_EQ (attributes->getStringAttribute ("preset"), "/presets/Drums.preset");
    EXPECT_TRUE (attributes->getBoolAttribute ("dirty"));
    EXPECT_EQ (attributes->getIntAttribute ("OVER"), 2);
}

TEST_F (HostStateTest, RestoreReproducesTheWholeState)
{
    edit (source.state, -20.0f);
    source.state.properties.appendChild (juce::ValueTree { "Extra" }.setProperty ("n", 3, nullptr), nullptr);
    const auto bytes = save (source);

    restore (target, bytes);

    EXPECT_EQ (plainValues (target), plainValues (source));
    EXPECT_EQ (vyx::test::propertiesText (target.state.properties), vyx::test::propertiesText (source.state.properties));
    EXPECT_EQ (target.state.properties.getNumChildren(), 1);
    EXPECT_EQ (vyx::test::propertiesText (target.state.attributes), vyx::test::propertiesText (source.state.attributes));
    EXPECT_TRUE ((bool) target.state.attributes[cvx::State::Attributes::dirty]) << "the stored dirty flag comes back last";
    EXPECT_EQ ((int) target.state.attributes[cvx::State::Attributes::width], 600);
    EXPECT_EQ (target.log->prepareCount.load(), 0) << "restoring does not rebuild the engine";
}

TEST_F (HostStateTest, LowerCaseRootIsAccepted)
{
    edit (source.state, -33.0f);
    auto text = textOf (save (source));
    ASSERT_TRUE (text.contains ("<State>"));
    text = text.replace ("<State>", "<state>").replace ("</State>", "</state>");

    restore (target, makeBlock (text));

    EXPECT_EQ (plainValues (target), plainValues (source));
    EXPECT_NEAR (rawValue (target.state, "THD0"), -33.0f, 1.0e-5);
    EXPECT_EQ ((int) target.state.attributes[cvx::State::Attributes::width], 600);
}

TEST_F (HostStateTest, LengthBeyondTheDataIsCutToTheData)
{
    edit (source.state, -41.0f);
    auto bytes = save (source);
    putUint32 (bytes, 4, getUint32 (bytes, 4) + 5000);

    restore (target, bytes);

    EXPECT_EQ (plainValues (target), plainValues (source));
}

TEST_F (HostStateTest, RefusedBlocksChangeNothing)
{
    edit (target.state, -11.0f);
    edit (source.state, -44.0f);
    source.state.attributes.setProperty (cvx::State::Attributes::width, 1234, nullptr);
    source.state.properties.setProperty (Properties::limiter, true, nullptr);
    const auto valid = save (source);
    const auto validText = textOf (valid);

    struct Case { const char* name; Bytes bytes; };
    std::vector<Case> cases;

    cases.push_back ({ "empty", {} });
    cases.push_back ({ "eight bytes", Bytes (valid.begin(), valid.begin() + 8) });
    {
        auto b = valid;
        b[0] = 'W';
        cases.push_back ({ "wrong magic", b });
    }
    {
        auto b = valid;
        std::reverse (b.begin(), b.begin() + 4);
        cases.push_back ({ "magic in another order", b });
    }
    {
        auto b = valid;
        putUint32 (b, 4, 0);
        cases.push_back ({ "length 0", b });
    }
    {
        auto b = valid;
        putUint32 (b, 4, 0xffffffffu);
        cases.push_back ({ "length -1", b });
    }
    {
        auto b = valid;
        putUint32 (b, 4, 0x80000000u);
        cases.push_back ({ "most negative length", b });
    }
    {
        auto b = valid;
        putUint32 (b, 4, getUint32 (b, 4) / 2);
        cases.push_back ({ "length cuts the document", b });
    }
    cases.push_back ({ "XML that does not parse", makeBlock ("<State><Parameters>") });
    cases.push_back ({ "XML with a broken attribute", makeBlock ("<State a=\"1></State>") });
    // Text that ends inside a character reference: the framework's parser would read on past it.
    cases.push_back ({ "cut off inside a character reference", makeBlock (validText.substring (0, validText.indexOf ("<PARAM")) + "&#x59") });
    cases.push_back ({ "not XML", makeBlock ("hello world") });
    cases.push_back ({ "root Preset", makeBlock (validText.replace ("<State>", "<Preset>").replace ("</State>", "</Preset>")) });
    cases.push_back ({ "root States", makeBlock (validText.replace ("<State>", "<States>").replace ("</State>", "</States>")) });
    {
        // Invalid UTF-8 inside an otherwise valid document.
        auto b = makeBlock (validText.replace ("/presets/Drums.preset", "/presets/Dr@ms.preset"));
        const auto at = std::search (b.begin(), b.end(), std::begin ("Dr@ms"), std::end ("Dr@ms") - 1);
        ASSERT_NE (at, b.end());
        *(at + 2) = 0xc3;
        *(at + 3) = 0x28;
        cases.push_back ({ "invalid UTF-8", b });
    }
    {
        // A multi-byte sequence cut off by the end of the data, with no zero byte after it.
        auto b = makeBlock ("<State/>");
        b.back() = 0xf0;
        putUint32 (b, 4, (juce::uint32) b.size() - 8);
        cases.push_back ({ "truncated UTF-8 sequence at the end", b });
    }

    {
        // Nested far deeper than any state: refused before the recursive parser sees it.
        juce::MemoryOutputStream text;
        text << "<State>";
        for (int i = 0; i < 200000; ++i)
            text << "<a>";
        for (int i = 0; i < 200000; ++i)
            text << "</a>";
        text << "</State>";
        cases.push_back ({ "nested 200000 deep", makeBlock (text.toString()) });
    }

    {
        // Entities that expand into themselves: the parser would recurse until the stack ends.
        cases.push_back ({ "self-referencing entity",
                           makeBlock ("<!DOCTYPE State [<!ENTITY a \"&a;\">]><State x=\"&a;\"/>") });
        cases.push_back ({ "entity declaration inside the document",
                           makeBlock (validText.replace ("<State>", "<State><!ENTITY a \"1\">")) });
    }
    {
        // A Base64 attribute whose byte count the text after the point cannot carry: the tree
        // conversion would size its block from it (negative: an exception; huge: gigabytes).
        for (const char* value : { "-5.AAAA", "2000000000.A" })
            cases.push_back ({ "damaged base64 attribute",
                               makeBlock (validText.replace ("<Properties", juce::String ("<Properties base64:blob=\"") + value + "\"")) });
    }

    {
        // The same attribute twice: the tree would run with one value and save the other.
        auto text = validText.replace ("<PARAM id=\"IN\" value=\"", "<PARAM id=\"IN\" value=\"6\" value=\"");
        ASSERT_NE (text, validText);
        cases.push_back ({ "repeated attribute", makeBlock (text) });
        cases.push_back ({ "repeated attribute on the root",
                           makeBlock (validText.replace ("<State>", "<State a=\"1\" a=\"2\">")) });
    }
    {
        // Larger than any real state: 17 MB, most of it one comment.
        std::string padding (17 * 1024 * 1024, ' ');
        cases.push_back ({ "17 MB", makeBlock (validText.replace ("<Serialized>", "<Serialized><!--" + juce::String (padding) + "-->")) });

        // Small, but with more elements than any real state holds.
        juce::MemoryOutputStream empties;
        for (int i = 0; i < 20000; ++i)
            empties << "<a/>";
        cases.push_back ({ "20000 empty elements", makeBlock (validText.replace ("<Serialized>", "<Serialized>" + empties.toString())) });
    }

    juce::Random random (20240611);
    for (int size : { 1, 7, 9, 64, 1000, 65536 })
    {
        Bytes b ((size_t) size);
        for (auto& byte : b)
            byte = (unsigned char) random.nextInt (256);
        cases.push_back ({ "random bytes", b });
    }
    for (int size : { 16, 300, 4096 })
    {
        // Random text behind a valid header.
        Bytes b ((size_t) size);
        for (auto& byte : b)
            byte = (unsigned char) random.nextInt (256);
        b[0] = 'V'; b[1] = 'C'; b[2] = '2'; b[3] = '!';
        putUint32 (b, 4, (juce::uint32) (size - 9));
        cases.push_back ({ "random text", b });
    }

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.name) + ", " + juce::String ((int) c.bytes.size()) + " bytes");
        RecordingProcessor fresh;
        edit (fresh.state, -11.0f);
        const StateSnapshot before (fresh);

        restore (fresh, c.bytes);

        const StateSnapshot after (fresh);
        EXPECT_EQ (after.parameters, before.parameters);
        EXPECT_EQ (after.properties, before.properties);
        EXPECT_EQ (after.attributes, before.attributes);
        EXPECT_NEAR (rawValue (fresh.state, "THD0"), -11.0f, 1.0e-5);
    }

    const StateSnapshot before (target);

    // A size that does not match a real block is refused too.
    target.setStateInformation (valid.data(), -5);
    target.setStateInformation (valid.data(), 0);
    EXPECT_TRUE (StateSnapshot (target) == before);

    // The valid block itself is not refused.
    restore (target, valid);
    EXPECT_NEAR (rawValue (target.state, "THD0"), -44.0f, 1.0e-5);
}

TEST_F (HostStateTest, BlockValuesThatAreNotNumbersKeepTheCurrentValue)
{
    // A block that names the input gain with no usable number, or twice: the instance keeps
    // running what it had (or the first entry), saves exactly that, and the rest of the block
    // still applies.
    edit (source.state, -30.0f);
    setPlain (source.state, "IN", 5.0f);
    const auto validText = textOf (save (source));
    const juce::String entry ("<PARAM id=\"IN\" value=\"5.0\"/>");
    ASSERT_TRUE (validText.contains (entry));

    struct Case { const char* replacement; float expected; };
    const Case cases[] {
        { "<PARAM id=\"IN\" value=\"nan\"/>", -7.0f },
        { "<PARAM id=\"IN\" value=\"\"/>", -7.0f },
        { "<PARAM id=\"IN\" value=\"abc\"/>", -7.0f },
        { "<PARAM id=\"IN\" value=\"-3.0\"/><PARAM id=\"IN\" value=\"nan\"/>", -3.0f },
        { "<PARAM id=\"IN\" value=\"nan\"/><PARAM id=\"IN\" value=\"-3.0\"/>", -7.0f },
        // An exponent too long for the framework's reader stands for an infinity or zero; the
        // parameter clamps an infinity to its range.
        { "<PARAM id=\"IN\" value=\"0.9386E60049247742\"/>", 12.0f },
        { "<PARAM id=\"IN\" value=\"-5e-99999999999\"/>", 0.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.replacement);
        RecordingProcessor fresh;
        setPlain (fresh.state, "IN", -7.0f);
        restore (fresh, makeBlock (validText.replace (entry, c.replacement)));

        EXPECT_NEAR (rawValue (fresh.state, "IN"), c.expected, 1.0e-5);
        EXPECT_NEAR (rawValue (fresh.state, "THD0"), -30.0f, 1.0e-5);

        const auto saved = juce::parseXML (textOf (save (fresh)));
        ASSERT_NE (saved, nullptr);
        const auto* parameters = saved->getChildByName ("Parameters");
        ASSERT_NE (parameters, nullptr);
        int named = 0;
        for (const auto* param : parameters->getChildIterator())
            if (param->getStringAttribute ("id") == "IN")
            {
                ++named;
                EXPECT_NEAR (param->getDoubleAttribute ("value"), c.expected, 1.0e-5) << param->getStringAttribute ("value");
            }
        EXPECT_EQ (named, 1);
    }
}

TEST_F (HostStateTest, StateWithMissingChildren)
{
    edit (source.state, -20.0f);
    const auto full = juce::parseXML (textOf (save (source)));
    ASSERT_NE (full, nullptr);

    struct Case
    {
        const char* name;
        juce::StringArray removed;
        bool propertiesKept, attributesKept;
    };
    const Case cases[] {
        { "no Attributes", { "Attributes" }, true, false },
        { "no Properties", { "Properties" }, false, true },
        { "no Modulators or Serialized", { "Modulators", "Serialized" }, true, true },
        { "only Parameters", { "Properties", "Serialized", "Modulators", "Attributes" }, false, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        juce::XmlElement xml (*full);
        for (const auto& name : c.removed)
            xml.removeChildElement (xml.getChildByName (name), true);

        RecordingProcessor fresh;
        fresh.state.properties.setProperty (Properties::sidechain, true, nullptr);
        fresh.state.attributes.setProperty ("stale", 1, nullptr);
        restore (fresh, makeBlock (xml.toString (juce::XmlElement::TextFormat().singleLine())));

        EXPECT_EQ (plainValues (fresh), plainValues (source));
        const auto expectedProperties = c.propertiesKept ? vyx::test::propertiesText (source.state.properties) : juce::String();
        EXPECT_EQ (vyx::test::propertiesText (fresh.state.properties), expectedProperties);

        const auto expectedAttributes = c.attributesKept ? vyx::test::propertiesText (source.state.attributes) : juce::String();
        EXPECT_EQ (vyx::test::propertiesText (fresh.state.attributes), expectedAttributes);

        EXPECT_FALSE (fresh.state.attributes.hasProperty ("stale"));
    }
}

TEST_F (HostStateTest, StoredAttributesReplaceTheCurrentOnes)
{
    source.state.attributes.setProperty (cvx::State::Attributes::width, 600, nullptr);
    const auto bytes = save (source);

    // Changed after the save: the restore brings back the stored set exactly.
    source.state.attributes.setProperty (cvx::State::Attributes::width, 900, nullptr);
    source.state.attributes.setProperty (Attributes::oversampler, 3, nullptr);
    const int preparedBefore = source.log->prepareCount.load();

    restore (source, bytes);

    EXPECT_EQ ((int) source.state.attributes[cvx::State::Attributes::width], 600);
    EXPECT_FALSE (source.state.attributes.hasProperty (Attributes::oversampler));
    EXPECT_EQ (source.state.attributes[cvx::State::Attributes::colour].toString(), "ff808080");
    EXPECT_EQ (source.log->prepareCount.load(), preparedBefore);
}

TEST_F (HostStateTest, NestedPropertiesOfAReasonableDepthAreRestored)
{
    // Markup inside comments, CDATA and attribute values does not count as nesting, and text
    // between elements is dropped.
    auto node = source.state.properties;
    for (int i = 0; i < 40; ++i)
    {
        juce::ValueTree child { "Level" };
        child.setProperty ("text", "<a><b><c> \"quoted\" '/>'", nullptr);
        node.appendChild (child, nullptr);
        node = child;
    }
    auto text = textOf (save (source));
    text = text.replace ("<Level ", "<!-- <x><x><x> --><![CDATA[<y><y>]]><Level ");

    restore (target, makeBlock (text));

    auto restored = target.state.properties;
    int depth = 0;
    while (restored.getNumChildren() > 0)
    {
        restored = restored.getChild (0);
        ++depth;
    }
    EXPECT_EQ (depth, 40);
    EXPECT_EQ (restored["text"].toString(), "<a><b><c> \"quoted\" '/>'");
}
