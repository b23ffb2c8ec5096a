#pragma once

#include <cvx_core/cvx_core.h>

/** The editor's one value overlay for typed entry. It covers the fader strip, stays invisible
    for a short delay after it is started, fades in with a rounded black backing and hosts a
    parameter label that shows and edits one parameter; when the entry closes it fades out.
    The fade advances once per paint call, so the editor's 60 fps repaint is its clock.
    Message thread only. */
class ParameterDisplay : public juce::Component
{
public:
    /** Starts hidden; the owner adds it as a child without making it visible. */
    ParameterDisplay();
    ~ParameterDisplay() override;

    /** Binds the overlay to a parameter and shows it. Typed values are read as a decimal
        number and limited to [min, max]; unit follows the shown value. Ignored while the
        label's text editor is open, so a second request cannot retarget an open entry. */
    void start (cvx::AudioParameter& parameter, float min, float max, const juce::String& unit);

    /** Draws one frame and advances the fade by one step. */
    void paint (juce::Graphics& g) override;

    /** The label covers the whole overlay. */
    void resized() override;

    /** The opacity of the overlay for a fade level; active means the entry is open or pending. */
    static float alphaFor (float level, bool active, int delayMs) noexcept;

    /** The frame duration the fade constants assume: 60 frames per second. */
    static constexpr float frameMs = 16.666666f;
    /** The fade-in length after the delay, in milliseconds. */
    static constexpr float fadeInMs = 150.0f;
    /** The level lost per frame while fading out: the overlay disappears in 9 frames. */
    static constexpr float fadeOutStep = 0.111111f;

    cvx::ui::ParameterLabel label;
    float fadeLevel = 0.0f;           // animation phase, 0..1
    bool showing = true;              // started, and its entry has not closed yet
    int fadeInDelayMs = 250;          // invisible time of a fresh showing, at 60 fps

private:
    bool isActive() const;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ParameterDisplay)
};
