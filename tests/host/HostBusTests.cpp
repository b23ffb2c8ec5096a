// The buses a VST3 host finds on the built bundle and the layouts it can apply to them.

#include "HostTestSupport.h"

namespace
{

using Set = juce::AudioChannelSet;

class HostBuses : public vyx::test::SharedInstanceTest<HostBuses>
{
protected:
    void SetUp() override
    {
        SharedInstanceTest::SetUp();
        if (HasFatalFailure())
            return;
        // A host changes layouts only while the plug-in is inactive.
        instance->releaseResources();
    }

    /** The layout of a fresh instance: stereo main buses, sidechain off. */
    static juce::AudioProcessor::BusesLayout defaultLayout()
    {
        return layoutOf (Set::stereo(), Set::disabled(), Set::stereo());
    }

    static juce::AudioProcessor::BusesLayout layoutOf (const Set& in, const Set& sidechain, const Set& out)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (in);
        layout.inputBuses.add (sidechain);
        layout.outputBuses.add (out);
        return layout;
    }

};

TEST_F (HostBuses, MainStereoBusesAndADisabledSidechain)
{
    ASSERT_EQ (instance->getBusCount (true), 2);
    ASSERT_EQ (instance->getBusCount (false), 1);

    struct Case { bool isInput; int index; const char* name; bool enabled; };
    const Case cases[] {
        { true, 0, "Input", true },
        { false, 0, "Output", true },
        { true, 1, "Sidechain", false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto* bus = instance->getBus (c.isInput, c.index);
        ASSERT_NE (bus, nullptr);
        EXPECT_EQ (bus->getName(), c.name);
        EXPECT_EQ (bus->isEnabled(), c.enabled);
        EXPECT_EQ (bus->isEnabledByDefault(), c.enabled);
        EXPECT_EQ (bus->getLastEnabledLayout(), Set::stereo());
    }

    EXPECT_EQ (instance->getBusesLayout(), defaultLayout());
    EXPECT_EQ (instance->getTotalNumInputChannels(), 2);
    EXPECT_EQ (instance->getTotalNumOutputChannels(), 2);
}

TEST_F (HostBuses, LayoutsAcceptedAndRefused)
{
    struct Case { const char* name; Set in, sidechain, out; bool accepted; };
    const Case cases[] {
        { "stereo, sidechain off",       Set::stereo(), Set::disabled(), Set::stereo(), true },
        { "stereo, mono sidechain",      Set::stereo(), Set::mono(),     Set::stereo(), true },
        { "stereo, stereo sidechain",    Set::stereo(), Set::stereo(),   Set::stereo(), true },
        { "mono, sidechain off",         Set::mono(),   Set::disabled(), Set::mono(),   true },
        { "mono, stereo sidechain",      Set::mono(),   Set::stereo(),   Set::mono(),   true },
        { "mono in, stereo out",         Set::mono(),   Set::disabled(), Set::stereo(), false },
        { "stereo in, mono out",         Set::stereo(), Set::disabled(), Set::mono(),   false },
        { "5.1 in and out",              Set::create5point1(), Set::disabled(), Set::create5point1(), false },
        { "stereo in, 5.1 out",          Set::stereo(), Set::disabled(), Set::create5point1(), false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto layout = layoutOf (c.in, c.sidechain, c.out);

        EXPECT_EQ (instance->checkBusesLayoutSupported (layout), c.accepted);
        EXPECT_EQ (instance->setBusesLayout (layout), c.accepted);
        EXPECT_EQ (instance->getBusesLayout(), c.accepted ? layout : defaultLayout());

        if (c.accepted)
        {
            // The host then runs the plug-in in that layout: sidechain channels follow the main ones.
            EXPECT_EQ (instance->getTotalNumInputChannels(), c.in.size() + c.sidechain.size());
            EXPECT_EQ (instance->getTotalNumOutputChannels(), c.out.size());

            vyx::test::prepare (*instance, 48000.0, 256);
            auto audio = vyx::test::makeTestSignal (48000.0, 0.5);
            audio.setSize (c.in.size(), audio.getNumSamples(), true);
            vyx::host::render (*instance, audio, 256);
            EXPECT_TRUE (vyx::test::isFinite (audio));
            instance->releaseResources();
        }

        ASSERT_TRUE (instance->setBusesLayout (defaultLayout()));
        ASSERT_EQ (instance->getBusesLayout(), defaultLayout());
    }
}

} // namespace
