#include "EngineTestSupport.h"

using namespace vyx::test;
using FadeState = cvx::AudioProcessor::FadeState;

// An oversampling change fades out, rebuilds the engine on the message thread and fades back
// in: the output never jumps by more than the signal itself moves in one sample.
TEST (EngineRobustness, OversamplingChangeIsClickFree)
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 256;
    constexpr double frequency = 200.0;
    constexpr float level = 0.5f;

    EngineFixture f;
    f.neutralCompression();
    f.set ("NUM", 1.0f);
    f.prepare (sampleRate, blockSize);

    juce::AudioBuffer<float> block (2, blockSize);
    juce::MidiBuffer midi;
    int phase = 0;
    std::vector<float> recorded;
    bool sawSilence = false, cycleDone = false;

    for (int blockIndex = 0; blockIndex < 400 && ! cycleDone; ++blockIndex)
    {
        for (int i = 0; i < blockSize; ++i)
        {
            const auto v = (float) (level * std::sin (juce::MathConstants<double>::twoPi * frequency * (phase + i) / sampleRate));
            block.setSample (0, i, v);
            block.setSample (1, i, v);
        }
        phase += blockSize;

        if (blockIndex == 40)
        {
            f.setOversampling (2);
            f.vyx.requestReprepare();
        }

        f.vyx.processBlock (block, midi);
        for (int i = 0; i < blockSize; ++i)
            recorded.push_back (block.getSample (0, i));
        sawSilence = sawSilence || f.vyx.getFadeState() == FadeState::silent;

        // The host keeps the message thread running meanwhile.
        juce::MessageManager::getInstance()->runDispatchLoopUntil (1);

        cycleDone = blockIndex > 40 && f.vyx.getFadeState() == FadeState::normal;
    }
    ASSERT_TRUE (sawSilence);
    ASSERT_TRUE (cycleDone);
    EXPECT_EQ (f.vyx.getOversamplingFactor(), 4);

    const float signalStep = (float) (juce::MathConstants<double>::twoPi * frequency / sampleRate * level);
    float worst = 0.0f;
    for (size_t i = 8000; i < recorded.size(); ++i)
        worst = std::max (worst, std::abs (recorded[i] - recorded[i - 1]));
    EXPECT_LT (worst, signalStep * 1.05f);
}

//==============================================================================
struct LayoutCase
{
    const char* name;
    int mainChannels;  // 1 mono, 2 stereo (a channel-set value here would outlive the leak check)
    bool sidechain;
};

class EngineLayouts : public ::testing::TestWithParam<LayoutCase> {};

// Every block size from 1 to the prepared maximum, and blocks longer than announced: the
// output stays finite and carries the signal (a mono bus is processed, not silenced).
TEST_P (EngineLayouts, AnyBlockSizeProcessesTheSignal)
{
    const auto& c = GetParam();
    const auto main = juce::AudioChannelSet::canonicalChannelSet (c.mainChannels);
    EngineFixture f;
    auto layout = f.vyx.getBusesLayout();
    layout.inputBuses.getReference (0) = main;
    layout.outputBuses.getReference (0) = main;
    layout.inputBuses.getReference (1) = c.sidechain ? juce::AudioChannelSet::stereo() : juce::AudioChannelSet::disabled();
    ASSERT_TRUE (f.vyx.setBusesLayout (layout)) << c.name;

    f.neutralCompression();
    f.set ("MIX", 60.0f);
    constexpr int maximum = 96;
    f.prepare (44100.0, maximum);

    const auto in = makeSine (44100, 500.0, 44100.0, 0.3f);
    juce::AudioBuffer<float> block (f.numBufferChannels(), 4 * maximum);
    juce::MidiBuffer midi;
    int position = 0;
    std::vector<float> channel0;

    // Sizes 1..maximum, then a few longer than announced.
    std::vector<int> sizes;
    for (int n = 1; n <= maximum; ++n)
        sizes.push_back (n);
    for (int n : { 2 * maximum + 1, 3 * maximum, 4 * maximum })
        sizes.push_back (n);

    for (int n : sizes)
    {
        juce::AudioBuffer<float> piece (block.getArrayOfWritePointers(), block.getNumChannels(), n);
        piece.clear();
        for (int ch = 0; ch < c.mainChannels; ++ch)
            piece.copyFrom (ch, 0, in, ch, position, n);
        if (c.sidechain)
            for (int ch = c.mainChannels; ch < piece.getNumChannels(); ++ch)
                piece.copyFrom (ch, 0, in, 0, position, n);
        f.vyx.processBlock (piece, midi);
        for (int i = 0; i < n; ++i)
            channel0.push_back (piece.getSample (0, i));
        ASSERT_TRUE (allFinite (piece)) << c.name << " block of " << n;
        position += n;
    }

    float tailPeak = 0.0f;
    for (size_t i = channel0.size() / 2; i < channel0.size(); ++i)
        tailPeak = std::max (tailPeak, std::abs (channel0[i]));
    EXPECT_NEAR (tailPeak, 0.3f, 0.03f) << c.name;
}

INSTANTIATE_TEST_SUITE_P (Buses, EngineLayouts,
    ::testing::Values (LayoutCase { "stereo", 2, false },
                       LayoutCase { "stereo with sidechain", 2, true },
                       LayoutCase { "mono", 1, false },
                       LayoutCase { "mono with sidechain", 1, true }),
    [] (const auto& param) { return "layout" + std::to_string (param.index); });

//==============================================================================
class EngineSampleRates : public ::testing::TestWithParam<double> {};

