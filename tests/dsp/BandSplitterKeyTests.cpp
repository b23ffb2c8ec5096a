// Splitting a main block and a sidechain key in one pass (the key in the register lanes the
// main channels leave free) must give, bit for bit, what two splitters give when each splits
// its own block: also across blocks where the key stops and comes back, while the crossovers
// move, and when only some channels exist.

#include "DspTestSupport.h"
#include "plugin/BandSplitter.h"

#include <cstring>

namespace
{

using Splitter = BandSplitter<8>;

constexpr double sampleRate = 48000.0;
constexpr int maxKeyTestBlock = 256;

using vyx::test::makeNoise;

/** The first numSamples of every band b < numBands, channels 0 .. numChannels - 1, equal bit for bit. */
::testing::AssertionResult sameBands (Splitter& a, Splitter& b, int numBands, int numChannels, int numSamples)
{
    for (int band = 0; band < numBands; ++band)
        for (int c = 0; c < numChannels; ++c)
            if (std::memcmp (a.getBand (band).getReadPointer (c), b.getBand (band).getReadPointer (c),
                             sizeof (float) * (size_t) numSamples) != 0)
                return ::testing::AssertionFailure() << "band " << band << ", channel " << c;

    return ::testing::AssertionSuccess();
}

struct KeyCase
{
    const char* name;
    int numChannels;             // of the main signal, the key and the band buffers
    std::vector<bool> keyOn;     // per block: whether the key is present
};

class BandSplitterKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P (BandSplitterKey, OnePassEqualsTwoSplitters)
{
    const auto& tc = GetParam();
    const juce::dsp::ProcessSpec setup { sampleRate, (juce::uint32) maxKeyTestBlock, (juce::uint32) tc.numChannels };

    // Paired: main splits main and key together, into its own bands and key's.
    Splitter main, key;
    // Separate: each splits its own block, as the engine did before pairing.
    Splitter soloMain, soloKey;

    for (auto* s : { &main, &key, &soloMain, &soloKey })
        s->prepare (setup);

    const int numBlocks = (int) tc.keyOn.size();
    const auto mainSignal = makeNoise (tc.numChannels, maxKeyTestBlock * numBlocks, 3, 1.0f);
    const auto keySignal = makeNoise (tc.numChannels, maxKeyTestBlock * numBlocks, 4, 1.0f);
    const int sizes[] { 256, 7, 64, 1, 131 };

    int start = 0;
    for (int blockIndex = 0; blockIndex < numBlocks; ++blockIndex)
    {
        SCOPED_TRACE ("block " + std::to_string (blockIndex));
        const int length = sizes[blockIndex % (int) std::size (sizes)];
        const int numBands = blockIndex % 3 == 2 ? 5 : 8;

        // The crossovers move every block, the band count now and then, and now and then one
        // lies above half the rate, where it splits nothing.
        std::vector<float> list;
        for (int b = 0; b < numBands; ++b)
            list.push_back (100.0f * std::pow (2.2f, (float) b) * (1.0f + 0.05f * (float) blockIndex));
        if (blockIndex % 4 == 1)
            list[3] = 30000.0f;

        juce::AudioBuffer<float> mainCopy (tc.numChannels, length), keyCopy (tc.numChannels, length);
        for (int c = 0; c < tc.numChannels; ++c)
        {
            mainCopy.copyFrom (c, 0, mainSignal, c, start, length);
            keyCopy.copyFrom (c, 0, keySignal, c, start, length);
        }

        for (auto* s : { &main, &key, &soloMain, &soloKey })
            s->numBands = numBands;

        main.updateCrossovers (list);
        soloMain.updateCrossovers (list);

        if (tc.keyOn[(size_t) blockIndex])
        {
            main.processWithKey (juce::dsp::AudioBlock<float> (mainCopy), juce::dsp::AudioBlock<float> (keyCopy), key);
            soloMain.process (juce::dsp::AudioBlock<float> (mainCopy));
            soloKey.updateCrossovers (list);
            soloKey.process (juce::dsp::AudioBlock<float> (keyCopy));

            ASSERT_TRUE (sameBands (key, soloKey, numBands, tc.numChannels, length));
            for (int b = 0; b < numBands; ++b)
                EXPECT_FALSE (key.getBand (b).hasBeenCleared());
        }
        else
        {
            main.process (juce::dsp::AudioBlock<float> (mainCopy));
            soloMain.process (juce::dsp::AudioBlock<float> (mainCopy));
        }

        ASSERT_TRUE (sameBands (main, soloMain, numBands, tc.numChannels, length));
        start += length;
    }
}

INSTANTIATE_TEST_SUITE_P (Patterns, BandSplitterKey,
                          ::testing::Values (KeyCase { "stereo key throughout", 2, { true, true, true, true, true } },
                                             KeyCase { "key stops and returns", 2, { true, true, false, false, true, true, false, true } },
                                             KeyCase { "key arrives late", 2, { false, false, true, true, true } },
                                             KeyCase { "mono", 1, { true, false, true, true, false, true } }),
                          [] (const ::testing::TestParamInfo<KeyCase>& param)
                          {
                              auto name = std::string (param.param.name);
                              for (auto& ch : name)
                                  if (! std::isalnum ((unsigned char) ch))
                                      ch = '_';
                              return name;
                          });

// Preparing the main splitter takes the key's states back to silence, like a fresh pair.
TEST (BandSplitterKeyPreparation, RestartsBothLaneSets)
{
    const juce::dsp::ProcessSpec setup { sampleRate, (juce::uint32) maxKeyTestBlock, 2 };
    Splitter main, key, freshMain, freshKey;
    for (auto* s : { &main, &key, &freshMain, &freshKey })
    {
        s->prepare (setup);
        s->numBands = 4;
    }

    const std::vector<float> list { 200.0f, 1000.0f, 5000.0f, 20000.0f };
    auto mainSignal = makeNoise (2, maxKeyTestBlock, 8, 1.0f);
    auto keySignal = makeNoise (2, maxKeyTestBlock, 9, 1.0f);

    main.updateCrossovers (list);
    main.processWithKey (juce::dsp::AudioBlock<float> (mainSignal), juce::dsp::AudioBlock<float> (keySignal), key);

    main.prepare (setup);
    key.prepare (setup);

    for (auto* s : { &main, &freshMain })
        s->updateCrossovers (list);

    main.processWithKey (juce::dsp::AudioBlock<float> (mainSignal), juce::dsp::AudioBlock<float> (keySignal), key);
    freshMain.processWithKey (juce::dsp::AudioBlock<float> (mainSignal), juce::dsp::AudioBlock<float> (keySignal), freshKey);

    EXPECT_TRUE (sameBands (main, freshMain, 4, 2, maxKeyTestBlock));
    EXPECT_TRUE (sameBands (key, freshKey, 4, 2, maxKeyTestBlock));
}

} // namespace
