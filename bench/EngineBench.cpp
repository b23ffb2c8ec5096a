// Throughput of the engine and of its two hot parts, at 48 kHz stereo.
// Counters: ns_per_frame (nanoseconds per stereo sample frame) and realtime_x (seconds of
// audio per second of CPU time). The ratio benchmarks run two set-ups in turn inside one
// benchmark and time each on the thread's CPU clock, so that a busy machine slows both alike.

#include "EngineBenchSupport.h"

#include <benchmark/benchmark.h>

namespace
{
    using vyx::bench::EngineRig;
    using vyx::bench::runPair;
    using vyx::bench::sampleRate;

    void setCounters (benchmark::State& state, double framesPerIteration)
    {
        const double frames = framesPerIteration * (double) state.iterations();
        state.counters["ns_per_frame"] = benchmark::Counter (frames * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
        state.counters["realtime_x"] = benchmark::Counter (frames / sampleRate, benchmark::Counter::kIsRate);
    }

    /** Arguments: band count, oversampling stages (0..3), sidechain (0/1), the mix in percent
        (below 100 the delay-compensated dry path runs as well) and the host block size. */
    void BM_Engine (benchmark::State& state)
    {
        EngineRig rig ((int) state.range (0), (int) state.range (1), state.range (2) != 0,
                       (float) state.range (3), (int) state.range (4));

        for (auto _ : state)
            rig.processBlock();

        setCounters (state, rig.getBlockSize());
    }

    /** Cost per frame at a small host block (a) against 512-sample blocks (b).
        Arguments: band count, oversampling stages, the small block size. */
    void BM_SmallBlockRatio (benchmark::State& state)
    {
        const int bands = (int) state.range (0), stages = (int) state.range (1);
        EngineRig small (bands, stages, false, 100.0f, (int) state.range (2));
        EngineRig large (bands, stages, false, 100.0f, 512);
        runPair (state, small, large);
    }

    /** Cost per frame with the sidechain (a) against without it (b), 512-sample blocks.
        Arguments: band count, oversampling stages. */
    void BM_SidechainRatio (benchmark::State& state)
    {
        const int bands = (int) state.range (0), stages = (int) state.range (1);
        EngineRig keyed (bands, stages, true, 100.0f, 512);
        EngineRig plain (bands, stages, false, 100.0f, 512);
        runPair (state, keyed, plain);
    }

    void BM_BandSplitter (benchmark::State& state)
    {
        const int bands = (int) state.range (0);
        const int blockSize = 512;
        BandSplitter<8> splitter;
        splitter.prepare ({ sampleRate, (juce::uint32) blockSize, 2 });

        std::vector<float> crossovers;
        for (int b = 0; b < bands; ++b)
            crossovers.push_back (vyx::bench::crossover (b));

        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::Random random (2);
        vyx::bench::fillSignal (buffer, random, 0);

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
        const int blockSize = 512;
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
        vyx::bench::fillSignal (buffer, random, 0);
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
    ->ArgNames ({ "bands", "over", "side", "mix", "block" })
    ->ArgsProduct ({ { 1, 3, 8 }, { 0, 1, 2, 3 }, { 0, 1 }, { 100 }, { 512 } })
    ->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_Engine)
    ->ArgNames ({ "bands", "over", "side", "mix", "block" })
    ->ArgsProduct ({ { 8 }, { 0, 3 }, { 0 }, { 50 }, { 512 } })
    ->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_Engine)
    ->ArgNames ({ "bands", "over", "side", "mix", "block" })
    ->ArgsProduct ({ { 8 }, { 0, 3 }, { 0 }, { 100 }, { 32, 64, 128 } })
    ->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_SmallBlockRatio)
    ->ArgNames ({ "bands", "over", "block" })
    ->ArgsProduct ({ { 8 }, { 0, 1, 3 }, { 32, 64, 128 } })
    ->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_SidechainRatio)
    ->ArgNames ({ "bands", "over" })
    ->ArgsProduct ({ { 3, 8 }, { 0, 3 } })
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
