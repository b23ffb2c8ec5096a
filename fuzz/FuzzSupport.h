#pragma once

#include <cvx_core/cvx_core.h>
#include <plugin/PluginProcessor.h>

#include <cstdio>
#include <cstdlib>

namespace vyx::fuzz
{

namespace detail
{
    using KeptObjects = std::vector<std::shared_ptr<void>>;

    /** What the run keeps, oldest first. Held through a pointer, so that no static destructor
        of its own tears it down in the wrong order. */
    inline KeptObjects*& keptObjects()
    {
        static KeptObjects* objects = nullptr;
        return objects;
    }

    inline void destroyKeptObjects()
    {
        auto*& objects = keptObjects();
        if (objects == nullptr)
            return;

        while (! objects->empty())
            objects->pop_back();

        delete objects;
        objects = nullptr;
    }
} // namespace detail

/** Keeps an object for the rest of the run and destroys it when the process exits, newest
    first, before the statics that existed when it was kept: a processor's threads are stopped
    and joined while everything they read still exists, and the framework is shut down last,
    so that no singleton outlives it or is created again. */
template <typename Type>
Type& keepUntilExit (std::unique_ptr<Type> object)
{
    auto*& objects = detail::keptObjects();
    if (objects == nullptr)
        objects = new detail::KeptObjects();

    auto& kept = *object;
    objects->push_back (std::shared_ptr<Type> (std::move (object)));

    // Exit handlers and the destructors of statics run in the reverse order of their
    // registration. Registering again after each object makes the teardown run before the
    // statics that object's construction created; the earlier registrations find nothing left.
    std::atexit (detail::destroyKeptObjects);
    return kept;
}

/** Starts the framework once per process with HOME in a fresh temporary folder, so that the
    settings and preset folders a processor touches are never the real user's. The folder is
    deleted at exit, after the framework has shut down. */
inline void initialise()
{
    static bool done = false;
    if (done)
        return;
    done = true;

    struct TemporaryHome
    {
        ~TemporaryHome() { folder.deleteRecursively(); }
        juce::File folder;
    };

    char pattern[] = "/tmp/vyx-fuzz-home-XXXXXX";
    if (const char* home = mkdtemp (pattern))
    {
        setenv ("HOME", home, 1);
        setenv ("XDG_CONFIG_HOME", (juce::String (home) + "/.config").toRawUTF8(), 1);
        keepUntilExit (std::make_unique<TemporaryHome>()).folder = juce::File (home);
    }

    // The processor's parameter state needs a message manager.
    keepUntilExit (std::make_unique<juce::ScopedJuceInitialiser_GUI>());
}

/** One processor for the whole run (building one per input would dominate the run time). */
inline VyxAudioProcessor& getProcessor()
{
    static auto& processor = []() -> VyxAudioProcessor&
    {
        std::unique_ptr<VyxAudioProcessor> created (dynamic_cast<VyxAudioProcessor*> (createPluginFilter()));

        // The version check starts with the processor, on its own thread, where the network
        // library creates its statics and registers its exit handlers (the crypto library's
        // cleanup among them). Once it is over (at once, against the closed test address), the
        // processor is kept: its teardown then runs before all of them.
        created->state.versionManager->waitForCompletion (10000);
        return keepUntilExit (std::move (created));
    }();
    return processor;
}

/** Reports a broken property and stops the run, so libFuzzer saves the input. */
[[noreturn]] inline void fail (const char* what, const juce::String& detail = {})
{
    std::fprintf (stderr, "fuzz property broken: %s\n%s\n", what, detail.toRawUTF8());
    std::abort();
}

} // namespace vyx::fuzz
