#include "CoreTestSupport.h"

#include <cmath>

namespace
{

using vyx::test::FixedModulator;

struct Route
{
    const char* target;
    const char* source;
    double depth;
    bool bipolar;
    double curve;
};

/** A "Modulators" tree holding the given routes with every property written. */
juce::ValueTree makeModulators (std::initializer_list<Route> routes)
{
    juce::ValueTree tree { cvx::State::modulatorsID };
    for (const auto& r : routes)
    {
        auto target = tree.getOrCreateChildWithName (r.target, nullptr);
        juce::ValueTree source { r.source };
        source.setProperty ("Depth", r.depth, nullptr);
        source.setProperty ("Bipolar", r.bipolar, nullptr);
        source.setProperty ("Curve", r.curve, nullptr);
        target.appendChild (source, nullptr);
    }
    return tree;
}

/** The contribution of one route by the matrix formula. */
double expectedContribution (double depth, bool bipolar, double curve, double output, double scale)
{
    double u = std::pow (output * 0.5 + 0.5, curve);
    if (bipolar)
        u = 2.0 * u - 1.0;
    return depth * u * scale;
}

class ModulatorMatrixTest : public ::testing::Test
{
protected:
    cvx::ModulatorMatrix matrix;
};

} // namespace

TEST_F (ModulatorMatrixTest, IdAndNoRoutesGiveExactlyZero)
{
    EXPECT_EQ (matrix.id, "Modulators");
    FixedModulator lfo (1.0f, 1.0f);
    matrix.addModulator ("LFO", &lfo);
    for (const char* id : { "THD0", "NUM", "IN", "", "unknown" })
        EXPECT_EQ (matrix.getModulation (id), 0.0f) << id;
    matrix.removeModulator ("LFO");
}

TEST_F (ModulatorMatrixTest, OneRouteFollowsTheShapingFormula)
{
    struct Case { double depth; bool bipolar; double curve; float output; float scale; double expected; };
    const Case cases[] {
        { 0.5, true, 1.0, 1.0f, 1.0f, 0.5 },
        { 0.5, true, 1.0, -1.0f, 1.0f, -0.5 },
        { 0.5, false, 1.0, -1.0f, 1.0f, 0.0 },
        { 0.5, false, 1.0, 1.0f, 1.0f, expectedContribution (0.5, false, 1.0, 1.0, 1.0) },
        { 0.5, false, 2.0, 0.0f, 1.0f, expectedContribution (0.5, false, 2.0, 0.0, 1.0) },  // 0.125
        { 0.8, true, 3.0, 0.2f, 0.5f, expectedContribution (0.8, true, 3.0, 0.2, 0.5) },
        { -0.3, true, 0.5, 0.6f, 2.0f, expectedContribution (-0.3, true, 0.5, 0.6, 2.0) },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE ("depth " + juce::String (c.depth) + " bipolar " + juce::String ((int) c.bipolar)
                      + " curve " + juce::String (c.curve) + " output " + juce::String (c.output));
        FixedModulator source (c.output, c.scale);
        matrix.addModulator ("SRC", &source);
        matrix.load (makeModulators ({ { "THD3", "SRC", c.depth, c.bipolar, c.curve } }));

        EXPECT_NEAR (matrix.getModulation ("THD3"), c.expected, 1.0e-6);
        EXPECT_EQ (matrix.getModulation ("THD4"), 0.0f);
        matrix.removeModulator ("SRC");
    }
}

