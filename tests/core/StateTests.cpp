#include "CoreTestSupport.h"

namespace
{

using vyx::test::RecordingProcessor;
using vyx::test::plainValues;
using vyx::test::rawValue;
using vyx::test::setPlain;

class PresetTreeTest : public ::testing::Test
{
protected:
    /** Moves a few parameters and switches away from their defaults. */
    void editSome (cvx::State& s)
    {
        setPlain (s, "THD0", -20.0f);
        setPlain (s, "RAU4", 3.5f);
        setPlain (s, "NUM", 5.0f);
        setPlain (s, "CR3", 7000.0f);
        setPlain (s, "BON7", 0.0f);
        s.properties.setProperty (Properties::limiter, false, nullptr);
        s.properties.setProperty (Properties::dryWet, true, nullptr);
        s.properties.setProperty (Properties::sidechain, true, nullptr);
    }

    /** The PARAM child of a preset's parameter tree for an id. */
    static juce::ValueTree paramChild (const juce::ValueTree& preset, const juce::String& id)
    {
        return preset.getChildWithName (cvx::State::parametersID).getChildWithProperty ("id", id);
    }

    RecordingProcessor processor;
    cvx::State& state = processor.state;
};

} // namespace

TEST_F (PresetTreeTest, ToPresetHasFourChildrenInOrder)
{
    editSome (state);
    const auto preset = state.toPreset();

    EXPECT_EQ (preset.getType(), cvx::State::stateID);
    EXPECT_EQ (preset.getNumProperties(), 0);
    ASSERT_EQ (preset.getNumChildren(), 4);
    EXPECT_EQ (preset.getChild (0).getType().toString(), "Parameters");
    EXPECT_EQ (preset.getChild (1).getType().toString(), "Properties");
    EXPECT_EQ (preset.getChild (2).getType().toString(), "Serialized");
    EXPECT_EQ (preset.getChild (3).getType().toString(), "Modulators");

    const auto serialized = preset.getChild (2);
    ASSERT_EQ (serialized.getNumChildren(), 1);
    EXPECT_EQ (serialized.getChild (0).getType().toString(), "AudioProcessor");
    EXPECT_EQ (serialized.getChild (0).getNumProperties(), 0);
    EXPECT_EQ (serialized.getChild (0).getNumChildren(), 0);
    EXPECT_EQ (preset.getChild (3).getNumChildren(), 0);
    EXPECT_EQ (preset.getChild (3).getNumProperties(), 0);

    // One PARAM per parameter (in the parameter store's own order), each with its value.
    const auto parameters = preset.getChild (0);
    ASSERT_EQ (parameters.getNumChildren(), 94);
    for (const auto& child : parameters)
        EXPECT_EQ (child.getType().toString(), "PARAM");
    for (auto* p : processor.getParameters())
    {
        const auto id = dynamic_cast<juce::RangedAudioParameter*> (p)->paramID;
        const auto child = parameters.getChildWithProperty ("id", id);
        ASSERT_TRUE (child.isValid()) << id;
        ASSERT_TRUE (child.hasProperty ("value")) << id;
        EXPECT_EQ ((float) child["value"], rawValue (state, id)) << id;
    }

    EXPECT_FALSE ((bool) preset.getChild (1)[Properties::limiter]);
    EXPECT_TRUE ((bool) preset.getChild (1)[Properties::dryWet]);

    // The preset is a copy: editing it does not reach the instance.
    auto copy = preset;
    copy.getChild (1).setProperty (Properties::limiter, true, nullptr);
    EXPECT_FALSE ((bool) state.properties[Properties::limiter]);
}

TEST_F (PresetTreeTest, RoundTripChangesNothingAndClearsDirty)
{
    editSome (state);
    state.properties.appendChild (juce::ValueTree { "Extra" }.setProperty ("k", 4, nullptr), nullptr);
    state.attributes.setProperty (cvx::State::Attributes::dirty, true, nullptr);
    state.attributes.setProperty (cvx::State::Attributes::width, 777, nullptr);

    const auto parametersBefore = plainValues (processor);
    const auto propertiesBefore = state.properties.toXmlString();

    state.fromPreset (state.toPreset());

    EXPECT_EQ (plainValues (processor), parametersBefore);
    EXPECT_EQ (state.properties.toXmlString(), propertiesBefore);
    EXPECT_FALSE ((bool) state.attributes[cvx::State::Attributes::dirty]);
    EXPECT_TRUE (state.attributes.hasProperty (cvx::State::Attributes::dirty));
    EXPECT_EQ ((int) state.attributes[cvx::State::Attributes::width], 777) << "attributes are not part of a preset";
}

