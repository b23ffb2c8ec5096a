#include "TestSupport.h"
#include "PluginHost.h"

#include <cstdlib>
#include <iostream>

// Xlib after the framework: its macros (None, Bool, KeyPress...) would clash with it.
#include <X11/Xlib.h>

namespace vyx::test
{

namespace
{
    juce::File& testHome()
    {
        static juce::File home;
        return home;
    }
} // namespace

juce::File getTestHome()
{
    return testHome();
}

juce::File getArtifactFolder()
{
    const juce::File folder (VYX_TEST_ARTIFACT_DIR);
    folder.createDirectory();
    return folder;
}

namespace
{
    /** Checks the condition, pausing between checks, until it holds (true) or the time is up. */
    bool waitUntil (const std::function<bool()>& condition, int timeoutMs, const std::function<void()>& pause)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
        while (! condition())
        {
            if (juce::Time::getMillisecondCounter() > end)
                return false;
            pause();
        }
        return true;
    }
} // namespace

bool runMessageLoopUntil (std::function<bool()> predicate, int timeoutMs)
{
    return waitUntil (predicate, timeoutMs, [] { juce::MessageManager::getInstance()->runDispatchLoopUntil (5); });
}

namespace
{
    // Like the framework's own standalone apps, which install a handler that ignores them:
    // Xlib's default handler ends the process on any X error, and a window manager that
    // destroys a window's frame while the framework still asks about it raises BadWindow.
    int ignoreXError (::Display*, XErrorEvent*)
    {
        return 0;
    }

    /** True when the display in DISPLAY has a window manager. xprop is given a few seconds: a
        server that accepts a connection but never answers would otherwise hold it, and this
        test program with it, until the test runner's timeout. */
    bool windowManagerRunning()
    {
        juce::ChildProcess xprop;
        if (! xprop.start (juce::StringArray { "timeout", "5", "xprop", "-root", "_NET_SUPPORTING_WM_CHECK" }))
            return false;
        return xprop.readAllProcessOutput().contains ("window id");
    }

    /** A virtual X server and a window manager that belong to this process alone. A small
        shell watches this process and stops the server once it is gone, however it ends
        (a crash or a test runner's timeout included); the window manager ends with it. */
    struct PrivateDisplay
    {
        /** Starts a server and its window manager. Under many parallel starts a server now and
            then announces a display that its first client still cannot open (the window
            manager then exits at once), or announces none at all, so a failed attempt is
            abandoned to its watcher, which stops it when this process ends, and a fresh server
            is tried. Every step has a deadline: a start that hangs fails this program with a
            message instead of stalling it. */
        bool start()
        {
            for (int attempt = 1; attempt <= 5; ++attempt)
            {
                auto server = std::make_unique<juce::ChildProcess>();
                auto windowManager = std::make_unique<juce::ChildProcess>();
                const auto failure = startAttempt (*server, *windowManager);
                servers.push_back (std::move (server));
                windowManagers.push_back (std::move (windowManager));
                if (failure.isEmpty())
                    return true;

                std::cerr << "X display, attempt " << attempt << ": " << failure << std::endl;
            }
            return false;
        }

        /** Gives what went wrong, or nothing once the display has its window manager. */
        juce::String startAttempt (juce::ChildProcess& server, juce::ChildProcess& windowManager)
        {
            // The server picks a free display number itself and writes it to a file of this
            // attempt, which is read with a deadline (a pipe would be read without one).
            auto& numberFile = numberFiles.emplace_back (std::make_unique<juce::TemporaryFile> ("x-display"))->getFile();
            const juce::StringArray command { "sh", "-c",
                "Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>\"$1\" >/dev/null 2>&1 & server=$!; "
                "while kill -0 $PPID 2>/dev/null && kill -0 $server 2>/dev/null; do sleep 0.2; done; "
                "kill $server 2>/dev/null",
                "sh", numberFile.getFullPathName() };
            if (! server.start (command, 0))
                return "the server could not be started";

            const auto announced = [&numberFile] { return numberFile.loadFileAsString().endsWithChar ('\n'); };
            if (! waitFor ([&] { return announced() || ! server.isRunning(); }, 30000))
                return "the server announced no display within 30 s";
            if (! announced())
                return "the server ended before it announced a display";

            const auto number = numberFile.loadFileAsString().trim();
            if (number.isEmpty() || ! number.containsOnly ("0123456789"))
                return "the server announced \"" + number + "\" as its display";

            setenv ("DISPLAY", (":" + number).toRawUTF8(), 1);
            if (! windowManager.start ("openbox", 0))
                return "the window manager could not be started";

            if (! waitFor ([&windowManager] { return ! windowManager.isRunning() || windowManagerRunning(); }, 30000))
                return "no window manager on display :" + number + " within 30 s";

            return windowManager.isRunning() ? juce::String() : "the window manager on display :" + number + " exited";
        }

        static bool waitFor (const std::function<bool()>& condition, int timeoutMs)
        {
            return waitUntil (condition, timeoutMs, [] { juce::Thread::sleep (20); });
        }

        std::vector<std::unique_ptr<juce::TemporaryFile>> numberFiles;
        std::vector<std::unique_ptr<juce::ChildProcess>> servers, windowManagers;
    };

    bool startPrivateDisplay()
    {
        // Built inside the initialiser, after the framework's leak counter for child
        // processes exists, so it is destroyed before that counter checks for leaks.
        static const std::unique_ptr<PrivateDisplay> display = []
        {
            auto d = std::make_unique<PrivateDisplay>();
            return d->start() ? std::move (d) : nullptr;
        }();
        return display != nullptr;
    }
} // namespace

bool ensureWindowManager()
{
    XSetErrorHandler (ignoreXError);
    return startPrivateDisplay();
}

bool useWindowManager()
{
    struct WindowManagerEnvironment : ::testing::Environment
    {
        void SetUp() override
        {
            if (! ensureWindowManager())
            {
                std::cerr << "FAILED: no X display with a window manager could be started" << std::endl;
                std::_Exit (1);
            }
        }
    };

    static const bool registered = ::testing::AddGlobalTestEnvironment (new WindowManagerEnvironment()) != nullptr;
    return registered;
}

} // namespace vyx::test

int main (int argc, char** argv)
{
    // Settings and preset folders derive from HOME: keep the tests out of the real user's
    // folders by pointing it at a fresh temporary folder.
    char pattern[] = "/tmp/vyx-test-home-XXXXXX";
    if (const char* home = mkdtemp (pattern))
    {
        setenv ("HOME", home, 1);
        const auto config = juce::String (home) + "/.config";
        setenv ("XDG_CONFIG_HOME", config.toRawUTF8(), 1);
        vyx::test::testHome() = juce::File (home);

        // The factory presets live under the machine's common folder, which HOME does not move.
        cvx::ui::PresetFiles::setFactoryRoot (juce::File (home).getChildFile ("common"));
    }

    vyx::host::HostLogger logger;
    juce::Logger::setCurrentLogger (&logger);

    int result = 0;
    {
        juce::ScopedJuceInitialiser_GUI juce;
        ::testing::InitGoogleTest (&argc, argv);
        result = RUN_ALL_TESTS();
    }

    juce::Logger::setCurrentLogger (nullptr);
    vyx::test::testHome().deleteRecursively();
    return result;
}
