#pragma once

#include <cvx_core/cvx_core.h>
#include <plugin/PluginProcessor.h>

#include <cstdio>
#include <cstdlib>

namespace vyx::fuzz
{

/** Starts the framework once per process with HOME in a fresh temporary folder, so that the
    settings and preset folders a processor touches are never the real user's. */
inline void initialise()
{
    static bool done = false;
    if (done)
        return;
    done = true;

    char pattern[] = "/tmp/vyx-fuzz-home-XXXXXX";
    if (const char* home = mkdtemp (pattern))
    {
        setenv ("HOME", home, 1);
        setenv ("XDG_CONFIG_HOME", (juce::String (home) + "/.config").toRawUTF8(), 1);
    }

    // Kept for the life of the process (held by a static, so the leak checker sees it is
    // still reachable at exit): the processor's parameter state needs a message manager.
    static auto* framework = new juce::ScopedJuceInitialiser_GUI();
    juce::ignoreUnused (framework);
}

/** One processor for the whole run (building one per input would dominate the run time). */
inline VyxAudioProcessor& getProcessor()
{
    static auto* processor = dynamic_cast<VyxAudioProcessor*> (createPluginFilter());
    return *processor;
}

/** Reports a broken property and stops the run, so libFuzzer saves the input. */
[[noreturn]] inline void fail (const char* what, const juce::String& detail = {})
{
    std::fprintf (stderr, "fuzz property broken: %s\n%s\n", what, detail.toRawUTF8());
    std::abort();
}

} // namespace vyx::fuzz
