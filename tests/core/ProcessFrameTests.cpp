#include "CoreTestSupport.h"

#include <thread>

namespace
{

using vyx::test::EngineLog;
using vyx::test::RecordingProcessor;
using vyx::test::TestPlayHead;
using FadeState = cvx::AudioProcessor::FadeState;

using vyx::test::sampleRate;

void fill (juce::AudioBuffer<float>& buffer, float value)
{
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        juce::FloatVectorOperations::fill (buffer.getWritePointer (ch), value, buffer.getNumSamples());
}

/** Posts a marker behind everything already queued and runs the loop until it has run, so
    every message posted before it has been delivered. */
bool drainMessageQueue()
{
    auto done = std::make_shared<bool> (false);
    juce::MessageManager::callAsync ([done] { *done = true; });
    return vyx::test::runMessageLoopUntil ([done] { return *done; });
}

class FrameTest : public ::testing::Test
{
protected:
    void prepare (int maximumBlockSize)
    {
        processor.prepareToPlay (sampleRate, maximumBlockSize);
    }

    void run (juce::AudioBuffer<float>& buffer)
    {
        processor.resetCalls();
        processor.processBlock (buffer, midi);
    }

    /** Takes the fade cycle forward to the target, which lies ahead of the current state:
        a request and blocks of silence until the output is silent, then the message loop until
        the re-prepare task has run. */
    void reachFadeState (FadeState target)
    {
        if (processor.getFadeState() == FadeState::normal && target != FadeState::normal)
        {
            processor.requestReprepare();
            juce::AudioBuffer<float> buffer (2, processor.getProcessSpec().maximumBlockSize);
            for (int k = 0; k < 1000 && processor.getFadeState() == FadeState::fadingOut; ++k)
            {
                buffer.clear();
                processor.processBlock (buffer, midi);
            }
            ASSERT_EQ (processor.getFadeState(), FadeState::silent);
        }

        if (target == FadeState::fadingIn)
            ASSERT_TRUE (vyx::test::runMessageLoopUntil ([this] { return processor.getFadeState() == FadeState::fadingIn; }));

        ASSERT_EQ (processor.getFadeState(), target);
    }

    void TearDown() override
    {
        processor.setPlayHead (nullptr);
        drainMessageQueue();
    }

    std::shared_ptr<EngineLog> log = std::make_shared<EngineLog>();
    RecordingProcessor processor { log };
    TestPlayHead playHead;
    juce::MidiBuffer midi;
};

} // namespace

