#include "PresetsTestSupport.h"

#include <csignal>
#include <sys/resource.h>

namespace vyx::test
{
namespace
{

using cvx::ui::PresetFiles;

TEST (PresetFilesTest, FoldersEndInTheMakerAndProductFolders)
{
    PresetFolders folders;

    const auto expectedUser = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                                  .getChildFile ("Audio/Presets/Corvane/Vyx");
    EXPECT_EQ (PresetFiles::getDirectory (true), expectedUser);
    EXPECT_TRUE (expectedUser.isDirectory());
    EXPECT_TRUE (expectedUser.isAChildOf (getTestHome()));

    EXPECT_EQ (PresetFiles::getDirectory (false), folders.factoryRoot.getChildFile ("Audio/Presets/Corvane/Vyx"));

    // The factory folder is the installer's: asking for it never creates it.
    const auto elsewhere = getTestHome().getChildFile ("no-factory");
    PresetFiles::setFactoryRoot (elsewhere);
    EXPECT_EQ (PresetFiles::getDirectory (false), elsewhere.getChildFile ("Audio/Presets/Corvane/Vyx"));
    EXPECT_FALSE (elsewhere.exists());
    PresetFiles::setFactoryRoot (folders.factoryRoot);
}

TEST (PresetFilesTest, ListsPresetAndFlavorFilesOnlyInFileOrder)
{
    PresetFolders folders;
    const auto user = folders.user();
    for (auto name : { "b.preset", "A.preset", "A.flavor", "c.txt", "d.preset.bak", "Zeta.preset" })
        writeText (user.getChildFile (name), "<State/>");
    user.getChildFile ("Folder.preset").createDirectory();
    writeText (user.getChildFile ("Sub/e.preset"), "<State/>");

    juce::StringArray names;
    for (const auto& file : PresetFiles::findPresets (user))
        names.add (file.getFileName());

    // The framework's file order compares full paths; on Linux upper case sorts first.
    juce::StringArray expected { "A.flavor", "A.preset", "Zeta.preset", "b.preset" };
    EXPECT_EQ (names, expected);

    const auto folders2 = PresetFiles::findSubFolders (user);
    ASSERT_EQ (folders2.size(), 2);
    EXPECT_EQ (folders2[0].getFileName(), "Folder.preset");
    EXPECT_EQ (folders2[1].getFileName(), "Sub");
}

TEST (PresetFilesTest, ReadRefusesWhatIsNotAPresetDocument)
{
    PresetFolders folders;
    const auto dir = folders.user();

    juce::MemoryBlock garbage (4096);
    juce::Random rng (7);
    for (size_t i = 0; i < garbage.getSize(); ++i)
        garbage[i] = (char) rng.nextInt (256);

    struct Case
    {
        const char* name;
        std::function<juce::File()> make;
    };

    const Case cases[] {
        { "missing", [&] { return dir.getChildFile ("missing.preset"); } },
        { "empty", [&] { return writeText (dir.getChildFile ("empty.preset"), ""); } },
        { "truncated", [&] { return writeText (dir.getChildFile ("cut.preset"), "<State><Parameters><PARAM id=\"IN\" val"); } },
        { "cut off inside a character reference", [&] { return writeText (dir.getChildFile ("reference.preset"),
                                                          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<State><Parameters><PARAM id=\"IN\" value=\"3\"/>&#x59"); } },
        { "binary", [&] { auto f = dir.getChildFile ("bin.preset"); f.replaceWithData (garbage.getData(), garbage.getSize()); return f; } },
        { "entity bomb", [&] { return writeText (dir.getChildFile ("bomb.preset"),
                                   "<?xml version=\"1.0\"?><!DOCTYPE State [<!ENTITY a \"aaaaaaaaaa\">"
                                   "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
                                   "<State x=\"&c;&c;&c;&c;\"/>"); } },
        { "folder", [&] { auto f = dir.getChildFile ("Folder.preset"); f.createDirectory(); return f; } },
        { "too large", [&]
          {
              auto f = dir.getChildFile ("huge.preset");
              juce::FileOutputStream out (f);
              out.writeText ("<State><Parameters>", false, false, nullptr);
              const juce::String line ("<PARAM id=\"IN\" value=\"0.0\"/>\n");
              while (out.getPosition() < 50 * 1024 * 1024)
                  out.writeText (line, false, false, nullptr);
              out.writeText ("</Parameters></State>", false, false, nullptr);
              return f;
          } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto file = c.make();
        EXPECT_FALSE (PresetFiles::read (file).isValid());
    }
}

TEST (PresetFilesTest, ReadGivesTheTreeWithoutTextBetweenElements)
{
    PresetFolders folders;
    const auto file = writeText (folders.user().getChildFile ("t.preset"),
                                 "<?xml version=\"1.0\"?>\n<State>stray text<Parameters><PARAM id=\"IN\" value=\"3\"/></Parameters></State>");
    const auto tree = PresetFiles::read (file);
    ASSERT_TRUE (tree.isValid());
    EXPECT_TRUE (tree.hasType (cvx::State::stateID));
    EXPECT_EQ (tree.getNumChildren(), 1);
    EXPECT_EQ ((double) tree.getChild (0).getChild (0).getProperty ("value"), 3.0);
}

TEST (PresetFilesTest, OnlyStateRootsInAnyCaseCountAsStateTrees)
{
    for (auto type : { "State", "STATE", "state" })
        EXPECT_TRUE (PresetFiles::isStateTree (juce::ValueTree (type))) << type;
    for (auto type : { "PARAMETERS", "Parameters", "States", "foo" })
        EXPECT_FALSE (PresetFiles::isStateTree (juce::ValueTree (type))) << type;
    EXPECT_FALSE (PresetFiles::isStateTree ({}));
}

TEST (PresetFilesTest, SanitiseClampsDropsAndKeepsTheFirstOfRepeatedEntries)
{
    auto processor = makeProcessor();
    const auto& inRange = processor->state.parameters.getParameter ("IN")->getNormalisableRange();
    const auto& crossRange = processor->state.parameters.getParameter ("CR0")->getNormalisableRange();

    juce::ValueTree preset ("State");
    juce::ValueTree parameters ("Parameters");
    preset.appendChild (parameters, nullptr);

    const auto add = [&] (const juce::String& id, const juce::var& value)
    {
        juce::ValueTree p ("PARAM");
        p.setProperty ("id", id, nullptr);
        p.setProperty ("value", value, nullptr);
        parameters.appendChild (p, nullptr);
    };

    add ("IN", (double) inRange.end + 100.0);
    add ("OUT", "nan");
    add ("WET", std::numeric_limits<double>::infinity());
    add ("DRY", "-3.5");
    add ("MIX", "loud");
    add ("CR0", (double) crossRange.start - 1.0);
    add ("NOPE", 1.0);
    add ("IN", -1.0);

    cvx::ui::PresetFiles::sanitiseParameters (preset, processor->state.parameters);

    const auto valueOf = [&] (const juce::String& id) { return parameters.getChildWithProperty ("id", id).getProperty ("value"); };

    EXPECT_EQ (parameters.getNumChildren(), 6);
    EXPECT_FALSE (parameters.getChildWithProperty ("id", "NOPE").isValid());
    EXPECT_EQ ((double) valueOf ("IN"), (double) inRange.end);
    EXPECT_TRUE (valueOf ("OUT").isVoid());
    EXPECT_TRUE (valueOf ("WET").isVoid());
    EXPECT_TRUE (valueOf ("MIX").isVoid());
    EXPECT_EQ ((double) valueOf ("DRY"), -3.5);
    EXPECT_EQ ((double) valueOf ("CR0"), (double) crossRange.start);
}

TEST (PresetFilesTest, WriteReplacesTheTargetWithTheWholeDocument)
{
    PresetFolders folders;
    const auto target = folders.user().getChildFile ("New Folder/p.preset");

    juce::ValueTree first ("State");
    first.setProperty ("n", 1, nullptr);
    ASSERT_TRUE (PresetFiles::write (first, target));

    juce::ValueTree second ("State");
    second.setProperty ("n", 2, nullptr);
    ASSERT_TRUE (PresetFiles::write (second, target));

    const auto read = PresetFiles::read (target);
    EXPECT_EQ ((int) read.getProperty ("n"), 2);
    EXPECT_TRUE (target.loadFileAsString().startsWith ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    // No temporary file is left beside it.
    EXPECT_EQ (target.getParentDirectory().getNumberOfChildFiles (juce::File::findFilesAndDirectories | juce::File::ignoreHiddenFiles, "*"), 1);
    EXPECT_EQ (target.getParentDirectory().getNumberOfChildFiles (juce::File::findFilesAndDirectories, "*"), 1);
}

/** Lowers one resource limit of the process for its lifetime. */
struct ScopedFileSizeLimit
{
    explicit ScopedFileSizeLimit (rlim_t bytes)
    {
        getrlimit (RLIMIT_FSIZE, &saved);
        rlimit lowered = saved;
        lowered.rlim_cur = bytes;
        applied = setrlimit (RLIMIT_FSIZE, &lowered) == 0;
        // Exceeding the limit raises SIGXFSZ, which would end the process.
        previous = std::signal (SIGXFSZ, SIG_IGN);
    }

    ~ScopedFileSizeLimit()
    {
        setrlimit (RLIMIT_FSIZE, &saved);
        std::signal (SIGXFSZ, previous);
    }

    rlimit saved {};
    bool applied = false;
    void (*previous) (int) = nullptr;
};

TEST (PresetFilesTest, AFailedWriteLeavesTheOldFileOrNoFile)
{
    PresetFolders folders;
    auto processor = makeProcessor();
    const auto preset = processor->state.toPreset();

    const auto existing = folders.user().getChildFile ("Old.preset");
    ASSERT_TRUE (PresetFiles::write (preset, existing));
    const auto before = existing.loadFileAsString();
    const auto absent = folders.user().getChildFile ("New.preset");

    {
        ScopedFileSizeLimit limit (64);
        ASSERT_TRUE (limit.applied);
        EXPECT_FALSE (PresetFiles::write (preset, existing));
        EXPECT_FALSE (PresetFiles::write (preset, absent));
    }

    EXPECT_EQ (existing.loadFileAsString(), before);
    EXPECT_FALSE (absent.exists());
    EXPECT_EQ (folders.user().getNumberOfChildFiles (juce::File::findFilesAndDirectories, "*"), 1);

    // A folder in the way is neither replaced nor filled.
    const auto folder = folders.user().getChildFile ("Busy.preset");
    folder.createDirectory();
    EXPECT_FALSE (PresetFiles::write (preset, folder));
    EXPECT_TRUE (folder.isDirectory());
    EXPECT_EQ (folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories, "*"), 0);
}

TEST (PresetFilesTest, TrashIsCreatedWhenMissingAndRecordsWhereTheFileWas)
{
    PresetFolders folders;
    const auto trash = getTestHome().getChildFile (".local/share/Trash");
    trash.deleteRecursively();

    const auto file = writeText (folders.user().getChildFile ("Gone Soon.preset"), "<State/>");
    ASSERT_TRUE (PresetFiles::moveToTrash (file));
    EXPECT_FALSE (file.exists());

    const auto moved = trash.getChildFile ("files/Gone Soon.preset");
    EXPECT_EQ (moved.loadFileAsString(), "<State/>");
    const auto record = trash.getChildFile ("info/Gone Soon.preset.trashinfo").loadFileAsString();
    EXPECT_TRUE (record.startsWith ("[Trash Info]\n"));
    EXPECT_TRUE (record.contains ("\nPath=" + file.getFullPathName().replace (" ", "%20") + "\n")) << record;
    EXPECT_TRUE (record.contains ("\nDeletionDate=")) << record;

    // A second file of the same name does not overwrite the first one in the trash.
    const auto again = writeText (file, "<State n=\"2\"/>");
    ASSERT_TRUE (PresetFiles::moveToTrash (again));
    EXPECT_EQ (moved.loadFileAsString(), "<State/>");
    EXPECT_TRUE (trash.getChildFile ("files/Gone Soon 2.preset").existsAsFile());
    EXPECT_TRUE (trash.getChildFile ("info/Gone Soon 2.preset.trashinfo").existsAsFile());

    trash.deleteRecursively();
}

TEST (PresetFilesTest, TrashThatCannotBeCreatedReportsFailureAndKeepsTheFile)
{
    PresetFolders folders;
    const auto share = getTestHome().getChildFile (".local/share");
    share.getChildFile ("Trash").deleteRecursively();
    // A file where the trash folder should be.
    writeText (share.getChildFile ("Trash"), "not a folder");

    const auto file = writeText (folders.user().getChildFile ("Kept.preset"), "<State/>");
    EXPECT_FALSE (PresetFiles::moveToTrash (file));
    EXPECT_TRUE (file.existsAsFile());

    share.getChildFile ("Trash").deleteFile();
}

TEST (PresetFilesTest, CurrentPresetIsOnlyAnAbsolutePath)
{
    auto processor = makeProcessor();
    auto& attributes = processor->state.attributes;

    struct Case { juce::var text; juce::File expected; };
    const Case cases[] {
        { juce::var(), {} },
        { "", {} },
        { "relative/name.preset", {} },
        { "name.preset", {} },
        { "~/name.preset", {} },
        { 42, {} },
        { "/tmp/x/name.preset", juce::File ("/tmp/x/name.preset") },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.text.toString());
        attributes.setProperty (cvx::State::Attributes::preset, c.text, nullptr);
        EXPECT_EQ (PresetFiles::getCurrentPreset (processor->state), c.expected);
    }
}

TEST (PresetFilesTest, SaveNameKeepsOnlyTheAllowedCharacters)
{
    const auto now = juce::Time (2026, 11, 9, 6, 5, 7, 0, true);  // 9 December 2026, 06:05:07 local

    struct Case { juce::String typed, expected; };
    const Case cases[] {
        { "My Preset", "My Preset" },
        { "  padded  ", "padded" },
        { "a/b\\c:d*?", "abcd" },
        { "Gentle Glue*", "Gentle Glue" },
        { "under_score-hyphen 9", "under_score-hyphen 9" },
        { juce::CharPointer_UTF8 ("Caf\xc3\xa9 \xe2\x98\x85"), "Caf" },
        { "../../etc/passwd", "etcpasswd" },
        { "", "9-Dec-2026-6-5-7" },
        { "   ", "9-Dec-2026-6-5-7" },
        { "*?/", "9-Dec-2026-6-5-7" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (PresetFiles::makeSaveName (c.typed, now), c.expected) << c.typed;

    // Every month's name, without leading zeros in the numbers.
    const char* months[] { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
    for (int m = 0; m < 12; ++m)
    {
        const auto t = juce::Time (2025, m, 1, 0, 0, 0, 0, true);
        EXPECT_EQ (PresetFiles::makeSaveName ({}, t), juce::String ("1-") + months[m] + "-2025-0-0-0");
    }
}

} // namespace
} // namespace vyx::test
