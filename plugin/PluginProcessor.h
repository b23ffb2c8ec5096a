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

    /** The upward compressors' lookahead, in seconds: they delay the band by this much, so the
        gain that their undelayed envelope asks for arrives ahead of the sound. The dry path is
        delayed by the same amount, and the host is told of it as latency. */
    static constexpr float lookaheadTime = 0.008f;

    /** The upward compressors' attack is this fraction of the lookahead time, so that their
        envelope would settle before the delayed sound arrives. The product is handed to the
        compressor as milliseconds (0.0064) while the lookahead is added in seconds, which
        makes the upward attack far shorter than one sample: that is the product's sound
        (see Compressor::setAttack), not a slip to correct. */
    static constexpr float upwardAttackFactor = 0.8f;

    /** Input, wet and dry gains glide to a new value over this time: short enough to follow
        automation, long enough that a step does not click. */
    static constexpr double gainRampSeconds = 0.002;

    /** The output limiter: its ceiling (linear, about -0.45 dB) and its release; its attack is
        instant. */
    static constexpr float limiterCeiling = 0.95f;
    static constexpr float limiterReleaseMilliseconds = 2.0f;

    /** The longest piece of a block, in oversampled frames: at 4x and 8x a piece this short
        keeps the band buffers in the processor's caches from one stage to the next. */
    static constexpr int pieceFrames = 1024;

    /** The filters of one two-times oversampling stage: normalised transition widths
        (0 .. 0.5 of the stage's output rate) and stop-band levels in dB of its up- and
        down-sampling half-band filters. */
    struct OversamplingStage
    {
        float upTransition, upStopband, downTransition, downStopband;
    };

    /** Stage 1 of 1 .. 3. Its transitions start at 0.225 (up) and 0.22 (down) of the doubled
        rate, so it keeps the audio band up to 0.45 (and 0.44) of the host rate. Each later
        stage runs at twice the rate of the one before, where that band is half as wide a part
        of the spectrum: its transitions may be twice as wide, and its stop bands 10 dB higher
        per stage, since the stages before have already removed the images nearest the band. */
    static OversamplingStage getOversamplingStage (int stage) noexcept;

    /** The downward ratio the engine uses for the "RAD" value: twice its distance from 1,
        plus 1 (4 gives 7). The downward curve works on linear levels, where a ratio reduces
        less than the same ratio on decibels; doubling brings it nearer to what the value
        shown suggests. */
    static float downwardRatio (float parameterRatio) noexcept;

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

    /** What a piece of a block works with, read once from the bindings and the switches. */
    struct ChunkSettings
    {
        bool sidechain = false, dryWetMode = false, limiterOn = true, dryPathOn = false;
        float inputDecibels = 0, dryDecibels = 0, wetDecibels = 0, mixPercent = 0, outputDecibels = 0;
        float attackMilliseconds = 0, releaseMilliseconds = 0;
        int numBands = 1;
    };

    /** A piece of the host block and its oversampled views. */
    struct OversampledChunk
    {
        juce::dsp::AudioBlock<float> hostChannels;  // the host's main then key channels
        juce::dsp::AudioBlock<float> main;          // the main channels, oversampled
        juce::dsp::AudioBlock<float> inputView;     // what the input analyser and the key split see
        int numChannels = 0;                        // main channels
        int numFrames = 0;                          // oversampled frames
    };

    /** The wet and dry levels in dB that the mix stage applies. */
    struct MixLevels
    {
        float wetDecibels, dryDecibels;
    };

    void prepareOversampler (int stages, int numInputs, int maxBlock);
    void prepareCompressors (const juce::dsp::ProcessSpec& oversampled);

    /** The signal path for numSamples host samples of the block from start, at most
        maximumBlockSize and pieceFrames / factor of them, in the order of its stages. */
    void processChunk (cvx::ProcessBlock<float>& block, int start, int numSamples);

    ChunkSettings readSettings (const cvx::ProcessBlock<float>& block) const noexcept;
    OversampledChunk upsampleAndRoute (cvx::ProcessBlock<float>& block, int start, int numSamples,
                                       int numChannels, bool sidechain);
    void captureDryPath (const juce::dsp::AudioBlock<float>& main, int numFrames);
    void applyInputGain (const juce::dsp::AudioBlock<float>& main, float decibels, bool sidechain);
    void splitIntoBands (const juce::dsp::AudioBlock<float>& main, const juce::dsp::AudioBlock<float>& key,
                         int numBands, bool sidechain);
    void compressBands (int numBands, int numChannels, int numFrames, bool sidechain,
                        float attackMilliseconds, float releaseMilliseconds);
    juce::dsp::AudioBlock<float> sumBands (int numBands, int numChannels, int numFrames);
    MixLevels getMixLevels (bool dryWetMode, float dryDecibels, float wetDecibels, float mixPercent,
                            float outputDecibels) noexcept;
    void applyWetGain (const juce::dsp::AudioBlock<float>& sum, float decibels);
    void mixDryPath (juce::dsp::AudioBlock<float>& sum, int numBands, float decibels);
    void downsample (const OversampledChunk& chunk, const juce::dsp::AudioBlock<float>& sum, bool limiterOn);

    void readMeters (int band, float& level, float& compressedLevel);

    std::unique_ptr<cvx::dsp::Oversampler> oversampler;
    BandSplitter<maxBands> splitter, sidechainSplitter;
    std::vector<std::unique_ptr<cvx::dsp::Compressor>> upward, downward;
    cvx::dsp::IntegerDelay dryDelay;     // the dry path's share of the lookahead
    cvx::dsp::Limiter limiter;

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