TEST_F (FrameTest, BlockIsSplitAtTheNextSixteenth)
{
    struct Case
    {
        const char* name;
        double bpm, ppq;
        int length;
        std::vector<int> pieces;
    };
    const Case cases[] {
        { "an eighth of a beat in", 120.0, 0.125, 4096, { 2999, 1097 } },
        { "on a sixteenth takes the next one", 120.0, 0.5, 8192, { 5999, 2193 } },
        { "next sixteenth beyond the block", 120.0, 0.5, 4096, { 4096 } },
        { "boundary 1.5 samples away", 120.0, 0.25 - 1.5 / 24000.0, 4096, { 4096 } },
        { "boundary 2.5 samples away", 120.0, 0.25 - 2.5 / 24000.0, 4096, { 1, 4095 } },
        { "boundary at the last sample", 120.0, 0.25 - 4096.5 / 24000.0, 4096, { 4095, 1 } },
        { "boundary one past the block", 120.0, 0.25 - 4097.5 / 24000.0, 4096, { 4096 } },
        { "fast tempo, late position", 240.0, 1000.125, 2048, { 1499, 549 } },
        { "negative position", 120.0, -0.375, 4096, { 2999, 1097 } },
        { "tempo 0", 0.0, 0.125, 4096, { 4096 } },
        { "negative tempo", -120.0, 0.125, 4096, { 4096 } },
        { "short block", 120.0, 0.125, 16, { 16 } },
    };

    prepare (8192);
    processor.setPlayHead (&playHead);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        playHead.bpm = c.bpm;
        playHead.ppq = c.ppq;

        juce::AudioBuffer<float> buffer (2, c.length);
        fill (buffer, 0.5f);
        run (buffer);

        EXPECT_EQ (processor.state.hostTempo.load(), c.bpm);
        EXPECT_EQ (processor.state.hostPosition.load(), c.ppq);
        ASSERT_EQ (processor.numCalls, (int) c.pieces.size());

        int start = 0;
        for (int i = 0; i < processor.numCalls; ++i)
        {
            const auto& call = processor.calls[(size_t) i];
            SCOPED_TRACE ("piece " + juce::String (i));
            EXPECT_EQ (call.numSamples, c.pieces[(size_t) i]);
            EXPECT_EQ (call.numChannels, 2);
            EXPECT_EQ (call.mainChannels, 2u);
            EXPECT_EQ (call.mainSamples, (size_t) c.pieces[(size_t) i]);
            EXPECT_EQ (call.mainFirst, buffer.getReadPointer (0) + start);
            EXPECT_EQ (call.mainSecondChannel, buffer.getReadPointer (1) + start);
            EXPECT_EQ (call.outputFirst, call.mainFirst);
            EXPECT_EQ (call.outputChannels, 2u);
            EXPECT_EQ (call.outputSamples, call.mainSamples);
            EXPECT_TRUE (call.inputIsMain);
            EXPECT_FALSE (call.flag);
            EXPECT_EQ (call.vectorSize, 0u);
            EXPECT_EQ (call.sidechainChannels, 0u);
            EXPECT_EQ (call.sidechainSamples, 0u);
            start += call.numSamples;
        }
        EXPECT_EQ (start, c.length);

        // The frame passes the audio through untouched in the normal state.
        EXPECT_EQ (buffer.getMagnitude (0, c.length), 0.5f);
        EXPECT_EQ (juce::FloatVectorOperations::findMinimum (buffer.getReadPointer (1), c.length), 0.5f);
    }
}

TEST_F (FrameTest, WithoutHostInformationTheStoredGridIsUsed)
{
    prepare (8192);
    juce::AudioBuffer<float> buffer (2, 8192);

    // No play head at all: 120 bpm from position 0, whose next sixteenth is 0.25 (6000 samples).
    run (buffer);
    ASSERT_EQ (processor.numCalls, 2);
    EXPECT_EQ (processor.calls[0].numSamples, 5999);
    EXPECT_EQ (processor.calls[1].numSamples, 2193);
    EXPECT_TRUE (processor.state.hostActive.load());

    processor.setPlayHead (&playHead);
    playHead.bpm = 240.0;
    playHead.ppq = 1000.125;
    juce::AudioBuffer<float> small (2, 2048);
    run (small);
    ASSERT_EQ (processor.numCalls, 2);
    EXPECT_EQ (processor.calls[0].numSamples, 1499);

    struct Case { const char* name; bool hasPosition; bool withBpm; bool withPpq; };
    const Case cases[] {
        { "play head without a position", false, false, false },
        { "position with neither tempo nor position", true, false, false },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        playHead.hasPosition = c.hasPosition;
        playHead.bpm = {};
        playHead.ppq = {};
        run (small);
        EXPECT_EQ (processor.state.hostTempo.load(), 240.0);
        EXPECT_EQ (processor.state.hostPosition.load(), 1000.125);
        ASSERT_EQ (processor.numCalls, 2);
        EXPECT_EQ (processor.calls[0].numSamples, 1499);
        EXPECT_EQ (processor.calls[1].numSamples, 549);
    }

    // Only a tempo: the position stays (1000.125, next sixteenth 0.125 beats away).
    playHead.hasPosition = true;
    playHead.bpm = 60.0;
    run (buffer);
    EXPECT_EQ (processor.state.hostTempo.load(), 60.0);
    EXPECT_EQ (processor.state.hostPosition.load(), 1000.125);
    ASSERT_EQ (processor.numCalls, 2);
    EXPECT_EQ (processor.calls[0].numSamples, 5999);

    // Only a position: the tempo stays.
    playHead.bpm = {};
    playHead.ppq = 0.125;
    run (buffer);
    EXPECT_EQ (processor.state.hostTempo.load(), 60.0);
    EXPECT_EQ (processor.state.hostPosition.load(), 0.125);
    ASSERT_EQ (processor.numCalls, 2);
    EXPECT_EQ (processor.calls[0].numSamples, 5999);
}

