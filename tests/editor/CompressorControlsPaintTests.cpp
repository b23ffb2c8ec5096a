// What the band editor draws: handles, black ratio areas and their bars, the panel background,
// and the two meter curves while audio with compression runs. Pictures are saved into the test
// artefact folder for a person to look at.

#include "EditorTestSupport.h"
#include "AllocationCounter.h"
#include "plugin/editor/CompressorControls.h"
#include "plugin/editor/ParameterDisplay.h"

#include <cmath>
#include <limits>

namespace
{

using vyx::test::EditorFixture;

// A saturated blue, so the level curve (the theme at brightness 0.85), the compressed curve
// (the complementary hue) and the panel (brightness 0.5) are told apart easily.
using vyx::test::saturatedTheme;

/** An editor showing a known theme colour, laid out, with an empty recorder. */
struct PaintFixture : EditorFixture
{
    PaintFixture (int width = 440, int height = 330) : EditorFixture (width, height)
    {
        vyx.state.attributes.setProperty (cvx::State::Attributes::colour, saturatedTheme.toString(), nullptr);
        frames (3);
        gestures.clear();
    }

    CompressorControls& panel() { return editor->compressorControls; }

    void setPlain (const juce::String& id, float value)
    {
        auto* p = vyx.state.parameters.getParameter (id);
        p->setValueNotifyingHost (p->convertTo0to1 (value));
    }

    /** Moves the pointer onto a point of a component, arriving from next to it (the mouse
        source ignores a move to where it already is, as after an earlier window). */
    void hover (juce::Component& c, juce::Point<float> p)
    {
        mouseMove (c, p + juce::Point<float> (1.0f, 1.0f));
        mouseMove (c, p);
    }

    float plain (const juce::String& id)
    {
        auto* p = vyx.state.parameters.getParameter (id);
        return p->convertFrom0to1 (p->getValue());
    }

    /** The editor painted as the host shows it, and the band editor's origin within it. */
    juce::Image picture() { return snapshot(); }
    juce::Point<int> panelOrigin() { return panel().getPosition(); }

    /** Renders full-scale noise through the engine, as a host does, with compression in every
        band. */
    void runLoudAudio (int blocks)
    {
        if (! prepared)
        {
            vyx.setRateAndBufferSizeDetails (48000.0, 512);
            vyx.prepareToPlay (48000.0, 512);
            prepared = true;
        }
        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;
        for (int b = 0; b < blocks; ++b)
        {
            for (int ch = 0; ch < 2; ++ch)
                for (int i = 0; i < 512; ++i)
                    buffer.setSample (ch, i, 0.9f * (random.nextFloat() * 2.0f - 1.0f));
            vyx.processBlock (buffer, midi);
        }
    }

    ~PaintFixture()
    {
        if (prepared)
            vyx.releaseResources();
    }

    bool prepared = false;
    juce::Random random { 11 };
};

void save (const juce::Image& image, const juce::String& name)
{
    auto file = vyx::test::getArtifactFolder().getChildFile (name + ".png");
    file.deleteFile();
    juce::FileOutputStream stream (file);
    juce::PNGImageFormat png;
    EXPECT_TRUE (stream.openedOk() && png.writeImageToStream (image, stream)) << name;
}

/** Colours match when every channel is within a few steps (antialiasing and rounding). */
::testing::AssertionResult closeColour (juce::Colour actual, juce::Colour expected, int tolerance = 3)
{
    const bool close = std::abs (actual.getRed() - expected.getRed()) <= tolerance
                    && std::abs (actual.getGreen() - expected.getGreen()) <= tolerance
                    && std::abs (actual.getBlue() - expected.getBlue()) <= tolerance;
    if (close)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual.toDisplayString (false) << " is not " << expected.toDisplayString (false);
}

float lineY (float decibels, float height)
{
    return BandGeometry::normalisedToY ((decibels + 60.0f) / 60.0f, height);
}

/** The largest channel value in a small window around a point: 0 means pure black there. */
int brightest (const juce::Image& image, int x, int y, int radius = 1)
{
    int best = 0;
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx)
        {
            if (! juce::isPositiveAndBelow (x + dx, image.getWidth()) || ! juce::isPositiveAndBelow (y + dy, image.getHeight()))
                continue;
            const auto c = image.getPixelAt (x + dx, y + dy);
            best = std::max ({ best, (int) c.getRed(), (int) c.getGreen(), (int) c.getBlue() });
        }
    return best;
}

