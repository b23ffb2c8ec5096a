#include "CoreTestSupport.h"

namespace
{

using vyx::test::RecordingProcessor;
using vyx::test::rawValue;
using vyx::test::setPlain;

using vyx::test::FixedModulator;

/** Records the host-side callbacks of one parameter in order. */
struct GestureRecorder : public juce::AudioProcessorParameter::Listener
{
    void parameterValueChanged (int, float newValue) override { events.add ("value " + juce::String (newValue, 6)); }
    void parameterGestureChanged (int, bool starting) override { events.add (starting ? "begin" : "end"); }

    juce::StringArray events;
};

class BindingTest : public ::testing::Test
{
protected:
    /** A route from the fixed source (output 1, scale 1, bipolar, curve 1) to the id, so the
        offset equals the depth. */
    void routeOffset (const juce::String& id, double offset)
    {
        juce::ValueTree modulators { cvx::State::modulatorsID };
        juce::ValueTree target { juce::Identifier (id) };
        juce::ValueTree route { "Fixed" };
        route.setProperty ("Depth", offset, nullptr);
        target.appendChild (route, nullptr);
        modulators.appendChild (target, nullptr);
        state.modulators.load (modulators);
    }

    void SetUp() override { state.modulators.addModulator ("Fixed", &source); }
    void TearDown() override { state.modulators.removeModulator ("Fixed"); }

    RecordingProcessor processor;
    cvx::State& state = processor.state;
    FixedModulator source;
};

} // namespace

TEST_F (BindingTest, ConstructionPullsTheCurrentValue)
{
    setPlain (state, "THD4", -17.25f);
    cvx::Parameter<float> threshold (state, "THD4");
    cvx::Parameter<int> count (state, "NUM");

    EXPECT_EQ (threshold.id, "THD4");
    EXPECT_EQ (threshold.getParameter(), state.parameters.getParameter ("THD4"));
    EXPECT_FLOAT_EQ (threshold.get(), -17.25f);
    EXPECT_FLOAT_EQ (threshold.getValue(), -17.25f);
    EXPECT_NEAR (threshold.getNormalisedValue(), 42.75 / 60.0, 1.0e-6);
    EXPECT_EQ (threshold.getModulation(), 0.0f);
    EXPECT_FLOAT_EQ (threshold.getModulated(), -17.25f);
    EXPECT_EQ (count.get(), 3);
    EXPECT_EQ (count.getModulated(), 3);
}

TEST_F (BindingTest, PushOnTheBandCountSnapsAndKeepsTheTypedValueUntilPull)
{
    cvx::Parameter<int> count (state, "NUM");
    auto* host = state.parameters.getParameter ("NUM");
    GestureRecorder recorder;
    host->addListener (&recorder);

    count.push0to1 (0.5f);   // 1 + 7 * 0.5 = 4.5, a half snaps up

    host->removeListener (&recorder);

    EXPECT_EQ (count.getValue(), 5.0f);
    EXPECT_NEAR (count.getNormalisedValue(), 4.0 / 7.0, 1.0e-6);
    EXPECT_NEAR (host->getValue(), 4.0 / 7.0, 1.0e-6);
    EXPECT_EQ (rawValue (state, "NUM"), 5.0f);
    EXPECT_EQ (count.getModulatedValue(), 5.0f);
    EXPECT_EQ (count.get(), 3) << "typed value changes only on pull";
    EXPECT_EQ (count.getModulated(), 3);

    // One complete gesture, carrying the normalised form of the snapped value.
    ASSERT_EQ (recorder.events.size(), 3) << recorder.events.joinIntoString (", ");
    EXPECT_EQ (recorder.events[0], "begin");
    EXPECT_EQ (recorder.events[1], "value " + juce::String (4.0f / 7.0f, 6));
    EXPECT_EQ (recorder.events[2], "end");

    count.pull();
    EXPECT_EQ (count.get(), 5);
    EXPECT_EQ (count.getModulated(), 5);
}