TEST_F (PresetTreeTest, PresetAppliesToAnotherInstance)
{
    editSome (state);
    const auto preset = state.toPreset();

    RecordingProcessor other;
    other.state.fromPreset (preset);

    EXPECT_EQ (plainValues (other), plainValues (processor));
    EXPECT_EQ (other.state.properties.toXmlString(), state.properties.toXmlString());
    EXPECT_EQ (other.log->prepareCount.load(), 0) << "applying a preset does not rebuild the engine";
}

TEST_F (PresetTreeTest, TreesTakeOverThePresetInPlace)
{
    RecordingProcessor source;
    editSome (source.state);
    const auto preset = source.state.toPreset();

    // Views keep handles of their own on the trees and listen to them.
    struct Counter : juce::ValueTree::Listener
    {
        void valueTreePropertyChanged (juce::ValueTree&, const juce::Identifier&) override { ++changes; }
        void valueTreeChildAdded (juce::ValueTree&, juce::ValueTree&) override { ++changes; }
        int changes = 0;
    } parameterViews, propertyViews;

    juce::ValueTree parameters = state.parameters.state, properties = state.properties;
    parameters.addListener (&parameterViews);
    properties.addListener (&propertyViews);

    state.fromPreset (preset);

    EXPECT_EQ (parameters, state.parameters.state);
    EXPECT_EQ (properties, state.properties);
    EXPECT_GT (parameterViews.changes, 0);
    EXPECT_GT (propertyViews.changes, 0);
    EXPECT_EQ (plainValues (processor), plainValues (source));

    parameters.removeListener (&parameterViews);
    properties.removeListener (&propertyViews);
}

TEST_F (PresetTreeTest, AttributesChildIsIgnored)
{
    editSome (state);
    const auto plain = state.toPreset();
    auto withAttributes = plain.createCopy();
    juce::ValueTree attributes { cvx::State::attributesID };
    attributes.setProperty (cvx::State::Attributes::width, 640, nullptr);
    attributes.setProperty (cvx::State::Attributes::colour, "ff112233", nullptr);
    withAttributes.appendChild (attributes, nullptr);

    RecordingProcessor a, b;
    a.state.fromPreset (plain);
    b.state.fromPreset (withAttributes);

    EXPECT_EQ (plainValues (a), plainValues (b));
    EXPECT_EQ (a.state.properties.toXmlString(), b.state.properties.toXmlString());
    EXPECT_EQ (vyx::test::propertiesText (a.state.attributes), vyx::test::propertiesText (b.state.attributes));
    EXPECT_FALSE (b.state.attributes.hasProperty (cvx::State::Attributes::width));
    EXPECT_EQ (b.state.attributes[cvx::State::Attributes::colour].toString(), "ff808080");
}

TEST_F (PresetTreeTest, MissingModulatorsAndSerializedAreCreatedInTheCallersTree)
{
    // A route loaded earlier must be cleared by a preset without modulation.
    juce::ValueTree modulators { cvx::State::modulatorsID };
    juce::ValueTree target { "THD0" };
    target.appendChild (juce::ValueTree { "LFO" }, nullptr);
    modulators.appendChild (target, nullptr);
    state.modulators.load (modulators);
    ASSERT_FALSE (state.modulators.getRoutes().empty());

    auto preset = state.toPreset();
    preset.removeChild (preset.getChildWithName (cvx::State::modulatorsID), nullptr);
    preset.removeChild (preset.getChildWithName (cvx::State::serializedID), nullptr);
    ASSERT_EQ (preset.getNumChildren(), 2);

    state.fromPreset (preset);

    const auto added = preset.getChildWithName (cvx::State::modulatorsID);
    ASSERT_TRUE (added.isValid());
    EXPECT_EQ (added.getNumChildren(), 0);
    EXPECT_TRUE (state.modulators.getRoutes().empty());

    const auto serialized = preset.getChildWithName (cvx::State::serializedID);
    ASSERT_TRUE (serialized.isValid());
    EXPECT_TRUE (serialized.getChildWithName ("AudioProcessor").isValid());
}

