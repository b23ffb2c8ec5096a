#pragma once

namespace cvx::dsp
{

/** A cascade of two-times half-band equiripple FIR stages, up and down, for all channels at
    once. It computes what juce::dsp::Oversampling<float> computes with
    filterHalfBandFIREquiripple stages (same coefficients, same latency, same fractional
    compensation delay), but runs each stage polyphase: only the non-zero taps, folded by
    symmetry, over block-wide history buffers instead of a state shifted every sample.
    Set up on the message thread, then initProcessing; process on the audio thread. */
class Oversampler
{
public:
    /** Processes up to numChannels channels. */
    explicit Oversampler (size_t numChannels);
    ~Oversampler();

    /** Adds a stage of factor 1 that leaves the signal as it is (no filtering, no latency). */
    void addDummyOversamplingStage();

    /** Adds a two-times stage: half-band equiripple low-passes for the way up and the way down,
        each given by its normalised transition width (0 ... 0.5) and stop-band level in dB. */
    void addOversamplingStage (float normalisedTransitionWidthUp, float stopbandAmplitudedBUp,
                               float normalisedTransitionWidthDown, float stopbandAmplitudedBDown);

    /** When true, processSamplesDown adds a fractional delay so that the total latency is a
        whole number of input-rate samples. Call before initProcessing. */
    void setUsingIntegerLatency (bool useIntegerLatency) noexcept;

    /** Allocates every buffer for blocks of up to maxSamplesBeforeOversampling input-rate
        samples and clears the state. Not on the audio thread. */
    void initProcessing (size_t maxSamplesBeforeOversampling);

    /** Clears all filter states and the compensation delay. */
    void reset() noexcept;

    /** Round-trip latency in input-rate samples, including the compensation delay when
        integer latency is on (then a whole number). */
    float getLatencyInSamples() const noexcept;

    /** Product of the stage factors (1, 2, 4, ...). */
    size_t getOversamplingFactor() const noexcept { return factor; }

    /** Up-samples the input's channels; the returned block (same channels, factor times the
        samples) lives in this object and stays valid until the next call. Audio thread. */
    juce::dsp::AudioBlock<float> processSamplesUp (const juce::dsp::AudioBlock<const float>& inputBlock) noexcept;

    /** Down-samples the block last returned by processSamplesUp (as the caller left it) into
        outputBlock, which gives the channel and input-rate sample counts. Audio thread. */
    void processSamplesDown (juce::dsp::AudioBlock<float>& outputBlock) noexcept;

private:
    /** The non-zero taps of one side of a symmetric half-band FIR (every second tap from the
        first up to the centre, which is kept apart), and its order. */
    struct HalfBand
    {
        std::vector<float> taps;
        float centre = 0.0f;
        int order = 0;

        int getHistory() const noexcept { return 2 * (int) taps.size() - 1; }
    };

    struct Stage
    {
        HalfBand up, down;
        juce::AudioBuffer<float> output;                       // 2 x the stage's input samples
        juce::AudioBuffer<float> upHistory, downEven, downOdd; // past inputs, then the block
        std::vector<float> scratch;
    };

    float getUncompensatedLatency() const noexcept;
    void upsampleStage (Stage&, const juce::dsp::AudioBlock<const float>& input) noexcept;
    void downsampleStage (Stage&, juce::dsp::AudioBlock<float>& output) noexcept;
    void compensate (juce::dsp::AudioBlock<float>& block) noexcept;

    size_t numChannels;
    size_t factor = 1;
    std::vector<Stage> stages;
    std::vector<float> stageLatencies;  // one per added stage, dummies included (0)
    std::vector<size_t> stageFactors;

    juce::AudioBuffer<float> passBuffer;  // the output block when no stage filters
    bool isReady = false, useIntegerLatency = false;

    // First-order allpass (Thiran) delay that completes the integer latency.
    float fractionalDelay = 0.0f, allpassCoefficient = 0.0f;
    std::vector<float> allpassInput, allpassOutput;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Oversampler)
};

} // namespace cvx::dsp
