#include "CompressorControls.h"
#include "ParameterDisplay.h"
#include "WindowPicture.h"

namespace
{
    /** How far from a meter curve's centre line its stroke can reach, in pixels: half the
        1.5-pixel stroke, the framework's flattening of curves (0.6), a mitred corner (at most
        three stroke widths) and a pixel of antialiasing. */
    constexpr float curveReach = 0.75f + 0.6f + 4.5f + 1.0f;

    /** A step between two bands is split into at most 2 ^ maxHalvings parts. */
    constexpr int maxHalvings = 3;
    constexpr size_t partsPerCurve = (size_t) ((1 << maxHalvings) * (VyxAudioProcessor::maxBands - 1) + 2);
} // namespace

//==============================================================================
/** The panel's drawing without the meter curves (background and bands over the editor's
    black), kept in an image on the window's grid (see WindowGrid). Parts are drawn again where
    the panel or a band asked to be repainted, where a band moved, showed or hid, or where a
    band's look changed; a repaint for the curves alone leaves the image as it is. A paint
    copies the image's pixels and strokes the curves over them. */
class CompressorControls::Layer : public juce::CachedComponentImage
{
public:
    explicit Layer (CompressorControls& p) : panel (p)
    {
        invalidateAll();
    }

    void paint (juce::Graphics& g) override
    {
        const auto grid = WindowGrid::find (g, panel);
        if (! grid.isValid())
        {
            releaseResources();
            panel.paintEntireComponent (g, false);
            return;
        }

        if (! update (grid))
            return;

        grid.copy (g, image, g.getClipBounds().getIntersection (panel.getLocalBounds()));
        panel.paintMeters (g);
    }

    bool invalidateAll() override
    {
        invalid.clear();
        invalid.add (panel.getLocalBounds());
        return true;
    }

    bool invalidate (const juce::Rectangle<int>& area) override
    {
        if (! keepImage)
            invalid.add (area.getIntersection (panel.getLocalBounds()));
        return true;
    }

    void releaseResources() override
    {
        image = {};
        drawnGrid = {};
        invalidateAll();
    }

    /** Set while the panel asks for a repaint of pixels the image already holds (the curves'
        area, or what a paint found out of date and drew). */
    bool keepImage = false;

private:
    /** Draws again what is out of date; false when the panel has no area. */
    bool update (const WindowGrid& grid)
    {
        const auto bounds = panel.getLocalBounds();
        if (bounds.isEmpty())
            return false;

        // What this paint finds out of date although nobody asked for it to be repainted: a
        // band changed and the frame that would ask has not come yet, or the image had to be
        // made anew. The window must then show all of it, not just what this paint covers.
        found.clear();
        const auto outOfDate = [this] (juce::Rectangle<int> area)
        {
            if (! area.isEmpty() && ! invalid.containsRectangle (area))
                found.add (area);
            invalid.add (area);
        };

        const auto pixels = grid.toPhysical (bounds);
        const bool newImage = grid != drawnGrid || image.getWidth() != pixels.getRight() || image.getHeight() != pixels.getBottom();
        if (newImage)
        {
            // Only the panel's part of the window's area is ever drawn or read; the panel is
            // opaque, so colours alone are kept.
            image = juce::Image (juce::Image::RGB, pixels.getRight(), pixels.getBottom(), false, juce::SoftwareImageType());
            drawnGrid = grid;
        }

        if (newImage || panel.colour != drawnColour)
        {
            drawnColour = panel.colour;
            outOfDate (bounds);
        }

        for (size_t i = 0; i < panel.bands.size(); ++i)
        {
            auto& band = *panel.bands[i];
            auto& drawn = drawnBands[i];
            const auto area = band.isVisible() ? band.getBounds() : juce::Rectangle<int>();
            if (area != drawn.area)
            {
                outOfDate (drawn.area);
                outOfDate (area);
                drawn.area = area;
                drawn.whole = false;
            }
            else if (! area.isEmpty() && (! drawn.whole || band.currentLook() != drawn.look))
            {
                outOfDate (area);
            }
        }

        if (! invalid.isEmpty())
            draw (grid);

        if (! found.isEmpty())
        {
            const juce::ScopedValueSetter<bool> imageUpToDate (keepImage, true);
            for (const auto& area : found)
                panel.repaint (area);
        }
        return true;
    }

