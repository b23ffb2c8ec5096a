// Counts heap allocations made on the measuring thread while a block is processed. The global
// operator new of this test program is replaced for that; it only counts while armed.

#include "CoreTestSupport.h"
#include "plugin/PluginProcessor.h"

#include <cstdlib>
#include <new>

namespace
{
    using FadeState = cvx::AudioProcessor::FadeState;
    std::atomic<long> allocationCount { 0 };
    thread_local bool countingOnThisThread = false;

    void* allocate (std::size_t size)
    {
        if (countingOnThisThread)
            allocationCount.fetch_add (1, std::memory_order_relaxed);

        if (void* p = std::malloc (size == 0 ? 1 : size))
            return p;
        throw std::bad_alloc();
    }

    /** Counts the allocations of the calling thread for as long as it lives. */
    struct ScopedAllocationCount
    {
        ScopedAllocationCount()
        {
            allocationCount = 0;
            countingOnThisThread = true;
        }

        ~ScopedAllocationCount() { countingOnThisThread = false; }

        long get() const { return allocationCount.load(); }
    };
} // namespace

void* operator new (std::size_t size) { return allocate (size); }
void* operator new[] (std::size_t size) { return allocate (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept
{
    try { return allocate (size); } catch (...) { return nullptr; }
}
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept
{
    try { return allocate (size); } catch (...) { return nullptr; }
}
void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, std::size_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept { std::free (p); }
void operator delete (void* p, const std::nothrow_t&) noexcept { std::free (p); }
void operator delete[] (void* p, const std::nothrow_t&) noexcept { std::free (p); }

namespace
{

using vyx::test::RecordingProcessor;
using vyx::test::TestPlayHead;

using vyx::test::sampleRate;
constexpr int blockSize = 512;

class AudioThreadAllocationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        juce::Random random (77);
        for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
            for (int i = 0; i < blockSize; ++i)
                buffer.setSample (ch, i, random.nextFloat() * 2.0f - 1.0f);

        playHead.bpm = 128.0;
        playHead.ppq = 0.0;
    }

    /** Processes one block with the play head moved on by the block's length, so that the
        blocks regularly straddle a sixteenth note. Returns its allocation count. */
    long processCounted (juce::AudioProcessor& processor)
    {
        juce::AudioBuffer<float> block (buffer);
        ScopedAllocationCount count;
        processor.processBlock (block, midi);
        advance();
        return count.get();
    }

    void processUncounted (juce::AudioProcessor& processor)
    {
        juce::AudioBuffer<float> block (buffer);
        processor.processBlock (block, midi);
        advance();
    }

    void advance()
    {
        playHead.ppq = *playHead.ppq + blockSize / sampleRate * *playHead.bpm / 60.0;
    }

    juce::AudioBuffer<float> buffer { 2, blockSize };
    juce::MidiBuffer midi;
    TestPlayHead playHead;
};

} // namespace

TEST_F (AudioThreadAllocationTest, CounterSeesAllocations)
{
    ScopedAllocationCount count;
    auto p = std::make_unique<int> (3);
    std::vector<float> v (100);
    EXPECT_GE (count.get(), 2);
}

TEST_F (AudioThreadAllocationTest, ProductProcessorAllocatesNothingPerBlock)
{
    std::unique_ptr<juce::AudioProcessor> processor (createPluginFilter());
    processor->setPlayConfigDetails (2, 2, sampleRate, blockSize);
    processor->prepareToPlay (sampleRate, blockSize);
    processor->setPlayHead (&playHead);

    for (int k = 0; k < 32; ++k)
        processUncounted (*processor);

    long total = 0;
    for (int k = 0; k < 200; ++k)
        total += processCounted (*processor);
    EXPECT_EQ (total, 0);

    // Without a play head as well.
    processor->setPlayHead (nullptr);
    total = 0;
    for (int k = 0; k < 50; ++k)
        total += processCounted (*processor);
    EXPECT_EQ (total, 0);

    processor->releaseResources();
}

