#pragma once

#include "BandComponent.h"

/** The band editor: the panel between the top bar and the fader strip. It shows one column
    per active band, each as wide as its range on the normalised crossover scale, lays them
    out from the crossovers on every editor tick, keeps the last band's crossover at the top
    of its range, and draws two meter curves over the bands: each band's level and its level
    after compression. Message thread only. */
class CompressorControls : public cvx::Component
{
public:
    /** The panel for a processor. display is the shared value overlay the bands open; input
        and output are the processor's analysers (kept, not drawn); meterSource is the
        processor's getCompMeter (band in, level and compressed level out, linear). */
    CompressorControls (VyxAudioProcessor& processor, ParameterDisplay& display,
                        cvx::ui::SpectrumDisplay& input, cvx::ui::SpectrumDisplay& output,
                        const std::function<void (int, float&, float&)>& meterSource);
    ~CompressorControls() override;

    /** Shows, hides, links and places the eight bands from "NUM" and the modulated crossovers,
        and, while the panel is on screen, pins the last band's crossover to the top of its
        range (one host gesture when it is not there). Called by the editor's 16 ms timer, by
        resized and after a split or a removal. Allocates nothing once the crossovers rest. */
    void arrangeBands();

    /** Fills path with a meter curve through one point per band: flat across the middle of
        each band, an S-shaped step centred on each crossover, out to both panel edges. x and
        y have the same length, at least 1. The path is cleared first, keeping its storage. */
    void generateMeter (const std::vector<float>& x, const std::vector<float>& y, juce::Path& path) const;

    void paint (juce::Graphics& g) override;
    void paintOverChildren (juce::Graphics& g) override;
    void resized() override;

    /** Called with the crossover's parameter id after the pin moved it: the pin keeps the
        layout, it is not an edit of the user's. */
    std::function<void (const juce::String&)> onPin;

    /** The band column of a slot (0..7). */
    BandComponent& getBand (int index) { return *bands[(size_t) index]; }

    VyxAudioProcessor& processor;
    std::vector<std::unique_ptr<BandComponent>> bands;
    juce::Path clipPath;
    juce::Colour colour { juce::Colours::white.withBrightness (0.5f) };
    cvx::ui::SpectrumDisplay& inputSpectrum;
    cvx::ui::SpectrumDisplay& outputSpectrum;
    const std::function<void (int, float&, float&)>& meterSource;
    std::vector<float> meterX, levelY, compressedY;
    ParameterDisplay& display;

private:
    int getNumBands() const noexcept;

    std::atomic<float>* numBandsValue = nullptr;
    juce::Path levelPath, compressedPath;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CompressorControls)
};
