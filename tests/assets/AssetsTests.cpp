#include "ui/UiTestSupport.h"

namespace vyx::test
{
namespace
{

namespace fonts = cvx::assets::fonts;

struct FontCase
{
    const char* name;
    cvx::assets::EmbeddedFont font;
    const char* family;
    const char* style;
};

const FontCase fontCases[] = {
    { "RobotoMono::light", fonts::RobotoMono::light, "Roboto Mono", "Light" },
    { "RobotoMono::thin", fonts::RobotoMono::thin, "Roboto Mono", "Thin" },
    { "RobotoMono::bold", fonts::RobotoMono::bold, "Roboto Mono", "Bold" },
    { "Montserrat::Black", fonts::Montserrat::Black, "Montserrat", "Black" },
    { "Montserrat::BlackItalic", fonts::Montserrat::BlackItalic, "Montserrat", "Black Italic" },
    { "Montserrat::Bold", fonts::Montserrat::Bold, "Montserrat", "Bold" },
    { "Montserrat::BoldItalic", fonts::Montserrat::BoldItalic, "Montserrat", "Bold Italic" },
    { "Montserrat::ExtraBold", fonts::Montserrat::ExtraBold, "Montserrat", "ExtraBold" },
    { "Montserrat::ExtraBoldItalic", fonts::Montserrat::ExtraBoldItalic, "Montserrat", "ExtraBold Italic" },
    { "Montserrat::ExtraLight", fonts::Montserrat::ExtraLight, "Montserrat", "ExtraLight" },
    { "Montserrat::ExtraLightItalic", fonts::Montserrat::ExtraLightItalic, "Montserrat", "ExtraLight Italic" },
    { "Montserrat::Italic", fonts::Montserrat::Italic, "Montserrat", "Italic" },
    { "Montserrat::Light", fonts::Montserrat::Light, "Montserrat", "Light" },
    { "Montserrat::LightItalic", fonts::Montserrat::LightItalic, "Montserrat", "Light Italic" },
    { "Montserrat::Medium", fonts::Montserrat::Medium, "Montserrat", "Medium" },
    { "Montserrat::MediumItalic", fonts::Montserrat::MediumItalic, "Montserrat", "Medium Italic" },
    { "Montserrat::Regular", fonts::Montserrat::Regular, "Montserrat", "Regular" },
    { "Montserrat::SemiBold", fonts::Montserrat::SemiBold, "Montserrat", "SemiBold" },
    { "Montserrat::SemiBoldItalic", fonts::Montserrat::SemiBoldItalic, "Montserrat", "SemiBold Italic" },
    { "Montserrat::Thin", fonts::Montserrat::Thin, "Montserrat", "Thin" },
    { "Montserrat::ThinItalic", fonts::Montserrat::ThinItalic, "Montserrat", "Thin Italic" },
};

TEST (FontTests, EveryEmbeddedTypefaceLoadsWithItsFamilyAndStyle)
{
    static_assert (std::size (fontCases) == (size_t) fonts::count);

    for (const auto& c : fontCases)
    {
        SCOPED_TRACE (c.name);
        const auto typeface = c.font.getTypefacePtr();
        ASSERT_NE (typeface, nullptr);

        // The names come from the font data itself.
        EXPECT_EQ (typeface->getName(), c.family);
        EXPECT_EQ (typeface->getStyle(), c.style);
        EXPECT_EQ (juce::String (c.font.getFamily()), c.family);
        EXPECT_EQ (juce::String (c.font.getStyle()), c.style);

        // Real outlines: a capital has a shape and some width.
        juce::Path outline;
        juce::Array<int> glyphs;
        juce::Array<float> offsets;
        typeface->getGlyphPositions ("Hm", glyphs, offsets);
        ASSERT_EQ (glyphs.size(), 2);
        ASSERT_TRUE (typeface->getOutlineForGlyph (glyphs[0], outline));
        EXPECT_FALSE (outline.isEmpty());
        EXPECT_GT (offsets.getLast(), 0.0f);
    }
}

TEST (FontTests, EachTypefaceIsCreatedOnceAndShared)
{
    const auto first = fonts::Montserrat::Bold.getTypefacePtr();
    EXPECT_EQ (fonts::Montserrat::Bold.getTypefacePtr(), first);
    EXPECT_EQ (juce::Font (fonts::Montserrat::Bold).getTypefacePtr(), first);
    EXPECT_EQ (fonts::Montserrat::Bold.withHeight (33.0f).getTypefacePtr(), first);
    EXPECT_NE (fonts::Montserrat::Light.getTypefacePtr(), first);
}

TEST (FontTests, FontsConvertWithTheirNamesAndHeights)
{
    const juce::Font font = fonts::Montserrat::SemiBold.withHeight (20.0f);
    EXPECT_EQ (font.getTypefaceName(), "Montserrat");
    EXPECT_EQ (font.getTypefaceStyle(), "SemiBold");
    EXPECT_FLOAT_EQ (font.getHeight(), 20.0f);

    // Styles of one family measure differently: each conversion keeps its own typeface.
    const auto thin = fonts::Montserrat::Thin.withHeight (20.0f).getStringWidthFloat ("Vyx Corvane");
    const auto black = fonts::Montserrat::Black.withHeight (20.0f).getStringWidthFloat ("Vyx Corvane");
    EXPECT_GT (black, thin);
}

TEST (FontTests, TextDrawnInAnEmbeddedFontLeavesInk)
{
    juce::Image image (juce::Image::ARGB, 200, 40, true);
    {
        juce::Graphics g (image);
        g.fillAll (juce::Colours::black);
        g.setColour (juce::Colours::white);
        g.setFont (fonts::Montserrat::Bold.withHeight (28.0f));
        g.drawText ("Vyx 123", image.getBounds(), juce::Justification::centred);
    }
    saveArtifact (image, "font-montserrat-bold");

    int lit = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 200; ++x)
            lit += image.getPixelAt (x, y).getBrightness() > 0.5f ? 1 : 0;
    EXPECT_GT (lit, 100);
}

struct IconCase
{
    const char* name;
    const juce::Drawable& (*drawable)();
    juce::String (*document)();
    const char* viewBox;
    juce::Rectangle<float> area;
    int paths;
    bool stroked;
};

const IconCase iconCases[] = {
    { "logo", cvx::assets::svgs::logo, cvx::assets::svgs::logoSvg, "0 0 720 720", { 0.0f, 0.0f, 720.0f, 720.0f }, 3, false },
    { "previous", cvx::assets::svgs::previous, cvx::assets::svgs::previousSvg, "893.106 5.60601 27.9547 38.788",
      { 893.106f, 5.60601f, 27.9547f, 38.788f }, 1, true },
    { "random", cvx::assets::svgs::random, cvx::assets::svgs::randomSvg, "929.25 14.25 21.5 21.5",
      { 929.25f, 14.25f, 21.5f, 21.5f }, 4, true },
    { "next", cvx::assets::svgs::next, cvx::assets::svgs::nextSvg, "958.939 5.60601 27.9547 38.788",
      { 958.939f, 5.60601f, 27.9547f, 38.788f }, 1, true },
};

TEST (IconTests, DocumentsCarryTheirViewBoxAndPaths)
{
    for (const auto& c : iconCases)
    {
        SCOPED_TRACE (c.name);
        const auto xml = juce::parseXML (c.document());
        ASSERT_NE (xml, nullptr);
        EXPECT_TRUE (xml->hasTagName ("svg"));
        EXPECT_EQ (xml->getStringAttribute ("viewBox"), c.viewBox);

        int paths = 0, stroked = 0, filled = 0;
        for (auto* path : xml->getChildWithTagNameIterator ("path"))
        {
            ++paths;
            if (path->getStringAttribute ("stroke").equalsIgnoreCase ("#ffffff"))
                ++stroked;
            if (path->getStringAttribute ("fill", "none") != "none")
                ++filled;
        }
        EXPECT_EQ (paths, c.paths);
        EXPECT_EQ (stroked, c.stroked ? c.paths : 0);
        EXPECT_EQ (filled, c.stroked ? 0 : c.paths);
    }
}

TEST (IconTests, ParseAsDrawablesWithTheirViewBoxAsContentArea)
{
    for (const auto& c : iconCases)
    {
        SCOPED_TRACE (c.name);
        const auto& drawable = c.drawable();
        EXPECT_EQ (&c.drawable(), &drawable);   // parsed once

        const auto* composite = dynamic_cast<const juce::DrawableComposite*> (&drawable);
        ASSERT_NE (composite, nullptr);
        const auto area = composite->getContentArea();
        EXPECT_FLOAT_EQ (area.getX(), c.area.getX());
        EXPECT_FLOAT_EQ (area.getY(), c.area.getY());
        EXPECT_FLOAT_EQ (area.getWidth(), c.area.getWidth());
        EXPECT_FLOAT_EQ (area.getHeight(), c.area.getHeight());
        EXPECT_EQ (composite->getNumChildComponents(), c.paths);

        // The shapes lie inside the view box.
        const auto drawn = composite->getDrawableBounds();
        EXPECT_TRUE (c.area.expanded (0.01f).contains (drawn));
    }
}

// The presets bar recolours its arrows by replacing white: every drawn pixel must follow.
TEST (IconTests, IconsAreWhiteAndRecolourCompletely)
{
    juce::Image sheet (juce::Image::ARGB, 4 * 64, 64, true);

    for (size_t i = 0; i < std::size (iconCases); ++i)
    {
        const auto& c = iconCases[i];
        SCOPED_TRACE (c.name);
        auto copy = c.drawable().createCopy();
        copy->replaceColour (juce::Colours::white, juce::Colours::red);

        juce::Image image (juce::Image::ARGB, 64, 64, true);
        {
            juce::Graphics g (image);
            copy->drawWithin (g, { 0.0f, 0.0f, 64.0f, 64.0f }, juce::RectanglePlacement::centred, 1.0f);
        }
        {
            juce::Graphics g (sheet);
            c.drawable().drawWithin (g, { (float) i * 64.0f, 0.0f, 64.0f, 64.0f }, juce::RectanglePlacement::centred, 1.0f);
        }

        int drawn = 0, notRed = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
            {
                const auto p = image.getPixelAt (x, y);
                if (p.getAlpha() == 0)
                    continue;
                ++drawn;
                if (p.getGreen() != 0 || p.getBlue() != 0)
                    ++notRed;
            }

        EXPECT_GT (drawn, 40);
        EXPECT_EQ (notRed, 0);
    }

    saveArtifact (sheet, "icons");
}

} // namespace
} // namespace vyx::test
