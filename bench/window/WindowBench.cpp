// What an open editor window costs the host's process, measured from outside as a user's CPU
// meter sees it: the built bundle loaded through the framework's VST3 host, its editor in a real
// window on the X display (a window manager must run), audio running through it in real time
// (48 kHz, 512-frame blocks) on a thread of its own. For each window size and state the
// process's CPU time (all threads) is read over some seconds with the editor open and with it
// closed; the difference, in ms of CPU per 16 ms editor tick, is what the window costs.
//
// States: "noise" (noise at about -12 dBFS, so the meters move), "silence" (nothing on screen
// changes), "hover" (noise, the pointer resting on a threshold handle, so its highlight and the
// value overlay show), "drag" (noise, a threshold handle dragged up and down).
//
// With --before, every measurement runs for both bundles in turn, each in a process of its own,
// and the table shows both. --pictures writes captures of the real window for 1, 3 and 8 bands
// (still, moving meters, hover with the overlay, a drag) for both bundles and counts the pixels
// that differ between them, and between each capture and the same window repainted whole.

#include "EngineBenchSupport.h"
#include "PluginHost.h"
#include "Render.h"
#include "Screenshot.h"

#include <iostream>
#include <thread>

// Xlib comes after the framework: its macros (None, Bool, Status...) would clash.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace
{

constexpr int blockSize = 512;
constexpr double tickMs = 16.0;
const juce::String themeColour { "ff2f8fd0" };

void pump (int milliseconds)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
}

double processCpuMs()
{
    timespec t {};
    clock_gettime (CLOCK_PROCESS_CPUTIME_ID, &t);
    return (double) t.tv_sec * 1e3 + (double) t.tv_nsec * 1e-6;
}

/** X errors are not fatal to this program: a window the plug-in closes may still be named in a
    request of another connection, as a host lives with. */
int ignoreXError (::Display*, XErrorEvent*)
{
    return 0;
}

double wallMs()
{
    return juce::Time::getMillisecondCounterHiRes();
}

//==============================================================================
/** Feeds the instance one block every 512 / 48000 s on a thread of its own, as a host's audio
    thread does while playing: noise at about -12 dBFS, or silence. */
class RealTimeAudio
{
public:
    RealTimeAudio (juce::AudioPluginInstance& p, bool noise)
        : instance (p),
          playNoise (noise),
          buffer (std::max (p.getTotalNumInputChannels(), p.getTotalNumOutputChannels()), blockSize),
          thread ([this] { run(); })
    {
    }

    ~RealTimeAudio()
    {
        running = false;
        thread.join();
    }

private:
    void run()
    {
        const auto period = std::chrono::nanoseconds ((long long) (1.0e9 * blockSize / vyx::bench::sampleRate));
        auto next = std::chrono::steady_clock::now();
        juce::Random random (7);
        juce::MidiBuffer midi;

        for (int stretch = 0; running; ++stretch)
        {
            if (playNoise)
                vyx::bench::fillSignal (buffer, random, stretch);
            else
                buffer.clear();

            instance.processBlock (buffer, midi);
            next += period;
            std::this_thread::sleep_until (next);
        }
    }

    juce::AudioPluginInstance& instance;
    const bool playNoise;
    juce::AudioBuffer<float> buffer;
    std::atomic<bool> running { true };
    std::thread thread;
};

//==============================================================================
/** The X pointer, moved and pressed as a person does it (through the XTest extension). */
class Pointer
{
public:
    Pointer() : display (XOpenDisplay (nullptr)) {}
    ~Pointer()
    {
        if (display != nullptr)
            XCloseDisplay (display);
    }

    Pointer (const Pointer&) = delete;
    Pointer& operator= (const Pointer&) = delete;

    bool isAvailable() const
    {
        int event = 0, error = 0, major = 0, minor = 0;
        return display != nullptr && XTestQueryExtension (display, &event, &error, &major, &minor);
    }

