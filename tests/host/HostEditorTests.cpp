// The built bundle's editor in real windows, as a DAW opens, resizes and closes it, and the
// test host's screenshot of it.

#include "HostTestSupport.h"
#include "plugin/PluginEditor.h"

#include <thread>

namespace vyx::test
{
namespace
{
    // Real windows need the window manager up before the first test touches one.
    [[maybe_unused]] const bool windowManagerInUse = useWindowManager();

    void pump (int milliseconds)
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
    }

    /** The host's side of an open editor window: the framework's wrapper of the plug-in's
        view, on the desktop. */
    std::unique_ptr<juce::AudioProcessorEditor> openWindow (juce::AudioPluginInstance& instance)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (instance.createEditorIfNeeded());
        if (editor == nullptr)
        {
            ADD_FAILURE() << "the plug-in opened no editor";
            return {};
        }
        editor->addToDesktop (juce::ComponentPeer::windowAppearsOnTaskbar);
        editor->setTopLeftPosition (30, 30);
        editor->setVisible (true);
        pump (50);
        return editor;
    }

    /** Processes noise through the instance on its own thread, as a DAW's audio thread does,
        for as long as it lives. */
    class AudioThread
    {
    public:
        AudioThread (juce::AudioPluginInstance& p, int blockSize)
            : instance (p),
              buffer (std::max (p.getTotalNumInputChannels(), p.getTotalNumOutputChannels()), blockSize),
              thread ([this] { run(); })
        {
        }

        ~AudioThread()
        {
            running = false;
            thread.join();
        }

        int blocks() const { return processed.load(); }
        bool allFinite() const { return finite.load(); }

    private:
        void run()
        {
            juce::Random random (3);
            juce::MidiBuffer midi;
            while (running)
            {
                for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
                    for (int i = 0; i < buffer.getNumSamples(); ++i)
                        buffer.setSample (ch, i, 0.5f * (random.nextFloat() * 2.0f - 1.0f));
                instance.processBlock (buffer, midi);
                if (! isFinite (buffer))
                    finite = false;
                ++processed;
                std::this_thread::sleep_for (std::chrono::milliseconds (1));
            }
        }

        juce::AudioPluginInstance& instance;
        juce::AudioBuffer<float> buffer;
        std::atomic<bool> running { true }, finite { true };
        std::atomic<int> processed { 0 };
        std::thread thread;
    };

    /** Resizes the host's window as a user dragging its corner does: the request is repeated
        until the size holds (the plug-in's view may still answer an earlier size while it
        opens). True once the size has held for a few frames. */
    bool resizeWindow (juce::AudioProcessorEditor& editor, int width, int height)
    {
        int steady = 0;
        for (int attempt = 0; attempt < 100 && steady < 4; ++attempt)
        {
            if (editor.getWidth() != width || editor.getHeight() != height)
            {
                editor.setSize (width, height);
                steady = 0;
            }
            else
            {
                ++steady;
            }
            pump (20);
        }
        return steady >= 4;
    }

    struct ScreenshotRun
    {
        int exitCode = -1;
        juce::String output;
        juce::Image image;
    };

    /** Runs `vyxhost screenshot` on this process's own display (no other window is open on
        it while the tool runs) and reads the picture it wrote. */
    ScreenshotRun runScreenshot (const juce::StringArray& sizeArguments)
    {
        const auto file = getArtifactFolder().getChildFile ("vyxhost-screenshot-"
                                                            + (sizeArguments.isEmpty() ? juce::String ("default")
                                                                                       : sizeArguments.joinIntoString ("x"))
                                                            + ".png");
        file.deleteFile();

        juce::StringArray command { VYX_HOST_TOOL, "screenshot", file.getFullPathName() };
        command.addArray (sizeArguments);

        ScreenshotRun run;
        juce::ChildProcess process;
        if (! process.start (command))
        {
            ADD_FAILURE() << "cannot start " << VYX_HOST_TOOL;
            return run;
        }
        run.output = process.readAllProcessOutput();
        process.waitForProcessToFinish (60000);
        run.exitCode = (int) process.getExitCode();
        run.image = juce::ImageFileFormat::loadFrom (file);
        return run;
    }
} // namespace

TEST (HostEditor, OpenResizeCloseTwentyTimesWhileAudioRuns)
{
    auto instance = loadBuiltPlugin (48000.0, 256);
    ASSERT_NE (instance, nullptr);
    prepare (*instance, 48000.0, 256);

    {
        AudioThread audio (*instance, 256);
        for (int i = 0; i < 20; ++i)
        {
            SCOPED_TRACE (i);
            auto editor = openWindow (*instance);
            ASSERT_NE (editor, nullptr);
            ASSERT_NE (editor->getPeer(), nullptr);

            const int width = 440 + 37 * (i % 7), height = 330 + 23 * (i % 5);
            EXPECT_TRUE (resizeWindow (*editor, width, height));
            EXPECT_EQ (editor->getWidth(), width);
            EXPECT_EQ (editor->getHeight(), height);
            editor.reset();
            pump (10);
        }

        // The audio kept running all along.
        EXPECT_GT (audio.blocks(), 20);
        EXPECT_TRUE (audio.allFinite());
    }
    instance->releaseResources();
}

