#include "TestSupport.h"

namespace
{
using cvx::dsp::Oversampler;
using Reference = juce::dsp::Oversampling<float>;

/** Transition widths and stop-band levels (dB) of the k-th two-times stage (k from 1) of the
    engine's cascade. */
struct StageDesign
{
    float transitionUp, attenuationUp, transitionDown, attenuationDown;
};

StageDesign stageDesign (int k)
{
    if (k == 1)
        return { 0.05f, -90.0f, 0.06f, -75.0f };

    const auto step = 10.0f * (float) (k - 1);
    return { 0.1f, step - 90.0f, 0.12f, step - 75.0f };
}

/** stages = 0 builds the pass-through cascade. */
template <typename AddStage, typename AddDummy>
void buildCascade (int stages, AddStage&& addStage, AddDummy&& addDummy)
{
    if (stages == 0)
        addDummy();

    for (int k = 1; k <= stages; ++k)
        addStage (stageDesign (k));
}

std::unique_ptr<Oversampler> makeOversampler (int stages, int channels, bool integerLatency, int maxBlock)
{
    auto os = std::make_unique<Oversampler> ((size_t) channels);
    buildCascade (stages,
                  [&] (StageDesign d) { os->addOversamplingStage (d.transitionUp, d.attenuationUp, d.transitionDown, d.attenuationDown); },
                  [&] { os->addDummyOversamplingStage(); });
    os->setUsingIntegerLatency (integerLatency);
    os->initProcessing ((size_t) maxBlock);
    return os;
}

std::unique_ptr<Reference> makeReference (int stages, int channels, bool integerLatency, int maxBlock)
{
    auto os = std::make_unique<Reference> ((size_t) channels);
    buildCascade (stages,
                  [&] (StageDesign d)
                  {
                      os->addOversamplingStage (Reference::filterHalfBandFIREquiripple, d.transitionUp, d.attenuationUp,
                                                d.transitionDown, d.attenuationDown);
                  },
                  [&] { os->addDummyOversamplingStage(); });
    os->setUsingIntegerLatency (integerLatency);
    os->initProcessing ((size_t) maxBlock);
    return os;
}

enum class Signal { noise, sine };

/** Full-scale test signal: uniform noise in [-1, 1], or a unit sine at a different frequency
    per channel. */
juce::AudioBuffer<float> makeSignal (Signal signal, int channels, int length, juce::int64 seed)
{
    juce::AudioBuffer<float> buffer (channels, length);
    juce::Random random (seed);

    for (int ch = 0; ch < channels; ++ch)
        for (int i = 0; i < length; ++i)
        {
            const auto cyclesPerSample = 0.011 + 0.093 * ch;
            buffer.setSample (ch, i, signal == Signal::noise
                                         ? random.nextFloat() * 2.0f - 1.0f
                                         : (float) std::sin (juce::MathConstants<double>::twoPi * cyclesPerSample * i));
        }

    return buffer;
}

float maxDifference (const juce::dsp::AudioBlock<float>& a, const juce::dsp::AudioBlock<float>& b)
{
    float worst = 0.0f;
    for (size_t ch = 0; ch < a.getNumChannels(); ++ch)
        for (size_t i = 0; i < a.getNumSamples(); ++i)
            worst = std::max (worst, std::abs (a.getSample ((int) ch, (int) i) - b.getSample ((int) ch, (int) i)));
    return worst;
}

/** What a caller does between the two calls: a non-linear change of the up-sampled block, so
    that the way down works on the caller's data rather than on what the way up left. */
void shape (juce::dsp::AudioBlock<float>& block)
{
    for (size_t ch = 0; ch < block.getNumChannels(); ++ch)
        for (size_t i = 0; i < block.getNumSamples(); ++i)
            block.getChannelPointer (ch)[i] = std::tanh (1.5f * block.getChannelPointer (ch)[i]);
}

constexpr float tolerance = 1.0e-5f;

struct Case
{
    int stages;         // 0: one pass-through stage
    int channels;
    int maxBlock;       // prepared maximum
    int largestBlock;   // blocks are drawn from 1 ... largestBlock
    Signal signal;
    bool integerLatency;
    bool resetHalfway;
};

const Case cases[] = {
    { 0, 2, 64, 64, Signal::noise, true, false },
    { 1, 1, 64, 64, Signal::noise, true, false },
    { 1, 2, 512, 37, Signal::sine, true, false },
    { 1, 3, 16, 16, Signal::noise, false, true },
    { 2, 2, 64, 64, Signal::sine, true, true },
    { 2, 4, 128, 128, Signal::noise, true, false },
    { 2, 1, 33, 5, Signal::noise, false, false },
    { 3, 2, 64, 64, Signal::noise, true, false },
    { 3, 4, 512, 200, Signal::sine, true, true },
    { 3, 3, 17, 17, Signal::noise, true, false },
    { 3, 1, 8, 1, Signal::sine, true, false },
};

void PrintTo (const Case& c, std::ostream* os)
{
    *os << c.stages << " stages, " << c.channels << " channels, blocks up to " << c.largestBlock << " of "
        << c.maxBlock << (c.signal == Signal::noise ? ", noise" : ", sine")
        << (c.integerLatency ? ", integer latency" : "") << (c.resetHalfway ? ", reset halfway" : "");
}

class OversamplerMatchesJuce : public ::testing::TestWithParam<Case>
{
};

TEST_P (OversamplerMatchesJuce, UpSampledBlocksRoundTripAndLatency)
{
    const auto c = GetParam();
    auto ours = makeOversampler (c.stages, c.channels, c.integerLatency, c.maxBlock);
    auto reference = makeReference (c.stages, c.channels, c.integerLatency, c.maxBlock);

    EXPECT_EQ (ours->getLatencyInSamples(), reference->getLatencyInSamples());
    EXPECT_EQ (ours->getOversamplingFactor(), reference->getOversamplingFactor());
    EXPECT_EQ (ours->getOversamplingFactor(), (size_t) 1 << c.stages);

    const int length = 3000;
    const auto input = makeSignal (c.signal, c.channels, length, 7 + c.stages * 10 + c.channels);
    juce::AudioBuffer<float> outOurs (c.channels, length), outReference (c.channels, length);
    outOurs.clear();
    outReference.clear();

    juce::Random blockSizes (c.maxBlock * 31 + c.largestBlock);
    float worstUp = 0.0f;
    bool hadReset = false;

    for (int start = 0, blockIndex = 0; start < length; ++blockIndex)
    {
        // Every fourth block uses the largest size, the others a random one.
        int numSamples = blockIndex % 4 == 0 ? c.largestBlock : 1 + blockSizes.nextInt (c.largestBlock);
        numSamples = std::min (numSamples, length - start);

        if (c.resetHalfway && ! hadReset && start >= length / 2)
        {
            ours->reset();
            reference->reset();
            hadReset = true;
        }

        const juce::dsp::AudioBlock<const float> in (input.getArrayOfReadPointers(), (size_t) c.channels,
                                                     (size_t) start, (size_t) numSamples);
        auto upOurs = ours->processSamplesUp (in);
        auto upReference = reference->processSamplesUp (in);

        ASSERT_EQ (upOurs.getNumChannels(), (size_t) c.channels);
        ASSERT_EQ (upOurs.getNumSamples(), (size_t) numSamples << c.stages);
        ASSERT_EQ (upReference.getNumSamples(), upOurs.getNumSamples());
        worstUp = std::max (worstUp, maxDifference (upOurs, upReference.getSubsetChannelBlock (0, (size_t) c.channels)));

        shape (upOurs);
        shape (upReference);

        juce::dsp::AudioBlock<float> downOurs (outOurs.getArrayOfWritePointers(), (size_t) c.channels,
                                               (size_t) start, (size_t) numSamples);
        juce::dsp::AudioBlock<float> downReference (outReference.getArrayOfWritePointers(), (size_t) c.channels,
                                                    (size_t) start, (size_t) numSamples);
        ours->processSamplesDown (downOurs);
        reference->processSamplesDown (downReference);

        start += numSamples;
    }

    EXPECT_LE (worstUp, tolerance);
    EXPECT_LE (maxDifference (juce::dsp::AudioBlock<float> (outOurs), juce::dsp::AudioBlock<float> (outReference)), tolerance);
    EXPECT_EQ (hadReset, c.resetHalfway);

    // The signals are full scale, so a silent output cannot pass for a match.
    EXPECT_GT (juce::dsp::AudioBlock<float> (outReference).findMinAndMax().getEnd(), 0.5f);
}

INSTANTIATE_TEST_SUITE_P (Cascades, OversamplerMatchesJuce, ::testing::ValuesIn (cases));

/** An impulse through the way up and down comes out largest at the reported latency, which
    integer latency makes a whole number of samples. */
TEST (OversamplerTest, ImpulsePeaksAtReportedIntegerLatency)
{
    for (int stages = 0; stages <= 3; ++stages)
    {
        SCOPED_TRACE ("stages " + std::to_string (stages));
        const int channels = 2, maxBlock = 48, length = 400, onset = 21;
        auto os = makeOversampler (stages, channels, true, maxBlock);

        const auto latency = os->getLatencyInSamples();
        ASSERT_EQ (latency, std::floor (latency));

        juce::AudioBuffer<float> buffer (channels, length);
        buffer.clear();
        for (int ch = 0; ch < channels; ++ch)
            buffer.setSample (ch, onset, 1.0f);

        juce::Random blockSizes (stages + 3);
        for (int start = 0; start < length;)
        {
            const int numSamples = std::min (1 + blockSizes.nextInt (maxBlock), length - start);
            juce::dsp::AudioBlock<float> block (buffer.getArrayOfWritePointers(), (size_t) channels,
                                                (size_t) start, (size_t) numSamples);
            os->processSamplesUp (block);
            os->processSamplesDown (block);
            start += numSamples;
        }

        for (int ch = 0; ch < channels; ++ch)
        {
            const auto* data = buffer.getReadPointer (ch);
            const auto peak = (int) (std::max_element (data, data + length, [] (float a, float b) { return std::abs (a) < std::abs (b); }) - data);
            EXPECT_EQ (peak - onset, (int) latency);
            EXPECT_GT (std::abs (data[peak]), 0.5f);
        }
    }
}

} // namespace
