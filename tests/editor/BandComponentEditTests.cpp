// Editing bands with the mouse in a real editor window: drags of thresholds, ratios and
// crossovers, the wheel, typed entry, split, merge and removal. Every expected value is worked
// out here from the editor's scale (the threshold line moves pixel for pixel over H - 40, the
// whole column height is the whole normalised ratio range, a crossover moves by dx / panel
// width) and the parameter ranges; the host's view is checked through parameter listeners.

#include "EditorTestSupport.h"
#include "plugin/editor/CompressorControls.h"

namespace
{

using vyx::test::GestureRecorder;

constexpr float panelWidth = 430.0f;   // a 440 x 330 window
constexpr float panelHeight = 254.0f;
constexpr float gap = 0.08f;

float clamp01 (float x) { return juce::jlimit (0.0f, 1.0f, x); }

/** The y of a threshold line for a plain threshold in dB. */
float lineY (float decibels)
{
    const float m = (decibels + 60.0f) / 60.0f;
    return (1.0f - m) * (panelHeight - 40.0f) + 20.0f;
}

struct BandSettings
{
    float thd, thu, rad, rau;
};

/** An editor at 440 x 330 whose bands have been laid out from the factory settings (three
    bands: up to 550 Hz, 550 to 2500 Hz, the rest); the recorder starts empty. */
struct BandEditorFixture : vyx::test::EditorFixture
{
    BandEditorFixture()
    {
        frames (2);
        gestures.clear();
    }

    CompressorControls& panel() { return editor->compressorControls; }
    BandComponent& band (int i) { return panel().getBand (i); }

    juce::RangedAudioParameter& ranged (const juce::String& id)
    {
        return dynamic_cast<juce::RangedAudioParameter&> (hostParameter (id));
    }

    float plain (const juce::String& id) { return ranged (id).convertFrom0to1 (ranged (id).getValue()); }
    float normalised (const juce::String& id) { return ranged (id).getValue(); }

    void setPlain (const juce::String& id, float value)
    {
        ranged (id).setValueNotifyingHost (ranged (id).convertTo0to1 (value));
    }

    /** Writes settings like host automation, then lets the editor catch up, and forgets the
        events this caused. */
    void settle()
    {
        frames (2);
        gestures.clear();
    }

    BandSettings settingsOf (int i)
    {
        const auto n = juce::String (i);
        return { plain ("THD" + n), plain ("THU" + n), plain ("RAD" + n), plain ("RAU" + n) };
    }

    /** Gives every band settings of its own, so a test sees which slot ends up where. */
    void giveEveryBandItsOwnSettings()
    {
        for (int i = 0; i < 8; ++i)
        {
            const auto n = juce::String (i);
            setPlain ("THD" + n, -10.0f - (float) i);
            setPlain ("THU" + n, -40.0f - (float) i);
            setPlain ("RAD" + n, 2.0f + (float) i);
            setPlain ("RAU" + n, 1.5f + 0.5f * (float) i);
        }
        settle();
    }

