// Preset files: any bytes in a preset file, read and applied the way the presets menu loads
// one. Parameters must stay finite and inside their ranges, and the applied state must turn
// into a preset that applies to itself.

#include "FuzzSupport.h"

namespace
{
    juce::File getPresetFile()
    {
        static const auto file = juce::File::getSpecialLocation (juce::File::userHomeDirectory)
                                     .getNonexistentChildFile ("vyx-fuzz", ".preset");
        return file;
    }

    juce::String presetText (cvx::State& state)
    {
        return state.toPreset().toXmlString();
    }
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    vyx::fuzz::initialise();
    vyx::fuzz::getProcessor();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    auto& processor = vyx::fuzz::getProcessor();
    auto& state = processor.state;
    const auto file = getPresetFile();
    file.replaceWithData (data, size);

    auto tree = cvx::ui::PresetFiles::read (file);
    if (! tree.isValid() || ! cvx::ui::PresetFiles::isStateTree (tree))
        return 0;

    cvx::ui::PresetFiles::sanitiseParameters (tree, state.parameters);
    state.fromPreset (tree);

    for (auto* p : processor.getParameters())
        if (! std::isfinite (p->getValue()) || p->getValue() < 0.0f || p->getValue() > 1.0f)
            vyx::fuzz::fail ("parameter outside its range after a preset load", p->getName (64));

    const auto first = presetText (state);
    state.fromPreset (state.toPreset());
    const auto second = presetText (state);
    if (first != second)
        vyx::fuzz::fail ("a preset made from a loaded preset does not apply to itself", first + "\n---\n" + second);
    return 0;
}
