#include "TestSupport.h"

namespace vyx::test
{
namespace
{

using cvx::ui::ColourPicker;

juce::MouseEvent mouseAt (juce::Component& c, juce::Point<float> p)
{
    auto source = juce::Desktop::getInstance().getMainMouseSource();
    return juce::MouseEvent (source, p, juce::ModifierKeys::leftButtonModifier, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                             &c, &c, juce::Time::getCurrentTime(), p, juce::Time::getCurrentTime(), 1, false);
}

juce::Colour hsv (float hue)
{
    return juce::Colour::fromHSV (hue - std::floor (hue), 0.75f, 0.5f, 1.0f);
}

TEST (ColourPickerTest, PointerPositionPicksTheHueAroundTheCircle)
{
    struct Case { int x, w; float hue; };
    const Case cases[] {
        { 0, 200, 0.15f },     // left edge
        { 200, 200, 0.15f },   // right edge comes round again
        { 100, 200, 0.65f },
        { 170, 200, 0.0f },    // 0.85 + 0.15 wraps to 0
        { 190, 200, 0.1f },
        { -20, 200, 0.05f },   // dragged beyond the left end
        { 300, 200, 0.65f },   // and beyond the right end
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.x) + " of " + juce::String (c.w));
        const auto expected = hsv (c.hue);
        const auto picked = ColourPicker::colourAt (c.x, c.w);
        EXPECT_EQ (picked.getARGB(), expected.getARGB());
    }
}

TEST (ColourPickerTest, ClicksAndDragsWriteEightLowerCaseDigitsIntoTheTree)
{
    juce::ValueTree attributes ("Attributes");
    const juce::Identifier key ("colour");
    ColourPicker picker (attributes, key, 28);
    picker.setBounds (0, 0, 240, 28);

    EXPECT_FALSE (picker.isTriggeredAutomatically());

    int notifications = 0;
    struct Counter : juce::ValueTree::Listener
    {
        explicit Counter (int& n) : count (n) {}
        void valueTreePropertyChanged (juce::ValueTree&, const juce::Identifier&) override { ++count; }
        int& count;
    } counter (notifications);
    attributes.addListener (&counter);

    for (float x : { 0.0f, 37.0f, 120.0f, 239.0f, 400.0f, -30.0f })
    {
        SCOPED_TRACE (x);
        picker.mouseDrag (mouseAt (picker, { x, 10.0f }));
        const auto text = attributes.getProperty (key).toString();
        EXPECT_EQ (text.length(), 8);
        EXPECT_TRUE (text.startsWith ("ff"));
        EXPECT_TRUE (text.containsOnly ("0123456789abcdef"));
        EXPECT_EQ (text, ColourPicker::colourAt ((int) x, 240).toString());
    }

    picker.mouseDown (mouseAt (picker, { 60.0f, 10.0f }));
    EXPECT_EQ (attributes.getProperty (key).toString(), hsv (60.0f / 240.0f + 0.15f).toString());
    EXPECT_GE (notifications, 6);

    attributes.removeListener (&counter);
}

TEST (ColourPickerTest, KeepsTheMenuWidthAndAsksForItsHeight)
{
    juce::ValueTree tree ("T");
    ColourPicker picker (tree, "colour", 28);
    int w = 333, h = 5;
    picker.getIdealSize (w, h);
    EXPECT_EQ (w, 333);
    EXPECT_EQ (h, 28);
}

TEST (ColourPickerTest, StripShowsTheHuesBrighterThanTheyAreStored)
{
    juce::ValueTree tree ("T");
    ColourPicker picker (tree, "colour", 28);
    picker.setBounds (0, 0, 202, 28);

    const auto image = picker.createComponentSnapshot (picker.getLocalBounds());
    juce::PNGImageFormat png;
    const auto file = getArtifactFolder().getChildFile ("colour-picker.png");
    file.deleteFile();
    juce::FileOutputStream out (file);
    png.writeImageToStream (image, out);

    const int w = 200;  // the strip's width: 202 - 2
    for (int i : { 10, 70, 130, 190 })
    {
        SCOPED_TRACE (i);
        const auto expected = hsv ((float) i / (float) w + 0.15f).withBrightness (0.85f);
        const auto actual = image.getPixelAt (i, 14);
        EXPECT_NEAR (actual.getRed(), expected.getRed(), 2);
        EXPECT_NEAR (actual.getGreen(), expected.getGreen(), 2);
        EXPECT_NEAR (actual.getBlue(), expected.getBlue(), 2);
    }

    // Nothing outside the rounded strip: no background, no border.
    EXPECT_EQ (image.getPixelAt (100, 0).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (100, 27).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (0, 14).getAlpha(), 0);
}

} // namespace
} // namespace vyx::test
