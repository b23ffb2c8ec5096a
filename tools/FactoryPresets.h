#pragma once

#include "plugin/PluginProcessor.h"

#include <utility>
#include <vector>

namespace vyx::presets
{

/** One factory preset: the plain values and product switches that differ from a fresh
    instance. The shipped files are this table written out by the plug-in's own state. */
struct FactoryPreset
{
    juce::String name;
    std::vector<std::pair<juce::String, float>> values;
    std::vector<std::pair<juce::Identifier, juce::var>> switches;
};

/** Values for every band 0..count-1 of one band parameter. */
inline std::vector<std::pair<juce::String, float>> forBands (const juce::String& id, int count, float value)
{
    std::vector<std::pair<juce::String, float>> values;
    for (int b = 0; b < count; ++b)
        values.emplace_back (id + juce::String (b), value);
    return values;
}

inline std::vector<FactoryPreset> getFactoryPresets()
{
    const auto join = [] (std::initializer_list<std::vector<std::pair<juce::String, float>>> parts)
    {
        std::vector<std::pair<juce::String, float>> all;
        for (const auto& part : parts)
            all.insert (all.end(), part.begin(), part.end());
        return all;
    };

    // The editor pins the last band's crossover to the top of the range; a preset that stores
    // it there loads without being marked edited.
    const float top = Layout::CROSS_R.range.end;

    return {
        // Light downward compression across three bands: holds a mix together.
        { "Gentle Glue",
          join ({ { { "NUM", 3.0f }, { "CR0", 200.0f }, { "CR1", 3000.0f }, { "CR2", top },
                    { "ATD0", 20.0f }, { "RED0", 120.0f }, { "OUT", 1.0f } },
                  forBands ("THD", 3, -20.0f), forBands ("RAD", 3, 2.0f), forBands ("RAU", 3, 1.0f) }),
          { { Properties::limiter, true } } },

        // Upward compression only: brings up quiet detail, blended in at 70 %.
        { "Upward Lift",
          join ({ { { "NUM", 3.0f }, { "CR0", 250.0f }, { "CR1", 4000.0f }, { "CR2", top },
                    { "MIX", 70.0f }, { "OUT", -2.0f } },
                  forBands ("THD", 3, 0.0f), forBands ("RAD", 3, 1.0f),
                  forBands ("THU", 3, -40.0f), forBands ("RAU", 3, 3.0f) }),
          { { Properties::limiter, true } } },

        // Firm downward compression of the low mids only.
        { "De-Mud",
          join ({ { { "NUM", 3.0f }, { "CR0", 180.0f }, { "CR1", 500.0f }, { "CR2", top },
                    { "THD0", 0.0f }, { "RAD0", 1.0f }, { "THD1", -30.0f }, { "RAD1", 6.0f },
                    { "THD2", 0.0f }, { "RAD2", 1.0f } },
                  forBands ("RAU", 3, 1.0f) }),
          { { Properties::limiter, true } } },

        // Eight bands of moderate two-way compression for a finished mix.
        { "8-Band Master",
          join ({ { { "NUM", 8.0f }, { "CR0", 60.0f }, { "CR1", 150.0f }, { "CR2", 400.0f }, { "CR3", 1000.0f },
                    { "CR4", 2500.0f }, { "CR5", 6000.0f }, { "CR6", 12000.0f }, { "CR7", top },
                    { "ATD0", 10.0f }, { "RED0", 80.0f } },
                  forBands ("THD", 8, -16.0f), forBands ("RAD", 8, 2.5f),
                  forBands ("THU", 8, -45.0f), forBands ("RAU", 8, 1.5f) }),
          { { Properties::limiter, true } } },

        // One full-range band pushed down hard by the sidechain signal.
        { "Sidechain Duck",
          join ({ { { "NUM", 1.0f }, { "CR0", top }, { "THD0", -30.0f }, { "RAD0", 8.0f }, { "RAU0", 1.0f },
                    { "ATD0", 2.0f }, { "RED0", 150.0f } } }),
          { { Properties::sidechain, true }, { Properties::limiter, true } } },
    };
}

/** The preset tree of a fresh instance with the preset's values and switches applied. */
inline juce::ValueTree makePresetTree (const FactoryPreset& preset)
{
    VyxAudioProcessor processor (Layout::createParameterLayout());
    for (const auto& [id, value] : preset.values)
    {
        auto* parameter = processor.state.parameters.getParameter (id);
        jassert (parameter != nullptr);
        if (parameter != nullptr)
            parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
    }
    for (const auto& [key, value] : preset.switches)
        processor.state.properties.setProperty (key, value, nullptr);
    return processor.state.toPreset();
}

} // namespace vyx::presets
