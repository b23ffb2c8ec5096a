namespace cvx::assets
{

namespace
{
    struct FontEntry
    {
        const char* data;
        int size;
        const char* family;
        const char* style;
    };

    // In the order of the constants in Fonts.h.
    const FontEntry& fontEntry (int index)
    {
        using namespace CvxBinaryData;

        static const FontEntry entries[fonts::count] = {
            { RobotoMono_300Light_ttf, RobotoMono_300Light_ttfSize, "Roboto Mono", "Light" },
            { RobotoMono_100Thin_ttf, RobotoMono_100Thin_ttfSize, "Roboto Mono", "Thin" },
            { RobotoMono_700Bold_ttf, RobotoMono_700Bold_ttfSize, "Roboto Mono", "Bold" },
            { Montserrat_900Black_ttf, Montserrat_900Black_ttfSize, "Montserrat", "Black" },
            { Montserrat_900Black_Italic_ttf, Montserrat_900Black_Italic_ttfSize, "Montserrat", "Black Italic" },
            { Montserrat_700Bold_ttf, Montserrat_700Bold_ttfSize, "Montserrat", "Bold" },
            { Montserrat_700Bold_Italic_ttf, Montserrat_700Bold_Italic_ttfSize, "Montserrat", "Bold Italic" },
            { Montserrat_800ExtraBold_ttf, Montserrat_800ExtraBold_ttfSize, "Montserrat", "ExtraBold" },
            { Montserrat_800ExtraBold_Italic_ttf, Montserrat_800ExtraBold_Italic_ttfSize, "Montserrat", "ExtraBold Italic" },
            { Montserrat_200ExtraLight_ttf, Montserrat_200ExtraLight_ttfSize, "Montserrat", "ExtraLight" },
            { Montserrat_200ExtraLight_Italic_ttf, Montserrat_200ExtraLight_Italic_ttfSize, "Montserrat", "ExtraLight Italic" },
            { Montserrat_400Regular_Italic_ttf, Montserrat_400Regular_Italic_ttfSize, "Montserrat", "Italic" },
            { Montserrat_300Light_ttf, Montserrat_300Light_ttfSize, "Montserrat", "Light" },
            { Montserrat_300Light_Italic_ttf, Montserrat_300Light_Italic_ttfSize, "Montserrat", "Light Italic" },
            { Montserrat_500Medium_ttf, Montserrat_500Medium_ttfSize, "Montserrat", "Medium" },
            { Montserrat_500Medium_Italic_ttf, Montserrat_500Medium_Italic_ttfSize, "Montserrat", "Medium Italic" },
            { Montserrat_400Regular_ttf, Montserrat_400Regular_ttfSize, "Montserrat", "Regular" },
            { Montserrat_600SemiBold_ttf, Montserrat_600SemiBold_ttfSize, "Montserrat", "SemiBold" },
            { Montserrat_600SemiBold_Italic_ttf, Montserrat_600SemiBold_Italic_ttfSize, "Montserrat", "SemiBold Italic" },
            { Montserrat_100Thin_ttf, Montserrat_100Thin_ttfSize, "Montserrat", "Thin" },
            { Montserrat_100Thin_Italic_ttf, Montserrat_100Thin_Italic_ttfSize, "Montserrat", "Thin Italic" },
        };

        return entries[juce::jlimit (0, fonts::count - 1, index)];
    }

    // Every typeface made from the embedded data, each created the first time it is asked for
    // and then shared by the whole program; loading the plug-in parses none. The store goes
    // with the framework's shutdown, before the leak checks run, and is made afresh if the
    // framework starts again in the same process (a host closing its last instance and
    // opening a new one).
    class TypefaceStore : private juce::DeletedAtShutdown
    {
    public:
        TypefaceStore() = default;
        ~TypefaceStore() override { clearSingletonInstance(); }

        juce::Typeface::Ptr get (int index)
        {
            const juce::ScopedLock sl (lock);
            auto& slot = typefaces[(size_t) index];

            if (slot == nullptr)
            {
                const auto& entry = fontEntry (index);
                slot = juce::Typeface::createSystemTypefaceFor (entry.data, (size_t) entry.size);
            }

            return slot;
        }

        JUCE_DECLARE_SINGLETON (TypefaceStore, false)

    private:
        juce::CriticalSection lock;
        std::array<juce::Typeface::Ptr, (size_t) fonts::count> typefaces;

        JUCE_DECLARE_NON_COPYABLE (TypefaceStore)
    };

    JUCE_IMPLEMENT_SINGLETON (TypefaceStore)
} // namespace

juce::Typeface::Ptr EmbeddedFont::getTypefacePtr() const
{
    return TypefaceStore::getInstance()->get (juce::jlimit (0, fonts::count - 1, index));
}

const char* EmbeddedFont::getFamily() const noexcept
{
    return fontEntry (index).family;
}

const char* EmbeddedFont::getStyle() const noexcept
{
    return fontEntry (index).style;
}

} // namespace cvx::assets