TEST_F (PresetTreeTest, ParametersThePresetOmitsKeepTheirValuesAndStaySaved)
{
    setPlain (state, "THD3", -12.0f);
    setPlain (state, "CR6", 1500.0f);
    // A save flushes every parameter into its PARAM child.
    auto full = state.toPreset();

    // A preset naming only three parameters, one of them without a value.
    auto partial = full.createCopy();
    auto parameters = partial.getChildWithName (cvx::State::parametersID);
    for (int i = parameters.getNumChildren(); --i >= 0;)
    {
        const auto id = parameters.getChild (i)["id"].toString();
        if (id != "THD0" && id != "NUM" && id != "CR6")
            parameters.removeChild (i, nullptr);
    }
    parameters.getChildWithProperty ("id", "THD0").setProperty ("value", -25.0f, nullptr);
    parameters.getChildWithProperty ("id", "NUM").setProperty ("value", 7.0f, nullptr);
    parameters.getChildWithProperty ("id", "CR6").removeProperty ("value", nullptr);  // named without a value
    ASSERT_EQ (parameters.getNumChildren(), 3);

    const auto before = plainValues (processor);
    state.fromPreset (partial);

    EXPECT_NEAR (rawValue (state, "THD0"), -25.0f, 1.0e-5);
    EXPECT_EQ (rawValue (state, "NUM"), 7.0f);
    EXPECT_NEAR (rawValue (state, "THD3"), -12.0f, 1.0e-5);
    EXPECT_NEAR (rawValue (state, "CR6"), 1500.0f, 1500.0f * 1.0e-5);

    auto after = plainValues (processor);
    for (size_t i = 0; i < after.size(); ++i)
        if (i != 7 && i != 5)   // NUM is at index 5, THD0 at index 7
        {
            EXPECT_EQ (after[i], before[i]) << "index " << i;
        }

    // A later save holds all 94 parameters, each with its value.
    const auto saved = state.toPreset();
    ASSERT_EQ (saved.getChildWithName (cvx::State::parametersID).getNumChildren(), 94);
    for (auto* p : processor.getParameters())
    {
        const auto id = dynamic_cast<juce::RangedAudioParameter*> (p)->paramID;
        const auto child = paramChild (saved, id);
        ASSERT_TRUE (child.isValid()) << id;
        ASSERT_TRUE (child.hasProperty ("value")) << id;
        EXPECT_EQ ((float) child["value"], rawValue (state, id)) << id;
    }

    // ... so that it restores those parameters too.
    RecordingProcessor other;
    other.state.fromPreset (saved);
    EXPECT_EQ (plainValues (other), plainValues (processor));
}

TEST_F (PresetTreeTest, PresetWithoutParametersKeepsEveryParameter)
{
    editSome (state);
    state.toPreset();
    const auto before = plainValues (processor);

    juce::ValueTree preset { cvx::State::stateID };
    juce::ValueTree properties { cvx::State::propertiesID };
    properties.setProperty (Properties::limiter, true, nullptr);
    preset.appendChild (properties, nullptr);
    state.fromPreset (preset);

    EXPECT_EQ (plainValues (processor), before);
    EXPECT_TRUE ((bool) state.properties[Properties::limiter]);

    const auto saved = state.toPreset().getChildWithName (cvx::State::parametersID);
    ASSERT_EQ (saved.getNumChildren(), 94);
    for (const auto& child : saved)
        EXPECT_TRUE (child.hasProperty ("value")) << child["id"].toString();
}

TEST_F (PresetTreeTest, PresetWithoutPropertiesClearsTheProperties)
{
    editSome (state);
    state.properties.appendChild (juce::ValueTree { "Extra" }, nullptr);
    auto preset = state.toPreset();
    preset.removeChild (preset.getChildWithName (cvx::State::propertiesID), nullptr);

    state.fromPreset (preset);

    EXPECT_EQ (state.properties.getNumProperties(), 0);
    EXPECT_EQ (state.properties.getNumChildren(), 0);
    EXPECT_EQ (state.properties.getType(), cvx::State::propertiesID);
}

