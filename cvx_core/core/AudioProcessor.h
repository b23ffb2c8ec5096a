#pragma once

namespace cvx
{

/** Holds the state so that it is built before the Processor interface that refers to it. */
class AudioProcessorStateHolder
{
public:
    AudioProcessorStateHolder (juce::AudioProcessor& processor,
                               juce::AudioProcessorValueTreeState::ParameterLayout layout)
        : state (processor, std::move (layout))
    {
    }

    State state;
};

/** Base of every plug-in processor: the framework's processor joined to the state model and
    to the DSP interface the product's engine implements. It frames every host block for the
    engine (tempo, denormals, the fade-out / re-prepare / fade-in cycle, sixteenth-note
    splitting) and saves and restores the state for the host. */
class AudioProcessor : public juce::AudioProcessor,
                       public AudioProcessorStateHolder,
                       public Processor
{
public:
    explicit AudioProcessor (juce::AudioProcessorValueTreeState::ParameterLayout layout);
    ~AudioProcessor() override;

    using AudioProcessorStateHolder::state;

    //==============================================================================
    const juce::String getName() const override { return CVX_PRODUCT_NAME; }

    /** Stores the setup under the prepare lock and prepares the engine. Any thread. */
    void prepareToPlay (double sampleRate, int maximumBlockSize) override;
    void releaseResources() override {}

    /** The host's per-block call (audio thread): reads tempo and position, runs the frame. */
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    using juce::AudioProcessor::processBlock;

    /** The host's per-block call while its bypass is on (audio thread). The engine keeps
        running, and the output crossfades to the input delayed by the reported latency, so
        the host's delay compensation keeps the bypassed audio in time and toggles are smooth. */
    void processBlockBypassed (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    using juce::AudioProcessor::processBlockBypassed;

    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    bool isMidiEffect() const override { return false; }
    bool hasEditor() const override { return true; }

    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return "Default"; }
    void changeProgramName (int, const juce::String&) override {}

    /** The "VC2!" binary XML block of the preset tree plus the Attributes. Message thread. */
    void getStateInformation (juce::MemoryBlock& destination) override;

    /** Restores a block written by getStateInformation; anything else is ignored. */
    void setStateInformation (const void* data, int sizeInBytes) override;

    /** The first four bytes of a state block, the framework's binary XML form: "VC2!" read as
        a little-endian number. A 32-bit little-endian length of the text follows, then the
        UTF-8 text and a zero byte. */
    static constexpr juce::uint32 stateBlockMagic = 0x21324356;

    /** The XML document of a block in that form, read as untrusted data, as
        setStateInformation reads it: null for short blocks, a wrong magic, a length of 0 or
        less and text that the untrusted-XML parser refuses; a length beyond the data is cut
        to the data present. The root element is not checked. Any thread. */
    static std::unique_ptr<juce::XmlElement> parseStateBlock (const void* data, int sizeInBytes);

    /** Main output mono or stereo, main input equal to it; the sidechain is not examined. */
    bool isBusesLayoutSupported (const BusesLayout& layout) const override;

    /** The frame proper: process lock, FTZ/DAZ, fade state, tempo split, engine calls, and
        the crossfade towards (bypassed true) or away from the latency-aligned input. */
    void processInternal (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi, bool bypassed = false);

    /** Length of the crossfade between the processed and the bypassed output. */
    static constexpr double bypassFadeSeconds = 0.02;

    //==============================================================================
    /** Where the fade-out / re-prepare / fade-in cycle stands. */
    enum class FadeState
    {
        normal,     // the engine's output as it is
        fadingOut,  // the output fades to silence over 50 ms
        silent,     // silence until the message thread has re-prepared the engine
        fadingIn    // the re-prepared engine's output fades in over 50 ms
    };

    /** Asks for the engine to be rebuilt without a click (after the oversampling choice
        changed): the output fades out, the message thread re-prepares the engine, and the
        output fades in. A request during a fade-in turns it into a fade-out from the gain it
        has reached; one while fading out or silent is served by the rebuild already coming.
        Any thread. */
    void requestReprepare() noexcept;

    FadeState getFadeState() const noexcept { return fadeState.load(); }

    const ProcessSpec& getProcessSpec() const noexcept { return processSpec; }
    float getFadeGain() const noexcept { return fadeGain; }
    float getFadeStep() const noexcept { return fadeStep.load(); }
    int getBlockLengthMs() const noexcept { return blockLength.load(); }
    juce::int64 getIdleThresholdMs() const noexcept { return idleThreshold.load(); }
    juce::int64 getLastBlockTimeMs() const noexcept { return lastBlockTime.load(); }

protected:
    /** Rebuilds the engine on the message thread after a fade-out, then starts the fade-in. */
    void reprepare();

    /** Makes a queued re-prepare task do nothing, waiting for one that is running right now.
        The most derived processor calls it first thing in its destructor: a task that ran
        later would reach an engine that is already gone. */
    void detachQueuedTasks();

    ProcessSpec processSpec;
    juce::CriticalSection reprepareLock;
    // Written by prepareToPlay (any thread) and the re-prepare task while blocks run, so shared
    // with the frame through atomics; the fade gain belongs to the frame alone.
    std::atomic<float> fadeStep { 1.0f };
    float fadeGain = 1.0f;
    std::atomic<int> fadeHold { 0 };  // samples of silence before a fade-in starts
    juce::SpinLock prepareLock;
    std::atomic<juce::int64> lastBlockTime { 0 };
    std::atomic<int> blockLength { 0 };            // milliseconds of one maximum-size block
    std::atomic<juce::int64> idleThreshold { 0 };  // milliseconds
    juce::SpinLock processLock;

private:
    void runHostBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi, bool bypassed);

