#include "CacheTestSupport.h"

#include <csignal>
#include <sys/resource.h>

namespace
{

using cvx::cache::ValueFile;

juce::File corvaneFolder()
{
    return vyx::test::settingsFolder().getParentDirectory();
}

using vyx::test::encodeDocument;
using vyx::test::settingsFile;

/** The UTF-8 text held by a settings file. */
juce::String decodeFile (const juce::File& file)
{
    juce::MemoryBlock bytes;
    EXPECT_TRUE (bytes.fromBase64Encoding (file.loadFileAsString())) << file.getFullPathName();
    return juce::String::fromUTF8 (static_cast<const char*> (bytes.getData()), (int) bytes.getSize());
}

juce::String utf8 (const char* text)
{
    return juce::String (juce::CharPointer_UTF8 (text));
}

/** Checks the outer form: one line of ASCII, "<byte count>.<one character per 6 bits>". */
void expectBase64Form (const juce::File& file)
{
    const auto raw = file.loadFileAsString();
    ASSERT_TRUE (raw.isNotEmpty());
    EXPECT_FALSE (raw.containsAnyOf ("\r\n"));

    const auto dot = raw.indexOfChar ('.');
    ASSERT_GT (dot, 0);

    const auto count = raw.substring (0, dot);
    const auto body = raw.substring (dot + 1);
    EXPECT_TRUE (count.containsOnly ("0123456789"));
    EXPECT_TRUE (body.containsOnly (".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+"));

    const auto bytes = count.getLargeIntValue();
    EXPECT_EQ (bytes, (juce::int64) decodeFile (file).getNumBytesAsUTF8());
    EXPECT_EQ ((juce::int64) body.length(), (bytes * 8 + 5) / 6);
}

/** Every file and folder directly in a folder, hidden ones included. */
juce::StringArray namesIn (const juce::File& folder)
{
    juce::StringArray names;
    for (const auto& child : folder.findChildFiles (juce::File::findFilesAndDirectories, false, "*"))
        names.add (child.getFileName());
    names.sort (false);
    return names;
}

/** Lowers one of the process's resource limits until destroyed. Limits bind root too, which
    file permissions do not. */
struct ScopedResourceLimit
{
    ScopedResourceLimit (int resourceToLimit, rlim_t softLimit) : resource (resourceToLimit)
    {
        getrlimit (resource, &saved);
        rlimit lowered = saved;
        lowered.rlim_cur = softLimit;
        applied = setrlimit (resource, &lowered) == 0;
    }

    ~ScopedResourceLimit() { setrlimit (resource, &saved); }

    int resource;
    rlimit saved {};
    bool applied = false;
};

class ValueFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE (vyx::test::getTestHome().isDirectory());
        corvaneFolder().deleteRecursively();
    }

    void TearDown() override { corvaneFolder().deleteRecursively(); }

    static void writeRaw (const juce::String& text)
    {
        ASSERT_TRUE (settingsFile().getParentDirectory().createDirectory().wasOk());
        ASSERT_TRUE (settingsFile().replaceWithText (text, false, false, nullptr));
    }
};

TEST_F (ValueFileTest, LivesInTheUserApplicationDataFolder)
{
    ValueFile values ("Vyx");

    const auto expected = vyx::test::getTestHome().getFullPathName()
                          + "/.config/Application Support/Corvane/Vyx/Vyx.data";
    EXPECT_EQ (values.getFile().getFullPathName(), expected);
    EXPECT_EQ (values.getThreadName(), "Vyx Resource Manager");

    // The constructor makes the folder but not the file.
    EXPECT_TRUE (values.getFile().getParentDirectory().isDirectory());
    EXPECT_FALSE (values.getFile().exists());
    EXPECT_TRUE (values.isEmpty());
    EXPECT_FALSE (values.isThreadRunning());
}