//==============================================================================
TEST (BandEditorPaint, SnapshotsWithOneThreeAndEightBands)
{
    struct Case
    {
        int width, height, numBands;
    };
    const Case cases[] = { { 440, 330, 1 }, { 440, 330, 3 }, { 440, 330, 8 },
                           { 1600, 1000, 1 }, { 1600, 1000, 3 }, { 1600, 1000, 8 } };

    for (const auto& c : cases)
    {
        const auto name = "band-editor-" + juce::String (c.numBands) + "-bands-" + juce::String (c.width) + "x" + juce::String (c.height);
        SCOPED_TRACE (name);
        PaintFixture f (c.width, c.height);

        f.setPlain ("NUM", (float) c.numBands);
        // Spread the crossovers evenly and give the ratios a range of values to show.
        for (int i = 0; i < c.numBands - 1; ++i)
            f.vyx.state.parameters.getParameter ("CR" + juce::String (i))->setValueNotifyingHost ((float) (i + 1) / (float) c.numBands);
        for (int i = 0; i < c.numBands; ++i)
        {
            f.setPlain ("RAD" + juce::String (i), 1.0f + 15.0f * (float) i / 7.0f);
            f.setPlain ("RAU" + juce::String (i), 16.0f - 15.0f * (float) i / 7.0f);
        }
        f.runLoudAudio (20);
        f.frames (3);

        auto& panel = f.panel();
        int visible = 0;
        for (int i = 0; i < 8; ++i)
            visible += panel.getBand (i).isVisible() ? 1 : 0;
        EXPECT_EQ (visible, c.numBands);
        EXPECT_EQ (panel.getBand (c.numBands - 1).getRight(), panel.getWidth());

        const auto image = f.picture();
        save (image, name);

        // The panel's colour shows between the threshold lines of band 0.
        const auto origin = f.panelOrigin();
        const float h = (float) panel.getHeight();
        const int between = (int) (0.5f * (lineY (f.plain ("THD0"), h) + lineY (f.plain ("THU0"), h)));
        const int x0 = origin.x + panel.getBand (0).getX() + panel.getBand (0).getWidth() / 4;
        EXPECT_TRUE (closeColour (image.getPixelAt (x0, origin.y + between - 10), saturatedTheme.withBrightness (0.5f)));
    }
}

//==============================================================================
TEST (BandEditorPaint, HandlesRatioAreasAndTheBackgroundHaveTheirColours)
{
    PaintFixture f;
    auto& panel = f.panel();
    auto& band = panel.getBand (1);
    const float h = (float) panel.getHeight();
    const float downY = lineY (f.plain ("THD1"), h), upY = lineY (f.plain ("THU1"), h);
    const int cx = band.getWidth() / 2;

    const auto pixel = [&] (const juce::Image& image, float y)
    {
        const auto origin = f.panelOrigin();
        return image.getPixelAt (origin.x + band.getX() + cx, origin.y + (int) std::floor (y));
    };

    // At rest a handle has the panel's brightness, inside the black of its ratio area.
    auto image = f.picture();
    save (image, "band-editor-colours-at-rest");
    EXPECT_TRUE (closeColour (pixel (image, downY - 10.0f), saturatedTheme.withBrightness (0.5f)));
    EXPECT_TRUE (closeColour (pixel (image, upY + 10.0f), saturatedTheme.withBrightness (0.5f)));
    EXPECT_TRUE (closeColour (pixel (image, downY - 2.0f), juce::Colours::black));
    EXPECT_TRUE (closeColour (pixel (image, downY - 17.0f), juce::Colours::black));
    EXPECT_TRUE (closeColour (pixel (image, upY + 2.0f), juce::Colours::black));
    EXPECT_TRUE (closeColour (pixel (image, upY + 17.0f), juce::Colours::black));
    EXPECT_TRUE (closeColour (pixel (image, 0.5f * (downY + upY)), saturatedTheme.withBrightness (0.5f)));

    // Hovered for a few frames, the handle lights up to full brightness; the other stays.
    f.hover (band, { (float) cx, downY - 10.0f });
    f.frames (5);
    image = f.picture();
    save (image, "band-editor-colours-hovered-handle");
    EXPECT_TRUE (closeColour (pixel (image, downY - 10.0f), saturatedTheme.withBrightness (1.0f)));
    EXPECT_TRUE (closeColour (pixel (image, upY + 10.0f), saturatedTheme.withBrightness (0.5f)));

    // Hovering the crossover strip covers it with the theme colour at full brightness.
    f.hover (band, { (float) band.getWidth() - 5.0f, 0.5f * (downY + upY) });
    f.frames (5);
    image = f.picture();
    const auto origin = f.panelOrigin();
    EXPECT_TRUE (closeColour (image.getPixelAt (origin.x + band.getRight() - 5, origin.y + (int) (0.5f * (downY + upY))),
                              saturatedTheme.withBrightness (1.0f)));

    // And the hover fades away again within nine frames after the pointer leaves.
    f.hover (band, { (float) cx, 0.5f * (downY + upY) });
    f.frames (9);
    image = f.picture();
    EXPECT_TRUE (closeColour (pixel (image, downY - 10.0f), saturatedTheme.withBrightness (0.5f)));
}