    juce::Point<float> crossoverStrip (int i) { return { (float) band (i).getWidth() - 5.0f, panelHeight * 0.5f }; }
};

void expectSettings (BandEditorFixture& f, int slot, const BandSettings& expected)
{
    SCOPED_TRACE ("slot " + std::to_string (slot));
    const auto actual = f.settingsOf (slot);
    EXPECT_NEAR (actual.thd, expected.thd, 1.0e-3f);
    EXPECT_NEAR (actual.thu, expected.thu, 1.0e-3f);
    EXPECT_NEAR (actual.rad, expected.rad, 1.0e-3f);
    EXPECT_NEAR (actual.rau, expected.rau, 1.0e-3f);
}

//==============================================================================
TEST (BandComponentEdits, VerticalDragsMoveThresholdsAndRatios)
{
    enum Kind { thd, thu, rad, rau };
    struct Case
    {
        const char* name;
        Kind kind;
        float dy;
    };
    const Case cases[] = {
        { "downward threshold lowered", thd, 30.0f },
        { "downward threshold raised to the top", thd, -100.0f },
        { "downward threshold lowered past the upward one takes it along", thd, 150.0f },
        { "upward threshold raised", thu, -30.0f },
        { "upward threshold raised past the downward one takes it along", thu, -120.0f },
        { "upward threshold lowered to the bottom", thu, 300.0f },
        { "downward ratio raised by dragging down", rad, 50.0f },
        { "downward ratio lowered by dragging up", rad, -50.0f },
        { "downward ratio to the top", rad, 400.0f },
        { "upward ratio raised by dragging up", rau, -40.0f },
        { "upward ratio lowered by dragging down", rau, 40.0f },
        { "upward ratio to 1:1", rau, 400.0f },
    };

    const auto& thresholds = Layout::THRESH_RANGE;
    const auto& ratios = Layout::RATIO_RANGE;

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        BandEditorFixture f;
        auto& b = f.band (0);
        const float x = (float) b.getWidth() * 0.5f;
        const auto before = f.settingsOf (0);

        juce::Point<float> from;
        switch (c.kind)
        {
            case thd: from = { x, lineY (before.thd) - 10.0f }; break;   // handle strip above the line
            case thu: from = { x, lineY (before.thu) + 10.0f }; break;   // handle strip below the line
            case rad: from = { x, lineY (before.thd) - 30.0f }; break;   // area above the handle strip
            case rau: from = { x, lineY (before.thu) + 40.0f }; break;   // area below the handle strip
        }

        constexpr int steps = 8;
        f.drag (b, from, from + juce::Point<float> (0.0f, c.dy), steps);

        // Work through the steps as the user's hand moves, counting the writes each makes.
        BandSettings expected = before;
        int pushedOpposite = 0;
        for (int i = 1; i <= steps; ++i)
        {
            const float dy = c.dy * (float) i / (float) steps;
            if (c.kind == thd || c.kind == thu)
            {
                const float start = c.kind == thd ? before.thd : before.thu;
                const float t = clamp01 (thresholds.convertTo0to1 (start) - dy / (panelHeight - 40.0f));
                const float v = thresholds.convertFrom0to1 (t);
                if (c.kind == thd)
                {
                    expected.thd = v;
                    if (expected.thu > v) { expected.thu = v; ++pushedOpposite; }
                }
                else
                {
                    expected.thu = v;
                    if (v > expected.thd) { expected.thd = v; ++pushedOpposite; }
                }
            }
            else
            {
                const float start = c.kind == rad ? before.rad : before.rau;
                const float d = (c.kind == rad ? dy : -dy) / panelHeight;
                (c.kind == rad ? expected.rad : expected.rau) = ratios.convertFrom0to1 (clamp01 (ratios.convertTo0to1 (start) + d));
            }
        }

        expectSettings (f, 0, expected);
        EXPECT_LE (f.plain ("THU0"), f.plain ("THD0"));

        const char* ids[] = { "THD0", "THU0", "RAD0", "RAU0" };
        const auto* dragged = ids[c.kind];
        EXPECT_TRUE (f.gestures.hasCompleteGestures (f.indexOf (dragged), steps));

        std::set<int> touched { f.indexOf (dragged) };
        if (pushedOpposite > 0)
        {
            const auto* opposite = c.kind == thd ? "THU0" : "THD0";
            EXPECT_TRUE (f.gestures.hasCompleteGestures (f.indexOf (opposite), pushedOpposite));
            touched.insert (f.indexOf (opposite));
        }
        EXPECT_EQ (f.gestures.touched(), touched);
    }
}

