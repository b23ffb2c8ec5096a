#include "CompressorControls.h"
#include "ParameterDisplay.h"

CompressorControls::CompressorControls (VyxAudioProcessor& p, ParameterDisplay& overlay,
                                        cvx::ui::SpectrumDisplay& input, cvx::ui::SpectrumDisplay& output,
                                        const std::function<void (int, float&, float&)>& meters)
    : cvx::Component (p.state, "comp"),
      processor (p),
      inputSpectrum (input),
      outputSpectrum (output),
      meterSource (meters),
      display (overlay)
{
    constexpr auto numSlots = (size_t) VyxAudioProcessor::maxBands;
    bands.reserve (numSlots);
    meterX.reserve (numSlots);
    levelY.reserve (numSlots);
    compressedY.reserve (numSlots);

    for (int i = 0; i < VyxAudioProcessor::maxBands; ++i)
    {
        auto band = std::make_unique<BandComponent> (i, state, *processor.parameters.bands[(size_t) i], display,
                                                     [this] { arrangeBands(); });
        addChildComponent (*band);
        bands.push_back (std::move (band));
    }

    numBandsValue = state.parameters.getRawParameterValue (Layout::NUM_BANDS.id);
    jassert (numBandsValue != nullptr);
}

CompressorControls::~CompressorControls() = default;

int CompressorControls::getNumBands() const noexcept
{
    return numBandsValue != nullptr ? (int) numBandsValue->load() : 1;
}

void CompressorControls::arrangeBands()
{
    const int n = getNumBands();
    const int h = getHeight();

    std::array<float, VyxAudioProcessor::maxBands> crossovers {};
    for (size_t i = 0; i < bands.size(); ++i)
    {
        auto& band = *bands[i];
        band.prev = i > 0 ? bands[i - 1].get() : nullptr;
        band.next = i + 1 < bands.size() ? bands[i + 1].get() : nullptr;

        // Bands refresh their bindings when they paint, but a hidden band or one of zero width
        // is not painted, and a host with its transport stopped may run no audio: without this
        // pull the layout could keep stale crossovers for good.
        band.compressors.crossover->pull();
        crossovers[i] = band.compressors.crossover->getModulatedNormalisedValue();
    }

    const auto spans = BandGeometry::computeBandSpans (getWidth(), n, crossovers);

    for (size_t i = 0; i < bands.size(); ++i)
    {
        auto& band = *bands[i];
        const auto& span = spans[i];
        band.isLast = span.last;

        if (! span.visible)
        {
            band.setVisible (false);
            continue;
        }

        band.setVisible (true);
        band.setBounds (span.x, 0, span.width, h);

        // The last band's crossover sits at the top of the range: splitting it halves the
        // range up to there, and the engine's top band reaches the end of the spectrum.
        // The pin is a host edit, so it waits until the panel is on screen. An editor still
        // being built runs inside the host's view request, where the framework's wrapper may
        // not yet take this thread for its message thread (on Linux, until the host attaches
        // the view) and then drops the edit: the host would never hear of the move. And some
        // hosts build an editor and drop it at once, only to learn that there is one. The
        // first tick on screen pins.
        if (span.last && band.compressors.crossover->getModulatedNormalisedValue() != 1.0f && isShowing())
        {
            band.compressors.crossover->push0to1 (1.0f);

            if (onPin != nullptr)
                onPin (band.compressors.crossover->id);
        }
    }
}

void CompressorControls::generateMeter (const std::vector<float>& x, const std::vector<float>& y,
                                        juce::Path& path) const
{
    path.clear();
    if (x.empty() || x.size() != y.size())
        return;

    path.startNewSubPath (0.0f, y[0]);
    path.lineTo (x[0] * 0.5f, y[0]);

    for (size_t i = 0; i + 1 < x.size(); ++i)
        path.cubicTo (x[i], y[i], x[i], y[i + 1], (x[i] + x[i + 1]) * 0.5f, y[i + 1]);

    path.lineTo ((float) getWidth(), y.back());
}

void CompressorControls::paint (juce::Graphics& g)
{
    const float h = (float) getHeight();
    g.reduceClipRegion (clipPath);
    g.fillAll (colour.withBrightness (0.5f));

    // Rounded ends for the strip left of band 0, matching the bands' crossover strips.
    g.setColour (juce::Colours::black);
    g.fillRect (0.0f, 0.0f, 10.0f, 5.0f);
    g.fillRect (0.0f, h - 5.0f, 10.0f, 5.0f);
    g.setColour (colour.withBrightness (0.5f));
    g.fillEllipse (0.0f, 0.0f, 10.0f, 10.0f);
    g.fillEllipse (0.0f, h - 10.0f, 10.0f, 10.0f);
}

void CompressorControls::paintOverChildren (juce::Graphics& g)
{
    g.reduceClipRegion (clipPath);

    const int n = juce::jlimit (1, VyxAudioProcessor::maxBands, getNumBands());
    const float w = (float) getWidth();
    const float h = (float) getHeight();

    meterX.clear();
    levelY.clear();
    compressedY.clear();

    for (int i = 0; i < n; ++i)
    {
        meterX.push_back (w * bands[(size_t) i]->compressors.crossover->getModulatedNormalisedValue());

        float level = 0.0f, compressed = 0.0f;
        meterSource (i, level, compressed);
        levelY.push_back (BandGeometry::levelToY (level, h));
        compressedY.push_back (BandGeometry::levelToY (compressed, h));
    }

    generateMeter (meterX, levelY, levelPath);
    generateMeter (meterX, compressedY, compressedPath);

    const juce::PathStrokeType stroke (1.5f, juce::PathStrokeType::mitered, juce::PathStrokeType::butt);
    g.setColour (colour.withBrightness (0.85f));
    g.strokePath (levelPath, stroke);
    g.setColour (colour.withRotatedHue (0.5f).withBrightness (1.0f));
    g.strokePath (compressedPath, stroke);
}

void CompressorControls::resized()
{
    clipPath.clear();
    clipPath.addRoundedRectangle (0.0f, 0.0f, (float) getWidth(), (float) getHeight(), 5.0f, 5.0f,
                                  true, true, true, true);
    arrangeBands();
}