    void draw (const WindowGrid& grid)
    {
        // Bands are drawn whole, so that each knows what the image shows of it. What is asked
        // to be repainted while drawing is for the next paint.
        drawing.swapWith (invalid);
        invalid.clear();
        for (const auto& drawn : drawnBands)
            if (drawing.intersectsRectangle (drawn.area))
                drawing.add (drawn.area);

        painter.draw (image, grid, drawing, panel.getLocalBounds(), [this] (juce::Graphics& g)
        {
            const juce::ScopedValueSetter<bool> withoutCurves (panel.drawingLayer, true);
            panel.paintEntireComponent (g, false);
        });

        for (size_t i = 0; i < panel.bands.size(); ++i)
        {
            auto& drawn = drawnBands[i];
            if (drawn.area.isEmpty() || ! drawing.intersectsRectangle (drawn.area))
                continue;
            const auto* look = panel.bands[i]->getWholePaintLook();
            drawn.whole = look != nullptr;
            if (look != nullptr)
                drawn.look = *look;
        }
        drawing.clear();
    }

    /** What the image holds of one band. */
    struct DrawnBand
    {
        juce::Rectangle<int> area;  // empty: hidden
        BandComponent::Look look;
        bool whole = false;         // look is what the whole of area shows
    };

    CompressorControls& panel;
    juce::Image image;
    WindowGrid drawnGrid;
    WindowPainter painter;
    juce::Colour drawnColour;
    std::array<DrawnBand, VyxAudioProcessor::maxBands> drawnBands {};
    juce::RectangleList<int> invalid, drawing, found;
};

CompressorControls::CompressorControls (VyxAudioProcessor& p, ParameterDisplay& overlay,
                                        cvx::ui::SpectrumDisplay& input, cvx::ui::SpectrumDisplay& output,
                                        const std::function<void (int, float&, float&)>& meters)
    : cvx::Component (p.state, "comp"),
      processor (p),
      inputSpectrum (input),
      outputSpectrum (output),
      meterSource (meters),
      display (overlay)
{
    constexpr auto numSlots = (size_t) VyxAudioProcessor::maxBands;
    bands.reserve (numSlots);
    meterX.reserve (numSlots);
    levelY.reserve (numSlots);
    compressedY.reserve (numSlots);

    for (int i = 0; i < VyxAudioProcessor::maxBands; ++i)
    {
        auto band = std::make_unique<BandComponent> (i, state, *processor.parameters.bands[(size_t) i], display,
                                                     [this] { arrangeBands(); });
        addChildComponent (*band);
        bands.push_back (std::move (band));
    }

    numBandsValue = state.parameters.getRawParameterValue (Layout::NUM_BANDS.id);
    jassert (numBandsValue != nullptr);

    for (auto* list : { &nextX, &nextLevelY, &nextCompressedY })
        list->reserve (numSlots);

    setOpaque (true);
    layer = new Layer (*this);
    setCachedComponentImage (layer);
}

CompressorControls::~CompressorControls() = default;

int CompressorControls::getNumBands() const noexcept
{
    return numBandsValue != nullptr ? (int) numBandsValue->load() : 1;
}

void CompressorControls::arrangeBands()
{
    const int n = getNumBands();
    const int h = getHeight();

    std::array<float, VyxAudioProcessor::maxBands> crossovers {};
    for (size_t i = 0; i < bands.size(); ++i)
    {
        auto& band = *bands[i];
        band.prev = i > 0 ? bands[i - 1].get() : nullptr;
        band.next = i + 1 < bands.size() ? bands[i + 1].get() : nullptr;

        // Bands refresh their bindings when they paint, but a hidden band or one of zero width
        // is not painted, and a host with its transport stopped may run no audio: without this
        // pull the layout could keep stale crossovers for good.
        band.compressors.crossover->pull();
        crossovers[i] = band.compressors.crossover->getModulatedNormalisedValue();
    }

    const auto spans = BandGeometry::computeBandSpans (getWidth(), n, crossovers);

    for (size_t i = 0; i < bands.size(); ++i)
    {
        auto& band = *bands[i];
        const auto& span = spans[i];
        band.isLast = span.last;

        if (! span.visible)
        {
            band.setVisible (false);
            continue;
        }

        band.setVisible (true);
        band.setBounds (span.x, 0, span.width, h);

        // The last band's crossover sits at the top of the range: splitting it halves the
        // range up to there, and the engine's top band reaches the end of the spectrum.
        // The pin is a host edit, so it waits until the panel is on screen. An editor still
        // being built runs inside the host's view request, where the framework's wrapper may
        // not yet take this thread for its message thread (on Linux, until the host attaches
        // the view) and then drops the edit: the host would never hear of the move. And some
        // hosts build an editor and drop it at once, only to learn that there is one. The
        // first tick on screen pins.
        if (span.last && band.compressors.crossover->getModulatedNormalisedValue() != 1.0f && isShowing())
        {
            band.compressors.crossover->push0to1 (1.0f);

            if (onPin != nullptr)
                onPin (band.compressors.crossover->id);
        }
    }
}

