#pragma once

#include "../PluginProcessor.h"

/** The product's top bar: the maker library's top bar with the product's settings section
    (oversampling, mixer mode, limiter, sidechain, theme colour) and the conversion of presets
    written by older versions, which stored a dry and a wet gain but no mix percentage. */
class TopBar : public cvx::ui::TopBar
{
public:
    explicit TopBar (VyxAudioProcessor& processor);
    ~TopBar() override;

    /** Appends the settings section; its ticks show the state at the moment the menu opens. */
    void addSettingsToPopupMenu (juce::PopupMenu& menu) override;

    /** Converts a preset tree read from a file before it is applied: a bare "PARAMETERS" tree
        is wrapped into a full preset of the current state, and a preset without a "MIX"
        parameter gets MIX and OUT that give the balance and level of its DRY and WET gains.
        Current presets pass through unchanged. */
    void migrateLegacyPreset (juce::ValueTree& preset);

    /** The value of parameter id in a "Parameters" tree, or the default when it has none. */
    static float readParameter (const juce::ValueTree& parameters, const juce::Identifier& id, float defaultValue);

    /** Sets parameter id in a "Parameters" tree, adding its entry when missing; an invalid tree
        is left alone. */
    static void writeParameter (juce::ValueTree& parameters, const juce::Identifier& id, float value);

    const juce::Identifier legacyTreeType { "PARAMETERS" };
    VyxAudioProcessor& processor;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TopBar)
};