TEST (BandEditorPaint, RatioBarsGrowWithTheRatio)
{
    // Bar j (from 1) sits 15 j pixels beyond the handle, and is lit at (1 - j (1 - sqrt r))
    // of the hovered brightness, r the normalised ratio: none at 1:1, the whole area at 16:1.
    struct Case
    {
        float ratio;
        int knownBars;  // -1: every bar that fits
    };
    const Case cases[] = { { 1.0f, 0 }, { 2.0f, 3 }, { 4.0f, 5 }, { 16.0f, -1 } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE ("ratio " + juce::String (c.ratio));
        PaintFixture f;
        auto& panel = f.panel();
        auto& band = panel.getBand (0);
        const float h = (float) panel.getHeight();

        // A low downward threshold leaves room for many bars above it; the upward threshold
        // goes to the bottom, below it.
        f.setPlain ("THU0", -60.0f);
        f.setPlain ("THD0", -50.0f);
        f.setPlain ("RAD0", c.ratio);
        f.frames (2);
        const float downY = lineY (-50.0f, h);
        const int cx = band.getWidth() / 2;

        // Hover the ratio area, so the bars are drawn at full brightness.
        f.hover (band, { (float) cx, downY - 40.0f });
        f.frames (5);
        const auto image = f.picture();
        save (image, "band-editor-ratio-" + juce::String (c.ratio));

        const float r = Layout::RATIO_RANGE.convertTo0to1 (c.ratio);
        const float k = 1.0f - std::sqrt (r);
        int fits = 0, expected = 0, lit = 0;
        const auto origin = f.panelOrigin();
        for (int j = 1;; ++j)
        {
            const float top = downY - 15.0f - 15.0f * (float) j;
            if (top < 0.0f)
                break;
            ++fits;
            if (1.0f - (float) j * k > 0.0f)
                ++expected;
            if (brightest (image, origin.x + band.getX() + cx, origin.y + (int) std::round (top)) > 3)
                ++lit;
        }

        ASSERT_GT (fits, 8);
        EXPECT_EQ (lit, expected);
        EXPECT_EQ (expected, c.knownBars >= 0 ? c.knownBars : fits);

        if (c.knownBars < 0)
        {
            // At 16:1 the top bar is as bright as the first.
            const float top = downY - 30.0f;
            EXPECT_GT (brightest (image, origin.x + band.getX() + cx, origin.y + (int) std::round (top)), 200);
            EXPECT_GT (brightest (image, origin.x + band.getX() + cx, origin.y + (int) std::round (downY - 15.0f - 15.0f * (float) fits)), 200);
        }
    }
}

