#include "UiTestSupport.h"

namespace vyx::test
{
namespace
{

/** A component the animator can watch. Without a window, "hovered" comes from the pointer's
    screen position: a component spanning far beyond the screen contains the pointer wherever it
    is, and one placed far off the screen never does. */
struct Watched
{
    Watched()
    {
        animator.attach (&component);
        pointerAway();
    }

    void pointerOver() { component.setBounds (-50000, -50000, 100000, 100000); }
    void pointerAway() { component.setBounds (-50000, -50000, 10, 10); }

    void enter() { animator.mouseEnter (mouseEvent (component, {})); }

    juce::Component component;
    cvx::Animator animator;
};

TEST (AnimatorTests, StartsWithTheDocumentedSettings)
{
    cvx::Animator animator;
    EXPECT_EQ (animator.component, nullptr);
    EXPECT_EQ (animator.hoverValue, 0.0f);
    EXPECT_EQ (animator.timerRate, 60.0f);
    EXPECT_EQ (animator.riseTime, 100.0f);
    EXPECT_EQ (animator.fallTime, 100.0f);
    EXPECT_FALSE (animator.on);
}

TEST (AnimatorTests, HoverFollowsThePointerPosition)
{
    Watched w;
    EXPECT_FALSE (w.animator.isHovered());
    w.pointerOver();
    EXPECT_TRUE (w.animator.isHovered());
}

TEST (AnimatorTests, RisesThenFallsInStepsOfPeriodOverTime)
{
    struct Case { float rate, rise, fall; };
    const Case cases[] = {
        { 60.0f, 60.0f, 150.0f },    // the panels' settings: 16 ms period
        { 60.0f, 100.0f, 100.0f },   // the defaults
        { 30.5f, 200.0f, 45.0f },    // the rate is truncated to 30 Hz: 33 ms
        { 100.0f, 7.0f, 995.0f },    // a rise shorter than one period
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.rate) + " Hz, " + juce::String (c.rise) + "/" + juce::String (c.fall) + " ms");

        Watched w;
        w.animator.timerRate = c.rate;
        w.animator.riseTime = c.rise;
        w.animator.fallTime = c.fall;
        w.animator.on = true;

        w.pointerOver();
        w.enter();
        ASSERT_TRUE (w.animator.isTimerRunning());

        const int period = 1000 / (int) c.rate;
        ASSERT_EQ (w.animator.getTimerInterval(), period);

        const float up = (float) period / c.rise;
        const float down = (float) period / c.fall;

        // Rising: k ticks give min (1, k x up); the timer keeps running while resting at 1.
        const int ticksUp = (int) std::ceil (1.0f / up) + 2;
        for (int k = 1; k <= ticksUp; ++k)
        {
            w.animator.timerCallback();
            EXPECT_NEAR (w.animator.hoverValue, std::min (1.0f, (float) k * up), 1.0e-4f) << "tick " << k;
            EXPECT_TRUE (w.animator.isTimerRunning());
        }
        EXPECT_EQ (w.animator.hoverValue, 1.0f);

        // Falling from 1: the timer stops on the tick that reaches 0.
        w.pointerAway();
        const int ticksDown = (int) std::ceil (1.0f / down - 1.0e-4f);
        for (int k = 1; k <= ticksDown; ++k)
        {
            w.animator.timerCallback();
            EXPECT_NEAR (w.animator.hoverValue, std::max (0.0f, 1.0f - (float) k * down), 1.0e-4f) << "tick " << k;
            EXPECT_EQ (w.animator.isTimerRunning(), k < ticksDown) << "tick " << k;
        }
        EXPECT_EQ (w.animator.hoverValue, 0.0f);

        // The next entry starts it again.
        w.pointerOver();
        w.enter();
        EXPECT_TRUE (w.animator.isTimerRunning());
        w.animator.stopTimer();
    }
}

