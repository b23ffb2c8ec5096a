namespace cvx::ui
{

Button::Button()
{
    animator.attach (this);
    setRepaintsOnMouseActivity (true);
}

Button::~Button()
{
    painter = nullptr;
    onRightClick = nullptr;
    onClick = nullptr;
}

void Button::mouseEnter (const juce::MouseEvent&)
{
    pressState = over;
}

void Button::mouseExit (const juce::MouseEvent&)
{
    pressState = idle;
}

void Button::mouseDown (const juce::MouseEvent& e)
{
    pressState = pressed;
    alternatePress = e.mods.isRightButtonDown() || e.mods.isCtrlDown();

    if (fireOnPress)
        runAction();
}

void Button::mouseUp (const juce::MouseEvent&)
{
    // The action may delete or hide this button: read what is needed first.
    const juce::Component::SafePointer<Button> safeThis (this);

    if (! fireOnPress)
        runAction();

    if (safeThis != nullptr)
        pressState = isMouseOver (false) ? over : idle;
}

void Button::runAction()
{
    // Copy, so that an action replacing itself does not destroy the function being run.
    const auto action = alternatePress ? onRightClick : onClick;
    if (action)
        action();
}

void Button::paint (juce::Graphics& g)
{
    if (painter)
        painter (g, *this);
}

} // namespace cvx::ui
