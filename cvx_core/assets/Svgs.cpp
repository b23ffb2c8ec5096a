namespace cvx::assets::svgs
{

namespace
{
    // The icons, each parsed from its embedded document on first use and kept until the
    // framework shuts down (drawables are components: they must go while it still runs).
    // An icon that cannot be parsed draws nothing.
    class IconStore : private juce::DeletedAtShutdown
    {
    public:
        enum Icon { logoIcon, previousIcon, randomIcon, nextIcon, numIcons };

        IconStore() = default;
        ~IconStore() override { clearSingletonInstance(); }

        const juce::Drawable& get (Icon icon)
        {
            const juce::ScopedLock sl (lock);
            auto& slot = icons[(size_t) icon];

            if (slot == nullptr)
            {
                const auto doc = document (icon);
                slot = juce::Drawable::createFromImageData (doc.first, (size_t) doc.second);
                if (slot == nullptr)
                    slot = std::make_unique<juce::DrawableComposite>();
            }

            return *slot;
        }

        static std::pair<const char*, int> document (Icon icon)
        {
            switch (icon)
            {
                case previousIcon: return { CvxBinaryData::previous_svg, CvxBinaryData::previous_svgSize };
                case randomIcon:   return { CvxBinaryData::random_svg, CvxBinaryData::random_svgSize };
                case nextIcon:     return { CvxBinaryData::next_svg, CvxBinaryData::next_svgSize };
                case logoIcon:
                case numIcons:
                default:           return { CvxBinaryData::logo_svg, CvxBinaryData::logo_svgSize };
            }
        }

        JUCE_DECLARE_SINGLETON (IconStore, false)

    private:
        juce::CriticalSection lock;
        std::array<std::unique_ptr<juce::Drawable>, (size_t) numIcons> icons;

        JUCE_DECLARE_NON_COPYABLE (IconStore)
    };

    JUCE_IMPLEMENT_SINGLETON (IconStore)

    juce::String documentText (const char* data, int size)
    {
        return juce::String::fromUTF8 (data, size);
    }
} // namespace

const juce::Drawable& logo()
{
    return IconStore::getInstance()->get (IconStore::logoIcon);
}

const juce::Drawable& previous()
{
    return IconStore::getInstance()->get (IconStore::previousIcon);
}

const juce::Drawable& random()
{
    return IconStore::getInstance()->get (IconStore::randomIcon);
}

const juce::Drawable& next()
{
    return IconStore::getInstance()->get (IconStore::nextIcon);
}

juce::String logoSvg()     { return documentText (CvxBinaryData::logo_svg, CvxBinaryData::logo_svgSize); }
juce::String previousSvg() { return documentText (CvxBinaryData::previous_svg, CvxBinaryData::previous_svgSize); }
juce::String randomSvg()   { return documentText (CvxBinaryData::random_svg, CvxBinaryData::random_svgSize); }
juce::String nextSvg()     { return documentText (CvxBinaryData::next_svg, CvxBinaryData::next_svgSize); }

} // namespace cvx::assets::svgs
