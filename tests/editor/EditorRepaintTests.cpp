// What the editor asks its window to repaint on each frame of its 16 ms clock, and that painting
// only that gives the picture a whole repaint gives. The editor sits in a window whose peer
// paints as a platform's does: it collects the areas the components ask for and, once per
// frame, paints exactly those into the picture it keeps.

#include "EditorTestSupport.h"
#include "ui/UiTestSupport.h"
#include "plugin/editor/CompressorControls.h"
#include "plugin/editor/ParameterDisplay.h"

#include <cmath>

namespace
{

using vyx::test::HeadlessPeer;
using vyx::test::HeadlessWindow;

using vyx::test::saturatedTheme;

/** A peer that keeps the window's picture and paints into it only what was asked, as the
    framework's X11 peer does: into an image that spans the areas asked for, drawn with its
    origin at their top left, then copied onto the window. */
class RegionPeer : public HeadlessPeer
{
public:
    using HeadlessPeer::HeadlessPeer;

    void repaint (const juce::Rectangle<int>& area) override
    {
        pending.add (area.getIntersection (getBounds().withZeroOrigin()));
    }

    /** Paints the areas asked for since the last call, as one paint, and returns them. */
    juce::RectangleList<int> paintPending()
    {
        auto region = pending;
        pending.clear();

        const auto size = getBounds().withZeroOrigin();
        if (picture.getBounds() != size)
        {
            picture = juce::Image (juce::Image::ARGB, size.getWidth(), size.getHeight(), true);
            region = size;
        }

        if (! region.isEmpty())
        {
            const auto total = region.getBounds();
            juce::Image part (juce::Image::ARGB, total.getWidth(), total.getHeight(), true);
            auto within = region;
            within.offsetAll (-total.getX(), -total.getY());
            {
                juce::LowLevelGraphicsSoftwareRenderer context (part, -total.getPosition(), within);
                handlePaint (context);
            }

            juce::Graphics g (picture);
            for (const auto& r : region)
            {
                picture.clear (r);
                g.drawImage (part, r.getX(), r.getY(), r.getWidth(), r.getHeight(),
                             r.getX() - total.getX(), r.getY() - total.getY(), r.getWidth(), r.getHeight());
            }
        }
        return region;
    }

    juce::Image picture;
    juce::RectangleList<int> pending;
};

/** An editor with a given band count in a RegionPeer window, fed meter levels the test sets
    (linear, per band) instead of the engine's. */
struct RegionFixture
{
    explicit RegionFixture (int numBands = 3, int width = 440, int height = 330)
        : owner (createPluginFilter()),
          vyx (dynamic_cast<VyxAudioProcessor&> (*owner))
    {
        levels.fill (0.1f);
        compressedLevels.fill (0.05f);
        vyx.getCompMeter = [this] (int band, float& level, float& compressed)
        {
            level = levels[(size_t) band];
            compressed = compressedLevels[(size_t) band];
        };

        vyx.state.attributes.setProperty (cvx::State::Attributes::colour, saturatedTheme.toString(), nullptr);
        setPlain ("NUM", (float) numBands);
        for (int i = 0; i + 1 < numBands; ++i)
            hostParameter ("CR" + juce::String (i)).setValueNotifyingHost ((float) (i + 1) / (float) numBands);
        for (int i = 0; i < numBands; ++i)
        {
            setPlain ("RAD" + juce::String (i), 1.0f + 15.0f * (float) i / 7.0f);
            setPlain ("RAU" + juce::String (i), 16.0f - 15.0f * (float) i / 7.0f);
        }

        editor.reset (dynamic_cast<VyxAudioProcessorEditor*> (vyx.createEditorIfNeeded()));
        editor->setSize (width, height);
        window = std::make_unique<HeadlessWindow> (*editor, [] (juce::Component& w, int flags)
        {
            return new RegionPeer (w, flags);
        });
        settled = settle();
    }

    ~RegionFixture()
    {
        window.reset();
        vyx.editorBeingDeleted (editor.get());
        editor.reset();
    }