    /** Output channels without an input channel start silent. */
    void clearChannelsWithoutInput (juce::AudioBuffer<float>& buffer);

    /** The engine's part of the frame: the bypass path and the engine calls. Prepare lock held. */
    void runEngine (juce::AudioBuffer<float>& buffer, bool bypassed);

    /** Calls the engine for the block, in two pieces where the host's tempo grid has a
        sixteenth note inside it. */
    void processOnTempoGrid (juce::AudioBuffer<float>& buffer);

    /** Where a block of numSamples is cut for the next sixteenth note after the host position
        (in quarter notes) at the tempo (beats per minute): the length of the first piece, or 0
        for no cut. */
    static int findSixteenthNoteCut (double position, double tempo, double sampleRate, int numSamples) noexcept;

    void processPiece (juce::AudioBuffer<float>& buffer, int start, int length);

    /** One block of the fade-out; the block that reaches silence posts the re-prepare task. */
    void fadeOut (juce::AudioBuffer<float>& buffer);

    /** One block of the fade-in, after the rebuilt engine's latency has passed. */
    void fadeIn (juce::AudioBuffer<float>& buffer);

    /** Posts reprepare to the message thread, for as long as this processor lives. */
    void postReprepare();

    /** Sizes the bypass path for the latency the engine has just reported. Prepare lock held. */
    void prepareBypass();

    /** Copies the block's main input, delayed by the latency, into the bypass buffer. */
    void readDelayedInput (const juce::AudioBuffer<float>& buffer, int numChannels, int numSamples);

    /** Keeps the delay line fed with a block that needs no bypassed output. */
    void writeDelayLine (const juce::AudioBuffer<float>& buffer, int numChannels, int numSamples);

    /** Delays the main channels in place: the output of a block too long for the bypass buffer. */
    void delayInPlace (juce::AudioBuffer<float>& buffer, int numChannels, int numSamples);

    /** Mixes the bypass buffer into the engine's output, moving the mix towards the target. */
    void mixBypass (juce::AudioBuffer<float>& buffer, int numChannels, int numSamples, float target);

    std::atomic<FadeState> fadeState { FadeState::normal };

    // The bypass path; only touched with the prepare lock held (the frame only tries it).
    juce::AudioBuffer<float> bypassDelay;  // ring of the last latency input samples per channel
    int bypassDelayPosition = 0;
    juce::AudioBuffer<float> bypassBuffer; // the delayed input of the block being processed
    float bypassMix = 0.0f;                // 0 processed, 1 bypassed
    float bypassStep = 1.0f;               // mix change per sample
    bool bypassMixKnown = false;           // after a preparation the first block takes its target

    /** Lets a queued re-prepare task find out that its processor is gone. */
    struct Lifetime
    {
        juce::CriticalSection lock;
        AudioProcessor* owner = nullptr;
    };
    std::shared_ptr<Lifetime> lifetime;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AudioProcessor)
};

} // namespace cvx
