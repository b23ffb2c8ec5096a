#include "ui/UiTestSupport.h"

namespace vyx::test
{
namespace
{

constexpr int itemWidth = 300, itemHeight = 28;

/** A look-and-feel on a processor's state with a pure red theme, so that theme-coloured
    pixels are told apart from white and black ones. */
struct LookFixture : UiFixture
{
    LookFixture() { setTheme (juce::Colours::red); }

    void setTheme (juce::Colour c) { state.attributes.setProperty (cvx::State::Attributes::colour, c.toString(), nullptr); }
    void setScale (const juce::var& v) { state.attributes.setProperty (cvx::State::Attributes::scale, v, nullptr); }

    juce::Colour theme (float brightness) const { return juce::Colours::red.withBrightness (brightness); }

    /** One menu item drawn over the menu's black background. */
    juce::Image item (const juce::String& text, bool active = true, bool highlighted = false, bool ticked = false,
                      bool subMenu = false, int width = itemWidth, int height = itemHeight, bool separator = false)
    {
        juce::Image image (juce::Image::ARGB, width, height, true);
        juce::Graphics g (image);
        lookAndFeel.drawPopupMenuBackgroundWithOptions (g, width, height, juce::PopupMenu::Options());
        lookAndFeel.drawPopupMenuItem (g, { 0, 0, width, height }, separator, active, highlighted, ticked, subMenu,
                                       text, {}, nullptr, nullptr);
        return image;
    }

