// What a VST3 host sees of the plug-in's identity and parameters, through the built bundle.

#include "HostTestSupport.h"
#include "ExpectedParameters.h"

#include <set>

namespace
{

using vyx::test::expected::Parameter;

/** Number of digits after the decimal point of a value text (0 when it has none). */
int decimalsOf (const juce::String& text)
{
    const int dot = text.indexOfChar ('.');
    return dot < 0 ? 0 : text.length() - dot - 1;
}

/** Whether a plain value read back from the host is the expected one, allowing for the
    single-precision arithmetic of the range and for the text's last printed digit. */
bool isClose (double actual, double expected)
{
    return std::abs (actual - expected) <= 1.0e-5 * std::max (1.0, std::abs (expected)) + 1.0e-6;
}

class HostParameters : public vyx::test::SharedInstanceTest<HostParameters>
{
protected:

    static juce::HostedAudioProcessorParameter& parameter (int index)
    {
        return *instance->getHostedParameter (index);
    }

    static juce::HostedAudioProcessorParameter& parameter (const juce::String& id)
    {
        auto* p = vyx::test::findParameter (*instance, id);
        if (p == nullptr)
            throw std::runtime_error ("no hosted parameter for " + id.toStdString());
        return *p;
    }

};

TEST_F (HostParameters, NameAndFixedAnswers)
{
    EXPECT_EQ (instance->getName(), "Vyx");
    EXPECT_EQ (instance->getPluginDescription().name, "Vyx");
    EXPECT_EQ (instance->getPluginDescription().manufacturerName, "Corvane");
    // The host shows the version that the version check compares with the maker's reply.
    EXPECT_EQ (instance->getPluginDescription().version, cvx::VersionManager::currentVersion);
    EXPECT_EQ (instance->getTailLengthSeconds(), 0.0);
    EXPECT_FALSE (instance->acceptsMidi());
    EXPECT_FALSE (instance->producesMidi());
}

TEST (HostEditor, HostCanCreateTheEditorView)
{
    // Asking whether there is an editor makes JUCE's host create the plug-in's view (and with
    // it the editor) and release it again; its own instance keeps the others untouched.
    auto instance = vyx::test::loadBuiltPlugin();
    ASSERT_NE (instance, nullptr);
    EXPECT_TRUE (instance->hasEditor());
}

TEST_F (HostParameters, NinetyFourParametersAndTheWrappersBypassLast)
{
    const auto& all = instance->getParameters();
    ASSERT_EQ (all.size(), 95);
    EXPECT_EQ (instance->getBypassParameter(), all[94]);

    auto& bypass = parameter (94);
    EXPECT_EQ (bypass.getParameterID(), vyx::test::hostBypassParameterId());
    EXPECT_EQ (bypass.getName (128), "Bypass");
    EXPECT_EQ (bypass.getDefaultValue(), 0.0f);
    EXPECT_EQ (bypass.getValue(), 0.0f);
}

TEST_F (HostParameters, IdsNamesAndFlagsInHostOrder)
{
    const auto expected = vyx::test::expected::parameters();
    ASSERT_EQ ((int) expected.size(), 94);
    ASSERT_EQ (instance->getParameters().size(), 95);

    std::set<juce::String> seen;
    for (int i = 0; i < 94; ++i)
    {
        SCOPED_TRACE ("index " + juce::String (i) + " " + expected[(size_t) i].id);
        auto& p = parameter (i);
        EXPECT_EQ (p.getParameterID(), vyx::test::hostParameterId (expected[(size_t) i].id));
        EXPECT_EQ (p.getName (128), expected[(size_t) i].name);
        EXPECT_EQ (p.getLabel(), "");
        EXPECT_TRUE (p.isAutomatable());
        EXPECT_FALSE (p.isMetaParameter());
        seen.insert (p.getParameterID());
    }

    // An id collision would make a host save and automate two parameters as one.
    seen.insert (parameter (94).getParameterID());
    EXPECT_EQ (seen.size(), 95u);
}

TEST_F (HostParameters, RangesAsTheHostPrintsThem)
{
    const auto expected = vyx::test::expected::parameters();
    const double positions[] { 0.0, 0.3, 0.55, 1.0 };

    for (int i = 0; i < 94; ++i)
    {
        const auto& e = expected[(size_t) i];
        auto& p = parameter (i);
        for (const double position : positions)
        {
            const auto text = p.getText ((float) position, 128);
            SCOPED_TRACE (e.id + " at " + juce::String (position) + ": \"" + text + "\"");
            EXPECT_TRUE (isClose (text.getDoubleValue(), e.range.denormalise (position)));
            EXPECT_EQ (decimalsOf (text), e.range.decimals);
        }
    }
}

TEST_F (HostParameters, MidpointsMatchTheReferenceTable)
{
    struct Case { const char* id; double plain; };
    const Case cases[] {
        { "RAD0", 1.9375 }, { "RAU6", 1.9375 }, { "ATD0", 62.105 }, { "REU3", 62.105 },
        { "CR0", 938.08 }, { "CR7", 938.08 }, { "THD1", -30.0 }, { "THU5", -30.0 },
        { "IN", -34.0 }, { "OUT", -34.0 }, { "MIX", 50.0 }, { "BMIX2", 0.5 },
    };

    for (const auto& c : cases)
    {
        const auto text = parameter (c.id).getText (0.5f, 128);
        EXPECT_TRUE (isClose (text.getDoubleValue(), c.plain)) << c.id << ": \"" << text << "\"";
    }
}

TEST_F (HostParameters, DefaultsAndFreshValuesFollowTheRanges)
{
    const auto expected = vyx::test::expected::parameters();
    for (int i = 0; i < 94; ++i)
    {
        const auto& e = expected[(size_t) i];
        SCOPED_TRACE (e.id);
        auto& p = parameter (i);
        EXPECT_NEAR (p.getDefaultValue(), e.range.normalise (e.defaultValue), 2.0e-6);
        EXPECT_NEAR (p.getValue(), e.range.normalise (e.freshValue), 2.0e-6);
    }
}

TEST_F (HostParameters, FreshValuesMatchTheReferenceTable)
{
    struct Case { const char* id; double value; };
    const Case cases[] {
        { "IN", 0.869565 }, { "WET", 0.869565 }, { "OUT", 0.869565 }, { "DRY", 0.0 }, { "MIX", 1.0 },
        { "NUM", 0.285714 }, { "BMIX4", 1.0 }, { "BON6", 1.0 },
        { "THD0", 0.866667 }, { "THD7", 0.866667 }, { "THU3", 0.4 },
        { "RAD0", 0.668740 }, { "RAD5", 0.668740 }, { "RAU2", 0.508133 },
        { "ATD0", 0.244038 }, { "REU1", 0.244038 }, { "RED0", 0.463463 }, { "ATU7", 0.463463 },
        { "CR0", 0.430626 }, { "CR1", 0.627362 }, { "CR2", 0.897553 }, { "CR3", 0.897553 },
        { "CR4", 0.897553 }, { "CR5", 0.897553 }, { "CR6", 0.897553 }, { "CR7", 0.897553 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.id);
        EXPECT_NEAR (parameter (c.id).getValue(), c.value, 1.5e-6);
    }
}

TEST_F (HostParameters, ValueTextsAtFreshValues)
{
    struct Case { const char* id; const char* text; };
    const Case cases[] {
        { "NUM", "3" }, { "BON0", "1" }, { "BON7", "1" },
        { "IN", "0.000000" }, { "DRY", "-80.000000" }, { "MIX", "100.000000" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (parameter (c.id).getCurrentValueAsText(), c.text) << c.id;
}

TEST_F (HostParameters, TextFromTheHostIsReadAsANumber)
{
    const auto expected = vyx::test::expected::parameters();
    const auto rangeOf = [&expected] (const juce::String& id)
    {
        for (const auto& e : expected)
            if (e.id == id)
                return e.range;
        throw std::runtime_error ("unknown id");
    };

    struct Case { const char* id; const char* text; };
    const Case cases[] {
        { "IN", "-34" }, { "MIX", "25" }, { "THD2", "-30" }, { "RAD1", "1.9375" },
        { "ATD0", "62.105" }, { "CR2", "938.08" }, { "NUM", "5" }, { "BON4", "0" }, { "BMIX3", "0.125" },
    };

    for (const auto& c : cases)
    {
        const auto p = rangeOf (c.id).normalise (juce::String (c.text).getDoubleValue());
        EXPECT_NEAR (parameter (c.id).getValueForText (c.text), p, 1.0e-5) << c.id << " \"" << c.text << "\"";
    }
}

} // namespace
