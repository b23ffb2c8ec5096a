#include "ui/PresetsTestSupport.h"
#include "plugin/editor/TopBar.h"

namespace vyx::test
{
namespace
{

using FadeState = cvx::AudioProcessor::FadeState;

/** A processor, fresh preset folders and the product top bar, with the browser replaced. */
struct TopBarFixture : public ::testing::Test
{
    TopBarFixture()
    {
        previousLauncher = cvx::ui::TopBar::launchBrowser;
        cvx::ui::TopBar::launchBrowser = [this] (const juce::URL& url) { opened.add (url.toString (true)); };
        bar = std::make_unique<TopBar> (*processor);
        bar->setBounds (0, 0, 700, 60);
    }

    ~TopBarFixture() override
    {
        bar.reset();
        processor.reset();
        cvx::ui::TopBar::launchBrowser = previousLauncher;
    }

    juce::ValueTree& attributes() { return processor->state.attributes; }
    juce::ValueTree& properties() { return processor->state.properties; }

    /** Runs blocks of silence, and the message loop while the output is silent, until the
        fade cycle the (prepared) processor is in has come back to normal. */
    void finishFadeCycle()
    {
        juce::AudioBuffer<float> buffer (2, processor->getProcessSpec().maximumBlockSize);
        juce::MidiBuffer midi;
        for (int i = 0; i < 1000 && processor->getFadeState() != FadeState::normal; ++i)
        {
            buffer.clear();
            processor->processBlock (buffer, midi);
            if (processor->getFadeState() == FadeState::silent)
                runMessageLoopUntil ([this] { return processor->getFadeState() != FadeState::silent; });
        }
        ASSERT_EQ (processor->getFadeState(), FadeState::normal);
    }