    juce::RangedAudioParameter& hostParameter (const juce::String& id)
    {
        auto* p = vyx.state.parameters.getParameter (id);
        jassert (p != nullptr);
        return *p;
    }

    void setPlain (const juce::String& id, float value)
    {
        auto& p = hostParameter (id);
        p.setValueNotifyingHost (p.convertTo0to1 (value));
    }

    RegionPeer& peer() { return *dynamic_cast<RegionPeer*> (window->getPeer()); }
    CompressorControls& panel() { return editor->compressorControls; }

    /** One tick of the editor's clock, then the paint of what it asked for. */
    juce::RectangleList<int> frame()
    {
        editor->timerCallback();
        return peer().paintPending();
    }

    /** Frames until one paints nothing; false when that does not happen within a second. */
    bool settle()
    {
        for (int i = 0; i < 60; ++i)
            if (frame().isEmpty())
                return true;
        return false;
    }

    /** The window painted whole, with the band editor drawn straight into it rather than
        through anything it keeps. */
    juce::Image directPicture (float scale = 1.0f)
    {
        juce::Image image (juce::Image::ARGB, juce::roundToInt (editor->getWidth() * scale),
                           juce::roundToInt (editor->getHeight() * scale), true);
        juce::Graphics g (image);
        g.addTransform (juce::AffineTransform::scale (scale));
        editor->paintEntireComponent (g, true);

        g.reduceClipRegion (panel().getBounds());
        g.fillAll (juce::Colours::black);
        g.setOrigin (panel().getPosition());
        panel().paintEntireComponent (g, false);
        return image;
    }

    void mouse (juce::Point<float> editorPoint, juce::ModifierKeys buttons = {})
    {
        vyx::test::moveMouse (*window, editorPoint, buttons);
    }

    /** Band i's bounds in the editor. */
    juce::Rectangle<int> bandArea (int i) { return panel().getBand (i).getBounds() + panel().getPosition(); }

