#include "PresetsTestSupport.h"

namespace vyx::test
{
namespace
{

using cvx::ui::PresetFiles;
using cvx::ui::PresetsMenu;

// Real windows need the window manager up before the first test touches one.
[[maybe_unused]] const bool windowManagerInUse = useWindowManager();

/** A processor, fresh preset folders, and the preset bar on the processor's state. */
struct PresetsFixture : public ::testing::Test
{
    PresetsFixture()
    {
        menu = std::make_unique<PresetsMenu> (processor->state);
        menu->setBounds (0, 0, 500, 50);
    }

    ~PresetsFixture() override
    {
        if (window != nullptr)
            window->removeAllChildren();
        window.reset();
        menu.reset();
        processor.reset();
    }

    /** Writes a preset file holding the product's defaults with the given plain values. */
    juce::File writePreset (const juce::File& file, std::map<juce::String, float> values = {})
    {
        auto source = makeProcessor();
        for (const auto& [id, value] : values)
            setPlain (*source, id, value);
        EXPECT_TRUE (PresetFiles::write (source->state.toPreset(), file));
        return file;
    }

    juce::File current() { return PresetFiles::getCurrentPreset (processor->state); }
    bool dirty() { return (bool) processor->state.attributes.getProperty (cvx::State::Attributes::dirty, false); }
    juce::String labelText() { return menu->label.getText(); }

    /** Puts the bar into a real window: a text field takes focus only when it is showing. */
    void showInWindow()
    {
        window = std::make_unique<juce::Component>();
        window->setBounds (0, 0, 500, 50);
        window->addAndMakeVisible (*menu);
        window->addToDesktop (0);
        window->setVisible (true);
    }

