#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace vyx::host
{

/** The bundle built by this tree. */
juce::File getBuiltBundle();

/** Loads the VST3 bundle the way a DAW does (GetPluginFactory, component and edit controller)
    and creates one instance. Message thread. Returns null and sets error on failure. */
std::unique_ptr<juce::AudioPluginInstance> loadPlugin (const juce::File& bundle,
                                                       double sampleRate,
                                                       int blockSize,
                                                       juce::String& error);

/** The latency in samples that the plug-in's own VST3 audio processor reports right now, or -1
    when the instance is not a VST3 plug-in. Message thread. */
int getProcessorLatency (const juce::AudioPluginInstance& instance);

/** Runs the message loop until the latency the host shows (getLatencySamples) agrees with what
    the plug-in's processor reports, or until timeoutMs have passed. A plug-in announces a new
    latency through an asynchronous restart request, so right after prepareToPlay the host can
    still show the old value. Returns whether the two agree. Message thread. */
bool syncLatency (juce::AudioPluginInstance& instance, int timeoutMs = 2000);

/** The plug-in component's own state inside a block saved by the host's getStateInformation
    (JUCE's host keeps it base64-encoded in the "IComponent" element of its "VST3PluginState"
    XML). Empty when the block is not in that form. */
juce::MemoryBlock getComponentState (const juce::MemoryBlock& hostState);

/** Peak level of a buffer over all channels. */
float getPeak (const juce::AudioBuffer<float>& buffer);

/** Runs the instance over the input (in place, block by block), as a host would: the buffer
    given to the plug-in has as many channels as the instance's total channel count; channels
    beyond the input's (a sidechain) are silent. The instance must be prepared; one thread at
    a time. */
void render (juce::AudioPluginInstance& instance, juce::AudioBuffer<float>& audio, int blockSize);

/** Prints the framework's log (assertions included) to stderr, or nothing at all. One message is
    a known, harmless notice: on Linux, with no editor open, the plug-in side of the framework
    calls the host from its own message thread (to announce a latency change), and the
    framework's VST3 host asserts that it was called on the host's message thread (it then
    handles the call correctly). That one is printed under another name, so that a test runner
    that fails on assertions only fails on the others. */
class HostLogger : public juce::Logger
{
public:
    enum class Output
    {
        printed,  // every message, the known notice under its own name
        silent    // nothing: for people who cannot act on the framework's messages
    };

    explicit HostLogger (Output output = Output::printed);

    /** Any thread. */
    void setOutput (Output newOutput);

    void logMessage (const juce::String& message) override;

    /** True for the notice described above: an assertion of the framework's VST3 host raised
        off the host's message thread during a call from a plug-in. Call it on the thread that
        logs the message, from the logger. */
    static bool isKnownHostThreadAssertion (const juce::String& message);

private:
    std::atomic<Output> output;
};

} // namespace vyx::host
