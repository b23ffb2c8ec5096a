#pragma once

#include "TestSupport.h"
#include "plugin/PluginProcessor.h"
#include "plugin/PluginEditor.h"

#include <mutex>
#include <set>

namespace vyx::test
{

/** Records what a host sees of editor edits: every gesture begin, value change and gesture end
    on every host-side parameter of a processor, by parameter index, in arrival order. */
class GestureRecorder : private juce::AudioProcessorParameter::Listener
{
public:
    enum class Kind { begin, value, end };

    struct Event
    {
        int index;
        Kind kind;
        float value;  // normalised value for Kind::value, 0 otherwise
    };

    explicit GestureRecorder (juce::AudioProcessor& processor);
    ~GestureRecorder() override;

    /** Every event so far, all parameters. */
    std::vector<Event> all() const;

    /** The events of one parameter. */
    std::vector<Event> eventsFor (int index) const;

    /** The indices of the parameters that received any event. */
    std::set<int> touched() const;

    /** The normalised value of the last value event of a parameter; -1 when there was none. */
    float lastValue (int index) const;

    /** Succeeds when the parameter's events are exactly `count` complete gestures: each a
        begin, one or more value changes, an end; nothing outside a gesture. */
    ::testing::AssertionResult hasCompleteGestures (int index, int count = 1) const;

    /** Succeeds when no parameter received any event. */
    ::testing::AssertionResult isEmpty() const;

    void clear();

private:
    void parameterValueChanged (int index, float newValue) override;
    void parameterGestureChanged (int index, bool starting) override;

    juce::AudioProcessor& processor;
    mutable std::mutex lock;
    std::vector<Event> events;
};

/** The host-side index of the parameter with this id, -1 when none has it. */
int parameterIndex (juce::AudioProcessor& processor, const juce::String& id);

/** A product processor created the way the host creates it, with its editor open in a real
    window (a desktop peer, under Xvfb in the tests) and a recorder of host gestures.
    Mouse and key helpers send synthesized events through the window's peer, so they take the
    framework's full path: hit testing, enter/exit, mouse listeners, focus, drag thresholds. */
struct EditorFixture
{
    /** Opens the editor at the given size. */
    explicit EditorFixture (int width = 440, int height = 330);
    ~EditorFixture();

    /** Opens the editor (closing an open one first) and puts it on the desktop. A size of 0
        keeps the size the editor chooses itself from the state. */
    void openEditor (int width = 0, int height = 0);
    void closeEditor();

    /** Runs the editor's frame clock n times: what n ticks of its 16 ms timer do, with the
        repaint carried out at once into an offscreen image (so per-paint fades advance). */
    void frames (int n);

    /** The whole editor painted into an image, as a host repaint draws it. */
    juce::Image snapshot();

    /** The host-side parameter with this id; fails the test when there is none. */
    juce::AudioProcessorParameter& hostParameter (const juce::String& id);
    int indexOf (const juce::String& id);

    // Synthesized input at a point in a component's own coordinates (float pixels).
    void mouseMove (juce::Component& c, juce::Point<float> p);
    void mouseDown (juce::Component& c, juce::Point<float> p,
                    juce::ModifierKeys buttons = juce::ModifierKeys::leftButtonModifier);
    void mouseDrag (juce::Component& c, juce::Point<float> p,
                    juce::ModifierKeys buttons = juce::ModifierKeys::leftButtonModifier);
    void mouseUp (juce::Component& c, juce::Point<float> p);

    /** Press at `from`, drag in `steps` even moves to `to`, release there. */
    void drag (juce::Component& c, juce::Point<float> from, juce::Point<float> to, int steps = 8);

    /** A right-button press and release at a point. */
    void rightClick (juce::Component& c, juce::Point<float> p);

    /** Two left clicks at a point, close enough in time to count as a double click. */
    void doubleClick (juce::Component& c, juce::Point<float> p);

    /** One wheel event; `modifiers` (for example Shift) are held during it. */
    void wheel (juce::Component& c, juce::Point<float> p, float deltaY,
                juce::ModifierKeys modifiers = {}, bool reversed = false);

    /** A key press delivered to the focused component of the window, then a moment of the
        message loop (a text editor answers Return and Escape through a posted message). */
    void pressKey (const juce::KeyPress& key);

    /** Types each character as its own key press. */
    void typeText (const juce::String& text);

    std::unique_ptr<juce::AudioProcessor> owner;
    VyxAudioProcessor& vyx;
    GestureRecorder gestures;
    std::unique_ptr<VyxAudioProcessorEditor> editor;

private:
    void sendMouse (juce::Component& c, juce::Point<float> p, juce::ModifierKeys mods);
    juce::ComponentPeer& peer();

    juce::int64 eventTime = 0;  // synthesized clock, far apart per press: no double clicks
};

/** A saturated blue theme colour, far from every other colour the editor draws with. */
inline const juce::Colour saturatedTheme { 0xff1f6fd6 };

} // namespace vyx::test
