#include "EditorTestSupport.h"
#include "AllocationCounter.h"

namespace vyx::test
{
namespace
{
    struct FaderCase
    {
        const char* id;
        const char* name;
        cvx::ui::Slider& (*fader) (BottomBar&);
        bool dryWet;  // the mixer mode in which the fader is shown
    };

    const FaderCase faders[] = {
        { "IN",   "input",  [] (BottomBar& b) -> cvx::ui::Slider& { return b.input; },  false },
        { "ATD0", "down",   [] (BottomBar& b) -> cvx::ui::Slider& { return b.down; },   false },
        { "RED0", "up",     [] (BottomBar& b) -> cvx::ui::Slider& { return b.up; },     false },
        { "DRY",  "dry",    [] (BottomBar& b) -> cvx::ui::Slider& { return b.dry; },    true },
        { "WET",  "wet",    [] (BottomBar& b) -> cvx::ui::Slider& { return b.wet; },    true },
        { "MIX",  "mix",    [] (BottomBar& b) -> cvx::ui::Slider& { return b.mix; },    false },
        { "OUT",  "output", [] (BottomBar& b) -> cvx::ui::Slider& { return b.output; }, false },
    };

    /** An editor whose fader strip shows the mixer mode of a case. */
    struct BarFixture : EditorFixture
    {
        explicit BarFixture (bool dryWet = false)
        {
            vyx.state.properties.setProperty (Properties::dryWet, dryWet, nullptr);
            frames (1);
        }

        BottomBar& bar() { return editor->bottomBar; }
        ParameterDisplay& display() { return editor->bottomBar.display; }

        /** Sets a parameter's normalised value as a host would, then forgets the events. */
        void setNormalised (const juce::String& id, float normalised)
        {
            hostParameter (id).setValueNotifyingHost (normalised);
            gestures.clear();
        }

        float normalised (const juce::String& id) { return hostParameter (id).getValue(); }

        juce::Point<float> centreOf (juce::Component& c) { return c.getLocalBounds().toFloat().getCentre(); }

        /** Right-clicks a fader, then forgets what the press itself did to the host. */
        void openEntry (cvx::ui::Slider& fader)
        {
            rightClick (fader, centreOf (fader));
            gestures.clear();
        }

        juce::TextEditor* entryEditor() { return display().label.label.getCurrentTextEditor(); }
    };

    // A component keeps its opacity as a byte: half a step of it, and a little.
    constexpr float alphaStep = 0.6f / 255.0f;

    /** A graphics context that draws nothing and allocates nothing: a paint through it shows
        what the painting code itself allocates. */
    struct NullContext : juce::LowLevelGraphicsContext
    {
        bool isVectorDevice() const override { return false; }
        void setOrigin (juce::Point<int>) override {}
        void addTransform (const juce::AffineTransform&) override {}
        float getPhysicalPixelScaleFactor() override { return 1.0f; }
        bool clipToRectangle (const juce::Rectangle<int>&) override { return true; }
        bool clipToRectangleList (const juce::RectangleList<int>&) override { return true; }
        void excludeClipRectangle (const juce::Rectangle<int>&) override {}
        void clipToPath (const juce::Path&, const juce::AffineTransform&) override {}
        void clipToImageAlpha (const juce::Image&, const juce::AffineTransform&) override {}
        bool clipRegionIntersects (const juce::Rectangle<int>&) override { return true; }
        juce::Rectangle<int> getClipBounds() const override { return { 0, 0, 4096, 4096 }; }
        bool isClipEmpty() const override { return false; }
        void saveState() override {}
        void restoreState() override {}
        void beginTransparencyLayer (float) override {}
        void endTransparencyLayer() override {}
        void setFill (const juce::FillType&) override {}
        void setOpacity (float) override {}
        void setInterpolationQuality (juce::Graphics::ResamplingQuality) override {}
        void fillRect (const juce::Rectangle<int>&, bool) override {}
        void fillRect (const juce::Rectangle<float>&) override {}
        void fillRectList (const juce::RectangleList<float>&) override {}
        void fillPath (const juce::Path&, const juce::AffineTransform&) override {}
        void drawImage (const juce::Image&, const juce::AffineTransform&) override {}
        void drawLine (const juce::Line<float>&) override {}
        void setFont (const juce::Font& f) override { font = f; }
        const juce::Font& getFont() override { return font; }
        void drawGlyph (int, const juce::AffineTransform&) override { ++glyphs; }

