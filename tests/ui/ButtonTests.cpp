#include "UiTestSupport.h"

namespace vyx::test
{
namespace
{

struct CountingButton
{
    CountingButton()
    {
        button.setSize (40, 20);
        button.onClick = [this] { ++clicks; };
        button.onRightClick = [this] { ++rightClicks; };
    }

    void press (juce::ModifierKeys mods) { button.mouseDown (mouseEvent (button, { 5, 5 }, mods, { 5, 5 })); }
    void release (juce::ModifierKeys mods) { button.mouseUp (mouseEvent (button, { 5, 5 }, mods, { 5, 5 })); }

    cvx::ui::Button button;
    int clicks = 0, rightClicks = 0;
};

TEST (ButtonTests, StartsWithTheDocumentedState)
{
    cvx::ui::Button button;
    EXPECT_TRUE (button.fireOnPress);
    EXPECT_EQ (button.pressState, 0);
    EXPECT_FALSE (button.alternatePress);
    EXPECT_EQ (button.animator.component, &button);
    EXPECT_FALSE (button.animator.on);
    EXPECT_EQ (button.getName(), juce::String());
}

TEST (ButtonTests, ChoosesTheActionByButtonAndKeyAndRunsItOnPressOrRelease)
{
    const auto ctrlLeft = leftButton.withFlags (juce::ModifierKeys::ctrlModifier);
    const auto shiftLeft = leftButton.withFlags (juce::ModifierKeys::shiftModifier);

    struct Case
    {
        const char* name;
        bool fireOnPress;
        juce::ModifierKeys mods;
        int clicksOnDown, rightClicksOnDown;   // counts after mouse-down
        int clicksOnUp, rightClicksOnUp;       // counts after mouse-up
        bool alternate;
    };

    const Case cases[] = {
        { "left, on press",          true,  leftButton,  1, 0, 1, 0, false },
        { "right, on press",         true,  rightButton, 0, 1, 0, 1, true },
        { "control-left, on press",  true,  ctrlLeft,    0, 1, 0, 1, true },
        { "shift-left, on press",    true,  shiftLeft,   1, 0, 1, 0, false },
        { "left, on release",        false, leftButton,  0, 0, 1, 0, false },
        { "right, on release",       false, rightButton, 0, 0, 0, 1, true },
        { "control-left, on release", false, ctrlLeft,   0, 0, 0, 1, true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        CountingButton b;
        b.button.fireOnPress = c.fireOnPress;

        b.press (c.mods);
        EXPECT_EQ (b.clicks, c.clicksOnDown);
        EXPECT_EQ (b.rightClicks, c.rightClicksOnDown);
        EXPECT_EQ (b.button.alternatePress, c.alternate);
        EXPECT_EQ (b.button.pressState, 2);

        b.release (c.mods);
        EXPECT_EQ (b.clicks, c.clicksOnUp);
        EXPECT_EQ (b.rightClicks, c.rightClicksOnUp);
    }
}

TEST (ButtonTests, RightClickWithoutItsActionRunsNothing)
{
    for (const bool onPress : { true, false })
    {
        CountingButton b;
        b.button.fireOnPress = onPress;
        b.button.onRightClick = nullptr;

        b.press (rightButton);
        b.release (rightButton);
        EXPECT_EQ (b.clicks, 0);
    }
}

TEST (ButtonTests, PressStateFollowsTheMouse)
{
    CountingButton b;
    const auto e = mouseEvent (b.button, { 5, 5 });

    b.button.mouseEnter (e);
    EXPECT_EQ (b.button.pressState, 1);
    b.press (leftButton);
    EXPECT_EQ (b.button.pressState, 2);
    b.release (leftButton);   // the pointer is not over a button that has no window
    EXPECT_EQ (b.button.pressState, 0);
    b.button.mouseEnter (e);
    b.button.mouseExit (e);
    EXPECT_EQ (b.button.pressState, 0);
}

TEST (ButtonTests, ActionOnReleaseMayDeleteTheButton)
{
    auto button = std::make_unique<cvx::ui::Button>();
    button->fireOnPress = false;
    button->onClick = [&button] { button.reset(); };

    button->mouseDown (mouseEvent (*button, {}, leftButton));
    button->mouseUp (mouseEvent (*button, {}, leftButton));
    EXPECT_EQ (button, nullptr);
}

bool isFullyTransparent (const juce::Image& image)
{
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (image.getPixelAt (x, y).getAlpha() != 0)
                return false;
    return true;
}

TEST (ButtonTests, PaintsThroughItsPainterOnly)
{
    cvx::ui::Button button;
    button.setSize (30, 20);
    EXPECT_TRUE (isFullyTransparent (button.createComponentSnapshot (button.getLocalBounds())));

    cvx::ui::Button* painted = nullptr;
    button.painter = [&painted] (juce::Graphics& g, cvx::ui::Button& b)
    {
        painted = &b;
        g.fillAll (juce::Colours::red);
    };

    const auto image = button.createComponentSnapshot (button.getLocalBounds());
    EXPECT_EQ (painted, &button);
    EXPECT_EQ (image.getPixelAt (15, 10), juce::Colours::red);
}

} // namespace
} // namespace vyx::test
