#include "TestSupport.h"

namespace
{

using Register = cvx::dsp::SIMD_Interface::Register;
using RegisterBlock = juce::dsp::AudioBlock<Register>;

constexpr int maxInterfaceBlock = 64;

/** A distinct value for every (channel, sample) of the caller's input. */
float inputValue (size_t channel, size_t sample) { return 1.0f + (float) channel * 1000.0f + (float) sample; }

/** A distinct value for every (channel, sample) of the scratch block. */
float scratchValue (size_t channel, size_t sample) { return -1.0f - (float) channel * 1000.0f - (float) sample; }

constexpr float untouched = 12345.0f;

class SIMDInterfaceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        simd.prepare (maxInterfaceBlock);
        fillScratch();

        registers = RegisterBlock (registerMemory, 1, (size_t) maxInterfaceBlock);
        fillRegisters (untouched);

        input.setSize (4, maxInterfaceBlock);

        for (int c = 0; c < 4; ++c)
            for (int n = 0; n < maxInterfaceBlock; ++n)
                input.setSample (c, n, inputValue ((size_t) c, (size_t) n));
    }

    void fillScratch()
    {
        auto& scratch = simd.getScratchBlock();

        for (size_t c = 0; c < 4; ++c)
            for (size_t n = 0; n < scratch.getNumSamples(); ++n)
                scratch.setSample ((int) c, (int) n, scratchValue (c, n));
    }

    void fillRegisters (float value)
    {
        for (size_t n = 0; n < registers.getNumSamples(); ++n)
            registers.getChannelPointer (0)[n] = Register::expand (value);
    }

    float lane (size_t frame, size_t laneIndex) const { return registers.getChannelPointer (0)[frame].get (laneIndex); }

    cvx::dsp::SIMD_Interface simd;
    juce::HeapBlock<char> registerMemory;
    RegisterBlock registers;
    juce::AudioBuffer<float> input;
};

TEST_F (SIMDInterfaceTest, PrepareAlignsAndClearsItsBlocks)
{
    simd.prepare (maxInterfaceBlock); // again, after SetUp dirtied the scratch

    auto& scratch = simd.getScratchBlock();
    auto& own = simd.getRegisterBlock();
    ASSERT_EQ (scratch.getNumChannels(), 4u);
    ASSERT_EQ (scratch.getNumSamples(), (size_t) maxInterfaceBlock);
    ASSERT_EQ (own.getNumChannels(), 1u);
    ASSERT_EQ (own.getNumSamples(), (size_t) maxInterfaceBlock);
    EXPECT_EQ (simd.getMaximumBlockSize(), maxInterfaceBlock);

    EXPECT_EQ (reinterpret_cast<juce::pointer_sized_uint> (own.getChannelPointer (0)) % 16, 0u);

    for (size_t c = 0; c < 4; ++c)
    {
        EXPECT_EQ (reinterpret_cast<juce::pointer_sized_uint> (scratch.getChannelPointer (c)) % 16, 0u);

        for (size_t n = 0; n < (size_t) maxInterfaceBlock; ++n)
            ASSERT_EQ (scratch.getSample ((int) c, (int) n), 0.0f) << "channel " << c << " sample " << n;
    }
}

