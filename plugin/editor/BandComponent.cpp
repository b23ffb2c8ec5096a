#include "BandComponent.h"
#include "ParameterDisplay.h"

namespace
{
    /** The per-frame steps of the hover fades: in over about 4 frames, out over 9. */
    constexpr float fadeInStep = 5.0f / 18.0f;
    constexpr float fadeOutStep = 1.0f / 9.0f;

    float clamp01 (float x) noexcept { return juce::jlimit (0.0f, 1.0f, x); }

    float fade (float value, bool towardsOne) noexcept
    {
        return clamp01 (value + (towardsOne ? fadeInStep : -fadeOutStep));
    }

    /** The theme colour at a brightness; below zero it is black. */
    juce::Colour shade (juce::Colour theme, float brightness) noexcept
    {
        return theme.withBrightness (clamp01 (brightness));
    }

    const juce::NormalisableRange<float>& rangeOf (const cvx::AudioParameter& binding)
    {
        return binding.getParameter()->getNormalisableRange();
    }

    float rangeTop (const cvx::AudioParameter& binding)
    {
        const auto& range = rangeOf (binding);
        return std::max (range.start, range.end);
    }
} // namespace

//==============================================================================
namespace BandGeometry
{

float levelToDecibels (float level) noexcept
{
    if (! std::isfinite (level) || level <= 0.0f)
        return silenceDecibels;

    return std::max (silenceDecibels, 20.0f * std::log10 (level));
}

float levelToY (float level, float height) noexcept
{
    // The threshold range runs from -R dB to 0 dB; the meters share its scale.
    const float span = std::abs (Layout::THRESH_RANGE.start);
    const float decibels = levelToDecibels (level);
    return normalisedToY ((decibels + span) / span, height);
}

Spans computeBandSpans (int width, int numBands,
                        const std::array<float, VyxAudioProcessor::maxBands>& crossovers) noexcept
{
    Spans spans {};
    const int available = std::max (width - stripWidth, 0);
    const float w = (float) width;

    int x = stripWidth;
    int edge = 0;
    int remaining = available;

    if (numBands == 1)
    {
        spans[0] = { stripWidth, available, true, true };
        return spans;
    }

    if (numBands > 1)
    {
        edge = (int) (w * crossovers[0] - 5.0f);
        const int bandWidth = std::min (available, edge);
        spans[0] = { stripWidth, bandWidth, true, false };
        remaining = available - bandWidth;
        x = stripWidth + bandWidth;
    }

    for (int i = 1; i < VyxAudioProcessor::maxBands && i < numBands; ++i)
    {
        if (i == numBands - 1)
        {
            spans[(size_t) i] = { x, remaining, true, true };
            break;
        }

        const float right = w * crossovers[(size_t) i] - 5.0f;
        const int bandWidth = std::min (remaining, (int) (right - (float) edge));
        spans[(size_t) i] = { x, bandWidth, true, false };
        x += bandWidth;
        remaining -= bandWidth;
        edge = (int) right;
    }

    // A panel no wider than the left strip has no room for any band; without this, widths
    // cut below zero would hand the last band room the panel does not have.
    if (available == 0)
        for (auto& span : spans)
            span.width = 0;

    return spans;
}

} // namespace BandGeometry

//==============================================================================
float Threshold::getLineY (float height, float mergeHint) const noexcept
{
    const float n = parameter->getModulatedNormalisedValue();
    const float farEdge = direction == 0 ? 1.0f : 0.0f;
    return BandGeometry::normalisedToY (n + mergeHint * (farEdge - n), height);
}

void Threshold::set (float start, float delta, juce::Rectangle<float> area)
{
    // The scale spans height - 40 pixels; a squeezed column has no scale to drag along.
    const float span = area.getHeight() - 40.0f;
    if (! (span > 0.0f))
        return;

    const auto& range = rangeOf (*parameter);
    const float t = clamp01 (range.convertTo0to1 (start) - delta / span);
    const float v = range.convertFrom0to1 (t);
    parameter->pushPlain (v);

    // The upward threshold stays at or below the downward one.
    auto* other = opposite->parameter;
    if (direction == 0 ? other->getModulatedValue() > v : v > other->getModulatedValue())
        other->pushPlain (v);
}

