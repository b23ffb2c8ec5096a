#include "BottomBar.h"
#include "../PluginProcessor.h"

BottomBar::BottomBar (VyxAudioProcessor& p)
    : cvx::Component (p.state, "btmbar"),
      processor (p),
      colour (juce::Colour()),
      input (p.state, p.parameters.inGain),
      down (p.state, p.parameters.attack),
      up (p.state, p.parameters.release),
      dry (p.state, p.parameters.dryGain),
      wet (p.state, p.parameters.wetGain),
      mix (p.state, p.parameters.mix),
      output (p.state, p.parameters.outGain),
      nameFont (cvx::assets::fonts::Montserrat::Bold.withHeight (20.0f)),
      valueFont (cvx::assets::fonts::Montserrat::Bold.withHeight (16.0f))
{
    setUpFader (input,  caches[0], "input",  " dB");
    setUpFader (down,   caches[1], "down",   " ms");
    setUpFader (up,     caches[2], "up",     " ms");
    setUpFader (dry,    caches[3], "dry",    " dB");
    setUpFader (wet,    caches[4], "wet",    " dB");
    setUpFader (mix,    caches[5], "mix",    " %");
    setUpFader (output, caches[6], "output", " dB");

    // Added last so that it lies above the faders; it shows itself when started.
    addChildComponent (display);

    updateMixer();
}

BottomBar::~BottomBar()
{
    // Each fader's hover animator listens to the fader's inner slider, which the fader
    // destroys before its base (where the animator lives): detach while the slider exists.
    for (auto* fader : { &input, &down, &up, &dry, &wet, &mix, &output })
        fader->animator.attach (nullptr);
}

void BottomBar::setUpFader (cvx::ui::Slider& fader, FaderCache& cache, const juce::String& name, const juce::String& unit)
{
    cache.name = name;
    cache.unit = unit;

    fader.onRightClick = [this, &fader, unit] (const juce::MouseEvent& e) { openValueEntry (e, fader, unit); };
    fader.painter = [this, &cache] (juce::Graphics& g, cvx::ui::Slider& s) { paintFader (g, s, cache); };

    fader.animator.timerRate = 60.0f;
    fader.animator.riseTime = 60.0f;
    fader.animator.fallTime = 150.0f;
    fader.animator.on = true;

    addAndMakeVisible (fader);
}

void BottomBar::updateMixer()
{
    const bool dryWet = (bool) state.properties.getProperty (Properties::dryWet, false);
    dry.setVisible (dryWet);
    wet.setVisible (dryWet);
    mix.setVisible (! dryWet);
    output.setVisible (! dryWet);
}

void BottomBar::repaintChanges()
{
    updateMixer();

    if (display.isVisible())
        display.repaint();
}

void BottomBar::paint (juce::Graphics&)
{
    updateMixer();
}

std::array<juce::Rectangle<int>, 5> BottomBar::cellBounds (int width, int height)
{
    // Edges are rounded half to even, so neighbouring cells never overlap or leave a gap
    // that depends on where a half pixel falls.
    const auto roundEdge = [] (float v) { return (int) std::nearbyint (v); };

    auto area = juce::Rectangle<float> (2.5f, 0.0f, (float) std::max (width - 5, 0), (float) height);
    const float cellWidth = area.getWidth() / 5.0f;

    std::array<juce::Rectangle<int>, 5> cells;
    for (auto& cell : cells)
    {
        const auto slice = area.removeFromLeft (cellWidth);
        const float left = slice.getX() + 2.5f;
        const float top = slice.getY() + 5.0f;
        const float w = std::max (0.0f, slice.getWidth() - 5.0f);
        const float h = std::max (0.0f, slice.getHeight() - 10.0f);
        const int x0 = roundEdge (left), y0 = roundEdge (top);
        cell = { x0, y0, roundEdge (left + w) - x0, roundEdge (top + h) - y0 };
    }
    return cells;
}

void BottomBar::resized()
{
    const auto cells = cellBounds (getWidth(), getHeight());
    input.setBounds (cells[0]);
    down.setBounds (cells[1]);
    up.setBounds (cells[2]);
    dry.setBounds (cells[3]);
    wet.setBounds (cells[4]);
    mix.setBounds (cells[3]);
    output.setBounds (cells[4]);

    clipPath.clear();
    clipPath.addRoundedRectangle (0.0f, 0.0f, (float) input.getWidth(), (float) input.getHeight(), cornerSize);

    display.setBounds (getLocalBounds());
}

juce::String BottomBar::formatValue (double value, const juce::String& unit)
{
    auto text = juce::String (value, 1);
    if (text.getDoubleValue() == 0.0)
        text = text.removeCharacters ("-");
    return text + unit;
}

namespace
{
    /** Lays text out as Graphics::drawText does, centred and shortened with an ellipsis. */
    void layOut (juce::GlyphArrangement& glyphs, const juce::Font& font, const juce::String& text,
                 juce::Rectangle<float> area)
    {
        glyphs.clear();
        glyphs.addCurtailedLineOfText (font, text, 0.0f, 0.0f, area.getWidth(), true);
        glyphs.justifyGlyphs (0, glyphs.getNumGlyphs(), area.getX(), area.getY(),
                              area.getWidth(), area.getHeight(), juce::Justification::centred);
    }
} // namespace

void BottomBar::paintFader (juce::Graphics& g, cvx::ui::Slider& fader, FaderCache& cache)
{
    const auto size = fader.getLocalBounds();
    const auto area = size.toFloat();
    const float width = area.getWidth(), height = area.getHeight();

    g.reduceClipRegion (clipPath);

    const double value = fader.slider.getValue();
    const float proportion = juce::jlimit (0.0f, 1.0f, fader.range.convertTo0to1 ((float) value));
    const float hover = juce::jlimit (0.0f, 1.0f, fader.animator.hoverValue);

    if (size != cache.size)
    {
        cache.size = size;
        cache.proportion = -1.0f;
        cache.value = std::numeric_limits<float>::quiet_NaN();
        layOut (cache.nameGlyphs, nameFont, cache.name, area);
    }

    if (proportion != cache.proportion)
    {
        cache.proportion = proportion;
        cache.levelBar.clear();
        if (proportion > 0.0f)
            cache.levelBar.addRoundedRectangle (0.0f, height - proportion * height, width,
                                                proportion * height, cornerSize);
    }

    g.fillAll (colour.withBrightness (0.3f + 0.2f * hover));

    g.setColour (colour.withBrightness (0.5f + 0.5f * hover));
    g.fillPath (cache.levelBar);

    const auto nameColour = juce::Colours::black.withAlpha (1.0f - hover);
    if (nameColour.getAlpha() > 0)
    {
        g.setColour (nameColour);
        g.setFont (nameFont);
        cache.nameGlyphs.draw (g);
    }

    // The value text exists only while the pointer is near; it is laid out again only when
    // the value changes.
    const auto valueColour = juce::Colours::black.withAlpha (hover);
    if (valueColour.getAlpha() > 0)
    {
        if ((float) value != cache.value)
        {
            cache.value = (float) value;
            layOut (cache.valueGlyphs, valueFont, formatValue (value, cache.unit), area);
        }

        g.setColour (valueColour);
        g.setFont (valueFont);
        cache.valueGlyphs.draw (g);
    }
}

void BottomBar::openValueEntry (const juce::MouseEvent&, cvx::ui::Slider& fader, const juce::String& unit)
{
    display.start (fader.parameter, fader.range.start, fader.range.end, unit);
    display.label.open();
}
