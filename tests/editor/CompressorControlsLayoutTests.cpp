// The band editor's geometry: where the band columns go for a set of crossovers, the meter's
// dB-to-y map, and the pin of the last band's crossover, in a real editor window.

#include "EditorTestSupport.h"
#include "plugin/editor/CompressorControls.h"

#include <cmath>
#include <limits>

namespace
{

using vyx::test::EditorFixture;
using Crossovers = std::array<float, VyxAudioProcessor::maxBands>;

struct Placement
{
    int x, width;
};

struct LayoutCase
{
    const char* name;
    int width;
    int numBands;
    Crossovers crossovers;
    std::vector<Placement> expected;  // the visible bands, in slot order
};

// Hand-worked from the layout rules: band 0 starts at x = 10 and ends at int (W c0 - 5) + 10;
// band i ends near W ci + 5 (its width is int (W ci - 5 - previous edge), the previous edge
// truncated); the last band takes what is left up to x = W.
const LayoutCase layoutCases[] = {
    { "one band fills the panel after the strip", 430, 1, { 0.3f, 1, 1, 1, 1, 1, 1, 1 }, { { 10, 420 } } },
    // Crossovers away from whole pixels, so a host's round trip through the frequency scale
    // cannot move an edge by one.
    { "three bands", 430, 3, { 0.501f, 0.751f, 1, 1, 1, 1, 1, 1 }, { { 10, 210 }, { 220, 107 }, { 327, 103 } } },
    { "eight even bands", 810, 8, { 0.125f, 0.25f, 0.375f, 0.5f, 0.625f, 0.75f, 0.875f, 1.0f },
      { { 10, 96 }, { 106, 101 }, { 207, 101 }, { 308, 102 }, { 410, 101 }, { 511, 101 }, { 612, 101 }, { 713, 97 } } },
    { "eight bands in the default window", 430, 8, { 0.126f, 0.251f, 0.376f, 0.501f, 0.626f, 0.751f, 0.876f, 1.0f },
      { { 10, 49 }, { 59, 53 }, { 112, 54 }, { 166, 54 }, { 220, 54 }, { 274, 53 }, { 327, 54 }, { 381, 49 } } },
    // Band 1's crossover lies left of band 0's: its width comes out negative (shown as zero)
    // and the remainder the later bands share grows by the same amount. int () truncates
    // toward zero: int (124.43 - 210) = -85.
    { "crossover automated past the next one", 430, 4, { 0.501f, 0.301f, 0.751f, 1, 1, 1, 1, 1 },
      { { 10, 210 }, { 220, -85 }, { 135, 193 }, { 328, 102 } } },
    { "the last band ends at the right edge whatever its crossover", 430, 2, { 0.501f, 0.2f, 1, 1, 1, 1, 1, 1 },
      { { 10, 210 }, { 220, 210 } } },
};

TEST (BandLayout, SpansFollowTheCrossovers)
{
    for (const auto& c : layoutCases)
    {
        SCOPED_TRACE (c.name);
        const auto spans = BandGeometry::computeBandSpans (c.width, c.numBands, c.crossovers);

        for (int i = 0; i < VyxAudioProcessor::maxBands; ++i)
        {
            const auto& span = spans[(size_t) i];
            SCOPED_TRACE ("band " + std::to_string (i));
            EXPECT_EQ (span.visible, i < c.numBands);
            EXPECT_EQ (span.last, i == c.numBands - 1);

            if (i < c.numBands)
            {
                EXPECT_EQ (span.x, c.expected[(size_t) i].x);
                EXPECT_EQ (span.width, c.expected[(size_t) i].width);
            }
        }

        // Whatever the crossovers, the widths share out exactly the room right of the strip.
        int total = 0;
        for (int i = 0; i < c.numBands; ++i)
            total += spans[(size_t) i].width;
        EXPECT_EQ (total, c.width - BandGeometry::stripWidth);
    }
}

TEST (BandLayout, APanelNarrowerThanTheStripGivesEveryBandZeroWidth)
{
    for (int width : { 0, 6, 10 })
    {
        const auto spans = BandGeometry::computeBandSpans (width, 3, { 0.5f, 0.75f, 1, 1, 1, 1, 1, 1 });
        for (int i = 0; i < 3; ++i)
        {
            EXPECT_TRUE (spans[(size_t) i].visible);
            EXPECT_EQ (spans[(size_t) i].width, 0) << "width " << width << ", band " << i;
        }
    }
}

TEST (BandMeterScale, LevelsMapOntoTheThresholdScale)
{
    // y = 20 + (-dB / 60) (H - 40): 0 dB at the top of the scale, -60 dB at H - 20, and
    // silence at -100 dB, below the panel.
    const auto expectedY = [] (float decibels, float height) { return 20.0f + (-decibels / 60.0f) * (height - 40.0f); };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();

    struct Case
    {
        const char* name;
        float level;
        float decibels;
    };
    const Case cases[] = {
        { "0 dB", 1.0f, 0.0f },
        { "-6 dB", std::pow (10.0f, -6.0f / 20.0f), -6.0f },
        { "-60 dB", 0.001f, -60.0f },
        { "+6 dB", std::pow (10.0f, 6.0f / 20.0f), 6.0f },
        { "silence", 0.0f, -100.0f },
        { "below the floor", 1.0e-7f, -100.0f },
        { "negative", -0.5f, -100.0f },
        { "NaN", nan, -100.0f },
        { "infinity", inf, -100.0f },
        { "minus infinity", -inf, -100.0f },
    };

    for (float height : { 254.0f, 924.0f })
        for (const auto& c : cases)
        {
            const float y = BandGeometry::levelToY (c.level, height);
            EXPECT_TRUE (std::isfinite (y)) << c.name;
            EXPECT_NEAR (y, expectedY (c.decibels, height), 1.0e-3f) << c.name << " at height " << height;
        }

    EXPECT_FLOAT_EQ (BandGeometry::levelToY (1.0f, 254.0f), 20.0f);
    EXPECT_FLOAT_EQ (BandGeometry::levelToY (0.001f, 254.0f), 234.0f);
}

//==============================================================================
/** Sets a host parameter to a plain value, the way host automation does. */
void setPlain (juce::AudioProcessorParameter& parameter, float plain)
{
    auto& ranged = dynamic_cast<juce::RangedAudioParameter&> (parameter);
    ranged.setValueNotifyingHost (ranged.convertTo0to1 (plain));
}

void setNormalised (juce::AudioProcessorParameter& parameter, float normalised)
{
    parameter.setValueNotifyingHost (normalised);
}

TEST (CompressorControlsLayout, BandsTakeTheirBoundsFromTheCrossoversEveryTick)
{
    EditorFixture fixture;
    auto& panel = fixture.editor->compressorControls;
    ASSERT_EQ (panel.getWidth(), 430);
    ASSERT_EQ (panel.getHeight(), 254);

    for (const auto& c : layoutCases)
    {
        if (c.width != panel.getWidth())
            continue;
        SCOPED_TRACE (c.name);

        setPlain (fixture.hostParameter ("NUM"), (float) c.numBands);
        for (int i = 0; i < c.numBands - 1; ++i)
            setNormalised (fixture.hostParameter ("CR" + juce::String (i)), c.crossovers[(size_t) i]);

        // One frame pulls the new values into the bindings, the next lays the bands out.
        fixture.frames (2);

        for (int i = 0; i < VyxAudioProcessor::maxBands; ++i)
        {
            auto& band = panel.getBand (i);
            SCOPED_TRACE ("band " + std::to_string (i));
            ASSERT_EQ (band.isVisible(), i < c.numBands);
            if (i >= c.numBands)
                continue;

            const auto& expected = c.expected[(size_t) i];
            EXPECT_EQ (band.getBounds(), juce::Rectangle<int> (expected.x, 0, std::max (0, expected.width), 254));
            EXPECT_EQ (band.isLast, i == c.numBands - 1);
        }

        // The chain links every slot, active or not.
        for (int i = 0; i < VyxAudioProcessor::maxBands; ++i)
        {
            EXPECT_EQ (panel.getBand (i).prev, i > 0 ? &panel.getBand (i - 1) : nullptr);
            EXPECT_EQ (panel.getBand (i).next, i < 7 ? &panel.getBand (i + 1) : nullptr);
        }
    }
}

TEST (CompressorControlsLayout, TheLastBandsCrossoverIsPinnedToTheTopWithOneGesture)
{
    EditorFixture fixture;
    fixture.frames (2);

    // A new instance has three bands; band 2's crossover (20 kHz) went to the top at once.
    EXPECT_FLOAT_EQ (fixture.hostParameter ("CR2").getValue(), 1.0f);

    struct Case
    {
        int numBands;
        const char* pinned;
    };
    const Case cases[] = { { 2, "CR1" }, { 1, "CR0" }, { 5, "CR4" }, { 8, "CR7" } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.pinned);
        setNormalised (fixture.hostParameter (c.pinned), 0.4f);
        setPlain (fixture.hostParameter ("NUM"), (float) c.numBands);
        fixture.frames (2);  // the binding catches up with the host, then the tick pins it
        fixture.gestures.clear();
        setNormalised (fixture.hostParameter (c.pinned), 0.4f);
        fixture.frames (1);  // paint pulls 0.4 into the binding
        fixture.frames (1);  // the tick pins

        EXPECT_FLOAT_EQ (fixture.hostParameter (c.pinned).getValue(), 1.0f);
        const int index = fixture.indexOf (c.pinned);
        const auto events = fixture.gestures.eventsFor (index);
        ASSERT_GE (events.size(), 3u);
        // The first event is the host's own automation write; what follows is one gesture.
        std::vector<vyx::test::GestureRecorder::Event> afterAutomation (events.begin() + 1, events.end());
        ASSERT_EQ (afterAutomation.size(), 3u);
        EXPECT_EQ (afterAutomation[0].kind, vyx::test::GestureRecorder::Kind::begin);
        EXPECT_EQ (afterAutomation[1].kind, vyx::test::GestureRecorder::Kind::value);
        EXPECT_FLOAT_EQ (afterAutomation[1].value, 1.0f);
        EXPECT_EQ (afterAutomation[2].kind, vyx::test::GestureRecorder::Kind::end);

        // Nothing else was written.
        EXPECT_EQ (fixture.gestures.touched(), std::set<int> { index });
    }
}

