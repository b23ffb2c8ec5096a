// The state a VST3 host saves from the built bundle and restores into a new instance.

#include "HostTestSupport.h"
#include "ExpectedParameters.h"

namespace
{

namespace expected = vyx::test::expected;

/** A parameter the host sets on the saved instance, by normalised value, and its plain value. */
struct Setting
{
    const char* id;
    double normalised;
    expected::Range range;

    double plain() const { return range.denormalise (normalised); }
};

const Setting settings[] {
    { "IN",    0.25,      expected::gain },       // -57 dB
    { "MIX",   0.75,      expected::percent },
    { "NUM",   4.0 / 7.0, expected::bandCount },  // 5 bands
    { "THD0",  0.25,      expected::threshold },  // -45 dB
    { "RAD3",  0.5,       expected::ratio },
    { "ATD0",  0.1,       expected::time },
    { "REU7",  0.9,       expected::time },
    { "CR1",   0.7,       expected::frequency },
    { "BON5",  0.0,       expected::onOff },
    { "BMIX2", 0.3,       expected::unit },
};

/** The plug-in's own block inside a host state: where it starts in the component state, its
    length field and the XML text it carries. */
struct PluginBlock
{
    int offset = -1;
    juce::MemoryBlock componentState;
    juce::uint32 lengthField = 0;
    juce::String xmlText;
};

PluginBlock findPluginBlock (const juce::MemoryBlock& hostState)
{
    PluginBlock block;
    block.componentState = vyx::host::getComponentState (hostState);

    const auto* bytes = static_cast<const juce::uint8*> (block.componentState.getData());
    const auto size = (int) block.componentState.getSize();
    const juce::uint8 magic[] { 0x56, 0x43, 0x32, 0x21 };

    for (int i = 0; i + 8 <= size && block.offset < 0; ++i)
        if (std::memcmp (bytes + i, magic, 4) == 0)
            block.offset = i;

    if (block.offset < 0)
        return block;

    block.lengthField = juce::ByteOrder::littleEndianInt (bytes + block.offset + 4);
    const int textStart = block.offset + 8;
    if ((juce::int64) textStart + block.lengthField < (juce::int64) size)
        block.xmlText = juce::String::fromUTF8 (reinterpret_cast<const char*> (bytes + textStart), (int) block.lengthField);
    return block;
}

/** The state that instance saves, as the host stores it. */
juce::MemoryBlock saveState (juce::AudioPluginInstance& instance)
{
    juce::MemoryBlock state;
    instance.getStateInformation (state);
    return state;
}

class HostState : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        saved = vyx::test::loadBuiltPlugin();
        if (saved == nullptr)
            return;

        for (const auto& s : settings)
            if (auto* p = vyx::test::findParameter (*saved, s.id))
                p->setValue ((float) s.normalised);

        saved->getBypassParameter()->setValue (1.0f);
    }

    static void TearDownTestSuite() { saved.reset(); }

    void SetUp() override
    {
        ASSERT_NE (saved, nullptr);
        for (const auto& s : settings)
            ASSERT_NE (vyx::test::findParameter (*saved, s.id), nullptr) << s.id;
    }

    /** The instance whose parameters the host has set. */
    static std::unique_ptr<juce::AudioPluginInstance> saved;
};

std::unique_ptr<juce::AudioPluginInstance> HostState::saved;

