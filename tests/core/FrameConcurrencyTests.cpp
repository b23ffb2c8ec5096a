// The frame while a host prepares the processor from another thread and the message thread
// rebuilds the engine: everything the three share is either atomic or guarded, so a
// thread-sanitizer build runs this without a report, and the output stays bounded meanwhile.

#include "CoreTestSupport.h"

#include <thread>

namespace
{

using vyx::test::RecordingProcessor;
using FadeState = cvx::AudioProcessor::FadeState;

/** The latency the recording engine reports for a rate: 8 ms, as the product's lookahead. */
int latencyFor (double sampleRate)
{
    return (int) (sampleRate * 0.008);
}

} // namespace

TEST (FrameConcurrent, PrepareWhileProcessing)
{
    RecordingProcessor processor;
    processor.outputValue = 0.5f;
    processor.onPrepare = [&processor] { processor.setLatencySamples (latencyFor (processor.lastSpec.sampleRate)); };
    processor.prepareToPlay (48000.0, 512);

    constexpr int block = 256;
    std::atomic<bool> preparing { true }, processing { true };
    std::atomic<int> badSamples { 0 }, blocks { 0 };

    // The host's setup thread: new rates and block sizes, never smaller than the blocks sent.
    std::thread host ([&]
    {
        for (int i = 0; i < 300; ++i)
            processor.prepareToPlay (i % 2 == 0 ? 44100.0 : 96000.0, i % 3 == 0 ? 512 : block);
        preparing = false;
    });

    // The audio thread: bypass toggles and fade cycles while the preparations run. Input and
    // engine output lie within [-1, 1], and every fade and crossfade mixes them with gains
    // from 0 to 1, so no output sample can leave that range.
    std::thread audio ([&]
    {
        juce::Random random (4);
        juce::AudioBuffer<float> buffer (2, block);
        juce::MidiBuffer midi;
        for (int k = 0; preparing.load() || k < 200; ++k)
        {
            for (int ch = 0; ch < 2; ++ch)
                for (int i = 0; i < block; ++i)
                    buffer.setSample (ch, i, random.nextFloat() * 2.0f - 1.0f);

            if (k % 50 == 0)
                processor.requestReprepare();

            if ((k / 3) % 2 == 0)
                processor.processBlockBypassed (buffer, midi);
            else
                processor.processBlock (buffer, midi);

            for (int ch = 0; ch < 2; ++ch)
                for (int i = 0; i < block; ++i)
                    if (! (std::abs (buffer.getSample (ch, i)) <= 1.0f))
                        ++badSamples;
            ++blocks;
        }
        processing = false;
    });

    // The message thread runs the re-prepare tasks the fade cycles post.
    const bool finished = vyx::test::runMessageLoopUntil ([&] { return ! preparing.load() && ! processing.load(); }, 60000);
    host.join();
    audio.join();
    ASSERT_TRUE (finished);
    EXPECT_EQ (badSamples.load(), 0);
    EXPECT_GE (blocks.load(), 200);

    // Afterwards the frame is whole: the last preparation's fade step and latency hold, and a
    // bypassed block comes out as the input delayed by that latency once any cycle is over.
    ASSERT_TRUE (vyx::test::runMessageLoopUntil ([&]
    {
        juce::AudioBuffer<float> silence (2, block);
        silence.clear();
        juce::MidiBuffer midi;
        processor.processBlockBypassed (silence, midi);
        return processor.getFadeState() == FadeState::normal;
    }));

    const double rate = processor.getProcessSpec().sampleRate;
    EXPECT_EQ (processor.getFadeStep(), (float) (1.0 / (0.05 * rate)));
    const int latency = latencyFor (rate);
    EXPECT_EQ (processor.getLatencySamples(), latency);

    juce::MidiBuffer midi;
    // Restart from a known line: everything before is silence, the impulse comes out late.
    processor.prepareToPlay (rate, block);
    juce::AudioBuffer<float> out (2, 4 * block);
    out.clear();
    out.setSample (0, 0, 1.0f);
    for (int start = 0; start < out.getNumSamples(); start += block)
    {
        juce::AudioBuffer<float> piece (out.getArrayOfWritePointers(), 2, start, block);
        processor.processBlockBypassed (piece, midi);
    }
    for (int i = 0; i < out.getNumSamples(); ++i)
        ASSERT_EQ (out.getSample (0, i), i == latency ? 1.0f : 0.0f) << i;
}
