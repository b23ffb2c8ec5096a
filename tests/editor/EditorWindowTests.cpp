#include "EditorTestSupport.h"

namespace vyx::test
{
namespace
{
    using StateAttributes = cvx::State::Attributes;

    struct LayoutCase
    {
        juce::Rectangle<int> editor, topBar, bottomBar, compressorControls;
    };

    // The top bar takes 40 px (all of a shorter window), the fader strip 36 px along the
    // bottom (what is left, if less) and the band editor the rest with 5 px side margins.
    const LayoutCase layoutCases[] = {
        { { 0, 0, 440, 330 },   { 0, 0, 440, 40 },   { 0, 294, 440, 36 },  { 5, 40, 430, 254 } },
        { { 0, 0, 1200, 800 },  { 0, 0, 1200, 40 },  { 0, 764, 1200, 36 }, { 5, 40, 1190, 724 } },
        { { 10, 20, 600, 400 }, { 10, 20, 600, 40 }, { 10, 384, 600, 36 }, { 15, 60, 590, 324 } },
        { { 0, 0, 440, 60 },    { 0, 0, 440, 40 },   { 0, 40, 440, 20 },   { 5, 40, 430, 0 } },
        { { 0, 0, 440, 30 },    { 0, 0, 440, 30 },   { 0, 30, 440, 0 },    { 5, 30, 430, 0 } },
        { { 0, 0, 8, 100 },     { 0, 0, 8, 40 },     { 0, 64, 8, 36 },     { 5, 40, 0, 24 } },
    };

    juce::Colour pixel (const juce::Image& image, int x, int y)
    {
        return image.getPixelAt (x, y);
    }

    ::testing::AssertionResult near (juce::Colour actual, juce::Colour expected, int tolerance = 3)
    {
        const int dr = std::abs ((int) actual.getRed() - (int) expected.getRed());
        const int dg = std::abs ((int) actual.getGreen() - (int) expected.getGreen());
        const int db = std::abs ((int) actual.getBlue() - (int) expected.getBlue());
        if (dr <= tolerance && dg <= tolerance && db <= tolerance)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "pixel " << actual.toDisplayString (true)
                                             << " is not " << expected.toDisplayString (true);
    }

    /** Saves a picture for a person to look at. */
    void save (const juce::Image& image, const juce::String& name)
    {
        auto file = getArtifactFolder().getChildFile (name);
        file.deleteFile();
        juce::FileOutputStream out (file);
        ASSERT_TRUE (out.openedOk());
        ASSERT_TRUE (juce::PNGImageFormat().writeImageToStream (image, out));
    }

    /** An editor with a fixed theme colour, so pictures can be checked. */
    struct ThemedEditor : EditorFixture
    {
        static inline const juce::Colour theme { 0xff2f8fd0 };

