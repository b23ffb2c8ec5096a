#include "EditorTestSupport.h"

namespace vyx::test
{

//==============================================================================
GestureRecorder::GestureRecorder (juce::AudioProcessor& p) : processor (p)
{
    for (auto* parameter : processor.getParameters())
        parameter->addListener (this);
}

GestureRecorder::~GestureRecorder()
{
    for (auto* parameter : processor.getParameters())
        parameter->removeListener (this);
}

void GestureRecorder::parameterValueChanged (int index, float newValue)
{
    const std::lock_guard<std::mutex> guard (lock);
    events.push_back ({ index, Kind::value, newValue });
}

void GestureRecorder::parameterGestureChanged (int index, bool starting)
{
    const std::lock_guard<std::mutex> guard (lock);
    events.push_back ({ index, starting ? Kind::begin : Kind::end, 0.0f });
}

std::vector<GestureRecorder::Event> GestureRecorder::all() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return events;
}

std::vector<GestureRecorder::Event> GestureRecorder::eventsFor (int index) const
{
    std::vector<Event> result;
    for (const auto& e : all())
        if (e.index == index)
            result.push_back (e);
    return result;
}

std::set<int> GestureRecorder::touched() const
{
    std::set<int> result;
    for (const auto& e : all())
        result.insert (e.index);
    return result;
}

float GestureRecorder::lastValue (int index) const
{
    float last = -1.0f;
    for (const auto& e : eventsFor (index))
        if (e.kind == Kind::value)
            last = e.value;
    return last;
}

::testing::AssertionResult GestureRecorder::hasCompleteGestures (int index, int count) const
{
    const auto list = eventsFor (index);
    int complete = 0, valuesInGesture = 0;
    bool open = false;

    for (size_t i = 0; i < list.size(); ++i)
    {
        const auto& e = list[i];
        if (e.kind == Kind::begin)
        {
            if (open)
                return ::testing::AssertionFailure() << "event " << i << ": a gesture begins inside another";
            open = true;
            valuesInGesture = 0;
        }
        else if (e.kind == Kind::value)
        {
            if (! open)
                return ::testing::AssertionFailure() << "event " << i << ": a value change outside a gesture";
            ++valuesInGesture;
        }
        else
        {
            if (! open)
                return ::testing::AssertionFailure() << "event " << i << ": a gesture ends that never began";
            if (valuesInGesture == 0)
                return ::testing::AssertionFailure() << "event " << i << ": a gesture without a value change";
            open = false;
            ++complete;
        }
    }

    if (open)
        return ::testing::AssertionFailure() << "the last gesture never ends";
    if (complete != count)
        return ::testing::AssertionFailure() << complete << " complete gestures, expected " << count;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult GestureRecorder::isEmpty() const
{
    const auto list = all();
    if (list.empty())
        return ::testing::AssertionSuccess();

    auto failure = ::testing::AssertionFailure() << list.size() << " events, first on parameter index "
                                                 << list.front().index;
    return failure;
}

void GestureRecorder::clear()
{
    const std::lock_guard<std::mutex> guard (lock);
    events.clear();
}

int parameterIndex (juce::AudioProcessor& processor, const juce::String& id)
{
    for (auto* parameter : processor.getParameters())
        if (auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*> (parameter))
            if (withId->paramID == id)
                return parameter->getParameterIndex();
    return -1;
}

namespace
{
    // Real windows need the window manager up before the first test touches one.
    [[maybe_unused]] const bool windowManagerInUse = useWindowManager();
} // namespace

//==============================================================================
EditorFixture::EditorFixture (int width, int height)
    : owner (createPluginFilter()),
      vyx (dynamic_cast<VyxAudioProcessor&> (*owner)),
      gestures (*owner),
      eventTime (juce::Time::currentTimeMillis())
{
    openEditor (width, height);
}

EditorFixture::~EditorFixture()
{
    closeEditor();
}

void EditorFixture::openEditor (int width, int height)
{
    closeEditor();
    auto* created = owner->createEditorIfNeeded();
    editor.reset (dynamic_cast<VyxAudioProcessorEditor*> (created));
    if (editor == nullptr)
    {
        delete created;
        ADD_FAILURE() << "the processor made no VyxAudioProcessorEditor";
        return;
    }

    if (width > 0 && height > 0)
        editor->setSize (width, height);
    editor->addToDesktop (0);
    editor->setVisible (true);
    editor->setTopLeftPosition (0, 0);

    // Typing needs the window to hold the keyboard focus, which the window manager gives.
    editor->toFront (true);
    runMessageLoopUntil ([this] { return editor->getPeer() != nullptr && editor->getPeer()->isFocused(); });
}

void EditorFixture::closeEditor()
{
    if (editor != nullptr)
    {
        // Release any press a test left down, so the next window does not start mid-drag.
        if (juce::Desktop::getInstance().getMainMouseSource().isDragging() && editor->getPeer() != nullptr)
            peer().handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, {}, {},
                                     juce::MouseInputSource::defaultPressure,
                                     juce::MouseInputSource::defaultOrientation, ++eventTime);
        editor->removeFromDesktop();
        owner->editorBeingDeleted (editor.get());  // as a host's wrapper does
        editor.reset();
    }
}