    cvx::style::LookAndFeel lookAndFeel { state };
};

bool near (juce::Colour a, juce::Colour b, int tolerance = 3)
{
    return std::abs (a.getRed() - b.getRed()) <= tolerance && std::abs (a.getGreen() - b.getGreen()) <= tolerance
           && std::abs (a.getBlue() - b.getBlue()) <= tolerance && std::abs (a.getAlpha() - b.getAlpha()) <= tolerance;
}

/** Counts the pixels of a region that are close to a colour. */
int countNear (const juce::Image& image, juce::Rectangle<int> region, juce::Colour colour, int tolerance = 3)
{
    int n = 0;
    for (int y = region.getY(); y < region.getBottom(); ++y)
        for (int x = region.getX(); x < region.getRight(); ++x)
            if (near (image.getPixelAt (x, y), colour, tolerance))
                ++n;
    return n;
}

/** Pixels where text was drawn in a reddish colour (red clearly above green and blue). */
int countReddish (const juce::Image& image, juce::Rectangle<int> region)
{
    int n = 0;
    for (int y = region.getY(); y < region.getBottom(); ++y)
        for (int x = region.getX(); x < region.getRight(); ++x)
        {
            const auto p = image.getPixelAt (x, y);
            if (p.getRed() > 60 && p.getGreen() < p.getRed() / 4 && p.getBlue() < p.getRed() / 4)
                ++n;
        }
    return n;
}

/** Rows that hold any pixel brighter than black: the vertical extent of what was drawn. */
int inkRows (const juce::Image& image)
{
    int top = image.getHeight(), bottom = -1;
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (image.getPixelAt (x, y).getBrightness() > 0.25f)
            {
                top = std::min (top, y);
                bottom = std::max (bottom, y);
            }
    return bottom < top ? 0 : bottom - top + 1;
}

TEST (LookAndFeelTests, MenusAreBlackWithADropShadowAndSlidersDrawNothing)
{
    LookFixture f;
    EXPECT_EQ (f.lookAndFeel.getMenuWindowFlags(), juce::ComponentPeer::windowHasDropShadow);

    juce::Image menu (juce::Image::ARGB, 40, 30, true);
    {
        juce::Graphics g (menu);
        f.lookAndFeel.drawPopupMenuBackgroundWithOptions (g, 40, 30, juce::PopupMenu::Options());
    }
    EXPECT_EQ (countNear (menu, menu.getBounds(), juce::Colours::black, 0), 40 * 30);

    juce::Slider slider;
    juce::Image image (juce::Image::ARGB, 60, 60, true);
    {
        juce::Graphics g (image);
        f.lookAndFeel.drawRotarySlider (g, 0, 0, 60, 60, 0.5f, 0.0f, 5.0f, slider);
        f.lookAndFeel.drawLinearSlider (g, 0, 0, 60, 60, 30.0f, 0.0f, 60.0f, juce::Slider::LinearVertical, slider);
    }
    EXPECT_EQ (countNear (image, image.getBounds(), juce::Colours::transparentBlack, 0), 60 * 60);
}

TEST (LookAndFeelTests, ItemColoursFollowActiveAndHighlighted)
{
    LookFixture f;

    // Active: white text, no fill (the gutter at the left stays black).
    const auto plain = f.item ("Preset");
    saveArtifact (plain, "menu-item-active");
    EXPECT_GT (countNear (plain, plain.getBounds(), juce::Colours::white, 40), 10);
    EXPECT_TRUE (near (plain.getPixelAt (8, itemHeight / 2), juce::Colours::black));

    // Active and highlighted: white at 0.8 over black (0xcc grey), black text on it.
    const auto lit = f.item ("Preset", true, true);
    saveArtifact (lit, "menu-item-highlighted");
    EXPECT_TRUE (near (lit.getPixelAt (8, itemHeight / 2), juce::Colour (0xffcccccc)));
    EXPECT_TRUE (near (lit.getPixelAt (0, 0), juce::Colours::black));   // outside the inner, rounded area
    EXPECT_GT (countNear (lit, { 26, 1, 100, 26 }, juce::Colours::black, 40), 10);
    EXPECT_EQ (countNear (lit, lit.getBounds(), juce::Colours::white, 20), 0);

    // Inactive, highlighted or not: theme colour at 0.85 brightness, never the fill.
    for (const bool highlighted : { false, true })
    {
        const auto disabled = f.item ("Oversampling", false, highlighted);
        saveArtifact (disabled, highlighted ? "menu-item-inactive-highlighted" : "menu-item-inactive");
        EXPECT_GT (countNear (disabled, disabled.getBounds(), f.theme (0.85f), 6), 5);
        EXPECT_EQ (countNear (disabled, disabled.getBounds(), juce::Colours::white, 40), 0);
        EXPECT_TRUE (near (disabled.getPixelAt (8, itemHeight / 2), juce::Colours::black));
    }
}

TEST (LookAndFeelTests, ThemeColourIsReadOnEveryCall)
{
    LookFixture f;
    f.setTheme (juce::Colours::blue);
    const auto disabled = f.item ("Group", false);
    const auto blue = juce::Colours::blue.withBrightness (0.85f);
    EXPECT_GT (countNear (disabled, disabled.getBounds(), blue, 6), 5);
    EXPECT_EQ (countReddish (disabled, disabled.getBounds()), 0);
}

TEST (LookAndFeelTests, TickIsAThemeDotCentredInTheGutter)
{
    LookFixture f;

    // Inner height 26: the gutter is round (26 / 1.3) = 20 wide; the dot is 0.4 x 20 = 8 across.
    struct Case { int width; int inset; };
    const Case cases[] = { { 300, 5 }, { 49, 4 }, { 30, 3 }, { 8, 0 } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.width);
        const auto image = f.item ("", true, false, true, false, c.width);
        if (c.width == 300)
            saveArtifact (image, "menu-item-ticked");

        const int innerWidth = std::max (c.width - 2, 0);
        const int gutter = std::min (20, std::max (innerWidth - 2 * c.inset, 0));
        const float expectedCentre = 1.0f + (float) c.inset + (float) gutter / 2.0f;
        const float diameter = 0.4f * (float) std::min (gutter, 26);

        // Centre of the dot's colour, weighted by coverage.
        double sum = 0, weight = 0;
        for (int y = 0; y < itemHeight; ++y)
            for (int x = 0; x < c.width; ++x)
            {
                const auto p = image.getPixelAt (x, y);
                sum += (x + 0.5) * p.getRed();
                weight += p.getRed();
            }

        ASSERT_GT (weight, 0.0);
        EXPECT_NEAR (sum / weight, expectedCentre, 0.25);
        if (diameter >= 4.0f)
            EXPECT_TRUE (near (image.getPixelAt ((int) expectedCentre, itemHeight / 2), f.theme (0.85f), 6));
    }
}

TEST (LookAndFeelTests, SeparatorIsAThinThemeLineInTheMiddle)
{
    LookFixture f;
    struct Case { int height; int row; };
    const Case cases[] = { { 9, 4 }, { 21, 10 }, { 1, 0 } };   // y + round (h / 2 - 1/2)

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.height);
        const auto image = f.item ("ignored", true, false, false, false, 100, c.height, true);
        for (int y = 0; y < c.height; ++y)
        {
            const int onLine = countNear (image, { 0, y, 100, 1 }, f.theme (0.4f), 3);
            EXPECT_EQ (onLine, y == c.row ? 90 : 0) << "row " << y;   // from x = 5 to 95
        }
    }
}