        juce::Font font;
        int glyphs = 0;
    };
} // namespace

TEST (BottomBarLayout, CellBoundsForBarWidths)
{
    struct Case { int width, height; std::array<juce::Rectangle<int>, 5> cells; };

    // Five equal slices of (width - 5) starting at 2.5, each inset by 2.5 at the sides and 5 at
    // top and bottom, edges rounded half to even.
    const Case cases[] = {
        { 440, 36, { { { 5, 5, 82, 26 }, { 92, 5, 82, 26 }, { 179, 5, 82, 26 }, { 266, 5, 82, 26 }, { 353, 5, 82, 26 } } } },
        { 441, 36, { { { 5, 5, 82, 26 }, { 92, 5, 82, 26 }, { 179, 5, 83, 26 }, { 267, 5, 82, 26 }, { 354, 5, 82, 26 } } } },
        { 1200, 36, { { { 5, 5, 234, 26 }, { 244, 5, 234, 26 }, { 483, 5, 234, 26 }, { 722, 5, 234, 26 }, { 961, 5, 234, 26 } } } },
        { 4, 8,   { { { 5, 5, 0, 0 }, { 5, 5, 0, 0 }, { 5, 5, 0, 0 }, { 5, 5, 0, 0 }, { 5, 5, 0, 0 } } } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.width);
        const auto cells = BottomBar::cellBounds (c.width, c.height);
        for (size_t i = 0; i < cells.size(); ++i)
            EXPECT_EQ (cells[i], c.cells[i]) << "cell " << i + 1;
    }
}

TEST (BottomBarLayout, FadersTakeTheirCellsAndShareOneClipOutline)
{
    for (int width : { 440, 441 })
    {
        SCOPED_TRACE (width);
        BarFixture f;
        f.editor->setSize (width, 330);
        auto& bar = f.bar();
        const auto cells = BottomBar::cellBounds (width, 36);

        EXPECT_EQ (bar.input.getBounds(), cells[0]);
        EXPECT_EQ (bar.down.getBounds(), cells[1]);
        EXPECT_EQ (bar.up.getBounds(), cells[2]);
        EXPECT_EQ (bar.dry.getBounds(), cells[3]);
        EXPECT_EQ (bar.wet.getBounds(), cells[4]);
        EXPECT_EQ (bar.mix.getBounds(), cells[3]);
        EXPECT_EQ (bar.output.getBounds(), cells[4]);
        EXPECT_EQ (bar.display.getBounds(), bar.getLocalBounds());

        // The outline is taken from the first cell, 82 wide at both widths.
        EXPECT_EQ (bar.clipPath.getBounds(), juce::Rectangle<float> (0.0f, 0.0f, 82.0f, 26.0f));
    }
}

TEST (BottomBarMixer, CellsFourAndFiveFollowTheMixerMode)
{
    struct Case { juce::var dryWet; bool showsDryWet; };
    const Case cases[] = { { juce::var(), false }, { false, false }, { true, true }, { 1, true }, { 0, false } };

    BarFixture f;
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.dryWet.toString());
        if (c.dryWet.isVoid())
            f.vyx.state.properties.removeProperty (Properties::dryWet, nullptr);
        else
            f.vyx.state.properties.setProperty (Properties::dryWet, c.dryWet, nullptr);

        // The change shows at the next frame.
        f.frames (1);
        auto& bar = f.bar();
        EXPECT_EQ (bar.dry.isVisible(), c.showsDryWet);
        EXPECT_EQ (bar.wet.isVisible(), c.showsDryWet);
        EXPECT_EQ (bar.mix.isVisible(), ! c.showsDryWet);
        EXPECT_EQ (bar.output.isVisible(), ! c.showsDryWet);
        EXPECT_TRUE (bar.input.isVisible() && bar.down.isVisible() && bar.up.isVisible());
        EXPECT_FALSE (bar.display.isVisible());
    }
}

