#pragma once

#include "plugin/PluginProcessor.h"

#include <array>

class ParameterDisplay;

/** Geometry of the band editor, shared by the panel, its bands and the tests. Pure functions
    of sizes and normalised values; no component needed. */
namespace BandGeometry
{
    /** Width of the strip left of band 0 and of each band's crossover strip, in pixels. */
    constexpr int stripWidth = 10;

    /** The closest a dragged crossover comes to a neighbour, on the normalised scale. */
    constexpr float minimumGap = 0.08f;

    /** Meter and threshold levels at or below this (dB) are drawn as silence. */
    constexpr float silenceDecibels = -100.0f;

    /** The y of a normalised threshold position m (0 = -60 dB, 1 = 0 dB) in a column of the
        given height: 0 dB at y = 20, -60 dB at y = height - 20. */
    inline float normalisedToY (float m, float height) noexcept
    {
        return (1.0f - m) * (height - 40.0f) + 20.0f;
    }

    /** 20 log10 of a linear level, floored at -100 dB. Silence, negative levels and values that
        are not finite (a NaN or infinity from a broken input) all give -100 dB. */
    float levelToDecibels (float level) noexcept;

    /** The y of a linear meter level on the threshold scale of a panel of the given height. */
    float levelToY (float level, float height) noexcept;

    /** Where one band slot goes. A width below zero (a crossover automated past the next one)
        is kept as computed, since the following band starts from it; the component shows it
        as zero width. */
    struct BandSpan
    {
        int x = 0;
        int width = 0;
        bool visible = false;
        bool last = false;
    };

    using Spans = std::array<BandSpan, VyxAudioProcessor::maxBands>;

    /** The horizontal placement of the eight band slots in a panel of the given width, for
        numBands active bands and the bands' modulated normalised crossovers: band 0 starts at
        x = 10, the right edge of band i lies near width x crossover i + 5, the last band takes
        what remains up to the right edge. Bands from numBands on are hidden. */
    Spans computeBandSpans (int width, int numBands,
                            const std::array<float, VyxAudioProcessor::maxBands>& crossovers) noexcept;
} // namespace BandGeometry

//==============================================================================
/** One threshold of a band in the editor: the binding of "THD" (downward side) or "THU"
    (upward side) of the band, and the other side's threshold it must keep in order. */
struct Threshold
{
    /** Moves the threshold from the plain value start (dB) by delta pixels of a column whose
        height is area's: the line follows the mouse pixel for pixel. Keeps the upward threshold
        at or below the downward one by moving the opposite threshold along. A column too low
        to hold the scale (height 40 or less) writes nothing. */
    void set (float start, float delta, juce::Rectangle<float> area);

    /** The y of the threshold line in a column of the given height; the merge hint pulls the
        line towards the side's far edge (top for the downward side, bottom for the upward). */
    float getLineY (float height, float mergeHint) const noexcept;

    cvx::AudioParameter* parameter = nullptr;
    cvx::State* state = nullptr;
    Threshold* opposite = nullptr;
    int direction = 0;       // 0 downward side, 1 upward side
    float highlight = 0.0f;  // hover fade 0..1
};

/** One ratio of a band in the editor: the binding of "RAD" or "RAU", drawn as the black area
    beyond its threshold line with a stack of bars that grows with the ratio. */
struct Ratio
{
    /** Moves the ratio from the plain value start by delta pixels: the whole column height is
        the whole normalised range. Dragging towards the threshold line raises the ratio. A
        column of zero height writes nothing. */
    void set (float start, float delta, juce::Rectangle<float> area);

    /** Draws the crossover strip's end on this side, the black ratio area and its bars, and
        advances the hover fade by one frame. */
    void paint (juce::Graphics& g, juce::Rectangle<float> area, bool highlighted,
                float mergeHint, float crossoverHighlight, juce::Colour theme);

    cvx::AudioParameter* parameter = nullptr;
    cvx::State* state = nullptr;
    Threshold* threshold = nullptr;
    int direction = 0;       // 0 downward side, 1 upward side
    float highlight = 0.0f;  // hover fade 0..1
};

/** One compression direction of a band in the editor (not the engine's compressor). */
struct Compressor
{
    /** Copies the other side's threshold and ratio (their modulated values as of their last
        pull), each as one host gesture. */
    void copyFrom (const Compressor& other);

    Threshold threshold;
    Ratio ratio;
    int direction = 0;
};

