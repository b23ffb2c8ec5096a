// The built bundle's editor in real windows, as a DAW opens, resizes and closes it, and the
// test host's screenshot of it.

#include "HostTestSupport.h"
#include "ExpectedParameters.h"
#include "plugin/PluginEditor.h"

#include <map>
#include <mutex>
#include <thread>

namespace vyx::test
{
namespace
{
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

    /** What the host's side of every parameter hears, in arrival order, as text per host
        parameter index: "[" where a gesture begins, "]" where it ends, and the normalised
        value of each change. One complete gesture to the top of the range reads "[ 1 ]". */
    class HostEdits : private juce::AudioProcessorParameter::Listener
    {
    public:
        explicit HostEdits (juce::AudioPluginInstance& p) : instance (p)
        {
            for (auto* parameter : instance.getParameters())
                parameter->addListener (this);
        }

        ~HostEdits() override
        {
            for (auto* parameter : instance.getParameters())
                parameter->removeListener (this);
        }

        std::map<int, juce::String> heard() const
        {
            const std::lock_guard<std::mutex> guard (lock);
            return log;
        }

        void clear()
        {
            const std::lock_guard<std::mutex> guard (lock);
            log.clear();
        }

    private:
        void parameterValueChanged (int index, float value) override { append (index, juce::String (value)); }
        void parameterGestureChanged (int index, bool starting) override { append (index, starting ? "[" : "]"); }

        void append (int index, const juce::String& token)
        {
            const std::lock_guard<std::mutex> guard (lock);
            auto& text = log[index];
            text = text.isEmpty() ? token : text + " " + token;
        }

        juce::AudioPluginInstance& instance;
        mutable std::mutex lock;
        std::map<int, juce::String> log;
    };

    /** The plug-in's own state inside what the host saves now, as XML; null when absent. */
    std::unique_ptr<juce::XmlElement> savePluginState (juce::AudioPluginInstance& instance)
    {
        juce::MemoryBlock hostState;
        instance.getStateInformation (hostState);
        const auto component = host::getComponentState (hostState);
        return juce::AudioProcessor::getXmlFromBinary (component.getData(), (int) component.getSize());
    }

    /** Succeeds when the plug-in's parameter values in the state the host saves now are the
        host's own parameter values, for every parameter of the layout. */
    ::testing::AssertionResult savedStateAgreesWithHost (juce::AudioPluginInstance& instance)
    {
        const auto xml = savePluginState (instance);
        const auto* stored = xml != nullptr ? xml->getChildByName ("Parameters") : nullptr;
        if (stored == nullptr)
            return ::testing::AssertionFailure() << "no parameters in the saved state";

        juce::String disagreements;
        for (const auto& e : expected::parameters())
        {
            const auto* hosted = findParameter (instance, e.id);
            const auto* element = stored->getChildByAttribute ("id", e.id);
            if (hosted == nullptr || element == nullptr)
                return ::testing::AssertionFailure() << e.id << " is missing";

            const double saved = e.range.normalise (element->getDoubleAttribute ("value"));
            if (std::abs (saved - hosted->getValue()) > 1.0e-5)
                disagreements << e.id << ": saved " << saved << ", host " << hosted->getValue() << "; ";
        }

        if (disagreements.isNotEmpty())
            return ::testing::AssertionFailure() << disagreements;
        return ::testing::AssertionSuccess();
    }

