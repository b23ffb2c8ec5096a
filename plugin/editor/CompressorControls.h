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

    /** One frame, after arrangeBands: asks for a repaint of what changed since it was drawn,
        and of nothing else. A band whose look changed or whose hover fade runs is repainted
        whole; when the meters moved, only the pixels the curves leave and reach are, and the
        panel's own drawing under them comes from a copy kept in an image. Called by the
        editor's 16 ms timer. Allocates nothing once warm. */
    void repaintChanges();

    /** Reads the meters into meterX, levelY and compressedY and rebuilds the curves. Returns
        whether the reading differs from the one before; if so, changedArea holds the pixels
        that the curves of both readings can touch. */
    bool readMeters();

    /** The points of one meter curve: each band's right edge and its level's y. */
    struct Curve
    {
        const std::vector<float>* x;
        const std::vector<float>* y;
    };

    /** Adds to area the pixels (panel coordinates) that stroking these meter curves (as
        generateMeter builds them, in a panel of the given width) can touch: rectangles side by
        side, each as high as the parts of the curves above its columns reach. Allocates nothing
        beyond the area's own storage. */
    static void addCurvesArea (juce::RectangleList<int>& area, std::initializer_list<Curve> curves, float width);

    /** The panel, its bands and the curves. The panel's drawing under the curves is kept in an
        image while the window draws at a whole number of pixels per panel pixel, so that a
        frame in which only the meters moved copies it back and strokes the curves over it. */
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
    std::vector<float> meterX, levelY, compressedY;   // the meter reading drawn
    ParameterDisplay& display;
    juce::RectangleList<int> changedArea;             // see readMeters

private:
    class Layer;

    int getNumBands() const noexcept;
    void paintMeters (juce::Graphics& g);

    std::atomic<float>* numBandsValue = nullptr;
    juce::Path levelPath, compressedPath;
    std::vector<float> nextX, nextLevelY, nextCompressedY;   // the reading before
    Layer* layer = nullptr;                          // owned by the component as its cached image
    bool drawingLayer = false;                       // painting into the layer: no curves

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CompressorControls)
};
