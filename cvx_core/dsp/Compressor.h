#pragma once

namespace cvx::dsp
{

/** The gain computer of one band in one direction, in the linear domain.
    Mode 0 compresses downward (loud material towards the threshold), mode 1 upward (quiet
    material towards the threshold, with a lookahead delay). The owner sets the parameters,
    feeds the detector from the band (or a sidechain band) and then applies the gain in place.
    Audio thread, except prepare. Meters are atomics the editor may read at any time. */
class Compressor
{
public:
    enum Mode { downward = 0, upward = 1 };

    explicit Compressor (int mode);
    ~Compressor();

    /** Sizes the detector and the lookahead delay (maximumDelaySeconds) and creates one
        envelope and one gain meter per channel. Called once per compressor. */
    void prepare (juce::dsp::ProcessSpec setup, float maximumDelaySeconds);

    /** Lookahead time in seconds; sets the delay to that many samples (limited to the delay
        line's size) and recomputes the effective attack. Not on the audio thread: a new delay
        restarts the delay line from silence. */
    void setLookahead (float seconds);

    /** Attack in ms. The effective attack time used for the coefficient is the attack plus
        the lookahead time, which is in seconds: see the note at the definition. */
    void setAttack (float milliseconds);

    /** Release in ms. */
    void setRelease (float milliseconds);

    /** Threshold as a linear amplitude. */
    void setThreshold (float linear) noexcept { threshold.store (linear, std::memory_order_relaxed); }
    void setRatio (float r) noexcept { ratio.store (r, std::memory_order_relaxed); }

    /** Peak-detects the source (channels linked) over its samples and smooths it with the
        attack and release coefficients into the detector buffer. */
    void feedDetector (const juce::dsp::AudioBlock<float>& source) noexcept;

    /** feedDetector for count compressors at once, compressor i from sources[i]; the results
        are identical, but the envelopes of independent compressors (different bands) run side
        by side, which is several times faster than one after the other. Audio thread. */
    static void feedDetectors (Compressor* const* compressors,
                               const juce::dsp::AudioBlock<float>* sources,
                               int count) noexcept;

    /** Delays the block by the lookahead and applies the gain computed from the detector,
        in place. The detector must have been fed for the same samples. */
    void applyCompression (juce::dsp::AudioBlock<float>& block) noexcept;

    /** coefficient = exp (-1 / (T / 1000 * sampleRate)); 0 for T = 0. */
    static float timeToCoefficient (float milliseconds, float sampleRate) noexcept;

    int getMode() const noexcept { return mode; }
    float getThreshold() const noexcept { return threshold.load(); }
    float getRatio() const noexcept { return ratio.load(); }
    float getAttackCoefficient() const noexcept { return attackCoefficient; }
    float getReleaseCoefficient() const noexcept { return releaseCoefficient; }
    float getEffectiveAttackTime() const noexcept { return effectiveAttackTime.load(); }
    float getLookahead() const noexcept { return lookaheadTime.load(); }
    int getDelaySamples() const noexcept { return delaySamples; }
    float getEnvelope() const noexcept { return envelope.load(); }
    float getSampleRate() const noexcept { return sampleRate; }

    /** The largest delay in samples the lookahead delay line can hold. */
    int getMaximumDelaySamples() const noexcept { return delayCapacity; }

    /** Meters per channel: the detector level and the gain of the last sample processed.
        A channel that does not exist reads 0. Any thread. */
    int getNumMeters() const noexcept { return (int) envelopeMeters.size(); }
    float getEnvelopeMeter (int channel) const noexcept;
    float getGainMeter (int channel) const noexcept;

    /** The detector buffer (one channel). */
    const juce::AudioBuffer<float>& getDetector() const noexcept { return detector; }

private:
    void updateAttackCoefficient() noexcept;
    void updateReleaseCoefficient() noexcept;
    int detectPeaks (const juce::dsp::AudioBlock<float>& source) noexcept;
    void smooth (int start, int end) noexcept;
    /** The detector buffers, envelopes and coefficients of compressors 0 .. count - 1 in slots
        0 .. count - 1 of the arrays; slots count .. width - 1 get the first detector (and keep
        the values they hold). For the smoothers that step several envelopes side by side. */
    static void gatherEnvelopes (Compressor* const* compressors, int count, int width, float** det,
                                 float* env, float* attackCoeff, float* releaseCoeff) noexcept;
    template <int lanes>
    static void smoothTogether (Compressor* const* compressors, const int* lengths) noexcept;
    template <int numRegisters>
    static void smoothInRegisters (Compressor* const* compressors, int count, int length) noexcept;
    template <int numRegisters>
    static void detectAndSmoothStereo (Compressor* const* compressors, const juce::dsp::AudioBlock<float>* sources,
                                       int count, int length) noexcept;
    void computeGains (const float* levels, float* gainsOut, int numSamples, float thresholdLevel,
                       float ratioValue) const noexcept;

    /** The curve on both channels of a stereo block, behind the lookahead delay; returns the
        gain of the last sample. */
    float applyToStereo (juce::dsp::AudioBlock<float>& block, const float* levels, int numSamples,
                         float thresholdLevel, float ratioValue) noexcept;

    /** The curve on any number of channels, through the gain buffer; returns the last gain. */
    float applyToChannels (juce::dsp::AudioBlock<float>& block, const float* levels, int numSamples,
                           int numChannels, float thresholdLevel, float ratioValue) noexcept;

    /** One channel through its lookahead ring and times the gains; returns the ring position
        after the block. */
    int delayChannel (float* samples, float* ring, const float* gainValues, int numSamples) const noexcept;

    /** The meters of every channel: the last detector level and the last gain. */
    void publishMeters (int numChannels, float lastLevel, float lastGain) noexcept;

    float sampleRate = 44100.0f;
    int maximumBlockSize = 1;
    float coefficientSampleRate = 44100.0f;
    float attackCoefficient = 0.0f, releaseCoefficient = 0.0f;
    // The times the coefficients were last computed for; NaN forces the first computation.
    float attackCoefficientTime = std::numeric_limits<float>::quiet_NaN();
    float releaseCoefficientTime = std::numeric_limits<float>::quiet_NaN();
    std::atomic<float> effectiveAttackTime { 0.0f }, releaseTime { 0.0f }, envelope { 0.0f };
    juce::AudioBuffer<float> detector;
    juce::HeapBlock<float> gains;  // per-sample gain of the current block, shared by all channels

    // Lookahead delay: per channel a ring of delaySamples values (push-then-pop order, so an
    // integer delay L gives exactly L samples of delay and 0 passes the input through).
    juce::AudioBuffer<float> delayBuffer;
    int delayCapacity = 0;
    int delaySamples = 0;
    int delayPosition = 0;

    static constexpr float fadeInLevel = 1e-5f;       // -100 dB: full upward ratio from here up
    static constexpr float lowestLevel = 1e-8f;       // -160 dB: no upward gain at or below
    static constexpr float fadeSlope = 100100.1015625f;  // 1 / (fadeInLevel - lowestLevel)
    int mode = downward;
    std::atomic<float> threshold { 1.0f }, attack { 8.0f }, release { 50.0f }, ratio { 1.0f };
    std::atomic<float> lookaheadTime { 0.0f };
    std::vector<std::unique_ptr<std::atomic<float>>> envelopeMeters, gainMeters;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Compressor)
};

} // namespace cvx::dsp