TEST (LookAndFeelTests, TextIsSplitAtTheFirstAtSign)
{
    LookFixture f;
    const int half = itemWidth / 2;
    const juce::Rectangle<int> left (0, 0, half, itemHeight), right (half, 0, itemWidth - half, itemHeight);

    // Name at the left in white, detail right-aligned in the theme colour.
    const auto split = f.item ("Name@Detail");
    saveArtifact (split, "menu-item-detail");
    EXPECT_GT (countNear (split, left, juce::Colours::white, 40), 10);
    EXPECT_EQ (countReddish (split, left), 0);
    EXPECT_GT (countReddish (split, right), 10);
    EXPECT_EQ (countNear (split, right, juce::Colours::white, 40), 0);

    // Starting with '@': only the detail shows.
    const auto detailOnly = f.item ("@Detail");
    EXPECT_EQ (countNear (detailOnly, detailOnly.getBounds(), juce::Colours::white, 40), 0);
    EXPECT_GT (countReddish (detailOnly, right), 10);

    // A second '@' belongs to the detail: more of it than without.
    const auto twoAts = f.item ("Name@Detail@More");
    EXPECT_GT (countReddish (twoAts, twoAts.getBounds()), countReddish (split, split.getBounds()));
    EXPECT_EQ (countReddish (twoAts, left), 0);
}

TEST (LookAndFeelTests, SubmenuArrowSitsAtTheRightInTheTextColour)
{
    LookFixture f;
    const juce::Rectangle<int> rightEdge (itemWidth - 20, 0, 20, itemHeight);

    EXPECT_EQ (countNear (f.item ("Folder"), rightEdge, juce::Colours::white, 80), 0);
    const auto withArrow = f.item ("Folder", true, false, false, true);
    saveArtifact (withArrow, "menu-item-submenu");
    EXPECT_GT (countNear (withArrow, rightEdge, juce::Colours::white, 80), 3);
}

// The text height is 20 x scale, at most the inner height / 1.3.
TEST (LookAndFeelTests, ItemTextScalesAndIsLimitedByTheItemHeight)
{
    LookFixture f;
    const int atOne = inkRows (f.item ("HHHH"));
    ASSERT_GT (atOne, 8);

    f.setScale (0.5);
    EXPECT_NEAR ((double) inkRows (f.item ("HHHH")) / atOne, 0.5, 0.15);

    f.setScale (3.0);   // 60 px asked for, 20 allowed by the 28 px item
    EXPECT_NEAR (inkRows (f.item ("HHHH")), atOne, 1);
}

struct ScaleCase { const char* name; juce::var stored; double expected; };