TEST_F (ModulatorMatrixTest, RoutesOfOneTargetAddUp)
{
    FixedModulator a (1.0f, 1.0f), b (-0.5f, 2.0f);
    matrix.addModulator ("A", &a);
    matrix.addModulator ("B", &b);
    matrix.load (makeModulators ({ { "RAD1", "A", 0.1, true, 1.0 }, { "RAD1", "B", 0.2, false, 2.0 },
                                   { "RAU1", "A", 0.4, true, 1.0 } }));

    EXPECT_NEAR (matrix.getModulation ("RAD1"),
                 expectedContribution (0.1, true, 1.0, 1.0, 1.0) + expectedContribution (0.2, false, 2.0, -0.5, 2.0), 1.0e-6);
    EXPECT_NEAR (matrix.getModulation ("RAU1"), 0.4, 1.0e-6);

    // A source that is not registered contributes nothing and does not disturb the lookup.
    matrix.removeModulator ("B");
    EXPECT_NEAR (matrix.getModulation ("RAD1"), 0.1, 1.0e-6);
    matrix.removeModulator ("A");
    EXPECT_EQ (matrix.getModulation ("RAD1"), 0.0f);
    EXPECT_EQ (matrix.getRoutes().at ("RAD1").size(), 2u);
}

TEST_F (ModulatorMatrixTest, LoadingRoutesWithoutPropertiesGivesTheDefaults)
{
    juce::ValueTree tree { cvx::State::modulatorsID };
    juce::ValueTree target { "THD0" };
    target.appendChild (juce::ValueTree { "LFO" }, nullptr);
    tree.appendChild (target, nullptr);

    matrix.load (tree);

    const auto routes = matrix.getRoutes();
    ASSERT_EQ (routes.size(), 1u);
    ASSERT_EQ (routes.at ("THD0").size(), 1u);
    const auto& connection = *routes.at ("THD0").at ("LFO");
    EXPECT_EQ (connection.depth.load(), 0.25f);
    EXPECT_TRUE (connection.bipolar.load());
    EXPECT_EQ (connection.curve.load(), 1.0f);

    FixedModulator lfo (1.0f, 1.0f);
    matrix.addModulator ("LFO", &lfo);
    EXPECT_NEAR (matrix.getModulation ("THD0"), 0.25, 1.0e-7);
    matrix.removeModulator ("LFO");
}

TEST_F (ModulatorMatrixTest, StoredValuesOfAnotherTypeAreConvertedAndLaterDuplicatesWin)
{
    juce::ValueTree tree { cvx::State::modulatorsID };
    juce::ValueTree target { "CR2" };
    juce::ValueTree first { "ENV" };
    first.setProperty ("Depth", 0.9, nullptr);
    juce::ValueTree second { "ENV" };
    second.setProperty ("Depth", "0.125", nullptr);
    second.setProperty ("Bipolar", 0, nullptr);
    second.setProperty ("Curve", true, nullptr);
    target.appendChild (first, nullptr);
    target.appendChild (second, nullptr);
    tree.appendChild (target, nullptr);

    matrix.load (tree);

    const auto routes = matrix.getRoutes();
    ASSERT_EQ (routes.at ("CR2").size(), 1u);
    const auto& connection = *routes.at ("CR2").at ("ENV");
    EXPECT_EQ (connection.depth.load(), 0.125f);
    EXPECT_FALSE (connection.bipolar.load());
    EXPECT_EQ (connection.curve.load(), 1.0f);
}

TEST_F (ModulatorMatrixTest, LoadReplacesEveryRoute)
{
    FixedModulator lfo (1.0f, 1.0f);
    matrix.addModulator ("LFO", &lfo);

    matrix.load (makeModulators ({ { "THD0", "LFO", 0.3, true, 1.0 }, { "OUT", "LFO", 0.1, true, 1.0 } }));
    ASSERT_NEAR (matrix.getModulation ("THD0"), 0.3, 1.0e-6);

    matrix.load (makeModulators ({ { "RAD5", "LFO", 0.2, true, 1.0 } }));
    EXPECT_EQ (matrix.getModulation ("THD0"), 0.0f);
    EXPECT_EQ (matrix.getModulation ("OUT"), 0.0f);
    EXPECT_NEAR (matrix.getModulation ("RAD5"), 0.2, 1.0e-6);
    EXPECT_EQ (matrix.getRoutes().size(), 1u);

    matrix.load (juce::ValueTree { cvx::State::modulatorsID });
    EXPECT_TRUE (matrix.getRoutes().empty());
    EXPECT_EQ (matrix.getModulation ("RAD5"), 0.0f);

    matrix.removeModulator ("LFO");
}

