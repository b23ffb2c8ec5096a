// Throughput of the engine and of its two hot parts, at 48 kHz stereo in 512-sample blocks.
// Counters: ns_per_frame (nanoseconds per stereo sample frame) and realtime_x (seconds of
// audio per second of CPU time).

#include "plugin/PluginProcessor.h"

#include <benchmark/benchmark.h>

namespace
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 512;

    void setCounters (benchmark::State& state, double framesPerIteration)
    {
        const double frames = framesPerIteration * (double) state.iterations();
        state.counters["ns_per_frame"] = benchmark::Counter (frames * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
        state.counters["realtime_x"] = benchmark::Counter (frames / sampleRate, benchmark::Counter::kIsRate);
    }

    /** Noise at -12 dBFS with a slow level change, so both compressor directions work. */
    void fillSignal (juce::AudioBuffer<float>& buffer, juce::Random& random, int blockIndex)
    {
        const float level = 0.25f * (0.55f + 0.45f * std::sin ((float) blockIndex * 0.05f));
        for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                buffer.setSample (ch, i, level * (random.nextFloat() * 2.0f - 1.0f));
    }

    void setParameter (juce::AudioProcessor& p, const juce::String& id, float plain)
    {
        for (auto* parameter : p.getParameters())
            if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter))
                if (ranged->getParameterID() == id)
                    ranged->setValueNotifyingHost (ranged->convertTo0to1 (plain));
    }

    /** Arguments: band count, oversampling stages (0..3), sidechain (0/1), and optionally
        the mix in percent (below 100 the delay-compensated dry path runs as well). */
    void BM_Engine (benchmark::State& state)
    {
        const int bands = (int) state.range (0);
        const int stages = (int) state.range (1);
        const bool sidechain = state.range (2) != 0;
        const float mix = state.range (3) > 0 ? (float) state.range (3) : 100.0f;

        std::unique_ptr<juce::AudioProcessor> processor (createPluginFilter());
        auto& vyx = dynamic_cast<VyxAudioProcessor&> (*processor);

        if (sidechain)
        {
            auto layout = vyx.getBusesLayout();
            layout.inputBuses.getReference (1) = juce::AudioChannelSet::stereo();
            vyx.setBusesLayout (layout);
        }

        setParameter (vyx, "NUM", (float) bands);
        setParameter (vyx, "MIX", mix);
        for (int b = 0; b < 8; ++b)
            setParameter (vyx, "CR" + juce::String (b), 60.0f * std::pow (2.0f, 1.3f * (float) (b + 1)));
        vyx.state.attributes.setProperty (Attributes::oversampler, stages, nullptr);

        vyx.setRateAndBufferSizeDetails (sampleRate, blockSize);
        vyx.prepareToPlay (sampleRate, blockSize);

        const int numChannels = std::max (vyx.getTotalNumInputChannels(), vyx.getTotalNumOutputChannels());
        juce::AudioBuffer<float> buffer (numChannels, blockSize);
        juce::MidiBuffer midi;

        // A bank of input blocks, copied in before each call (a few hundred ns, against tens
        // of microseconds of processing).
        constexpr int bankSize = 64;
        std::vector<juce::AudioBuffer<float>> bank;
        juce::Random random (1);
        for (int i = 0; i < bankSize; ++i)
        {
            bank.emplace_back (numChannels, blockSize);
            fillSignal (bank.back(), random, i);
        }

        int blockIndex = 0;
        for (auto _ : state)
        {
            const auto& input = bank[(size_t) (blockIndex++ % bankSize)];
            for (int ch = 0; ch < numChannels; ++ch)
                buffer.copyFrom (ch, 0, input, ch, 0, blockSize);

            vyx.processBlock (buffer, midi);
            benchmark::DoNotOptimize (buffer.getReadPointer (0));
        }

        setCounters (state, blockSize);
    }

    void BM_BandSplitter (benchmark::State& state)
    {
        const int bands = (int) state.range (0);
        BandSplitter<8> splitter;
        splitter.prepare ({ sampleRate, (juce::uint32) blockSize, 2 });

        std::vector<float> crossovers;
        for (int b = 0; b < bands; ++b)
            crossovers.push_back (60.0f * std::pow (2.0f, 1.3f * (float) (b + 1)));

        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::Random random (2);
        fillSignal (buffer, random, 0);

        for (auto _ : state)
        {
            splitter.updateCrossovers (crossovers);
            splitter.numBands = bands;
            splitter.process (juce::dsp::AudioBlock<float> (buffer));
            benchmark::DoNotOptimize (splitter.getBand (0).getReadPointer (0));
        }

        setCounters (state, blockSize);
    }

    void BM_Compressor (benchmark::State& state)
    {
        const int mode = (int) state.range (0);
        cvx::dsp::Compressor compressor (mode);
        compressor.prepare ({ sampleRate, (juce::uint32) blockSize, 2 }, mode == cvx::dsp::Compressor::upward ? 0.008f : 0.0f);
        if (mode == cvx::dsp::Compressor::upward)
            compressor.setLookahead ((float) (int) (sampleRate * 0.008) / (float) sampleRate);
        compressor.setAttack (8.0f);
        compressor.setRelease (50.0f);
        compressor.setThreshold (0.1f);
        compressor.setRatio (4.0f);

        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::Random random (3);
        fillSignal (buffer, random, 0);
        juce::dsp::AudioBlock<float> block (buffer);

        for (auto _ : state)
        {
            compressor.feedDetector (block);
            compressor.applyCompression (block);
            benchmark::DoNotOptimize (buffer.getReadPointer (0));
        }

        setCounters (state, blockSize);
    }
} // namespace

BENCHMARK (BM_Engine)
    ->ArgNames ({ "bands", "over", "side", "mix" })
    ->ArgsProduct ({ { 1, 3, 8 }, { 0, 1, 2, 3 }, { 0, 1 }, { 100 } })
    ->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_Engine)
    ->ArgNames ({ "bands", "over", "side", "mix" })
    ->ArgsProduct ({ { 8 }, { 0, 3 }, { 0 }, { 50 } })
    ->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_BandSplitter)->ArgName ("bands")->Arg (1)->Arg (3)->Arg (8)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_Compressor)->ArgName ("mode")->Arg (0)->Arg (1)->Unit (benchmark::kMicrosecond);

int main (int argc, char** argv)
{
    // The processor reads and writes its settings file under HOME: keep runs out of the
    // user's folders.
    const auto home = juce::File::createTempFile ("vyx-bench-home");
    home.createDirectory();
    setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);

    int result = 0;
    {
        juce::ScopedJuceInitialiser_GUI juce;
        benchmark::Initialize (&argc, argv);
        if (benchmark::ReportUnrecognizedArguments (argc, argv))
            return 1;
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    home.deleteRecursively();
    return result;
}
