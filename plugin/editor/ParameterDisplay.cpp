#include "ParameterDisplay.h"

ParameterDisplay::ParameterDisplay()
{
    // The label calls this whenever its entry closes, committed or cancelled: fade out.
    label.onClose = [this] { showing = false; };
    addAndMakeVisible (label);
}

ParameterDisplay::~ParameterDisplay() = default;

float ParameterDisplay::alphaFor (float level, bool active, int delayMs) noexcept
{
    if (! active || delayMs <= 0)
        return level;

    // While active the overlay stays invisible for the delay, then fades in over fadeInMs.
    const float d = (float) delayMs + fadeInMs;
    return std::max (0.0f, (level * d - (float) delayMs) / fadeInMs);
}

bool ParameterDisplay::isActive() const
{
    return label.label.isBeingEdited() || showing;
}

void ParameterDisplay::start (cvx::AudioParameter& parameter, float min, float max, const juce::String& unit)
{
    if (label.label.isBeingEdited())
        return;

    // A showing that is still visible continues its fade; one that has faded out completely
    // starts over with the delay.
    if (alphaFor (fadeLevel, true, fadeInDelayMs) <= 0.0f)
        fadeLevel = 0.0f;

    label.parameter = &parameter;
    label.unit = unit;
    label.refreshInternal();

    label.textToValue = [min, max] (const juce::String& text)
    {
        const float typed = cvx::ui::ParameterLabel::parseTypedValue (text);
        return typed < min ? min : std::min (max, typed);
    };

    showing = true;
    setVisible (true);
}

void ParameterDisplay::paint (juce::Graphics& g)
{
    const bool active = isActive();
    const float d = (float) fadeInDelayMs + fadeInMs;

    fadeLevel = juce::jlimit (0.0f, 1.0f, fadeLevel + (active ? frameMs / d : -fadeOutStep));
    const float alpha = alphaFor (fadeLevel, active, fadeInDelayMs);

    // The frame that reaches zero is still drawn (fully transparent); the next one is not.
    if (! active && alpha <= 0.0f)
        setVisible (false);

    g.setColour (juce::Colours::black.withAlpha (alpha));
    g.fillRoundedRectangle (getLocalBounds().toFloat(), 10.0f);
    label.setAlpha (juce::jlimit (0.0f, 1.0f, alpha));

    // Follow automation and edits made elsewhere while the overlay is up.
    if (auto* parameter = label.parameter)
    {
        parameter->pull();
        if (parameter->getModulatedValue() != label.lastShown)
            label.refreshInternal();
    }
}

void ParameterDisplay::resized()
{
    label.setBounds (getLocalBounds());
}