TEST_F (ValueFileTest, MissingFileIsCreatedEmptyAndSavedAsAnEmptySettingsElement)
{
    ValueFile values ("Vyx");

    EXPECT_FALSE (values.load());
    EXPECT_TRUE (settingsFile().existsAsFile());
    EXPECT_EQ (settingsFile().getSize(), 0);
    EXPECT_TRUE (values.isEmpty());

    ASSERT_TRUE (values.save());
    expectBase64Form (settingsFile());

    // The framework's default text form: declaration, blank line, element, CR LF line ends.
    EXPECT_EQ (decodeFile (settingsFile()),
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<Settings/>\r\n");

    // Loading succeeds now, and the interval of -1 keeps the save thread from starting.
    ValueFile reader ("Vyx");
    EXPECT_TRUE (reader.load());
    EXPECT_TRUE (reader.isEmpty());
    EXPECT_FALSE (reader.isThreadRunning());
}

TEST_F (ValueFileTest, ValuesSurviveASaveAndALoad)
{
    juce::MemoryBlock blob;
    for (int i = 0; i < 300; ++i)
        blob.append (&i, 1);

    struct Case { const char* name; juce::var value; juce::String expectedText; };
    const Case cases[] = {
        { "plain",   "hello",                                 "hello" },
        { "umlauts", utf8 ("Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln"), utf8 ("Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln") },
        { "cjk",     utf8 ("\xe9\x9f\xb3\xe9\x87\x8f"),       utf8 ("\xe9\x9f\xb3\xe9\x87\x8f") },
        { "emoji",   utf8 ("\xf0\x9f\x8e\x9b knob"),          utf8 ("\xf0\x9f\x8e\x9b knob") },
        { "markup",  "<a href=\"x\">&amp;</a> 'q'",           "<a href=\"x\">&amp;</a> 'q'" },
        { "lines",   "one\r\ntwo\tthree",                     "one\r\ntwo\tthree" },
        { "long",    juce::String::repeatedString ("0123456789", 20), juce::String::repeatedString ("0123456789", 20) },
        { "empty",   "",                                      "" },
        // Values are stored as text: numbers come back as their decimal text.
        { "number",  42,                                      "42" },
        { "real",    -2.5,                                    "-2.5" },
    };

    {
        ValueFile writer ("Vyx");
        writer.load();
        for (const auto& c : cases)
            writer.set (c.name, c.value);
        writer.set ("blob", blob);
        ASSERT_TRUE (writer.save());
    }

    expectBase64Form (settingsFile());
    const auto document = juce::parseXML (decodeFile (settingsFile()));
    ASSERT_NE (document, nullptr);
    EXPECT_TRUE (document->hasTagName ("Settings"));
    EXPECT_EQ (document->getNumChildElements(), 0);
    EXPECT_EQ (document->getNumAttributes(), (int) std::size (cases) + 1);
    EXPECT_TRUE (document->hasAttribute ("base64:blob"));

    ValueFile reader ("Vyx");
    ASSERT_TRUE (reader.load());
    EXPECT_EQ (reader.size(), (int) std::size (cases) + 1);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto* value = reader.getVarPointer (c.name);
        ASSERT_NE (value, nullptr);
        EXPECT_TRUE (value->isString());
        EXPECT_EQ (value->toString(), c.expectedText);
    }

    const auto* loadedBlob = reader.getVarPointer ("blob");
    ASSERT_NE (loadedBlob, nullptr);
    ASSERT_NE (loadedBlob->getBinaryData(), nullptr);
    EXPECT_EQ (*loadedBlob->getBinaryData(), blob);
}

TEST_F (ValueFileTest, AnyRootElementIsAccepted)
{
    writeRaw (encodeDocument ("<?xml version=\"1.0\"?>\n"
                              "<Preferences colour=\"ff00ff00\" size=\"3\"><Child x=\"1\"/></Preferences>"));

    ValueFile values ("Vyx");
    values.set ("stale", "dropped on a successful load");

    ASSERT_TRUE (values.load());

    juce::NamedValueSet expected;
    expected.set ("colour", "ff00ff00");
    expected.set ("size", "3");
    EXPECT_TRUE (static_cast<juce::NamedValueSet&> (values) == expected);
}

TEST_F (ValueFileTest, UnreadableFileLeavesTheValuesAsTheyWere)
{
    struct Case { const char* name; juce::String content; };
    const Case cases[] = {
        { "empty file",                  "" },
        { "not Base64",                  "this is not base64 at all" },
        { "no byte count",               "PAGAPAGA" },
        { "Base64 of nothing",           encodeDocument ("") },
        { "Base64 of plain text",        encodeDocument ("plain words, no markup") },
        { "Base64 of text before markup", encodeDocument ("hello <Settings a=\"1\"/>") },
        // A byte count the characters cannot carry would make the decoder throw or claim
        // gigabytes; the file is refused instead.
        { "negative byte count",         "-5.AAAAAAAA" },
        { "oversized byte count",        "3000000000.AAAAAAAA" },
        { "attribute with a bad count",  encodeDocument ("<Settings ok=\"1\" base64:blob=\"-5.AAAA\"/>") },
        { "invalid UTF-8",               juce::MemoryBlock ("<Settings a=\"\xc3\x28\"/>", 18).toBase64Encoding() },
        // An entity that expands into itself would recurse in the parser until the stack ends.
        { "self-referencing entity",     encodeDocument ("<!DOCTYPE Settings [<!ENTITY a \"&a;\">]><Settings x=\"&a;\"/>") },
        // Found by the fuzzer: the document ends inside a character reference, which the
        // framework's parser would read on past.
        { "cut off inside a reference",  encodeDocument (utf8 ("<_F->\x01<_F->\r\n]ettir=\"&#252;cke &#x59")) },
        // XML forbids it, and the values would keep the first while the next save wrote the last.
        { "the same attribute twice",    encodeDocument ("<Settings colour=\"ff000000\" colour=\"ffffffff\"/>") },
        // Larger than any settings file: refused before it is decoded.
        { "17 MB",                       encodeDocument ("<Settings a=\"1\"><!--" + juce::String::repeatedString (" ", 17 << 20) + "--></Settings>") },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);

        writeRaw (encodeDocument ("<Settings colour=\"ff112233\" user=\"me\"/>"));
        ValueFile values ("Vyx");
        ASSERT_TRUE (values.load());
        values.set ("added", 7);
        const juce::NamedValueSet before (values);

        writeRaw (c.content);
        EXPECT_FALSE (values.load());
        EXPECT_TRUE (static_cast<juce::NamedValueSet&> (values) == before);
        EXPECT_FALSE (values.isThreadRunning());
    }
}

