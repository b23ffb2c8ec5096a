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

    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    bool isMidiEffect() const override { return false; }
    bool hasEditor() const override { return true; }

    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return {}; }
    void changeProgramName (int, const juce::String&) override {}

    /** The "VC2!" binary XML block of the preset tree plus the Attributes. Message thread. */
    void getStateInformation (juce::MemoryBlock& destination) override;

    /** Restores a block written by getStateInformation; anything else is ignored. */
    void setStateInformation (const void* data, int sizeInBytes) override;

    /** Main output mono or stereo, main input equal to it; the sidechain is not examined. */
    bool isBusesLayoutSupported (const BusesLayout& layout) const override;

    /** The frame proper: process lock, FTZ/DAZ, fade state, tempo split, engine calls. */
    void processInternal (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi);

    //==============================================================================
    /** 0 normal, 1 fading out, 2 silent until the engine is re-prepared, 3 fading in.
        Storing 1 starts a fade-out / re-prepare / fade-in cycle. */
    std::atomic<int> fadeState { 0 };

    const ProcessSpec& getProcessSpec() const noexcept { return processSpec; }
    float getFadeGain() const noexcept { return fadeGain; }
    float getFadeStep() const noexcept { return fadeStep; }
    int getBlockLengthMs() const noexcept { return blockLength; }
    juce::int64 getIdleThresholdMs() const noexcept { return idleThreshold; }
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
    float fadeStep = 1.0f;
    float fadeGain = 1.0f;
    int fadeHold = 0;                 // samples of silence before a fade-in starts
    juce::SpinLock prepareLock;
    std::atomic<juce::int64> lastBlockTime { 0 };
    int blockLength = 0;              // milliseconds of one maximum-size block
    juce::int64 idleThreshold = 0;    // milliseconds
    juce::SpinLock processLock;

private:
    void processPiece (juce::AudioBuffer<float>& buffer, int start, int length);

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
