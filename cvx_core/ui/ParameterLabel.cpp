namespace cvx::ui
{

ParameterLabel::ParameterLabel()
{
    label.setInterceptsMouseClicks (false, false);

    label.setColour (juce::Label::backgroundColourId, juce::Colours::transparentBlack);
    label.setColour (juce::Label::outlineColourId, juce::Colours::transparentBlack);
    label.setColour (juce::Label::backgroundWhenEditingColourId, juce::Colours::transparentBlack);
    label.setColour (juce::Label::outlineWhenEditingColourId, juce::Colours::transparentBlack);
    label.setColour (juce::Label::textColourId, juce::Colours::white);
    label.setColour (juce::Label::textWhenEditingColourId, juce::Colours::white);
    label.setFont (assets::fonts::Montserrat::Bold.withHeight (20.0f));
    label.setJustificationType (juce::Justification::centred);
    label.onEditorHide = [this] { commit(); };

    addAndMakeVisible (label);
}

ParameterLabel::~ParameterLabel()
{
    // Hiding an open editor from here must not write anything.
    label.onEditorHide = nullptr;
}

float ParameterLabel::parseTypedValue (const juce::String& text)
{
    const auto trimmed = text.trim();
    const float number = (float) readNumber (trimmed);

    // "2.5k" is how people type 2500 Hz.
    if (trimmed.endsWithIgnoreCase ("k"))
        return number * 1000.0f;

    return number;
}

juce::String ParameterLabel::filterNewText (juce::TextEditor&, const juce::String& newInput)
{
    return newInput.retainCharacters ("0123456789.-kK");
}

void ParameterLabel::mouseDown (const juce::MouseEvent&)
{
    open();
}

void ParameterLabel::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    if (parameter == nullptr)
        return;

    float step = 0.1f * (wheel.isReversed ? -wheel.deltaY : wheel.deltaY);
    if (e.mods.isShiftDown())
        step *= 0.1f;

    parameter->push0to1 (parameter->getModulatedNormalisedValue() + step);
    refreshInternal();
}

void ParameterLabel::resized()
{
    label.setBounds (getLocalBounds());
}

void ParameterLabel::refreshInternal()
{
    jassert (parameter != nullptr);
    if (parameter == nullptr)
        return;

    lastShown = parameter->getModulatedValue();

    if (label.getCurrentTextEditor() != nullptr)
        return;

    const auto text = valueToText ? valueToText (lastShown)
                                  : juce::String ((double) lastShown, 1);

    label.setText (text + unit, juce::dontSendNotification);
}

void ParameterLabel::open()
{
    label.setText ({}, juce::dontSendNotification);
    label.showEditor();

    auto* editor = label.getCurrentTextEditor();
    if (editor == nullptr)
        return;

    editor->setInputFilter (this, false);

    editor->setColour (juce::TextEditor::backgroundColourId, juce::Colours::transparentBlack);
    editor->setColour (juce::TextEditor::outlineColourId, juce::Colours::transparentBlack);
    editor->setColour (juce::TextEditor::focusedOutlineColourId, juce::Colours::transparentBlack);
    editor->setColour (juce::TextEditor::shadowColourId, juce::Colours::transparentBlack);
    editor->setColour (juce::TextEditor::textColourId, juce::Colours::white);
    editor->setColour (juce::TextEditor::highlightColourId, juce::Colours::white);
    editor->setColour (juce::TextEditor::highlightedTextColourId, juce::Colours::black);
    editor->setJustification (juce::Justification::centred);

    editor->onFocusLost = [this]
    {
        if (parameter == nullptr)
            return;

        parameter->pull();
        if (parameter->getModulatedValue() != lastShown)
            refreshInternal();
    };
}

void ParameterLabel::commit()
{
    if (parameter == nullptr)
        return;

    const auto text = label.getText();

    if (text.isNotEmpty())
    {
        const float v = textToValue ? textToValue (text) : parseTypedValue (text);
        parameter->pushPlain (v);
    }

    refreshInternal();

    if (onClose)
        onClose();
}

} // namespace cvx::ui
