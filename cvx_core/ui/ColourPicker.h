#pragma once

namespace cvx::ui
{

/** A hue strip for a popup menu: a click or drag in it writes the colour under the pointer
    (saturation 0.75, brightness 0.5) into a tree property as lower-case hexadecimal ARGB, and
    keeps the menu open. The strip itself is drawn brighter (0.85) than the colour it stores.
    Message thread. */
class ColourPicker : public juce::PopupMenu::CustomComponent
{
public:
    /** Writes into the given tree (shared, not copied) under the key; idealHeight in pixels. */
    ColourPicker (juce::ValueTree& tree, const juce::Identifier& key, int idealHeight);
    ~ColourPicker() override;

    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void paint (juce::Graphics&) override;

    /** Keeps the proposed width (the menu's column), asks for the stored height. */
    void getIdealSize (int& idealWidth, int& idealHeight) override;

    /** The colour a pointer at x (pixels from the left) picks in a strip w pixels wide. */
    static juce::Colour colourAt (int x, int w);

    const float hueOffset;
    const int height;
    std::function<void (const juce::Colour&)> onColour;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ColourPicker)
};

} // namespace cvx::ui
