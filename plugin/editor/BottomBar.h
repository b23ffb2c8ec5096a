#pragma once

#include "ParameterDisplay.h"

class VyxAudioProcessor;

/** The fader strip along the bottom of the editor: input gain, the global attack ("down") and
    release ("up") times, and either dry and wet gain or mix and output gain, following the
    "DRYWET" property. Each cell is a slider drawn by this bar: the cell in the theme colour, a
    level bar rising from the bottom, and the name, or the value with its unit while hovered.
    A right click opens typed entry in the value overlay, which also lives here. */
class BottomBar : public cvx::Component
{
public:
    explicit BottomBar (VyxAudioProcessor& p);
    ~BottomBar() override;

    /** Shows dry and wet when "DRYWET" is true, mix and output otherwise (also when absent). */
    void updateMixer();

    /** One frame: shows the faders of the current mixer mode, and repaints the value overlay
        while it shows (its fade advances once per paint). The faders repaint themselves when
        their values or hover fades change. Called by the editor's 16 ms timer. */
    void repaintChanges();

    /** Follows the mixer mode; the bar itself draws nothing (the editor's black shows). */
    void paint (juce::Graphics& g) override;
    void resized() override;

    /** Bounds of the five cells for a bar of this size, left to right. */
    static std::array<juce::Rectangle<int>, 5> cellBounds (int width, int height);

    /** The text a fader shows while hovered: one decimal, a zero never signed, then unit. */
    static juce::String formatValue (double value, const juce::String& unit);

    static constexpr float cornerSize = 5.0f;

    ParameterDisplay display;
    VyxAudioProcessor& processor;
    juce::Colour colour;  // theme colour, written by the editor
    juce::Path clipPath;  // every cell's outline, in the cell's own coordinates

    cvx::ui::Slider input, down, up, dry, wet, mix, output;

private:
    /** What one fader draws, rebuilt only when its value, size or text changes, so that a
        steady frame builds no strings, paths or glyph runs. */
    struct FaderCache
    {
        juce::String name, unit;
        float proportion = -1.0f;
        juce::Rectangle<int> size;
        juce::Path levelBar;
        float value = std::numeric_limits<float>::quiet_NaN();
        juce::GlyphArrangement nameGlyphs, valueGlyphs;
    };

    void setUpFader (cvx::ui::Slider& fader, FaderCache& cache, const juce::String& name, const juce::String& unit);
    void paintFader (juce::Graphics& g, cvx::ui::Slider& fader, FaderCache& cache);
    void openValueEntry (const juce::MouseEvent& e, cvx::ui::Slider& fader, const juce::String& unit);

    std::array<FaderCache, 7> caches;
    juce::Font nameFont, valueFont;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BottomBar)
};
