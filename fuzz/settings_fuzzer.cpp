// The settings file reader: any bytes in the settings file. A file that loads must save and
// load again to the same values.

#include "FuzzSupport.h"

namespace
{
    cvx::cache::ValueFile& getSettings()
    {
        static auto& settings = vyx::fuzz::keepUntilExit (std::make_unique<cvx::cache::ValueFile> ("VyxFuzz"));
        return settings;
    }
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    vyx::fuzz::initialise();
    getSettings();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    auto& settings = getSettings();
    const auto& file = settings.getFile();
    file.replaceWithData (data, size);
    settings.clear();

    if (! settings.load())
        return 0;

    const juce::NamedValueSet loaded (settings);
    if (! settings.save())
        vyx::fuzz::fail ("loaded settings could not be saved");

    settings.clear();
    if (! settings.load())
        vyx::fuzz::fail ("saved settings do not load", file.loadFileAsString());

    if (! (static_cast<const juce::NamedValueSet&> (settings) == loaded))
        vyx::fuzz::fail ("settings changed through a save and a load", file.loadFileAsString());
    return 0;
}
