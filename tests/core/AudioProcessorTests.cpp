#include "CoreTestSupport.h"

namespace
{

using vyx::test::RecordingProcessor;
using FadeState = cvx::AudioProcessor::FadeState;
using Set = juce::AudioChannelSet;

class ProcessorBaseTest : public ::testing::Test
{
protected:
    RecordingProcessor processor;
};

} // namespace

TEST_F (ProcessorBaseTest, DeclaresStereoMainBusesAndADisabledSidechain)
{
    ASSERT_EQ (processor.getBusCount (true), 2);
    ASSERT_EQ (processor.getBusCount (false), 1);

    struct Case { bool isInput; int index; const char* name; bool enabled; };
    const Case cases[] {
        { true, 0, "Input", true },
        { false, 0, "Output", true },
        { true, 1, "Sidechain", false },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto* bus = processor.getBus (c.isInput, c.index);
        ASSERT_NE (bus, nullptr);
        EXPECT_EQ (bus->getName(), c.name);
        EXPECT_EQ (bus->isEnabled(), c.enabled);
        EXPECT_EQ (bus->isEnabledByDefault(), c.enabled);
        EXPECT_EQ (bus->getDefaultLayout(), Set::stereo());
        EXPECT_EQ (bus->getLastEnabledLayout(), Set::stereo());
    }

    EXPECT_EQ (processor.getTotalNumInputChannels(), 2);
    EXPECT_EQ (processor.getTotalNumOutputChannels(), 2);

    // The host may switch the sidechain on.
    auto layout = processor.getBusesLayout();
    layout.inputBuses.getReference (1) = Set::stereo();
    EXPECT_TRUE (processor.setBusesLayout (layout));
    EXPECT_TRUE (processor.getBus (true, 1)->isEnabled());
    EXPECT_EQ (processor.getTotalNumInputChannels(), 4);
}

TEST_F (ProcessorBaseTest, BusesLayoutRule)
{
    struct Case
    {
        const char* name;
        std::vector<Set> inputs, outputs;
        bool supported;
    };
    const Case cases[] {
        { "stereo, sidechain disabled", { Set::stereo(), Set::disabled() }, { Set::stereo() }, true },
        { "stereo, sidechain mono", { Set::stereo(), Set::mono() }, { Set::stereo() }, true },
        { "stereo, sidechain stereo", { Set::stereo(), Set::stereo() }, { Set::stereo() }, true },
        { "stereo, sidechain 5.1", { Set::stereo(), Set::create5point1() }, { Set::stereo() }, true },
        { "stereo, no sidechain bus", { Set::stereo() }, { Set::stereo() }, true },
        { "mono main", { Set::mono(), Set::disabled() }, { Set::mono() }, true },
        { "mono main, stereo sidechain", { Set::mono(), Set::stereo() }, { Set::mono() }, true },
        { "mono in, stereo out", { Set::mono(), Set::disabled() }, { Set::stereo() }, false },
        { "stereo in, mono out", { Set::stereo(), Set::disabled() }, { Set::mono() }, false },
        { "5.1 out", { Set::create5point1(), Set::disabled() }, { Set::create5point1() }, false },
        { "stereo in, 5.1 out", { Set::stereo(), Set::disabled() }, { Set::create5point1() }, false },
        { "main input disabled", { Set::disabled(), Set::disabled() }, { Set::stereo() }, false },
        { "main output disabled", { Set::disabled(), Set::disabled() }, { Set::disabled() }, false },
        { "no output bus", { Set::stereo(), Set::disabled() }, {}, false },
        { "no buses", {}, {}, false },
    };

    for (const auto& c : cases)
    {
        juce::AudioProcessor::BusesLayout layout;
        for (const auto& s : c.inputs)
            layout.inputBuses.add (s);
        for (const auto& s : c.outputs)
            layout.outputBuses.add (s);
        EXPECT_EQ (processor.isBusesLayoutSupported (layout), c.supported) << c.name;
    }
}

TEST_F (ProcessorBaseTest, FixedAnswers)
{
    EXPECT_EQ (processor.getName(), "Vyx");
    EXPECT_EQ (processor.getTailLengthSeconds(), 0.0);
    EXPECT_FALSE (processor.acceptsMidi());
    EXPECT_FALSE (processor.producesMidi());
    EXPECT_FALSE (processor.isMidiEffect());
    EXPECT_TRUE (processor.hasEditor());

    EXPECT_EQ (processor.getNumPrograms(), 1);
    EXPECT_EQ (processor.getCurrentProgram(), 0);
    // Hosts list the single program by name; an unnamed one is an invalid program list.
    EXPECT_EQ (processor.getProgramName (0), "Default");
    processor.changeProgramName (0, "Renamed");
    processor.setCurrentProgram (3);
    EXPECT_EQ (processor.getProgramName (0), "Default");
    EXPECT_EQ (processor.getCurrentProgram(), 0);
    EXPECT_EQ (processor.getName(), "Vyx");

    // The DSP interface part, registered in the state under its id.
    const cvx::Processor& dsp = processor;
    EXPECT_EQ (dsp.id, "AudioProcessor");
    EXPECT_EQ (dsp.name, "Audio Processor");
    EXPECT_EQ (processor.getLatency(), 0);
    EXPECT_EQ (processor.createComponent (processor.state), nullptr);
    ASSERT_EQ (processor.state.serializables.size(), 1u);
    ASSERT_EQ (processor.state.processors.size(), 1u);
    EXPECT_EQ (processor.state.serializables.at ("AudioProcessor"), static_cast<cvx::Serializable*> (&processor));
    EXPECT_EQ (processor.state.processors.at ("AudioProcessor"), static_cast<cvx::Processor*> (&processor));
}