TEST_F (BindingTest, PushOutsideZeroToOneClampsToTheRangeEnds)
{
    struct Case { const char* id; float position; float expectedPlain; };
    const Case cases[] {
        { "NUM", 1.7f, 8.0f }, { "NUM", -0.3f, 1.0f },
        { "THD0", 1.7f, 0.0f }, { "THD0", -0.3f, -60.0f },
        { "RAD3", 2.0f, 16.0f }, { "RAD3", -5.0f, 1.0f },
        { "CR2", 1.7f, 44000.0f }, { "CR2", -0.3f, 20.0f },
        { "MIX", 1.0001f, 100.0f }, { "IN", -0.0001f, -80.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.id) + " " + juce::String (c.position));
        cvx::Parameter<float> binding (state, c.id);
        binding.push0to1 (0.5f);
        binding.push0to1 (c.position);
        EXPECT_NEAR (rawValue (state, c.id), c.expectedPlain, std::abs (c.expectedPlain) * 1.0e-5);
        EXPECT_NEAR (binding.getValue(), c.expectedPlain, std::abs (c.expectedPlain) * 1.0e-5);
        EXPECT_NEAR (binding.getNormalisedValue(), c.position > 0.5f ? 1.0f : 0.0f, 1.0e-6);
        EXPECT_NEAR (state.parameters.getParameter (c.id)->getValue(), c.position > 0.5f ? 1.0f : 0.0f, 1.0e-6);
    }
}

TEST_F (BindingTest, ModulationOffsetsAreAddedInNormalisedUnitsAndClamped)
{
    struct Case { const char* id; float plain; double offset; float expectedNormalised; float expectedPlain; };
    const Case cases[] {
        { "THD0", -60.0f, 0.25, 0.25f, -45.0f },
        { "THD0", -8.0f, 0.25, 1.0f, 0.0f },                  // 0.866667 + 0.25 clamps to 1
        { "THD0", -30.0f, -0.75, 0.0f, -60.0f },              // below 0 gives the range start
        { "THU5", -36.0f, 0.1, 0.5f, -30.0f },
        { "IN", -80.0f, 0.5, 0.5f, -34.0f },
        { "MIX", 100.0f, -0.25, 0.75f, 75.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.id) + " " + juce::String (c.plain) + " + " + juce::String (c.offset));
        setPlain (state, c.id, c.plain);
        routeOffset (c.id, c.offset);

        cvx::Parameter<float> binding (state, c.id);
        EXPECT_NEAR (binding.getValue(), c.plain, 1.0e-4) << "the plain value is not modulated";
        EXPECT_NEAR (binding.getModulation(), c.offset, 1.0e-6);
        EXPECT_NEAR (binding.getModulatedNormalisedValue(), c.expectedNormalised, 1.0e-5);
        EXPECT_NEAR (binding.getModulatedValue(), c.expectedPlain, 1.0e-3);
        EXPECT_NEAR (binding.getModulated(), c.expectedPlain, 1.0e-3);
    }
}

TEST_F (BindingTest, WithoutOffsetTheModulatedValueIsTheSnappedValue)
{
    for (const char* id : { "THD1", "RAD1", "ATD0", "CR1", "NUM", "OUT" })
    {
        SCOPED_TRACE (id);
        cvx::Parameter<float> binding (state, id);
        binding.push0to1 (0.3f);
        binding.pull();
        auto* host = state.parameters.getParameter (id);
        EXPECT_EQ (binding.getModulation(), 0.0f);
        EXPECT_FLOAT_EQ (binding.getModulatedValue(), host->convertFrom0to1 (host->convertTo0to1 (binding.getValue())));
        EXPECT_NEAR (binding.getModulatedValue(), binding.getValue(), std::abs (binding.getValue()) * 1.0e-5 + 1.0e-5);
    }
}