    PresetFolders folders;
    std::unique_ptr<VyxAudioProcessor> processor = makeProcessor();
    std::unique_ptr<PresetsMenu> menu;
    std::unique_ptr<juce::Component> window;
};

//==============================================================================
TEST_F (PresetsFixture, MenuListsFactoryPresetsSubFoldersThenUserSaveAndDelete)
{
    writePreset (folders.factory().getChildFile ("Factory B.preset"));
    writePreset (folders.factory().getChildFile ("Factory A.flavor"));
    writePreset (folders.factory().getChildFile ("Bass/Deep.preset"));
    folders.factory().getChildFile ("Empty").createDirectory();
    writePreset (folders.user().getChildFile ("Mine.preset"));
    writePreset (folders.user().getChildFile ("Nested/Ignored.preset"));

    const auto built = menu->getMenu();
    EXPECT_EQ (textsOf (built), (juce::StringArray { "Factory A", "Factory B", "---", "Bass", "Empty", "---",
                                                     "User", "---", "Save", "Delete" }));

    for (auto name : { "Bass", "Empty", "User" })
    {
        const auto* item = findItem (built, name);
        ASSERT_NE (item, nullptr);
        EXPECT_TRUE (item->isEnabled) << name;
        ASSERT_NE (item->subMenu, nullptr);
    }
    EXPECT_EQ (textsOf (*findItem (built, "Bass")->subMenu), juce::StringArray { "Deep" });
    EXPECT_EQ (textsOf (*findItem (built, "Empty")->subMenu), juce::StringArray());
    EXPECT_EQ (textsOf (*findItem (built, "User")->subMenu), juce::StringArray { "Mine" });

    juce::StringArray flat;
    for (const auto& file : menu->getPresetList())
        flat.add (file.getRelativePathFrom (getTestHome()));
    const juce::StringArray expected {
        folders.factory().getChildFile ("Factory A.flavor").getRelativePathFrom (getTestHome()),
        folders.factory().getChildFile ("Factory B.preset").getRelativePathFrom (getTestHome()),
        folders.factory().getChildFile ("Bass/Deep.preset").getRelativePathFrom (getTestHome()),
        folders.user().getChildFile ("Mine.preset").getRelativePathFrom (getTestHome()),
    };
    EXPECT_EQ (flat, expected);
}

TEST_F (PresetsFixture, SamePresetNameWithBothExtensionsTicksOnlyTheCurrentFile)
{
    writePreset (folders.user().getChildFile ("A.preset"));
    const auto flavor = writePreset (folders.user().getChildFile ("A.flavor"));
    menu->loadPreset (flavor);

    const auto built = menu->getMenu();
    const auto& user = *findItem (built, "User")->subMenu;
    const auto items = itemsOf (user);
    ASSERT_EQ (items.size(), 2u);
    EXPECT_EQ (items[0]->text, "A");
    EXPECT_EQ (items[1]->text, "A");
    EXPECT_TRUE (items[0]->isTicked);   // A.flavor sorts first
    EXPECT_FALSE (items[1]->isTicked);

    // Choosing the other item loads it.
    items[1]->action();
    EXPECT_EQ (current(), folders.user().getChildFile ("A.preset"));
}

TEST_F (PresetsFixture, WithoutAFactoryFolderTheMenuStartsWithUser)
{
    // A file where the factory root should be: the folder cannot be created.
    const auto blocked = writeText (getTestHome().getChildFile ("blocked-root"), "x");
    PresetFiles::setFactoryRoot (blocked);

    writePreset (folders.user().getChildFile ("Mine.preset"));
    EXPECT_EQ (textsOf (menu->getMenu()), (juce::StringArray { "User", "---", "Save", "Delete" }));

    blocked.deleteFile();
}

TEST_F (PresetsFixture, DeleteIsEnabledOnlyForAPresetDirectlyInTheUserFolder)
{
    const auto factory = writePreset (folders.factory().getChildFile ("F.preset"));
    const auto nested = writePreset (folders.user().getChildFile ("Sub/N.preset"));
    const auto user = writePreset (folders.user().getChildFile ("U.preset"));

    struct Case { const char* name; juce::var preset; bool enabled; };
    const Case cases[] {
        { "no preset", juce::var(), false },
        { "factory preset", factory.getFullPathName(), false },
        { "user sub-folder", nested.getFullPathName(), false },
        { "user preset", user.getFullPathName(), true },
        { "user folder path in other case", user.getFullPathName().toUpperCase(), false },
        { "not a path", "U.preset", false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        processor->state.attributes.setProperty (cvx::State::Attributes::preset, c.preset, nullptr);
        const auto built = menu->getMenu();
        const auto* item = findItem (built, "Delete");
        ASSERT_NE (item, nullptr);
        EXPECT_EQ (item->isEnabled, c.enabled);
        EXPECT_FALSE (item->isTicked);
    }
}

//==============================================================================
TEST_F (PresetsFixture, LoadAppliesTheFileMakesItCurrentAndClean)
{
    const auto file = writePreset (folders.user().getChildFile ("Loud.preset"), { { "IN", 6.0f }, { "THD2", -30.0f } });
    menu->getMenu();

    processor->state.attributes.setProperty (cvx::State::Attributes::dirty, true, nullptr);
    menu->loadPreset (file);

    EXPECT_NEAR (getPlain (*processor, "IN"), 6.0f, 1e-4f);
    EXPECT_NEAR (getPlain (*processor, "THD2"), -30.0f, 1e-4f);
    EXPECT_EQ (current(), file);
    EXPECT_FALSE (dirty());
    EXPECT_EQ (labelText(), "Loud");

    // A parameter or a product switch marks it edited; an editor attribute does not. The
    // parameter store writes a host change into its tree on its own timer.
    setPlain (*processor, "IN", 0.0f);
    EXPECT_TRUE (runMessageLoopUntil ([&] { return dirty(); }));
    EXPECT_EQ (labelText(), "Loud*");

    menu->loadPreset (file);
    EXPECT_FALSE (dirty());
    EXPECT_EQ (labelText(), "Loud");

    processor->state.properties.setProperty (Properties::limiter, false, nullptr);
    EXPECT_TRUE (dirty());

    menu->loadPreset (file);
    processor->state.attributes.setProperty (cvx::State::Attributes::colour, "ff112233", nullptr);
    processor->state.attributes.setProperty (cvx::State::Attributes::width, 900, nullptr);
    EXPECT_FALSE (dirty());
}

TEST_F (PresetsFixture, ALoadStaysCleanAfterTheParameterStoreWritesItsValuesBack)
{
    // 550 Hz does not survive the trip through the normalised range exactly; the store writes
    // back 549.99994 on its timer.
    const auto file = writeText (folders.user().getChildFile ("Exact.preset"),
                                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<State><Parameters><PARAM id=\"CR0\" value=\"550.0\"/><PARAM id=\"CR1\" value=\"2500.0\"/>"
                                 "<PARAM id=\"THD0\" value=\"-17.3\"/></Parameters><Properties/></State>");
    menu->loadPreset (file);
    ASSERT_EQ (current(), file);
    ASSERT_FALSE (dirty());

    // The store's timer runs at most every half second.
    EXPECT_FALSE (runMessageLoopUntil ([&] { return dirty(); }, 1200));
    EXPECT_EQ (labelText(), "Exact");
}

TEST_F (PresetsFixture, RoundingEchoesOfLoadedValuesAreNoEdits)
{
    const auto file = writePreset (folders.user().getChildFile ("Echo.preset"), { { "CR0", 550.0f }, { "IN", -3.3f } });
    menu->loadPreset (file);
    ASSERT_FALSE (dirty());

    // What a host hands back: the same normalised value through a float, or a plain value one
    // float step away.
    auto& tree = processor->state.parameters.state;
    auto cross = tree.getChildWithProperty ("id", "CR0");
    const auto plain = (float) cross.getProperty ("value");
    cross.setProperty ("value", (double) std::nextafter (plain, 1.0e9f), nullptr);
    auto input = tree.getChildWithProperty ("id", "IN");
    input.setProperty ("value", (double) std::nextafter ((float) input.getProperty ("value"), -1.0e9f), nullptr);
    EXPECT_FALSE (dirty());
    EXPECT_EQ (labelText(), "Echo");

    // A real change, however small a user can make it, is an edit.
    input.setProperty ("value", (double) input.getProperty ("value") + 0.01, nullptr);
    EXPECT_TRUE (dirty());
    EXPECT_EQ (labelText(), "Echo*");
}

TEST_F (PresetsFixture, BadFilesLoadNothingAndLoseNothing)
{
    const auto good = writePreset (folders.user().getChildFile ("Good.preset"), { { "IN", 3.0f } });
    menu->getMenu();
    menu->loadPreset (good);
    processor->state.properties.setProperty (Properties::sidechain, true, nullptr);
    processor->state.attributes.setProperty (cvx::State::Attributes::dirty, false, nullptr);

    const auto dir = folders.user();
    juce::MemoryBlock garbage (2048);
    juce::Random rng (3);
    for (size_t i = 0; i < garbage.getSize(); ++i)
        garbage[i] = (char) rng.nextInt (256);

    struct Case { const char* name; std::function<juce::File()> make; };
    const Case cases[] {
        { "empty", [&] { return writeText (dir.getChildFile ("Empty.preset"), ""); } },
        { "truncated", [&] { return writeText (dir.getChildFile ("Cut.preset"), good.loadFileAsString().substring (0, 300)); } },
        { "binary", [&] { auto f = dir.getChildFile ("Bin.preset"); f.replaceWithData (garbage.getData(), garbage.getSize()); return f; } },
        { "entity bomb", [&] { return writeText (dir.getChildFile ("Bomb.preset"),
                                  "<?xml version=\"1.0\"?><!DOCTYPE State [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
                                  "<State><Properties LIMIT=\"&b;\"/></State>"); } },
        { "50 MB", [&]
          {
              auto f = dir.getChildFile ("Huge.preset");
              juce::FileOutputStream out (f);
              out.writeText ("<State><Parameters>", false, false, nullptr);
              const juce::String line ("<PARAM id=\"IN\" value=\"-12.0\"/>\n");
              while (out.getPosition() < 50 * 1024 * 1024)
                  out.writeText (line, false, false, nullptr);
              out.writeText ("</Parameters></State>", false, false, nullptr);
              return f;
          } },
        { "folder", [&] { auto f = dir.getChildFile ("Folder.preset"); f.createDirectory(); return f; } },
        { "other root", [&] { return writeText (dir.getChildFile ("Other.preset"),
                                 "<Settings><Parameters><PARAM id=\"IN\" value=\"-12\"/></Parameters></Settings>"); } },
        { "missing", [&] { return dir.getChildFile ("Nowhere.preset"); } },
    };

    const auto before = processor->state.toPreset().toXmlString();
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        menu->loadPreset (c.make());
        EXPECT_EQ (processor->state.toPreset().toXmlString(), before);
        EXPECT_EQ (current(), good);
        EXPECT_FALSE (dirty());
        EXPECT_EQ (labelText(), "Good");
        EXPECT_TRUE (good.existsAsFile());
    }
}

TEST_F (PresetsFixture, OddValuesAreClampedOrIgnoredAndNeverReachTheHostAsNaN)
{
    setPlain (*processor, "OUT", -4.0f);
    const auto& inRange = processor->state.parameters.getParameter ("IN")->getNormalisableRange();

    const auto file = writeText (folders.user().getChildFile ("Odd.preset"),
                                 "<State><Parameters>"
                                 "<PARAM id=\"IN\" value=\"1e9\"/>"
                                 "<PARAM id=\"OUT\" value=\"nan\"/>"
                                 "<PARAM id=\"WET\" value=\"-inf\"/>"
                                 "<PARAM id=\"MIX\" value=\"75\"/>"
                                 "<PARAM id=\"BOGUS\" value=\"1\"/>"
                                 "</Parameters><Properties LIMIT=\"0\"/></State>");

    struct NaNWatcher : juce::AudioProcessorParameter::Listener
    {
        void parameterValueChanged (int, float v) override { sawNonFinite |= ! std::isfinite (v); }
        void parameterGestureChanged (int, bool) override {}
        bool sawNonFinite = false;
    } watcher;
    for (auto* p : processor->getParameters())
        p->addListener (&watcher);

    menu->loadPreset (file);

    for (auto* p : processor->getParameters())
    {
        p->removeListener (&watcher);
        EXPECT_TRUE (std::isfinite (p->getValue())) << p->getName (64);
    }
    EXPECT_FALSE (watcher.sawNonFinite);

    EXPECT_EQ (getPlain (*processor, "IN"), inRange.end);
    EXPECT_EQ (getPlain (*processor, "OUT"), -4.0f);  // kept
    EXPECT_NEAR (getPlain (*processor, "MIX"), 75.0f, 1e-3f);
    EXPECT_FALSE ((bool) processor->state.properties.getProperty (Properties::limiter, true));
    EXPECT_FALSE (processor->state.parameters.state.getChildWithProperty ("id", "BOGUS").isValid());
    EXPECT_EQ (current(), file);
    EXPECT_FALSE (dirty());
}

//==============================================================================
TEST_F (PresetsFixture, SaveWritesListsAndMakesTheFileCurrent)
{
    setPlain (*processor, "IN", 4.5f);
    const auto file = folders.user().getChildFile ("Saved.preset");
    menu->savePreset (file);

    ASSERT_TRUE (file.existsAsFile());
    EXPECT_EQ (current(), file);
    EXPECT_FALSE (dirty());
    EXPECT_EQ (labelText(), "Saved");
    EXPECT_NE (std::find (menu->getPresetList().begin(), menu->getPresetList().end(), file), menu->getPresetList().end());

    const auto tree = PresetFiles::read (file);
    EXPECT_TRUE (tree.hasType (cvx::State::stateID));
    EXPECT_NEAR ((float) tree.getChildWithName (cvx::State::parametersID).getChildWithProperty ("id", "IN").getProperty ("value"), 4.5f, 1e-4f);
    EXPECT_FALSE (tree.getChildWithName (cvx::State::attributesID).isValid());
}

TEST_F (PresetsFixture, SaveByNameUsesTheKeptCharactersAndAsksBeforeOverwriting)
{
    menu->label.setText ("Big/Room*", juce::dontSendNotification);
    menu->saveByName();
    const auto file = folders.user().getChildFile ("BigRoom.preset");
    ASSERT_TRUE (file.existsAsFile());
    EXPECT_EQ (current(), file);

    // Same name again: nothing is written until "Overwrite" is chosen.
    setPlain (*processor, "IN", -7.0f);
    const auto before = file.loadFileAsString();
    const auto question = menu->getOverwriteMenu (file, "BigRoom");
    const auto items = itemsOf (question);
    ASSERT_EQ (items.size(), 3u);
    EXPECT_TRUE (items[0]->isSectionHeader);
    EXPECT_EQ (items[0]->text, "Preset Already Exists: BigRoom");
    EXPECT_EQ (items[1]->text, "Overwrite");
    EXPECT_EQ (items[2]->text, "Cancel");

    items[2]->action();
    EXPECT_EQ (file.loadFileAsString(), before);

    items[1]->action();
    EXPECT_NE (file.loadFileAsString(), before);
    EXPECT_NEAR ((float) PresetFiles::read (file).getChildWithName (cvx::State::parametersID)
                     .getChildWithProperty ("id", "IN").getProperty ("value"), -7.0f, 1e-4f);
    EXPECT_FALSE (dirty());
}

TEST_F (PresetsFixture, AFlavorPresetSavedUnderItsNameBecomesASeparatePresetFile)
{
    const auto flavor = writePreset (folders.user().getChildFile ("Old.flavor"));
    menu->getMenu();
    menu->loadPreset (flavor);
    menu->saveByName();
    EXPECT_TRUE (flavor.existsAsFile());
    EXPECT_EQ (current(), folders.user().getChildFile ("Old.preset"));
}

TEST_F (PresetsFixture, SaveFieldSavesOnReturnAndEscapeCancels)
{
    showInWindow();
    const auto loaded = writePreset (folders.user().getChildFile ("Current.preset"));
    menu->getMenu();
    menu->loadPreset (loaded);
    setPlain (*processor, "IN", 2.0f);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return dirty(); }));
    ASSERT_EQ (labelText(), "Current*");

    const auto countFiles = [&] { return folders.user().getNumberOfChildFiles (juce::File::findFiles, "*"); };

    // Escape: nothing written, the label shows the current name again.
    menu->showSaveField();
    auto* editor = menu->label.getCurrentTextEditor();
    ASSERT_NE (editor, nullptr);
    EXPECT_EQ (editor->getHighlightedText(), "Current*");
    editor->setText ("Something Else");
    editor->keyPressed (juce::KeyPress (juce::KeyPress::escapeKey));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return menu->label.getCurrentTextEditor() == nullptr; }));
    EXPECT_EQ (countFiles(), 1);
    EXPECT_EQ (labelText(), "Current*");
    EXPECT_FALSE (folders.user().getChildFile ("Something Else.preset").exists());

    // Return: saved under the typed name.
    menu->showSaveField();
    editor = menu->label.getCurrentTextEditor();
    ASSERT_NE (editor, nullptr);
    editor->setText ("Typed Name");
    editor->keyPressed (juce::KeyPress (juce::KeyPress::returnKey));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return menu->label.getCurrentTextEditor() == nullptr; }));
    EXPECT_TRUE (folders.user().getChildFile ("Typed Name.preset").existsAsFile());
    EXPECT_EQ (labelText(), "Typed Name");
    EXPECT_FALSE (dirty());
}

