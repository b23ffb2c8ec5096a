#include "CoreTestSupport.h"
#include "plugin/PluginProcessor.h"

#include <cmath>

namespace
{

using vyx::test::rawValue;

/** The parameter tables, written out independently of Layout.cpp. */
struct Record
{
    const char* id;
    const char* name;
    double start, end, interval, skew;
    bool logFrequency;
    double defaultValue;
};

constexpr double fine = 0.000001;

const std::vector<Record> globalRecords {
    { "IN", "Input Gain", -80, 12, fine, 1, false, 0 },
    { "DRY", "Dry Gain", -80, 12, fine, 1, false, -80 },
    { "WET", "Wet Gain", -80, 12, fine, 1, false, 0 },
    { "MIX", "Mix", 0, 100, fine, 1, false, 100 },
    { "OUT", "Output Gain", -80, 12, fine, 1, false, 0 },
    { "NUM", "Num Bands", 1, 8, 1, 1, false, 3 },
};

const std::vector<Record> bandRecords {
    { "BMIX", "Mix", 0, 1, fine, 1, false, 1 },
    { "THD", "Thresh Down", -60, 0, fine, 1, false, -8 },
    { "RAD", "Ratio Down", 1, 16, fine, 0.25, false, 4 },
    { "ATD", "Attack Down", 0, 450, fine, 0.35, false, 8 },
    { "RED", "Release Down", 0, 450, fine, 0.35, false, 50 },
    { "THU", "Thresh Up", -60, 0, fine, 1, false, -36 },
    { "RAU", "Ratio Up", 1, 16, fine, 0.25, false, 2 },
    { "ATU", "Attack Up", 0, 450, fine, 0.35, false, 50 },
    { "REU", "Release Up", 0, 450, fine, 0.35, false, 8 },
    { "CR", "Crossover Right", 20, 44000, 0, 1, true, 20000 },
    { "BON", "Enabled", 0, 1, 1, 1, false, 1 },
};

struct Instance
{
    juce::String id, name;
    Record record;
};

/** The 94 parameters in host order: globals, then band-major. */
std::vector<Instance> expectedInstances()
{
    std::vector<Instance> all;
    for (const auto& r : globalRecords)
        all.push_back ({ r.id, r.name, r });
    for (int b = 0; b < 8; ++b)
        for (const auto& r : bandRecords)
            all.push_back ({ juce::String (r.id) + juce::String (b), "Band " + juce::String (b) + " " + r.name, r });
    return all;
}

/** Plain to normalised by the range formulas. */
double normalise (const Record& r, double v)
{
    if (r.logFrequency)
        return std::log10 (v / r.start) / std::log10 (r.end / r.start);
    return std::pow ((v - r.start) / (r.end - r.start), r.skew);
}

/** Normalised to plain by the range formulas (before snapping). */
double denormalise (const Record& r, double p)
{
    if (r.logFrequency)
        return r.start * std::pow (r.end / r.start, p);
    return r.start + (r.end - r.start) * std::pow (p, 1.0 / r.skew);
}

juce::AudioParameterFloat* floatParameter (juce::AudioProcessor& processor, int index)
{
    return dynamic_cast<juce::AudioParameterFloat*> (processor.getParameters()[index]);
}

class LayoutTest : public ::testing::Test
{
protected:
    std::unique_ptr<juce::AudioProcessor> processor { createPluginFilter() };
    VyxAudioProcessor& vyx = dynamic_cast<VyxAudioProcessor&> (*processor);
};

} // namespace