void Ratio::set (float start, float delta, juce::Rectangle<float> area)
{
    const float height = area.getHeight();
    if (! (height > 0.0f))
        return;

    const float s = rangeOf (*parameter).convertTo0to1 (start);
    const float d = (direction == 1 ? -delta : delta) / height;
    parameter->push0to1 (clamp01 (s + d));
}

void Ratio::paint (juce::Graphics& g, juce::Rectangle<float> area, bool highlighted,
                   float mergeHint, float crossoverHighlight, juce::Colour theme)
{
    highlight = fade (highlight, highlighted);

    const float w = area.getWidth();
    const float h = area.getHeight();
    const float usable = w - std::min (w, (float) BandGeometry::stripWidth);
    const float strip = w - (float) BandGeometry::stripWidth;

    // The rounded end of the crossover strip on this side.
    g.setColour (juce::Colours::black);
    g.fillRect (strip, direction == 0 ? 0.0f : h - 5.0f, 10.0f, 5.0f);
    g.setColour (shade (theme, 0.5f).overlaidWith (shade (theme, 1.0f).withAlpha (clamp01 (crossoverHighlight))));
    g.fillEllipse (strip, direction == 0 ? 0.0f : h - 10.0f, 10.0f, 10.0f);

    const float lineY = threshold->getLineY (h, mergeHint);

    g.setColour (juce::Colours::black);
    if (direction == 0)
        g.fillRoundedRectangle (area.getX(), -10.0f, usable, lineY + 10.0f, 10.0f);
    else
        g.fillRoundedRectangle (area.getX(), lineY, usable, h - lineY + 10.0f, 10.0f);

    const float visibleLevel = 1.0f - mergeHint;
    if (! (visibleLevel > 0.0f))
        return;

    const float bottom = std::max (h, 0.0f);
    float y = direction == 0 ? lineY - 15.0f : lineY + 5.0f;
    if (! (y >= -10.0f && y < bottom))
        return;

    // Each bar is dimmer than the last by 1 - sqrt (ratio): none is lit at 1:1, and at the
    // top of the range every bar up to the edge is lit at full brightness.
    const float step = direction == 0 ? -15.0f : 15.0f;
    const float dimming = 1.0f - std::sqrt (parameter->getModulatedNormalisedValue());
    const float brightness = 0.25f + 0.75f * highlight;
    float level = visibleLevel;
    const float barWidth = std::max (usable - 10.0f, 0.0f);

    do
    {
        level -= dimming;
        y += step;
        g.setColour (shade (theme, brightness * level));
        g.drawRoundedRectangle (area.getX() + 5.0f, y, barWidth, 10.0f, 5.0f, 1.5f);
    }
    while (level > 0.0f && y >= -10.0f && y < bottom);
}

void Compressor::copyFrom (const Compressor& other)
{
    threshold.parameter->pushPlain (other.threshold.parameter->getModulatedValue());
    ratio.parameter->pushPlain (other.ratio.parameter->getModulatedValue());
    direction = other.direction;
}

void DualCompressor::copyFrom (const DualCompressor& other)
{
    down.copyFrom (other.down);
    up.copyFrom (other.up);
    crossover->pushPlain (other.crossover->getModulatedValue());
}

//==============================================================================
BandComponent::BandComponent (int index, cvx::State& s, VyxAudioProcessor::BandParameters& parameters,
                              ParameterDisplay& overlay, std::function<void()> bandsChanged)
    : state (&s),
      onBandsChanged (std::move (bandsChanged)),
      display (&overlay)
{
    juce::ignoreUnused (index);

    const auto bind = [this] (Compressor& side, VyxAudioProcessor::CompParameters& bindings,
                              Threshold& opposite, int direction)
    {
        side.direction = direction;
        side.threshold = { &bindings.threshold, state, &opposite, direction, 0.0f };
        side.ratio = { &bindings.ratio, state, &side.threshold, direction, 0.0f };
    };

    bind (compressors.down, parameters.down, compressors.up.threshold, 0);
    bind (compressors.up, parameters.up, compressors.down.threshold, 1);
    compressors.crossover = &parameters.crossover;

    numBandsParameter = state->parameters.getParameter (Layout::NUM_BANDS.id);
    numBandsValue = state->parameters.getRawParameterValue (Layout::NUM_BANDS.id);
    jassert (numBandsParameter != nullptr && numBandsValue != nullptr);
}