TEST (BottomBarFaders, EachFaderIsBoundNamedAndAnimated)
{
    BarFixture f;
    for (const auto& c : faders)
    {
        SCOPED_TRACE (c.id);
        auto& fader = c.fader (f.bar());
        EXPECT_EQ (fader.getName(), c.id);
        EXPECT_EQ (fader.parameter.id, c.id);
        EXPECT_TRUE (fader.animator.on);
        EXPECT_EQ (fader.animator.timerRate, 60.0f);
        EXPECT_EQ (fader.animator.riseTime, 60.0f);
        EXPECT_EQ (fader.animator.fallTime, 150.0f);
        EXPECT_TRUE ((bool) fader.painter);
        EXPECT_TRUE ((bool) fader.onRightClick);
    }
}

TEST (BottomBarFaders, DragOf250PixelsSpansTheWholeRange)
{
    struct Drag { float from, pixelsUp, expected; };
    // Dragging up raises the value by the distance over 250 pixels, limited to the range.
    const Drag drags[] = { { 0.0f, 250.0f, 1.0f }, { 0.2f, 100.0f, 0.6f }, { 0.9f, -125.0f, 0.4f },
                           { 0.5f, 400.0f, 1.0f }, { 0.3f, -300.0f, 0.0f } };

    for (const auto& c : faders)
    {
        SCOPED_TRACE (c.id);
        BarFixture f (c.dryWet);
        auto& fader = c.fader (f.bar());
        const int index = f.indexOf (c.id);
        ASSERT_GE (index, 0);

        for (const auto& d : drags)
        {
            SCOPED_TRACE (d.pixelsUp);
            f.setNormalised (c.id, d.from);
            const auto start = f.centreOf (fader);
            f.drag (fader, start, start.translated (0.0f, -d.pixelsUp), 10);

            EXPECT_TRUE (f.gestures.hasCompleteGestures (index, 1));
            EXPECT_EQ (f.gestures.touched(), std::set<int> { index });
            EXPECT_NEAR (f.normalised (c.id), d.expected, 0.002f);
            EXPECT_NEAR (f.gestures.lastValue (index), d.expected, 0.002f);
        }
    }
}

TEST (BottomBarFaders, WheelMovesByAFixedShareOfTheRange)
{
    // The framework slider moves 0.15 of its length per unit of wheel delta.
    struct Wheel { float from, deltaY, expected; };
    const Wheel wheels[] = { { 0.5f, 1.0f, 0.65f }, { 0.5f, -0.5f, 0.425f }, { 0.95f, 1.0f, 1.0f }, { 0.05f, -1.0f, 0.0f } };

    BarFixture f;
    for (const juce::String id : { "IN", "RED0", "MIX" })
    {
        auto& fader = id == "IN" ? f.bar().input : id == "RED0" ? f.bar().up : f.bar().mix;
        const int index = f.indexOf (id);

        for (const auto& w : wheels)
        {
            SCOPED_TRACE (id + " " + juce::String (w.deltaY));
            f.setNormalised (id, w.from);
            f.wheel (fader, f.centreOf (fader), w.deltaY);
            EXPECT_TRUE (f.gestures.hasCompleteGestures (index, 1));
            EXPECT_EQ (f.gestures.touched(), std::set<int> { index });
            EXPECT_NEAR (f.normalised (id), w.expected, 0.002f);
        }
    }
}

TEST (BottomBarEntry, RightClickOpensTheOverlayOnTheFader)
{
    for (const auto& c : faders)
    {
        SCOPED_TRACE (c.id);
        BarFixture f (c.dryWet);
        auto& fader = c.fader (f.bar());
        f.openEntry (fader);

        auto& display = f.display();
        EXPECT_TRUE (display.isVisible());
        EXPECT_TRUE (display.showing);
        EXPECT_EQ (display.label.parameter, &fader.parameter);
        ASSERT_NE (f.entryEditor(), nullptr);
        EXPECT_TRUE (f.entryEditor()->getText().isEmpty());

        // Nothing is written until the entry is confirmed.
        EXPECT_TRUE (f.gestures.isEmpty());
        f.pressKey (juce::KeyPress (juce::KeyPress::escapeKey));
    }
}