void EditorFixture::frames (int n)
{
    if (editor == nullptr)
        return;

    juce::Image image (juce::Image::ARGB, std::max (1, editor->getWidth()), std::max (1, editor->getHeight()), true);
    for (int i = 0; i < n; ++i)
    {
        editor->timerCallback();
        juce::Graphics g (image);
        editor->paintEntireComponent (g, true);
    }
}

juce::Image EditorFixture::snapshot()
{
    return editor->createComponentSnapshot (editor->getLocalBounds(), true, 1.0f);
}

juce::AudioProcessorParameter& EditorFixture::hostParameter (const juce::String& id)
{
    const int index = indexOf (id);
    EXPECT_GE (index, 0) << id;
    return *vyx.getParameters()[std::max (0, index)];
}

int EditorFixture::indexOf (const juce::String& id)
{
    return parameterIndex (vyx, id);
}

juce::ComponentPeer& EditorFixture::peer()
{
    auto* p = editor->getPeer();
    jassert (p != nullptr);
    return *p;
}

void EditorFixture::sendMouse (juce::Component& c, juce::Point<float> p, juce::ModifierKeys mods)
{
    ASSERT_NE (editor, nullptr);
    auto& windowPeer = peer();
    const auto withinPeer = windowPeer.globalToLocal (c.localPointToGlobal (p));
    juce::ModifierKeys::currentModifiers = mods;
    windowPeer.handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, withinPeer, mods,
                                 juce::MouseInputSource::defaultPressure,
                                 juce::MouseInputSource::defaultOrientation, eventTime);
    eventTime += 20;
}

void EditorFixture::mouseMove (juce::Component& c, juce::Point<float> p)
{
    sendMouse (c, p, {});
}

void EditorFixture::mouseDown (juce::Component& c, juce::Point<float> p, juce::ModifierKeys buttons)
{
    eventTime += 1000;  // presses far apart in time are never taken as a double click
    sendMouse (c, p, {});
    sendMouse (c, p, buttons);
}

void EditorFixture::mouseDrag (juce::Component& c, juce::Point<float> p, juce::ModifierKeys buttons)
{
    sendMouse (c, p, buttons);
}

void EditorFixture::mouseUp (juce::Component& c, juce::Point<float> p)
{
    sendMouse (c, p, {});
    juce::ModifierKeys::currentModifiers = {};
}

void EditorFixture::drag (juce::Component& c, juce::Point<float> from, juce::Point<float> to, int steps)
{
    mouseDown (c, from);
    for (int i = 1; i <= steps; ++i)
        mouseDrag (c, from + (to - from) * ((float) i / (float) steps));
    mouseUp (c, to);
}

void EditorFixture::doubleClick (juce::Component& c, juce::Point<float> p)
{
    mouseDown (c, p);
    mouseUp (c, p);
    sendMouse (c, p, juce::ModifierKeys::leftButtonModifier);  // 20 ms after the first release
    mouseUp (c, p);
}

void EditorFixture::rightClick (juce::Component& c, juce::Point<float> p)
{
    mouseDown (c, p, juce::ModifierKeys::rightButtonModifier);
    mouseUp (c, p);
}

void EditorFixture::wheel (juce::Component& c, juce::Point<float> p, float deltaY,
                           juce::ModifierKeys modifiers, bool reversed)
{
    ASSERT_NE (editor, nullptr);
    sendMouse (c, p, {});
    auto& windowPeer = peer();
    juce::MouseWheelDetails details;
    details.deltaX = 0.0f;
    details.deltaY = deltaY;
    details.isReversed = reversed;
    details.isSmooth = false;
    details.isInertial = false;
    juce::ModifierKeys::currentModifiers = modifiers;
    windowPeer.handleMouseWheel (juce::MouseInputSource::InputSourceType::mouse,
                                 windowPeer.globalToLocal (c.localPointToGlobal (p)), eventTime, details);
    juce::ModifierKeys::currentModifiers = {};
    eventTime += 20;
}

void EditorFixture::pressKey (const juce::KeyPress& key)
{
    ASSERT_NE (editor, nullptr);
    peer().handleKeyPress (key);

    // A text editor answers Return and Escape through a posted message.
    juce::MessageManager::getInstance()->runDispatchLoopUntil (2);
}

void EditorFixture::typeText (const juce::String& text)
{
    for (auto character : text)
        pressKey (juce::KeyPress ((int) character, {}, character));
}

} // namespace vyx::test
