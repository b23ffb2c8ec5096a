#pragma once

namespace cvx::ui
{

/** The audio-side feed of a spectrum analyser: a single-writer, single-reader ring of the most
    recent samples of channel 0, from which a 4096-sample frame is copied into a work buffer
    whenever the consumer has cleared the ready flag. pushBlock runs on the audio thread and
    never allocates. */
class SpectrumDisplay
{
public:
    static constexpr int frameSize = 4096;

    SpectrumDisplay();

    /** Restarts the ring with frameSize zeros at the given rate. Not on the audio thread. */
    void prepare (float sampleRate, int unused);

    /** Writes channel 0 of the block into the ring and takes a frame when one is due. */
    void pushBlock (juce::dsp::AudioBlock<float>& block, bool unused = false) noexcept;

    /** A frame is waiting in the work buffer; a consumer reads it and then calls
        releaseFrame to ask for the next one. */
    bool isFrameReady() const noexcept { return ready.load(); }
    void releaseFrame() noexcept { ready.store (false); }
    const std::vector<float>& getFrame() const noexcept { return work; }

    int getNumReady() const noexcept;
    int getCapacity() const noexcept { return capacity; }
    float getSampleRate() const noexcept { return sampleRate; }
    dsp::FFT& getFFT() noexcept { return fft; }

private:
    dsp::FFT fft;
    float sampleRate = 44100.0f;
    int capacity = frameSize;
    std::atomic<int> readPosition { 0 }, writePosition { 0 };
    std::vector<float> fifo;
    std::vector<float> work;
    std::atomic<bool> ready { false };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SpectrumDisplay)
};

} // namespace cvx::ui
