#pragma once

#include "TestSupport.h"
#include "PluginHost.h"

namespace vyx::test
{

/** Loads the bundle built by this tree through JUCE's VST3 host; null (with a test failure
    recorded) when it cannot be loaded. Message thread. */
std::unique_ptr<juce::AudioPluginInstance> loadBuiltPlugin (double sampleRate = 44100.0, int blockSize = 512);

/** The parameter id a VST3 host sees for a plug-in parameter id: JUCE's VST3 wrapper uses the
    string's hash with the sign bit cleared as the VST3 ParamID, shown as a decimal number. */
juce::String hostParameterId (const juce::String& pluginParameterId);

/** The id the wrapper gives the bypass parameter it adds: the four characters 'byps'. */
juce::String hostBypassParameterId();

/** The hosted parameter whose id maps from the plug-in id, or null. */
juce::HostedAudioProcessorParameter* findParameter (const juce::AudioPluginInstance& instance,
                                                    const juce::String& pluginParameterId);

/** True when every sample in the buffer is a finite number. */
bool isFinite (const juce::AudioBuffer<float>& buffer);

/** A stereo test signal of the given length: two tones and noise, loud in the first half and
    quiet in the second, with a stretch of silence at the end. */
juce::AudioBuffer<float> makeTestSignal (double sampleRate, double seconds);

/** Releases and re-prepares the instance, then lets its latency announcement arrive. */
void prepare (juce::AudioPluginInstance& instance, double sampleRate, int blockSize);

/** A fixture that loads one instance for all the tests of a suite (loading is slow). Each
    suite derives with its own class as the argument, so it gets an instance of its own. */
template <typename Suite>
class SharedInstanceTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { instance = loadBuiltPlugin(); }
    static void TearDownTestSuite() { instance.reset(); }

    void SetUp() override { ASSERT_NE (instance, nullptr); }

    /** Each test starts from an inactive instance, as a host leaves it between sessions. */
    void TearDown() override
    {
        if (instance != nullptr)
            instance->releaseResources();
    }

    static inline std::unique_ptr<juce::AudioPluginInstance> instance;
};

} // namespace vyx::test