TEST_F (FrameTest, LastBlockTimeIsTakenAfterTheBlock)
{
    prepare (256);
    juce::AudioBuffer<float> buffer (2, 256);
    const auto before = juce::Time::currentTimeMillis();
    run (buffer);
    const auto after = juce::Time::currentTimeMillis();
    EXPECT_GE (processor.getLastBlockTimeMs(), before);
    EXPECT_LE (processor.getLastBlockTimeMs(), after);
}

TEST_F (FrameTest, SidechainPiecesFollowTheBufferChannels)
{
    auto layout = processor.getBusesLayout();
    layout.inputBuses.getReference (1) = juce::AudioChannelSet::stereo();
    ASSERT_TRUE (processor.setBusesLayout (layout));
    prepare (4096);
    ASSERT_EQ (processor.getProcessSpec().numChannels, 2);

    processor.setPlayHead (&playHead);
    playHead.bpm = 120.0;
    playHead.ppq = 0.125;

    struct Case { int bufferChannels; size_t sidechainChannels; };
    for (const auto& c : { Case { 4, 2 }, Case { 5, 2 }, Case { 3, 0 }, Case { 2, 0 } })
    {
        SCOPED_TRACE (juce::String (c.bufferChannels) + " buffer channels");
        juce::AudioBuffer<float> buffer (c.bufferChannels, 4096);
        buffer.clear();
        run (buffer);

        ASSERT_EQ (processor.numCalls, 2);
        int start = 0;
        for (int i = 0; i < 2; ++i)
        {
            const auto& call = processor.calls[(size_t) i];
            EXPECT_EQ (call.mainChannels, 2u);
            EXPECT_EQ (call.sidechainChannels, c.sidechainChannels);
            if (c.sidechainChannels > 0)
            {
                EXPECT_EQ (call.sidechainSamples, (size_t) call.numSamples);
                EXPECT_EQ (call.sidechainFirst, buffer.getReadPointer (2) + start);
                EXPECT_EQ (call.sidechainSecondChannel, buffer.getReadPointer (3) + start);
            }
            else
            {
                EXPECT_EQ (call.sidechainSamples, 0u);
            }
            start += call.numSamples;
        }
    }
}