TEST (AnimatorTests, PanelSettingsReachOneAfterFourTicksAndZeroAfterTen)
{
    Watched w;
    w.animator.riseTime = 60.0f;
    w.animator.fallTime = 150.0f;
    w.animator.on = true;
    w.pointerOver();
    w.enter();

    for (int k = 0; k < 3; ++k)
        w.animator.timerCallback();
    EXPECT_LT (w.animator.hoverValue, 1.0f);
    w.animator.timerCallback();
    EXPECT_EQ (w.animator.hoverValue, 1.0f);

    w.pointerAway();
    for (int k = 0; k < 9; ++k)
        w.animator.timerCallback();
    EXPECT_GT (w.animator.hoverValue, 0.0f);
    EXPECT_TRUE (w.animator.isTimerRunning());
    w.animator.timerCallback();
    EXPECT_EQ (w.animator.hoverValue, 0.0f);
    EXPECT_FALSE (w.animator.isTimerRunning());
}

// The pointer can enter and leave within one period: the value never rose, so it never "fell"
// to 0, yet the timer must not be left running for ever.
TEST (AnimatorTests, PointerThatLeftBeforeTheFirstTickStopsTheTimer)
{
    Watched w;
    w.animator.on = true;
    w.pointerAway();
    w.enter();
    ASSERT_TRUE (w.animator.isTimerRunning());

    w.animator.timerCallback();

    EXPECT_EQ (w.animator.hoverValue, 0.0f);
    EXPECT_FALSE (w.animator.isTimerRunning());
}

TEST (AnimatorTests, SwitchedOffNeverStartsAndStaysAtZero)
{
    Watched w;
    w.pointerOver();
    w.enter();
    EXPECT_FALSE (w.animator.isTimerRunning());

    w.animator.timerCallback();
    EXPECT_EQ (w.animator.hoverValue, 0.0f);
}

TEST (AnimatorTests, ValueNeverLeavesZeroToOne)
{
    struct Case { float rate, rise, fall; };
    const Case cases[] = {
        { 1.0f, 1.0f, 1.0f },          // one step of 1000 / 1
        { 1000.0f, 1.0e6f, 1.0e6f },   // tiny steps
        { 60.0f, 0.0f, 0.0f },         // zero times: instant
        { 60.0f, -10.0f, -10.0f },     // nonsense times
        { 2.0f, 0.001f, 0.001f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.rate) + " Hz, " + juce::String (c.rise) + " ms");

        Watched w;
        w.animator.timerRate = c.rate;
        w.animator.riseTime = c.rise;
        w.animator.fallTime = c.fall;
        w.animator.on = true;
        w.pointerOver();
        w.enter();

        for (int k = 0; k < 6; ++k)
        {
            if (k == 3)
                w.pointerAway();

            w.animator.timerCallback();
            EXPECT_TRUE (std::isfinite (w.animator.hoverValue));
            EXPECT_GE (w.animator.hoverValue, 0.0f);
            EXPECT_LE (w.animator.hoverValue, 1.0f);
        }
        w.animator.stopTimer();
    }
}

// A slider's inner slider is destroyed before the animator of the slider's base.
TEST (AnimatorTests, ComponentDestroyedFirstIsForgotten)
{
    cvx::Animator animator;
    animator.on = true;
    {
        juce::Component watched;
        watched.setBounds (-50000, -50000, 100000, 100000);
        animator.attach (&watched);
        animator.mouseEnter (mouseEvent (watched, {}));
    }

    EXPECT_EQ (animator.component, nullptr);
    animator.timerCallback();   // nothing to repaint, nothing hovered
    EXPECT_EQ (animator.hoverValue, 0.0f);
    EXPECT_FALSE (animator.isTimerRunning());
}

TEST (AnimatorTests, AttachingElsewhereMovesTheWatchedComponent)
{
    juce::Component first, second;
    cvx::Animator animator;
    animator.attach (&first);
    animator.attach (&second);
    EXPECT_EQ (animator.component, &second);
    animator.attach (nullptr);
    EXPECT_EQ (animator.component, nullptr);
    EXPECT_FALSE (animator.isHovered());
}

} // namespace
} // namespace vyx::test