//==============================================================================
TEST (BandEditorMeters, CurvesFollowTheMetersWhileCompressedAudioRuns)
{
    PaintFixture f;
    auto& panel = f.panel();
    for (int i = 0; i < 8; ++i)
    {
        f.setPlain ("THD" + juce::String (i), -30.0f);
        f.setPlain ("RAD" + juce::String (i), 8.0f);
    }
    f.frames (2);

    for (int round = 0; round < 3; ++round)
    {
        SCOPED_TRACE ("round " + std::to_string (round));
        f.runLoudAudio (10);
        f.frames (1);

        const float w = (float) panel.getWidth(), h = (float) panel.getHeight();
        ASSERT_EQ (panel.meterX.size(), 3u);
        ASSERT_EQ (panel.levelY.size(), 3u);
        ASSERT_EQ (panel.compressedY.size(), 3u);

        bool compressedSomewhere = false;
        for (int i = 0; i < 3; ++i)
        {
            float level = 0.0f, compressed = 0.0f;
            f.vyx.getCompMeter (i, level, compressed);
            ASSERT_GT (level, 0.0f);

            EXPECT_NEAR (panel.meterX[(size_t) i], w * f.vyx.state.parameters.getParameter ("CR" + juce::String (i))->getValue(), 1.0e-3f);
            EXPECT_NEAR (panel.levelY[(size_t) i], 20.0f - 20.0f * std::log10 (level) / 60.0f * (h - 40.0f), 1.0e-2f);
            EXPECT_NEAR (panel.compressedY[(size_t) i], 20.0f - 20.0f * std::log10 (compressed) / 60.0f * (h - 40.0f), 1.0e-2f);
            compressedSomewhere = compressedSomewhere || panel.compressedY[(size_t) i] > panel.levelY[(size_t) i] + 2.0f;
        }
        EXPECT_TRUE (compressedSomewhere) << "a band over its threshold draws its compressed level lower";
    }

    // In the picture each curve crosses the middle of each band at its level.
    const auto image = f.picture();
    save (image, "band-editor-meters");
    const auto origin = f.panelOrigin();
    const auto levelColour = saturatedTheme.withBrightness (0.85f);
    const auto compressedColour = saturatedTheme.withRotatedHue (0.5f).withBrightness (1.0f);

    for (int i = 0; i < 3; ++i)
    {
        SCOPED_TRACE ("band " + std::to_string (i));
        const float left = i == 0 ? 0.0f : panel.meterX[(size_t) i - 1];
        const int x = origin.x + (int) std::round (0.5f * (left + panel.meterX[(size_t) i]));

        const auto near = [&] (float y, juce::Colour colour)
        {
            for (int dy = -1; dy <= 1; ++dy)
                if (closeColour (image.getPixelAt (x, origin.y + (int) std::floor (y) + dy), colour, 40))
                    return true;
            return false;
        };
        EXPECT_TRUE (near (panel.levelY[(size_t) i], levelColour));
        EXPECT_TRUE (near (panel.compressedY[(size_t) i], compressedColour));
    }
}

TEST (BandEditorMeters, LevelsThatAreNotFiniteAreDrawnAsSilence)
{
    auto owner = std::unique_ptr<juce::AudioProcessor> (createPluginFilter());
    auto& vyx = dynamic_cast<VyxAudioProcessor&> (*owner);
    ParameterDisplay display;

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::function<void (int, float&, float&)> broken = [&] (int band, float& level, float& compressed)
    {
        level = band == 1 ? inf : nan;
        compressed = band == 1 ? -inf : nan;
    };

    CompressorControls panel (vyx, display, vyx.inputSpectrum, vyx.outputSpectrum, broken);
    panel.setBounds (0, 0, 430, 254);
    juce::Image image (juce::Image::ARGB, 430, 254, true);
    for (int frame = 0; frame < 2; ++frame)
    {
        juce::Graphics g (image);
        panel.paintEntireComponent (g, false);
    }

    const float silence = 20.0f + (100.0f / 60.0f) * (254.0f - 40.0f);
    ASSERT_EQ (panel.levelY.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
    {
        EXPECT_FLOAT_EQ (panel.levelY[i], silence);
        EXPECT_FLOAT_EQ (panel.compressedY[i], silence);
    }

    // Silence lies below the panel, so nothing of either curve is drawn inside it.
    const auto compressedColour = panel.colour.withRotatedHue (0.5f).withBrightness (1.0f);
    for (int y = 0; y < 254; ++y)
        for (int x = 0; x < 430; x += 7)
            ASSERT_FALSE (closeColour (image.getPixelAt (x, y), compressedColour, 10)) << x << ", " << y;
}

//==============================================================================
TEST (BandEditorAllocation, TheTimerTickAllocatesNothingOnceWarm)
{
    if (! vyx::test::AllocationCounter::isAvailable())
        GTEST_SKIP() << "allocations are not counted in this build";

    PaintFixture f;
    f.setPlain ("NUM", 8.0f);
    f.runLoudAudio (4);
    f.frames (4);

    vyx::test::AllocationCounter counter;
    for (int i = 0; i < 60; ++i)
        f.panel().arrangeBands();
    EXPECT_EQ (counter.get(), 0);
}

} // namespace
