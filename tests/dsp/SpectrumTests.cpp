#include "TestSupport.h"

namespace
{
using cvx::ui::SpectrumDisplay;

constexpr int frame = 4096;

/** A mono block whose sample n holds first + n, so every sample says where it came from. */
struct NumberedBlock
{
    NumberedBlock (int length, float first)
        : buffer (1, length)
    {
        for (int n = 0; n < length; ++n)
            buffer.setSample (0, n, first + (float) n);
    }

    juce::dsp::AudioBlock<float> block() { return juce::dsp::AudioBlock<float> (buffer); }

    juce::AudioBuffer<float> buffer;
};

void push (SpectrumDisplay& display, int length, float first)
{
    NumberedBlock numbered (length, first);
    auto block = numbered.block();
    display.pushBlock (block);
}

/** Expects the first frame samples of the work buffer to be the given sequence. */
void expectFrame (const SpectrumDisplay& display, const std::vector<float>& expected)
{
    const auto& work = display.getFrame();
    ASSERT_GE (work.size(), (size_t) frame);
    ASSERT_EQ (expected.size(), (size_t) frame);

    for (int i = 0; i < frame; ++i)
        ASSERT_EQ (work[(size_t) i], expected[(size_t) i]) << "frame sample " << i;
}

/** zeros zeros, then the values first, first + 1, ... up to the frame length. */
std::vector<float> zerosThenCount (int zeros, float first)
{
    std::vector<float> v ((size_t) frame, 0.0f);

    for (int i = zeros; i < frame; ++i)
        v[(size_t) i] = first + (float) (i - zeros);

    return v;
}

} // namespace

TEST (FFTTest, WindowIsHannScaledToSumToTheFrameSize)
{
    cvx::dsp::FFT fft (12);
    ASSERT_EQ (fft.getSize(), frame);
    EXPECT_EQ (fft.getEngine().getSize(), frame);

    const auto& window = fft.getWindow();
    ASSERT_EQ (window.size(), frame);

    std::vector<double> hann ((size_t) frame);
    double hannSum = 0.0, windowSum = 0.0;

    for (int i = 0; i < frame; ++i)
    {
        hann[(size_t) i] = 0.5 - 0.5 * std::cos (2.0 * juce::MathConstants<double>::pi * i / (frame - 1));
        hannSum += hann[(size_t) i];
        windowSum += window[i];
    }

    EXPECT_NEAR (windowSum, (double) frame, 1e-2);

    const auto scale = frame / hannSum;  // about 2

    for (int i = 0; i < frame; ++i)
        ASSERT_NEAR (window[i], hann[(size_t) i] * scale, 2e-6) << "index " << i;

    EXPECT_NEAR (window[0], 0.0f, 1e-6);
    EXPECT_NEAR (window[frame - 1], 0.0f, 1e-6);
}

TEST (FFTTest, EngineTransformsAFrameOfOrderTwelve)
{
    struct Case
    {
        int bin;
    };

    cvx::dsp::FFT fft;
    fft.prepare();

    for (const auto c : { Case { 1 }, Case { 100 }, Case { 1000 }, Case { 2047 } })
    {
        SCOPED_TRACE (testing::Message() << "bin " << c.bin);

        std::vector<float> data (2 * (size_t) frame, 0.0f);

        for (int i = 0; i < frame; ++i)
            data[(size_t) i] = (float) std::cos (2.0 * juce::MathConstants<double>::pi * c.bin * i / frame);

        fft.getEngine().performFrequencyOnlyForwardTransform (data.data());

        // A cosine of whole periods puts half the frame length into its bin, nothing elsewhere.
        EXPECT_NEAR (data[(size_t) c.bin], frame / 2.0f, 0.5f);
        EXPECT_NEAR (data[(size_t) c.bin + 1], 0.0f, 0.5f);
        EXPECT_NEAR (data[(size_t) c.bin - 1], 0.0f, 0.5f);
    }
}

TEST (SpectrumDisplayTest, ConstructionAndPreparationState)
{
    SpectrumDisplay display;
    EXPECT_EQ (display.getCapacity(), frame);
    EXPECT_EQ (display.getNumReady(), 0);
    EXPECT_FALSE (display.isFrameReady());
    EXPECT_TRUE (display.getFrame().empty());

    display.prepare (96000.0f, 512);
    EXPECT_EQ (display.getSampleRate(), 96000.0f);
    EXPECT_EQ (display.getCapacity(), 2 * frame);
    EXPECT_EQ (display.getNumReady(), frame);
    EXPECT_EQ (display.getFrame().size(), (size_t) (2 * frame));
    EXPECT_FALSE (display.isFrameReady());
}