TEST_F (PresetTreeTest, PresetPropertiesReplaceTheCurrentOnes)
{
    state.properties.setProperty (Properties::sidechain, true, nullptr);
    state.properties.setProperty ("OLD", 1, nullptr);

    juce::ValueTree preset { cvx::State::stateID };
    juce::ValueTree properties { cvx::State::propertiesID };
    properties.setProperty (Properties::dryWet, true, nullptr);
    properties.appendChild (juce::ValueTree { "Child" }, nullptr);
    preset.appendChild (properties, nullptr);

    state.fromPreset (preset);

    EXPECT_FALSE (state.properties.hasProperty (Properties::sidechain));
    EXPECT_FALSE (state.properties.hasProperty ("OLD"));
    EXPECT_TRUE ((bool) state.properties[Properties::dryWet]);
    EXPECT_EQ (state.properties.getNumChildren(), 1);

    // A copy, not the preset's own tree.
    properties.setProperty (Properties::dryWet, false, nullptr);
    EXPECT_TRUE ((bool) state.properties[Properties::dryWet]);
}

TEST_F (PresetTreeTest, StoredValuesThatAreNotNumbersKeepTheCurrentValue)
{
    // What a state block or preset file may carry as a PARAM value, and the value that the
    // input gain (-80..12 dB) takes from it: the current one, or the number brought into range.
    const auto nan = std::numeric_limits<double>::quiet_NaN();
    const auto inf = std::numeric_limits<double>::infinity();
    struct Case { juce::var stored; bool keeps; double number; };
    const Case cases[] {
        { "nan", true, 0.0 },
        { "NaN", true, 0.0 },
        { "-nan", true, 0.0 },
        { "", true, 0.0 },
        { "   ", true, 0.0 },
        { "abc", true, 0.0 },
        { "1x", true, 0.0 },
        { "-", true, 0.0 },
        { juce::var(), true, 0.0 },
        { nan, true, 0.0 },
        { "inf", false, inf },
        { "-inf", false, -inf },
        { "1e9", false, 1.0e9 },
        { "-6", false, -6.0 },
        { " 3.5 ", false, 3.5 },
        { "1e1", false, 10.0 },
        { "+2", false, 2.0 },
        { 4.0, false, 4.0 },
        { -9, false, -9.0 },
    };

    auto* gain = state.parameters.getParameter ("IN");
    ASSERT_NE (gain, nullptr);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.stored.toString() + (c.stored.isVoid() ? "(void)" : ""));
        setPlain (state, "IN", -7.0f);
        const float current = rawValue (state, "IN");

        auto preset = state.toPreset();
        paramChild (preset, "IN").setProperty ("value", c.stored, nullptr);
        state.fromPreset (preset);

        const float expected = c.keeps ? current : gain->convertFrom0to1 (gain->convertTo0to1 ((float) c.number));
        EXPECT_EQ (rawValue (state, "IN"), expected);

        // What runs is what is saved: a finite number, read back as the same value.
        const auto saved = paramChild (state.toPreset(), "IN")["value"];
        EXPECT_TRUE (std::isfinite ((double) saved)) << saved.toString();
        EXPECT_EQ ((float) saved, rawValue (state, "IN")) << saved.toString();
    }
}

TEST_F (PresetTreeTest, RepeatedParameterIdTheFirstCounts)
{
    // Each preset names IN twice; the first one holds (an unusable first value keeps the
    // current one), in what runs and in what is saved, and the next load changes nothing.
    struct Case { const char* first; const char* second; float expected; };
    const Case cases[] {
        { "-6", "6", -6.0f },
        { "6", "-6", 6.0f },
        { "nan", "6", -7.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.first) + " then " + c.second);
        setPlain (state, "IN", -7.0f);

        auto preset = state.toPreset();
        auto parameters = preset.getChildWithName (cvx::State::parametersID);
        paramChild (preset, "IN").setProperty ("value", c.first, nullptr);
        juce::ValueTree repeated { "PARAM" };
        repeated.setProperty ("id", "IN", nullptr).setProperty ("value", c.second, nullptr);
        parameters.appendChild (repeated, nullptr);

        state.fromPreset (preset);
        EXPECT_NEAR (rawValue (state, "IN"), c.expected, 1.0e-5);

        const auto saved = state.toPreset();
        const auto savedParameters = saved.getChildWithName (cvx::State::parametersID);
        EXPECT_EQ (savedParameters.getNumChildren(), 94);
        int named = 0;
        for (const auto& child : savedParameters)
            named += child["id"].toString() == "IN" ? 1 : 0;
        EXPECT_EQ (named, 1);
        EXPECT_NEAR ((float) paramChild (saved, "IN")["value"], c.expected, 1.0e-5);

        state.fromPreset (saved);
        EXPECT_NEAR (rawValue (state, "IN"), c.expected, 1.0e-5);
    }
}

