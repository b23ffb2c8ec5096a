namespace cvx::ui
{

Slider::Slider (State& s, AudioParameter& binding)
    : cvx::Component (s, binding.id),
      parameter (binding)
{
    auto* hostParameter = state.parameters.getParameter (binding.id);

    if (hostParameter != nullptr)
    {
        range = hostParameter->getNormalisableRange();
        attachment = std::make_unique<juce::SliderParameterAttachment> (*hostParameter, slider,
                                                                         state.parameters.undoManager);
    }

    setRepaintsOnMouseActivity (true);

    slider.setSliderStyle (juce::Slider::RotaryVerticalDrag);
    slider.setTextBoxStyle (juce::Slider::NoTextBox, true, 0, 0);
    slider.setAlpha (0.0f);
    addAndMakeVisible (slider);

    // A right click reaches the owner and still the framework slider's own mouse-down.
    slider.onMouseDown = [this] (const juce::MouseEvent& e)
    {
        if (e.mods.isRightButtonDown() && onRightClick)
            onRightClick (e);
        return true;
    };

    // Hover follows the pointer over the inner slider, which takes every mouse event.
    animator.attach (&slider);
}

Slider::~Slider()
{
    attachment.reset();

    // The animator belongs to the base and outlives the inner slider it listens to.
    animator.attach (this);
}

void Slider::paint (juce::Graphics& g)
{
    if (painter)
        painter (g, *this);
}

void Slider::resized()
{
    slider.setBounds (getLocalBounds());
}

} // namespace cvx::ui
