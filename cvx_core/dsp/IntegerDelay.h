#pragma once

namespace cvx::dsp
{

/** A whole-sample delay per channel, processed a block at a time: what a linear-interpolating
    delay line does at an integer delay, without its per-sample index arithmetic.
    Audio thread, except prepare. */
class IntegerDelay
{
public:
    /** Allocates and clears numChannels rings of delaySamples values (0: no delay). */
    void prepare (int numChannels, int delaySamples)
    {
        length = std::max (0, delaySamples);
        ring.setSize (numChannels, std::max (1, length), false, false, true);
        ring.clear();
        position = 0;
    }

    int getDelay() const noexcept { return length; }

    /** Delays the block's channels in place (at most the prepared channel count). */
    void process (juce::dsp::AudioBlock<float>& block) noexcept
    {
        const int numSamples = (int) block.getNumSamples();
        if (length == 0 || numSamples == 0)
            return;

        const int numChannels = std::min ((int) block.getNumChannels(), ring.getNumChannels());
        int start = position;
        for (int ch = 0; ch < numChannels; ++ch)
        {
            auto* __restrict data = block.getChannelPointer ((size_t) ch);
            auto* __restrict slots = ring.getWritePointer (ch);
            int p = position;

            // Each ring slot holds the sample from `length` samples ago: hand it out and keep
            // the new one, in runs up to the ring's end.
            for (int done = 0; done < numSamples;)
            {
                const int run = std::min (numSamples - done, length - p);
                for (int i = 0; i < run; ++i)
                {
                    const float delayed = slots[p + i];
                    slots[p + i] = data[done + i];
                    data[done + i] = delayed;
                }
                done += run;
                p = (p + run == length) ? 0 : p + run;
            }
            start = p;
        }
        position = start;
    }

private:
    juce::AudioBuffer<float> ring;
    int length = 0;
    int position = 0;
};

} // namespace cvx::dsp