void CompressorControls::generateMeter (const std::vector<float>& x, const std::vector<float>& y,
                                        juce::Path& path) const
{
    path.clear();
    if (x.empty() || x.size() != y.size())
        return;

    path.startNewSubPath (0.0f, y[0]);
    path.lineTo (x[0] * 0.5f, y[0]);

    for (size_t i = 0; i + 1 < x.size(); ++i)
        path.cubicTo (x[i], y[i], x[i], y[i + 1], (x[i] + x[i + 1]) * 0.5f, y[i + 1]);

    path.lineTo ((float) getWidth(), y.back());
}

void CompressorControls::paint (juce::Graphics& g)
{
    // The editor's black around the rounded corners, drawn here: the panel is opaque, so the
    // editor leaves its area alone.
    g.fillAll (juce::Colours::black);

    const float h = (float) getHeight();
    g.reduceClipRegion (clipPath);
    g.fillAll (colour.withBrightness (0.5f));

    // Rounded ends for the strip left of band 0, matching the bands' crossover strips.
    g.setColour (juce::Colours::black);
    g.fillRect (0.0f, 0.0f, 10.0f, 5.0f);
    g.fillRect (0.0f, h - 5.0f, 10.0f, 5.0f);
    g.setColour (colour.withBrightness (0.5f));
    g.fillEllipse (0.0f, 0.0f, 10.0f, 10.0f);
    g.fillEllipse (0.0f, h - 10.0f, 10.0f, 10.0f);
}

bool CompressorControls::readMeters()
{
    const int n = juce::jlimit (1, VyxAudioProcessor::maxBands, getNumBands());
    const float w = (float) getWidth();
    const float h = (float) getHeight();

    nextX.clear();
    nextLevelY.clear();
    nextCompressedY.clear();

    for (int i = 0; i < n; ++i)
    {
        nextX.push_back (w * bands[(size_t) i]->compressors.crossover->getModulatedNormalisedValue());

        float level = 0.0f, compressed = 0.0f;
        meterSource (i, level, compressed);
        nextLevelY.push_back (BandGeometry::levelToY (level, h));
        nextCompressedY.push_back (BandGeometry::levelToY (compressed, h));
    }

    if (nextX == meterX && nextLevelY == levelY && nextCompressedY == compressedY)
        return false;

    std::swap (nextX, meterX);
    std::swap (nextLevelY, levelY);
    std::swap (nextCompressedY, compressedY);

    generateMeter (meterX, levelY, levelPath);
    generateMeter (meterX, compressedY, compressedPath);

    changedArea.clear();
    addCurvesArea (changedArea, { { &nextX, &nextLevelY }, { &nextX, &nextCompressedY },
                                  { &meterX, &levelY }, { &meterX, &compressedY } }, w);
    return true;
}

namespace
{
    /** Calls part with the x and y ranges of a step between two levels (a cubic), or of half
        of one: the hull of its control points. A large one is halved (de Casteljau), so that a
        tall step is covered closely; halving pays while painting the pixels it saves costs
        more than one more rectangle does. */
    template <typename Part>
    void addCubic (Part& part, std::array<juce::Point<float>, 4> q, int depth)
    {
        const auto hull = juce::Rectangle<float>::findAreaContainingPoints (q.data(), 4);
        constexpr float largeHull = 8000.0f;  // pixels
        if (depth < maxHalvings && hull.getWidth() * hull.getHeight() > largeHull)
        {
            const auto a = (q[0] + q[1]) * 0.5f, b = (q[1] + q[2]) * 0.5f, c = (q[2] + q[3]) * 0.5f;
            const auto d = (a + b) * 0.5f, e = (b + c) * 0.5f, m = (d + e) * 0.5f;
            addCubic (part, { q[0], a, d, m }, depth + 1);
            addCubic (part, { m, e, c, q[3] }, depth + 1);
            return;
        }
        part ({ q[0].x, q[1].x, q[2].x, q[3].x }, { q[0].y, q[1].y, q[2].y, q[3].y });
    }

    /** Calls visit with the x and y ranges of each part of a meter curve, as generateMeter
        builds it: a flat start, one cubic from the middle of each band to the middle of the
        next (both control points at the crossover), a flat end. */
    template <typename Visit>
    void forEachCurvePart (const std::vector<float>& x, const std::vector<float>& y, float width, Visit&& visit)
    {
        if (x.empty() || x.size() != y.size())
            return;

        const auto part = [&visit] (std::initializer_list<float> xs, std::initializer_list<float> ys)
        {
            visit (juce::Range<float> (std::min (xs), std::max (xs)), juce::Range<float> (std::min (ys), std::max (ys)));
        };

        float start = x[0] * 0.5f;
        part ({ 0.0f, start }, { y[0] });
        for (size_t i = 0; i + 1 < x.size(); ++i)
        {
            const float end = (x[i] + x[i + 1]) * 0.5f;
            addCubic (part, { juce::Point<float> (start, y[i]), { x[i], y[i] }, { x[i], y[i + 1] }, { end, y[i + 1] } }, 0);
            start = end;
        }
        part ({ start, width }, { y.back() });
    }
} // namespace