    std::unique_ptr<juce::AudioProcessor> owner;
    VyxAudioProcessor& vyx;
    std::array<float, 8> levels {}, compressedLevels {};
    std::unique_ptr<VyxAudioProcessorEditor> editor;
    std::unique_ptr<HeadlessWindow> window;
    bool settled = false;
};

::testing::AssertionResult samePicture (const juce::Image& a, const juce::Image& b)
{
    if (a.getBounds() != b.getBounds())
        return ::testing::AssertionFailure() << "sizes differ";

    int differing = 0;
    juce::Point<int> first;
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            if (a.getPixelAt (x, y) != b.getPixelAt (x, y) && differing++ == 0)
                first = { x, y };

    if (differing == 0)
        return ::testing::AssertionSuccess();

    // Both pictures go to the artefact folder, for a person to look at.
    static int failures = 0;
    const auto name = "repaint-mismatch-" + juce::String (++failures);
    vyx::test::saveArtifact (a, name + "-window");
    vyx::test::saveArtifact (b, name + "-whole");
    juce::Image marks (juce::Image::RGB, a.getWidth(), a.getHeight(), true);
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                marks.setPixelAt (x, y, juce::Colours::white);
    vyx::test::saveArtifact (marks, name + "-differences");
    return ::testing::AssertionFailure() << differing << " pixels differ, the first at " << first.toString() << ": "
                                         << a.getPixelAt (first.x, first.y).toString() << " against "
                                         << b.getPixelAt (first.x, first.y).toString() << " (pictures: " << name << ")";
}

bool inside (const juce::RectangleList<int>& region, const juce::RectangleList<int>& area)
{
    for (const auto& r : region)
        if (! area.containsRectangle (r))
            return false;
    return true;
}

/** The y of a linear meter level in a panel of height h: 0 dB at 20, -60 dB at h - 20, and
    -100 dB for silence. */
float levelY (float level, float h)
{
    const float dB = level > 0.0f ? std::max (-100.0f, 20.0f * std::log10 (level)) : -100.0f;
    return (1.0f - (dB + 60.0f) / 60.0f) * (h - 40.0f) + 20.0f;
}

/** Points along a meter curve through (x[i], y[i]): flat from the left edge to half of the
    first band, S-shaped steps between band middles (cubics with both control points at the
    crossover), flat to the right edge. */
std::vector<juce::Point<float>> curvePoints (const std::vector<float>& x, const std::vector<float>& y, float width)
{
    std::vector<juce::Point<float>> points;
    const auto line = [&points] (juce::Point<float> a, juce::Point<float> b)
    {
        for (int s = 0; s <= 40; ++s)
            points.push_back (a + (b - a) * ((float) s / 40.0f));
    };

    juce::Point<float> start (x[0] * 0.5f, y[0]);
    line ({ 0.0f, y[0] }, start);
    for (size_t i = 0; i + 1 < x.size(); ++i)
    {
        const juce::Point<float> p1 (x[i], y[i]), p2 (x[i], y[i + 1]), p3 ((x[i] + x[i + 1]) * 0.5f, y[i + 1]);
        for (int s = 0; s <= 80; ++s)
        {
            const float t = (float) s / 80.0f, u = 1.0f - t;
            points.push_back (start * (u * u * u) + p1 * (3 * u * u * t) + p2 * (3 * u * t * t) + p3 * (t * t * t));
        }
        start = p3;
    }
    line (start, { width, y.back() });
    return points;
}

/** Both meter curves of the levels a fixture feeds, in panel coordinates. */
struct Curves
{
    std::vector<juce::Point<float>> points;
    float top = 0.0f, bottom = 0.0f;
};

Curves curvesOf (RegionFixture& f)
{
    const int n = (int) f.hostParameter ("NUM").convertFrom0to1 (f.hostParameter ("NUM").getValue());
    const float w = (float) f.panel().getWidth(), h = (float) f.panel().getHeight();

    std::vector<float> x, level, compressed;
    for (int i = 0; i < n; ++i)
    {
        x.push_back (w * f.hostParameter ("CR" + juce::String (i)).getValue());
        level.push_back (levelY (f.levels[(size_t) i], h));
        compressed.push_back (levelY (f.compressedLevels[(size_t) i], h));
    }

    Curves curves;
    curves.points = curvePoints (x, level, w);
    const auto more = curvePoints (x, compressed, w);
    curves.points.insert (curves.points.end(), more.begin(), more.end());
    curves.top = std::min (*std::min_element (level.begin(), level.end()), *std::min_element (compressed.begin(), compressed.end()));
    curves.bottom = std::max (*std::max_element (level.begin(), level.end()), *std::max_element (compressed.begin(), compressed.end()));
    return curves;
}

//==============================================================================
TEST (EditorRepaint, NothingChangingAsksForNothing)
{
    for (const int bands : { 1, 3, 8 })
    {
        SCOPED_TRACE (juce::String (bands) + " bands");
        RegionFixture f (bands);
        ASSERT_TRUE (f.settled);

        for (int i = 0; i < 30; ++i)
            ASSERT_TRUE (f.frame().isEmpty()) << "frame " << i;

        // A host writing the value a parameter already has changes nothing either.
        f.setPlain ("THD0", f.hostParameter ("THD0").convertFrom0to1 (f.hostParameter ("THD0").getValue()));
        EXPECT_TRUE (f.frame().isEmpty());
        EXPECT_TRUE (samePicture (f.peer().picture, f.directPicture()));
    }
}

struct MeterCase
{
    int bands, width, height;
    float loudest, quietest;  // dB range the levels move in
};

class EditorRepaintMeters : public ::testing::TestWithParam<MeterCase> {};

TEST_P (EditorRepaintMeters, MovingMetersRepaintOnlyAroundTheCurves)
{
    const auto& c = GetParam();
    RegionFixture f (c.bands, c.width, c.height);
    ASSERT_TRUE (f.settled);
    const auto panelArea = f.panel().getBounds();
    const auto origin = panelArea.getPosition();
    juce::Random random (c.bands * 31 + c.width);
    double largestShare = 0.0;

    for (int frame = 0; frame < 12; ++frame)
    {
        const auto before = curvesOf (f);
        for (int i = 0; i < c.bands; ++i)
        {
            const float dB = c.loudest + (c.quietest - c.loudest) * random.nextFloat();
            f.levels[(size_t) i] = std::pow (10.0f, dB / 20.0f);
            f.compressedLevels[(size_t) i] = f.levels[(size_t) i] * 0.5f;
        }
        const auto after = curvesOf (f);

        const auto region = f.frame();
        ASSERT_FALSE (region.isEmpty());
        EXPECT_TRUE (inside (region, panelArea));

        // Nothing further than a stroke's reach above or below both readings' curves...
        const float top = (float) origin.y + std::min (before.top, after.top) - 8.0f;
        const float bottom = (float) origin.y + std::max (before.bottom, after.bottom) + 8.0f;
        for (const auto& r : region)
        {
            EXPECT_TRUE ((float) r.getY() >= top && (float) r.getBottom() <= bottom) << r.toString();
        }

        // ...but every pixel under either reading's curves.
        for (const auto* curves : { &before, &after })
            for (const auto& p : curves->points)
            {
                const auto pixel = (p + origin.toFloat()).toInt();
                if (panelArea.contains (pixel))
                {
                    ASSERT_TRUE (region.containsPoint (pixel)) << p.toString();
                }
            }

        double area = 0.0;
        for (const auto& r : region)
            area += (double) r.getWidth() * r.getHeight();
        largestShare = std::max (largestShare, area / ((double) panelArea.getWidth() * panelArea.getHeight()));

        ASSERT_TRUE (samePicture (f.peer().picture, f.directPicture())) << "frame " << frame;
    }

    // Levels moving within a few dB of each other, as noise gives, leave most of the panel
    // alone.
    if (c.quietest - c.loudest < 10.0f)
    {
        EXPECT_LT (largestShare, 0.2);
    }
}

INSTANTIATE_TEST_SUITE_P (EditorRepaint, EditorRepaintMeters,
    ::testing::Values (MeterCase { 1, 440, 330, -40.0f, -6.0f }, MeterCase { 3, 440, 330, -40.0f, -6.0f },
                       MeterCase { 8, 440, 330, -48.0f, 3.0f }, MeterCase { 3, 900, 600, -23.0f, -17.0f },
                       MeterCase { 8, 1600, 1000, -23.0f, -17.0f }),
    [] (const auto& param)
    {
        const auto& c = param.param;
        return std::to_string (c.bands) + "bands_" + std::to_string (c.width) + "x" + std::to_string (c.height);
    });

TEST (EditorRepaint, HoverFadesAdvanceOncePerFrameAndThenRestAndTheOverlayRepaintsWhileItShows)
{
    RegionFixture f;
    ASSERT_TRUE (f.settled);
    auto& band = f.panel().getBand (1);
    auto& highlight = band.compressors.down.threshold.highlight;
    auto& display = f.editor->bottomBar.display;
    const auto bandArea = f.bandArea (1);
    const auto barArea = f.editor->bottomBar.getBounds();

    const float h = (float) f.panel().getHeight();
    const float lineY = (1.0f - f.hostParameter ("THD1").getValue()) * (h - 40.0f) + 20.0f;
    const auto handle = juce::Point<float> ((float) bandArea.getCentreX(), (float) bandArea.getY() + lineY - 10.0f);
    f.mouse (handle + juce::Point<float> (1.0f, 1.0f));
    f.mouse (handle);
    ASSERT_EQ (band.hoverTarget, BandComponent::thresholdDownTarget);

    // In: +5/18 per frame, so 4 frames repaint the band; the overlay repaints on every frame,
    // its fade rising by one 60 fps frame of its 400 ms.
    int bandFrames = 0;
    for (int k = 1; k <= 30; ++k)
    {
        const float previous = highlight;
        const auto region = f.frame();
        EXPECT_EQ (region.intersects (bandArea), highlight != previous) << "frame " << k;
        bandFrames += region.intersects (bandArea) ? 1 : 0;
        EXPECT_NEAR (highlight, std::min (1.0f, (float) k * 5.0f / 18.0f), 1.0e-5f) << "frame " << k;
        EXPECT_TRUE (display.isVisible());
        EXPECT_TRUE (region.intersects (barArea)) << "frame " << k;
        EXPECT_NEAR (display.fadeLevel, std::min (1.0f, (float) k * (1000.0f / 60.0f) / 400.0f), 1.0e-4f) << "frame " << k;
    }
    EXPECT_EQ (bandFrames, 4);
    EXPECT_TRUE (samePicture (f.peer().picture, f.directPicture()));

    // Out: -1/9 per frame over 9 frames; the overlay fades out as well, hides, and then
    // nothing is repainted any more.
    f.mouse ({ 2.0f, (float) bandArea.getCentreY() });
    ASSERT_EQ (band.hoverTarget, BandComponent::none);
    bandFrames = 0;
    int framesUntilQuiet = 0;
    for (int k = 1; k <= 20; ++k)
    {
        const float previous = highlight;
        const auto region = f.frame();
        EXPECT_EQ (region.intersects (bandArea), highlight != previous) << "frame " << k;
        bandFrames += region.intersects (bandArea) ? 1 : 0;
        EXPECT_NEAR (highlight, std::max (0.0f, 1.0f - (float) k / 9.0f), 1.0e-5f) << "frame " << k;
        if (region.isEmpty())
            break;
        framesUntilQuiet = k;
    }
    EXPECT_GE (bandFrames, 9);
    EXPECT_LE (bandFrames, 10);
    EXPECT_FALSE (display.isVisible());
    EXPECT_LE (framesUntilQuiet, 12);
    EXPECT_EQ (highlight, 0.0f);
    EXPECT_TRUE (f.frame().isEmpty());
    EXPECT_TRUE (samePicture (f.peer().picture, f.directPicture()));
}

TEST (EditorRepaint, EachChangeRepaintsItsOwnPart)
{
    struct Case
    {
        const char* name;
        std::function<void (RegionFixture&)> change;
        std::function<juce::RectangleList<int> (RegionFixture&)> expectedArea;
    };

    const auto band = [] (int i) { return [i] (RegionFixture& f) { return juce::RectangleList<int> (f.bandArea (i)); }; };
    const auto panel = [] (RegionFixture& f) { return juce::RectangleList<int> (f.panel().getBounds()); };
    const auto whole = [] (RegionFixture& f) { return juce::RectangleList<int> (f.editor->getLocalBounds()); };

    // A switch also marks the preset edited: its name gains a "*".
    const auto barAndPresetName = [] (RegionFixture& f)
    {
        juce::RectangleList<int> area (f.editor->bottomBar.getBounds());
        area.add (f.editor->topBar.presetsMenu.getBounds() + f.editor->topBar.getPosition());
        return area;
    };

    const Case cases[] = {
        { "a downward threshold", [] (RegionFixture& f) { f.setPlain ("THD1", -30.0f); }, band (1) },
        { "an upward ratio", [] (RegionFixture& f) { f.setPlain ("RAU2", 3.0f); }, band (2) },
        { "a crossover", [] (RegionFixture& f) { f.hostParameter ("CR0").setValueNotifyingHost (0.2f); }, panel },
        { "the band count", [] (RegionFixture& f) { f.setPlain ("NUM", 5.0f); }, panel },
        { "the mixer mode", [] (RegionFixture& f) { f.vyx.state.properties.setProperty (Properties::dryWet, true, nullptr); }, barAndPresetName },
        { "the theme", [] (RegionFixture& f) { f.vyx.state.attributes.setProperty (cvx::State::Attributes::colour, "ffd04020", nullptr); }, whole },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        RegionFixture f;
        ASSERT_TRUE (f.settled);

        c.change (f);
        const auto region = f.frame();
        ASSERT_FALSE (region.isEmpty());
        EXPECT_TRUE (inside (region, c.expectedArea (f)));
        EXPECT_TRUE (f.settle());
        EXPECT_TRUE (samePicture (f.peer().picture, f.directPicture()));
    }

    // The theme reaches every part of the window at the next frame.
    RegionFixture f;
    f.vyx.state.attributes.setProperty (cvx::State::Attributes::colour, "ffd04020", nullptr);
    EXPECT_TRUE (f.frame().containsRectangle (f.editor->getLocalBounds()));
}

TEST (EditorRepaint, ANewVersionRepaintsTheLogoOnly)
{
    RegionFixture f;
    ASSERT_TRUE (f.settled);
    bool newVersion = false;
    f.editor->topBar.isNewVersionAvailable = [&newVersion] { return newVersion; };
    EXPECT_TRUE (f.frame().isEmpty());

    newVersion = true;
    const auto region = f.frame();
    ASSERT_FALSE (region.isEmpty());
    EXPECT_TRUE (inside (region, f.editor->topBar.logoButton.getBounds() + f.editor->topBar.getPosition()));
    EXPECT_TRUE (f.frame().isEmpty());
    EXPECT_TRUE (samePicture (f.peer().picture, f.directPicture()));
}

TEST (EditorRepaint, ABandThatChangedBeforeItsFrameIsShownWholeWhenAnyPaintFindsIt)
{
    RegionFixture f;
    ASSERT_TRUE (f.settled);

    // The host moves a threshold; before the next frame asks for anything, the window
    // repaints a few pixels of another band (as when part of it is uncovered).
    f.setPlain ("THD1", -40.0f);
    f.panel().repaint (f.panel().getBand (0).getBounds().withSize (20, 20));
    f.peer().paintPending();

    EXPECT_TRUE (f.settle());
    EXPECT_TRUE (samePicture (f.peer().picture, f.directPicture()));
}

TEST (EditorRepaint, ATopBarHoverFadeEndsAsTheWholeWindowShowsIt)
{
    // The button's own animator repaints it; the preset name takes its colour from that fade
    // while the bar is drawn.
    RegionFixture f;
    ASSERT_TRUE (f.settled);
    auto& menu = f.editor->topBar.presetsMenu;
    auto& button = menu.menuButton;
    const auto centre = (button.getBounds().getCentre() + menu.getPosition() + f.editor->topBar.getPosition()).toFloat();
    const auto before = menu.label.findColour (juce::Label::textColourId);

    f.mouse (centre + juce::Point<float> (1.0f, 1.0f));
    f.mouse (centre);
    for (int k = 0; k < 12; ++k)
    {
        button.animator.timerCallback();  // as its own timer would, once a frame
        f.frame();
    }
    ASSERT_EQ (button.animator.hoverValue, 1.0f);
    EXPECT_TRUE (f.settle());
    EXPECT_NE (menu.label.findColour (juce::Label::textColourId), before);
    EXPECT_TRUE (samePicture (f.peer().picture, f.directPicture()));
}

TEST (EditorRepaint, DraggingAHandleKeepsTheBandEditorWhole)
{
    RegionFixture f (3);
    ASSERT_TRUE (f.settled);
    const auto bandArea = f.bandArea (0);
    const float h = (float) f.panel().getHeight();
    const float lineY = (1.0f - f.hostParameter ("THD0").getValue()) * (h - 40.0f) + 20.0f;
    const auto handle = juce::Point<float> ((float) bandArea.getCentreX(), (float) bandArea.getY() + lineY - 10.0f);
    const auto panelArea = f.panel().getBounds();

    f.mouse (handle + juce::Point<float> (0.0f, 1.0f));
    f.mouse (handle);
    f.mouse (handle, vyx::test::leftButton);
    for (int step = 1; step <= 40; ++step)
    {
        const float offset = (float) (step <= 20 ? -step : step - 40) * 3.0f;
        f.mouse (handle + juce::Point<float> (0.0f, offset), vyx::test::leftButton);
        f.levels[0] = 0.05f + 0.002f * (float) step;
        f.frame();

        // Once the handle's highlight has risen, the band editor's part of the picture is
        // the whole repaint's (the overlay below still fades in).
        if (step > 4)
        {
            const auto direct = f.directPicture();
            ASSERT_TRUE (samePicture (f.peer().picture.getClippedImage (panelArea), direct.getClippedImage (panelArea)))
                << "step " << step;
        }
    }
    f.mouse (handle, {});
    f.mouse ({ 2.0f, 100.0f });
    EXPECT_TRUE (f.settle());
    EXPECT_TRUE (samePicture (f.peer().picture, f.directPicture()));
}

TEST (EditorRepaint, TheKeptBandEditorMatchesDrawingItDirectlyAtEveryScale)
{
    for (const float scale : { 1.0f, 2.0f, 3.0f, 1.5f, 1.25f })
    {
        SCOPED_TRACE ("scale " + juce::String (scale));
        RegionFixture f (8, 600, 400);
        ASSERT_TRUE (f.settled);
        for (int i = 0; i < 8; ++i)
        {
            f.levels[(size_t) i] = std::pow (10.0f, (-40.0f + 5.0f * (float) i) / 20.0f);
            f.compressedLevels[(size_t) i] = f.levels[(size_t) i] * 0.3f;
        }
        f.frame();

        const auto kept = f.editor->createComponentSnapshot (f.editor->getLocalBounds(), true, scale);
        auto direct = f.directPicture (scale);
        ASSERT_EQ (kept.getBounds(), direct.getBounds());
        EXPECT_TRUE (samePicture (kept.convertedToFormat (juce::Image::ARGB), direct));

        // The window painted after a picture at another scale is still the whole repaint's.
        EXPECT_TRUE (f.settle());
        EXPECT_TRUE (samePicture (f.peer().picture, f.directPicture()));
    }
}

//==============================================================================
TEST (MeterCurveArea, HoldsEveryPixelTheStrokeTouches)
{
    // Curves as the design draws them, stroked as the panel strokes them: every pixel they
    // touch lies inside the area the panel would repaint for them.
    juce::Random random (5);
    const float width = 430.0f, height = 254.0f;

    for (int round = 0; round < 200; ++round)
    {
        const int n = 1 + round % 8;
        std::vector<float> x, y;
        float edge = 0.0f;
        for (int i = 0; i < n; ++i)
        {
            // Mostly in order; every seventh curve has crossovers out of order, as automation
            // can leave them.
            edge = round % 7 == 0 ? width * random.nextFloat() : edge + (width - edge) * random.nextFloat() * 0.5f;
            x.push_back (i == n - 1 ? width : edge);
            y.push_back (-40.0f + (height + 80.0f) * random.nextFloat());
        }

        juce::Path path;
        path.startNewSubPath (0.0f, y[0]);
        path.lineTo (x[0] * 0.5f, y[0]);
        for (size_t i = 0; i + 1 < x.size(); ++i)
            path.cubicTo (x[i], y[i], x[i], y[i + 1], (x[i] + x[i + 1]) * 0.5f, y[i + 1]);
        path.lineTo (width, y.back());

        juce::Image image (juce::Image::ARGB, (int) width, (int) height, true);
        {
            juce::Graphics g (image);
            g.setColour (juce::Colours::white);
            g.strokePath (path, juce::PathStrokeType (1.5f, juce::PathStrokeType::mitered, juce::PathStrokeType::butt));
        }

        juce::RectangleList<int> area;
        CompressorControls::addCurvesArea (area, { { &x, &y } }, width);

        for (int py = 0; py < image.getHeight(); ++py)
            for (int px = 0; px < image.getWidth(); ++px)
            {
                if (image.getPixelAt (px, py).getAlpha() > 0)
                {
                    ASSERT_TRUE (area.containsPoint ({ px, py })) << "round " << round << " at " << px << ", " << py;
                }
            }
    }
}

} // namespace
