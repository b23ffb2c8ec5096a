#pragma once

namespace cvx
{

/** A hover amount between 0 and 1 for one component: it rises while the pointer is over the
    component and falls after it leaves, stepped by its own timer, and repaints the component
    whenever it changes. Painters read hoverValue to fade their colours. Message thread. */
class Animator : public juce::Timer,
                 public juce::MouseListener
{
public:
    Animator() = default;

    /** Stops the timer and stops listening to the component. */
    ~Animator() override;

    /** Listens to the given component's mouse events (and stops listening to the previous one);
        this is the component that is animated and repainted. */
    void attach (juce::Component* componentToAnimate);

    /** Starts the timer at timerRate (whole Hz) when the animation is on and not yet running. */
    void mouseEnter (const juce::MouseEvent&) override;

    /** One step: rises by period / riseTime while hovered, falls by period / fallTime otherwise,
        kept within 0..1; repaints on a change and stops once the value rests at 0. */
    void timerCallback() override;

    /** True when the pointer is over the component (or dragging on it), or when the pointer lies
        within the component while no other component holds a mouse button down. */
    bool isHovered() const;

    // Forgets a component destroyed before the animator (a slider's inner slider goes before
    // the animator of its base), so neither the timer nor the destructor touches it.
    juce::Component::SafePointer<juce::Component> component;
    float hoverValue = 0.0f;   // 0..1
    float timerRate = 60.0f;   // Hz while animating
    float riseTime = 100.0f;   // ms from 0 to 1
    float fallTime = 100.0f;   // ms from 1 to 0
    bool on = false;           // the animation runs only when true

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Animator)
};

/** A timer that calls a stored function on each tick; an empty function does nothing. */
class Timer : public juce::Timer
{
public:
    Timer() = default;
    ~Timer() override;

    void timerCallback() override;

    std::function<void()> callback;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Timer)
};

/** Base of the editor's named panels: knows the shared state, carries a hover animator (off
    until the owner switches it on), a repaint timer and a value tree of its own. */
class Component : public juce::Component
{
public:
    /** Identifiers kept for the panels' own trees; nothing reads or writes them at present. */
    struct PropertyIDs
    {
        static inline const juce::Identifier colour { "colour" };
        static inline const juce::Identifier scale { "scale" };
    };

    /** Makes a component with the given name, bound to the state. Its tree is the child of the
        state's Properties tree whose type is the name when there is one; otherwise it is a
        detached empty tree, so opening an editor never adds anything to what the host saves. */
    Component (State& state, const juce::String& name);
    ~Component() override;

    Animator animator;
    State& state;
    juce::Identifier id;
    juce::ValueTree tree;
    Timer repaintTimer;   // callback repaints the whole component; started by nobody

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Component)
};

} // namespace cvx