void CompressorControls::addCurvesArea (juce::RectangleList<int>& area, std::initializer_list<Curve> curves, float width)
{
    // Each part's columns and rows, widened by the stroke's reach.
    struct Part
    {
        juce::Range<int> columns, rows;
    };

    constexpr size_t maxParts = 4 * partsPerCurve;
    std::array<Part, maxParts> parts {};
    std::array<int, 2 * maxParts> edges {};
    size_t numParts = 0;

    for (const auto& curve : curves)
    {
        forEachCurvePart (*curve.x, *curve.y, width, [&] (juce::Range<float> x, juce::Range<float> y)
        {
            jassert (numParts < maxParts);  // four curves at most
            if (numParts == maxParts)
                return;
            const juce::Range<int> columns ((int) std::floor (x.getStart() - curveReach), (int) std::ceil (x.getEnd() + curveReach));
            const juce::Range<int> rows ((int) std::floor (y.getStart() - curveReach), (int) std::floor (y.getEnd() + curveReach) + 1);
            parts[numParts] = { columns, rows };
            edges[2 * numParts] = columns.getStart();
            edges[2 * numParts + 1] = columns.getEnd();
            ++numParts;
        });
    }

    if (numParts == 0)
        return;

    const auto lastEdge = edges.begin() + (long) (2 * numParts);
    std::sort (edges.begin(), lastEdge);
    const auto edgesEnd = std::unique (edges.begin(), lastEdge);

    // Between two neighbouring edges the same parts lie over every column: their rows, merged,
    // make the rectangles there. Stretches side by side with the same rows become one.
    std::array<juce::Range<int>, maxParts> rows {}, openRows {};
    size_t numRows = 0, numOpen = 0;
    int openStart = edges[0];

    const auto close = [&] (int end)
    {
        for (size_t r = 0; r < numOpen; ++r)
            area.add ({ openStart, openRows[r].getStart(), end - openStart, openRows[r].getLength() });
    };

    for (auto e = edges.begin(); e + 1 < edgesEnd; ++e)
    {
        numRows = 0;
        for (size_t p = 0; p < numParts; ++p)
            if (parts[p].columns.getStart() <= *e && *(e + 1) <= parts[p].columns.getEnd())
                rows[numRows++] = parts[p].rows;

        std::sort (rows.begin(), rows.begin() + (long) numRows, [] (auto a, auto b) { return a.getStart() < b.getStart(); });
        size_t merged = 0;
        for (size_t r = 0; r < numRows; ++r)
        {
            if (merged > 0 && rows[r].getStart() <= rows[merged - 1].getEnd())
                rows[merged - 1] = rows[merged - 1].getUnionWith (rows[r]);
            else
                rows[merged++] = rows[r];
        }
        numRows = merged;

        if (numRows == numOpen && std::equal (rows.begin(), rows.begin() + (long) numRows, openRows.begin()))
            continue;

        close (*e);
        openRows = rows;
        numOpen = numRows;
        openStart = *e;
    }
    close (*(edgesEnd - 1));
}

void CompressorControls::repaintChanges()
{
    for (auto& band : bands)
        if (band->isVisible() && band->needsRepaint())
            band->repaint();

    if (readMeters())
    {
        const juce::ScopedValueSetter<bool> imageUpToDate (layer->keepImage, true);
        for (const auto& area : changedArea)
            repaint (area);
    }
}

void CompressorControls::paintOverChildren (juce::Graphics& g)
{
    if (meterX.empty())
        readMeters();

    if (! drawingLayer)
        paintMeters (g);
}

void CompressorControls::paintMeters (juce::Graphics& g)
{
    g.reduceClipRegion (clipPath);

    const juce::PathStrokeType stroke (1.5f, juce::PathStrokeType::mitered, juce::PathStrokeType::butt);
    g.setColour (colour.withBrightness (0.85f));
    g.strokePath (levelPath, stroke);
    g.setColour (colour.withRotatedHue (0.5f).withBrightness (1.0f));
    g.strokePath (compressedPath, stroke);
}

void CompressorControls::resized()
{
    clipPath.clear();
    clipPath.addRoundedRectangle (0.0f, 0.0f, (float) getWidth(), (float) getHeight(), 5.0f, 5.0f,
                                  true, true, true, true);
    arrangeBands();

    // The curves follow the panel's size; the whole panel is painted again anyway.
    readMeters();
}