/** Both directions and the crossover of one band in the editor. */
struct DualCompressor
{
    /** Copies the other band's settings, crossover included. */
    void copyFrom (const DualCompressor& other);

    Compressor down;
    Compressor up;
    cvx::AudioParameter* crossover = nullptr;
};

//==============================================================================
/** One column of the band editor: the downward threshold and ratio above, the upward ones
    below, and the crossover strip at the right edge. Drags, the wheel and typed entry edit the
    band's parameters; a double click splits the band; dragging the crossover past a neighbour's
    merges or removes a band. Message thread only. */
class BandComponent : public juce::Component
{
public:
    /** Hover and drag targets. */
    enum Target
    {
        none = 0,
        crossoverTarget = 1,
        thresholdDownTarget = 2,
        ratioDownTarget = 3,
        thresholdUpTarget = 4,
        ratioUpTarget = 5
    };

    /** A band column for slot `index` editing the given bindings. bandsChanged runs after a
        split or a removal (the panel re-arranges its bands). */
    BandComponent (int index, cvx::State& state, VyxAudioProcessor::BandParameters& parameters,
                   ParameterDisplay& display, std::function<void()> bandsChanged);
    ~BandComponent() override;

    void mouseMove (const juce::MouseEvent& e) override;
    void mouseExit (const juce::MouseEvent& e) override;
    void mouseDown (const juce::MouseEvent& e) override;
    void mouseDrag (const juce::MouseEvent& e) override;
    void mouseUp (const juce::MouseEvent& e) override;
    void mouseDoubleClick (const juce::MouseEvent& e) override;
    void mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel) override;
    void paint (juce::Graphics& g) override;

    /** Moves the crossover to start + delta / (panel width) on the normalised scale, keeping
        0.08 from both neighbours; past the previous crossover the band is removed, past the
        next one the next band is merged into this one. */
    void setFreq (float start, float delta, juce::Rectangle<float> area);

    /** Removes this band: the settings of every later active band move one slot left and the
        band count drops by one. Refused when only one band exists. */
    void removeBand();

    /** Shifts this band's and every later slot's settings one slot right (slot 7's are lost). */
    void copyToRight();

    /** Everything a paint of the band depends on besides its size. */
    struct Look
    {
        float downThreshold = 0.0f, upThreshold = 0.0f, downRatio = 0.0f, upRatio = 0.0f;
        float mergeHint = 0.0f, crossoverHighlight = 0.0f;
        float downThresholdHighlight = 0.0f, upThresholdHighlight = 0.0f;
        float downRatioHighlight = 0.0f, upRatioHighlight = 0.0f;
        int hoverTarget = 0;
        bool merged = false;
        juce::uint32 theme = 0;

        bool operator== (const Look& other) const noexcept;
        bool operator!= (const Look& other) const noexcept { return ! operator== (other); }
    };

    /** The band's look now, its bindings pulled first. */
    Look currentLook();

    /** Whether the band must be painted again: its look is not the one its last whole paint
        drew (or no whole paint has happened), or a hover fade runs, which advances once per
        paint. Pulls the bindings. Called every editor frame. */
    bool needsRepaint();

    /** The look the last paint drew when that paint covered the whole band, else null. */
    const Look* getWholePaintLook() const noexcept { return paintedWhole ? &paintedLook : nullptr; }

    cvx::State* state = nullptr;
    DualCompressor compressors;
    int hoverTarget = none;
    int dragTarget = none;
    juce::Point<float> dragStart;
    float dragStartValue = 0.0f;
    float crossoverHighlight = 0.0f;
    bool isLast = false;
    BandComponent* prev = nullptr;
    BandComponent* next = nullptr;
    float mergeHint = 0.0f;
    bool merged = false;
    std::function<void()> onBandsChanged;
    ParameterDisplay* display = nullptr;

private:
    int getNumBands() const noexcept;
    void writeNumBands (int count);
    juce::Colour getThemeColour();
    void hitTestAt (juce::Point<float> position);
    void applyDrag (juce::Point<float> position);
    void pullBindings();

    Look getLook();
    bool isFading() const noexcept;

    juce::RangedAudioParameter* numBandsParameter = nullptr;
    std::atomic<float>* numBandsValue = nullptr;
    juce::var themeText;                       // the colour attribute the cached colour came from
    juce::Colour theme { juce::Colours::grey };
    Look paintedLook;                          // what the last whole paint drew
    bool paintedWhole = false;                 // no paint of a part has drawn anything else since

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BandComponent)
};
