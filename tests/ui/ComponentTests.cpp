#include "UiTestSupport.h"

namespace vyx::test
{
namespace
{

TEST (ComponentTests, IsNamedAndHasAnAnimatorThatIsOffAndAttached)
{
    UiFixture f;
    cvx::Component component (f.state, "comp");

    EXPECT_EQ (component.getName(), "comp");
    EXPECT_EQ (component.id, juce::Identifier ("comp"));
    EXPECT_EQ (component.animator.component, &component);
    EXPECT_FALSE (component.animator.on);
    EXPECT_EQ (component.animator.hoverValue, 0.0f);
    EXPECT_TRUE (static_cast<bool> (component.repaintTimer.callback));
    EXPECT_FALSE (component.repaintTimer.isTimerRunning());
}

TEST (ComponentTests, TakesItsTreeFromPropertiesWhenOneExists)
{
    UiFixture f;
    juce::ValueTree stored ("btmbar");
    stored.setProperty ("x", 3, nullptr);
    f.state.properties.appendChild (stored, nullptr);

    cvx::Component component (f.state, "btmbar");

    EXPECT_EQ (component.tree, stored);   // the same shared tree, not a copy
}

// Each editor open constructs every panel again; none of that may reach what the host saves.
TEST (ComponentTests, ConstructingComponentsLeavesTheSavedTreesUnchanged)
{
    UiFixture f;
    const auto attributesBefore = f.state.attributes.toXmlString();
    const auto propertiesBefore = f.state.properties.toXmlString();

    for (int open = 0; open < 3; ++open)
    {
        cvx::Component comp (f.state, "comp");
        cvx::Component bar (f.state, "btmbar");
        cvx::Component top (f.state, "TopBar");

        EXPECT_TRUE (comp.tree.isValid());
        EXPECT_EQ (comp.tree.getType(), juce::Identifier ("comp"));
        EXPECT_FALSE (comp.tree.getParent().isValid());
    }

    EXPECT_EQ (f.state.attributes.toXmlString(), attributesBefore);
    EXPECT_EQ (f.state.properties.toXmlString(), propertiesBefore);
    EXPECT_EQ (f.state.attributes.getNumChildren(), 0);
}

TEST (ComponentTests, TimerCallsItsFunctionOnlyWhenSet)
{
    cvx::Timer timer;
    timer.timerCallback();   // empty: nothing happens

    int calls = 0;
    timer.callback = [&calls] { ++calls; };
    timer.timerCallback();
    timer.timerCallback();
    EXPECT_EQ (calls, 2);
}

TEST (ComponentTests, TimerRunsItsFunctionFromTheMessageLoop)
{
    cvx::Timer timer;
    int calls = 0;
    timer.callback = [&calls] { ++calls; };
    timer.startTimer (5);

    EXPECT_TRUE (runMessageLoopUntil ([&calls] { return calls >= 2; }));
    timer.stopTimer();
}

} // namespace
} // namespace vyx::test
