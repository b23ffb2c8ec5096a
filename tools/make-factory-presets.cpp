// Writes the factory presets into a folder, through the plug-in's own state and preset writer:
//     make-factory-presets resources/presets

#include "FactoryPresets.h"

#include <iostream>

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: make-factory-presets FOLDER\n";
        return 2;
    }

    const juce::ScopedJuceInitialiser_GUI juce;
    const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]);
    if (folder.createDirectory().failed())
    {
        std::cerr << "cannot create " << folder.getFullPathName() << "\n";
        return 1;
    }

    for (const auto& preset : vyx::presets::getFactoryPresets())
    {
        const auto file = folder.getChildFile (preset.name + cvx::ui::PresetFiles::extension);
        if (! cvx::ui::PresetFiles::write (vyx::presets::makePresetTree (preset), file))
        {
            std::cerr << "cannot write " << file.getFullPathName() << "\n";
            return 1;
        }
        std::cout << file.getFullPathName() << "\n";
    }
    return 0;
}