#if JUCE_INTEL
TEST_F (FrameTest, EngineRunsWithFlushToZeroAndTheCallersModeComesBack)
{
    prepare (512);
    const auto original = vyx::test::readFpControl();
    const auto bits = vyx::test::ftzBit | vyx::test::dazBit;

    // In the order the fade cycle passes through them.
    struct Case { const char* name; unsigned int callerBits; FadeState fadeState; bool expectEngine; };
    const Case cases[] {
        { "caller without either bit", 0, FadeState::normal, true },
        { "caller with flush-to-zero only", vyx::test::ftzBit, FadeState::normal, true },
        { "caller with both", bits, FadeState::normal, true },
        { "silent state", 0, FadeState::silent, false },
        { "fading in", 0, FadeState::fadingIn, true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        reachFadeState (c.fadeState);
        const auto caller = (original & ~bits) | c.callerBits;
        juce::AudioBuffer<float> buffer (2, 512);
        buffer.clear();

        processor.resetCalls();
        vyx::test::writeFpControl (caller);
        processor.processBlock (buffer, midi);
        const auto after = vyx::test::readFpControl();
        vyx::test::writeFpControl (original);

        EXPECT_EQ (after, caller);
        ASSERT_EQ (processor.numCalls, c.expectEngine ? 1 : 0);
        if (c.expectEngine)
        {
            EXPECT_EQ (processor.calls[0].fpControl & bits, bits);
        }
    }
}
#endif

TEST_F (FrameTest, FadeOutReprepareFadeInCycle)
{
    constexpr int blockSize = 512;
    prepare (blockSize);
    ASSERT_EQ (log->prepareCount.load(), 1);
    const double step = 1.0 / (0.05 * sampleRate);

    /** Runs one block of constant 1 and checks the ramp from g0 to g1 on it. */
    const auto runFadeBlock = [&] (double g0, double g1)
    {
        juce::AudioBuffer<float> buffer (2, blockSize);
        fill (buffer, 1.0f);
        run (buffer);
        EXPECT_EQ (processor.numCalls, 1);
        EXPECT_NEAR (processor.getFadeGain(), g1, 1.0e-5);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < blockSize; i += 37)
                EXPECT_NEAR (buffer.getSample (ch, i), g0 + i * (g1 - g0) / blockSize, 5.0e-5) << "sample " << i;
        EXPECT_NEAR (buffer.getSample (0, blockSize - 1), g0 + (blockSize - 1) * (g1 - g0) / blockSize, 5.0e-5);
    };

    processor.requestReprepare();
    const double expectedGains[] { 0.7867, 0.5733, 0.36, 0.1467, 0.0 };
    double g0 = 1.0;
    for (int k = 1; k <= 5; ++k)
    {
        SCOPED_TRACE ("fade-out block " + juce::String (k));
        const double g1 = std::max (1.0 - k * blockSize * step, 0.0);
        EXPECT_NEAR (g1, expectedGains[k - 1], 1.0e-4);
        runFadeBlock (g0, g1);
        EXPECT_EQ (processor.getFadeState(), k < 5 ? FadeState::fadingOut : FadeState::silent);
        g0 = g1;
    }
    EXPECT_EQ (processor.getFadeGain(), 0.0f);

    // Silent until the task has run; the engine is neither called nor prepared.
    for (int k = 0; k < 3; ++k)
    {
        juce::AudioBuffer<float> buffer (2, blockSize);
        fill (buffer, 1.0f);
        run (buffer);
        EXPECT_EQ (processor.numCalls, 0);
        EXPECT_EQ (buffer.getMagnitude (0, blockSize), 0.0f);
        EXPECT_TRUE (buffer.hasBeenCleared());
        EXPECT_EQ (processor.getFadeState(), FadeState::silent);
    }
    EXPECT_EQ (log->prepareCount.load(), 1);

    ASSERT_TRUE (vyx::test::runMessageLoopUntil ([this] { return processor.getFadeState() == FadeState::fadingIn; }));
    EXPECT_EQ (log->prepareCount.load(), 2);
    EXPECT_EQ (processor.lastSpec.sampleRate, sampleRate);
    EXPECT_EQ (processor.lastSpec.maximumBlockSize, blockSize);
    EXPECT_EQ (processor.lastSpec.numChannels, 2);

    g0 = 0.0;
    for (int k = 1; k <= 5; ++k)
    {
        SCOPED_TRACE ("fade-in block " + juce::String (k));
        const double g1 = std::min (k * blockSize * step, 1.0);
        runFadeBlock (g0, g1);
        EXPECT_EQ (processor.getFadeState(), k < 5 ? FadeState::fadingIn : FadeState::normal);
        g0 = g1;
    }
    EXPECT_EQ (processor.getFadeGain(), 1.0f);

    // Back to normal: no gain at all.
    juce::AudioBuffer<float> buffer (2, blockSize);
    fill (buffer, 1.0f);
    run (buffer);
    EXPECT_EQ (processor.numCalls, 1);
    EXPECT_EQ (juce::FloatVectorOperations::findMinimum (buffer.getReadPointer (0), blockSize), 1.0f);

    // Only the one task was posted.
    drainMessageQueue();
    EXPECT_EQ (log->prepareCount.load(), 2);
}