TEST_F (LayoutTest, HostSeesNinetyFourParametersInLayoutOrder)
{
    const auto expected = expectedInstances();
    ASSERT_EQ (expected.size(), 94u);
    ASSERT_EQ (processor->getParameters().size(), 94);
    EXPECT_EQ (Layout::numParameters, 94);

    for (int i = 0; i < 94; ++i)
    {
        SCOPED_TRACE (expected[(size_t) i].id);
        auto* p = floatParameter (*processor, i);
        ASSERT_NE (p, nullptr) << "every parameter is an AudioParameterFloat";
        EXPECT_EQ (p->getParameterIndex(), i);
        EXPECT_EQ (p->paramID, expected[(size_t) i].id);
        EXPECT_EQ (p->getName (100), expected[(size_t) i].name);
        EXPECT_EQ (p->getVersionHint(), 1);
        EXPECT_EQ (p->getLabel(), juce::String());
        EXPECT_EQ (p->getCategory(), juce::AudioProcessorParameter::genericParameter);
        EXPECT_TRUE (p->isAutomatable());
        EXPECT_FALSE (p->isMetaParameter());
    }

    EXPECT_EQ (floatParameter (*processor, 6)->paramID, "BMIX0");
    EXPECT_EQ (floatParameter (*processor, 6)->getName (100), "Band 0 Mix");
    EXPECT_EQ (floatParameter (*processor, 93)->paramID, "BON7");
    EXPECT_EQ (floatParameter (*processor, 93)->getName (100), "Band 7 Enabled");
}

TEST_F (LayoutTest, RangesFollowTheRecords)
{
    const auto expected = expectedInstances();
    for (int i = 0; i < 94; ++i)
    {
        const auto& r = expected[(size_t) i].record;
        SCOPED_TRACE (expected[(size_t) i].id);
        const auto& range = floatParameter (*processor, i)->getNormalisableRange();
        EXPECT_FLOAT_EQ (range.start, (float) r.start);
        EXPECT_FLOAT_EQ (range.end, (float) r.end);
        EXPECT_EQ (range.interval, (float) r.interval);
        EXPECT_FLOAT_EQ (range.skew, (float) r.skew);
        EXPECT_FALSE (range.symmetricSkew);

        // The range's own mapping agrees with the formula across the whole span.
        for (double p : { 0.0, 0.1, 0.37, 0.5, 0.81, 1.0 })
        {
            const double plain = denormalise (r, p);
            const double snapped = r.interval > 0 ? r.start + r.interval * std::floor ((plain - r.start) / r.interval + 0.5)
                                                  : plain;
            EXPECT_NEAR (range.convertFrom0to1 ((float) p), plain, std::abs (plain) * 1.0e-5 + 1.0e-4) << "p " << p;
            EXPECT_NEAR (range.snapToLegalValue (range.convertFrom0to1 ((float) p)), snapped,
                         std::abs (snapped) * 1.0e-5 + 1.0e-4) << "p " << p;
        }
    }
}

TEST (LayoutRanges, FrequencyRangeIsLogarithmicAndOnlyClampsWhenSnapping)
{
    const auto& range = Layout::LOG_FREQ_RANGE;
    EXPECT_EQ (range.interval, 0.0f);
    EXPECT_EQ (range.skew, 1.0f);

    struct Case { float normalised; double hz; };
    for (const auto& c : { Case { 0.0f, 20.0 }, Case { 0.25f, 20.0 * std::pow (2200.0, 0.25) },
                           Case { 0.5f, 20.0 * std::sqrt (2200.0) }, Case { 1.0f, 44000.0 } })
    {
        EXPECT_NEAR (range.convertFrom0to1 (c.normalised), c.hz, c.hz * 1.0e-5);
        EXPECT_NEAR (range.convertTo0to1 ((float) c.hz), c.normalised, 1.0e-5);
    }

    // Outside the span the normalised form is clamped.
    EXPECT_EQ (range.convertTo0to1 (10.0f), 0.0f);
    EXPECT_EQ (range.convertTo0to1 (90000.0f), 1.0f);
    EXPECT_EQ (range.convertTo0to1 (0.0f), 0.0f);
    EXPECT_EQ (range.convertTo0to1 (-5.0f), 0.0f);

    EXPECT_EQ (range.snapToLegalValue (10.0f), 20.0f);
    EXPECT_EQ (range.snapToLegalValue (50000.0f), 44000.0f);
    EXPECT_EQ (range.snapToLegalValue (1234.567f), 1234.567f);
}