BandComponent::~BandComponent() = default;

int BandComponent::getNumBands() const noexcept
{
    return numBandsValue != nullptr ? (int) numBandsValue->load() : 1;
}

void BandComponent::writeNumBands (int count)
{
    // The band count changes without a gesture: it follows from the split or removal the
    // user made, which the host already sees as gestures on the moved settings.
    if (numBandsParameter == nullptr)
        return;

    const float normalised = numBandsParameter->convertTo0to1 ((float) count);
    numBandsParameter->setValue (normalised);
    numBandsParameter->sendValueChangedMessageToListeners (normalised);
}

juce::Colour BandComponent::getThemeColour()
{
    // Parse the attribute only when it changed: the paint runs 60 times a second and must
    // not allocate.
    const auto& text = state->attributes.getProperty (cvx::State::Attributes::colour);
    if (! text.equalsWithSameType (themeText))
    {
        themeText = text;
        theme = cvx::State::Attributes::getColour (*state);
    }
    return theme;
}

bool BandComponent::Look::operator== (const Look& other) const noexcept
{
    return downThreshold == other.downThreshold && upThreshold == other.upThreshold
        && downRatio == other.downRatio && upRatio == other.upRatio
        && mergeHint == other.mergeHint && crossoverHighlight == other.crossoverHighlight
        && downThresholdHighlight == other.downThresholdHighlight && upThresholdHighlight == other.upThresholdHighlight
        && downRatioHighlight == other.downRatioHighlight && upRatioHighlight == other.upRatioHighlight
        && hoverTarget == other.hoverTarget && merged == other.merged && theme == other.theme;
}

BandComponent::Look BandComponent::getLook()
{
    Look look;
    look.downThreshold = compressors.down.threshold.parameter->getModulatedNormalisedValue();
    look.upThreshold = compressors.up.threshold.parameter->getModulatedNormalisedValue();
    look.downRatio = compressors.down.ratio.parameter->getModulatedNormalisedValue();
    look.upRatio = compressors.up.ratio.parameter->getModulatedNormalisedValue();
    look.mergeHint = mergeHint;
    look.crossoverHighlight = crossoverHighlight;
    look.downThresholdHighlight = compressors.down.threshold.highlight;
    look.upThresholdHighlight = compressors.up.threshold.highlight;
    look.downRatioHighlight = compressors.down.ratio.highlight;
    look.upRatioHighlight = compressors.up.ratio.highlight;
    look.hoverTarget = hoverTarget;
    look.merged = merged;
    look.theme = getThemeColour().getARGB();
    return look;
}

bool BandComponent::isFading() const noexcept
{
    const auto moves = [] (float value, bool towardsOne) { return fade (value, towardsOne) != value; };

    return moves (crossoverHighlight, hoverTarget == crossoverTarget && ! merged)
        || moves (compressors.down.ratio.highlight, hoverTarget == ratioDownTarget)
        || moves (compressors.up.ratio.highlight, hoverTarget == ratioUpTarget)
        || moves (compressors.down.threshold.highlight, hoverTarget == thresholdDownTarget)
        || moves (compressors.up.threshold.highlight, hoverTarget == thresholdUpTarget);
}

BandComponent::Look BandComponent::currentLook()
{
    pullBindings();
    return getLook();
}

bool BandComponent::needsRepaint()
{
    return currentLook() != paintedLook || ! paintedWhole || isFading();
}

