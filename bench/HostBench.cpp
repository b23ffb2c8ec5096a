// The built Vyx.vst3 run the way a DAW runs it: loaded through the framework's VST3 host
// (factory, component, edit controller), fed host blocks of 32, 64 and 512 samples. Beside it,
// the same engine called directly through processBlock, so the VST3 wrapper's share shows.
// 8 bands, no oversampling, 48 kHz stereo.

#include "EngineBenchSupport.h"
#include "PluginHost.h"

namespace
{
    using vyx::bench::sampleRate;

    constexpr int numBands = 8;

    /** One instance of the plug-in bundle, configured and prepared for a block size. */
    class HostRig
    {
    public:
        explicit HostRig (int blockSize)
        {
            // Reports the framework's one known, harmless host-thread assertion as a notice.
            static vyx::host::HostLogger logger;
            juce::Logger::setCurrentLogger (&logger);

            instance = vyx::host::loadPlugin (vyx::host::getBuiltBundle(), sampleRate, blockSize, error);
            if (instance == nullptr)
                return;

            vyx::bench::configure (*instance, numBands, 100.0f);
            instance->setRateAndBufferSizeDetails (sampleRate, blockSize);
            instance->prepareToPlay (sampleRate, blockSize);
            driver = std::make_unique<vyx::bench::BlockDriver> (*instance, blockSize);

            // Deliver the parameter changes and the latency notice before timing starts.
            driver->processFrames (4 * blockSize);
            juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
        }

        ~HostRig()
        {
            if (instance != nullptr)
                instance->releaseResources();
            instance.reset();
            juce::Logger::setCurrentLogger (nullptr);
        }

        bool isLoaded (benchmark::State& state) const
        {
            if (instance == nullptr)
                state.SkipWithError (("cannot load the bundle: " + error).toRawUTF8());
            return instance != nullptr;
        }

        void processBlock() { driver->processBlock(); }
        void processFrames (int frames) { driver->processFrames (frames); }

    private:
        juce::String error;
        std::unique_ptr<juce::AudioPluginInstance> instance;
        std::unique_ptr<vyx::bench::BlockDriver> driver;
    };

    /** Cost per frame through the VST3 path. Argument: the host block size. */
    void BM_HostVST3 (benchmark::State& state)
    {
        const int blockSize = (int) state.range (0);
        HostRig host (blockSize);
        if (! host.isLoaded (state))
            return;

        for (auto _ : state)
            host.processBlock();

        const double frames = (double) blockSize * (double) state.iterations();
        state.counters["ns_per_frame"] = benchmark::Counter (frames * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
        state.counters["realtime_x"] = benchmark::Counter (frames / sampleRate, benchmark::Counter::kIsRate);
    }

    /** The VST3 path (a) against the engine's own processBlock (b) at the same block size:
        ratio - 1 is the wrapper's share. Argument: the host block size. */
    void BM_HostWrapperRatio (benchmark::State& state)
    {
        const int blockSize = (int) state.range (0);
        HostRig host (blockSize);
        if (! host.isLoaded (state))
            return;

        vyx::bench::EngineRig direct (numBands, 0, false, 100.0f, blockSize);
        vyx::bench::runPair (state, host, direct);
    }

    /** Through the VST3 path, cost per frame at a small block (a) against 512 samples (b).
        Argument: the small block size. */
    void BM_HostSmallBlockRatio (benchmark::State& state)
    {
        HostRig small ((int) state.range (0));
        HostRig large (512);
        if (! small.isLoaded (state) || ! large.isLoaded (state))
            return;

        vyx::bench::runPair (state, small, large);
    }
} // namespace

BENCHMARK (BM_HostVST3)->ArgName ("block")->Arg (32)->Arg (64)->Arg (512)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_HostWrapperRatio)->ArgName ("block")->Arg (32)->Arg (64)->Arg (512)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_HostSmallBlockRatio)->ArgName ("block")->Arg (32)->Arg (64)->Unit (benchmark::kMicrosecond);
