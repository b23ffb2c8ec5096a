// The latency a VST3 host reads from the built bundle after preparing it.

#include "HostTestSupport.h"

namespace
{

class HostLatency : public vyx::test::SharedInstanceTest<HostLatency>
{
};

TEST_F (HostLatency, HostSeesWhatThePluginReports)
{
    // Without oversampling the latency is the 8 ms lookahead alone, truncated to whole samples
    // at the host rate, whatever the block size.
    struct Case { double sampleRate; int blockSize; int lookahead; };
    const Case cases[] {
        { 44100.0, 512, 352 },
        { 44100.0, 333, 352 },
        { 48000.0, 512, 384 },
        { 48000.0, 64, 384 },
        { 96000.0, 1024, 768 },
        { 22050.0, 128, 176 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.sampleRate) + " Hz, " + juce::String (c.blockSize) + " samples");

        for (int round = 0; round < 2; ++round)
        {
            // The second preparation with the same settings must leave the latency as it was.
            vyx::test::prepare (*instance, c.sampleRate, c.blockSize);
            const int reported = vyx::host::getProcessorLatency (*instance);
            EXPECT_EQ (reported, c.lookahead);
            EXPECT_EQ (instance->getLatencySamples(), reported);
        }
    }
}

TEST_F (HostLatency, ProcessingKeepsTheLatency)
{
    vyx::test::prepare (*instance, 48000.0, 512);
    const int prepared = instance->getLatencySamples();

    auto audio = vyx::test::makeTestSignal (48000.0, 1.0);
    vyx::host::render (*instance, audio, 512);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (20);

    EXPECT_EQ (vyx::host::getProcessorLatency (*instance), prepared);
    EXPECT_EQ (instance->getLatencySamples(), prepared);
}

} // namespace