TEST (BandComponentEdits, CrossoverDragsStopShortOfTheirNeighbours)
{
    struct Case
    {
        const char* name;
        int band;
        float dx;
    };
    const Case cases[] = {
        { "band 0 right", 0, 20.0f },
        { "band 0 left", 0, -20.0f },
        { "band 0 stops short of band 1", 0, 70.0f },
        { "band 0 stops short of the left end", 0, -170.0f },
        { "band 1 left", 1, -40.0f },
        { "band 1 stops short of band 0", 1, -60.0f },
        { "the band before the last stops at 0.92", 1, 150.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        BandEditorFixture f;
        const auto id = "CR" + juce::String (c.band);
        const float start = f.normalised (id);
        const float previous = c.band > 0 ? f.normalised ("CR" + juce::String (c.band - 1)) : 0.0f;
        const float following = f.normalised ("CR" + juce::String (c.band + 1));
        ASSERT_FLOAT_EQ (f.normalised ("CR2"), 1.0f);

        auto& b = f.band (c.band);
        const auto from = f.crossoverStrip (c.band);
        constexpr int steps = 8;
        f.drag (b, from, from + juce::Point<float> (c.dx, 0.0f), steps);

        const float x = start + c.dx / panelWidth;
        ASSERT_GE (x, previous);
        ASSERT_LE (x, following);
        const float expected = juce::jmin (juce::jmax (x, previous + gap), following - gap);

        EXPECT_NEAR (f.normalised (id), expected, 1.0e-4f);
        EXPECT_TRUE (f.gestures.hasCompleteGestures (f.indexOf (id), steps));
        EXPECT_EQ (f.gestures.touched(), std::set<int> { f.indexOf (id) });
        EXPECT_FLOAT_EQ (f.plain ("NUM"), 3.0f);
    }
}

TEST (BandComponentEdits, DraggingACrossoverPastTheNextMergesTheNextBandIntoThisOne)
{
    struct Case
    {
        const char* name;
        int numBands;
        float dx;
    };
    const Case cases[] = {
        { "into a middle band", 3, 100.0f },
        { "into the last band", 2, 300.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        BandEditorFixture f;
        f.setPlain ("NUM", (float) c.numBands);
        f.giveEveryBandItsOwnSettings();

        BandSettings before[8];
        float crossovers[8];
        for (int i = 0; i < 8; ++i)
        {
            before[i] = f.settingsOf (i);
            crossovers[i] = f.normalised ("CR" + juce::String (i));
        }
        ASSERT_GT (f.normalised ("CR0") + c.dx / panelWidth, crossovers[1]);

        const auto from = f.crossoverStrip (0);
        f.drag (f.band (0), from, from + juce::Point<float> (c.dx, 0.0f), 8);
        f.frames (1);

        // Band 0 keeps its own settings and reaches up to where band 1 reached.
        EXPECT_FLOAT_EQ (f.plain ("NUM"), (float) (c.numBands - 1));
        expectSettings (f, 0, before[0]);
        EXPECT_NEAR (f.normalised ("CR0"), crossovers[1], 1.0e-4f);
        // The later bands moved one slot left.
        for (int slot = 1; slot < c.numBands - 1; ++slot)
        {
            expectSettings (f, slot, before[slot + 1]);
            EXPECT_NEAR (f.normalised ("CR" + juce::String (slot)), crossovers[slot + 1], 1.0e-4f);
        }

        // The drag ended with the merge: the last write to band 0's crossover is the merge's.
        const auto events = f.gestures.eventsFor (f.indexOf ("CR0"));
        ASSERT_FALSE (events.empty());
        EXPECT_EQ (events.back().kind, GestureRecorder::Kind::end);
        EXPECT_NEAR (f.gestures.lastValue (f.indexOf ("CR0")), crossovers[1], 1.0e-4f);
        EXPECT_EQ (f.band (0).isLast, c.numBands == 2);

        // Every write but the band count's is a complete gesture.
        for (int index : f.gestures.touched())
        {
            if (index == f.indexOf ("NUM"))
                continue;
            const auto list = f.gestures.eventsFor (index);
            int open = 0;
            for (const auto& e : list)
                open += e.kind == GestureRecorder::Kind::begin ? 1 : e.kind == GestureRecorder::Kind::end ? -1 : 0;
            EXPECT_EQ (open, 0) << "parameter " << index;
            EXPECT_EQ (list.front().kind, GestureRecorder::Kind::begin) << "parameter " << index;
        }
        const auto count = f.gestures.eventsFor (f.indexOf ("NUM"));
        ASSERT_EQ (count.size(), 1u);
        EXPECT_EQ (count[0].kind, GestureRecorder::Kind::value);
    }
}

TEST (BandComponentEdits, DraggingACrossoverPastThePreviousRemovesTheBand)
{
    BandEditorFixture f;
    f.setPlain ("NUM", 4.0f);
    f.giveEveryBandItsOwnSettings();
    f.setPlain ("CR2", 8000.0f);
    f.settle();

    const auto slot0 = f.settingsOf (0), slot2 = f.settingsOf (2), slot3 = f.settingsOf (3);
    const float c0 = f.normalised ("CR0"), c2 = f.normalised ("CR2"), c3 = f.normalised ("CR3");
    ASSERT_LT (f.normalised ("CR1") - 100.0f / panelWidth, c0);

    const auto from = f.crossoverStrip (1);
    f.drag (f.band (1), from, from + juce::Point<float> (-100.0f, 0.0f), 8);
    f.frames (1);

    EXPECT_FLOAT_EQ (f.plain ("NUM"), 3.0f);
    expectSettings (f, 0, slot0);
    EXPECT_NEAR (f.normalised ("CR0"), c0, 1.0e-6f);
    // Band 1's area goes to the band on its right, which moves into slot 1.
    expectSettings (f, 1, slot2);
    EXPECT_NEAR (f.normalised ("CR1"), c2, 1.0e-4f);
    expectSettings (f, 2, slot3);
    EXPECT_NEAR (f.normalised ("CR2"), c3, 1.0e-4f);
    EXPECT_FALSE (f.band (3).isVisible());
    EXPECT_TRUE (f.band (2).isLast);
}

TEST (BandComponentEdits, DoubleClickSplitsABandAtTheMidpoint)
{
    for (int splitBand : { 0, 1 })
    {
        SCOPED_TRACE ("band " + std::to_string (splitBand));
        BandEditorFixture f;
        f.giveEveryBandItsOwnSettings();

        BandSettings before[8];
        float crossovers[8];
        for (int i = 0; i < 8; ++i)
        {
            before[i] = f.settingsOf (i);
            crossovers[i] = f.normalised ("CR" + juce::String (i));
        }

        auto& b = f.band (splitBand);
        const float between = 0.5f * (lineY (before[splitBand].thd) + lineY (before[splitBand].thu));
        f.doubleClick (b, { (float) b.getWidth() * 0.5f, between });
        f.frames (1);

        EXPECT_FLOAT_EQ (f.plain ("NUM"), 4.0f);
        const float previous = splitBand > 0 ? crossovers[splitBand - 1] : 0.0f;
        EXPECT_NEAR (f.normalised ("CR" + juce::String (splitBand)), 0.5f * (previous + crossovers[splitBand]), 1.0e-4f);

        // The right half starts with the band's own settings and its old crossover.
        expectSettings (f, splitBand, before[splitBand]);
        expectSettings (f, splitBand + 1, before[splitBand]);
        EXPECT_NEAR (f.normalised ("CR" + juce::String (splitBand + 1)), crossovers[splitBand], 1.0e-4f);

        // Every later slot moved one to the right.
        for (int slot = splitBand + 2; slot < 8; ++slot)
        {
            expectSettings (f, slot, before[slot - 1]);
            EXPECT_NEAR (f.normalised ("CR" + juce::String (slot)), crossovers[slot - 1], 1.0e-4f);
        }

        EXPECT_TRUE (f.band (3).isVisible());
        EXPECT_TRUE (f.band (3).isLast);

        const auto count = f.gestures.eventsFor (f.indexOf ("NUM"));
        ASSERT_EQ (count.size(), 1u);
        EXPECT_EQ (count[0].kind, GestureRecorder::Kind::value);
    }
}

TEST (BandComponentEdits, SplitIsRefusedOnTheStripForNarrowBandsAndAtEightBands)
{
    enum Where { strip, middle };
    struct Case
    {
        const char* name;
        int numBands;
        float crossover0;  // normalised
        Where where;
    };
    const Case cases[] = {
        // 430 x 0.15 - 5 = 59 pixels: 0.137 of the panel, not above 0.16.
        { "a band of 16 % of the panel or less", 3, 0.15f, middle },
        { "on the crossover strip", 3, 0.43f, strip },
        { "with eight bands", 8, 0.43f, middle },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        BandEditorFixture f;
        f.setPlain ("NUM", (float) c.numBands);
        f.ranged ("CR0").setValueNotifyingHost (c.crossover0);
        f.settle();

        auto& b = f.band (0);
        // Only the narrow case is refused for its width.
        const float share = (float) b.getWidth() / panelWidth;
        if (c.crossover0 < 0.2f)
        {
            ASSERT_LE (share, 0.16f);
        }
        else
        {
            ASSERT_GT (share, 0.16f);
        }

        const juce::Point<float> at = c.where == strip ? f.crossoverStrip (0)
                                                       : juce::Point<float> { (float) b.getWidth() * 0.5f, 98.0f };
        f.doubleClick (b, at);
        f.frames (1);

        EXPECT_FLOAT_EQ (f.plain ("NUM"), (float) c.numBands);
        EXPECT_TRUE (f.gestures.isEmpty());
    }
}

//==============================================================================
TEST (BandComponentEdits, WheelActsLikeADragOfThatManyPixels)
{
    const auto& thresholds = Layout::THRESH_RANGE;
    const auto& ratios = Layout::RATIO_RANGE;

    struct Case
    {
        const char* name;
        const char* id;
        float deltaY;
        bool shift;
    };
    const Case cases[] = {
        { "downward threshold", "THD0", 3.0f, false },
        { "downward threshold with Shift", "THD0", -2.0f, true },
        { "upward threshold", "THU0", -4.0f, false },
        { "downward ratio", "RAD0", 5.0f, false },
        { "upward ratio with Shift", "RAU0", 5.0f, true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        BandEditorFixture f;
        const auto id = juce::String (c.id);
        const float start = f.plain (id);
        auto& b = f.band (0);
        const float x = (float) b.getWidth() * 0.5f;
        const float thd = f.plain ("THD0"), thu = f.plain ("THU0");

        juce::Point<float> at;
        float expected = 0.0f;
        if (id == "THD0")      { at = { x, lineY (thd) - 10.0f }; expected = thresholds.convertFrom0to1 (clamp01 (thresholds.convertTo0to1 (start) - c.deltaY / (panelHeight - 40.0f))); }
        else if (id == "THU0") { at = { x, lineY (thu) + 10.0f }; expected = thresholds.convertFrom0to1 (clamp01 (thresholds.convertTo0to1 (start) - c.deltaY / (panelHeight - 40.0f))); }
        else if (id == "RAD0") { at = { x, lineY (thd) - 30.0f }; expected = ratios.convertFrom0to1 (clamp01 (ratios.convertTo0to1 (start) + c.deltaY / panelHeight)); }
        else                   { at = { x, lineY (thu) + 40.0f }; expected = ratios.convertFrom0to1 (clamp01 (ratios.convertTo0to1 (start) - c.deltaY / panelHeight)); }

        // The pointer arrives from elsewhere, so the band sees it move onto the target.
        f.mouseMove (b, at + juce::Point<float> (1.0f, 1.0f));
        f.wheel (b, at, c.deltaY, c.shift ? juce::ModifierKeys::shiftModifier : juce::ModifierKeys());

        EXPECT_NEAR (f.plain (id), expected, 1.0e-3f);
        EXPECT_TRUE (f.gestures.hasCompleteGestures (f.indexOf (id), 1));
    }
}

TEST (BandComponentEdits, WheelOverTheCrossoverMovesItHorizontallyShiftTurnsAVerticalWheel)
{
    BandEditorFixture f;
    const float start = f.normalised ("CR0");
    auto& b = f.band (0);

    // A vertical wheel alone has no horizontal part: the crossover stays where it is.
    f.wheel (b, f.crossoverStrip (0), 20.0f);
    EXPECT_NEAR (f.normalised ("CR0"), start, 1.0e-5f);

    // With Shift it moves by delta / panel width on the normalised scale.
    f.wheel (b, f.crossoverStrip (0), 21.5f, juce::ModifierKeys::shiftModifier);
    EXPECT_NEAR (f.normalised ("CR0"), start + 21.5f / panelWidth, 1.0e-4f);

    // And stops 0.08 short of band 1, as a drag does.
    ASSERT_LT (f.normalised ("CR0") + 60.0f / panelWidth, f.normalised ("CR1"));
    f.wheel (b, f.crossoverStrip (0), 60.0f, juce::ModifierKeys::shiftModifier);
    EXPECT_NEAR (f.normalised ("CR0"), f.normalised ("CR1") - gap, 1.0e-4f);
    EXPECT_FLOAT_EQ (f.plain ("NUM"), 3.0f);
}

//==============================================================================
TEST (BandComponentEdits, RightClickOpensTypedEntryWithTheLimitsOfTheTarget)
{
    struct Case
    {
        const char* name;
        const char* id;
        const char* typed;
        std::function<float (BandEditorFixture&)> expected;  // plain value
    };
    const Case cases[] = {
        { "downward threshold", "THD0", "-20", [] (auto&) { return -20.0f; } },
        { "downward threshold not below the upward one", "THD0", "-50", [] (auto& f) { return f.plain ("THU0"); } },
        { "downward threshold not above 0 dB", "THD0", "5", [] (auto&) { return 0.0f; } },
        { "upward threshold not above the downward one", "THU0", "-2", [] (auto& f) { return f.plain ("THD0"); } },
        { "upward threshold not below -60 dB", "THU0", "-80", [] (auto&) { return -60.0f; } },
        { "downward ratio not above 16", "RAD0", "30", [] (auto&) { return 16.0f; } },
        { "upward ratio", "RAU0", "3", [] (auto&) { return 3.0f; } },
        { "crossover not past 0.08 short of band 1", "CR0", "30000",
          [] (auto& f) { return Layout::LOG_FREQ_RANGE.convertFrom0to1 (f.normalised ("CR1") - gap); } },
        { "crossover not below 0.08", "CR0", "1",
          [] (auto&) { return Layout::LOG_FREQ_RANGE.convertFrom0to1 (gap); } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        BandEditorFixture f;
        const auto id = juce::String (c.id);
        auto& b = f.band (0);
        const float x = (float) b.getWidth() * 0.5f;
        const float expected = c.expected (f);

        juce::Point<float> at;
        if (id == "THD0")      at = { x, lineY (f.plain ("THD0")) - 10.0f };
        else if (id == "THU0") at = { x, lineY (f.plain ("THU0")) + 10.0f };
        else if (id == "RAD0") at = { x, lineY (f.plain ("THD0")) - 30.0f };
        else if (id == "RAU0") at = { x, lineY (f.plain ("THU0")) + 40.0f };
        else                   at = f.crossoverStrip (0);

        f.rightClick (b, at);
        EXPECT_TRUE (f.gestures.isEmpty()) << "a right click starts no drag";

        f.typeText (c.typed);
        f.pressKey (juce::KeyPress (juce::KeyPress::returnKey));

        EXPECT_NEAR (f.plain (id), expected, std::abs (expected) * 1.0e-4f + 1.0e-3f);
        EXPECT_TRUE (f.gestures.hasCompleteGestures (f.indexOf (id), 1));
        EXPECT_EQ (f.gestures.touched(), std::set<int> { f.indexOf (id) });
    }
}

TEST (BandComponentEdits, EscapeLeavesTypedEntryWithoutWriting)
{
    BandEditorFixture f;
    auto& b = f.band (0);
    const float before = f.plain ("THD0");

    f.rightClick (b, { (float) b.getWidth() * 0.5f, lineY (before) - 10.0f });
    f.typeText ("-30");
    f.pressKey (juce::KeyPress (juce::KeyPress::escapeKey));
    f.frames (2);

    EXPECT_FLOAT_EQ (f.plain ("THD0"), before);
    EXPECT_TRUE (f.gestures.isEmpty());
}

TEST (BandComponentEdits, ARightClickWhereNoTargetIsDoesNothing)
{
    BandEditorFixture f;
    auto& b = f.band (0);
    const float between = 0.5f * (lineY (f.plain ("THD0")) + lineY (f.plain ("THU0")));

    f.rightClick (b, { (float) b.getWidth() * 0.5f, between });
    f.typeText ("-30");
    f.pressKey (juce::KeyPress (juce::KeyPress::returnKey));
    f.frames (2);

    EXPECT_TRUE (f.gestures.isEmpty());
}

//==============================================================================
TEST (BandComponentEdits, ADragOnAPanelSqueezedToNothingWritesNothing)
{
    struct Case
    {
        const char* name;
        bool crossover;
        int width, height;
    };
    const Case cases[] = {
        { "threshold, no height", false, 430, 0 },
        { "threshold, height of the margins only", false, 430, 40 },
        { "crossover, no width", true, 0, 254 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        BandEditorFixture f;
        auto& panel = f.panel();
        auto& b = f.band (0);
        const auto from = c.crossover ? f.crossoverStrip (0)
                                      : juce::Point<float> { (float) b.getWidth() * 0.5f, lineY (f.plain ("THD0")) - 10.0f };

        f.mouseDown (b, from);
        // The host squeezes the window while the button is held.
        panel.setBounds (panel.getX(), panel.getY(), c.width, c.height);
        for (int i = 1; i <= 4; ++i)
            f.mouseDrag (b, from + juce::Point<float> (10.0f * (float) i, 10.0f * (float) i));
        f.mouseUp (b, from + juce::Point<float> (40.0f, 40.0f));

        EXPECT_TRUE (f.gestures.isEmpty());
        EXPECT_FLOAT_EQ (f.plain ("NUM"), 3.0f);
    }
}

} // namespace
