#pragma once

namespace cvx::ui
{

/** A plain component whose drawing and actions are function objects set by its owner, with a
    hover animator of its own (off until the owner switches it on). A press with the right
    button or with the control key held runs onRightClick, any other press runs onClick; by
    default the action runs on mouse-down, or on mouse-up when fireOnPress is false. */
class Button : public juce::Component
{
public:
    Button();
    ~Button() override;

    void mouseEnter (const juce::MouseEvent&) override;
    void mouseExit (const juce::MouseEvent&) override;
    void mouseDown (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;

    /** Calls the painter when it is set; otherwise draws nothing. */
    void paint (juce::Graphics&) override;

    enum PressState
    {
        idle = 0,
        over = 1,
        pressed = 2
    };

    Animator animator;
    bool fireOnPress = true;
    std::function<void()> onClick;
    std::function<void()> onRightClick;
    std::function<void (juce::Graphics&, Button&)> painter;
    int pressState = idle;        // 0 idle, 1 pointer over it, 2 pressed
    bool alternatePress = false;  // the last press was a right-click (right button or control key)

private:
    void runAction();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Button)
};

} // namespace cvx::ui