    /** Moves to a point of a window's own coordinates (the window of a component on the desktop). */
    void moveTo (juce::Component& window, juce::Point<int> local)
    {
        const auto screen = toScreen (window, local);
        XTestFakeMotionEvent (display, -1, screen.x, screen.y, CurrentTime);
        XFlush (display);
    }

    /** Far from every window: no hover anywhere. */
    void moveAway()
    {
        const int screen = DefaultScreen (display);
        XTestFakeMotionEvent (display, screen, DisplayWidth (display, screen) - 1, DisplayHeight (display, screen) - 1, CurrentTime);
        XFlush (display);
    }

    void press (bool down)
    {
        XTestFakeButtonEvent (display, 1, down ? True : False, CurrentTime);
        XFlush (display);
    }

    /** Makes the X server send every window inside the component's window an expose event for
        its whole area, so each repaints all of itself. */
    void exposeAll (juce::Component& window)
    {
        if (auto* peer = window.getPeer())
            exposeTree ((::Window) (juce::pointer_sized_uint) peer->getNativeHandle());
        XFlush (display);
    }

private:
    juce::Point<int> toScreen (juce::Component& window, juce::Point<int> local)
    {
        auto* peer = window.getPeer();
        if (peer == nullptr)
            return local;

        int x = 0, y = 0;
        ::Window child = 0;
        XTranslateCoordinates (display, (::Window) (juce::pointer_sized_uint) peer->getNativeHandle(),
                               DefaultRootWindow (display), local.x, local.y, &x, &y, &child);
        return { x, y };
    }

    void exposeTree (::Window window)
    {
        XClearArea (display, window, 0, 0, 0, 0, True);

        ::Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (XQueryTree (display, window, &root, &parent, &children, &count) == 0)
            return;
        for (unsigned int i = 0; i < count; ++i)
            exposeTree (children[i]);
        if (children != nullptr)
            XFree (children);
    }

    Display* display;
};

//==============================================================================
/** Where things are in the plug-in's window (it fills the host's editor from its origin): the
    band editor lies 5 pixels in from the sides between the 40-pixel top bar and the 36-pixel
    fader strip; band 0 starts 10 pixels into it. */
struct WindowGeometry
{
    int width, height;

    int panelHeight() const { return height - 76; }

    /** A point on band 0's downward threshold handle, for a normalised threshold. */
    juce::Point<int> downHandle (float normalisedThreshold) const
    {
        const float lineY = (1.0f - normalisedThreshold) * ((float) panelHeight() - 40.0f) + 20.0f;
        return { 5 + 10 + 20, 40 + (int) std::floor (lineY - 10.0f) };
    }

    /** A point on band 0's crossover strip, for its normalised crossover. */
    juce::Point<int> crossoverStrip (float normalisedCrossover) const
    {
        const int panelWidth = width - 10;
        return { 5 + (int) ((float) panelWidth * normalisedCrossover - 5.0f) + 5, 40 + panelHeight() / 2 };
    }
};

/** One instance of a bundle, set up for a band count, with its editor opened and closed on
    request in a real window. */
class Session
{
public:
    Session (const juce::File& bundle, int numBands)
    {
        static vyx::host::HostLogger logger;
        juce::Logger::setCurrentLogger (&logger);

        instance = vyx::host::loadPlugin (bundle, vyx::bench::sampleRate, blockSize, error);
        if (instance == nullptr)
            return;

        // A fixed theme, so that pictures of two builds can be compared.
        vyx::host::editPluginState (*instance, [] (juce::XmlElement& state)
        {
            auto* attributes = state.getChildByName ("Attributes");
            if (attributes == nullptr)
                attributes = state.createNewChildElement ("Attributes");
            attributes->setAttribute ("colour", themeColour);
        });

        using vyx::bench::setParameter;
        setParameter (*instance, Layout::NUM_BANDS, -1, (float) numBands);
        for (int b = 0; b < numBands; ++b)
        {
            // Spread over the spectrum when there are many; the factory's three otherwise.
            if (numBands > 3)
                setParameter (*instance, Layout::CROSS_R, b, vyx::bench::crossover (b));
            setParameter (*instance, Layout::THRESH_DOWN, b, -24.0f);
            setParameter (*instance, Layout::THRESH_UP, b, -42.0f);
            setParameter (*instance, Layout::RATIO_DOWN, b, 1.0f + 15.0f * (float) b / 7.0f);
            setParameter (*instance, Layout::RATIO_UP, b, 16.0f - 15.0f * (float) b / 7.0f);
        }

        instance->setRateAndBufferSizeDetails (vyx::bench::sampleRate, blockSize);
        instance->prepareToPlay (vyx::bench::sampleRate, blockSize);
        vyx::host::syncLatency (*instance);
    }

