#pragma once

namespace cvx
{

/** What the processor base hands to the engine's prepare. */
struct ProcessSpec
{
    double sampleRate = 0.0;
    int maximumBlockSize = 0;
    int numChannels = 0;  // total output channels of the processor
};

/** One block (or piece of a block) for the engine. Built on the stack for every call. */
template <typename SampleType>
struct ProcessBlock
{
    int numChannels = 0;
    int numSamples = 0;
    juce::dsp::AudioBlock<SampleType> main;
    juce::dsp::AudioBlock<SampleType> sidechain;  // empty when the host supplies none
    bool flag = false;
    juce::dsp::AudioBlock<SampleType>* input = nullptr;
    juce::dsp::AudioBlock<SampleType> output;     // same channels and samples as main
    std::vector<SampleType*> channels;            // left empty by the frame, free for the engine
};

class State;

/** The DSP interface an engine implements. Constructing one registers it in the state under
    its id; destroying it removes it again. */
class Processor : public Serializable
{
public:
    Processor (const juce::String& identifier, State& state, const juce::String& displayName);
    ~Processor() override;

    virtual void prepare (ProcessSpec setup) = 0;
    virtual void process (ProcessBlock<float>& block) = 0;
    virtual int getLatency() { return 0; }
    virtual std::unique_ptr<juce::Component> createComponent (State&) { return {}; }

    State& state;
    juce::String name;
};

} // namespace cvx
