#include "PresetsTestSupport.h"
#include "FactoryPresets.h"

namespace vyx::test
{
namespace
{

using cvx::ui::PresetFiles;

juce::File shippedFolder()
{
    return juce::File (VYX_FACTORY_PRESETS_DIR);
}

TEST (FactoryPresetsTest, EveryShippedPresetIsInTheTableAndEveryTableEntryIsShipped)
{
    juce::StringArray shipped;
    for (const auto& file : PresetFiles::findPresets (shippedFolder()))
        shipped.add (file.getFileNameWithoutExtension());

    juce::StringArray table;
    for (const auto& preset : presets::getFactoryPresets())
        table.add (preset.name);

    shipped.sort (false);
    table.sort (false);
    EXPECT_EQ (shipped, table);
    EXPECT_GE (table.size(), 5);
}

TEST (FactoryPresetsTest, EachPresetIsACompleteStateWithEveryValueInRange)
{
    auto processor = makeProcessor();
    const auto& store = processor->state.parameters;

    for (const auto& preset : presets::getFactoryPresets())
    {
        SCOPED_TRACE (preset.name);
        const auto file = shippedFolder().getChildFile (preset.name + ".preset");
        const auto tree = PresetFiles::read (file);
        ASSERT_TRUE (tree.isValid());
        EXPECT_TRUE (tree.hasType (cvx::State::stateID));

        const auto parameters = tree.getChildWithName (cvx::State::parametersID);
        EXPECT_EQ (parameters.getNumChildren(), Layout::numParameters);

        juce::StringArray ids;
        for (const auto& child : parameters)
        {
            const auto id = child.getProperty ("id").toString();
            ids.add (id);
            auto* parameter = store.getParameter (id);
            ASSERT_NE (parameter, nullptr) << id;
            const auto value = (double) child.getProperty ("value");
            const auto& range = parameter->getNormalisableRange();
            EXPECT_TRUE (std::isfinite (value)) << id;
            EXPECT_GE (value, range.start) << id;
            EXPECT_LE (value, range.end) << id;
        }
        ids.removeDuplicates (false);
        EXPECT_EQ (ids.size(), Layout::numParameters);

        // The editor pins the last band's crossover to the top of its range: stored anywhere
        // else, the preset would show as edited as soon as the window is open.
        const auto bands = (int) parameters.getChildWithProperty ("id", "NUM").getProperty ("value");
        const auto last = parameters.getChildWithProperty ("id", "CR" + juce::String (bands - 1));
        EXPECT_NEAR (store.getParameter (last.getProperty ("id").toString())->convertTo0to1 ((float) last.getProperty ("value")),
                     1.0f, 1.0e-6f);

        // The file holds what the table asks for, as the plug-in wrote it.
        for (const auto& [id, value] : preset.values)
            EXPECT_NEAR ((float) parameters.getChildWithProperty ("id", id).getProperty ("value"), value,
                         std::abs (value) * 1e-5f + 1e-4f) << id;
        for (const auto& [key, value] : preset.switches)
            EXPECT_EQ (tree.getChildWithName (cvx::State::propertiesID).getProperty (key), value) << key.toString();
    }
}

TEST (FactoryPresetsTest, EachPresetLoadsCleanlyFromTheFactoryFolder)
{
    PresetFolders folders;
    for (const auto& file : PresetFiles::findPresets (shippedFolder()))
        ASSERT_TRUE (file.copyFileTo (folders.factory().getChildFile (file.getFileName())));

    auto processor = makeProcessor();
    cvx::ui::PresetsMenu menu (processor->state);
    const auto built = menu.getMenu();
    ASSERT_EQ (menu.getPresetList().size(), presets::getFactoryPresets().size());

    for (const auto& file : menu.getPresetList())
    {
        SCOPED_TRACE (file.getFileName());
        menu.loadPreset (file);
        EXPECT_EQ (PresetFiles::getCurrentPreset (processor->state), file);
        EXPECT_FALSE ((bool) processor->state.attributes.getProperty (cvx::State::Attributes::dirty, false));
        EXPECT_EQ (menu.label.getText(), file.getFileNameWithoutExtension());
    }

    // "Delete" stays greyed out for a factory preset.
    EXPECT_FALSE (findItem (menu.getMenu(), "Delete")->isEnabled);
}

} // namespace
} // namespace vyx::test