    ~Session()
    {
        closeEditor();
        if (instance != nullptr)
            instance->releaseResources();
        instance.reset();
    }

    bool isLoaded() const { return instance != nullptr; }
    const juce::String& getError() const { return error; }
    juce::AudioPluginInstance& plugin() { return *instance; }
    juce::AudioProcessorEditor* window() { return editor.get(); }

    /** Opens the editor at a size and waits until the plug-in's window has it. */
    bool openEditor (int width, int height)
    {
        editor.reset (instance->createEditorIfNeeded());
        if (editor == nullptr)
            return false;

        editor->setOpaque (true);
        editor->addToDesktop (juce::ComponentPeer::windowAppearsOnTaskbar);
        editor->setTopLeftPosition (20, 20);
        editor->setVisible (true);

        // The plug-in's view may still answer an earlier size while it opens: repeat until
        // the size holds for a few frames.
        int steady = 0;
        for (int attempt = 0; attempt < 200 && steady < 5; ++attempt)
        {
            if (editor->getWidth() != width || editor->getHeight() != height)
            {
                editor->setSize (width, height);
                steady = 0;
            }
            else
            {
                ++steady;
            }
            pump (20);
        }
        return steady >= 5;
    }

    void closeEditor()
    {
        if (editor == nullptr)
            return;
        editor->removeFromDesktop();
        editor.reset();
        pump (100);
    }

    /** A host parameter's normalised value, by its layout record and band. */
    float normalised (const Layout::Parameter& record, int band)
    {
        const auto name = "Band " + juce::String (band) + " " + record.name;
        for (auto* parameter : instance->getParameters())
            if (parameter->getName (100) == name)
                return parameter->getValue();
        return 0.0f;
    }

    WindowGeometry geometry() const { return { editor->getWidth(), editor->getHeight() }; }

private:
    juce::String error;
    std::unique_ptr<juce::AudioPluginInstance> instance;
    std::unique_ptr<juce::AudioProcessorEditor> editor;
};

//==============================================================================
struct CellResult
{
    double closed = 0.0, open = 0.0;   // ms of CPU per 16 ms tick
    juce::String error;
};

/** Steps run one after the other inside the framework's own message loop, which sleeps until
    the next event as a host's does (a loop that polls would cost more than the window does).
    A step lasts its time, its tick runs every 16 ms, and its end gets the process's CPU time
    per 16 ms tick over the step. */
class Script : private juce::Timer
{
public:
    struct Step
    {
        double seconds = 0.0;
        std::function<void()> begin;
        std::function<void (int)> tick;
        std::function<void (double)> end;
    };

    void add (Step step) { steps.push_back (std::move (step)); }

    void run()
    {
        start (0);
        juce::MessageManager::getInstance()->runDispatchLoop();
    }

private:
    void start (size_t index)
    {
        stopTimer();
        if (index >= steps.size())
        {
            juce::MessageManager::getInstance()->stopDispatchLoop();
            return;
        }

        current = index;
        ticks = 0;
        if (steps[index].begin)
            steps[index].begin();

        cpuStart = processCpuMs();
        wallStart = wallMs();
        startTimer ((int) tickMs);
    }