void BandComponent::pullBindings()
{
    compressors.down.threshold.parameter->pull();
    compressors.down.ratio.parameter->pull();
    compressors.up.threshold.parameter->pull();
    compressors.up.ratio.parameter->pull();
    compressors.crossover->pull();
}

//==============================================================================
void BandComponent::hitTestAt (juce::Point<float> position)
{
    for (auto* b = prev; b != nullptr; b = b->prev)
        b->hoverTarget = none;
    for (auto* b = next; b != nullptr; b = b->next)
        b->hoverTarget = none;

    const float w = (float) getWidth();
    const float h = (float) getHeight();
    const float x = position.x;
    const float y = position.y;
    auto& down = compressors.down;
    auto& up = compressors.up;

    if (x >= w - (float) BandGeometry::stripWidth && ! isLast)
    {
        hoverTarget = crossoverTarget;
        const float lo = clamp01 ((prev != nullptr ? prev->compressors.crossover->getModulatedNormalisedValue() : 0.0f)
                                  + BandGeometry::minimumGap);
        const float hi = clamp01 (next != nullptr ? next->compressors.crossover->getModulatedNormalisedValue() - BandGeometry::minimumGap
                                                  : 1.0f - BandGeometry::minimumGap);
        const auto& range = rangeOf (*compressors.crossover);
        display->start (*compressors.crossover, range.convertFrom0to1 (lo), range.convertFrom0to1 (hi), " Hz");
        return;
    }

    const float downY = down.threshold.getLineY (h, 0.0f);
    const float upY = up.threshold.getLineY (h, 0.0f);

    if (downY - 20.0f <= y && y < downY)
    {
        hoverTarget = thresholdDownTarget;
        display->start (*down.threshold.parameter, up.threshold.parameter->getModulatedValue(),
                        rangeTop (*down.threshold.parameter), " dB");
    }
    else if (upY <= y && y < upY + 20.0f)
    {
        hoverTarget = thresholdUpTarget;
        display->start (*up.threshold.parameter, rangeOf (*up.threshold.parameter).start,
                        down.threshold.parameter->getModulatedValue(), " dB");
    }
    else if (y < downY)
    {
        hoverTarget = ratioDownTarget;
        display->start (*down.ratio.parameter, rangeOf (*down.ratio.parameter).start,
                        rangeTop (*down.ratio.parameter), " : 1");
    }
    else if (y > upY)
    {
        hoverTarget = ratioUpTarget;
        display->start (*up.ratio.parameter, rangeOf (*up.ratio.parameter).start,
                        rangeTop (*up.ratio.parameter), " : 1");
    }
    else
    {
        hoverTarget = none;
        display->showing = false;
    }
}

void BandComponent::applyDrag (juce::Point<float> position)
{
    const auto bounds = getLocalBounds().toFloat();
    const float dx = position.x - dragStart.x;
    const float dy = position.y - dragStart.y;

    switch (dragTarget)
    {
        case crossoverTarget:     setFreq (dragStartValue, dx, bounds); break;
        case thresholdDownTarget: compressors.down.threshold.set (dragStartValue, dy, bounds); break;
        case ratioDownTarget:     compressors.down.ratio.set (dragStartValue, dy, bounds); break;
        case thresholdUpTarget:   compressors.up.threshold.set (dragStartValue, dy, bounds); break;
        case ratioUpTarget:       compressors.up.ratio.set (dragStartValue, dy, bounds); break;
        default: break;
    }
}

void BandComponent::mouseMove (const juce::MouseEvent& e)
{
    if (dragTarget != none)
        applyDrag (e.position);
    else
        hitTestAt (e.position);
}

void BandComponent::mouseDrag (const juce::MouseEvent& e)
{
    mouseMove (e);
}

void BandComponent::mouseExit (const juce::MouseEvent&)
{
    if (dragTarget != none)
        return;

    display->showing = false;
    hoverTarget = none;
}

