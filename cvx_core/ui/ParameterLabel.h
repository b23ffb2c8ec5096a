#pragma once

namespace cvx::ui
{

/** A line of text showing one parameter's value with a unit. A click opens an empty editor for
    a typed value (digits, '.', '-', and a trailing 'k' for thousands); the wheel nudges the
    value. Every write reaches the host as one complete gesture. Message thread. */
class ParameterLabel : public juce::Component,
                       public juce::TextEditor::InputFilter
{
public:
    ParameterLabel();
    ~ParameterLabel() override;

    /** Opens typed entry with an empty editor. */
    void open();

    /** Shows the bound parameter's modulated value (leaves the text alone while editing).
        Needs parameter to be set. */
    void refreshInternal();

    /** Keeps only the characters of a number: "0123456789.-kK". */
    juce::String filterNewText (juce::TextEditor&, const juce::String& newInput) override;

    void mouseDown (const juce::MouseEvent&) override;

    /** Moves the normalised value by 0.1 x deltaY per wheel step, 0.01 x deltaY with Shift. */
    void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;

    void resized() override;

    /** Reads typed text as a number: the number at its start (0 when there is none), times
        1000 when the text ends in 'k' or 'K'. Owners that convert text themselves use it too. */
    static float parseTypedValue (const juce::String& text);

    std::function<float (const juce::String&)> textToValue;   // typed text to plain value
    std::function<juce::String (float)> valueToText;          // plain value to display text
    std::function<void()> onClose;                            // after every closed edit
    AudioParameter* parameter = nullptr;
    juce::String unit;                                        // appended to the shown value
    juce::Label label;
    float lastShown = 0.0f;                                   // plain value most recently shown

private:
    void commit();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ParameterLabel)
};

} // namespace cvx::ui