TEST_F (PresetTreeTest, DirtyChangeNotifiesListeners)
{
    struct Recorder : juce::ValueTree::Listener
    {
        void valueTreePropertyChanged (juce::ValueTree&, const juce::Identifier& property) override
        {
            changed.add (property.toString());
        }
        juce::StringArray changed;
    } recorder;

    state.attributes.setProperty (cvx::State::Attributes::dirty, true, nullptr);
    state.attributes.addListener (&recorder);
    state.fromPreset (state.toPreset());
    state.attributes.removeListener (&recorder);

    EXPECT_TRUE (recorder.changed.contains ("dirty"));
}

TEST (StateColour, HexadecimalTextIsReadDigitByDigit)
{
    struct Case { const char* text; juce::uint32 argb; };
    const Case cases[] {
        { "ff00ff00", 0xff00ff00 },
        { "#ff00ff00", 0xff00ff00 },
        { "FF00FF00", 0xff00ff00 },
        { "00ff00", 0x0000ff00 },           // six digits: alpha 0
        { "ff808080", 0xff808080 },
        { "12345678ab", 0x345678ab },       // only the last eight digits count
        { "zz-12 34-zz", 0x00001234 },      // everything but hex digits is skipped
        { "xyz", 0 },                       // no hex digit: transparent black
        { "", 0 },
    };

    RecordingProcessor processor;
    for (const auto& c : cases)
    {
        processor.state.attributes.setProperty (cvx::State::Attributes::colour, c.text, nullptr);
        EXPECT_EQ (cvx::State::Attributes::getColour (processor.state).getARGB(), c.argb) << c.text;
    }

    processor.state.attributes.removeProperty (cvx::State::Attributes::colour, nullptr);
    EXPECT_EQ (cvx::State::Attributes::getColour (processor.state).getARGB(), 0xff808080u);
}

TEST (StateIdentifiers, TreeAndAttributeKeys)
{
    struct Case { const juce::Identifier& id; const char* text; };
    const Case cases[] {
        { cvx::State::stateID, "State" },
        { cvx::State::parametersID, "Parameters" },
        { cvx::State::propertiesID, "Properties" },
        { cvx::State::attributesID, "Attributes" },
        { cvx::State::serializedID, "Serialized" },
        { cvx::State::modulatorsID, "Modulators" },
        { cvx::State::Attributes::width, "width" },
        { cvx::State::Attributes::height, "height" },
        { cvx::State::Attributes::scale, "scale" },
        { cvx::State::Attributes::colour, "colour" },
        { cvx::State::Attributes::preset, "preset" },
        { cvx::State::Attributes::dirty, "dirty" },
        { cvx::State::Attributes::selmod, "selmod" },
    };
    for (const auto& c : cases)
        EXPECT_EQ (c.id.toString(), c.text);

    RecordingProcessor processor;
    EXPECT_EQ (processor.state.parameters.state.getType(), cvx::State::parametersID);
    EXPECT_EQ (processor.state.properties.getType(), cvx::State::propertiesID);
    EXPECT_EQ (processor.state.attributes.getType(), cvx::State::attributesID);
    EXPECT_EQ (processor.state.modulators.id, "Modulators");
    EXPECT_FALSE (processor.state.hostActive.load());
    EXPECT_EQ (processor.state.hostPosition.load(), 0.0);
    EXPECT_EQ (processor.state.hostTempo.load(), 120.0);
}
