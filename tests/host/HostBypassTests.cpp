// The built bundle with the host's bypass switched on (the wrapper's bypass parameter, set as a
// VST3 host sets it): the output keeps the reported latency, and toggles while audio plays
// crossfade instead of jumping.

#include "HostTestSupport.h"

namespace
{

/** Writes the "OVER" attribute into the instance's state the way a project reload brings it:
    through the host's state, whose plug-in block is rewritten. Takes effect at the next
    preparation. */
void setOversampling (juce::AudioPluginInstance& instance, int stages)
{
    juce::MemoryBlock hostState;
    instance.getStateInformation (hostState);
    const auto hostXml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize());
    ASSERT_NE (hostXml, nullptr);
    auto* component = hostXml->getChildByName ("IComponent");
    ASSERT_NE (component, nullptr);

    const auto componentState = vyx::host::getComponentState (hostState);
    const auto* bytes = static_cast<const char*> (componentState.getData());
    ASSERT_GT (componentState.getSize(), 9u);
    const auto length = (size_t) juce::ByteOrder::littleEndianInt (bytes + 4);
    ASSERT_LT (8 + length, componentState.getSize());

    auto state = juce::parseXML (juce::String::fromUTF8 (bytes + 8, (int) length));
    ASSERT_NE (state, nullptr);
    auto* attributes = state->getChildByName ("Attributes");
    ASSERT_NE (attributes, nullptr);
    attributes->setAttribute ("OVER", stages);

    // The plug-in's new block, then the wrapper's own record as it was.
    juce::MemoryBlock rewritten;
    juce::AudioProcessor::copyXmlToBinary (*state, rewritten);
    rewritten.append (bytes + 8 + length + 1, componentState.getSize() - (8 + length + 1));

    component->deleteAllTextElements();
    component->addTextElement (rewritten.toBase64Encoding());
    juce::MemoryBlock newHostState;
    juce::AudioProcessor::copyXmlToBinary (*hostXml, newHostState);
    instance.setStateInformation (newHostState.getData(), (int) newHostState.getSize());
}

/** Runs the instance over the input block by block, with the host's bypass set per block as
    the callback says. */
juce::AudioBuffer<float> renderWithBypass (juce::AudioPluginInstance& instance,
                                           const juce::AudioBuffer<float>& input,
                                           int blockSize,
                                           const std::function<bool (int)>& bypassedInBlock)
{
    auto* bypass = instance.getBypassParameter();
    juce::AudioBuffer<float> output (input);
    juce::AudioBuffer<float> block (std::max (2, instance.getTotalNumInputChannels()), blockSize);
    juce::MidiBuffer midi;

    for (int start = 0, index = 0; start < input.getNumSamples(); start += blockSize, ++index)
    {
        const int n = std::min (blockSize, input.getNumSamples() - start);
        bypass->setValue (bypassedInBlock (index) ? 1.0f : 0.0f);

        block.setSize (block.getNumChannels(), n, false, false, true);
        block.clear();
        for (int ch = 0; ch < input.getNumChannels(); ++ch)
            block.copyFrom (ch, 0, input, ch, start, n);

        instance.processBlock (block, midi);

        for (int ch = 0; ch < output.getNumChannels(); ++ch)
            output.copyFrom (ch, start, block, ch, 0, n);
    }
    return output;
}

/** The input delayed by the latency, as the host's delay compensation expects it. */
float delayed (const juce::AudioBuffer<float>& input, int ch, int n, int latency)
{
    return n < latency ? 0.0f : input.getSample (ch, n - latency);
}

class HostBypass : public vyx::test::SharedInstanceTest<HostBypass>
{
protected:
    void TearDown() override
    {
        if (instance != nullptr)
        {
            instance->getBypassParameter()->setValue (0.0f);
            setOversampling (*instance, 0);
        }
        SharedInstanceTest::TearDown();
    }
};