    void timerCallback() override
    {
        auto& step = steps[current];
        const double wall = wallMs() - wallStart;
        if (wall >= step.seconds * 1000.0)
        {
            if (step.end)
                step.end ((processCpuMs() - cpuStart) / (wall / tickMs));
            start (current + 1);
            return;
        }
        if (step.tick)
            step.tick (ticks++);
    }

    std::vector<Step> steps;
    size_t current = 0;
    int ticks = 0;
    double cpuStart = 0.0, wallStart = 0.0;
};

/** One window size and state: the editor closed, open, closed again. */
CellResult runCell (const juce::File& bundle, int width, int height, const juce::String& stateName,
                    double seconds, int numBands)
{
    CellResult result;
    Pointer pointer;
    if (! pointer.isAvailable())
    {
        result.error = "no X display with the XTest extension";
        return result;
    }

    Session session (bundle, numBands);
    if (! session.isLoaded())
    {
        result.error = "cannot load " + bundle.getFullPathName() + ": " + session.getError();
        return result;
    }

    pointer.moveAway();
    RealTimeAudio audio (session.plugin(), stateName != "silence");
    const bool hover = stateName == "hover" || stateName == "drag";
    const bool drag = stateName == "drag";
    juce::Point<int> handle;
    double closedBefore = 0.0, closedAfter = 0.0;

    Script script;
    script.add ({ 1.0 });
    script.add ({ seconds, {}, {}, [&] (double cost) { closedBefore = cost; } });
    script.add ({ 1.5, [&]
    {
        if (! session.openEditor (width, height))
        {
            result.error = "the editor did not open at " + juce::String (width) + " x " + juce::String (height);
            return;
        }
        handle = session.geometry().downHandle (session.normalised (Layout::THRESH_DOWN, 0));
        if (hover)
        {
            pointer.moveTo (*session.window(), handle + juce::Point<int> (1, 1));
            pump (50);
            pointer.moveTo (*session.window(), handle);
        }
        if (drag)
        {
            pump (50);
            pointer.press (true);
        }
    } });

    // Dragging: up by 30 pixels and back, one pixel a frame.
    const auto dragStep = [&] (int tick)
    {
        if (! drag || session.window() == nullptr)
            return;
        const int phase = tick % 120;
        const int offset = phase < 60 ? -phase / 2 : -(120 - phase) / 2;
        pointer.moveTo (*session.window(), handle + juce::Point<int> (0, offset));
    };
    script.add ({ seconds, {}, dragStep, [&] (double cost) { result.open = cost; } });
    script.add ({ 1.0, [&]
    {
        if (drag)
            pointer.press (false);
        pointer.moveAway();
        session.closeEditor();
    } });
    script.add ({ seconds, {}, {}, [&] (double cost) { closedAfter = cost; } });
    script.run();

    // Told before the instance and its window are torn down: a host process that dies on its
    // way out (the framework's X code can) has measured all the same.
    result.closed = 0.5 * (closedBefore + closedAfter);
    if (result.error.isEmpty())
        std::cout << "cell " << result.closed << " " << result.open << " (closed " << closedBefore << " and "
                  << closedAfter << ")" << std::endl;
    return result;
}

//==============================================================================
/** The pictures of one bundle: for each band count and size, a series of scenes captured from
    the X server. Each capture is also taken again after the whole window was exposed and
    repainted, and the differing pixels between the two are reported, so that a window painting
    only what changed is compared with itself painted whole. */