TEST_F (LayoutTest, FreshNormalisedValuesAreTheDefaultsWithFactoryCrossovers)
{
    const auto expected = expectedInstances();
    for (int i = 0; i < 94; ++i)
    {
        const auto& instance = expected[(size_t) i];
        double plain = instance.record.defaultValue;
        if (instance.id == "CR0")
            plain = 550.0;
        else if (instance.id == "CR1")
            plain = 2500.0;

        SCOPED_TRACE (instance.id);
        auto* p = processor->getParameters()[i];
        EXPECT_NEAR (p->getValue(), normalise (instance.record, plain), 1.0e-5);
        EXPECT_NEAR (rawValue (vyx.state, instance.id), plain, std::abs (plain) * 1.0e-5 + 1.0e-5);

        // The host's default is the record's, also for the factory-written crossovers.
        EXPECT_NEAR (p->getDefaultValue(), normalise (instance.record, instance.record.defaultValue), 1.0e-5);
    }
}

TEST_F (LayoutTest, MidpointOfEachRangeMapsToTheFormula)
{
    struct Case { const char* id; double expected; double tolerance; };
    const Case cases[] {
        { "RAD0", 1.0 + 15.0 * std::pow (0.5, 4.0), 1.0e-5 },          // 1.9375
        { "ATD0", 450.0 * std::pow (0.5, 1.0 / 0.35), 1.0e-3 },        // 62.105 ms
        { "CR0", 20.0 * std::pow (2200.0, 0.5), 1.0e-2 },              // 938.08 Hz
        { "THD0", -60.0 + 60.0 * 0.5, 1.0e-5 },                        // -30 dB
        { "IN", -80.0 + 92.0 * 0.5, 1.0e-5 },                          // -34 dB
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.id);
        auto* p = vyx.state.parameters.getParameter (c.id);
        ASSERT_NE (p, nullptr);
        EXPECT_NEAR (p->convertFrom0to1 (0.5f), c.expected, c.tolerance);
    }
}

TEST_F (LayoutTest, HostValueTextsUseTheIntervalsDecimalPlaces)
{
    struct Case { const char* id; const char* text; int decimals; };
    const Case cases[] {
        { "NUM", "3", 0 },
        { "BON0", "1", 0 },
        { "IN", "0.000000", 6 },
        { "THD0", "-8.000000", 6 },
        { "CR5", nullptr, 7 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.id);
        auto* p = vyx.state.parameters.getParameter (c.id);
        ASSERT_NE (p, nullptr);
        const auto text = p->getCurrentValueAsText();
        if (c.text != nullptr)
        {
            EXPECT_EQ (text, c.text);
        }

        const int point = text.indexOfChar ('.');
        EXPECT_EQ (point < 0 ? 0 : text.length() - point - 1, c.decimals) << text;
    }

    // Text coming back from the host is read as a number.
    auto* num = vyx.state.parameters.getParameter ("NUM");
    EXPECT_NEAR (num->getValueForText ("5"), 4.0 / 7.0, 1.0e-6);
    auto* thd = vyx.state.parameters.getParameter ("THD3");
    EXPECT_NEAR (thd->getValueForText ("-30.5"), 29.5 / 60.0, 1.0e-6);
}

TEST_F (LayoutTest, SecondInstanceLeavesTheFirstUntouched)
{
    vyx::test::setPlain (vyx.state, "THD2", -21.0f);
    vyx::test::setPlain (vyx.state, "NUM", 6.0f);
    const auto before = vyx::test::plainValues (*processor);

    std::unique_ptr<juce::AudioProcessor> second (createPluginFilter());
    auto& other = dynamic_cast<VyxAudioProcessor&> (*second);

    EXPECT_EQ (vyx::test::plainValues (*processor), before);
    EXPECT_NE (second->getParameters()[0], processor->getParameters()[0]);
    EXPECT_NEAR (rawValue (other.state, "THD2"), -8.0f, 1.0e-5);
    EXPECT_EQ (rawValue (other.state, "NUM"), 3.0f);

    vyx::test::setPlain (other.state, "THD2", -50.0f);
    EXPECT_EQ (vyx::test::plainValues (*processor), before);
}

