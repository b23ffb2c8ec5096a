#include "UiTestSupport.h"

namespace vyx::test
{
namespace
{

struct SliderFixture : UiFixture
{
    explicit SliderFixture (const juce::String& id) : binding (state, id), control (state, binding)
    {
        control.setSize (60, 200);
    }

    /** Presses at (30, 100), drags by dy pixels (negative = up) and releases. */
    void drag (float dy, juce::ModifierKeys mods = leftButton)
    {
        auto& inner = control.slider;
        const juce::Point<float> start { 30.0f, 100.0f };
        inner.mouseDown (mouseEvent (inner, start, mods, start));
        inner.mouseDrag (mouseEvent (inner, start.translated (0.0f, dy * 0.5f), mods, start, true));
        inner.mouseDrag (mouseEvent (inner, start.translated (0.0f, dy), mods, start, true));
        inner.mouseUp (mouseEvent (inner, start.translated (0.0f, dy), mods, start, true));
    }

    cvx::AudioParameter binding;
    cvx::ui::Slider control;
};

TEST (SliderTests, IsNamedByItsParameterAndCopiesItsRange)
{
    SliderFixture f ("CR0");
    const auto& hostRange = f.hostParameter ("CR0").getNormalisableRange();

    EXPECT_EQ (f.control.getName(), "CR0");
    EXPECT_EQ (f.control.range.start, hostRange.start);
    EXPECT_EQ (f.control.range.end, hostRange.end);
    for (const float hz : { 20.0f, 550.0f, 2500.0f, 44000.0f })
        EXPECT_FLOAT_EQ (f.control.range.convertTo0to1 (hz), hostRange.convertTo0to1 (hz));

    ASSERT_NE (f.control.attachment, nullptr);
    EXPECT_EQ (&f.control.parameter, &f.binding);
}

TEST (SliderTests, InnerSliderCoversTheControlTakesTheMouseAndIsInvisible)
{
    SliderFixture f ("IN");
    f.control.setBounds (10, 20, 77, 33);

    EXPECT_EQ (f.control.slider.getBounds(), juce::Rectangle<int> (0, 0, 77, 33));
    EXPECT_EQ (f.control.getNumChildComponents(), 1);
    EXPECT_EQ (f.control.slider.getSliderStyle(), juce::Slider::RotaryVerticalDrag);
    EXPECT_EQ (f.control.animator.component, &f.control.slider);

    // No painter: nothing shows, although the framework would draw a rotary knob.
    const auto image = f.control.createComponentSnapshot (f.control.getLocalBounds());
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            ASSERT_EQ (image.getPixelAt (x, y).getAlpha(), 0) << x << "," << y;
}

TEST (SliderTests, PaintsThroughItsPainter)
{
    SliderFixture f ("IN");
    cvx::ui::Slider* painted = nullptr;
    f.control.painter = [&painted] (juce::Graphics& g, cvx::ui::Slider& s)
    {
        painted = &s;
        g.fillAll (juce::Colours::blue);
    };

    const auto image = f.control.createComponentSnapshot (f.control.getLocalBounds());
    EXPECT_EQ (painted, &f.control);
    EXPECT_EQ (image.getPixelAt (30, 100), juce::Colours::blue);
}

// 250 pixels of vertical drag cover the whole normalised range; up raises the value.
TEST (SliderTests, VerticalDragMovesTheNormalisedValueOneRangePer250Pixels)
{
    struct Case { const char* id; float startPlain; float dy; };
    const Case cases[] = {
        { "IN", -80.0f, -250.0f },    // bottom to top
        { "IN", 12.0f, 125.0f },      // top, half way down
        { "IN", 0.0f, -50.0f },
        { "CR0", 550.0f, -100.0f },   // skewed frequency range: proportional to the normalised value
        { "CR0", 2500.0f, 400.0f },   // past the bottom: held at 0
        { "THD0", -8.0f, -300.0f },   // past the top: held at 1
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.id) + " from " + juce::String (c.startPlain) + " by " + juce::String (c.dy));
        SliderFixture f (c.id);
        setPlain (f.state, c.id, c.startPlain);

        auto& host = f.hostParameter (c.id);
        const float start = host.getValue();
        HostParameterLog log (host);

        f.drag (c.dy);

        const float expected = juce::jlimit (0.0f, 1.0f, start - c.dy / 250.0f);
        EXPECT_NEAR (host.getValue(), expected, 1.0e-4f);
        EXPECT_TRUE (log.isOneCompleteGesture()) << juce::StringArray (log.events.data(), (int) log.events.size()).joinIntoString (" ");
    }
}

TEST (SliderTests, HostChangesMoveTheInnerSlider)
{
    SliderFixture f ("THD0");
    setPlain (f.state, "THD0", -30.0f);
    EXPECT_NEAR (f.control.slider.getValue(), -30.0, 1.0e-4);
}

TEST (SliderTests, RightClickReachesTheOwnerAndStillTheFrameworkSlider)
{
    SliderFixture f ("IN");
    int rightClicks = 0;
    juce::Point<float> where;
    f.control.onRightClick = [&] (const juce::MouseEvent& e)
    {
        ++rightClicks;
        where = e.position;
    };

    HostParameterLog log (f.hostParameter ("IN"));
    auto& inner = f.control.slider;
    inner.mouseDown (mouseEvent (inner, { 12, 34 }, rightButton, { 12, 34 }));
    inner.mouseUp (mouseEvent (inner, { 12, 34 }, rightButton, { 12, 34 }));

    EXPECT_EQ (rightClicks, 1);
    EXPECT_EQ (where, juce::Point<float> (12, 34));

    // The framework slider started (and ended) a drag of its own: a gesture without a value.
    const std::vector<juce::String> expected { "begin", "end" };
    EXPECT_EQ (log.events, expected);
}

