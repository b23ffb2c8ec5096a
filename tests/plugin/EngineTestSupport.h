#pragma once

#include "TestSupport.h"
#include "plugin/PluginProcessor.h"

namespace vyx::test
{

/** A product processor created the way the host creates it, with helpers to set parameters
    by plain value and to render audio through processBlock. */
struct EngineFixture
{
    EngineFixture() : owner (createPluginFilter()), vyx (dynamic_cast<VyxAudioProcessor&> (*owner)) {}

    void set (const juce::String& id, float plain)
    {
        auto* p = vyx.state.parameters.getParameter (id);
        ASSERT_NE (p, nullptr) << id;
        p->setValueNotifyingHost (p->convertTo0to1 (plain));
    }

    void setForAllBands (const juce::String& baseId, float plain)
    {
        for (int b = 0; b < 8; ++b)
            set (baseId + juce::String (b), plain);
    }

    /** Ratios of 1 in both directions: the compressors leave the bands unchanged. */
    void neutralCompression()
    {
        setForAllBands ("RAD", 1.0f);
        setForAllBands ("RAU", 1.0f);
    }

    /** The oversampling choice, 0..3 stages (none, 2x, 4x, 8x); read at the next preparation. */
    void setOversampling (int stages)
    {
        vyx.state.attributes.setProperty (Attributes::oversampler, stages, nullptr);
    }

    void enableSidechain (bool enabled)
    {
        auto layout = vyx.getBusesLayout();
        layout.inputBuses.getReference (1) = enabled ? juce::AudioChannelSet::stereo() : juce::AudioChannelSet::disabled();
        ASSERT_TRUE (vyx.setBusesLayout (layout));
    }

    void prepare (double sampleRate, int maximumBlockSize)
    {
        vyx.setRateAndBufferSizeDetails (sampleRate, maximumBlockSize);
        vyx.prepareToPlay (sampleRate, maximumBlockSize);
        blockSize = maximumBlockSize;
    }

    int numBufferChannels() const
    {
        return std::max (vyx.getTotalNumInputChannels(), vyx.getTotalNumOutputChannels());
    }

    /** Renders main (and, when given, sidechain) input through processBlock in blocks of the
        prepared size; returns the main output. */
    juce::AudioBuffer<float> render (const juce::AudioBuffer<float>& main,
                                     const juce::AudioBuffer<float>* sidechain = nullptr,
                                     int blockLength = 0)
    {
        const int length = main.getNumSamples();
        const int mainChannels = vyx.getMainBusNumOutputChannels();
        juce::AudioBuffer<float> output (mainChannels, length);
        juce::AudioBuffer<float> block (numBufferChannels(), blockLength > 0 ? blockLength : blockSize);
        juce::MidiBuffer midi;

        for (int start = 0; start < length; start += block.getNumSamples())
        {
            const int n = std::min (block.getNumSamples(), length - start);
            juce::AudioBuffer<float> piece (block.getArrayOfWritePointers(), block.getNumChannels(), n);
            piece.clear();
            for (int ch = 0; ch < mainChannels; ++ch)
                piece.copyFrom (ch, 0, main, std::min (ch, main.getNumChannels() - 1), start, n);
            if (sidechain != nullptr)
                for (int ch = mainChannels; ch < piece.getNumChannels(); ++ch)
                    piece.copyFrom (ch, 0, *sidechain, std::min (ch - mainChannels, sidechain->getNumChannels() - 1), start, n);

            vyx.processBlock (piece, midi);

            for (int ch = 0; ch < mainChannels; ++ch)
                output.copyFrom (ch, start, piece, ch, 0, n);
        }
        return output;
    }

    std::unique_ptr<juce::AudioProcessor> owner;
    VyxAudioProcessor& vyx;
    int blockSize = 512;
};

/** Stereo noise with a different seed per channel. */
inline juce::AudioBuffer<float> makeNoise (int length, float level, int seed = 7)
{
    juce::AudioBuffer<float> b (2, length);
    juce::Random random (seed);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < length; ++i)
            b.setSample (ch, i, level * (2.0f * random.nextFloat() - 1.0f));
    return b;
}

inline juce::AudioBuffer<float> makeSine (int length, double frequency, double sampleRate, float level)
{
    juce::AudioBuffer<float> b (2, length);
    for (int i = 0; i < length; ++i)
    {
        const auto v = (float) (level * std::sin (juce::MathConstants<double>::twoPi * frequency * i / sampleRate));
        b.setSample (0, i, v);
        b.setSample (1, i, v);
    }
    return b;
}

inline bool allFinite (const juce::AudioBuffer<float>& b)
{
    for (int ch = 0; ch < b.getNumChannels(); ++ch)
        for (int i = 0; i < b.getNumSamples(); ++i)
            if (! std::isfinite (b.getSample (ch, i)))
                return false;
    return true;
}

inline float peak (const juce::AudioBuffer<float>& b, int from = 0)
{
    float p = 0.0f;
    for (int ch = 0; ch < b.getNumChannels(); ++ch)
        p = std::max (p, b.getMagnitude (ch, from, b.getNumSamples() - from));
    return p;
}

/** The second-order state-variable all-pass of the crossover tree, in double precision. */
struct ReferenceAllPass
{
    ReferenceAllPass (double cutoff, double sampleRate)
    {
        g = std::tan (juce::MathConstants<double>::pi * cutoff / sampleRate);
        h = 1.0 / (g * g + r2 * g + 1.0);
    }

    double process (double x)
    {
        const double yH = (x - (r2 + g) * s1 - s2) * h;
        const double yB = g * yH + s1;
        s1 = g * yH + yB;
        const double yL = g * yB + s2;
        s2 = g * yB + yL;
        return yL - r2 * yB + yH;
    }

    const double r2 = std::sqrt (2.0);
    double g = 0, h = 0, s1 = 0, s2 = 0;
};

/** The input delayed by `delay` samples and passed through the all-pass of every crossover
    in use: what the summed bands and the dry path both must equal when nothing compresses. */
inline std::vector<double> referencePath (const juce::AudioBuffer<float>& in, int channel, int delay,
                                          const std::vector<double>& crossovers, double sampleRate)
{
    std::vector<ReferenceAllPass> filters;
    for (auto c : crossovers)
        filters.emplace_back (std::min (c, 0.5 * sampleRate), sampleRate);

    std::vector<double> out ((size_t) in.getNumSamples(), 0.0);
    for (int i = 0; i < in.getNumSamples(); ++i)
    {
        double x = i >= delay ? (double) in.getSample (channel, i - delay) : 0.0;
        for (auto& f : filters)
            x = f.process (x);
        out[(size_t) i] = x;
    }
    return out;
}

} // namespace vyx::test