TEST (LookAndFeelTests, ScaleFromTheStateIsSanitised)
{
    // Numbers as a tree holds them, and texts as a restored project's XML brings them.
    const ScaleCase cases[] = {
        { "absent", juce::var(), 1.0 },
        { "2", 2.0, 2.0 },
        { "0.5", 0.5, 0.5 },
        { "NaN", std::numeric_limits<double>::quiet_NaN(), 1.0 },
        { "infinity", std::numeric_limits<double>::infinity(), 1.0 },
        { "0", 0.0, 1.0 },
        { "-3", -3.0, 1.0 },
        { "0.01", 0.01, 0.25 },
        { "1e6", 1.0e6, 4.0 },
        { "text 2.5", "2.5", 2.5 },
        { "text nan", "nan", 1.0 },
        { "text -inf", "-inf", 1.0 },
        { "text not a number", "not a number", 1.0 },
        { "text 1e300", "1e300", 4.0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        LookFixture f;
        if (! c.stored.isVoid())
            f.setScale (c.stored);
        EXPECT_DOUBLE_EQ (f.lookAndFeel.getScale(), c.expected);
    }
}

TEST (LookAndFeelTests, UnusableScaleGivesTheSameTooltipAsScaleOne)
{
    const juce::Rectangle<int> parent (0, 0, 1280, 1024);
    LookFixture reference;
    const auto expected = reference.lookAndFeel.getTooltipBounds ("Band solo", { 100, 100 }, parent);

    for (const auto& bad : { juce::var (std::numeric_limits<double>::quiet_NaN()), juce::var (-1.0), juce::var (0.0) })
    {
        LookFixture f;
        f.setScale (bad);
        EXPECT_EQ (f.lookAndFeel.getTooltipBounds ("Band solo", { 100, 100 }, parent), expected);
    }

    LookFixture huge, four;
    huge.setScale (1.0e9);
    four.setScale (4.0);
    EXPECT_EQ (huge.lookAndFeel.getTooltipBounds ("Band solo", { 100, 100 }, parent),
               four.lookAndFeel.getTooltipBounds ("Band solo", { 100, 100 }, parent));
}

TEST (LookAndFeelTests, TooltipOpensAwayFromTheNearestCorner)
{
    LookFixture f;
    const juce::Rectangle<int> parent (0, 0, 1000, 800);
    const juce::String tip = "Drag to move the crossover";

    const auto topLeft = f.lookAndFeel.getTooltipBounds (tip, { 100, 100 }, parent);
    EXPECT_EQ (topLeft.getPosition(), juce::Point<int> (100 + 24, 100 + 6));

    const auto bottomRight = f.lookAndFeel.getTooltipBounds (tip, { 900, 700 }, parent);
    EXPECT_EQ (bottomRight.getRight(), 900 - 12);
    EXPECT_EQ (bottomRight.getBottom(), 700 - 6);
    EXPECT_EQ (bottomRight.getWidth(), topLeft.getWidth());
    EXPECT_EQ (bottomRight.getHeight(), topLeft.getHeight());

    // Text of 26 px bold: taller than one line at 26, and padded by 12 and 28 at scale 1.
    EXPECT_GE (topLeft.getHeight(), 26 + 12);
    EXPECT_GT (topLeft.getWidth(), 28);

    // Twice the scale, about twice the size.
    f.setScale (2.0);
    const auto doubled = f.lookAndFeel.getTooltipBounds (tip, { 100, 100 }, parent);
    EXPECT_NEAR ((double) doubled.getWidth() / topLeft.getWidth(), 2.0, 0.15);
    EXPECT_NEAR ((double) doubled.getHeight() / topLeft.getHeight(), 2.0, 0.15);
}

TEST (LookAndFeelTests, LongTooltipsWrapWithinTheirWidthAndLargeOnesAreCutToTheParent)
{
    LookFixture f;
    const juce::Rectangle<int> parent (0, 0, 3000, 2000);
    const juce::String word = "crossover ";
    const auto oneLine = f.lookAndFeel.getTooltipBounds (word, { 10, 10 }, parent);
    const auto wrapped = f.lookAndFeel.getTooltipBounds (juce::String::repeatedString (word, 40), { 10, 10 }, parent);

    EXPECT_LE (wrapped.getWidth(), 800 + 28);
    EXPECT_GE (wrapped.getHeight(), 3 * (oneLine.getHeight() - 12));

    const juce::Rectangle<int> small (50, 60, 120, 30);
    const auto cut = f.lookAndFeel.getTooltipBounds (juce::String::repeatedString (word, 40), { 100, 70 }, small);
    EXPECT_EQ (cut, small);
}

TEST (LookAndFeelTests, TooltipIsBlackWithCentredText)
{
    LookFixture f;
    const juce::String tip = "Click to bypass";
    const auto bounds = f.lookAndFeel.getTooltipBounds (tip, { 10, 10 }, { 0, 0, 1000, 1000 });

    juce::Image image (juce::Image::ARGB, bounds.getWidth(), bounds.getHeight(), true);
    {
        juce::Graphics g (image);
        f.lookAndFeel.drawTooltip (g, tip, bounds.getWidth(), bounds.getHeight());
    }
    saveArtifact (image, "tooltip");

    const int w = image.getWidth(), h = image.getHeight();
    for (const auto corner : { juce::Point<int> (0, 0), { w - 1, 0 }, { 0, h - 1 }, { w - 1, h - 1 } })
        EXPECT_EQ (image.getPixelAt (corner.x, corner.y), juce::Colours::black);

    // The text is light on black and centred: its ink is balanced around the middle.
    double sum = 0, weight = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
        {
            const float b = image.getPixelAt (x, y).getBrightness();
            sum += (x + 0.5) * b;
            weight += b;
        }
    ASSERT_GT (weight, 50.0);
    EXPECT_NEAR (sum / weight, w / 2.0, w * 0.08);
}

TEST (LookAndFeelTests, MenuOfSeveralItemsIsDrawn)
{
    LookFixture f;

    // Each item as the menu would draw it, stacked into one picture to look at.
    juce::Image image (juce::Image::ARGB, 320, 3 * 28, true);
    {
        juce::Graphics g (image);
        f.lookAndFeel.drawPopupMenuBackgroundWithOptions (g, 320, 3 * 28, juce::PopupMenu::Options());
        f.lookAndFeel.drawPopupMenuItem (g, { 0, 0, 320, 28 }, false, true, true, true, false, "Oversampling@2x", {}, nullptr, nullptr);
        f.lookAndFeel.drawPopupMenuItem (g, { 0, 28, 320, 28 }, true, true, false, false, false, {}, {}, nullptr, nullptr);
        f.lookAndFeel.drawPopupMenuItem (g, { 0, 56, 320, 28 }, false, false, false, false, true, "Limiter", {}, nullptr, nullptr);
    }
    saveArtifact (image, "menu");
    EXPECT_GT (countReddish (image, { 160, 0, 160, 28 }), 10);           // the detail "2x"
    EXPECT_GT (countNear (image, { 0, 28, 320, 28 }, f.theme (0.4f)), 300);   // the separator
    EXPECT_GT (countReddish (image, { 0, 56, 320, 28 }), 10);            // the inactive item
}

} // namespace
} // namespace vyx::test
