#pragma once

#include "TestSupport.h"
#include "plugin/Layout.h"

#include <array>

#if JUCE_INTEL
 #include <xmmintrin.h>
#endif

namespace vyx::test
{

/** The x86 MXCSR bits for flush-to-zero and denormals-are-zero. */
constexpr unsigned int ftzBit = 0x8000;
constexpr unsigned int dazBit = 0x0040;

/** The floating-point control word of the calling thread (0 where it cannot be read). */
inline unsigned int readFpControl()
{
   #if JUCE_INTEL
    return _mm_getcsr();
   #else
    return 0;
   #endif
}

inline void writeFpControl (unsigned int value)
{
   #if JUCE_INTEL
    _mm_setcsr (value);
   #else
    juce::ignoreUnused (value);
   #endif
}

/** Something that outlives the processor: how often the engine was prepared. */
struct EngineLog
{
    std::atomic<int> prepareCount { 0 };
    std::atomic<bool> destroyed { false };   // the recording processor's own members are gone
};

/** A processor built on the library's base with an engine that only records what the frame
    hands it. It needs no product engine, so the frame can be tested on its own. */
class RecordingProcessor : public cvx::AudioProcessor
{
public:
    struct Call
    {
        int numChannels = 0;
        int numSamples = 0;
        size_t mainChannels = 0, mainSamples = 0;
        size_t sidechainChannels = 0, sidechainSamples = 0;
        const float* mainFirst = nullptr;       // channel 0 of main, first sample
        const float* mainSecondChannel = nullptr;
        const float* sidechainFirst = nullptr;  // channel 0 of the sidechain, first sample
        const float* sidechainSecondChannel = nullptr;
        const float* outputFirst = nullptr;
        size_t outputChannels = 0, outputSamples = 0;
        bool inputIsMain = false;
        bool flag = true;
        size_t vectorSize = 99;
        unsigned int fpControl = 0;
    };

    explicit RecordingProcessor (std::shared_ptr<EngineLog> sharedLog = std::make_shared<EngineLog>())
        : cvx::AudioProcessor (Layout::createParameterLayout()), log (std::move (sharedLog))
    {
    }

    ~RecordingProcessor() override
    {
        detachQueuedTasks();
        log->destroyed = true;
    }

    juce::AudioProcessorEditor* createEditor() override { return nullptr; }

    void prepare (cvx::ProcessSpec setup) override
    {
        lastSpec = setup;
        ++log->prepareCount;
        if (onPrepare)
            onPrepare();
    }

    void process (cvx::ProcessBlock<float>& block) override
    {
        if (numCalls < (int) calls.size())
        {
            auto& c = calls[(size_t) numCalls];
            c.numChannels = block.numChannels;
            c.numSamples = block.numSamples;
            c.mainChannels = block.main.getNumChannels();
            c.mainSamples = block.main.getNumSamples();
            c.mainFirst = c.mainChannels > 0 ? block.main.getChannelPointer (0) : nullptr;
            c.mainSecondChannel = c.mainChannels > 1 ? block.main.getChannelPointer (1) : nullptr;
            c.sidechainChannels = block.sidechain.getNumChannels();
            c.sidechainSamples = block.sidechain.getNumSamples();
            c.sidechainFirst = c.sidechainChannels > 0 ? block.sidechain.getChannelPointer (0) : nullptr;
            c.sidechainSecondChannel = c.sidechainChannels > 1 ? block.sidechain.getChannelPointer (1) : nullptr;
            c.outputChannels = block.output.getNumChannels();
            c.outputSamples = block.output.getNumSamples();
            c.outputFirst = c.outputChannels > 0 ? block.output.getChannelPointer (0) : nullptr;
            c.inputIsMain = block.input != nullptr
                            && block.input->getNumChannels() == block.main.getNumChannels()
                            && block.input->getNumSamples() == block.main.getNumSamples()
                            && (c.mainChannels == 0 || block.input->getChannelPointer (0) == c.mainFirst);
            c.flag = block.flag;
            c.vectorSize = block.channels.size();
            c.fpControl = readFpControl();
        }
        ++numCalls;
        if (onProcess)
            onProcess();

        if (outputValue)
            block.output.fill (*outputValue);
    }

    /** Forgets the recorded engine calls. */
    void resetCalls() { numCalls = 0; }

    std::shared_ptr<EngineLog> log;
    std::function<void()> onPrepare;
    std::function<void()> onProcess;     // runs inside the engine call, as another thread could
    juce::Optional<float> outputValue;   // when set, the engine writes it to every output sample
    cvx::ProcessSpec lastSpec;
    std::array<Call, 8> calls {};
    int numCalls = 0;
};

/** A play head that reports what the test sets; either field may be left out, and the whole
    position may be withheld. */
class TestPlayHead : public juce::AudioPlayHead
{
public:
    juce::Optional<PositionInfo> getPosition() const override
    {
        if (! hasPosition)
            return {};

        PositionInfo info;
        if (ppq)
            info.setPpqPosition (*ppq);
        if (bpm)
            info.setBpm (*bpm);
        return info;
    }

    bool hasPosition = true;
    juce::Optional<double> ppq, bpm;
};

/** Every parameter's plain value, in host order. */
inline std::vector<float> plainValues (juce::AudioProcessor& processor)
{
    std::vector<float> values;
    for (auto* p : processor.getParameters())
        if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (p))
            values.push_back (ranged->convertFrom0to1 (ranged->getValue()));
    return values;
}

/** Sets a parameter to a plain value and notifies the host, as host automation would. */
inline void setPlain (cvx::State& state, const juce::String& id, float plain)
{
    auto* p = state.parameters.getParameter (id);
    if (p == nullptr)
    {
        ADD_FAILURE() << "no parameter " << id;
        return;
    }
    p->setValueNotifyingHost (p->convertTo0to1 (plain));
}

inline float rawValue (cvx::State& state, const juce::String& id)
{
    auto* raw = state.parameters.getRawParameterValue (id);
    if (raw == nullptr)
    {
        ADD_FAILURE() << "no parameter " << id;
        return std::numeric_limits<float>::quiet_NaN();
    }
    return raw->load();
}

/** A value tree's properties as name=value text, so that two trees compare by what they hold. */
inline juce::String propertiesText (const juce::ValueTree& tree)
{
    juce::StringArray parts;
    for (int i = 0; i < tree.getNumProperties(); ++i)
    {
        const auto name = tree.getPropertyName (i);
        parts.add (name.toString() + "=" + tree[name].toString());
    }
    parts.sort (false);
    return parts.joinIntoString (";");
}

/** Everything a restore may touch: parameter values, properties (with children) and
    attributes. */
struct StateSnapshot
{
    explicit StateSnapshot (cvx::AudioProcessor& processor)
        : parameters (plainValues (processor)),
          properties (processor.state.properties.toXmlString()),
          attributes (propertiesText (processor.state.attributes))
    {
    }

    bool operator== (const StateSnapshot& other) const
    {
        return parameters == other.parameters && properties == other.properties
               && attributes == other.attributes;
    }

    std::vector<float> parameters;
    juce::String properties;
    juce::String attributes;
};

/** The rate the processing-frame tests run at. */
constexpr double sampleRate = 48000.0;

/** A modulation source with a fixed output and output scale. */
struct FixedModulator : public cvx::Modulator
{
    FixedModulator() = default;
    FixedModulator (float out, float outScale) : output (out), scale (outScale) {}
    float getOutput() const override { return output; }
    float getOutputScale() const override { return scale; }

    float output = 1.0f;
    float scale = 1.0f;
};

} // namespace vyx::test