TEST_F (ModulatorMatrixTest, SaveWritesEveryRouteWithItsProperties)
{
    matrix.load (makeModulators ({ { "THD0", "LFO", 0.5, false, 2.0 }, { "THD0", "ENV", 0.75, true, 1.0 },
                                   { "NUM", "LFO", 0.25, true, 3.0 } }));

    juce::ValueTree saved { cvx::State::modulatorsID };
    matrix.save (saved);

    ASSERT_EQ (saved.getNumChildren(), 2);
    const auto thd = saved.getChildWithName ("THD0");
    ASSERT_EQ (thd.getNumChildren(), 2);
    const auto lfo = thd.getChildWithName ("LFO");
    EXPECT_EQ ((double) lfo["Depth"], 0.5);
    EXPECT_FALSE ((bool) lfo["Bipolar"]);
    EXPECT_EQ ((double) lfo["Curve"], 2.0);
    EXPECT_EQ ((double) thd.getChildWithName ("ENV")["Depth"], 0.75);
    EXPECT_EQ ((double) saved.getChildWithName ("NUM").getChildWithName ("LFO")["Curve"], 3.0);

    // What was saved loads back to the same routes.
    cvx::ModulatorMatrix other;
    other.load (saved);
    FixedModulator source (0.3f, 1.0f);
    matrix.addModulator ("LFO", &source);
    other.addModulator ("LFO", &source);
    EXPECT_EQ (other.getModulation ("THD0"), matrix.getModulation ("THD0"));
    EXPECT_EQ (other.getModulation ("NUM"), matrix.getModulation ("NUM"));
    matrix.removeModulator ("LFO");
    other.removeModulator ("LFO");
}

TEST (ModulatorMatrixInState, PresetsCarryRoutesOnlyWhileAModulatorIsRegistered)
{
    vyx::test::RecordingProcessor processor;
    auto& state = processor.state;
    state.modulators.load (makeModulators ({ { "THD1", "LFO", 0.5, true, 1.0 } }));

    EXPECT_FALSE (state.modulators.hasModulators());
    auto preset = state.toPreset();
    EXPECT_EQ (preset.getChildWithName (cvx::State::modulatorsID).getNumChildren(), 0);

    FixedModulator lfo (1.0f, 1.0f);
    state.modulators.addModulator ("LFO", &lfo);
    EXPECT_TRUE (state.modulators.hasModulators());
    preset = state.toPreset();
    const auto saved = preset.getChildWithName (cvx::State::modulatorsID);
    ASSERT_EQ (saved.getNumChildren(), 1);
    EXPECT_EQ ((double) saved.getChildWithName ("THD1").getChildWithName ("LFO")["Depth"], 0.5);

    // The binding sees the route through the state's matrix.
    vyx::test::setPlain (state, "THD1", -60.0f);
    cvx::Parameter<float> threshold (state, "THD1");
    EXPECT_NEAR (threshold.getModulated(), -30.0f, 1.0e-4);

    state.modulators.removeModulator ("LFO");
}

TEST (ModulatorMatrixConcurrency, LookupsDuringLoadsSeeOneTableOrTheOther)
{
    cvx::ModulatorMatrix matrix;
    FixedModulator lfo (1.0f, 1.0f);
    matrix.addModulator ("LFO", &lfo);

    const auto a = makeModulators ({ { "THD0", "LFO", 0.25, true, 1.0 } });
    const auto b = makeModulators ({ { "THD0", "LFO", 0.5, true, 1.0 } });
    matrix.load (a);

    std::atomic<bool> stop { false };
    std::atomic<int> unexpected { 0 };
    std::thread reader ([&]
    {
        while (! stop.load())
        {
            const float m = matrix.getModulation ("THD0");
            if (m != 0.25f && m != 0.5f)
                ++unexpected;
        }
    });

    for (int i = 0; i < 500; ++i)
        matrix.load (i % 2 == 0 ? b : a);

    stop = true;
    reader.join();
    EXPECT_EQ (unexpected.load(), 0);
    matrix.removeModulator ("LFO");
}