// Lane c of register n is channel c sample n; lanes without a channel come from the scratch
// block, and on the way back they go to it.
TEST_F (SIMDInterfaceTest, MapsChannelsToLanesAndBack)
{
    struct Case
    {
        size_t numChannels, inStart, outStart, numSamples;
    };

    const Case cases[] = {
        { 4, 0, 0, (size_t) maxInterfaceBlock },
        { 2, 0, 0, (size_t) maxInterfaceBlock },
        { 1, 0, 0, 17 },
        { 3, 5, 0, 20 },
        { 2, 3, 7, 30 },
        { 4, 10, 1, 1 },
    };

    for (const auto& tc : cases)
    {
        SCOPED_TRACE ("channels " + std::to_string (tc.numChannels) + ", in start " + std::to_string (tc.inStart)
                      + ", out start " + std::to_string (tc.outStart) + ", samples " + std::to_string (tc.numSamples));
        fillScratch();
        fillRegisters (untouched);

        juce::dsp::AudioBlock<float> in (input.getArrayOfWritePointers(), tc.numChannels, tc.inStart, tc.numSamples);
        auto out = registers.getSubBlock (tc.outStart, tc.numSamples);
        simd.toSIMD (in, out);

        for (size_t n = 0; n < (size_t) maxInterfaceBlock; ++n)
        {
            for (size_t c = 0; c < 4; ++c)
            {
                const auto inside = n >= tc.outStart && n < tc.outStart + tc.numSamples;
                const auto frame = n - tc.outStart;
                const auto expected = ! inside ? untouched
                                               : c < tc.numChannels ? inputValue (c, tc.inStart + frame)
                                                                    : scratchValue (c, frame);
                ASSERT_EQ (lane (n, c), expected) << "register " << n << " lane " << c;
            }
        }

        // Back into a buffer with the same channel count: the real lanes land in their
        // channels, the others overwrite the scratch.
        juce::AudioBuffer<float> back ((int) tc.numChannels, maxInterfaceBlock + 4);
        back.clear();
        juce::dsp::AudioBlock<float> backBlock (back);
        auto backFrames = backBlock.getSubBlock (2, tc.numSamples);
        simd.fromSIMD (out, backFrames);

        for (size_t c = 0; c < tc.numChannels; ++c)
            for (size_t n = 0; n < (size_t) maxInterfaceBlock + 4; ++n)
            {
                const auto expected = n >= 2 && n < 2 + tc.numSamples ? inputValue (c, tc.inStart + n - 2) : 0.0f;
                ASSERT_EQ (back.getSample ((int) c, (int) n), expected) << "channel " << c << " sample " << n;
            }

        auto& scratch = simd.getScratchBlock();

        for (size_t c = tc.numChannels; c < 4; ++c)
            for (size_t n = 0; n < tc.numSamples; ++n)
                ASSERT_EQ (scratch.getSample ((int) c, (int) n), scratchValue (c, n));
    }
}

TEST_F (SIMDInterfaceTest, SpreadsLanesWithoutAChannelIntoTheScratch)
{
    auto out = registers.getSubBlock (0, 10);

    for (size_t n = 0; n < 10; ++n)
        for (size_t c = 0; c < 4; ++c)
            out.getChannelPointer (0)[n].set (c, 100.0f * (float) c + (float) n);

    juce::AudioBuffer<float> two (2, 10);
    juce::dsp::AudioBlock<float> twoBlock (two);
    simd.fromSIMD (out, twoBlock);

    auto& scratch = simd.getScratchBlock();

    for (size_t n = 0; n < 10; ++n)
    {
        EXPECT_EQ (two.getSample (0, (int) n), (float) n);
        EXPECT_EQ (two.getSample (1, (int) n), 100.0f + (float) n);
        EXPECT_EQ (scratch.getSample (2, (int) n), 200.0f + (float) n);
        EXPECT_EQ (scratch.getSample (3, (int) n), 300.0f + (float) n);
        EXPECT_EQ (scratch.getSample (0, (int) n), scratchValue (0, n));
        EXPECT_EQ (scratch.getSample (1, (int) n), scratchValue (1, n));
    }

    // A null channel pointer among the outputs sends its lane to the scratch as well.
    float channel0[10] {}, channel2[10] {};
    float* pointers[] = { channel0, nullptr, channel2 };
    juce::dsp::AudioBlock<float> gapped (pointers, 3, 10);
    simd.fromSIMD (out, gapped);

    for (size_t n = 0; n < 10; ++n)
    {
        EXPECT_EQ (channel0[n], (float) n);
        EXPECT_EQ (scratch.getSample (1, (int) n), 100.0f + (float) n);
        EXPECT_EQ (channel2[n], 200.0f + (float) n);
        EXPECT_EQ (scratch.getSample (3, (int) n), 300.0f + (float) n);
    }
}