TEST (HostEditor, WindowSizeSurvivesReopeningAndAProjectReload)
{
    auto instance = loadBuiltPlugin();
    ASSERT_NE (instance, nullptr);

    // A new instance opens at the default size.
    {
        auto editor = openWindow (*instance);
        ASSERT_NE (editor, nullptr);
        EXPECT_EQ (editor->getWidth(), VyxAudioProcessorEditor::defaultWidth);
        EXPECT_EQ (editor->getHeight(), VyxAudioProcessorEditor::defaultHeight);
        ASSERT_TRUE (resizeWindow (*editor, 731, 512));
    }
    pump (20);

    {
        auto editor = openWindow (*instance);
        ASSERT_NE (editor, nullptr);
        EXPECT_EQ (editor->getWidth(), 731);
        EXPECT_EQ (editor->getHeight(), 512);
    }
    pump (20);

    // Saved with the project and restored into another instance.
    juce::MemoryBlock saved;
    instance->getStateInformation (saved);
    instance.reset();

    auto restored = loadBuiltPlugin();
    ASSERT_NE (restored, nullptr);
    restored->setStateInformation (saved.getData(), (int) saved.getSize());
    pump (20);
    auto editor = openWindow (*restored);
    ASSERT_NE (editor, nullptr);
    EXPECT_EQ (editor->getWidth(), 731);
    EXPECT_EQ (editor->getHeight(), 512);
}

TEST (HostEditor, ScreenshotShowsThePluginsWindow)
{
    struct Case { juce::StringArray arguments; int width, height; };
    const Case cases[] = {
        { {}, VyxAudioProcessorEditor::defaultWidth, VyxAudioProcessorEditor::defaultHeight },
        { { "900", "600" }, 900, 600 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.arguments.joinIntoString (" "));
        const auto run = runScreenshot (c.arguments);
        ASSERT_EQ (run.exitCode, 0) << run.output;
        EXPECT_TRUE (run.output.contains ("wrote")) << run.output;
        ASSERT_TRUE (run.image.isValid());
        ASSERT_EQ (run.image.getWidth(), c.width);
        ASSERT_EQ (run.image.getHeight(), c.height);

        // Black where no panel draws: the band editor's side margin and the fader strip's gaps.
        const auto strip = VyxAudioProcessorEditor::layout ({ 0, 0, c.width, c.height }).bottomBar;
        const auto cells = BottomBar::cellBounds (strip.getWidth(), strip.getHeight());
        for (auto point : { juce::Point<int> (2, c.height / 2),
                            juce::Point<int> (1, strip.getY() + strip.getHeight() / 2),
                            juce::Point<int> (cells[0].getRight() + 2, strip.getY() + strip.getHeight() / 2) })
        {
            EXPECT_LT (run.image.getPixelAt (point.x, point.y).getBrightness(), 0.02f) << point.toString();
        }

        // The fader cells in the theme colour: a new instance's hue is random, but its
        // saturation is 0.75. Near its top a cell shows its background (brightness 0.3),
        // unless its fader is at the top of its range and the level bar fills it (0.5).
        const Layout::Parameter* defaults[] = { &Layout::IN_GAIN, &Layout::ATTACK_DOWN, &Layout::RELEASE_DOWN,
                                                &Layout::MIX_PERCENT, &Layout::OUT_GAIN };
        for (size_t i = 0; i < cells.size(); ++i)
        {
            const auto& cell = cells[i];
            const bool full = defaults[i]->range.convertTo0to1 (defaults[i]->defaultValue) >= 1.0f;
            const auto colour = run.image.getPixelAt (cell.getX() + 6, strip.getY() + cell.getY() + 1);
            EXPECT_NEAR (colour.getBrightness(), full ? 0.5f : 0.3f, 0.02f) << i;
            EXPECT_NEAR (colour.getSaturation(), 0.75f, 0.04f) << i;
        }
    }
}

TEST (HostEditor, ScreenshotRefusesBadArguments)
{
    struct Case { juce::StringArray arguments; const char* message; };
    const Case cases[] = {
        { { "0", "300" }, "size" },
        { { "abc", "300" }, "size" },
        { { "900" }, "expected" },
        { { "99999", "300" }, "size" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.arguments.joinIntoString (" "));
        const auto run = runScreenshot (c.arguments);
        EXPECT_NE (run.exitCode, 0);
        EXPECT_TRUE (run.output.contains (c.message)) << run.output;
        EXPECT_FALSE (run.image.isValid());
    }
}

} // namespace vyx::test
