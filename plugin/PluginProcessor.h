#pragma once

#include "Layout.h"

/** The product's processor: the maker library's processor base plus the multiband engine. */
class VyxAudioProcessor : public cvx::AudioProcessor
{
public:
    /** One compression direction of one band. */
    struct CompParameters
    {
        CompParameters (cvx::State& state, int band, bool down);
        void pull();

        cvx::Parameter<float> threshold;  // dB
        cvx::Parameter<float> ratio;
    };

    /** The bindings of one band. */
    struct BandParameters
    {
        BandParameters (cvx::State& state, int band);
        void pull();

        cvx::Parameter<float> crossover;  // Hz, upper edge of the band
        CompParameters down;
        CompParameters up;
    };

    /** Every parameter the engine reads. Band 0's attack and release down act for all bands. */
    struct Parameters
    {
        explicit Parameters (cvx::State& state);
        void pull();

        cvx::Parameter<float> inGain, dryGain, wetGain, mix, outGain;
        cvx::Parameter<float> attack, release;
        cvx::Parameter<int> numBands;
        std::vector<std::unique_ptr<BandParameters>> bands;  // bands 0..7; the editor keeps pointers
    };

    explicit VyxAudioProcessor (juce::AudioProcessorValueTreeState::ParameterLayout layout);
    ~VyxAudioProcessor() override;

    juce::AudioProcessorEditor* createEditor() override;

    void prepare (cvx::ProcessSpec spec) override;
    void process (cvx::ProcessBlock<float>& block) override;

    Parameters parameters;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VyxAudioProcessor)
};