TEST_F (FrameTest, FadeOutDuringFadeInStartsFromTheCurrentGain)
{
    constexpr int blockSize = 480;   // 0.2 of a full fade per block
    prepare (blockSize);
    processor.requestReprepare();
    juce::AudioBuffer<float> buffer (2, blockSize);
    for (int k = 0; k < 10 && processor.getFadeState() == FadeState::fadingOut; ++k)
        run (buffer);
    ASSERT_EQ (processor.getFadeState(), FadeState::silent);
    ASSERT_TRUE (vyx::test::runMessageLoopUntil ([this] { return processor.getFadeState() == FadeState::fadingIn; }));

    run (buffer);
    run (buffer);
    EXPECT_NEAR (processor.getFadeGain(), 0.4, 1.0e-5);

    processor.requestReprepare();
    fill (buffer, 1.0f);
    run (buffer);
    EXPECT_NEAR (processor.getFadeGain(), 0.2, 1.0e-5);
    EXPECT_NEAR (buffer.getSample (0, 0), 0.4, 1.0e-5);
    EXPECT_EQ (processor.getFadeState(), FadeState::fadingOut);
}

TEST_F (FrameTest, FadeOutRequestedDuringTheLastFadeInBlockIsKept)
{
    constexpr int blockSize = 480;   // 0.2 of a full fade per block
    prepare (blockSize);
    processor.requestReprepare();
    juce::AudioBuffer<float> buffer (2, blockSize);
    for (int k = 0; k < 10 && processor.getFadeState() == FadeState::fadingOut; ++k)
        run (buffer);
    ASSERT_TRUE (vyx::test::runMessageLoopUntil ([this] { return processor.getFadeState() == FadeState::fadingIn; }));

    for (int k = 0; k < 4; ++k)
        run (buffer);
    ASSERT_NEAR (processor.getFadeGain(), 0.8, 1.0e-5);

    // The settings menu asks for a new fade-out (3 -> 1) while the block that completes the
    // fade-in is being processed: the request must survive the end of that block.
    processor.onProcess = [this] { processor.requestReprepare(); };
    run (buffer);
    processor.onProcess = nullptr;
    EXPECT_EQ (processor.getFadeState(), FadeState::fadingOut);
}

TEST_F (FrameTest, SilentStateLeavesAnAlreadyClearBufferAlone)
{
    prepare (256);
    reachFadeState (FadeState::silent);

    // A buffer over our own memory, marked clear and then given data behind its back.
    std::vector<float> left (256, 0.0f), right (256, 0.0f);
    float* channels[] { left.data(), right.data() };
    juce::AudioBuffer<float> marked (channels, 2, 256);
    marked.clear();
    ASSERT_TRUE (marked.hasBeenCleared());
    std::fill (left.begin(), left.end(), 0.25f);
    std::fill (right.begin(), right.end(), -0.25f);

    run (marked);
    EXPECT_TRUE (marked.hasBeenCleared());
    EXPECT_EQ (left[0], 0.25f);
    EXPECT_EQ (left[255], 0.25f);
    EXPECT_EQ (right[100], -0.25f);
    EXPECT_EQ (processor.numCalls, 0);

    // A buffer that is not marked clear is cleared and marked.
    juce::AudioBuffer<float> loud (2, 256);
    fill (loud, 0.8f);
    run (loud);
    EXPECT_TRUE (loud.hasBeenCleared());
    EXPECT_EQ (loud.getMagnitude (0, 256), 0.0f);
    EXPECT_EQ (processor.numCalls, 0);
}

