#include "WindowPicture.h"

WindowGrid WindowGrid::find (juce::Graphics& g, const juce::Component& component)
{
    auto& context = g.getInternalContext();
    if (dynamic_cast<juce::LowLevelGraphicsSoftwareRenderer*> (&context) == nullptr)
        return {};

    for (auto* c = &component; c != nullptr; c = c->getParentComponent())
        if (c->isTransformed())
            return {};

    const float physical = context.getPhysicalPixelScaleFactor();
    const int scale = juce::roundToInt (physical);
    if (scale < 1 || std::abs (physical - (float) scale) > 1.0e-4f)
        return {};

    const auto origin = component.getTopLevelComponent()->getLocalPoint (&component, juce::Point<int>());
    if (origin.x < 0 || origin.y < 0)
        return {};

    return { scale, origin };
}

void WindowGrid::prepare (juce::Graphics& g) const
{
    // As a repaint of the whole window transforms it: the window's scale, then the offsets of
    // the components down to this one, all whole numbers of pixels.
    g.addTransform (juce::AffineTransform::scale ((float) scale));
    g.setOrigin (origin);
}

void WindowGrid::copy (juce::Graphics& g, const juce::Image& image, juce::Rectangle<int> area) const
{
    if (area.isEmpty())
        return;

    // The context's transform and this one together are a move by whole pixels, so the
    // renderer copies the pixels as they are. Nothing outside the area is read.
    const juce::Graphics::ScopedSaveState save (g);
    g.reduceClipRegion (area);
    g.setOpacity (1.0f);
    g.drawImageTransformed (image, juce::AffineTransform::scale (1.0f / (float) scale)
                                       .translated (-(float) origin.x, -(float) origin.y));
}

//==============================================================================
namespace
{
    /** Wider than the one column in which the renderer's rounding depends on where it stops. */
    constexpr int marginPixels = 2;
} // namespace

void WindowPainter::widen (const juce::RectangleList<int>& area, juce::Rectangle<int> bounds)
{
    drawn.clear();
    for (const auto& r : area)
        drawn.add (r.expanded (marginPixels).getIntersection (bounds));

    margin.clear();
    for (const auto& r : drawn)
        margin.addWithoutMerging (r);
    margin.subtract (area);
}

void WindowPainter::keepMargin (const juce::Image& image, const WindowGrid& grid)
{
    size_t needed = 0;
    for (const auto& r : margin)
    {
        const auto pixels = grid.toPhysical (r).getIntersection (image.getBounds());
        needed += (size_t) pixels.getWidth() * (size_t) pixels.getHeight() * 4;
    }
    if (needed > keptSize)
    {
        kept.allocate (needed, false);
        keptSize = needed;
    }

    const juce::Image::BitmapData data (image, juce::Image::BitmapData::readOnly);
    auto* out = kept.get();
    for (const auto& r : margin)
    {
        const auto pixels = grid.toPhysical (r).getIntersection (image.getBounds());
        const auto rowBytes = (size_t) pixels.getWidth() * (size_t) data.pixelStride;
        for (int y = pixels.getY(); y < pixels.getBottom(); ++y, out += rowBytes)
            std::memcpy (out, data.getPixelPointer (pixels.getX(), y), rowBytes);
    }
}

void WindowPainter::restoreMargin (juce::Image& image, const WindowGrid& grid)
{
    const juce::Image::BitmapData data (image, juce::Image::BitmapData::writeOnly);
    const auto* in = kept.get();
    for (const auto& r : margin)
    {
        const auto pixels = grid.toPhysical (r).getIntersection (image.getBounds());
        const auto rowBytes = (size_t) pixels.getWidth() * (size_t) data.pixelStride;
        for (int y = pixels.getY(); y < pixels.getBottom(); ++y, in += rowBytes)
            std::memcpy (data.getPixelPointer (pixels.getX(), y), in, rowBytes);
    }
}

//==============================================================================
WindowPicture::WindowPicture (juce::Component& c) : component (c)
{
    invalidateAll();
}

void WindowPicture::paint (juce::Graphics& g)
{
    const auto found = WindowGrid::find (g, component);
    drawnInPlace = ! found.isValid();

    if (drawnInPlace)
    {
        releaseResources();
        component.paintEntireComponent (g, false);
        invalid.clear();
        return;
    }

    const auto bounds = component.getLocalBounds();
    const auto pixels = found.toPhysical (bounds);
    if (pixels.isEmpty())
        return;

    if (found != grid || image.getWidth() != pixels.getRight() || image.getHeight() != pixels.getBottom())
    {
        // Only the component's part of the window's area is ever drawn or read. The window is
        // opaque: colours alone are kept, which the renderer copies straight.
        image = juce::Image (juce::Image::RGB, pixels.getRight(), pixels.getBottom(), false, juce::SoftwareImageType());
        grid = found;
        invalid.clear();
        invalid.add (bounds);
    }

    if (! invalid.isEmpty())
    {
        // What a component asks to repaint while it is being drawn is for the next paint.
        drawing.swapWith (invalid);
        invalid.clear();
        painter.draw (image, grid, drawing, bounds, [this] (juce::Graphics& g2)
        {
            component.paintEntireComponent (g2, false);
        });
    }

    grid.copy (g, image, g.getClipBounds().getIntersection (bounds));
}

bool WindowPicture::invalidateAll()
{
    invalid.clear();
    invalid.add (component.getLocalBounds());
    repaintRequested = true;
    return true;
}

bool WindowPicture::invalidate (const juce::Rectangle<int>& area)
{
    invalid.add (area.getIntersection (component.getLocalBounds()));
    repaintRequested = true;
    return true;
}

void WindowPicture::releaseResources()
{
    image = {};
    grid = {};
    invalid.clear();
    invalid.add (component.getLocalBounds());
}

bool WindowPicture::needsWholeRepaints() const
{
    // A component on the desktop paints itself in place: its cached image is never asked to.
    return drawnInPlace || component.isOnDesktop();
}

bool WindowPicture::takeRepaintRequests() noexcept
{
    return std::exchange (repaintRequested, false);
}