    PresetFolders folders;
    std::unique_ptr<VyxAudioProcessor> processor = makeProcessor();
    std::unique_ptr<TopBar> bar;
    juce::StringArray opened;
    std::function<void (const juce::URL&)> previousLauncher;
};

struct Expected
{
    juce::String text;
    bool enabled, ticked;
};

void expectItems (const juce::PopupMenu& menu, const std::vector<Expected>& expected)
{
    const auto items = itemsOf (menu);
    ASSERT_EQ (items.size(), expected.size() + 1);  // the colour picker comes last
    for (size_t i = 0; i < expected.size(); ++i)
    {
        SCOPED_TRACE (juce::String ((int) i) + " " + expected[i].text);
        if (expected[i].text == "---")
        {
            EXPECT_TRUE (items[i]->isSeparator);
            continue;
        }
        EXPECT_EQ (items[i]->text, expected[i].text);
        EXPECT_EQ (items[i]->isEnabled, expected[i].enabled);
        EXPECT_EQ (items[i]->isTicked, expected[i].ticked);
        EXPECT_EQ (items[i]->action != nullptr, expected[i].enabled);
    }

    const auto* picker = items.back();
    EXPECT_EQ (picker->itemID, 32);
    EXPECT_EQ (picker->subMenu, nullptr);
    ASSERT_NE (dynamic_cast<cvx::ui::ColourPicker*> (picker->customComponent.get()), nullptr);
}

//==============================================================================
TEST_F (TopBarFixture, MainMenuOfAFreshInstance)
{
    bar->isNewVersionAvailable = [] { return false; };
    expectItems (bar->getMainMenu(), {
        { "v" CVX_PRODUCT_VERSION, false, false },
        { "Website", true, false },
        { "Discord", true, false },
        { "---", false, false },
        { "Oversampling", false, false },
        { "None", true, true },
        { "2x", true, false },
        { "4x", true, false },
        { "8x", true, false },
        { "---", false, false },
        { "Mixer", false, false },
        { "Dry / Wet", true, false },
        { "Mix / Output", true, true },   // the engine runs mix and output without DRYWET
        { "---", false, false },
        { "Limiter", false, false },
        { "On", true, true },
        { "Off", true, false },
        { "---", false, false },
        { "Sidechain", false, false },
        { "On", true, false },
        { "Off", true, true },
    });
}

TEST_F (TopBarFixture, TicksFollowTheStateAndANewVersionTicksTheWebsite)
{
    bar->isNewVersionAvailable = [] { return true; };
    attributes().setProperty (Attributes::oversampler, 3, nullptr);
    properties().setProperty (Properties::dryWet, true, nullptr);
    properties().setProperty (Properties::limiter, false, nullptr);
    properties().setProperty (Properties::sidechain, true, nullptr);

    expectItems (bar->getMainMenu(), {
        { "v" CVX_PRODUCT_VERSION, false, false },
        { "Website (New Version Available!)", true, true },
        { "Discord", true, false },
        { "---", false, false },
        { "Oversampling", false, false },
        { "None", true, false },
        { "2x", true, false },
        { "4x", true, false },
        { "8x", true, true },
        { "---", false, false },
        { "Mixer", false, false },
        { "Dry / Wet", true, true },
        { "Mix / Output", true, false },
        { "---", false, false },
        { "Limiter", false, false },
        { "On", true, false },
        { "Off", true, true },
        { "---", false, false },
        { "Sidechain", false, false },
        { "On", true, true },
        { "Off", true, false },
    });

    // A damaged oversampling value ticks no factor.
    attributes().setProperty (Attributes::oversampler, 7, nullptr);
    const auto menu = bar->getMainMenu();
    for (auto text : { "None", "2x", "4x", "8x" })
        EXPECT_FALSE (findItem (menu, text)->isTicked) << text;
}

TEST_F (TopBarFixture, LinksOpenThroughTheBrowserSeam)
{
    const auto menu = bar->getMainMenu();
    const auto* website = findItem (menu, "Website");
    ASSERT_NE (website, nullptr);
    website->action();
    findItem (menu, "Discord")->action();

    ASSERT_EQ (opened.size(), 2);
    EXPECT_EQ (opened[0], cvx::ui::TopBar::websiteAddress);
    EXPECT_EQ (opened[1], cvx::ui::TopBar::communityAddress);
    EXPECT_TRUE (opened[0].startsWith ("https://"));
    EXPECT_TRUE (opened[1].startsWith ("https://"));
}

TEST_F (TopBarFixture, SettingsItemsWriteTheStateAndOversamplingStartsAFade)
{
    struct Case { int index; const juce::Identifier* key; juce::var value; bool fades; };
    // Indices into the main menu's items.
    const Case cases[] {
        { 6, &Attributes::oversampler, 1, true },
        { 7, &Attributes::oversampler, 2, true },
        { 8, &Attributes::oversampler, 3, true },
        { 5, &Attributes::oversampler, 0, true },
        { 11, &Properties::dryWet, true, false },
        { 12, &Properties::dryWet, false, false },
        { 16, &Properties::limiter, false, false },
        { 15, &Properties::limiter, true, false },
        { 19, &Properties::sidechain, true, false },
        { 20, &Properties::sidechain, false, false },
    };

    // A prepared engine, so that each cycle a choice starts can run to its end.
    processor->setRateAndBufferSizeDetails (48000.0, 256);
    processor->prepareToPlay (48000.0, 256);

    for (const auto& c : cases)
    {
        const auto menu = bar->getMainMenu();
        const auto items = itemsOf (menu);
        SCOPED_TRACE (items[(size_t) c.index]->text);
        ASSERT_EQ (processor->getFadeState(), FadeState::normal);
        items[(size_t) c.index]->action();

        auto& tree = c.key == &Attributes::oversampler ? attributes() : properties();
        EXPECT_EQ (tree.getProperty (*c.key), c.value);
        EXPECT_EQ (processor->getFadeState(), c.fades ? FadeState::fadingOut : FadeState::normal);
        finishFadeCycle();
    }

    // Choosing the factor that is already ticked still asks for one cycle.
    findItem (bar->getMainMenu(), "None")->action();
    EXPECT_EQ (processor->getFadeState(), FadeState::fadingOut);
    finishFadeCycle();
    processor->releaseResources();
}

TEST_F (TopBarFixture, AChoiceDuringAFadeCycleQueuesNoSecondRebuild)
{
    processor->setRateAndBufferSizeDetails (48000.0, 256);
    processor->prepareToPlay (48000.0, 256);
    juce::AudioBuffer<float> buffer (2, 256);
    juce::MidiBuffer midi;
    const auto block = [&]
    {
        buffer.clear();
        processor->processBlock (buffer, midi);
    };

    findItem (bar->getMainMenu(), "2x")->action();
    ASSERT_EQ (processor->getFadeState(), FadeState::fadingOut);

    // Fade out until the engine is silent and its rebuild is queued on the message thread.
    for (int i = 0; i < 100 && processor->getFadeState() != FadeState::silent; ++i)
        block();
    ASSERT_EQ (processor->getFadeState(), FadeState::silent);

    // A second choice now is picked up by the queued rebuild; it must not start another cycle.
    findItem (bar->getMainMenu(), "4x")->action();
    EXPECT_EQ (processor->getFadeState(), FadeState::silent);

    ASSERT_TRUE (runMessageLoopUntil ([&] { return processor->getFadeState() == FadeState::fadingIn; }));
    EXPECT_EQ (processor->getOversamplingFactor(), 4);
    for (int i = 0; i < 100 && processor->getFadeState() != FadeState::normal; ++i)
        block();
    EXPECT_EQ (processor->getFadeState(), FadeState::normal);

    // No further rebuild is waiting.
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    block();
    EXPECT_EQ (processor->getFadeState(), FadeState::normal);

    // During the fade-in the engine already has the old factor: a choice starts a new cycle.
    findItem (bar->getMainMenu(), "8x")->action();
    for (int i = 0; i < 100 && processor->getFadeState() != FadeState::silent; ++i)
        block();
    ASSERT_TRUE (runMessageLoopUntil ([&] { return processor->getFadeState() == FadeState::fadingIn; }));
    findItem (bar->getMainMenu(), "2x")->action();
    EXPECT_EQ (processor->getFadeState(), FadeState::fadingOut);
    processor->releaseResources();
}

TEST_F (TopBarFixture, OversamplingChoiceReachesAPreparationOnAnotherThread)
{
    findItem (bar->getMainMenu(), "8x")->action();

    // The host may prepare on its own thread; it reads the choice through the processor's mirror.
    std::thread host ([&] { processor->prepareToPlay (44100.0, 128); });
    host.join();
    EXPECT_EQ (processor->getOversamplingFactor(), 8);
}

//==============================================================================
struct MigrationCase
{
    const char* name;
    std::optional<float> dry, wet, out;
};

juce::ValueTree legacyPreset (const MigrationCase& c, const juce::Identifier& type = cvx::State::stateID)
{
    juce::ValueTree parameters (type == cvx::State::stateID ? cvx::State::parametersID : type);
    const auto add = [&] (const char* id, std::optional<float> v)
    {
        if (! v.has_value())
            return;
        juce::ValueTree p ("PARAM");
        p.setProperty ("id", id, nullptr);
        p.setProperty ("value", (double) *v, nullptr);
        parameters.appendChild (p, nullptr);
    };
    add ("DRY", c.dry);
    add ("WET", c.wet);
    add ("OUT", c.out);
    add ("IN", -2.0f);

    if (type != cvx::State::stateID)
        return parameters;

    juce::ValueTree preset (cvx::State::stateID);
    preset.appendChild (parameters, nullptr);
    preset.appendChild (juce::ValueTree (cvx::State::propertiesID), nullptr);
    return preset;
}

float paramOf (const juce::ValueTree& preset, const char* id)
{
    const auto child = preset.getChildWithName (cvx::State::parametersID).getChildWithProperty ("id", id);
    EXPECT_TRUE (child.isValid()) << id;
    return (float) child.getProperty ("value");
}

TEST_F (TopBarFixture, LegacyPresetsGetTheMixAndOutputOfTheirDryAndWetGains)
{
    const MigrationCase cases[] {
        { "dry -80, wet 0", -80.0f, 0.0f, 0.0f },
        { "dry and wet at 0", 0.0f, 0.0f, 0.0f },
        { "dry -6, wet -12, out 2", -6.0f, -12.0f, 2.0f },
        { "dry alone", 0.0f, -100.0f, -3.0f },
        { "defaults when missing", std::nullopt, std::nullopt, std::nullopt },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto preset = legacyPreset (c);
        bar->migrateLegacyPreset (preset);

        const auto gain = [] (float dB) { return dB > -100.0f ? std::pow (10.0, dB / 20.0) : 0.0; };
        const auto dry = gain (c.dry.value_or (-80.0f));
        const auto wet = gain (c.wet.value_or (0.0f));
        const auto expectedMix = wet / (dry + wet) * 100.0;
        const auto expectedOut = c.out.value_or (0.0f) + 20.0 * std::log10 (dry + wet);

        EXPECT_NEAR (paramOf (preset, "MIX"), expectedMix, 1e-3);
        EXPECT_NEAR (paramOf (preset, "OUT"), expectedOut, 1e-4);
        // The old values stay.
        if (c.dry.has_value())
        {
            EXPECT_EQ (paramOf (preset, "DRY"), *c.dry);
        }
        EXPECT_EQ (paramOf (preset, "IN"), -2.0f);
    }

    // The two worked examples: about 99.99 % and +0.0009 dB; 50 % and +6.02 dB.
    auto a = legacyPreset ({ "", -80.0f, 0.0f, 0.0f });
    bar->migrateLegacyPreset (a);
    EXPECT_NEAR (paramOf (a, "MIX"), 99.99f, 0.005f);
    EXPECT_NEAR (paramOf (a, "OUT"), 0.0009f, 0.0001f);
    auto b = legacyPreset ({ "", 0.0f, 0.0f, 0.0f });
    bar->migrateLegacyPreset (b);
    EXPECT_NEAR (paramOf (b, "MIX"), 50.0f, 1e-4f);
    EXPECT_NEAR (paramOf (b, "OUT"), 6.0206f, 1e-3f);
}

TEST_F (TopBarFixture, LegacyPresetWithBothPathsSilentKeepsItsOutputAndGoesAllWet)
{
    for (auto levels : { std::pair { -100.0f, -100.0f }, std::pair { -120.0f, -200.0f } })
    {
        auto preset = legacyPreset ({ "", levels.first, levels.second, 3.0f });
        bar->migrateLegacyPreset (preset);
        EXPECT_EQ (paramOf (preset, "MIX"), 100.0f);
        EXPECT_EQ (paramOf (preset, "OUT"), 3.0f);
        EXPECT_TRUE (std::isfinite (paramOf (preset, "MIX")));
    }
}

TEST_F (TopBarFixture, ABareParameterTreeIsWrappedIntoAPresetOfTheCurrentState)
{
    properties().setProperty (Properties::sidechain, true, nullptr);
    auto preset = legacyPreset ({ "", 0.0f, 0.0f, 1.0f }, juce::Identifier ("PARAMETERS"));
    bar->migrateLegacyPreset (preset);

    EXPECT_TRUE (preset.hasType (cvx::State::stateID));
    EXPECT_TRUE ((bool) preset.getChildWithName (cvx::State::propertiesID).getProperty (Properties::sidechain));
    EXPECT_TRUE (preset.getChildWithName (cvx::State::serializedID).isValid());
    EXPECT_TRUE (preset.getChildWithName (cvx::State::modulatorsID).isValid());
    // Only the file's parameters, then converted.
    EXPECT_EQ (preset.getChildWithName (cvx::State::parametersID).getNumChildren(), 5);
    EXPECT_NEAR (paramOf (preset, "MIX"), 50.0f, 1e-4f);
    EXPECT_NEAR (paramOf (preset, "OUT"), 1.0f + 20.0f * std::log10 (2.0f), 1e-4f);
}

TEST_F (TopBarFixture, CurrentPresetsAndForeignTreesPassThroughUntouched)
{
    setPlain (*processor, "DRY", -3.0f);
    setPlain (*processor, "WET", -9.0f);
    auto current = processor->state.toPreset();
    const auto before = current.toXmlString();
    bar->migrateLegacyPreset (current);
    EXPECT_EQ (current.toXmlString(), before);

    juce::ValueTree foreign ("Something");
    foreign.setProperty ("x", 1, nullptr);
    const auto foreignBefore = foreign.toXmlString();
    bar->migrateLegacyPreset (foreign);
    EXPECT_EQ (foreign.toXmlString(), foreignBefore);
}

TEST_F (TopBarFixture, LoadingALegacyFileAppliesTheConvertedValues)
{
    const auto file = writeText (folders.user().getChildFile ("Old.preset"),
                                 "<PARAMETERS><PARAM id=\"DRY\" value=\"0\"/><PARAM id=\"WET\" value=\"0\"/>"
                                 "<PARAM id=\"OUT\" value=\"-10\"/></PARAMETERS>");
    bar->presetsMenu.loadPreset (file);

    EXPECT_EQ (cvx::ui::PresetFiles::getCurrentPreset (processor->state), file);
    EXPECT_NEAR (getPlain (*processor, "MIX"), 50.0f, 1e-3f);
    EXPECT_NEAR (getPlain (*processor, "OUT"), -10.0f + 20.0f * std::log10 (2.0f), 1e-3f);

    // Silent legacy paths with a NaN output never reach a parameter as NaN.
    const auto silent = writeText (folders.user().getChildFile ("Silent.preset"),
                                   "<PARAMETERS><PARAM id=\"DRY\" value=\"-150\"/><PARAM id=\"WET\" value=\"-150\"/>"
                                   "<PARAM id=\"OUT\" value=\"nan\"/></PARAMETERS>");
    bar->presetsMenu.loadPreset (silent);
    EXPECT_EQ (getPlain (*processor, "MIX"), 100.0f);
    for (auto* p : processor->getParameters())
        EXPECT_TRUE (std::isfinite (p->getValue()));
}

//==============================================================================
TEST_F (TopBarFixture, LayoutGivesTheLogoItsNaturalWidthOrTheWholeBar)
{
    const auto t = cvx::assets::fonts::Montserrat::Light.withHeight (28.0f).getStringWidthFloat ("Vyx");

    bar->setBounds (0, 0, 700, 60);
    const auto natural = (int) (std::ceil (t) + 1.1 * 50);
    EXPECT_EQ (bar->logoButton.getBounds(), juce::Rectangle<int> (5, 5, natural, 50));
    EXPECT_EQ (bar->presetsMenu.getBounds(), juce::Rectangle<int> (natural, 0, 690 - natural + 10, 60));

    bar->setBounds (0, 0, 40, 60);
    EXPECT_EQ (bar->logoButton.getBounds(), juce::Rectangle<int> (5, 5, 30, 50));
    EXPECT_EQ (bar->presetsMenu.getBounds(), juce::Rectangle<int> (30, 0, 10, 60));
}

TEST_F (TopBarFixture, LogoShowsTheNoticeDotOnlyWithANewVersion)
{
    bar->setBounds (0, 0, 600, 60);
    attributes().setProperty (cvx::State::Attributes::colour, "ff3366aa", nullptr);

    struct Backdrop : juce::Component
    {
        void paint (juce::Graphics& g) override { g.fillAll (juce::Colours::black); }
    } backdrop;
    backdrop.setBounds (0, 0, 600, 60);
    backdrop.addAndMakeVisible (*bar);

    for (bool newVersion : { false, true })
    {
        SCOPED_TRACE (newVersion);
        bar->isNewVersionAvailable = [newVersion] { return newVersion; };
        const auto image = backdrop.createComponentSnapshot (backdrop.getLocalBounds());

        const auto file = getArtifactFolder().getChildFile (newVersion ? "top-bar-new-version.png" : "top-bar.png");
        file.deleteFile();
        juce::FileOutputStream out (file);
        juce::PNGImageFormat().writeImageToStream (image, out);

        // The dot is 6 pixels at the button's corner, outside the disc, in the idle text colour (white).
        const auto corner = image.getPixelAt (5 + 2, 5 + 2);
        EXPECT_EQ (corner.getBrightness() > 0.9f, newVersion);

        // The disc is the theme colour's opposite hue at brightness 0.8.
        const auto disc = image.getPixelAt (5 + 6, 5 + 25);
        const auto expected = juce::Colour (0xff3366aa).withRotatedHue (0.5f).withBrightness (0.8f);
        EXPECT_NEAR (disc.getRed(), expected.getRed(), 3);
        EXPECT_NEAR (disc.getGreen(), expected.getGreen(), 3);
        EXPECT_NEAR (disc.getBlue(), expected.getBlue(), 3);
    }

    backdrop.removeChildComponent (bar.get());
}

} // namespace
} // namespace vyx::test
