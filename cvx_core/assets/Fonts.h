#pragma once

namespace cvx::assets
{

/** One of the typefaces compiled into the library. Its typeface is created from the embedded
    TrueType data the first time it is used, once for the whole library (until the framework
    shuts down), so loading the plug-in costs nothing for fonts that are never drawn. Converts to a juce::Font wherever one is
    expected (height 14 as the framework's default); withHeight gives the usual sizes. */
class EmbeddedFont
{
public:
    constexpr explicit EmbeddedFont (int tableIndex) noexcept : index (tableIndex) {}

    /** The shared typeface (created on first use). Thread-safe. */
    juce::Typeface::Ptr getTypefacePtr() const;

    juce::Font getFont() const                    { return juce::Font (getTypefacePtr()); }
    operator juce::Font() const                   { return getFont(); }
    juce::Font withHeight (float height) const    { return getFont().withHeight (height); }
    juce::Font withPointHeight (float height) const { return getFont().withPointHeight (height); }

    /** The family and style it is expected to carry, e.g. "Montserrat", "SemiBold Italic". */
    const char* getFamily() const noexcept;
    const char* getStyle() const noexcept;

    int index;
};

namespace fonts
{
    namespace RobotoMono
    {
        inline constexpr EmbeddedFont light { 0 };
        inline constexpr EmbeddedFont thin { 1 };
        inline constexpr EmbeddedFont bold { 2 };
    }

    namespace Montserrat
    {
        inline constexpr EmbeddedFont Black { 3 };
        inline constexpr EmbeddedFont BlackItalic { 4 };
        inline constexpr EmbeddedFont Bold { 5 };
        inline constexpr EmbeddedFont BoldItalic { 6 };
        inline constexpr EmbeddedFont ExtraBold { 7 };
        inline constexpr EmbeddedFont ExtraBoldItalic { 8 };
        inline constexpr EmbeddedFont ExtraLight { 9 };
        inline constexpr EmbeddedFont ExtraLightItalic { 10 };
        inline constexpr EmbeddedFont Italic { 11 };
        inline constexpr EmbeddedFont Light { 12 };
        inline constexpr EmbeddedFont LightItalic { 13 };
        inline constexpr EmbeddedFont Medium { 14 };
        inline constexpr EmbeddedFont MediumItalic { 15 };
        inline constexpr EmbeddedFont Regular { 16 };
        inline constexpr EmbeddedFont SemiBold { 17 };
        inline constexpr EmbeddedFont SemiBoldItalic { 18 };
        inline constexpr EmbeddedFont Thin { 19 };
        inline constexpr EmbeddedFont ThinItalic { 20 };
    }

    /** Number of embedded typefaces (indices 0 .. count - 1, in the order above). */
    inline constexpr int count = 21;
} // namespace fonts

} // namespace cvx::assets