TEST (BottomBarEntry, TypedValuesAreClampedToTheFadersRange)
{
    struct Case { const char* id; const char* typed; float expectedPlain; };
    const Case cases[] = {
        { "IN",   "3.5",    3.5f },
        { "IN",   "-12",    -12.0f },
        { "IN",   "40",     12.0f },     // above the range: its end
        { "IN",   "-500",   -80.0f },    // below: its start
        { "IN",   "1-2",    1.0f },      // the number at the start
        { "RED0", "120",    120.0f },
        { "RED0", "9999",   450.0f },
        { "MIX",  "37.5",   37.5f },
        { "MIX",  "-",      0.0f },      // no number reads as 0
        { "MIX",  "0.05k",  50.0f },     // a trailing k means thousands, as in "2.5k" for 2500 Hz
        { "OUT",  "-6",     -6.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.id) + " <- " + c.typed);
        BarFixture f;
        auto& bar = f.bar();
        auto& fader = juce::String (c.id) == "IN" ? bar.input : juce::String (c.id) == "RED0" ? bar.up
                    : juce::String (c.id) == "MIX" ? bar.mix : bar.output;
        const int index = f.indexOf (c.id);
        auto& parameter = f.hostParameter (c.id);
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (&parameter);
        ASSERT_NE (ranged, nullptr);
        f.setNormalised (c.id, ranged->convertTo0to1 (c.expectedPlain) < 0.5f ? 0.9f : 0.1f);

        f.openEntry (fader);
        ASSERT_NE (f.entryEditor(), nullptr);
        f.typeText (c.typed);
        f.pressKey (juce::KeyPress (juce::KeyPress::returnKey));

        EXPECT_EQ (f.entryEditor(), nullptr);
        EXPECT_TRUE (f.gestures.hasCompleteGestures (index, 1));
        EXPECT_EQ (f.gestures.touched(), std::set<int> { index });
        EXPECT_NEAR (ranged->convertFrom0to1 (parameter.getValue()), c.expectedPlain, 0.01f);
        EXPECT_FALSE (f.display().showing);
    }
}

TEST (BottomBarEntry, EscapeWritesNothingAndTheOverlayFadesOutInNineFrames)
{
    BarFixture f;
    f.setNormalised ("IN", 0.25f);
    f.openEntry (f.bar().input);
    f.frames (30);  // fully faded in
    ASSERT_EQ (f.display().fadeLevel, 1.0f);

    f.typeText ("5");
    f.pressKey (juce::KeyPress (juce::KeyPress::escapeKey));
    EXPECT_EQ (f.entryEditor(), nullptr);
    EXPECT_TRUE (f.gestures.isEmpty());
    EXPECT_FLOAT_EQ (f.hostParameter ("IN").getValue(), 0.25f);
    EXPECT_FALSE (f.display().showing);

    // Closing, the overlay's alpha is its level, which loses one ninth per frame. (Window
    // repaints while the key was handled may already have taken the first steps.)
    const float start = f.display().fadeLevel;
    ASSERT_GT (start, 0.5f);
    int frames = 0;
    while (f.display().isVisible() && frames < 20)
    {
        f.frames (1);
        ++frames;
        const float expected = std::max (0.0f, start - frames * 0.111111f);
        EXPECT_NEAR (f.display().fadeLevel, expected, 1.0e-5f) << frames;
        EXPECT_NEAR (f.display().label.getAlpha(), expected, alphaStep) << frames;
    }
    // From full opacity it is gone after 9 frames (the level is 0 to within rounding: its
    // colour's alpha byte is 0) and hidden by the 10th.
    EXPECT_FALSE (f.display().isVisible());
    EXPECT_LE (frames, start >= 1.0f ? 10 : 9);
    EXPECT_EQ (juce::Colours::black.withAlpha (std::max (0.0f, start - 9 * 0.111111f)).getAlpha(), 0);
    EXPECT_TRUE (f.gestures.isEmpty());
}

TEST (ParameterDisplayFade, FreshShowingIsInvisibleFor250msThenFadesInOver150ms)
{
    BarFixture f;
    f.openEntry (f.bar().input);
    auto& display = f.display();

    for (int frame = 1; frame <= 26; ++frame)
    {
        f.frames (1);
        // Frame k is k x 16.67 ms after the start; invisible until 250 ms, opaque at 400 ms.
        const float elapsedMs = frame * 1000.0f / 60.0f;
        const float expected = juce::jlimit (0.0f, 1.0f, (elapsedMs - 250.0f) / 150.0f);
        EXPECT_NEAR (display.label.getAlpha(), expected, alphaStep) << "frame " << frame;
        EXPECT_TRUE (display.isVisible());
    }
    f.pressKey (juce::KeyPress (juce::KeyPress::escapeKey));
}