int writeScenes (const juce::File& bundle, const juce::File& folder)
{
    Pointer pointer;
    if (! pointer.isAvailable())
    {
        std::cerr << "no X display with the XTest extension" << std::endl;
        return 1;
    }
    folder.createDirectory();

    struct Arrangement { int bands, width, height; };
    const Arrangement layouts[] = { { 1, 440, 330 }, { 3, 440, 330 }, { 8, 440, 330 }, { 3, 1600, 1000 }, { 8, 1600, 1000 } };

    for (const auto& layout : layouts)
    {
        Session session (bundle, layout.bands);
        if (! session.isLoaded() || ! session.openEditor (layout.width, layout.height))
        {
            std::cerr << "cannot open " << bundle.getFullPathName() << ": " << session.getError() << std::endl;
            return 1;
        }

        auto& window = *session.window();
        const auto prefix = juce::String (layout.bands) + "-bands-" + juce::String (layout.width) + "x" + juce::String (layout.height) + "-";
        const auto handle = session.geometry().downHandle (session.normalised (Layout::THRESH_DOWN, 0));
        juce::Random random (21);
        int stretch = 0;

        // The engine runs on this thread between frames: deterministic meters that move
        // while the window draws them, and hold still once the blocks stop.
        const auto playBlocks = [&] (int count)
        {
            juce::AudioBuffer<float> buffer (std::max (session.plugin().getTotalNumInputChannels(),
                                                       session.plugin().getTotalNumOutputChannels()), blockSize);
            juce::MidiBuffer midi;
            for (int i = 0; i < count; ++i)
            {
                vyx::bench::fillSignal (buffer, random, stretch++);
                session.plugin().processBlock (buffer, midi);
                pump (11);
            }
        };

        const auto capture = [&] (const juce::String& scene, int settleMs = 400)
        {
            pump (settleMs);
            const auto picture = vyx::host::capturePluginWindow (window);
            pointer.exposeAll (window);
            pump (400);
            const auto whole = vyx::host::capturePluginWindow (window);

            for (auto [image, suffix] : { std::pair { picture, juce::String() }, std::pair { whole, juce::String ("-whole") } })
            {
                juce::FileOutputStream stream (folder.getChildFile (prefix + scene + suffix + ".png"));
                stream.setPosition (0);
                stream.truncate();
                juce::PNGImageFormat().writeImageToStream (image, stream);
            }
        };

        pointer.moveAway();
        capture ("still");

        playBlocks (150);
        capture ("meters");

        pointer.moveTo (window, handle + juce::Point<int> (1, 1));
        pump (30);
        pointer.moveTo (window, handle);
        capture ("hover", 1500);  // the overlay shows after 250 ms and fades in over 150 ms

        playBlocks (60);
        capture ("hover-meters");

        if (layout.bands > 1)
        {
            pointer.moveTo (window, session.geometry().crossoverStrip (session.normalised (Layout::CROSS_R, 0)));
            capture ("crossover");
        }

        pointer.moveAway();
        capture ("left");

        pointer.moveTo (window, handle);
        pump (100);
        pointer.press (true);
        for (int i = 1; i <= 30; ++i)
        {
            pointer.moveTo (window, handle - juce::Point<int> (0, i));
            pump (16);
        }
        pointer.press (false);
        pointer.moveAway();
        capture ("dragged");
    }
    return 0;
}

struct Difference
{
    int pixels = 0, largest = 0;
    bool comparable = true;
};

Difference compare (const juce::Image& a, const juce::Image& b)
{
    Difference d;
    if (! a.isValid() || ! b.isValid() || a.getBounds() != b.getBounds())
    {
        d.comparable = false;
        return d;
    }

    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
        {
            const auto p = a.getPixelAt (x, y), q = b.getPixelAt (x, y);
            const int largest = std::max ({ std::abs (p.getRed() - q.getRed()), std::abs (p.getGreen() - q.getGreen()),
                                            std::abs (p.getBlue() - q.getBlue()) });
            if (largest > 0)
            {
                ++d.pixels;
                d.largest = std::max (d.largest, largest);
            }
        }
    return d;
}

juce::String describe (const Difference& d)
{
    if (! d.comparable)
        return "not comparable";
    return d.pixels == 0 ? juce::String ("0") : juce::String (d.pixels) + " (up to " + juce::String (d.largest) + ")";
}