TEST (CompressorControlsLayout, NothingIsPinnedWhileNoEditorIsOpen)
{
    EditorFixture fixture;
    fixture.frames (2);
    fixture.closeEditor();
    fixture.gestures.clear();

    setPlain (fixture.hostParameter ("NUM"), 2.0f);
    vyx::test::runMessageLoopUntil ([] { return false; }, 50);

    EXPECT_EQ (fixture.gestures.eventsFor (fixture.indexOf ("CR1")).size(), 0u);
    EXPECT_LT (fixture.hostParameter ("CR1").getValue(), 1.0f);
}

// An editor that is built but not on screen (a host asking whether there is an editor, or one
// whose view the host has not attached yet) moves no parameter, however many ticks it runs;
// the first tick on screen pins, with one gesture.
TEST (CompressorControlsLayout, AnEditorOffScreenPinsNothingUntilItIsShown)
{
    std::unique_ptr<juce::AudioProcessor> owner (createPluginFilter());
    vyx::test::GestureRecorder gestures (*owner);
    const int cr2 = vyx::test::parameterIndex (*owner, "CR2");
    const float factory = owner->getParameters()[cr2]->getValue();
    ASSERT_LT (factory, 1.0f);

    std::unique_ptr<VyxAudioProcessorEditor> editor (dynamic_cast<VyxAudioProcessorEditor*> (owner->createEditorIfNeeded()));
    ASSERT_NE (editor, nullptr);
    for (int tick = 0; tick < 3; ++tick)
        editor->timerCallback();
    EXPECT_TRUE (gestures.isEmpty());
    EXPECT_EQ (owner->getParameters()[cr2]->getValue(), factory);

    editor->addToDesktop (0);
    editor->setVisible (true);
    editor->timerCallback();
    EXPECT_TRUE (gestures.hasCompleteGestures (cr2, 1));
    EXPECT_EQ (gestures.lastValue (cr2), 1.0f);
    EXPECT_EQ (gestures.touched(), std::set<int> { cr2 });

    editor->removeFromDesktop();
    owner->editorBeingDeleted (editor.get());
}

} // namespace
