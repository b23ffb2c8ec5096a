#pragma once

namespace cvx
{

template <typename SliderType>
class MouseWrapper;

/** The framework slider with three hooks that run before its own mouse handling: a hook that
    returns false ends the event there; an empty hook, or one returning true, lets the slider
    handle it as usual. */
template <>
class MouseWrapper<juce::Slider> : public juce::Slider
{
public:
    MouseWrapper() = default;
    ~MouseWrapper() override = default;

    void mouseDown (const juce::MouseEvent& e) override
    {
        if (! onMouseDown || onMouseDown (e))
            juce::Slider::mouseDown (e);
    }

    void mouseDrag (const juce::MouseEvent& e) override
    {
        if (! onMouseDrag || onMouseDrag (e))
            juce::Slider::mouseDrag (e);
    }

    void mouseUp (const juce::MouseEvent& e) override
    {
        if (! onMouseUp || onMouseUp (e))
            juce::Slider::mouseUp (e);
    }

    std::function<bool (const juce::MouseEvent&)> onMouseDown;
    std::function<bool (const juce::MouseEvent&)> onMouseUp;
    std::function<bool (const juce::MouseEvent&)> onMouseDrag;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MouseWrapper)
};

namespace ui
{

/** A control bound to one parameter: a transparent framework slider covering the control does
    the mouse handling (vertical drag, 250 pixels for the whole range) and the host attachment,
    while the control draws itself through the owner's painter. Named by the parameter's id. */
class Slider : public cvx::Component
{
public:
    /** Binds to the host parameter with the binding's id; when the state has none, the slider
        stays unattached and changes nothing. */
    Slider (State& state, AudioParameter& parameter);

    /** Releases the attachment before the slider it refers to. */
    ~Slider() override;

    /** Calls painter (g, *this) when it is set; otherwise draws nothing. */
    void paint (juce::Graphics& g) override;

    /** The inner slider covers the whole control. */
    void resized() override;

    std::function<void (juce::Graphics&, Slider&)> painter;
    std::function<void (const juce::MouseEvent&)> onRightClick;   // right-button mouse-down
    juce::NormalisableRange<float> range;
    MouseWrapper<juce::Slider> slider;
    std::unique_ptr<juce::SliderParameterAttachment> attachment;
    AudioParameter& parameter;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Slider)
};

} // namespace ui
} // namespace cvx
