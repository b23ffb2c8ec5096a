#pragma once

#include <gtest/gtest.h>
#include <cvx_core/cvx_core.h>

namespace vyx::test
{

/** The temporary folder that HOME points at for the whole test process. */
juce::File getTestHome();

/** The folder where tests leave what a person should look at (pictures the tests draw);
    created on first use, kept after the run. */
juce::File getArtifactFolder();

/** Runs the message loop for up to the given time, or until the predicate holds. */
bool runMessageLoopUntil (std::function<bool()> predicate, int timeoutMs = 2000);

/** Gives this test process an X display of its own with a window manager (a private Xvfb
    running openbox; DISPLAY points at it), stopped when the process ends. Real windows need a
    window manager (without one the framework's window setup fails on missing atoms), and a
    display of its own keeps a test's windows, focus and pointer away from tests running in
    parallel and from the user's desktop. Also makes X errors non-fatal for this process, as the
    framework does for standalone apps. Call it before the first window opens (a global test
    environment does); the framework reads the display once. False when it cannot start. */
bool ensureWindowManager();

/** Makes this test program start its display and window manager (ensureWindowManager) before
    its first test. When they cannot be started, the program ends with a failure at once:
    otherwise the test framework would report every test as skipped, which hides them all.
    Call it from a namespace-scope initialiser of any file that opens windows; the first call
    registers, later ones do nothing. */
bool useWindowManager();

} // namespace vyx::test

namespace cvx
{

/** Names a fade state in test failure messages. */
inline void PrintTo (AudioProcessor::FadeState state, std::ostream* os)
{
    const char* const names[] { "normal", "fadingOut", "silent", "fadingIn" };
    *os << names[(int) state];
}

} // namespace cvx
