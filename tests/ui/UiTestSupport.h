#pragma once

#include "core/CoreTestSupport.h"

namespace vyx::test
{

/** Records what the host sees of one parameter: gesture begins and ends and value changes, in
    order, as "begin", "value" and "end", plus the last normalised value sent. */
class HostParameterLog : private juce::AudioProcessorParameter::Listener
{
public:
    explicit HostParameterLog (juce::AudioProcessorParameter& p) : parameter (p)
    {
        parameter.addListener (this);
    }

    ~HostParameterLog() override { parameter.removeListener (this); }

    /** True when the log is exactly one gesture with at least one value change inside it. */
    bool isOneCompleteGesture() const
    {
        if (events.size() < 3 || events.front() != "begin" || events.back() != "end")
            return false;

        for (size_t i = 1; i + 1 < events.size(); ++i)
            if (events[i] != "value")
                return false;

        return true;
    }

    void clear() { events.clear(); }

    std::vector<juce::String> events;
    float lastValue = -1.0f;

private:
    void parameterValueChanged (int, float newValue) override
    {
        events.push_back ("value");
        lastValue = newValue;
    }

    void parameterGestureChanged (int, bool starting) override
    {
        events.push_back (starting ? "begin" : "end");
    }

    juce::AudioProcessorParameter& parameter;
};

/** A processor on the library's base with the product's parameter layout, for widgets that
    bind to its state. */
struct UiFixture
{
    juce::RangedAudioParameter& hostParameter (const juce::String& id)
    {
        auto* p = processor.state.parameters.getParameter (id);
        jassert (p != nullptr);
        return *p;
    }

    /** The host parameter's plain value. */
    float plain (const juce::String& id)
    {
        auto& p = hostParameter (id);
        return p.convertFrom0to1 (p.getValue());
    }

    RecordingProcessor processor;
    cvx::State& state = processor.state;
};

/** A mouse event on the given component, as the framework would deliver it. */
inline juce::MouseEvent mouseEvent (juce::Component& component, juce::Point<float> position,
                                    juce::ModifierKeys mods = {},
                                    juce::Point<float> mouseDownPosition = {},
                                    bool wasDragged = false)
{
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), position, mods,
                             juce::MouseInputSource::defaultPressure,
                             juce::MouseInputSource::defaultOrientation,
                             juce::MouseInputSource::defaultRotation,
                             juce::MouseInputSource::defaultTiltX,
                             juce::MouseInputSource::defaultTiltY,
                             &component, &component, now, mouseDownPosition, now, 1, wasDragged);
}

inline const juce::ModifierKeys leftButton { juce::ModifierKeys::leftButtonModifier };
inline const juce::ModifierKeys rightButton { juce::ModifierKeys::rightButtonModifier };

/** A window peer that draws nowhere and never takes the keyboard focus. Components inside a
    HeadlessWindow count as showing (a text editor may grab the focus without complaint), yet no
    X window exists, so no other program on the display can move the focus in the middle of a
    test. */
class HeadlessPeer : public juce::ComponentPeer
{
public:
    HeadlessPeer (juce::Component& c, int flags) : juce::ComponentPeer (c, flags) {}

    void* getNativeHandle() const override { return nullptr; }
    void setVisible (bool) override {}
    void setTitle (const juce::String&) override {}
    // The window is where its component says it is.
    void setBounds (const juce::Rectangle<int>&, bool) override {}
    juce::Rectangle<int> getBounds() const override { return component.getBounds(); }
    juce::Point<float> localToGlobal (juce::Point<float> p) override { return p + getBounds().getPosition().toFloat(); }
    juce::Point<float> globalToLocal (juce::Point<float> p) override { return p - getBounds().getPosition().toFloat(); }
    void setMinimised (bool) override {}
    bool isMinimised() const override { return false; }
    void setFullScreen (bool) override {}
    bool isFullScreen() const override { return false; }
    void setIcon (const juce::Image&) override {}
    bool contains (juce::Point<int> p, bool) const override { return getBounds().withZeroOrigin().contains (p); }
    OptionalBorderSize getFrameSizeIfPresent() const override { return {}; }
    juce::BorderSize<int> getFrameSize() const override { return {}; }
    bool setAlwaysOnTop (bool) override { return false; }
    void toFront (bool) override {}
    void toBehind (juce::ComponentPeer*) override {}
    bool isFocused() const override { return false; }
    void grabFocus() override {}
    void repaint (const juce::Rectangle<int>&) override {}
    void performAnyPendingRepaintsNow() override {}
    void setAlpha (float) override {}
    juce::StringArray getAvailableRenderingEngines() override { return {}; }
    void textInputRequired (juce::Point<int>, juce::TextInputTarget&) override {}
};

/** A top-level component on a HeadlessPeer: children show, nothing reaches the display.
    makePeer, when given, makes the window's peer instead (a HeadlessPeer of another kind). */
class HeadlessWindow : public juce::Component
{
public:
    using PeerFactory = std::function<juce::ComponentPeer* (juce::Component& window, int styleFlags)>;

    explicit HeadlessWindow (juce::Component& content, PeerFactory makePeer = {})
        : peerFactory (std::move (makePeer))
    {
        // Far off the screen: the framework also asks where the real pointer is (isMouseOver,
        // the animator's hover test), and the real pointer must never be found inside.
        setBounds (content.getBounds().withZeroOrigin().withPosition (-20000, -20000));
        addAndMakeVisible (content);
        content.setTopLeftPosition (0, 0);
        setVisible (true);
        addToDesktop (0);
    }

    ~HeadlessWindow() override
    {
        removeAllChildren();
        removeFromDesktop();
    }

    juce::ComponentPeer* createNewPeer (int styleFlags, void*) override
    {
        return peerFactory ? peerFactory (*this, styleFlags) : new HeadlessPeer (*this, styleFlags);
    }

private:
    PeerFactory peerFactory;
};

/** Moves the main mouse (with the given buttons) to a point of a HeadlessWindow, as the
    window system would report it: the framework dispatches enter, exit, move, drag, down and up
    to the components under it, and their mouse listeners. */
inline void moveMouse (HeadlessWindow& window, juce::Point<float> position, juce::ModifierKeys buttons = {})
{
    static juce::int64 time = 1000;
    time += 20;
    juce::ModifierKeys::currentModifiers = juce::ModifierKeys::currentModifiers.withoutMouseButtons()
                                                                              .withFlags (buttons.getRawFlags());
    window.getPeer()->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, position, buttons,
                                        juce::MouseInputSource::defaultPressure,
                                        juce::MouseInputSource::defaultOrientation, time);
}

/** Saves a picture a test drew into the artifact folder, for a person to look at. */
inline void saveArtifact (const juce::Image& image, const juce::String& name)
{
    auto file = getArtifactFolder().getChildFile (name + ".png");
    file.deleteFile();
    juce::FileOutputStream out (file);
    juce::PNGImageFormat().writeImageToStream (image, out);
}

} // namespace vyx::test