void BandComponent::mouseDown (const juce::MouseEvent& e)
{
    mouseMove (e);
    if (hoverTarget == none)
        return;

    if (e.mods.isRightButtonDown())
    {
        // Typed entry for the target the hit test just bound to the overlay; no drag.
        display->label.open();
        return;
    }

    dragTarget = hoverTarget;
    dragStart = e.position;

    switch (dragTarget)
    {
        case crossoverTarget:     dragStartValue = compressors.crossover->getModulatedNormalisedValue(); break;
        case thresholdDownTarget: dragStartValue = compressors.down.threshold.parameter->getModulatedValue(); break;
        case ratioDownTarget:     dragStartValue = compressors.down.ratio.parameter->getModulatedValue(); break;
        case thresholdUpTarget:   dragStartValue = compressors.up.threshold.parameter->getModulatedValue(); break;
        case ratioUpTarget:       dragStartValue = compressors.up.ratio.parameter->getModulatedValue(); break;
        default: break;
    }
}

void BandComponent::mouseUp (const juce::MouseEvent& e)
{
    merged = false;
    dragTarget = none;
    mergeHint = 0.0f;
    if (prev != nullptr)
        prev->mergeHint = 0.0f;
    if (next != nullptr)
        next->mergeHint = 0.0f;

    const auto p = e.position;
    if (p.x >= 0.0f && p.x < (float) getWidth() && p.y >= 0.0f && p.y < (float) getHeight())
        mouseMove (e);
    else
        mouseExit (e);
}

void BandComponent::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    const auto bounds = getLocalBounds().toFloat();

    switch (hoverTarget)
    {
        case crossoverTarget:
        {
            // Shift turns a vertical wheel into a horizontal one, as the operating systems that
            // do it themselves already deliver it.
            const float delta = (wheel.deltaX == 0.0f && e.mods.isShiftDown()) ? wheel.deltaY : wheel.deltaX;
            setFreq (compressors.crossover->getModulatedNormalisedValue(), delta, bounds);
            break;
        }
        case thresholdDownTarget:
            compressors.down.threshold.set (compressors.down.threshold.parameter->getModulatedValue(), wheel.deltaY, bounds);
            break;
        case thresholdUpTarget:
            compressors.up.threshold.set (compressors.up.threshold.parameter->getModulatedValue(), wheel.deltaY, bounds);
            break;
        case ratioDownTarget:
            compressors.down.ratio.set (compressors.down.ratio.parameter->getModulatedValue(), wheel.deltaY, bounds);
            break;
        case ratioUpTarget:
            compressors.up.ratio.set (compressors.up.ratio.parameter->getModulatedValue(), wheel.deltaY, bounds);
            break;
        default:
            break;
    }
}

void BandComponent::mouseDoubleClick (const juce::MouseEvent& e)
{
    auto* parent = getParentComponent();
    const int n = getNumBands();

    if (e.position.x >= (float) (getWidth() - BandGeometry::stripWidth) || parent == nullptr
        || parent->getWidth() <= 0 || ! ((float) getWidth() / (float) parent->getWidth() > 0.16f)
        || n > VyxAudioProcessor::maxBands - 1)
        return;

    copyToRight();

    const float c = compressors.crossover->getModulatedNormalisedValue();
    const float p = prev != nullptr ? prev->compressors.crossover->getModulatedNormalisedValue() : 0.0f;
    compressors.crossover->push0to1 ((c + p) * 0.5f);

    writeNumBands (n + 1);

    if (onBandsChanged)
        onBandsChanged();
}

