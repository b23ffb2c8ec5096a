#pragma once

#include "TestSupport.h"
#include "plugin/PluginProcessor.h"

namespace vyx::test
{

/** Fresh, empty user and factory preset folders for one test, both inside the test HOME; the
    factory folder is put there through its seam and given back afterwards. */
struct PresetFolders
{
    PresetFolders()
    {
        factoryRoot = getTestHome().getChildFile ("factory-" + juce::String::toHexString (juce::Random::getSystemRandom().nextInt64()));
        cvx::ui::PresetFiles::setFactoryRoot (factoryRoot);
        user().deleteRecursively();
        user().createDirectory();
        factory().createDirectory();
    }

    ~PresetFolders()
    {
        user().deleteRecursively();
        factoryRoot.deleteRecursively();
        cvx::ui::PresetFiles::setFactoryRoot (getTestHome().getChildFile ("common"));
    }

    static juce::File user() { return cvx::ui::PresetFiles::getDirectory (true); }
    juce::File factory() const { return cvx::ui::PresetFiles::getDirectory (false); }

    juce::File factoryRoot;
};

/** Writes a file with the given text, creating its folder. */
inline juce::File writeText (const juce::File& file, const juce::String& text)
{
    file.getParentDirectory().createDirectory();
    file.replaceWithText (text, false, false, "\n");
    return file;
}

/** A product processor as the host creates it. */
inline std::unique_ptr<VyxAudioProcessor> makeProcessor()
{
    return std::make_unique<VyxAudioProcessor> (Layout::createParameterLayout());
}

/** Sets a parameter by id to a plain value, as a host would. */
inline void setPlain (VyxAudioProcessor& p, const juce::String& id, float value)
{
    auto* parameter = p.state.parameters.getParameter (id);
    parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
}

inline float getPlain (VyxAudioProcessor& p, const juce::String& id)
{
    return p.state.parameters.getRawParameterValue (id)->load();
}

/** Every item of a menu, top level only, in order. */
inline std::vector<const juce::PopupMenu::Item*> itemsOf (const juce::PopupMenu& menu)
{
    std::vector<const juce::PopupMenu::Item*> items;
    for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
        items.push_back (&it.getItem());
    return items;
}

/** The texts of a menu's top-level items; separators as "---". */
inline juce::StringArray textsOf (const juce::PopupMenu& menu)
{
    juce::StringArray texts;
    for (const auto* item : itemsOf (menu))
        texts.add (item->isSeparator ? juce::String ("---") : item->text);
    return texts;
}

/** The first top-level item with this text, or null. */
inline const juce::PopupMenu::Item* findItem (const juce::PopupMenu& menu, const juce::String& text)
{
    for (const auto* item : itemsOf (menu))
        if (! item->isSeparator && item->text == text)
            return item;
    return nullptr;
}

} // namespace vyx::test