TEST_F (PresetsFixture, AClickIntoTheSaveFieldReachesTheField)
{
    showInWindow();
    menu->label.setText ("Some Name", juce::dontSendNotification);
    menu->resized();
    const auto point = menu->menuButton.getBounds().getCentre();

    EXPECT_EQ (menu->getComponentAt (point), &menu->menuButton);

    menu->showSaveField();
    auto* editor = menu->label.getCurrentTextEditor();
    ASSERT_NE (editor, nullptr);
    auto* hit = menu->getComponentAt (point);
    ASSERT_NE (hit, nullptr);
    EXPECT_TRUE (hit == editor || editor->isParentOf (hit));

    menu->label.hideEditor (true);
    EXPECT_EQ (menu->getComponentAt (point), &menu->menuButton);
}

//==============================================================================
struct DeleteCase
{
    const char* name;
    int deleted;       // index into A, B, C
    int currentIndex;  // -1: no current preset
    int expectLoaded;  // index loaded afterwards, -1 none (current unchanged)
};

TEST_F (PresetsFixture, DeleteMovesToTheTrashAndLoadsTheNeighbourOfTheCurrentPreset)
{
    const DeleteCase cases[] {
        { "current in the middle loads the next", 1, 1, 2 },
        { "current last loads the new last", 2, 2, 1 },
        { "current first loads the next", 0, 0, 1 },
        { "not current loads nothing", 0, 2, -1 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        folders.user().deleteRecursively();
        juce::Array<juce::File> files;
        for (auto name : { "A.preset", "B.preset", "C.preset" })
            files.add (writePreset (folders.user().getChildFile (name)));

        menu->getMenu();
        menu->loadPreset (files[c.currentIndex]);
        const auto confirm = menu->getDeleteMenu (files[c.deleted]);
        const auto items = itemsOf (confirm);
        ASSERT_EQ (items.size(), 3u);
        EXPECT_EQ (items[0]->text, "Confirm Delete: " + files[c.deleted].getFileNameWithoutExtension());
        EXPECT_EQ (items[2]->text, "Cancel");
        items[2]->action();
        EXPECT_TRUE (files[c.deleted].existsAsFile());

        ASSERT_EQ (items[1]->text, "Delete");
        items[1]->action();

        EXPECT_FALSE (files[c.deleted].exists());
        EXPECT_EQ (menu->getPresetList().size(), 2u);
        const auto expected = c.expectLoaded >= 0 ? files[c.expectLoaded] : files[c.currentIndex];
        EXPECT_EQ (current(), expected);
        EXPECT_EQ (labelText(), expected.getFileNameWithoutExtension());
    }
}

TEST_F (PresetsFixture, DeletingTheOnlyPresetLoadsNothingAndShowsDefault)
{
    const auto only = writePreset (folders.user().getChildFile ("Only.preset"));
    menu->getMenu();
    menu->loadPreset (only);
    menu->deletePreset (only);

    EXPECT_FALSE (only.exists());
    EXPECT_TRUE (menu->getPresetList().empty());
    EXPECT_EQ (labelText(), "Default");
}

TEST_F (PresetsFixture, AFailedMoveToTheTrashKeepsTheListAndTheCurrentPreset)
{
    const auto share = getTestHome().getChildFile (".local/share");
    share.getChildFile ("Trash").deleteRecursively();
    writeText (share.getChildFile ("Trash"), "blocks the trash folder");

    const auto a = writePreset (folders.user().getChildFile ("A.preset"));
    const auto b = writePreset (folders.user().getChildFile ("B.preset"));
    menu->getMenu();
    menu->loadPreset (a);

    menu->deletePreset (a);
    EXPECT_TRUE (a.existsAsFile());
    EXPECT_EQ (menu->getPresetList(), (std::vector<juce::File> { a, b }));
    EXPECT_EQ (current(), a);
    EXPECT_EQ (labelText(), "A");

    share.getChildFile ("Trash").deleteFile();
}

//==============================================================================
TEST_F (PresetsFixture, PreviousNextAndRandomStepThroughTheFlatList)
{
    juce::Array<juce::File> files;
    for (auto name : { "A.preset", "B.preset", "C.preset" })
        files.add (writePreset (folders.user().getChildFile (name)));
    menu->getMenu();

    struct Case { const char* name; int from; void (PresetsMenu::*step)(); int expected; };
    const Case cases[] {
        { "previous without current loads the first", -1, &PresetsMenu::previous, 0 },
        { "next without current loads the last", -1, &PresetsMenu::next, 2 },
        { "previous from the first wraps to the last", 0, &PresetsMenu::previous, 2 },
        { "next from the last wraps to the first", 2, &PresetsMenu::next, 0 },
        { "previous from the middle", 1, &PresetsMenu::previous, 0 },
        { "next from the middle", 1, &PresetsMenu::next, 2 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        processor->state.attributes.setProperty (cvx::State::Attributes::preset,
                                                 c.from < 0 ? juce::String() : files[c.from].getFullPathName(), nullptr);
        (menu.get()->*c.step)();
        EXPECT_EQ (current(), files[c.expected]);
    }

    // Random always lands on a listed preset and, over many draws, on each of them.
    std::set<int> seen;
    for (int i = 0; i < 60; ++i)
    {
        menu->random();
        const auto index = files.indexOf (current());
        ASSERT_GE (index, 0);
        seen.insert (index);
    }
    EXPECT_EQ (seen.size(), 3u);
}

TEST_F (PresetsFixture, NavigationWithAnEmptyOrSingleEntryList)
{
    menu->getMenu();
    ASSERT_TRUE (menu->getPresetList().empty());
    for (auto step : { &PresetsMenu::previous, &PresetsMenu::next, &PresetsMenu::random })
    {
        (menu.get()->*step)();
        EXPECT_EQ (current(), juce::File());
        EXPECT_EQ (labelText(), "Default");
    }

    const auto only = writePreset (folders.user().getChildFile ("Solo.preset"));
    menu->getMenu();
    for (auto step : { &PresetsMenu::previous, &PresetsMenu::next, &PresetsMenu::random })
    {
        processor->state.attributes.removeProperty (cvx::State::Attributes::preset, nullptr);
        (menu.get()->*step)();
        EXPECT_EQ (current(), only);
    }
}

TEST_F (PresetsFixture, LabelShowsDefaultForNoPresetAndForAPresetMovedAway)
{
    // A fresh instance stays clean once the parameter store has written back the factory
    // crossovers its constructor set (the store's timer runs at most every half second).
    EXPECT_FALSE (runMessageLoopUntil ([&] { return dirty(); }, 1200));
    EXPECT_EQ (labelText(), "Default");
    setPlain (*processor, "IN", 1.0f);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return dirty(); }));
    EXPECT_EQ (labelText(), "Default*");

    const auto file = writePreset (folders.user().getChildFile ("Moving.preset"));
    menu->loadPreset (file);
    EXPECT_EQ (labelText(), "Moving");

    file.moveFileTo (folders.user().getChildFile ("Moved.preset"));
    menu->refreshLabel();
    EXPECT_EQ (labelText(), "Default");
    EXPECT_EQ (current(), file);
}

