#pragma once

namespace cvx::dsp
{

/** A peak limiter with an instant attack, shaped like juce::dsp::Limiter: the peak across all
    channels (they are linked) feeds an envelope that rises at once and falls with the release
    time, and every sample whose envelope lies above the ceiling is scaled down to it.
    Audio thread, except prepare. */
class Limiter
{
public:
    Limiter();

    /** Sizes the detector for the block size and computes the release for the sample rate. */
    void prepare (const juce::dsp::ProcessSpec& setup);

    /** Forgets the envelope. */
    void reset() noexcept;

    /** The ceiling as a linear amplitude (full scale is 1). */
    void setCeiling (float linear) noexcept { ceiling = linear; }

    /** The release in ms; takes effect at the next prepare. */
    void setRelease (float milliseconds) noexcept { releaseMilliseconds = milliseconds; }

    float getCeiling() const noexcept { return ceiling; }
    float getEnvelope() const noexcept { return envelope; }

    /** Limits the context's output block in place (at most the prepared block size). */
    template <typename ProcessContext>
    void process (const ProcessContext& context) noexcept
    {
        jassert (! context.usesSeparateInputAndOutputBlocks());

        if (! context.isBypassed)
            limit (context.getOutputBlock());
    }

private:
    void limit (const juce::dsp::AudioBlock<float>& block) noexcept;

    /** Detector sample i := the largest magnitude of the block's channels at i. */
    void detectPeaks (const juce::dsp::AudioBlock<float>& block, int numSamples) noexcept;

    /** Turns the peaks into the envelope, in place. */
    void followEnvelope (int numSamples) noexcept;

    float ceiling = 1.0f;
    float releaseMilliseconds = 0.0f;
    float sampleRate = 44100.0f;
    float attackCoefficient = 0.0f;   // an instant attack
    float releaseCoefficient = 0.0f;
    float envelope = 0.0f;
    juce::AudioBuffer<float> detector;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Limiter)
};

} // namespace cvx::dsp
