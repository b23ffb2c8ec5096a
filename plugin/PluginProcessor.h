#pragma once

#include "Layout.h"
#include "BandSplitter.h"

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

    /** Rebuilds the signal chain for the setup and the "OVER" attribute and reports the
        latency. Runs under the prepare lock, never concurrently with process. */
    void prepare (cvx::ProcessSpec setup) override;

    /** Oversample, split, compress up then down, sum, mix with the aligned dry path, limit,
        downsample; in place on the host's main channels. Audio thread. */
    void process (cvx::ProcessBlock<float>& block) override;

    /** Band index in; the band's detected level and its level after both compressors out
        (linear). Message thread; safe before the first preparation and during one. */
    std::function<void (int, float&, float&)> getCompMeter;

    cvx::ui::SpectrumDisplay inputSpectrum, outputSpectrum;
    Parameters parameters;

    static constexpr int maxBands = Layout::numBands;
    static constexpr float lookaheadTime = 0.008f;  // seconds
    static constexpr int pieceFrames = 1024;        // longest piece of a block, in oversampled frames
    static constexpr float limiterCeiling = 0.95f;

    /** The oversampling factor of the current preparation (1, 2, 4 or 8). */
    int getOversamplingFactor() const noexcept { return oversamplingFactor; }

private:
    /** The Properties and the "OVER" attribute the engine reads, mirrored into atomics on the
        message thread, so that neither the audio thread nor a host thread preparing the engine
        reads a tree while it is being changed. */
    struct Switches : private juce::ValueTree::Listener
    {
        Switches (juce::ValueTree properties, juce::ValueTree attributes);
        ~Switches() override;

        std::atomic<bool> dryWet { false }, limiter { true };
        std::atomic<int> oversampling { 0 };  // stages 0..3

    private:
        void update();
        void valueTreePropertyChanged (juce::ValueTree&, const juce::Identifier&) override { update(); }
        void valueTreeRedirected (juce::ValueTree&) override { update(); }

        juce::ValueTree properties, attributes;
    };

    void processChunk (cvx::ProcessBlock<float>& block, int start, int numSamples);
    void applyLimiter (int numSamples) noexcept;
    void readMeters (int band, float& level, float& compressedLevel);

    std::unique_ptr<cvx::dsp::Oversampler> oversampler;
    BandSplitter<maxBands> splitter, sidechainSplitter;
    std::vector<std::unique_ptr<cvx::dsp::Compressor>> upward, downward;
    cvx::dsp::IntegerDelay dryDelay;     // the dry path's share of the lookahead

    float limiterSampleRate = 44100.0f;
    float limiterAttack = 0.0f, limiterRelease = 0.0f;  // coefficients
    float limiterEnvelope = 0.0f;
    juce::AudioBuffer<float> limiterDetector;

    juce::AudioBuffer<float> dryBuffer, sumBuffer;
    juce::dsp::Gain<float> inputGain, dryGain, wetGain;

    /** A conversion remembered for its last argument: the engine converts the same dB values
        block after block, and at small blocks the pow and log10 calls cost more than the rest
        of the setup. A NaN argument is converted every time. */
    struct LastConversion
    {
        template <typename Function>
        float operator() (float x, Function&& convert) noexcept
        {
            if (! (x == argument))
            {
                argument = x;
                result = convert (x);
            }
            return result;
        }

        float argument = std::numeric_limits<float>::quiet_NaN(), result = 0.0f;
    };

    LastConversion inConversion, wetConversion, dryConversion, mixWetConversion, mixDryConversion;
    std::array<LastConversion, maxBands> upThresholdConversions, downThresholdConversions;

    cvx::ProcessSpec engineSpec;
    int oversamplingFactor = 1;
    int oversamplerChannels = 0;
    int lookaheadSamples = 0;            // at the oversampled rate
    std::array<float*, 8> channelList {};
    std::vector<float> crossoverList;
    juce::SpinLock meterLock;            // guards the compressor sets against getCompMeter
    Switches switches;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VyxAudioProcessor)
};