TEST_F (HostState, PluginBlockInsideTheHostState)
{
    const auto block = findPluginBlock (saveState (*saved));
    ASSERT_GT (block.componentState.getSize(), 0u) << "no IComponent state in the host's block";

    // The wrapper stores the plug-in's block first and appends its own bypass record.
    ASSERT_EQ (block.offset, 0);
    const auto* bytes = static_cast<const char*> (block.componentState.getData());
    const auto end = (size_t) block.offset + 8 + block.lengthField;
    ASSERT_LT (end, block.componentState.getSize());
    EXPECT_EQ (bytes[end], '\0');
    EXPECT_EQ (std::strlen (bytes + block.offset + 8), (size_t) block.lengthField);

    // The wrapper's record is a zero int64, its data, the data's size as an int64 and a mark;
    // taking it away leaves the plug-in's block, whose length field is its size minus 9.
    const juce::String wrapperMark ("JUCEPrivateData");
    const auto size = block.componentState.getSize();
    const auto markLength = (size_t) wrapperMark.length();
    ASSERT_GE (size, end + 1 + 16 + markLength);
    EXPECT_EQ (juce::String::fromUTF8 (bytes + size - markLength, (int) markLength), wrapperMark);
    const auto recordData = (size_t) juce::ByteOrder::littleEndianInt64 (bytes + size - markLength - 8);
    ASSERT_LE (recordData + 16 + markLength, size);
    const auto pluginBlockSize = size - markLength - 16 - recordData;
    EXPECT_EQ ((size_t) block.lengthField, pluginBlockSize - 9);

    EXPECT_EQ (block.xmlText.getNumBytesAsUTF8(), (size_t) block.lengthField);
    EXPECT_TRUE (block.xmlText.startsWith ("<?xml"));
    EXPECT_FALSE (block.xmlText.containsAnyOf ("\r\n"));

    const auto xml = juce::parseXML (block.xmlText);
    ASSERT_NE (xml, nullptr);
    EXPECT_TRUE (xml->hasTagName ("State"));

    const char* const children[] { "Parameters", "Properties", "Serialized", "Modulators", "Attributes" };
    ASSERT_EQ (xml->getNumChildElements(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE (xml->getChildElement (i)->hasTagName (children[i])) << "child " << i;

    EXPECT_EQ (xml->getChildByName ("Attributes")->getStringAttribute ("colour"), "ff808080");
}

TEST_F (HostState, BlockHoldsThePlainValuesTheHostSet)
{
    const auto block = findPluginBlock (saveState (*saved));
    const auto xml = juce::parseXML (block.xmlText);
    ASSERT_NE (xml, nullptr);
    const auto* parameters = xml->getChildByName ("Parameters");
    ASSERT_NE (parameters, nullptr);
    EXPECT_EQ (parameters->getNumChildElements(), 94);

    for (const auto& s : settings)
    {
        SCOPED_TRACE (s.id);
        const auto* param = parameters->getChildByAttribute ("id", s.id);
        ASSERT_NE (param, nullptr);
        EXPECT_TRUE (param->hasTagName ("PARAM"));
        const double stored = param->getDoubleAttribute ("value");
        EXPECT_NEAR (stored, s.plain(), 1.0e-5 * std::max (1.0, std::abs (s.plain())));
    }
}

TEST_F (HostState, RestoredInstanceMatchesEveryParameter)
{
    const auto before = saveState (*saved);
    auto restored = vyx::test::loadBuiltPlugin();
    ASSERT_NE (restored, nullptr);

    const auto& from = saved->getParameters();
    const auto& to = restored->getParameters();
    ASSERT_EQ (from.size(), to.size());

    // Loading a second instance leaves the first one's parameters alone.
    for (const auto& s : settings)
        EXPECT_NEAR (vyx::test::findParameter (*saved, s.id)->getValue(), s.normalised, 1.0e-6) << s.id;

    // Otherwise the comparison below would pass without any restore.
    for (const auto& s : settings)
        EXPECT_GT (std::abs (vyx::test::findParameter (*restored, s.id)->getValue() - s.normalised), 1.0e-3) << s.id;
    EXPECT_EQ (restored->getBypassParameter()->getValue(), 0.0f);

    restored->setStateInformation (before.getData(), (int) before.getSize());

    for (int i = 0; i < from.size(); ++i)
    {
        SCOPED_TRACE (dynamic_cast<juce::HostedAudioProcessorParameter*> (from[i])->getParameterID()
                      + " " + from[i]->getName (64));
        EXPECT_NEAR (to[i]->getValue(), from[i]->getValue(), 1.0e-5);
    }
    EXPECT_EQ (restored->getBypassParameter()->getValue(), 1.0f);
}

TEST_F (HostState, RestoredInstanceSavesTheSameBlock)
{
    const auto first = findPluginBlock (saveState (*saved));
    ASSERT_GT (first.xmlText.length(), 0);

    auto restored = vyx::test::loadBuiltPlugin();
    ASSERT_NE (restored, nullptr);
    EXPECT_NE (findPluginBlock (saveState (*restored)).xmlText, first.xmlText);

    const auto state = saveState (*saved);
    restored->setStateInformation (state.getData(), (int) state.getSize());

    EXPECT_EQ (findPluginBlock (saveState (*restored)).xmlText, first.xmlText);
}

} // namespace
