#include "CacheTestSupport.h"
#include "plugin/PluginProcessor.h"

namespace
{

using vyx::test::encodeDocument;
using vyx::test::settingsFile;
using vyx::test::settingsFolder;

std::unique_ptr<juce::XmlElement> decodeFile()
{
    juce::MemoryBlock bytes;
    if (! bytes.fromBase64Encoding (settingsFile().loadFileAsString()))
        return {};
    return juce::parseXML (juce::String::fromUTF8 (static_cast<const char*> (bytes.getData()), (int) bytes.getSize()));
}

cvx::cache::ValueFile& settingsOf (juce::AudioProcessor& processor)
{
    auto* base = dynamic_cast<cvx::AudioProcessor*> (&processor);
    EXPECT_NE (base, nullptr);
    return base->state.settings;
}

class ProcessorSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Every processor starts the version query: it must stay on this machine.
        ASSERT_TRUE (cvx::api::url.startsWith ("http://127.0.0.1")) << cvx::api::url;
        ASSERT_TRUE (vyx::test::getTestHome().isDirectory());
        settingsFolder().getParentDirectory().deleteRecursively();
    }

    void TearDown() override { settingsFolder().getParentDirectory().deleteRecursively(); }
};

TEST_F (ProcessorSettingsTest, FreshProcessorCreatesTheFolderAndFileAndWritesItBack)
{
    ASSERT_FALSE (settingsFolder().exists());

    {
        std::unique_ptr<juce::AudioProcessor> processor (createPluginFilter());
        ASSERT_NE (processor, nullptr);

        EXPECT_TRUE (settingsFolder().isDirectory());
        EXPECT_TRUE (settingsFile().existsAsFile());
        EXPECT_EQ (settingsFile().getSize(), 0);
        EXPECT_TRUE (settingsOf (*processor).isEmpty());
    }

    const auto document = decodeFile();
    ASSERT_NE (document, nullptr);
    EXPECT_TRUE (document->hasTagName ("Settings"));
    EXPECT_EQ (document->getNumAttributes(), 0);
    EXPECT_EQ (document->getNumChildElements(), 0);
}

TEST_F (ProcessorSettingsTest, ValuesOnDiskSurviveAProcessorLifetime)
{
    // Stored under another root tag, so the file read afterwards proves it was rewritten.
    ASSERT_TRUE (settingsFolder().createDirectory().wasOk());
    ASSERT_TRUE (settingsFile().replaceWithText (
        encodeDocument ("<Legacy theme=\"dark\" zoom=\"1.25\" name=\"K&#246;ln &amp; co\"/>")));

    {
        std::unique_ptr<juce::AudioProcessor> processor (createPluginFilter());
        auto& settings = settingsOf (*processor);
        EXPECT_EQ (settings.size(), 3);
        EXPECT_EQ (settings["theme"].toString(), "dark");
    }

    const auto document = decodeFile();
    ASSERT_NE (document, nullptr);
    EXPECT_TRUE (document->hasTagName ("Settings"));
    EXPECT_EQ (document->getNumAttributes(), 3);
    EXPECT_EQ (document->getStringAttribute ("theme"), "dark");
    EXPECT_EQ (document->getStringAttribute ("zoom"), "1.25");
    EXPECT_EQ (document->getStringAttribute ("name"), juce::String (juce::CharPointer_UTF8 ("K\xc3\xb6ln & co")));
}

TEST_F (ProcessorSettingsTest, TheLastProcessorDestroyedWritesLast)
{
    for (const bool firstDestroyedLast : { false, true })
    {
        SCOPED_TRACE (firstDestroyedLast ? "first destroyed last" : "second destroyed last");

        std::unique_ptr<juce::AudioProcessor> first (createPluginFilter());
        std::unique_ptr<juce::AudioProcessor> second (createPluginFilter());
        settingsOf (*first).set ("owner", "first");
        settingsOf (*second).set ("owner", "second");

        if (firstDestroyedLast)
            second.reset();
        else
            first.reset();

        const juce::String expected = first != nullptr ? "first" : "second";
        first.reset();
        second.reset();

        const auto document = decodeFile();
        ASSERT_NE (document, nullptr);
        EXPECT_EQ (document->getStringAttribute ("owner"), expected);
    }
}

} // namespace
