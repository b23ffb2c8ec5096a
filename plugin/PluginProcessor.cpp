#include "PluginProcessor.h"
#include "PluginEditor.h"

namespace
{
    juce::String bandId (const Layout::Parameter& record, int band)
    {
        return record.id + juce::String (band);
    }
} // namespace

//==============================================================================
VyxAudioProcessor::CompParameters::CompParameters (cvx::State& state, int band, bool isDown)
    : threshold (state, bandId (isDown ? Layout::THRESH_DOWN : Layout::THRESH_UP, band)),
      ratio (state, bandId (isDown ? Layout::RATIO_DOWN : Layout::RATIO_UP, band))
{
}

void VyxAudioProcessor::CompParameters::pull()
{
    threshold.pull();
    ratio.pull();
}

VyxAudioProcessor::BandParameters::BandParameters (cvx::State& state, int band)
    : crossover (state, bandId (Layout::CROSS_R, band)),
      down (state, band, true),
      up (state, band, false)
{
}

void VyxAudioProcessor::BandParameters::pull()
{
    crossover.pull();
    down.pull();
    up.pull();
}

VyxAudioProcessor::Parameters::Parameters (cvx::State& state)
    : inGain (state, Layout::IN_GAIN.id),
      dryGain (state, Layout::DRY_GAIN.id),
      wetGain (state, Layout::WET_GAIN.id),
      mix (state, Layout::MIX_PERCENT.id),
      outGain (state, Layout::OUT_GAIN.id),
      attack (state, bandId (Layout::ATTACK_DOWN, 0)),
      release (state, bandId (Layout::RELEASE_DOWN, 0)),
      numBands (state, Layout::NUM_BANDS.id)
{
    bands.reserve (Layout::numBands);
    for (int b = 0; b < Layout::numBands; ++b)
        bands.push_back (std::make_unique<BandParameters> (state, b));
}

void VyxAudioProcessor::Parameters::pull()
{
    inGain.pull();
    dryGain.pull();
    wetGain.pull();
    mix.pull();
    outGain.pull();
    attack.pull();
    release.pull();
    numBands.pull();
    for (auto& band : bands)
        band->pull();
}

//==============================================================================
VyxAudioProcessor::VyxAudioProcessor (juce::AudioProcessorValueTreeState::ParameterLayout layout)
    : cvx::AudioProcessor (std::move (layout)),
      parameters (state)
{
    // Factory crossovers, written as set-and-notify without a gesture.
    const std::pair<int, float> factoryCrossovers[] { { 0, 550.0f }, { 1, 2500.0f }, { 2, 20000.0f } };
    for (const auto& [band, frequency] : factoryCrossovers)
    {
        if (auto* p = state.parameters.getParameter (bandId (Layout::CROSS_R, band)))
        {
            const float normalised = p->convertTo0to1 (frequency);
            p->setValue (normalised);
            p->sendValueChangedMessageToListeners (normalised);
        }
    }
}

VyxAudioProcessor::~VyxAudioProcessor() = default;

juce::AudioProcessorEditor* VyxAudioProcessor::createEditor()
{
    return new VyxAudioProcessorEditor (*this);
}

void VyxAudioProcessor::prepare (cvx::ProcessSpec)
{
}

void VyxAudioProcessor::process (cvx::ProcessBlock<float>& block)
{
    parameters.pull();
    juce::ignoreUnused (block);
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new VyxAudioProcessor (Layout::createParameterLayout());
}