TEST_F (HostBypass, BypassedOutputIsTheInputDelayedByTheReportedLatency)
{
    struct Case { double sampleRate; int blockSize; int stages; };
    const Case cases[] {
        { 44100.0, 512, 0 },
        { 44100.0, 512, 1 },
        { 44100.0, 333, 2 },
        { 44100.0, 512, 3 },
        { 48000.0, 480, 0 },
        { 48000.0, 256, 3 },
        { 96000.0, 1024, 0 },
        { 96000.0, 512, 2 },
    };

    int latencyWithoutOversampling = -1;
    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.sampleRate) + " Hz, blocks of " + juce::String (c.blockSize)
                      + ", OVER " + juce::String (c.stages));
        setOversampling (*instance, c.stages);
        vyx::test::prepare (*instance, c.sampleRate, c.blockSize);

        const int latency = vyx::host::getProcessorLatency (*instance);
        ASSERT_EQ (instance->getLatencySamples(), latency);
        const int lookahead = (int) (c.sampleRate * 0.008);
        if (c.stages == 0)
            EXPECT_EQ (latency, lookahead);
        else
            EXPECT_GT (latency, lookahead) << "the oversampling took effect";

        const auto input = vyx::test::makeTestSignal (c.sampleRate, 0.2);
        const auto output = renderWithBypass (*instance, input, c.blockSize, [] (int) { return true; });

        for (int ch = 0; ch < 2; ++ch)
            for (int n = 0; n < input.getNumSamples(); ++n)
                ASSERT_EQ (output.getSample (ch, n), delayed (input, ch, n, latency))
                    << "channel " << ch << ", sample " << n << " of " << input.getNumSamples();

        if (c.stages == 0)
            latencyWithoutOversampling = latency;
        instance->releaseResources();
    }
    EXPECT_GT (latencyWithoutOversampling, 0);
}

TEST_F (HostBypass, TogglesWhileASinePlaysDoNotStep)
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 256;

    // The processed path 20 dB down, so that it differs from the bypassed one by far more than
    // the sine moves from one sample to the next: a switch without a fade would show.
    auto* outputGain = vyx::test::findParameter (*instance, "OUT");
    ASSERT_NE (outputGain, nullptr);
    outputGain->setValue ((float) ((-20.0 + 80.0) / 92.0));

    juce::AudioBuffer<float> sine (2, (int) sampleRate / 2);
    float ownStep = 0.0f;
    for (int n = 0; n < sine.getNumSamples(); ++n)
    {
        const auto value = (float) (0.5 * std::sin (juce::MathConstants<double>::twoPi * 997.0 * n / sampleRate));
        for (int ch = 0; ch < 2; ++ch)
            sine.setSample (ch, n, value);
        if (n > 0)
            ownStep = std::max (ownStep, std::abs (value - sine.getSample (0, n - 1)));
    }

    // On, off once the fade is over, on again, and off again within that fade.
    const std::vector<int> toggles { 29, 45, 59, 62 };
    const auto bypassedIn = [&toggles] (int block)
    {
        bool bypassed = false;
        for (const int t : toggles)
            if (block >= t)
                bypassed = ! bypassed;
        return bypassed;
    };

    // A first run takes the new gain in, so that both runs below start from the same state.
    vyx::test::prepare (*instance, sampleRate, blockSize);
    renderWithBypass (*instance, sine, blockSize, [] (int) { return false; });

    vyx::test::prepare (*instance, sampleRate, blockSize);
    const int latency = instance->getLatencySamples();
    ASSERT_GT (latency, 0);
    const auto processed = renderWithBypass (*instance, sine, blockSize, [] (int) { return false; });

    vyx::test::prepare (*instance, sampleRate, blockSize);
    const auto toggled = renderWithBypass (*instance, sine, blockSize, bypassedIn);
    outputGain->setValue (outputGain->getDefaultValue());

    // A switch without a fade would jump by the gap between the two paths, well beyond what
    // the check below allows.
    for (const int t : toggles)
    {
        const int n = t * blockSize;
        ASSERT_GT (std::abs (processed.getSample (0, n) - delayed (sine, 0, n, latency)), 3.0f * ownStep) << "block " << t;
    }

    // The output moves no faster than the sine itself, plus the little the fade adds.
    const float fadeLength = (float) (cvx::AudioProcessor::bypassFadeSeconds * sampleRate);
    const float allowed = ownStep + 1.0f / fadeLength + 1.0e-5f;
    for (int ch = 0; ch < 2; ++ch)
        for (int n = 1; n < toggled.getNumSamples(); ++n)
            ASSERT_LE (std::abs (toggled.getSample (ch, n) - toggled.getSample (ch, n - 1)), allowed)
                << "channel " << ch << ", sample " << n;

    // Between the fades the output is one path alone: the bypassed input in time, or the
    // processed output exactly as without any toggle (the engine ran all along).
    const auto check = [&] (int fromBlock, int toBlock, bool bypassed)
    {
        for (int n = fromBlock * blockSize; n < toBlock * blockSize; ++n)
        {
            const float expected = bypassed ? delayed (sine, 0, n, latency) : processed.getSample (0, n);
            ASSERT_EQ (toggled.getSample (0, n), expected) << "sample " << n << (bypassed ? ", bypassed" : ", processed");
        }
    };
    const int fadeBlocks = (int) std::ceil (fadeLength / blockSize);
    check (0, 29, false);
    check (29 + fadeBlocks, 45, true);
    check (45 + fadeBlocks, 59, false);
    check (62 + fadeBlocks, toggled.getNumSamples() / blockSize, false);
}

} // namespace