TEST (ParameterDisplayFade, AlphaForLevelsActiveAndClosing)
{
    struct Case { float level; bool active; int delay; float alpha; };
    const Case cases[] = {
        { 0.5f,   true,  250, 0.0f },                              // 200 ms of 400: still hidden
        { 0.625f, true,  250, 0.0f },                              // exactly at 250 ms
        { 0.75f,  true,  250, (0.75f * 400.0f - 250.0f) / 150.0f },
        { 1.0f,   true,  250, 1.0f },
        { 0.3f,   false, 250, 0.3f },                              // closing: the level itself
        { 0.3f,   true,  0,   0.3f },                              // no delay: the level itself
        { 0.5f,   true,  100, (0.5f * 250.0f - 100.0f) / 150.0f },
    };
    for (const auto& c : cases)
        EXPECT_NEAR (ParameterDisplay::alphaFor (c.level, c.active, c.delay), c.alpha, 1.0e-5f)
            << c.level << " " << c.active << " " << c.delay;
}

TEST (ParameterDisplayFade, StartDuringFadeOutContinuesOnlyWhileStillVisible)
{
    struct Case { int fadeOutFrames; bool restartsDelay; };
    // After 2 frames of fading the level is 7/9: as an active overlay that is visible, so the
    // fade continues. After 6 frames it is 3/9, which an active overlay shows as invisible.
    const Case cases[] = { { 2, false }, { 6, true }, { 12, true } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.fadeOutFrames);
        BarFixture f;
        auto& display = f.display();
        display.start (f.vyx.parameters.inGain, -80.0f, 12.0f, " dB");
        f.frames (30);
        ASSERT_EQ (display.fadeLevel, 1.0f);
        display.label.onClose();  // what the label calls when its entry closes
        EXPECT_FALSE (display.showing);
        f.frames (c.fadeOutFrames);
        const float level = display.fadeLevel;

        display.start (f.vyx.parameters.outGain, -80.0f, 12.0f, " dB");
        EXPECT_TRUE (display.showing);
        EXPECT_TRUE (display.isVisible());
        EXPECT_EQ (display.label.parameter, &f.vyx.parameters.outGain);
        EXPECT_EQ (display.label.unit, " dB");
        EXPECT_EQ (display.fadeLevel, c.restartsDelay ? 0.0f : level);
    }
}

TEST (ParameterDisplayEntry, StartWhileEditingIsIgnored)
{
    BarFixture f;
    f.openEntry (f.bar().input);
    ASSERT_NE (f.entryEditor(), nullptr);

    f.display().start (f.vyx.parameters.mix, 0.0f, 100.0f, " %");
    EXPECT_EQ (f.display().label.parameter, &f.vyx.parameters.inGain);
    EXPECT_EQ (f.display().label.unit, " dB");

    // The entry still writes the first fader's parameter, with its limits.
    f.typeText ("50");
    f.pressKey (juce::KeyPress (juce::KeyPress::returnKey));
    EXPECT_TRUE (f.gestures.hasCompleteGestures (f.indexOf ("IN"), 1));
    EXPECT_EQ (f.gestures.touched(), std::set<int> { f.indexOf ("IN") });
    EXPECT_FLOAT_EQ (f.hostParameter ("IN").getValue(), 1.0f);
}

TEST (ParameterDisplayEntry, ShownValueFollowsAutomationWhileUp)
{
    BarFixture f;
    f.setNormalised ("OUT", 0.5f);
    f.openEntry (f.bar().output);
    f.pressKey (juce::KeyPress (juce::KeyPress::escapeKey));
    f.display().start (f.vyx.parameters.outGain, -80.0f, 12.0f, " dB");  // showing, not editing

    auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (&f.hostParameter ("OUT"));
    ranged->setValueNotifyingHost (ranged->convertTo0to1 (-6.0f));
    f.frames (1);
    EXPECT_EQ (f.display().label.label.getText(), "-6.0 dB");
}