TEST_F (FrameTest, EngineOutputInABufferMarkedClearIsFaded)
{
    constexpr int blockSize = 512;
    prepare (blockSize);
    processor.outputValue = 1.0f;
    processor.requestReprepare();

    juce::AudioBuffer<float> buffer (2, blockSize);
    buffer.clear();
    ASSERT_TRUE (buffer.hasBeenCleared());
    run (buffer);

    // The engine wrote into the buffer, so it is no longer marked clear and the ramp applies.
    const double g1 = 1.0 - blockSize / (0.05 * sampleRate);
    EXPECT_FALSE (buffer.hasBeenCleared());
    EXPECT_NEAR (buffer.getSample (0, 0), 1.0, 1.0e-6);
    EXPECT_NEAR (buffer.getSample (1, blockSize / 2), 1.0 + 0.5 * (g1 - 1.0), 5.0e-5);
    EXPECT_NEAR (processor.getFadeGain(), g1, 1.0e-5);
}

TEST_F (FrameTest, BlockDuringPreparationIsSilentAndSkipsTheEngine)
{
    prepare (512);
    juce::WaitableEvent entered, release;
    processor.onPrepare = [&]
    {
        entered.signal();
        release.wait (10000);
    };

    std::thread host ([this] { processor.prepareToPlay (sampleRate, 512); });
    ASSERT_TRUE (entered.wait (10000));

    juce::AudioBuffer<float> buffer (2, 512);
    fill (buffer, 1.0f);
    run (buffer);
    EXPECT_EQ (processor.numCalls, 0);
    EXPECT_EQ (buffer.getMagnitude (0, 512), 0.0f);

    release.signal();
    host.join();
    processor.onPrepare = nullptr;

    fill (buffer, 1.0f);
    run (buffer);
    EXPECT_EQ (processor.numCalls, 1);
    EXPECT_EQ (buffer.getMagnitude (0, 512), 1.0f);
}

TEST (FrameLifetime, QueuedReprepareTaskOutlivesItsProcessorHarmlessly)
{
    auto log = std::make_shared<EngineLog>();
    auto processor = std::make_unique<RecordingProcessor> (log);
    processor->prepareToPlay (sampleRate, 512);
    ASSERT_EQ (log->prepareCount.load(), 1);

    processor->requestReprepare();
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    for (int k = 0; k < 5; ++k)
        processor->processBlock (buffer, midi);
    ASSERT_EQ (processor->getFadeState(), FadeState::silent) << "the fifth block posted the task";

    processor.reset();
    ASSERT_TRUE (drainMessageQueue());
    EXPECT_EQ (log->prepareCount.load(), 1);
}

TEST (FrameLifetime, DestructionWaitsForARunningReprepareTask)
{
    auto log = std::make_shared<EngineLog>();
    auto processor = std::make_unique<RecordingProcessor> (log);
    processor->prepareToPlay (sampleRate, 512);

    processor->requestReprepare();
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    for (int k = 0; k < 5; ++k)
        processor->processBlock (buffer, midi);
    ASSERT_EQ (processor->getFadeState(), FadeState::silent);

    // While the task rebuilds the engine on the message thread, the host destroys the instance
    // from another thread: the engine must stay whole until the rebuild is over.
    std::thread host;
    bool destroyedDuringRebuild = true;
    processor->onPrepare = [&]
    {
        host = std::thread ([&] { processor.reset(); });
        juce::Thread::sleep (200);
        destroyedDuringRebuild = log->destroyed.load();
    };

    ASSERT_TRUE (drainMessageQueue());
    host.join();
    EXPECT_EQ (log->prepareCount.load(), 2);
    EXPECT_FALSE (destroyedDuringRebuild);
    EXPECT_TRUE (log->destroyed.load());
}