TEST_F (ValueFileTest, FailedWriteOfTheTemporaryKeepsThePreviousFile)
{
    struct Case
    {
        const char* name;
        int resource;
        rlim_t limit;
    };
    const Case cases[] = {
        // No file descriptor left: the temporary cannot be opened.
        { "temporary cannot be opened", RLIMIT_NOFILE, 0 },
        // File size limit below the text: write() stores a few bytes and reports a short count.
        { "write cut short",            RLIMIT_FSIZE, 8 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        corvaneFolder().deleteRecursively();

        ValueFile values ("Vyx");
        values.set ("kept", "previous");
        ASSERT_TRUE (values.save());
        const auto previous = settingsFile().loadFileAsString();

        values.set ("kept", "replacement");
        values.set ("extra", juce::String::repeatedString ("x", 200));

        bool saved = true;
        {
            // Exceeding the size limit raises SIGXFSZ, which would end the process.
            const auto previousHandler = std::signal (SIGXFSZ, SIG_IGN);
            {
                const ScopedResourceLimit limit (c.resource, c.limit);
                ASSERT_TRUE (limit.applied);
                saved = values.save();
            }
            std::signal (SIGXFSZ, previousHandler);
        }

        EXPECT_FALSE (saved);
        EXPECT_EQ (settingsFile().loadFileAsString(), previous);
        EXPECT_EQ (namesIn (settingsFile().getParentDirectory()), juce::StringArray ("Vyx.data"));

        // Once the limit is gone the same values are written.
        ASSERT_TRUE (values.save());
        ValueFile reader ("Vyx");
        ASSERT_TRUE (reader.load());
        EXPECT_EQ (reader["kept"].toString(), "replacement");
    }
}

TEST_F (ValueFileTest, FolderPathTakenByAFileFailsWithoutTouchingIt)
{
    ASSERT_TRUE (corvaneFolder().createDirectory().wasOk());
    const auto occupant = corvaneFolder().getChildFile ("Vyx");
    ASSERT_TRUE (occupant.replaceWithText ("not a folder"));

    ValueFile values ("Vyx");
    values.set ("a", 1);

    EXPECT_FALSE (values.load());
    EXPECT_FALSE (values.save());
    EXPECT_TRUE (occupant.existsAsFile());
    EXPECT_EQ (occupant.loadFileAsString(), "not a folder");
    EXPECT_EQ (namesIn (corvaneFolder()), juce::StringArray ("Vyx"));
    EXPECT_EQ (values["a"].toString(), "1");
}

TEST_F (ValueFileTest, TwoObjectsOnOneFileTheLastSaveWins)
{
    for (const bool firstSavesLast : { false, true })
    {
        SCOPED_TRACE (firstSavesLast ? "first saves last" : "second saves last");
        writeRaw (encodeDocument ("<Settings shared=\"from disk\"/>"));

        ValueFile first ("Vyx"), second ("Vyx");
        ASSERT_TRUE (first.load());
        ASSERT_TRUE (second.load());
        EXPECT_EQ (first["shared"].toString(), "from disk");
        EXPECT_EQ (second["shared"].toString(), "from disk");

        first.set ("owner", "first");
        first.set ("onlyFirst", 1);
        second.set ("owner", "second");
        second.set ("onlySecond", 2);

        auto& earlier = firstSavesLast ? second : first;
        auto& later = firstSavesLast ? first : second;
        ASSERT_TRUE (earlier.save());
        ASSERT_TRUE (later.save());

        ValueFile reader ("Vyx");
        ASSERT_TRUE (reader.load());
        EXPECT_TRUE (static_cast<juce::NamedValueSet&> (reader) == static_cast<juce::NamedValueSet&> (later));
        EXPECT_FALSE (static_cast<juce::NamedValueSet&> (reader) == static_cast<juce::NamedValueSet&> (earlier));
    }
}

} // namespace