TEST_F (PresetsFixture, MenuButtonCoversTheNameAndNeverShrinksBelowTheRandomButton)
{
    menu->setBounds (0, 0, 400, 50);

    menu->label.setText ("", juce::dontSendNotification);
    menu->resizeMainButton();
    EXPECT_EQ (menu->menuButton.getWidth(), menu->randomButton.getWidth());
    EXPECT_EQ (menu->menuButton.getRight(), menu->label.getRight());

    menu->label.setText ("An Extremely Long Preset Name That Never Fits Here", juce::dontSendNotification);
    menu->resizeMainButton();
    EXPECT_LE (menu->menuButton.getX(), menu->label.getX());
    EXPECT_EQ (menu->menuButton.getRight(), menu->label.getRight());

    // The icon buttons are squares from the right edge: next, random, previous.
    EXPECT_EQ (menu->nextButton.getBounds(), juce::Rectangle<int> (360, 10, 30, 30));
    EXPECT_EQ (menu->randomButton.getBounds(), juce::Rectangle<int> (320, 10, 30, 30));
    EXPECT_EQ (menu->previousButton.getBounds(), juce::Rectangle<int> (280, 10, 30, 30));
    EXPECT_EQ (menu->label.getBounds(), juce::Rectangle<int> (5, 5, 270, 40));
}