        ThemedEditor (int width, int height) : EditorFixture (width, height)
        {
            vyx.state.attributes.setProperty (StateAttributes::colour, theme.toString(), nullptr);
        }
    };
} // namespace

TEST (EditorLayout, PanelBoundsFollowTheWindowSize)
{
    for (const auto& c : layoutCases)
    {
        SCOPED_TRACE (c.editor.toString());
        const auto panels = VyxAudioProcessorEditor::layout (c.editor);
        EXPECT_EQ (panels.topBar, c.topBar);
        EXPECT_EQ (panels.bottomBar, c.bottomBar);
        EXPECT_EQ (panels.compressorControls, c.compressorControls);
    }
}

TEST (EditorLayout, OpenEditorPlacesItsPanels)
{
    for (const auto& c : { layoutCases[0], layoutCases[1] })
    {
        EditorFixture f (c.editor.getWidth(), c.editor.getHeight());
        ASSERT_NE (f.editor, nullptr);
        EXPECT_EQ (f.editor->topBar.getBounds(), c.topBar);
        EXPECT_EQ (f.editor->bottomBar.getBounds(), c.bottomBar);
        EXPECT_EQ (f.editor->compressorControls.getBounds(), c.compressorControls);

        // Stacked band editor, fader strip, top bar (only the resizer corner lies above).
        EXPECT_LT (f.editor->getIndexOfChildComponent (&f.editor->compressorControls),
                   f.editor->getIndexOfChildComponent (&f.editor->bottomBar));
        EXPECT_LT (f.editor->getIndexOfChildComponent (&f.editor->bottomBar),
                   f.editor->getIndexOfChildComponent (&f.editor->topBar));
    }
}

TEST (EditorLayout, PanelsStayInsideAnEditorAwayFromItsParentsOrigin)
{
    EditorFixture f;
    ASSERT_NE (f.editor, nullptr);
    f.editor->removeFromDesktop();

    // Some hosts place the editor inside a wrapper component, not at its origin.
    juce::Component wrapper;
    wrapper.setBounds (0, 0, 700, 500);
    wrapper.addAndMakeVisible (*f.editor);
    f.editor->setBounds (30, 20, 600, 400);

    const auto expected = VyxAudioProcessorEditor::layout ({ 0, 0, 600, 400 });
    EXPECT_EQ (f.editor->topBar.getBounds(), expected.topBar);
    EXPECT_EQ (f.editor->bottomBar.getBounds(), expected.bottomBar);
    EXPECT_EQ (f.editor->compressorControls.getBounds(), expected.compressorControls);
    wrapper.removeChildComponent (f.editor.get());
}

TEST (EditorWindow, FirstOpenStoresARandomOpaqueHueThatBothPanelsUse)
{
    EditorFixture f;
    ASSERT_NE (f.editor, nullptr);

    const auto text = f.vyx.state.attributes.getProperty (StateAttributes::colour).toString();
    ASSERT_EQ (text.length(), 8);
    EXPECT_TRUE (text.containsOnly ("0123456789abcdef")) << text;
    EXPECT_TRUE (text.startsWith ("ff")) << text;

    const auto colour = StateAttributes::getColour (f.vyx.state);
    EXPECT_NEAR (colour.getSaturation(), 0.75f, 0.02f);
    EXPECT_NEAR (colour.getBrightness(), 0.5f, 0.01f);
    EXPECT_EQ (f.editor->bottomBar.colour, colour);
    EXPECT_EQ (f.editor->compressorControls.colour, colour);

    // Reopening keeps the stored hue.
    f.openEditor();
    EXPECT_EQ (f.vyx.state.attributes.getProperty (StateAttributes::colour).toString(), text);
    EXPECT_EQ (f.editor->bottomBar.colour, colour);
}

TEST (EditorWindow, StoredThemeColourIsKept)
{
    EditorFixture f;
    f.closeEditor();
    f.vyx.state.attributes.setProperty (StateAttributes::colour, "ff10a040", nullptr);
    f.openEditor();
    ASSERT_NE (f.editor, nullptr);
    EXPECT_EQ (f.vyx.state.attributes.getProperty (StateAttributes::colour).toString(), "ff10a040");
    EXPECT_EQ (f.editor->bottomBar.colour, juce::Colour (0xff10a040));
    EXPECT_EQ (f.editor->compressorControls.colour, juce::Colour (0xff10a040));
}

TEST (EditorWindow, ThemeChangesReachThePanelsAndNothingElseDoes)
{
    EditorFixture f;
    ASSERT_NE (f.editor, nullptr);
    const auto before = f.editor->bottomBar.colour;

    // Other attributes leave the panels alone; the editor only reacts to "colour".
    f.editor->bottomBar.colour = juce::Colours::red;
    f.editor->compressorControls.colour = juce::Colours::red;
    f.vyx.state.attributes.setProperty (StateAttributes::width, 500, nullptr);
    f.vyx.state.attributes.setProperty ("preset", "/tmp/x.preset", nullptr);
    EXPECT_EQ (f.editor->bottomBar.colour, juce::Colours::red);
    EXPECT_EQ (f.editor->compressorControls.colour, juce::Colours::red);

    f.vyx.state.attributes.setProperty (StateAttributes::colour, "ff8040c0", nullptr);
    EXPECT_NE (before, juce::Colour (0xff8040c0));
    EXPECT_EQ (f.editor->bottomBar.colour, juce::Colour (0xff8040c0));
    EXPECT_EQ (f.editor->compressorControls.colour, juce::Colour (0xff8040c0));
}

TEST (EditorWindow, FrameClockIsOneSixteenMillisecondTimer)
{
    EditorFixture f;
    ASSERT_NE (f.editor, nullptr);
    EXPECT_TRUE (f.editor->isTimerRunning());
    EXPECT_EQ (f.editor->getTimerInterval(), 16);
}

TEST (EditorWindow, SizeIsStoredAndRestoredOnReopen)
{
    EditorFixture f;
    ASSERT_NE (f.editor, nullptr);
    EXPECT_EQ ((int) f.vyx.state.attributes.getProperty (StateAttributes::width), 440);
    EXPECT_EQ ((int) f.vyx.state.attributes.getProperty (StateAttributes::height), 330);

    f.editor->setSize (713, 517);
    EXPECT_EQ ((int) f.vyx.state.attributes.getProperty (StateAttributes::width), 713);
    EXPECT_EQ ((int) f.vyx.state.attributes.getProperty (StateAttributes::height), 517);

    f.openEditor();
    ASSERT_NE (f.editor, nullptr);
    EXPECT_EQ (f.editor->getWidth(), 713);
    EXPECT_EQ (f.editor->getHeight(), 517);
    EXPECT_TRUE (f.editor->isResizable());
}

TEST (EditorWindow, StoredDimensionsAreReadSafely)
{
    struct Case { juce::var stored; int expected; };
    const Case cases[] = {
        { juce::var(),                    330 },   // absent
        { 612,                            612 },
        { juce::var ((juce::int64) 900),  900 },
        { 612.7,                          612 },
        { "612",                          612 },   // a project read back from XML holds text
        { " 700 ",                        700 },
        { "abc",                          330 },
        { "12abc",                        330 },
        { "",                             330 },
        { "1e9",                          330 },
        { 100000,                         VyxAudioProcessorEditor::maxDimension },
        { "99999999999",                  VyxAudioProcessorEditor::maxDimension },
        { 1.0e300,                        VyxAudioProcessorEditor::maxDimension },
        { std::numeric_limits<double>::quiet_NaN(), 330 },
        { std::numeric_limits<double>::infinity(),  330 },
        { -50,                            0 },
        { juce::var (juce::Array<juce::var> { 1, 2 }), 330 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.stored.toString());
        EXPECT_EQ (VyxAudioProcessorEditor::readDimension (c.stored, 330), c.expected);
    }
}

TEST (EditorWindow, DamagedStoredSizeOpensAUsableWindow)
{
    struct Case { juce::var width, height; int expectedWidth, expectedHeight; };
    const Case cases[] = {
        { "wide",  "tall",  440, 330 },   // not numbers: the defaults
        { 50000,   "1e400", 8192, 330 },  // far too large: clamped before the window is sized
        { 100,     50,      440, 330 },   // too small: raised to the minimum
        { "900",   "650",   900, 650 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.width.toString() + " x " + c.height.toString());
        EditorFixture f;
        f.closeEditor();
        f.vyx.state.attributes.setProperty (StateAttributes::width, c.width, nullptr);
        f.vyx.state.attributes.setProperty (StateAttributes::height, c.height, nullptr);

        // Opened as a host opens it: the size the editor chooses for itself.
        f.openEditor();
        ASSERT_NE (f.editor, nullptr);
        EXPECT_EQ (f.editor->getWidth(), c.expectedWidth);
        EXPECT_EQ (f.editor->getHeight(), c.expectedHeight);
        EXPECT_EQ ((int) f.vyx.state.attributes.getProperty (StateAttributes::width), c.expectedWidth);
        EXPECT_EQ ((int) f.vyx.state.attributes.getProperty (StateAttributes::height), c.expectedHeight);
    }
}

TEST (EditorWindow, OpeningAndClosingLeavesTheSavedStateUnchanged)
{
    EditorFixture f;
    // The pin of the last crossover waits for the window to be on screen, which the X server
    // reports in its own time: let it happen first, so that it is not what the loop changes.
    ASSERT_TRUE (vyx::test::runMessageLoopUntil ([&f]
    {
        f.frames (1);
        return f.hostParameter ("CR2").getValue() == 1.0f;
    }, 10000));
    f.closeEditor();

    // From a state that never had an editor: only width, height and colour may appear.
    f.vyx.state.attributes.removeProperty (StateAttributes::width, nullptr);
    f.vyx.state.attributes.removeProperty (StateAttributes::height, nullptr);
    f.vyx.state.attributes.removeProperty (StateAttributes::colour, nullptr);
    juce::MemoryBlock before;
    f.vyx.getStateInformation (before);

    for (int i = 0; i < 3; ++i)
    {
        f.openEditor();
        f.frames (2);
        f.closeEditor();
    }

    EXPECT_EQ (f.vyx.state.attributes.getNumChildren(), 0);
    for (auto id : { StateAttributes::width, StateAttributes::height, StateAttributes::colour })
    {
        EXPECT_TRUE (f.vyx.state.attributes.hasProperty (id)) << id.toString();
        f.vyx.state.attributes.removeProperty (id, nullptr);
    }

    juce::MemoryBlock after;
    f.vyx.getStateInformation (after);
    EXPECT_TRUE (before == after) << before.getSize() << " bytes before, " << after.getSize() << " after";
}

// The pin moves the last band's crossover to the top of its range as a host edit, but it only
// keeps the layout: a fresh instance stays "Default", and the user's own edits still mark it.
TEST (EditorWindow, ThePinLeavesACleanPresetClean)
{
    EditorFixture f;
    const auto dirty = [&f] { return (bool) f.vyx.state.attributes.getProperty (StateAttributes::dirty, false); };
    const auto label = [&f] { return f.editor->topBar.presetsMenu.label.getText(); };

    f.frames (2);
    EXPECT_EQ (f.hostParameter ("CR2").getValue(), 1.0f) << "the last of the three factory bands is pinned";

    // The parameter store writes the pinned value into the state on its next timer tick.
    EXPECT_FALSE (runMessageLoopUntil (dirty, 1200));
    EXPECT_EQ (label(), "Default");

    f.hostParameter ("THD0").setValueNotifyingHost (0.3f);
    EXPECT_TRUE (runMessageLoopUntil (dirty, 1200));
    EXPECT_EQ (label(), "Default*");
}

TEST (EditorPixels, WindowAndFaderCellsAt440x330And1200x800)
{
    for (auto size : { juce::Point<int> (440, 330), juce::Point<int> (1200, 800) })
    {
        SCOPED_TRACE (size.toString());
        ThemedEditor f (size.x, size.y);
        ASSERT_NE (f.editor, nullptr);

        // Input at the middle of its range: the level bar fills the lower half of its cell.
        f.hostParameter ("IN").setValueNotifyingHost (0.5f);
        f.frames (1);
        const auto image = f.snapshot();
        save (image, "editor-" + juce::String (size.x) + "x" + juce::String (size.y) + ".png");
        ASSERT_EQ (image.getWidth(), size.x);
        ASSERT_EQ (image.getHeight(), size.y);

        auto& bar = f.editor->bottomBar;
        const auto cell = bar.input.getBounds() + bar.getPosition();

        // Black where no panel draws: the band editor's side margins and the strip's gaps.
        EXPECT_TRUE (near (pixel (image, 2, size.y / 2), juce::Colours::black));
        EXPECT_TRUE (near (pixel (image, 1, cell.getCentreY()), juce::Colours::black));
        EXPECT_TRUE (near (pixel (image, cell.getRight() + 2, cell.getCentreY()), juce::Colours::black));
        EXPECT_TRUE (near (pixel (image, cell.getX() + 10, size.y - 2), juce::Colours::black));

        // The cell in the theme colour at brightness 0.3 above the level bar, 0.5 in it.
        const auto background = ThemedEditor::theme.withBrightness (0.3f);
        const auto level = ThemedEditor::theme.withBrightness (0.5f);
        EXPECT_TRUE (near (pixel (image, cell.getX() + 5, cell.getY() + 4), background));
        EXPECT_TRUE (near (pixel (image, cell.getX() + 5, cell.getBottom() - 5), level));

        // The name is drawn in black over the middle of the cell.
        int dark = 0;
        for (int y = cell.getY(); y < cell.getBottom(); ++y)
            for (int x = cell.getX(); x < cell.getRight(); ++x)
                if (pixel (image, x, y).getBrightness() < 0.1f)
                    ++dark;
        EXPECT_GT (dark, 40);
    }
}

TEST (EditorPixels, ThemeChangeShowsAtTheNextFrame)
{
    ThemedEditor f (440, 330);
    ASSERT_NE (f.editor, nullptr);
    f.frames (1);

    const auto next = juce::Colour (0xffd04020);
    f.vyx.state.attributes.setProperty (StateAttributes::colour, next.toString(), nullptr);
    f.frames (1);
    const auto image = f.snapshot();
    const auto cell = f.editor->bottomBar.down.getBounds() + f.editor->bottomBar.getPosition();
    EXPECT_TRUE (near (pixel (image, cell.getX() + 5, cell.getY() + 4), next.withBrightness (0.3f)));
}

} // namespace vyx::test
