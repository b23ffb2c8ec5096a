#include "Layout.h"

namespace Layout
{

namespace
{
    constexpr float fine = 0.000001f;

    /** f = 10^(log10 s + p (log10 e - log10 s)) and back, in single precision. The way back
        clamps to 0..1 itself, so a frequency outside the range maps to an end without the
        range's debug check on out-of-range results firing. */
    juce::NormalisableRange<float> logFrequencyRange (float start, float end)
    {
        return { start, end,
                 [] (float s, float e, float p) { return std::pow (10.0f, std::log10 (s) + p * (std::log10 (e) - std::log10 (s))); },
                 [] (float s, float e, float f)
                 {
                     const float p = (std::log10 (f) - std::log10 (s)) / (std::log10 (e) - std::log10 (s));
                     return p > 0.0f ? std::min (1.0f, p) : 0.0f;
                 } };
    }

    const juce::NormalisableRange<float> GAIN_RANGE { -80.0f, 12.0f, fine, 1.0f };
} // namespace

const juce::NormalisableRange<float> BOOL_RANGE { 0.0f, 1.0f, 1.0f, 1.0f };
const juce::NormalisableRange<float> THRESH_RANGE { -60.0f, 0.0f, fine, 1.0f };
const juce::NormalisableRange<float> RATIO_RANGE { 1.0f, 16.0f, fine, 0.25f };
const juce::NormalisableRange<float> TIME_RANGE { 0.0f, 450.0f, fine, 0.35f };
const juce::NormalisableRange<float> LOG_FREQ_RANGE = logFrequencyRange (20.0f, 44000.0f);

const Parameter IN_GAIN     { "IN",  "Input Gain",  GAIN_RANGE, 0.0f };
const Parameter DRY_GAIN    { "DRY", "Dry Gain",    GAIN_RANGE, -80.0f };
const Parameter WET_GAIN    { "WET", "Wet Gain",    GAIN_RANGE, 0.0f };
const Parameter MIX_PERCENT { "MIX", "Mix",         { 0.0f, 100.0f, fine, 1.0f }, 100.0f };
const Parameter OUT_GAIN    { "OUT", "Output Gain", GAIN_RANGE, 0.0f };
const Parameter NUM_BANDS   { "NUM", "Num Bands",   { 1.0f, 8.0f, 1.0f, 1.0f }, 3.0f };

const std::vector<const Parameter*> GLOBAL_PARAMS { &IN_GAIN, &DRY_GAIN, &WET_GAIN, &MIX_PERCENT, &OUT_GAIN, &NUM_BANDS };

const Parameter BAND_MIX     { "BMIX", "Mix",             { 0.0f, 1.0f, fine, 1.0f }, 1.0f };
const Parameter THRESH_DOWN  { "THD",  "Thresh Down",     THRESH_RANGE, -8.0f };
const Parameter RATIO_DOWN   { "RAD",  "Ratio Down",      RATIO_RANGE, 4.0f };
const Parameter ATTACK_DOWN  { "ATD",  "Attack Down",     TIME_RANGE, 8.0f };
const Parameter RELEASE_DOWN { "RED",  "Release Down",    TIME_RANGE, 50.0f };
const Parameter THRESH_UP    { "THU",  "Thresh Up",       THRESH_RANGE, -36.0f };
const Parameter RATIO_UP     { "RAU",  "Ratio Up",        RATIO_RANGE, 2.0f };
const Parameter ATTACK_UP    { "ATU",  "Attack Up",       TIME_RANGE, 50.0f };
const Parameter RELEASE_UP   { "REU",  "Release Up",      TIME_RANGE, 8.0f };
const Parameter CROSS_R      { "CR",   "Crossover Right", LOG_FREQ_RANGE, 20000.0f };
const Parameter BAND_ENABLED { "BON",  "Enabled",         BOOL_RANGE, 1.0f };

const std::vector<const Parameter*> BAND_PARAMS { &BAND_MIX, &THRESH_DOWN, &RATIO_DOWN, &ATTACK_DOWN, &RELEASE_DOWN,
                                                  &THRESH_UP, &RATIO_UP, &ATTACK_UP, &RELEASE_UP, &CROSS_R, &BAND_ENABLED };

juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout()
{
    juce::AudioProcessorValueTreeState::ParameterLayout layout;

    const auto add = [&layout] (const Parameter& p)
    {
        layout.add (std::make_unique<juce::AudioParameterFloat> (juce::ParameterID { p.id, 1 }, p.name, p.range, p.defaultValue));
    };

    for (const auto* p : GLOBAL_PARAMS)
        add (*p);

    for (int b = 0; b < numBands; ++b)
    {
        for (const auto* record : BAND_PARAMS)
        {
            auto copy = *record;
            copy.id = record->id + juce::String (b);
            copy.name = "Band " + juce::String (b) + " " + record->name;
            add (copy);
        }
    }

    return layout;
}

} // namespace Layout