TEST_F (BindingTest, BandCountModulatedToNearlyOneGivesEightBands)
{
    setPlain (state, "NUM", 1.0f);
    routeOffset ("NUM", 0.99);

    cvx::Parameter<int> count (state, "NUM");
    EXPECT_EQ (count.get(), 1);
    EXPECT_NEAR (count.getModulatedNormalisedValue(), 0.99f, 1.0e-6);
    EXPECT_EQ (count.getModulatedValue(), 8.0f);  // 1 + 7 * 0.99 = 7.93 snaps to 8
    EXPECT_EQ (count.getModulated(), 8);
}

TEST_F (BindingTest, IntegerBindingTruncatesTowardZero)
{
    struct Case { float plain; int expected; };
    for (const auto& c : { Case { -8.5f, -8 }, Case { -0.75f, 0 }, Case { -59.99f, -59 }, Case { -12.0f, -12 } })
    {
        setPlain (state, "THD6", c.plain);
        cvx::Parameter<int> binding (state, "THD6");
        EXPECT_EQ (binding.get(), c.expected) << c.plain;
        EXPECT_EQ (binding.getModulated(), c.expected) << c.plain;
    }
}

TEST_F (BindingTest, PushReusesTheStoredOffsetWithoutAskingTheMatrix)
{
    setPlain (state, "THD2", -60.0f);
    routeOffset ("THD2", 0.25);
    cvx::Parameter<float> binding (state, "THD2");
    ASSERT_NEAR (binding.getModulation(), 0.25f, 1.0e-6);

    source.output = 0.0f;  // the matrix would now answer 0 for a bipolar route
    binding.push0to1 (0.2f);

    EXPECT_NEAR (binding.getValue(), -48.0f, 1.0e-4);
    EXPECT_NEAR (binding.getModulation(), 0.25f, 1.0e-6);
    EXPECT_NEAR (binding.getModulatedNormalisedValue(), 0.45f, 1.0e-6);
    EXPECT_NEAR (binding.getModulatedValue(), -33.0f, 1.0e-4);
    EXPECT_NEAR (binding.getModulated(), -45.0f, 1.0e-4) << "typed value still from the last pull";

    binding.pull();
    EXPECT_EQ (binding.getModulation(), 0.0f);
    EXPECT_NEAR (binding.getModulated(), -48.0f, 1.0e-4);
}

TEST_F (BindingTest, PushedValuesLastUntilThePullReadsTheHostBack)
{
    cvx::Parameter<float> binding (state, "RAU3");
    binding.push0to1 (0.5f);
    const float pushed = binding.getValue();
    EXPECT_NEAR (pushed, 1.9375f, 1.0e-5);

    // The host changes the parameter: the cache keeps the pushed value until the next pull.
    setPlain (state, "RAU3", 6.0f);
    EXPECT_EQ (binding.getValue(), pushed);

    binding.pull();
    EXPECT_NEAR (binding.getValue(), 6.0f, 1.0e-4);
    EXPECT_NEAR (binding.get(), 6.0f, 1.0e-4);
}

// A pull that finds neither the host value nor the offset changed keeps its cached values; the
// source leaving the matrix (after which no route can modulate) is a change of the offset.
TEST_F (BindingTest, OffsetGoesBackToZeroWhenTheLastSourceLeaves)
{
    setPlain (state, "THD3", -60.0f);
    routeOffset ("THD3", 0.25);
    cvx::Parameter<float> binding (state, "THD3");
    ASSERT_NEAR (binding.getModulated(), -45.0f, 1.0e-4);

    binding.pull();
    EXPECT_NEAR (binding.getModulated(), -45.0f, 1.0e-4) << "nothing changed";

    state.modulators.removeModulator ("Fixed");
    ASSERT_FALSE (state.modulators.mayModulateAny());
    binding.pull();
    EXPECT_EQ (binding.getModulation(), 0.0f);
    EXPECT_NEAR (binding.getModulated(), -60.0f, 1.0e-4);

    // With no modulation at all, a host change still reaches the typed values.
    setPlain (state, "THD3", -12.0f);
    binding.pull();
    EXPECT_NEAR (binding.get(), -12.0f, 1.0e-4);
    EXPECT_NEAR (binding.getModulated(), -12.0f, 1.0e-4);

    state.modulators.addModulator ("Fixed", &source);
}
