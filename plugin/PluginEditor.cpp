#include "PluginEditor.h"

namespace
{
    using StateAttributes = cvx::State::Attributes;

    /** True for text that is a plain decimal number: optional sign, digits, optional fraction. */
    bool isDecimalNumber (const juce::String& text)
    {
        auto p = text.getCharPointer();
        if (*p == '-' || *p == '+')
            ++p;

        int digits = 0;
        while (p.isDigit()) { ++p; ++digits; }
        if (*p == '.')
        {
            ++p;
            while (p.isDigit()) { ++p; ++digits; }
        }
        return digits > 0 && p.isEmpty();
    }
} // namespace

VyxAudioProcessorEditor::VyxAudioProcessorEditor (VyxAudioProcessor& p)
    : juce::AudioProcessorEditor (p),
      processor (p),
      state (p.state),
      // The band editor only keeps a reference to the overlay here; it uses it later, from
      // mouse handling, when the bottom bar below has long been built.
      compressorControls (p, bottomBar.display, p.inputSpectrum, p.outputSpectrum, p.getCompMeter),
      bottomBar (p),
      topBar (p),
      lookAndFeel (p.state)
{
    // A new instance gets a random hue once; from then on the hue travels with its state.
    auto colour = StateAttributes::getColour (state);
    if (colour == juce::Colours::grey)
    {
        juce::Random random (juce::Time::currentTimeMillis());
        colour = juce::Colour::fromHSV (random.nextFloat(), 0.75f, 0.5f, 1.0f);
        state.attributes.setProperty (StateAttributes::colour, colour.toString(), nullptr);
    }
    compressorControls.colour = colour;
    bottomBar.colour = colour;

    // The pin only keeps the layout: a clean preset stays clean through it.
    compressorControls.onPin = [this] (const juce::String& parameterId) { topBar.presetsMenu.keepClean (parameterId); };

    setLookAndFeel (&lookAndFeel);

    // Parts of the window are repainted alone; drawn through its picture, they look as they do
    // in a repaint of the whole window.
    picture = new WindowPicture (*this);
    setCachedComponentImage (picture);

    addAndMakeVisible (compressorControls);
    addAndMakeVisible (bottomBar);
    addAndMakeVisible (topBar);

    setSize (readDimension (state.attributes.getProperty (StateAttributes::width), defaultWidth),
             readDimension (state.attributes.getProperty (StateAttributes::height), defaultHeight));
    setResizable (true, true);
    setResizeLimits (defaultWidth, defaultHeight, 999999, 999999);

    startTimer (16);
    state.attributes.addListener (this);
}

VyxAudioProcessorEditor::~VyxAudioProcessorEditor()
{
    setLookAndFeel (nullptr);
    state.attributes.removeListener (this);
}

int VyxAudioProcessorEditor::readDimension (const juce::var& stored, int fallback)
{
    double value = 0.0;

    // A project saved by a host comes back as text; a live state holds numbers.
    if (stored.isInt() || stored.isInt64() || stored.isDouble())
        value = (double) stored;
    else if (stored.isString() && isDecimalNumber (stored.toString().trim()))
        value = cvx::readNumber (stored.toString().trim());
    else
        return fallback;

    if (! std::isfinite (value))
        return fallback;

    // Clamp before converting: a damaged size must never reach setSize (a huge window would
    // allocate a huge backing image), and a huge double does not fit an int.
    return (int) juce::jlimit (0.0, (double) maxDimension, value);
}

VyxAudioProcessorEditor::PanelBounds VyxAudioProcessorEditor::layout (juce::Rectangle<int> bounds)
{
    const int x = bounds.getX(), y = bounds.getY(), w = bounds.getWidth(), h = bounds.getHeight();
    const int t = std::min (h, 40);
    const int b = std::min (h - t, 36);

    PanelBounds result;
    result.topBar = { x, y, w, t };
    result.bottomBar = { x, y + h - b, w, b };
    result.compressorControls = { x + 5, y + t, std::max (0, w - 10), std::max (0, h - t - b) };
    return result;
}

void VyxAudioProcessorEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colours::black);
}

void VyxAudioProcessorEditor::paintOverChildren (juce::Graphics&)
{
}

void VyxAudioProcessorEditor::resized()
{
    // Children are placed in the editor's own coordinates, wherever the host puts the editor.
    const auto panels = layout (getLocalBounds());
    topBar.setBounds (panels.topBar);
    bottomBar.setBounds (panels.bottomBar);
    compressorControls.setBounds (panels.compressorControls);

    state.attributes.setProperty (StateAttributes::width, getWidth(), nullptr);
    state.attributes.setProperty (StateAttributes::height, getHeight(), nullptr);
}

void VyxAudioProcessorEditor::valueTreePropertyChanged (juce::ValueTree&, const juce::Identifier& id)
{
    if (id != StateAttributes::colour)
        return;

    // Visible from the next frame, which repaints the whole window.
    const auto colour = StateAttributes::getColour (state);
    compressorControls.colour = colour;
    bottomBar.colour = colour;
    themeChanged = true;
}

void VyxAudioProcessorEditor::timerCallback()
{
    compressorControls.arrangeBands();

    if (std::exchange (themeChanged, false))
    {
        repaint();
        compressorControls.repaint();  // its kept image too
    }

    compressorControls.repaintChanges();
    bottomBar.repaintChanges();
    topBar.repaintChanges();

    // Drawn in place, a part repainted alone may differ from the whole window in a few edge
    // pixels: then anything that changed repaints the whole window, as each frame once did.
    if (picture->takeRepaintRequests() && picture->needsWholeRepaints())
    {
        repaint();
        picture->takeRepaintRequests();
    }
}