TEST (SliderTests, LeftClickDoesNotCallTheRightClickFunction)
{
    SliderFixture f ("IN");
    int rightClicks = 0;
    f.control.onRightClick = [&] (const juce::MouseEvent&) { ++rightClicks; };
    f.drag (-10.0f);
    EXPECT_EQ (rightClicks, 0);
}

// The hover animator listens to the inner slider, which takes every mouse event.
TEST (SliderTests, HoverFadesInOverTheControlAndOutAfterLeaving)
{
    SliderFixture f ("IN");
    auto& animator = f.control.animator;
    animator.riseTime = 60.0f;
    animator.fallTime = 150.0f;
    animator.on = true;

    HeadlessWindow window (f.control);
    moveMouse (window, { 30, 100 });
    ASSERT_TRUE (animator.isTimerRunning());
    EXPECT_TRUE (animator.isHovered());

    for (int k = 0; k < 4; ++k)
        animator.timerCallback();
    EXPECT_EQ (animator.hoverValue, 1.0f);

    moveMouse (window, { 30, 300 });   // below the control, outside the window
    EXPECT_FALSE (animator.isHovered());
    for (int k = 0; k < 10; ++k)
        animator.timerCallback();
    EXPECT_EQ (animator.hoverValue, 0.0f);
    EXPECT_FALSE (animator.isTimerRunning());
}

TEST (SliderTests, RealDragThroughTheWindowIsOneGesture)
{
    SliderFixture f ("THD0");
    auto& host = f.hostParameter ("THD0");
    const float start = host.getValue();
    HostParameterLog log (host);

    HeadlessWindow window (f.control);
    moveMouse (window, { 30, 150 });
    moveMouse (window, { 30, 150 }, leftButton);
    moveMouse (window, { 30, 120 }, leftButton);
    moveMouse (window, { 30, 100 }, leftButton);
    moveMouse (window, { 30, 100 });
    moveMouse (window, { 30, 300 });

    EXPECT_NEAR (host.getValue(), juce::jlimit (0.0f, 1.0f, start + 50.0f / 250.0f), 1.0e-4f);
    EXPECT_TRUE (log.isOneCompleteGesture());
}

// The wrapper's hooks run first; one that returns false keeps the event from the slider.
TEST (MouseWrapperTests, HooksRunFirstAndMayVetoTheSlidersHandling)
{
    enum Hook { none, down, drag, up };
    struct Case { Hook veto; bool dragStarted, valueChanged, dragEnded; };
    const Case cases[] = {
        { none, true, true, true },
        { down, false, false, false },
        { drag, true, false, true },
        { up, true, true, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE ((int) c.veto);

        // Declared before the slider: a drag left open ends when the slider is destroyed.
        std::vector<Hook> order;
        bool started = false, changed = false, ended = false;

        cvx::MouseWrapper<juce::Slider> slider;
        slider.setSliderStyle (juce::Slider::RotaryVerticalDrag);
        slider.setRange (0.0, 1.0);
        slider.setValue (0.5);
        slider.setSize (50, 50);
        slider.onDragStart = [&] { started = true; };
        slider.onValueChange = [&] { changed = true; };
        slider.onDragEnd = [&] { ended = true; };
        slider.onMouseDown = [&] (const juce::MouseEvent&) { order.push_back (down); return c.veto != down; };
        slider.onMouseDrag = [&] (const juce::MouseEvent&) { order.push_back (drag); return c.veto != drag; };
        slider.onMouseUp = [&] (const juce::MouseEvent&) { order.push_back (up); return c.veto != up; };

        const juce::Point<float> start { 25, 25 };
        slider.mouseDown (mouseEvent (slider, start, leftButton, start));
        slider.mouseDrag (mouseEvent (slider, { 25, 0 }, leftButton, start, true));
        slider.mouseUp (mouseEvent (slider, { 25, 0 }, leftButton, start, true));

        EXPECT_EQ (order, (std::vector<Hook> { down, drag, up }));
        EXPECT_EQ (started, c.dragStarted);
        EXPECT_EQ (changed, c.valueChanged);
        EXPECT_EQ (ended, c.dragEnded);
    }
}

TEST (MouseWrapperTests, EmptyHooksLeaveTheSliderAsItIs)
{
    cvx::MouseWrapper<juce::Slider> slider;
    slider.setSliderStyle (juce::Slider::RotaryVerticalDrag);
    slider.setRange (0.0, 1.0);
    slider.setSize (50, 50);

    const juce::Point<float> start { 25, 25 };
    slider.mouseDown (mouseEvent (slider, start, leftButton, start));
    slider.mouseDrag (mouseEvent (slider, { 25, -100 }, leftButton, start, true));
    slider.mouseUp (mouseEvent (slider, { 25, -100 }, leftButton, start, true));
    EXPECT_NEAR (slider.getValue(), 0.5, 1.0e-9);   // 125 px of 250
}

} // namespace
} // namespace vyx::test
