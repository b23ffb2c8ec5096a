#pragma once

#include <cvx_core/cvx_core.h>

/** Where a component's pixels lie when its window is painted whole: a whole number of physical
    pixels per component pixel, and the component's origin in the window's top-level component.
    The framework's software renderer rounds the edges of shapes from their position in the
    window, so a component drawn into an image of the window's pixels on this grid, and copied
    back, looks exactly as it does drawn in place by a repaint of the whole window.
    Message thread. */
struct WindowGrid
{
    /** The grid on which a context paints a component. Not valid (scale 0) when the context is
        not the software renderer, when its scale is not a whole number, or when the component
        or a parent of it is transformed: then only drawing in place gives the window's pixels. */
    static WindowGrid find (juce::Graphics& g, const juce::Component& component);

    bool isValid() const noexcept { return scale > 0; }

    /** The physical pixels of an area given in the component's pixels, counted from the
        window's origin. */
    juce::Rectangle<int> toPhysical (juce::Rectangle<int> area) const noexcept { return (area + origin) * scale; }

    /** Sets up a context on an image of the window's physical pixels so that it draws the
        component, in the component's own coordinates, where the window has it. */
    void prepare (juce::Graphics& g) const;

    /** Copies, pixel for pixel, the part of such an image that shows the area (component
        coordinates), into a context that paints the component on this grid. */
    void copy (juce::Graphics& g, const juce::Image& image, juce::Rectangle<int> area) const;

    bool operator== (const WindowGrid& other) const noexcept { return scale == other.scale && origin == other.origin; }
    bool operator!= (const WindowGrid& other) const noexcept { return ! operator== (other); }

    int scale = 0;
    juce::Point<int> origin;
};

/** Draws parts of a component into an image of its window's pixels (see WindowGrid) so that
    they come out as a repaint of the whole window draws them. The renderer rounds a shape that
    crosses the right edge of the area it draws into a little differently in that edge's last
    column; so each part is drawn with a margin around it (within the component's bounds, as a
    parent clips it), and the margin's pixels are put back afterwards. Keeps its buffers
    between calls. Message thread. */
class WindowPainter
{
public:
    /** Draws the component's pixels of area (component coordinates) into image: paint draws the
        component into the context it is given, in the component's coordinates. */
    template <typename PaintFunction>
    void draw (juce::Image& image, const WindowGrid& grid, const juce::RectangleList<int>& area,
               juce::Rectangle<int> bounds, PaintFunction&& paint)
    {
        widen (area, bounds);
        keepMargin (image, grid);
        {
            juce::Graphics g (image);
            grid.prepare (g);
            g.reduceClipRegion (drawn);
            paint (g);
        }
        restoreMargin (image, grid);
    }

private:
    void widen (const juce::RectangleList<int>& area, juce::Rectangle<int> bounds);
    void keepMargin (const juce::Image& image, const WindowGrid& grid);
    void restoreMargin (juce::Image& image, const WindowGrid& grid);

    juce::RectangleList<int> drawn, margin;
    juce::HeapBlock<juce::uint8> kept;
    size_t keptSize = 0;
};

/** The picture of a whole component, kept in an image on its window's grid: what was asked to
    be repainted is drawn into the image, and the window gets its pixels from there. So a part
    of the window painted on its own looks exactly as it does when the whole window is painted,
    whatever part the window happens to repaint. Where no grid exists (see WindowGrid) the
    component is drawn in place, and needsWholeRepaints tells its owner to repaint it whole
    whenever anything in it changed. Message thread. */
class WindowPicture : public juce::CachedComponentImage
{
public:
    explicit WindowPicture (juce::Component& component);

    void paint (juce::Graphics& g) override;
    bool invalidateAll() override;
    bool invalidate (const juce::Rectangle<int>& area) override;
    void releaseResources() override;

    /** True when the component is drawn in place (its own window, or no grid at its last
        paint): a part of it painted on its own may then differ in a few edge pixels from the
        same part in a repaint of the whole window. */
    bool needsWholeRepaints() const;

    /** Whether a repaint was asked for since the last call. */
    bool takeRepaintRequests() noexcept;

private:
    juce::Component& component;
    juce::Image image;           // the window's pixels; only the component's part is used
    WindowGrid grid;             // the grid the image was drawn on
    WindowPainter painter;
    juce::RectangleList<int> invalid, drawing;
    bool drawnInPlace = false;
    bool repaintRequested = false;
};
