#pragma once

// The set-up shared by the engine benchmarks: a processor configured like a busy session
// (bands spread over the spectrum, both compressor directions working) and a driver that feeds
// it consecutive blocks of a long test signal, as a host does.

#include "plugin/PluginProcessor.h"

#include <benchmark/benchmark.h>

#include <ctime>

namespace vyx::bench
{

constexpr double sampleRate = 48000.0;

/** Upper edge of band b in the benchmarks: about 147 Hz, 362 Hz, 890 Hz ... */
inline float crossover (int band)
{
    return 60.0f * std::pow (2.0f, 1.3f * (float) (band + 1));
}

/** Noise at about -12 dBFS whose level changes slowly from one 512-frame stretch to the next,
    so that both compressor directions work. */
inline void fillSignal (juce::AudioBuffer<float>& buffer, juce::Random& random, int stretchIndex)
{
    const float level = 0.25f * (0.55f + 0.45f * std::sin ((float) stretchIndex * 0.05f));
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            buffer.setSample (ch, i, level * (random.nextFloat() * 2.0f - 1.0f));
}

/** Sets a parameter of any processor by its layout record and plain value, through the
    host-side interface. The product's own parameters are found by id; a hosted plug-in's by
    name, since the VST3 wrapper hands the host numeric ids. band is -1 for a global record. */
inline void setParameter (juce::AudioProcessor& processor, const Layout::Parameter& record, int band, float plain)
{
    const auto id = band < 0 ? record.id : record.id + juce::String (band);
    const auto name = band < 0 ? record.name : "Band " + juce::String (band) + " " + record.name;

    for (auto* parameter : processor.getParameters())
    {
        const bool matches = [&]
        {
            if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter))
                return ranged->getParameterID() == id;
            if (dynamic_cast<juce::HostedAudioProcessorParameter*> (parameter) != nullptr)
                return parameter->getName (100) == name;
            return false;
        }();

        if (matches)
            parameter->setValueNotifyingHost (record.range.convertTo0to1 (plain));
    }
}

/** The benchmark session's parameters: band count, crossovers and mix. */
inline void configure (juce::AudioProcessor& processor, int bands, float mix)
{
    setParameter (processor, Layout::NUM_BANDS, -1, (float) bands);
    setParameter (processor, Layout::MIX_PERCENT, -1, mix);
    for (int b = 0; b < Layout::numBands; ++b)
        setParameter (processor, Layout::CROSS_R, b, crossover (b));
}

/** Feeds a prepared processor consecutive blocks of one long signal (the same signal at every
    block size), copying each block in before the call as a host's buffer would arrive. */
class BlockDriver
{
public:
    BlockDriver (juce::AudioProcessor& p, int size)
        : processor (p),
          blockSize (size),
          numChannels (std::max (p.getTotalNumInputChannels(), p.getTotalNumOutputChannels())),
          signal (numChannels, signalLength),
          buffer (numChannels, size)
    {
        juce::Random random (1);
        for (int start = 0; start < signalLength; start += 512)
        {
            juce::AudioBuffer<float> stretch (signal.getArrayOfWritePointers(), numChannels, start, 512);
            fillSignal (stretch, random, start / 512);
        }
    }

    void processBlock()
    {
        if (position + blockSize > signalLength)
            position = 0;

        for (int ch = 0; ch < numChannels; ++ch)
            buffer.copyFrom (ch, 0, signal, ch, position, blockSize);
        position += blockSize;

        processor.processBlock (buffer, midi);
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
    }

    /** Whole blocks covering the frame count (a multiple of the block size). */
    void processFrames (int frames)
    {
        for (int done = 0; done < frames; done += blockSize)
            processBlock();
    }

    int getBlockSize() const noexcept { return blockSize; }

private:
    static constexpr int signalLength = 32768;

    juce::AudioProcessor& processor;
    const int blockSize, numChannels;
    juce::AudioBuffer<float> signal, buffer;
    juce::MidiBuffer midi;
    int position = 0;
};

/** The product's processor, called directly through processBlock. */
class EngineRig
{
public:
    EngineRig (int bands, int stages, bool sidechain, float mix, int blockSize)
        : owner (createPluginFilter()), vyx (dynamic_cast<VyxAudioProcessor&> (*owner))
    {
        if (sidechain)
        {
            auto layout = vyx.getBusesLayout();
            layout.inputBuses.getReference (1) = juce::AudioChannelSet::stereo();
            vyx.setBusesLayout (layout);
        }

        configure (vyx, bands, mix);
        vyx.state.attributes.setProperty (Attributes::oversampler, stages, nullptr);

        vyx.setRateAndBufferSizeDetails (sampleRate, blockSize);
        vyx.prepareToPlay (sampleRate, blockSize);
        driver = std::make_unique<BlockDriver> (vyx, blockSize);
    }

    void processBlock() { driver->processBlock(); }
    void processFrames (int frames) { driver->processFrames (frames); }
    int getBlockSize() const noexcept { return driver->getBlockSize(); }

private:
    std::unique_ptr<juce::AudioProcessor> owner;
    VyxAudioProcessor& vyx;
    std::unique_ptr<BlockDriver> driver;
};

/** CPU time of the calling thread in nanoseconds. */
inline double threadNanoseconds()
{
    timespec t {};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return (double) t.tv_sec * 1e9 + (double) t.tv_nsec;
}

/** Runs a and b (anything with processFrames) over the same number of frames in turn, each
    iteration, and reports the cost per frame of each and their ratio a / b. Measured side by
    side in one run, the ratio holds up on a busy machine, where the absolute figures do not. */
template <typename A, typename B>
void runPair (benchmark::State& state, A& a, B& b)
{
    // Each side processes this many frames per iteration, in its own block size.
    constexpr int framesPerTurn = 2048;
    double timeA = 0.0, timeB = 0.0;

    for (auto _ : state)
    {
        const double t0 = threadNanoseconds();
        a.processFrames (framesPerTurn);
        const double t1 = threadNanoseconds();
        b.processFrames (framesPerTurn);
        const double t2 = threadNanoseconds();
        timeA += t1 - t0;
        timeB += t2 - t1;
    }

    const double frames = (double) framesPerTurn * (double) state.iterations();
    state.counters["a_ns_per_frame"] = timeA / frames;
    state.counters["b_ns_per_frame"] = timeB / frames;
    state.counters["ratio"] = timeA / timeB;
}

} // namespace vyx::bench