// The sidechain's shared split, the dry path and moving parameters, without and with 8x
// oversampling.
TEST_F (AudioThreadAllocationTest, SidechainDryPathAndAutomationAllocateNothing)
{
    for (const int stages : { 0, 3 })
    {
        SCOPED_TRACE ("oversampling stages " + std::to_string (stages));
        std::unique_ptr<juce::AudioProcessor> processor (createPluginFilter());
        auto layout = processor->getBusesLayout();
        layout.inputBuses.getReference (1) = juce::AudioChannelSet::stereo();
        ASSERT_TRUE (processor->setBusesLayout (layout));

        auto& vyx = dynamic_cast<VyxAudioProcessor&> (*processor);
        vyx.state.attributes.setProperty (Attributes::oversampler, stages, nullptr);
        auto* numBands = vyx.state.parameters.getParameter ("NUM");
        auto* mix = vyx.state.parameters.getParameter ("MIX");
        auto* crossover = vyx.state.parameters.getParameter ("CR2");
        auto* threshold = vyx.state.parameters.getParameter ("THD4");
        numBands->setValueNotifyingHost (1.0f);  // 8 bands
        mix->setValueNotifyingHost (0.5f);       // the dry path runs

        processor->setRateAndBufferSizeDetails (sampleRate, blockSize);
        processor->prepareToPlay (sampleRate, blockSize);
        processor->setPlayHead (&playHead);

        juce::AudioBuffer<float> keyed (4, blockSize);
        for (int ch = 0; ch < 4; ++ch)
            keyed.copyFrom (ch, 0, buffer, ch % 2, 0, blockSize);

        long total = 0;
        for (int k = 0; k < 40; ++k)
        {
            crossover->setValueNotifyingHost (0.3f + 0.005f * (float) k);
            threshold->setValueNotifyingHost (0.2f + 0.01f * (float) k);
            juce::AudioBuffer<float> block (keyed);

            ScopedAllocationCount count;
            processor->processBlock (block, midi);
            if (k >= 8)
                total += count.get();
            advance();
        }
        EXPECT_EQ (total, 0);

        processor->setPlayHead (nullptr);
        processor->releaseResources();
    }
}

TEST_F (AudioThreadAllocationTest, BypassAllocatesNothing)
{
    // The host's bypass on and off, through the crossfades and while it stays on, and a block
    // longer than announced while bypassed; at every oversampling factor (each has its latency).
    for (const int stages : { 0, 3 })
    {
        SCOPED_TRACE (stages);
        std::unique_ptr<cvx::AudioProcessor> processor (dynamic_cast<cvx::AudioProcessor*> (createPluginFilter()));
        ASSERT_NE (processor, nullptr);
        processor->state.attributes.setProperty (Attributes::oversampler, stages, nullptr);
        processor->setPlayConfigDetails (2, 2, sampleRate, blockSize);
        processor->prepareToPlay (sampleRate, blockSize);
        ASSERT_GT (processor->getLatencySamples(), 0);
        processor->setPlayHead (&playHead);

        for (int k = 0; k < 8; ++k)
            processUncounted (*processor);

        const auto countBlocks = [&] (int numBlocks, bool bypassed, int length)
        {
            long total = 0;
            for (int k = 0; k < numBlocks; ++k)
            {
                juce::AudioBuffer<float> block (2, length);
                for (int ch = 0; ch < 2; ++ch)
                    block.copyFrom (ch, 0, buffer, ch, 0, std::min (length, blockSize));
                ScopedAllocationCount count;
                if (bypassed)
                    processor->processBlockBypassed (block, midi);
                else
                    processor->processBlock (block, midi);
                total += count.get();
                advance();
            }
            return total;
        };

        EXPECT_EQ (countBlocks (20, true, blockSize), 0) << "fading to bypass and bypassed";
        EXPECT_EQ (countBlocks (1, true, 4 * blockSize), 0) << "bypassed, longer than announced";
        EXPECT_EQ (countBlocks (1, false, blockSize), 0) << "toggle";
        EXPECT_EQ (countBlocks (1, true, blockSize), 0) << "toggle back within the fade";
        EXPECT_EQ (countBlocks (20, false, blockSize), 0) << "fading back and processed";

        processor->setPlayHead (nullptr);
        processor->releaseResources();
    }
}

TEST_F (AudioThreadAllocationTest, FrameAllocatesNothingOutsideTheBlockThatPostsTheTask)
{
    RecordingProcessor processor;
    processor.prepareToPlay (sampleRate, blockSize);
    processor.setPlayHead (&playHead);

    for (int k = 0; k < 8; ++k)
        processUncounted (processor);

    long total = 0;
    for (int k = 0; k < 100; ++k)
        total += processCounted (processor);
    EXPECT_EQ (total, 0) << "steady state";

    // Fade-out blocks before the last one, then the silent blocks.
    processor.requestReprepare();
    total = 0;
    for (int k = 0; k < 4; ++k)
        total += processCounted (processor);
    EXPECT_EQ (processor.getFadeState(), FadeState::fadingOut);
    EXPECT_EQ (total, 0) << "fading out";

    processUncounted (processor);   // reaches gain 0 and posts the task
    ASSERT_EQ (processor.getFadeState(), FadeState::silent);

    total = 0;
    for (int k = 0; k < 10; ++k)
        total += processCounted (processor);
    EXPECT_EQ (total, 0) << "silent";

    ASSERT_TRUE (vyx::test::runMessageLoopUntil ([&] { return processor.getFadeState() == FadeState::fadingIn; }));

    total = 0;
    for (int k = 0; k < 8; ++k)
        total += processCounted (processor);
    EXPECT_EQ (processor.getFadeState(), FadeState::normal);
    EXPECT_EQ (total, 0) << "fading in";

    processor.setPlayHead (nullptr);
}