TEST_F (LayoutTest, FactoryCrossoversAndTheBindingsThatPredateThem)
{
    struct Case { int band; double hz; };
    for (const auto& c : { Case { 0, 550.0 }, Case { 1, 2500.0 }, Case { 2, 20000.0 }, Case { 3, 20000.0 }, Case { 7, 20000.0 } })
        EXPECT_NEAR (rawValue (vyx.state, "CR" + juce::String (c.band)), c.hz, c.hz * 1.0e-5) << "band " << c.band;

    // The bindings pulled at construction, before the factory values were written.
    auto& bands = vyx.parameters.bands;
    ASSERT_EQ (bands.size(), 8u);
    EXPECT_NEAR (bands[0]->crossover.get(), 20000.0, 0.1);
    EXPECT_NEAR (bands[1]->crossover.get(), 20000.0, 0.1);
    EXPECT_NEAR (bands[0]->crossover.getModulated(), 20000.0, 0.1);

    // The first processed block pulls them.
    processor->prepareToPlay (48000.0, 512);
    juce::AudioBuffer<float> buffer (2, 512);
    buffer.clear();
    juce::MidiBuffer midi;
    processor->processBlock (buffer, midi);

    EXPECT_NEAR (bands[0]->crossover.get(), 550.0, 550.0 * 1.0e-5);
    EXPECT_NEAR (bands[1]->crossover.get(), 2500.0, 2500.0 * 1.0e-5);
    EXPECT_NEAR (bands[2]->crossover.get(), 20000.0, 0.1);
}

TEST_F (LayoutTest, BindingsCoverTheFortyEightParametersTheEngineReads)
{
    auto& p = vyx.parameters;
    std::vector<const cvx::AudioParameter*> bound { &p.inGain, &p.dryGain, &p.wetGain, &p.mix, &p.outGain,
                                                    &p.attack, &p.release, &p.numBands };
    juce::StringArray expected { "IN", "DRY", "WET", "MIX", "OUT", "ATD0", "RED0", "NUM" };
    for (int b = 0; b < 8; ++b)
    {
        const auto& band = *p.bands[(size_t) b];
        for (const auto* binding : { (const cvx::AudioParameter*) &band.crossover, (const cvx::AudioParameter*) &band.down.threshold,
                                     (const cvx::AudioParameter*) &band.down.ratio, (const cvx::AudioParameter*) &band.up.threshold,
                                     (const cvx::AudioParameter*) &band.up.ratio })
            bound.push_back (binding);
        for (const char* base : { "CR", "THD", "RAD", "THU", "RAU" })
            expected.add (base + juce::String (b));
    }

    ASSERT_EQ ((int) bound.size(), 48);
    for (size_t i = 0; i < bound.size(); ++i)
    {
        EXPECT_EQ (bound[i]->id, expected[(int) i]);
        EXPECT_EQ (bound[i]->getParameter(), vyx.state.parameters.getParameter (expected[(int) i]));
    }

    EXPECT_EQ (p.numBands.get(), 3);
    EXPECT_NEAR (p.attack.get(), 8.0f, 1.0e-4);
    EXPECT_NEAR (p.release.get(), 50.0f, 1.0e-4);
    EXPECT_NEAR (p.bands[4]->up.threshold.get(), -36.0f, 1.0e-4);
    EXPECT_NEAR (p.bands[4]->down.ratio.get(), 4.0f, 1.0e-4);
}

TEST (LayoutIdentifiers, ProductKeysAndTheirTrees)
{
    EXPECT_EQ (Properties::sidechain.toString(), "SIDE");
    EXPECT_EQ (Properties::limiter.toString(), "LIMIT");
    EXPECT_EQ (Properties::dryWet.toString(), "DRYWET");
    EXPECT_EQ (Attributes::oversampler.toString(), "OVER");
    EXPECT_EQ (Attributes::view.toString(), "VIEW");

    // Properties travel with a preset, attributes do not.
    std::unique_ptr<juce::AudioProcessor> processor (createPluginFilter());
    auto& state = dynamic_cast<VyxAudioProcessor&> (*processor).state;
    state.properties.setProperty (Properties::limiter, false, nullptr);
    state.attributes.setProperty (Attributes::oversampler, 2, nullptr);
    const auto preset = state.toPreset();
    EXPECT_TRUE (preset.getChildWithName (cvx::State::propertiesID).hasProperty (Properties::limiter));
    EXPECT_FALSE (preset.getChildWithName (cvx::State::propertiesID).hasProperty (Attributes::oversampler));
    for (const auto& child : preset)
        EXPECT_FALSE (child.hasProperty (Attributes::oversampler));
}