TEST_F (ProcessorBaseTest, StartsIdleWithUnitFades)
{
    EXPECT_EQ (processor.getFadeState(), FadeState::normal);
    EXPECT_EQ (processor.getFadeGain(), 1.0f);
    EXPECT_EQ (processor.getFadeStep(), 1.0f);
    EXPECT_EQ (processor.getProcessSpec().sampleRate, 0.0);
    EXPECT_EQ (processor.getProcessSpec().maximumBlockSize, 0);
    EXPECT_EQ (processor.getProcessSpec().numChannels, 0);
    EXPECT_EQ (processor.getBlockLengthMs(), 0);
    EXPECT_EQ (processor.getIdleThresholdMs(), 0);
    EXPECT_EQ (processor.getLastBlockTimeMs(), 0);
    EXPECT_EQ (processor.log->prepareCount.load(), 0);
}

TEST_F (ProcessorBaseTest, PrepareStoresTheSpecAndTimings)
{
    // Block length in whole milliseconds; the idle threshold is twice that plus one, but
    // never below 10 ms (a value under 11 falls back to 10).
    struct Case { double sampleRate; int blockSize; int blockMs; int thresholdMs; };
    const Case cases[] {
        { 44100.0, 512,  11, 23 },
        { 48000.0, 64,    1, 10 },
        { 48000.0, 240,   5, 11 },
        { 48000.0, 239,   4, 10 },
        { 96000.0, 4096, 42, 85 },
        { 22050.0, 1,     0, 10 },
    };

    int prepared = 0;
    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.sampleRate) + " Hz, " + juce::String (c.blockSize));
        processor.prepareToPlay (c.sampleRate, c.blockSize);
        ++prepared;

        EXPECT_EQ (processor.getBlockLengthMs(), c.blockMs);
        EXPECT_EQ (processor.getIdleThresholdMs(), c.thresholdMs);
        EXPECT_FLOAT_EQ (processor.getFadeStep(), (float) (1.0 / (0.05 * c.sampleRate)));

        EXPECT_EQ (processor.log->prepareCount.load(), prepared);
        EXPECT_EQ (processor.lastSpec.sampleRate, c.sampleRate);
        EXPECT_EQ (processor.lastSpec.maximumBlockSize, c.blockSize);
        EXPECT_EQ (processor.lastSpec.numChannels, 2);
        EXPECT_EQ (processor.getProcessSpec().sampleRate, c.sampleRate);
        EXPECT_EQ (processor.getProcessSpec().maximumBlockSize, c.blockSize);
    }

    EXPECT_EQ (processor.getFadeState(), FadeState::normal);
}

TEST_F (ProcessorBaseTest, SpecCountsAllOutputChannels)
{
    juce::AudioProcessor::BusesLayout mono;
    mono.inputBuses.add (Set::mono());
    mono.inputBuses.add (Set::disabled());
    mono.outputBuses.add (Set::mono());
    ASSERT_TRUE (processor.setBusesLayout (mono));

    processor.prepareToPlay (48000.0, 128);
    EXPECT_EQ (processor.lastSpec.numChannels, 1);
    EXPECT_EQ (processor.getProcessSpec().numChannels, 1);
}

TEST (ProcessorBaseSettings, FreshInstanceCreatesTheSettingsFolderAndGreyColour)
{
    const auto file = cvx::cache::ValueFile::getFileFor ("Vyx");
    const auto folder = file.getParentDirectory();
    ASSERT_TRUE (folder.isAChildOf (vyx::test::getTestHome())) << folder.getFullPathName();
    EXPECT_EQ (folder.getFileName(), "Vyx");
    EXPECT_EQ (folder.getParentDirectory().getFileName(), "Corvane");
    EXPECT_EQ (folder.getParentDirectory().getParentDirectory().getFileName(), "Application Support");
    EXPECT_EQ (file.getFileName(), "Vyx.data");

    folder.getParentDirectory().deleteRecursively();
    ASSERT_FALSE (folder.exists());

    {
        RecordingProcessor processor;
        EXPECT_TRUE (folder.isDirectory());
        EXPECT_TRUE (file.existsAsFile());
        EXPECT_EQ (file.getSize(), 0);
        EXPECT_EQ (processor.state.attributes[cvx::State::Attributes::colour].toString(), "ff808080");
        EXPECT_EQ (processor.state.attributes.getNumProperties(), 1);
        EXPECT_EQ (cvx::State::Attributes::getColour (processor.state), juce::Colours::grey);
    }

    // Written back when the instance goes.
    EXPECT_TRUE (file.existsAsFile());
}
