#pragma once

#include <cvx_core/cvx_core.h>

/** The 94 host parameters, defined once and shared by the processor and the editor. */
namespace Layout
{

/** One parameter definition. For per-band records the id and name are bases to which the band
    index (and "Band <b> ") are added. */
struct Parameter
{
    juce::String id;
    juce::String name;
    juce::NormalisableRange<float> range;
    float defaultValue;
};

extern const juce::NormalisableRange<float> BOOL_RANGE;
extern const juce::NormalisableRange<float> THRESH_RANGE;   // dB
extern const juce::NormalisableRange<float> RATIO_RANGE;
extern const juce::NormalisableRange<float> TIME_RANGE;     // ms
extern const juce::NormalisableRange<float> LOG_FREQ_RANGE; // Hz

extern const Parameter IN_GAIN, DRY_GAIN, WET_GAIN, MIX_PERCENT, OUT_GAIN, NUM_BANDS;
extern const std::vector<const Parameter*> GLOBAL_PARAMS;

extern const Parameter BAND_MIX, THRESH_DOWN, RATIO_DOWN, ATTACK_DOWN, RELEASE_DOWN,
                       THRESH_UP, RATIO_UP, ATTACK_UP, RELEASE_UP, CROSS_R, BAND_ENABLED;
extern const std::vector<const Parameter*> BAND_PARAMS;

constexpr int numBands = 8;
constexpr int numParameters = 6 + numBands * 11;

/** The framework's layout of all 94 parameters in host order: globals, then band-major. */
juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout();

} // namespace Layout

/** Product switches, saved with presets. */
namespace Properties
{
static const juce::Identifier sidechain { "SIDE" };
static const juce::Identifier limiter { "LIMIT" };
static const juce::Identifier dryWet { "DRYWET" };
} // namespace Properties

/** Per-instance product values, saved with the host state but not in presets. */
namespace Attributes
{
static const juce::Identifier view { "VIEW" };
static const juce::Identifier oversampler { "OVER" };  // 0..3: none, 2x, 4x, 8x
} // namespace Attributes
