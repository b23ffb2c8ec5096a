#pragma once

namespace cvx::dsp
{

/** The spectrum analyser's transform: an FFT of the given order (4096 points for 12) and a
    Hann window normalised so that its values sum to the FFT size. */
class FFT
{
public:
    explicit FFT (int order = 12);

    /** Replaces the engine and refills the window. Not on the audio thread. */
    void prepare();

    int getSize() const noexcept { return size; }
    juce::dsp::FFT& getEngine() noexcept { return *engine; }
    const juce::Array<float>& getWindow() const noexcept { return window; }

private:
    int order;
    int size;
    std::unique_ptr<juce::dsp::FFT> engine;
    juce::Array<float> window;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FFT)
};

} // namespace cvx::dsp