    /** Whether the plug-in's state, as the host saves it, marks its preset edited. */
    bool savedPresetIsEdited (juce::AudioPluginInstance& instance)
    {
        const auto xml = savePluginState (instance);
        const auto* attributes = xml != nullptr ? xml->getChildByName ("Attributes") : nullptr;
        return attributes != nullptr && attributes->getBoolAttribute ("dirty", false);
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

    /** A new instance at 48 kHz; its host-side CR2 holds the factory's 20 kHz, not yet
        pinned. */
    std::unique_ptr<juce::AudioPluginInstance> loadFreshInstance()
    {
        auto instance = loadBuiltPlugin (48000.0, 512);
        if (instance == nullptr)
            return instance;

        const auto* cr2 = findParameter (*instance, "CR2");
        if (cr2 == nullptr)
        {
            ADD_FAILURE() << "the host shows no CR2";
            return {};
        }
        EXPECT_NEAR (cr2->getValue(), expected::frequency.normalise (20000.0), 1.0e-6);
        return instance;
    }

    /** Opens a window and checks what the host hears from it: within 500 ms the host-side
        crossover of the last band reads the top of its range; when it was not there before,
        the host heard exactly one complete gesture to it, and no other edit at all; and the
        state the host saves agrees with the host's parameters. Returns the open window. */
    std::unique_ptr<juce::AudioProcessorEditor> openWindowAndCheckPin (juce::AudioPluginInstance& instance,
                                                                       const juce::String& lastCrossover,
                                                                       HostEdits& edits)
    {
        auto* pinned = findParameter (instance, lastCrossover);
        if (pinned == nullptr)
        {
            ADD_FAILURE() << "the host shows no " << lastCrossover;
            return {};
        }

        const bool atTop = pinned->getValue() == 1.0f;
        edits.clear();

        auto editor = openWindow (instance);
        if (editor == nullptr)
            return editor;

        EXPECT_TRUE (runMessageLoopUntil ([pinned] { return pinned->getValue() == 1.0f; }, 500))
            << "the host reads " << pinned->getValue();
        pump (100);  // anything that would follow the pin arrives too

        std::map<int, juce::String> expectedEdits;
        if (! atTop)
            expectedEdits[pinned->getParameterIndex()] = "[ " + juce::String (1.0f) + " ]";
        EXPECT_EQ (edits.heard(), expectedEdits);
        EXPECT_TRUE (savedStateAgreesWithHost (instance));
        return editor;
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

// Opening the window moves the last band's crossover to the top of its range: the host must
// hear it as one gesture, like any other edit, or its parameter, automation and saved project
// say something else than the plug-in does.
TEST (HostEditor, TheCrossoverPinOfANewWindowReachesTheHost)
{
    for (const bool audioRuns : { false, true })
    {
        SCOPED_TRACE (audioRuns ? "audio runs" : "transport stopped");
        auto instance = loadFreshInstance();
        ASSERT_NE (instance, nullptr);
        HostEdits edits (*instance);

        std::unique_ptr<AudioThread> audio;
        if (audioRuns)
        {
            prepare (*instance, 48000.0, 512);
            audio = std::make_unique<AudioThread> (*instance, 512);
        }

        auto editor = openWindowAndCheckPin (*instance, "CR2", edits);
        ASSERT_NE (editor, nullptr);

        // The pin keeps the layout; it is no edit of the user's.
        EXPECT_FALSE (savedPresetIsEdited (*instance));

        editor.reset();
        audio.reset();
        instance->releaseResources();
    }
}

// Some hosts create the editor and destroy it at once, only to learn whether there is one.
// Nobody sees that editor, so it changes nothing; the window that does open pins.
TEST (HostEditor, AskingWhetherThereIsAnEditorChangesNothing)
{
    auto instance = loadFreshInstance();
    ASSERT_NE (instance, nullptr);
    HostEdits edits (*instance);

    ASSERT_TRUE (instance->hasEditor());
    pump (100);
    EXPECT_TRUE (edits.heard().empty());
    EXPECT_NEAR (findParameter (*instance, "CR2")->getValue(), expected::frequency.normalise (20000.0), 1.0e-6);
    EXPECT_TRUE (savedStateAgreesWithHost (*instance));

    EXPECT_NE (openWindowAndCheckPin (*instance, "CR2", edits), nullptr);
}

// Every window the host opens again sees the band count the host set while it was closed,
// and its pin reaches the host the same way the first one's did.
TEST (HostEditor, PinsAfterReopeningReachTheHost)
{
    auto instance = loadFreshInstance();
    ASSERT_NE (instance, nullptr);
    auto& numBands = *findParameter (*instance, "NUM");
    HostEdits edits (*instance);

    // The first window pins band 2; the second, with the same three bands, has nothing to pin.
    struct Case { int bands; const char* lastCrossover; };
    const Case cases[] = { { 3, "CR2" }, { 3, "CR2" }, { 5, "CR4" }, { 2, "CR1" }, { 8, "CR7" }, { 1, "CR0" } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.lastCrossover);
        numBands.setValueNotifyingHost ((float) expected::bandCount.normalise (c.bands));
        pump (20);

        auto editor = openWindowAndCheckPin (*instance, c.lastCrossover, edits);
        ASSERT_NE (editor, nullptr);
        editor.reset();
        pump (20);
    }
}

} // namespace vyx::test