TEST (BottomBarPaint, ValueTextNeverShowsASignedZero)
{
    struct Case { double value; const char* unit; const char* text; };
    const Case cases[] = {
        { -0.04, " dB", "0.0 dB" },
        { -0.0,  " dB", "0.0 dB" },
        { 0.04,  " dB", "0.0 dB" },
        { -8.0,  " dB", "-8.0 dB" },
        { -0.06, " dB", "-0.1 dB" },
        { 12.34, " ms", "12.3 ms" },
        { 100.0, " %",  "100.0 %" },
    };
    for (const auto& c : cases)
        EXPECT_EQ (BottomBar::formatValue (c.value, c.unit), c.text) << c.value;
}

TEST (BottomBarPaint, LevelBarFromEmptyToFull)
{
    const auto theme = juce::Colour (0xff20c060);
    struct Case { float normalised; bool barAtBottom, barAtTop; };
    const Case cases[] = { { 0.0f, false, false }, { 0.5f, true, false }, { 1.0f, true, true } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.normalised);
        BarFixture f;
        f.editor->bottomBar.colour = theme;
        f.setNormalised ("IN", c.normalised);
        auto& fader = f.bar().input;
        const auto image = fader.createComponentSnapshot (fader.getLocalBounds(), false);

        const auto background = theme.withBrightness (0.3f);
        const auto level = theme.withBrightness (0.5f);
        const auto bottom = image.getPixelAt (6, fader.getHeight() - 2);
        const auto top = image.getPixelAt (6, 1);
        EXPECT_EQ (bottom.toString(), (c.barAtBottom ? level : background).toString());
        EXPECT_EQ (top.toString(), (c.barAtTop ? level : background).toString());
    }
}

TEST (BottomBarPaint, HoverShowsTheValueInBrighterColours)
{
    const auto theme = juce::Colour (0xff6040d0);
    BarFixture f;
    f.editor->bottomBar.colour = theme;
    auto& fader = f.bar().down;
    f.setNormalised ("ATD0", 0.0f);

    const auto before = fader.createComponentSnapshot (fader.getLocalBounds(), false);
    f.mouseMove (fader, f.centreOf (fader));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return fader.animator.hoverValue >= 1.0f; }));
    const auto hovered = fader.createComponentSnapshot (fader.getLocalBounds(), false);

    EXPECT_EQ (before.getPixelAt (3, 1).toString(), theme.withBrightness (0.3f).toString());
    EXPECT_EQ (hovered.getPixelAt (3, 1).toString(), theme.withBrightness (0.5f).toString());

    // The name ("down") and the value ("0.0 ms") differ in width: the dark pixels move.
    int changed = 0;
    for (int y = 0; y < fader.getHeight(); ++y)
        for (int x = 0; x < fader.getWidth(); ++x)
            if ((before.getPixelAt (x, y).getBrightness() < 0.1f) != (hovered.getPixelAt (x, y).getBrightness() < 0.1f))
                ++changed;
    EXPECT_GT (changed, 20);

    f.mouseMove (*f.editor, { 2.0f, 100.0f });
    ASSERT_TRUE (runMessageLoopUntil ([&] { return fader.animator.hoverValue <= 0.0f; }));
}

TEST (BottomBarPaint, SteadyFramesAllocateNothing)
{
    if (! AllocationCounter::isAvailable())
        GTEST_SKIP() << "allocations are not counted with this allocator";

    BarFixture f;
    auto& bar = f.bar();
    for (auto* fader : { &bar.input, &bar.down, &bar.up, &bar.mix, &bar.output })
        fader->animator.hoverValue = 0.5f;  // both texts drawn

    NullContext context;
    juce::Graphics g (context);
    for (int i = 0; i < 3; ++i)
        bar.paintEntireComponent (g, true);

    context.glyphs = 0;
    long allocations = 0;
    {
        AllocationCounter counter;
        for (int i = 0; i < 60; ++i)
            bar.paintEntireComponent (g, true);
        allocations = counter.get();
    }
    EXPECT_EQ (allocations, 0);
    EXPECT_GT (context.glyphs, 60 * 5 * 4);  // names and values were drawn

    // A changed value is laid out again once, then frames are quiet again.
    f.hostParameter ("IN").setValueNotifyingHost (0.75f);
    bar.paintEntireComponent (g, true);
    {
        AllocationCounter counter;
        for (int i = 0; i < 10; ++i)
            bar.paintEntireComponent (g, true);
        EXPECT_EQ (counter.get(), 0);
    }
}

} // namespace vyx::test
