// Audio through the built bundle as a VST3 host runs it: the output stays finite, carries the
// signal and never passes the limiter's ceiling.

#include "HostTestSupport.h"

namespace
{

class HostProcessing : public vyx::test::SharedInstanceTest<HostProcessing>
{
};

TEST_F (HostProcessing, OutputIsFiniteAtEveryRateAndBlockSize)
{
    // Hosts may hand over blocks shorter than the size they prepared with, and of odd lengths.
    struct Case { double sampleRate; int preparedBlock; int block; };
    const Case cases[] {
        { 44100.0, 64, 64 },
        { 44100.0, 512, 512 },
        { 44100.0, 441, 441 },
        { 44100.0, 512, 333 },
        { 48000.0, 64, 64 },
        { 48000.0, 512, 512 },
        { 48000.0, 1001, 1001 },
        { 48000.0, 1024, 77 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.sampleRate) + " Hz, prepared " + juce::String (c.preparedBlock)
                      + ", blocks of " + juce::String (c.block));
        vyx::test::prepare (*instance, c.sampleRate, c.preparedBlock);

        auto audio = vyx::test::makeTestSignal (c.sampleRate, 3.0);
        const float inputPeak = vyx::host::getPeak (audio);
        vyx::host::render (*instance, audio, c.block);
        ASSERT_TRUE (vyx::test::isFinite (audio));

        // The factory settings leave a loud signal nearly as it is; the limiter holds 0.95.
        const float outputPeak = vyx::host::getPeak (audio);
        EXPECT_GT (outputPeak, 0.5f * inputPeak);
        EXPECT_LE (outputPeak, 0.95f + 1.0e-4f);
        instance->releaseResources();
    }
}

TEST_F (HostProcessing, OutputIsFiniteWithParametersAtTheirExtremes)
{
    // Every parameter at one end of its range, then at the other, as automation may leave them.
    for (const float extreme : { 0.0f, 1.0f })
    {
        SCOPED_TRACE (extreme);
        for (auto* p : instance->getParameters())
            if (p != instance->getBypassParameter())
                p->setValue (extreme);

        vyx::test::prepare (*instance, 48000.0, 512);
        auto audio = vyx::test::makeTestSignal (48000.0, 2.0);
        vyx::host::render (*instance, audio, 512);
        EXPECT_TRUE (vyx::test::isFinite (audio));
        instance->releaseResources();
    }
}

} // namespace