TEST_F (PresetsFixture, NameAndIconsFadeFromWhiteToTheOppositeHueOfTheTheme)
{
    processor->state.attributes.setProperty (cvx::State::Attributes::colour, "ff2040c0", nullptr);
    const auto c = juce::Colour (0xff2040c0).withRotatedHue (0.5f).withBrightness (1.0f);

    juce::Image scratch (juce::Image::ARGB, 10, 10, true);
    juce::Graphics g (scratch);

    for (float v : { 0.0f, 0.5f, 1.0f, -1.0f, 2.0f })
    {
        SCOPED_TRACE (v);
        menu->menuButton.animator.hoverValue = v;
        menu->paint (g);
        const auto alpha = (juce::uint8) juce::jlimit (0, 255, juce::roundToInt (v * 255.0f));
        const auto expected = juce::Colours::white.overlaidWith (c.withAlpha (alpha));
        EXPECT_EQ (menu->label.findColour (juce::Label::textColourId).getARGB(), expected.getARGB());
    }

    // An icon at full hover is drawn in that colour, at rest in white.
    auto& button = menu->nextButton;
    for (float v : { 0.0f, 1.0f })
    {
        SCOPED_TRACE (v);
        button.animator.hoverValue = v;
        const auto image = button.createComponentSnapshot (button.getLocalBounds());
        juce::Colour brightest;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                if (image.getPixelAt (x, y).getAlpha() == 255 && image.getPixelAt (x, y).getBrightness() > brightest.getBrightness())
                    brightest = image.getPixelAt (x, y);

        const auto expected = v > 0.0f ? c : juce::Colours::white;
        EXPECT_NEAR (brightest.getRed(), expected.getRed(), 3);
        EXPECT_NEAR (brightest.getGreen(), expected.getGreen(), 3);
        EXPECT_NEAR (brightest.getBlue(), expected.getBlue(), 3);
    }
}