//==============================================================================
void BandComponent::setFreq (float start, float delta, juce::Rectangle<float>)
{
    auto* parent = getParentComponent();
    // A panel squeezed to no width has no scale to drag along.
    if (parent == nullptr || parent->getWidth() <= 0)
        return;

    float x = start + delta / (float) parent->getWidth();
    const float p = prev != nullptr ? prev->compressors.crossover->getModulatedNormalisedValue() : 0.0f;

    if (x < p)
    {
        crossoverHighlight = 0.0f;
        removeBand();
        return;
    }

    mergeHint = clamp01 (1.0f - (x - p) / BandGeometry::minimumGap);
    x = std::max (x, p + BandGeometry::minimumGap);

    float limit = 1.0f - BandGeometry::minimumGap;

    if (next != nullptr)
    {
        const float q = next->compressors.crossover->getModulatedNormalisedValue();

        if (x > q)
        {
            // Merge: this band keeps its thresholds and ratios and takes the next band's range.
            if (next->isLast)
                compressors.crossover->push0to1 (1.0f);

            compressors.crossover->pushPlain (next->compressors.crossover->getModulatedValue());
            hoverTarget = none;
            dragTarget = none;
            mergeHint = 0.0f;
            merged = true;
            next->removeBand();
            return;
        }

        next->mergeHint = clamp01 (1.0f - (q - x) / BandGeometry::minimumGap);
        limit = q - BandGeometry::minimumGap;
    }
    else if (x > 1.0f)
    {
        return;
    }

    compressors.crossover->push0to1 (std::min (x, limit));
}

void BandComponent::removeBand()
{
    hoverTarget = none;
    dragTarget = none;
    mergeHint = 0.0f;

    const int n = getNumBands();
    if (n <= 1)
        return;

    // Each slot reads its right neighbour before that neighbour is overwritten in turn.
    // The source is pulled first: a hidden slot is not painted, so while the host runs no
    // audio its cached values may lag behind the host's.
    for (auto* b = this; b->next != nullptr && ! b->isLast; b = b->next)
    {
        b->next->pullBindings();
        b->compressors.copyFrom (b->next->compressors);
    }

    writeNumBands (n - 1);

    if (onBandsChanged)
        onBandsChanged();
}

void BandComponent::copyToRight()
{
    if (next == nullptr)
        return;

    // From the right end backwards, so no slot is read after it was overwritten. Each source
    // is pulled just before it is read, as hidden slots are not refreshed by painting.
    next->copyToRight();
    pullBindings();
    next->compressors.copyFrom (compressors);
}

//==============================================================================
void BandComponent::paint (juce::Graphics& g)
{
    pullBindings();

    const auto themeColour = getThemeColour();
    const auto area = getLocalBounds().toFloat();
    const float w = area.getWidth();
    const float h = area.getHeight();
    const float usable = w - std::min (w, (float) BandGeometry::stripWidth);

    crossoverHighlight = fade (crossoverHighlight, hoverTarget == crossoverTarget && ! merged);
    if (crossoverHighlight > 0.0f)
    {
        g.setColour (shade (themeColour, 1.0f).withAlpha (crossoverHighlight));
        g.fillRect (w - (float) BandGeometry::stripWidth, 0.0f, (float) BandGeometry::stripWidth, h);
    }

    compressors.down.ratio.paint (g, area, hoverTarget == ratioDownTarget, mergeHint, crossoverHighlight, themeColour);
    compressors.up.ratio.paint (g, area, hoverTarget == ratioUpTarget, mergeHint, crossoverHighlight, themeColour);

    const float handleWidth = std::max (usable - 10.0f, 0.0f);

    auto& down = compressors.down.threshold;
    down.highlight = fade (down.highlight, hoverTarget == thresholdDownTarget);
    g.setColour (shade (themeColour, (1.0f - mergeHint) * (0.5f + 0.5f * down.highlight)));
    g.fillRoundedRectangle (5.0f, down.getLineY (h, mergeHint) - 15.0f, handleWidth, 10.0f, 5.0f);

    auto& up = compressors.up.threshold;
    up.highlight = fade (up.highlight, hoverTarget == thresholdUpTarget);
    g.setColour (shade (themeColour, (1.0f - mergeHint) * (0.5f + 0.5f * up.highlight)));
    g.fillRoundedRectangle (5.0f, up.getLineY (h, mergeHint) + 5.0f, handleWidth, 10.0f, 5.0f);

    // A paint of part of the band leaves the rest of it as it was: only a whole paint tells
    // what the screen shows.
    const auto look = getLook();
    if (g.getClipBounds().contains (getLocalBounds()))
    {
        paintedLook = look;
        paintedWhole = true;
    }
    else if (look != paintedLook)
    {
        paintedWhole = false;
    }
}