//==============================================================================
/** Runs this program again with the given arguments and returns what it printed. */
juce::String runChild (const juce::StringArray& arguments)
{
    juce::StringArray command { juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFullPathName() };
    command.addArray (arguments);

    juce::ChildProcess child;
    if (! child.start (command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        return "error cannot start " + command[0];
    auto output = child.readAllProcessOutput();
    child.waitForProcessToFinish (600000);
    if (child.getExitCode() != 0)
        output << "(exit code " << juce::String (child.getExitCode()) << ")\n";
    return output;
}

struct Options
{
    juce::File after = vyx::host::getBuiltBundle(), before;
    juce::StringArray sizes { "440x330", "900x600", "1600x1000" };
    juce::StringArray states { "noise", "silence", "hover", "drag" };
    double seconds = 4.0;
    int repeats = 1, bands = 3;
    juce::File pictures;
};

double median (std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort (values.begin(), values.end());
    const auto n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

int runTable (const Options& options)
{
    std::vector<std::pair<juce::String, juce::File>> bundles;
    if (options.before != juce::File())
        bundles.push_back ({ "before", options.before });
    bundles.push_back ({ "after", options.after });

    std::cout << "| window | state |";
    for (const auto& b : bundles)
        std::cout << " " << b.first << " (ms per tick) |";
    std::cout << " closed (ms per tick) |\n|---|---|";
    for (size_t i = 0; i <= bundles.size(); ++i)
        std::cout << "---:|";
    std::cout << std::endl;

    for (const auto& size : options.sizes)
    {
        for (const auto& stateName : options.states)
        {
            std::vector<std::vector<double>> costs (bundles.size());
            std::vector<double> closed;

            for (int r = 0; r < options.repeats; ++r)
            {
                for (size_t i = 0; i < bundles.size(); ++i)
                {
                    // A host process that dies before it has measured is run again.
                    juce::StringArray fields;
                    juce::String output;
                    for (int attempt = 0; attempt < 3 && fields.size() < 2; ++attempt)
                    {
                        output = runChild ({ "--cell", "--bundle", bundles[i].second.getFullPathName(),
                                             "--size", size, "--state", stateName,
                                             "--seconds", juce::String (options.seconds),
                                             "--bands", juce::String (options.bands) });
                        if (output.contains ("cell "))
                            fields.addTokens (output.fromLastOccurrenceOf ("cell ", false, false).upToFirstOccurrenceOf ("\n", false, false), " ", "");
                        else
                            std::cerr << size << " " << stateName << " " << bundles[i].first << ": run " << attempt + 1
                                      << " failed" << (output.isNotEmpty() ? ": " + output : juce::String()) << std::endl;
                    }
                    if (fields.size() < 2)
                        return 1;
                    closed.push_back (fields[0].getDoubleValue());
                    costs[i].push_back (fields[1].getDoubleValue() - fields[0].getDoubleValue());
                }
            }

            std::cout << "| " << size.replace ("x", " x ") << " | " << stateName << " |";
            for (const auto& c : costs)
                std::cout << " " << juce::String (median (c), 2) << " |";
            std::cout << " " << juce::String (median (closed), 2) << " |" << std::endl;
        }
    }
    return 0;
}

int runPictures (const Options& options)
{
    std::vector<std::pair<juce::String, juce::File>> bundles;
    if (options.before != juce::File())
        bundles.push_back ({ "before", options.before });
    bundles.push_back ({ "after", options.after });

    for (const auto& b : bundles)
    {
        const auto folder = options.pictures.getChildFile (b.first);
        folder.deleteRecursively();
        const auto output = runChild ({ "--scenes", folder.getFullPathName(), "--bundle", b.second.getFullPathName() });
        if (output.isNotEmpty())
            std::cout << output;
    }

    std::cout << "| picture | after: differing pixels against the whole window repainted |";
    if (bundles.size() > 1)
        std::cout << " differing pixels, before against after |";
    std::cout << "\n|---|---:|" << (bundles.size() > 1 ? "---:|" : "") << std::endl;

    int failures = 0;
    for (const auto& file : options.pictures.getChildFile ("after").findChildFiles (juce::File::findFiles, false, "*.png"))
    {
        if (file.getFileNameWithoutExtension().endsWith ("-whole"))
            continue;

        const auto after = juce::ImageFileFormat::loadFrom (file);
        const auto whole = juce::ImageFileFormat::loadFrom (file.getSiblingFile (file.getFileNameWithoutExtension() + "-whole.png"));
        const auto self = compare (after, whole);
        failures += self.pixels != 0 || ! self.comparable ? 1 : 0;
        std::cout << "| " << file.getFileNameWithoutExtension() << " | " << describe (self) << " |";

        if (bundles.size() > 1)
        {
            const auto before = juce::ImageFileFormat::loadFrom (options.pictures.getChildFile ("before").getChildFile (file.getFileName()));
            const auto across = compare (before, after);
            failures += across.pixels != 0 || ! across.comparable ? 1 : 0;
            std::cout << " " << describe (across) << " |";
        }
        std::cout << std::endl;
    }
    return failures == 0 ? 0 : 1;
}

Options parse (const juce::StringArray& args)
{
    Options options;
    for (int i = 0; i + 1 < args.size(); ++i)
    {
        const auto& key = args[i];
        const auto& value = args[i + 1];
        const auto cwd = juce::File::getCurrentWorkingDirectory();
        if (key == "--bundle")
            options.after = cwd.getChildFile (value);
        else if (key == "--before")
            options.before = cwd.getChildFile (value);
        else if (key == "--sizes")
            options.sizes = juce::StringArray::fromTokens (value, ",", "");
        else if (key == "--states")
            options.states = juce::StringArray::fromTokens (value, ",", "");
        else if (key == "--seconds")
            options.seconds = value.getDoubleValue();
        else if (key == "--repeats")
            options.repeats = std::max (1, value.getIntValue());
        else if (key == "--bands")
            options.bands = juce::jlimit (1, 8, value.getIntValue());
        else if (key == "--pictures")
            options.pictures = cwd.getChildFile (value);
        else
            continue;
        ++i;
    }
    return options;
}

juce::String argumentAfter (const juce::StringArray& args, const juce::String& key)
{
    const int i = args.indexOf (key);
    return i >= 0 && i + 1 < args.size() ? args[i + 1] : juce::String();
}

} // namespace

int main (int argc, char** argv)
{
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));

    if (args.contains ("--help"))
    {
        std::cout << "usage: vyx_window_bench [--bundle B] [--before A] [--sizes 440x330,900x600,1600x1000]\n"
                     "                        [--states noise,silence,hover,drag] [--seconds 4] [--repeats 1] [--bands 3]\n"
                     "       vyx_window_bench --pictures FOLDER [--bundle B] [--before A]\n";
        return 0;
    }

    XSetErrorHandler (ignoreXError);
    juce::ScopedJuceInitialiser_GUI juceInit;
    const auto options = parse (args);
    int result = 0;

    if (args.contains ("--cell"))
    {
        const auto size = juce::StringArray::fromTokens (argumentAfter (args, "--size"), "x", "");
        const auto cell = runCell (options.after, size[0].getIntValue(), size[1].getIntValue(),
                                   argumentAfter (args, "--state"), options.seconds, options.bands);
        if (cell.error.isNotEmpty())
        {
            std::cout << "error " << cell.error << std::endl;
            result = 1;
        }
    }
    else if (args.contains ("--scenes"))
    {
        result = writeScenes (options.after, juce::File::getCurrentWorkingDirectory().getChildFile (argumentAfter (args, "--scenes")));
    }
    else if (options.pictures != juce::File())
    {
        result = runPictures (options);
    }
    else
    {
        result = runTable (options);
    }

    juce::Logger::setCurrentLogger (nullptr);
    return result;
}