TEST_F (PresetsFixture, PresetBarWithALongNameIsDrawn)
{
    const auto file = writePreset (folders.user().getChildFile ("A Rather Long Preset Name For Testing.preset"));
    menu->loadPreset (file);
    setPlain (*processor, "IN", 1.0f);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return dirty(); }));
    ASSERT_EQ (labelText(), "A Rather Long Preset Name For Testing*");

    struct Black : juce::Component { void paint (juce::Graphics& g) override { g.fillAll (juce::Colours::black); } } black;
    black.setBounds (0, 0, 520, 60);
    black.addAndMakeVisible (*menu);
    menu->setBounds (0, 0, 520, 60);

    const auto image = black.createComponentSnapshot (black.getLocalBounds());
    juce::PNGImageFormat png;
    juce::FileOutputStream out (getArtifactFolder().getChildFile ("preset-bar-long-name.png"));
    out.setPosition (0);
    out.truncate();
    png.writeImageToStream (image, out);

    // The name (white at rest) reaches into the bar's left part, and the three icons are drawn.
    const auto brightIn = [&] (juce::Rectangle<int> r)
    {
        int count = 0;
        for (int y = r.getY(); y < r.getBottom(); ++y)
            for (int x = r.getX(); x < r.getRight(); ++x)
                count += image.getPixelAt (x, y).getBrightness() > 0.6f ? 1 : 0;
        return count;
    };
    EXPECT_GT (brightIn ({ 5, 5, 100, 50 }), 20);
    for (auto* button : { &menu->previousButton, &menu->randomButton, &menu->nextButton })
        EXPECT_GT (brightIn (button->getBounds()), 10);

    black.removeChildComponent (menu.get());
}

} // namespace
} // namespace vyx::test