TEST_P (EngineSampleRates, EveryFactorStaysFiniteAndKeepsTheLevel)
{
    const double sampleRate = GetParam();
    for (int stages = 0; stages <= 3; ++stages)
    {
        EngineFixture f;
        f.neutralCompression();
        f.set ("NUM", 4.0f);
        f.setOversampling (stages);
        f.prepare (sampleRate, 512);

        const int length = (int) (sampleRate * 0.5);
        const auto out = f.render (makeSine (length, 1000.0, sampleRate, 0.3f));
        ASSERT_TRUE (allFinite (out)) << sampleRate << " Hz, stages " << stages;
        EXPECT_NEAR (peak (out, length / 2), 0.3f, 0.02f) << sampleRate << " Hz, stages " << stages;
    }
}

INSTANTIATE_TEST_SUITE_P (Rates, EngineSampleRates, ::testing::Values (22050.0, 44100.0, 96000.0, 192000.0),
                          [] (const auto& param) { return std::to_string ((int) param.param) + "Hz"; });

//==============================================================================
struct SignalCase
{
    const char* name;
    std::function<float (int)> sample;
    bool endsInSilence;
};

class EngineLongSignals : public ::testing::TestWithParam<SignalCase> {};

// A minute of silence, full-scale square waves and DC through all eight bands: the output
// stays finite and bounded by the limiter, and silence stays silent. One case per test, so
// that the runner can spread the minutes over its cores.
TEST_P (EngineLongSignals, StayFiniteUnderTheCeiling)
{
    const auto& c = GetParam();
    EngineFixture f;
    f.set ("NUM", 8.0f);
    f.set ("IN", 12.0f);
    f.set ("MIX", 50.0f);
    f.prepare (48000.0, 1024);

    juce::AudioBuffer<float> block (2, 1024);
    juce::MidiBuffer midi;
    float lastPeak = 0.0f;
    for (int start = 0; start < 48000 * 60; start += 1024)
    {
        for (int i = 0; i < 1024; ++i)
            block.setSample (0, i, c.sample (start + i)), block.setSample (1, i, c.sample (start + i));
        f.vyx.processBlock (block, midi);
        ASSERT_TRUE (allFinite (block)) << c.name << " at " << start;
        lastPeak = peak (block);
        ASSERT_LE (lastPeak, 1.0f) << c.name << " at " << start;
    }
    if (c.endsInSilence)
    {
        EXPECT_LT (lastPeak, 1e-6f) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P (EngineRobustness, EngineLongSignals,
    ::testing::Values (
        SignalCase { "silence", [] (int) { return 0.0f; }, true },
        SignalCase { "full-scale square", [] (int i) { return (i / 55) % 2 == 0 ? 1.0f : -1.0f; }, false },
        SignalCase { "dc", [] (int) { return 1.0f; }, false },
        SignalCase { "square then silence", [] (int i) { return i < 48000 * 30 ? ((i / 20) % 2 == 0 ? 1.0f : -1.0f) : 0.0f; }, true }),
    [] (const auto& param)
    {
        auto name = juce::String (param.param.name).replaceCharacters (" -", "__");
        return name.toStdString();
    });

// Every parameter jumps to a random value on every block, the band count and the crossovers
// included (crossing each other): no crash, finite output.
TEST (EngineRobustness, AutomationOfEveryParameterStaysFinite)
{
    EngineFixture f;
    f.prepare (48000.0, 256);
    juce::Random random (11);
    juce::AudioBuffer<float> block (2, 256);
    juce::MidiBuffer midi;
    const auto& parameters = f.vyx.getParameters();

    for (int blockIndex = 0; blockIndex < 2000; ++blockIndex)
    {
        for (auto* p : parameters)
            if (random.nextInt (4) == 0)
                p->setValue (random.nextFloat());

        for (int i = 0; i < 256; ++i)
            block.setSample (0, i, random.nextFloat() * 2.0f - 1.0f), block.setSample (1, i, random.nextFloat() - 0.5f);
        f.vyx.processBlock (block, midi);
        ASSERT_TRUE (allFinite (block)) << "block " << blockIndex;
    }
}

// Hosts rendering offline hand over large blocks, and a plug-in may run on an audio thread
// with a small stack: at 8x a 16384-sample block is 131072 samples per channel inside the
// engine, and nothing on the way may put a buffer of that size on the stack.
TEST (EngineRobustness, LargeBlocksAtEightTimesFitASmallThreadStack)
{
    constexpr int blockSize = 16384;
    EngineFixture f;
    f.set ("NUM", 8.0f);
    f.set ("IN", 6.0f);
    f.set ("MIX", 50.0f);
    f.setOversampling (3);
    f.prepare (48000.0, blockSize);
    ASSERT_EQ (f.vyx.getOversamplingFactor(), 8);

    struct SmallStackRenderer : juce::Thread
    {
        explicit SmallStackRenderer (EngineFixture& fixture)
            : juce::Thread ("Small-stack audio thread", 192 * 1024), f (fixture) {}

        void run() override
        {
            output = f.render (makeNoise (3 * blockSize, 0.5f));
        }

        EngineFixture& f;
        juce::AudioBuffer<float> output;
    };

    SmallStackRenderer renderer (f);
    ASSERT_TRUE (renderer.startThread());
    ASSERT_TRUE (renderer.waitForThreadToExit (60000));

    ASSERT_EQ (renderer.output.getNumSamples(), 3 * blockSize);
    EXPECT_TRUE (allFinite (renderer.output));
    EXPECT_GT (peak (renderer.output, blockSize), 0.1f);
}
