#include "TopBar.h"

namespace
{
    const juce::Identifier paramType { "PARAM" }, idKey { "id" }, valueKey { "value" };
} // namespace

TopBar::TopBar (VyxAudioProcessor& p)
    : cvx::ui::TopBar (p.state),
      processor (p)
{
    presetsMenu.preLoad = [this] (juce::ValueTree& preset) { migrateLegacyPreset (preset); };
    presetsMenu.preApply = [] {};
    presetsMenu.postLoad = [] {};
}

TopBar::~TopBar() = default;

//==============================================================================
float TopBar::readParameter (const juce::ValueTree& parameters, const juce::Identifier& id, float defaultValue)
{
    const auto child = parameters.getChildWithProperty (idKey, id.toString());
    if (! child.isValid())
        return defaultValue;

    return child.hasProperty (valueKey) ? (float) cvx::toNumber (child.getProperty (valueKey)) : defaultValue;
}

void TopBar::writeParameter (juce::ValueTree& parameters, const juce::Identifier& id, float value)
{
    if (! parameters.isValid())
        return;

    auto child = parameters.getChildWithProperty (idKey, id.toString());
    if (! child.isValid())
    {
        child = juce::ValueTree { paramType };
        child.setProperty (idKey, id.toString(), nullptr);
        parameters.appendChild (child, nullptr);
    }

    child.setProperty (valueKey, (double) value, nullptr);
}

void TopBar::migrateLegacyPreset (juce::ValueTree& preset)
{
    const auto mixId = juce::Identifier (Layout::MIX_PERCENT.id);
    const bool legacy = ! preset.getChildWithName (cvx::State::parametersID)
                              .getChildWithProperty (idKey, mixId.toString()).isValid();

    if (preset.hasType (legacyTreeType))
    {
        auto wrapped = state.toPreset();
        wrapped.getChildWithName (cvx::State::parametersID).copyPropertiesAndChildrenFrom (preset, nullptr);
        preset = wrapped;
    }

    if (! legacy)
        return;

    auto parameters = preset.getChildWithName (cvx::State::parametersID);

    const auto out = readParameter (parameters, Layout::OUT_GAIN.id, 0.0f);
    const auto dry = cvx::dsp::decibelsToGain (readParameter (parameters, Layout::DRY_GAIN.id, -80.0f));
    const auto wet = cvx::dsp::decibelsToGain (readParameter (parameters, Layout::WET_GAIN.id, 0.0f));
    const auto sum = dry + wet;

    // Both paths silent: the ratio has no value. All wet keeps the processed sound, and the
    // output stays where it was rather than dropping by 100 dB.
    if (! (sum > 0.0f))
    {
        writeParameter (parameters, mixId, 100.0f);
        return;
    }

    const auto level = cvx::dsp::gainToDecibels (sum);
    writeParameter (parameters, mixId, wet / sum * 100.0f);
    writeParameter (parameters, Layout::OUT_GAIN.id, out + level);
}

//==============================================================================
void TopBar::addSettingsToPopupMenu (juce::PopupMenu& menu)
{
    auto switches = state.properties;
    auto attributes = state.attributes;
    const juce::Component::SafePointer<TopBar> safe (this);

    const auto over = (int) attributes.getProperty (Attributes::oversampler, 0);
    menu.addItem ("Oversampling", false, false, nullptr);
    const char* const factors[] { "None", "2x", "4x", "8x" };
    for (int stages = 0; stages < 4; ++stages)
    {
        menu.addItem (factors[stages], true, over == stages, [safe, attributes, stages]() mutable
        {
            attributes.setProperty (Attributes::oversampler, stages, nullptr);
            // The rebuild reads the new choice; one already on its way reads it as well.
            if (safe != nullptr)
                safe->processor.requestReprepare();
        });
    }

    // Readers of a missing switch agree with the engine: mix and output, limiter on, sidechain off.
    const auto addSwitch = [&] (const juce::String& title, const juce::Identifier& key, bool fallback,
                                const juce::String& onText, const juce::String& offText)
    {
        const bool value = (bool) switches.getProperty (key, fallback);
        menu.addSeparator();
        menu.addItem (title, false, false, nullptr);
        menu.addItem (onText, true, value, [switches, key]() mutable { switches.setProperty (key, true, nullptr); });
        menu.addItem (offText, true, ! value, [switches, key]() mutable { switches.setProperty (key, false, nullptr); });
    };

    addSwitch ("Mixer", Properties::dryWet, false, "Dry / Wet", "Mix / Output");
    addSwitch ("Limiter", Properties::limiter, true, "On", "Off");
    addSwitch ("Sidechain", Properties::sidechain, false, "On", "Off");

    menu.addCustomItem (32, std::make_unique<cvx::ui::ColourPicker> (attributes, cvx::State::Attributes::colour, 28),
                        nullptr, {});
}