TEST (SpectrumDisplayTest, FirstBlockAfterPrepareSnapshotsThePrefilledZeros)
{
    struct Case
    {
        int length;
    };

    for (const auto c : { Case { 1 }, Case { 64 }, Case { 512 }, Case { 4095 } })
    {
        SCOPED_TRACE (testing::Message() << "block of " << c.length);

        SpectrumDisplay display;
        display.prepare (48000.0f, c.length);
        push (display, c.length, 1.0f);

        EXPECT_TRUE (display.isFrameReady());
        expectFrame (display, std::vector<float> ((size_t) frame, 0.0f));

        // 4096 + length were ready and the read position moved on by length.
        EXPECT_EQ (display.getNumReady(), frame);

        // What is left is the newest frame: the zeros not yet passed, then the block.
        display.releaseFrame();
        push (display, 1, 1.0f + (float) c.length);
        expectFrame (display, zerosThenCount (frame - c.length, 1.0f));
    }
}

TEST (SpectrumDisplayTest, BlockLongerThanTheFreeSpaceWritesOnlyWhatFits)
{
    SpectrumDisplay display;
    display.prepare (48000.0f, 0);

    // 8191 usable places, 4096 taken by the zeros: values 1 ... 4095 fit, the rest is dropped.
    push (display, 5000, 1.0f);
    EXPECT_TRUE (display.isFrameReady());
    expectFrame (display, std::vector<float> ((size_t) frame, 0.0f));

    // 8191 were ready; the read position moved on by the block length.
    EXPECT_EQ (display.getNumReady(), 8191 - 5000);

    // Next frame, across the end of the ring: the survivors 905 ... 4095, then the new block.
    display.releaseFrame();
    push (display, 1000, 10001.0f);
    EXPECT_TRUE (display.isFrameReady());

    std::vector<float> expected;

    for (int v = 905; v <= 4095; ++v)
        expected.push_back ((float) v);

    for (int v = 0; (int) expected.size() < frame; ++v)
        expected.push_back (10001.0f + (float) v);

    expectFrame (display, expected);
    EXPECT_EQ (display.getNumReady(), 8191 - 5000);
}

TEST (SpectrumDisplayTest, ReadyFlagStaysSetAndKeepsTheFirstFrame)
{
    struct Case
    {
        int length, numBlocks;
    };

    for (const auto c : { Case { 256, 40 }, Case { 1000, 20 }, Case { 9000, 3 } })
    {
        SCOPED_TRACE (testing::Message() << c.numBlocks << " blocks of " << c.length);

        SpectrumDisplay display;
        display.prepare (44100.0f, c.length);

        for (int b = 0; b < c.numBlocks; ++b)
        {
            push (display, c.length, 1.0f + (float) (b * c.length));
            EXPECT_TRUE (display.isFrameReady());
            EXPECT_LE (display.getNumReady(), display.getCapacity() - 1);
        }

        expectFrame (display, std::vector<float> ((size_t) frame, 0.0f));

        // A new preparation restarts the ring but leaves the flag and the frame alone.
        display.prepare (88200.0f, c.length);
        EXPECT_TRUE (display.isFrameReady());
        EXPECT_EQ (display.getNumReady(), frame);
        expectFrame (display, std::vector<float> ((size_t) frame, 0.0f));
    }
}

TEST (SpectrumDisplayTest, ReadsOnlyTheFirstChannel)
{
    SpectrumDisplay display;
    display.prepare (48000.0f, 0);
    push (display, 16, 1.0f);
    display.releaseFrame();

    juce::AudioBuffer<float> stereo (2, frame);

    for (int n = 0; n < frame; ++n)
    {
        stereo.setSample (0, n, (float) (n + 17));
        stereo.setSample (1, n, -1.0f);
    }

    juce::dsp::AudioBlock<float> block (stereo);
    display.pushBlock (block);

    // The frame before this block: 4080 zeros not yet passed, then 1 ... 16.
    expectFrame (display, zerosThenCount (frame - 16, 1.0f));

    // 4095 of its samples fitted (17 ... 4111). One more makes exactly a frame, which is not
    // yet more than a frame; the next completes it.
    display.releaseFrame();
    push (display, 1, 4112.0f);
    EXPECT_FALSE (display.isFrameReady());
    EXPECT_EQ (display.getNumReady(), frame);

    push (display, 1, 4113.0f);
    EXPECT_TRUE (display.isFrameReady());
    expectFrame (display, zerosThenCount (0, 17.0f));
}
