#pragma once

namespace cvx::style
{

/** The editor's look-and-feel: black popup menus whose text, separators and ticks follow the
    theme colour of the state, menu text in the embedded Montserrat, item texts split at their
    first '@' into a name and a right-aligned detail, large centred tooltips, and no drawing of
    framework sliders (every slider of the editor draws itself). Message thread. */
class LookAndFeel : public juce::LookAndFeel_V4
{
public:
    /** Identifiers kept for the look-and-feel's own use; colour and scale are read through
        State::Attributes. */
    static inline const juce::Identifier id_colour { "colour" };
    static inline const juce::Identifier id_scale { "scale" };

    explicit LookAndFeel (State& state);
    ~LookAndFeel() override;

    /** The text scale from the "scale" attribute: 1 when absent, not a finite positive number,
        otherwise kept within 0.25 .. 4. */
    double getScale() const;

    void drawPopupMenuBackgroundWithOptions (juce::Graphics&, int width, int height,
                                             const juce::PopupMenu::Options&) override;

    void drawPopupMenuItem (juce::Graphics&, const juce::Rectangle<int>& area,
                            bool isSeparator, bool isActive, bool isHighlighted, bool isTicked,
                            bool hasSubMenu, const juce::String& text,
                            const juce::String& shortcutKeyText,
                            const juce::Drawable* icon, const juce::Colour* textColour) override;

    /** Drop shadow only. */
    int getMenuWindowFlags() override;

    void drawLinearSlider (juce::Graphics&, int x, int y, int width, int height,
                           float sliderPos, float minSliderPos, float maxSliderPos,
                           const juce::Slider::SliderStyle, juce::Slider&) override;

    void drawRotarySlider (juce::Graphics&, int x, int y, int width, int height,
                           float sliderPosProportional, float rotaryStartAngle,
                           float rotaryEndAngle, juce::Slider&) override;

    juce::Rectangle<int> getTooltipBounds (const juce::String& tipText, juce::Point<int> screenPos,
                                           juce::Rectangle<int> parentArea) override;

    void drawTooltip (juce::Graphics&, const juce::String& text, int width, int height) override;

    State& state;

private:
    juce::TextLayout layoutTooltip (const juce::String& text) const;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LookAndFeel)
};

} // namespace cvx::style
