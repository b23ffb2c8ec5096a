// Audio processing with whatever a host may do: any parameter values, block sizes 1 to 4096,
// mono or stereo, with or without a sidechain, every oversampling stage, limiter and mixer
// mode on or off, any sample rate from 22050 to 192000 Hz. Finite input must give finite
// output.

#include "FuzzSupport.h"
#include <plugin/Layout.h>

#include <fuzzer/FuzzedDataProvider.h>

namespace
{
    /** Fills the block from the input: silence, DC, a tone, noise or raw sample values, at
        levels up to 80 dB above full scale. */
    void fillSignal (FuzzedDataProvider& input, juce::AudioBuffer<float>& buffer, int firstChannel, int numChannels, int numSamples)
    {
        const int kind = input.ConsumeIntegralInRange (0, 4);
        const float level = juce::Decibels::decibelsToGain (input.ConsumeFloatingPointInRange (-120.0f, 80.0f), -200.0f);
        const float frequency = input.ConsumeFloatingPointInRange (0.0001f, 0.5f);
        juce::Random random (input.ConsumeIntegral<juce::int64>());

        for (int ch = firstChannel; ch < firstChannel + numChannels; ++ch)
        {
            auto* x = buffer.getWritePointer (ch);
            for (int i = 0; i < numSamples; ++i)
            {
                switch (kind)
                {
                    case 0: x[i] = 0.0f; break;
                    case 1: x[i] = level; break;
                    case 2: x[i] = level * std::sin (juce::MathConstants<float>::twoPi * frequency * (float) i); break;
                    case 3: x[i] = level * (random.nextFloat() * 2.0f - 1.0f); break;
                    default:
                    {
                        const float v = input.ConsumeFloatingPointInRange (-1.0e4f, 1.0e4f);
                        x[i] = std::isfinite (v) ? v : 0.0f;
                        break;
                    }
                }
            }
        }
    }

    bool isFinite (const juce::AudioBuffer<float>& buffer, int numChannels, int numSamples)
    {
        for (int ch = 0; ch < numChannels; ++ch)
            for (int i = 0; i < numSamples; ++i)
                if (! std::isfinite (buffer.getSample (ch, i)))
                    return false;
        return true;
    }
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    vyx::fuzz::initialise();
    vyx::fuzz::getProcessor();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    FuzzedDataProvider input (data, size);
    auto& processor = vyx::fuzz::getProcessor();
    auto& state = processor.state;

    const int channels = input.ConsumeIntegralInRange (1, 2);
    const bool sidechain = input.ConsumeBool();
    const auto set = channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (set);
    layout.inputBuses.add (sidechain ? set : juce::AudioChannelSet::disabled());
    layout.outputBuses.add (set);
    if (! processor.setBusesLayout (layout))
        vyx::fuzz::fail ("a mono or stereo layout was refused");

    state.attributes.setProperty (Attributes::oversampler, input.ConsumeIntegralInRange (0, 3), nullptr);
    state.properties.setProperty (Properties::limiter, input.ConsumeBool(), nullptr);
    state.properties.setProperty (Properties::dryWet, input.ConsumeBool(), nullptr);

    const double sampleRate = input.ConsumeFloatingPointInRange (22050.0, 192000.0);
    const int maxBlock = input.ConsumeIntegralInRange (1, 4096);
    processor.prepareToPlay (sampleRate, maxBlock);

    const auto& parameters = processor.getParameters();
    const int totalChannels = processor.getTotalNumInputChannels();
    juce::AudioBuffer<float> buffer (totalChannels, maxBlock);
    juce::MidiBuffer midi;

    for (int block = 0; block < 4 && input.remaining_bytes() > 0; ++block)
    {
        // Automation: any parameter to any value before each block.
        const int changes = input.ConsumeIntegralInRange (0, 8);
        for (int c = 0; c < changes; ++c)
        {
            auto* p = parameters[input.ConsumeIntegralInRange (0, parameters.size() - 1)];
            p->setValueNotifyingHost (input.ConsumeProbability<float>());
        }

        const int n = input.ConsumeIntegralInRange (1, maxBlock);
        buffer.setSize (totalChannels, n, false, false, true);
        fillSignal (input, buffer, 0, channels, n);
        if (totalChannels > channels)
            fillSignal (input, buffer, channels, totalChannels - channels, n);

        processor.processBlock (buffer, midi);

        if (! isFinite (buffer, channels, n))
            vyx::fuzz::fail ("finite input gave a non-finite output");
    }

    processor.releaseResources();
    return 0;
}