// The static spread writes the lanes whose channel is given, for exactly the frames asked,
// four frames at a time and one by one for the rest.
TEST_F (SIMDInterfaceTest, SpreadWritesTheGivenChannelsAndSkipsNullOnes)
{
    struct Case
    {
        size_t numFrames;
        bool present[4];
    };

    const Case cases[] = {
        { 11, { true, false, true, false } },
        { 4, { true, true, true, true } },
        { 7, { false, true, false, true } },
        { 1, { true, true, false, false } },
        { (size_t) maxInterfaceBlock, { true, true, true, true } },
    };

    for (size_t n = 0; n < (size_t) maxInterfaceBlock; ++n)
        for (size_t c = 0; c < 4; ++c)
            registers.getChannelPointer (0)[n].set (c, inputValue (c, n));

    for (const auto& tc : cases)
    {
        SCOPED_TRACE ("frames " + std::to_string (tc.numFrames));
        juce::AudioBuffer<float> out (4, maxInterfaceBlock + 1);
        float* channels[4];

        for (int c = 0; c < 4; ++c)
        {
            juce::FloatVectorOperations::fill (out.getWritePointer (c), untouched, maxInterfaceBlock + 1);
            channels[c] = tc.present[c] ? out.getWritePointer (c) : nullptr;
        }

        cvx::dsp::SIMD_Interface::spread (registers.getChannelPointer (0), channels, tc.numFrames);

        for (size_t c = 0; c < 4; ++c)
            for (size_t n = 0; n <= (size_t) maxInterfaceBlock; ++n)
            {
                const auto expected = tc.present[c] && n < tc.numFrames ? inputValue (c, n) : untouched;
                ASSERT_EQ (out.getSample ((int) c, (int) n), expected) << "channel " << c << " frame " << n;
            }
    }
}

// Registers laid over the memory of channel 0: a forward copy would overwrite channel 0's
// later samples before reading them.
TEST_F (SIMDInterfaceTest, InterleavesInPlaceOverChannelZero)
{
    for (const size_t numChannels : { 1u, 2u, 4u })
    {
        SCOPED_TRACE ("channels " + std::to_string (numChannels));
        fillScratch();

        constexpr size_t numSamples = 40;
        juce::HeapBlock<char> sharedMemory;
        RegisterBlock shared (sharedMemory, 1, numSamples);
        auto* channel0 = reinterpret_cast<float*> (shared.getChannelPointer (0));

        for (size_t n = 0; n < numSamples; ++n)
            channel0[n] = inputValue (0, n);

        float* pointers[] = { channel0, input.getWritePointer (1), input.getWritePointer (2), input.getWritePointer (3) };
        juce::dsp::AudioBlock<float> in (pointers, numChannels, numSamples);
        simd.toSIMD (in, shared);

        for (size_t n = 0; n < numSamples; ++n)
            for (size_t c = 0; c < 4; ++c)
                ASSERT_EQ (shared.getChannelPointer (0)[n].get (c), c < numChannels ? inputValue (c, n) : scratchValue (c, n))
                    << "register " << n << " lane " << c;
    }
}

// Filling stops at the first null channel pointer: the lanes from there on come from the
// scratch, and a null channel 0 (or an empty block) writes nothing at all.
TEST_F (SIMDInterfaceTest, NullChannelStopsTheFilling)
{
    struct Case
    {
        const char* name;
        int nullChannel; // -1: none
        size_t numChannels, numSamples;
        size_t firstScratchLane; // 0: nothing is written
    };

    const Case cases[] = {
        { "null channel 1 of 4", 1, 4, 12, 1 },
        { "null channel 2 of 3", 2, 3, 12, 2 },
        { "null channel 3 of 4", 3, 4, 12, 3 },
        { "null channel 0", 0, 2, 12, 0 },
        { "no samples", -1, 2, 0, 0 },
    };

    for (const auto& tc : cases)
    {
        SCOPED_TRACE (tc.name);
        fillScratch();
        fillRegisters (untouched);

        float* pointers[4];

        for (int c = 0; c < 4; ++c)
            pointers[c] = c == tc.nullChannel ? nullptr : input.getWritePointer (c);

        juce::dsp::AudioBlock<float> in (pointers, tc.numChannels, tc.numSamples);
        simd.toSIMD (in, registers);

        for (size_t n = 0; n < (size_t) maxInterfaceBlock; ++n)
            for (size_t c = 0; c < 4; ++c)
            {
                const auto written = tc.firstScratchLane > 0 && n < tc.numSamples;
                const auto expected = ! written ? untouched
                                                : c < tc.firstScratchLane ? inputValue (c, n) : scratchValue (c, n);
                ASSERT_EQ (lane (n, c), expected) << "register " << n << " lane " << c;
            }
    }
}

} // namespace
