#include "HostTestSupport.h"
#include "ui/PresetsTestSupport.h"
#include "plugin/PluginEditor.h"

namespace vyx::test
{
namespace
{

/** Runs a command line to its end; true when it exited with 0. */
bool run (const juce::String& command)
{
    juce::ChildProcess process;
    if (! process.start (command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        return false;
    process.readAllProcessOutput();
    return process.waitForProcessToFinish (20000) && process.getExitCode() == 0;
}

/** The whole X screen as the user sees it, read back from the server. */
juce::Image captureScreen()
{
    const auto file = getTestHome().getChildFile ("screen.png");
    file.deleteFile();
    if (! run ("import -window root png:" + file.getFullPathName()))
        return {};
    return juce::ImageFileFormat::loadFrom (file);
}

/** Share of the pixels of an area whose brightness differs by more than a quarter. */
float differingShare (const juce::Image& a, juce::Point<int> originA, const juce::Image& b, juce::Point<int> originB,
                      juce::Rectangle<int> area)
{
    int differing = 0;
    for (int y = 0; y < area.getHeight(); ++y)
        for (int x = 0; x < area.getWidth(); ++x)
        {
            const auto pa = a.getPixelAt (originA.x + area.getX() + x, originA.y + area.getY() + y);
            const auto pb = b.getPixelAt (originB.x + area.getX() + x, originB.y + area.getY() + y);
            differing += std::abs (pa.getBrightness() - pb.getBrightness()) > 0.25f ? 1 : 0;
        }
    return (float) differing / (float) std::max (1, area.getWidth() * area.getHeight());
}

/** The top bar as this tree's code lays it out and draws it over the editor's black, for an
    editor of the given size, showing the named preset. */
struct ReferenceTopBar
{
    ReferenceTopBar (juce::Rectangle<int> editorBounds, const juce::File& preset)
    {
        processor->state.attributes.setProperty (cvx::State::Attributes::preset,
                                                 preset.getFullPathName(), nullptr);
        backdrop.setBounds (editorBounds.withZeroOrigin());
        backdrop.addAndMakeVisible (bar);
        bar.setBounds (VyxAudioProcessorEditor::layout (backdrop.getLocalBounds()).topBar);
        bar.presetsMenu.refreshLabel();
    }

    ~ReferenceTopBar() { backdrop.removeAllChildren(); }

    /** A rectangle of the presets menu in editor coordinates. */
    juce::Rectangle<int> inEditor (const juce::Component& c) const
    {
        return backdrop.getLocalArea (&c, c.getLocalBounds());
    }

    struct Black : juce::Component
    {
        void paint (juce::Graphics& g) override { g.fillAll (juce::Colours::black); }
    };

    std::unique_ptr<VyxAudioProcessor> processor = makeProcessor();
    Black backdrop;
    TopBar bar { *processor };
};

TEST (HostPresetTest, NextPresetButtonInTheRealWindowLoadsTheLastUserPreset)
{
    PresetFolders folders;
    const auto alpha = folders.user().getChildFile ("Alpha.preset");
    const auto beta = folders.user().getChildFile ("Beta.preset");
    {
        // As the editor saves them: the last band's crossover pinned to the top of the range.
        auto source = makeProcessor();
        setPlain (*source, "CR2", Layout::CROSS_R.range.end);
        setPlain (*source, "IN", -6.0f);
        ASSERT_TRUE (cvx::ui::PresetFiles::write (source->state.toPreset(), alpha));
        setPlain (*source, "IN", 4.0f);
        setPlain (*source, "THD0", -25.0f);
        ASSERT_TRUE (cvx::ui::PresetFiles::write (source->state.toPreset(), beta));
    }

    auto instance = loadBuiltPlugin();
    ASSERT_NE (instance, nullptr);
    auto* input = findParameter (*instance, "IN");
    auto* threshold = findParameter (*instance, "THD0");
    ASSERT_NE (input, nullptr);
    ASSERT_NE (threshold, nullptr);
    const auto plainOf = [] (juce::AudioProcessorParameter& p, const Layout::Parameter& layout)
    {
        return layout.range.convertFrom0to1 (p.getValue());
    };
    ASSERT_NEAR (plainOf (*input, Layout::IN_GAIN), 0.0f, 1e-3f);

    std::unique_ptr<juce::AudioProcessorEditor> editor (instance->createEditorIfNeeded());
    ASSERT_NE (editor, nullptr);
    editor->addToDesktop (0);
    editor->setVisible (true);
    // Away from the top-left corner, where other tests running at the same time on this
    // display open their windows, and in front.
    editor->setTopLeftPosition (800, 620);
    editor->toFront (true);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (800);

    const auto editorBounds = editor->getScreenBounds();
    ReferenceTopBar reference (editorBounds, beta);
    const auto next = reference.inEditor (reference.bar.presetsMenu.nextButton);
    const auto label = reference.inEditor (reference.bar.presetsMenu.label);
    const auto click = editorBounds.getPosition() + next.getCentre();

    ASSERT_TRUE (run ("xdotool mousemove --sync " + juce::String (click.x) + " " + juce::String (click.y) + " click 1"));

    // With no current preset, "next" loads the last preset of the flat list: the last user preset.
    EXPECT_TRUE (runMessageLoopUntil ([&] { return std::abs (plainOf (*input, Layout::IN_GAIN) - 4.0f) < 1e-3f; }, 5000));
    EXPECT_NEAR (plainOf (*threshold, Layout::THRESH_DOWN), -25.0f, 1e-3f);

    // The host's saved state names the preset, still unedited once the values the host and the
    // parameter store hand back (with their own rounding) have come in.
    juce::MessageManager::getInstance()->runDispatchLoopUntil (1200);
    juce::MemoryBlock block;
    instance->getStateInformation (block);
    const auto component = vyx::host::getComponentState (block);
    const auto xml = juce::AudioProcessor::getXmlFromBinary (component.getData(), (int) component.getSize());
    ASSERT_NE (xml, nullptr);
    const auto* attributes = xml->getChildByName ("Attributes");
    ASSERT_NE (attributes, nullptr);
    EXPECT_EQ (attributes->getStringAttribute ("preset"), beta.getFullPathName());
    EXPECT_FALSE (attributes->getBoolAttribute ("dirty", true));

    // The name in the window, as the X server shows it, is the name drawn for "Beta".
    const auto screen = captureScreen();
    ASSERT_TRUE (screen.isValid());
    const auto picture = screen.getClippedImage (editorBounds.withHeight (60));
    juce::FileOutputStream out (getArtifactFolder().getChildFile ("host-preset-bar.png"));
    out.setPosition (0);
    out.truncate();
    juce::PNGImageFormat().writeImageToStream (picture, out);

    const auto drawnBeta = reference.backdrop.createComponentSnapshot (reference.backdrop.getLocalBounds());
    ReferenceTopBar alphaReference (editorBounds, alpha);
    const auto drawnAlpha = alphaReference.backdrop.createComponentSnapshot (alphaReference.backdrop.getLocalBounds());

    {
        juce::FileOutputStream ref (getArtifactFolder().getChildFile ("host-preset-bar-expected.png"));
        ref.setPosition (0);
        ref.truncate();
        juce::PNGImageFormat().writeImageToStream (drawnBeta.getClippedImage ({ 0, 0, editorBounds.getWidth(), 60 }), ref);
    }

    EXPECT_LT (differingShare (screen, editorBounds.getPosition(), drawnBeta, {}, label), 0.02f);
    EXPECT_GT (differingShare (screen, editorBounds.getPosition(), drawnAlpha, {}, label), 0.02f);

    editor.reset();
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
}

} // namespace
} // namespace vyx::test
