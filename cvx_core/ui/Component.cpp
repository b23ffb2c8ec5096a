namespace cvx
{

//==============================================================================
Animator::~Animator()
{
    stopTimer();
    attach (nullptr);
}

void Animator::attach (juce::Component* componentToAnimate)
{
    if (component != nullptr)
        component->removeMouseListener (this);

    component = componentToAnimate;

    if (component != nullptr)
        component->addMouseListener (this, false);
}

void Animator::mouseEnter (const juce::MouseEvent&)
{
    if (on && ! isTimerRunning())
        startTimerHz ((int) timerRate);
}

bool Animator::isHovered() const
{
    if (component == nullptr)
        return false;

    if (component->isMouseOverOrDragging (false))
        return true;

    const auto pos = component->getMouseXYRelative();
    const bool inside = juce::isPositiveAndBelow (pos.x, component->getWidth())
                        && juce::isPositiveAndBelow (pos.y, component->getHeight())
                        && component->hitTest (pos.x, pos.y);

    // A button held down on some other component means the pointer is busy elsewhere.
    const bool buttonsFree = component->isMouseButtonDown (false)
                             || ! juce::ModifierKeys::currentModifiers.isAnyMouseButtonDown();

    return inside && buttonsFree;
}

void Animator::timerCallback()
{
    const bool hovered = isHovered();
    const float period = (float) getTimerInterval();
    const float old = hoverValue;

    float next = hovered ? old + period / riseTime
                         : old - period / fallTime;

    // A zero time means an instant change (period / 0 is infinite); NaN must not escape.
    if (! std::isfinite (next))
        next = hovered ? 1.0f : 0.0f;

    next = juce::jlimit (0.0f, 1.0f, next);

    if (next != old && component != nullptr)
        component->repaint();

    // Stop once the value rests at 0 with the pointer away, including when the pointer left
    // before the first tick (the value never rose, so it never "fell" to 0).
    if (next == 0.0f && ! hovered)
        stopTimer();

    hoverValue = next;
}

//==============================================================================
Timer::~Timer()
{
    stopTimer();
}

void Timer::timerCallback()
{
    if (callback)
        callback();
}

//==============================================================================
Component::Component (State& s, const juce::String& name)
    : juce::Component (name),
      state (s),
      id (name.isNotEmpty() ? name : juce::String ("Component"))
{
    animator.attach (this);
    repaintTimer.callback = [this] { repaint(); };

    // Only look: a child created here would be saved with the host's project and grow it by
    // one empty tree every time the editor opens.
    tree = state.properties.getChildWithName (id);
    if (! tree.isValid())
        tree = juce::ValueTree (id);
}

Component::~Component()
{
    repaintTimer.stopTimer();
    repaintTimer.callback = nullptr;
}

} // namespace cvx
