// The built `vyxhost` as people run it from a shell: help, refusals and their exit statuses,
// the bundle each command loads, the framework's notices; and the two pieces it is made of
// that read outside data: the log filter and the reader of saved states.

#include "HostTestSupport.h"
#include "StateFile.h"

#include <thread>

namespace vyx::test
{
namespace
{
    /** The commands the tool has. */
    const juce::StringArray commandNames { "info", "render", "demo", "screenshot" };

    struct ToolRun
    {
        int exitCode = -1;
        juce::StringArray lines;  // stdout and stderr together, in the order they came

        juce::String firstLine() const { return lines.isEmpty() ? juce::String() : lines[0]; }
        juce::String text() const { return lines.joinIntoString ("\n"); }
    };

    /** Runs the built tool with folder as its current folder. Debug builds of the framework
        print their version when they load, in the tool and in the plug-in, before the tool's
        own code runs; those lines are left out. */
    ToolRun runTool (const juce::File& folder, const juce::StringArray& arguments)
    {
        juce::StringArray command { "/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", folder.getFullPathName(), VYX_HOST_TOOL };
        command.addArray (arguments);

        ToolRun run;
        juce::ChildProcess process;
        if (! process.start (command))
        {
            ADD_FAILURE() << "cannot start " << VYX_HOST_TOOL;
            return run;
        }
        const auto output = process.readAllProcessOutput();
        if (! process.waitForProcessToFinish (120000))
        {
            ADD_FAILURE() << "vyxhost " << arguments.joinIntoString (" ") << " did not finish";
            process.kill();
            return run;
        }
        run.exitCode = (int) process.getExitCode();

        for (const auto& line : juce::StringArray::fromLines (output))
            if (line != juce::SystemStats::getJUCEVersion())
                run.lines.add (line);
        run.lines.removeEmptyStrings (false);
        return run;
    }

    /** A fresh, empty folder for one run. */
    juce::File makeRunFolder (const juce::String& name)
    {
        auto folder = getTestHome().getChildFile ("vyxhost").getChildFile (name);
        folder.deleteRecursively();
        folder.createDirectory();
        return folder;
    }

    /** Files and folders in a folder, hidden ones (temporary files) included. */
    int countFiles (const juce::File& folder)
    {
        return folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories);
    }

    void writeSilence (const juce::File& file, double sampleRate, int length)
    {
        juce::AudioBuffer<float> silence (2, length);
        silence.clear();
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (file.createOutputStream().release(), sampleRate,
                                                                              2, 32, {}, 0));
        ASSERT_NE (writer, nullptr);
        ASSERT_TRUE (writer->writeFromAudioSampleBuffer (silence, 0, length));
    }
} // namespace

TEST (HostTool, HelpRefusalsAndExitStatuses)
{
    struct Case
    {
        juce::StringArray arguments;
        int exitCode;
        juce::String firstLine;  // how the first line starts
        juce::String usage;      // the usage the run shows, empty for none
    };

    std::vector<Case> cases {
        { { "--help" }, 0, "usage: vyxhost ", "usage: vyxhost [COMMAND]" },
        { { "-h" }, 0, "usage: vyxhost ", "usage: vyxhost [COMMAND]" },
        { { "--verbose", "--help" }, 0, "usage: vyxhost ", "usage: vyxhost [COMMAND]" },

        // A word that is no command and no bundle is not taken for a bundle.
        { { "rendr" }, 2, "vyxhost: unknown command 'rendr'", "usage: vyxhost [COMMAND]" },
        { { "--frobnicate" }, 2, "vyxhost: unknown option --frobnicate", "usage: vyxhost [COMMAND]" },
        { { "--plugin" }, 2, "vyxhost: --plugin needs a value", "usage: vyxhost [COMMAND]" },

        { { "render", "in.wav", "out.wav", "--frobnicate" }, 2, "vyxhost render: unknown option --frobnicate", "usage: vyxhost render " },
        { { "demo", "--frobnicate" }, 2, "vyxhost demo: unknown option --frobnicate", "usage: vyxhost demo " },
        { { "screenshot", "out.png", "-x" }, 2, "vyxhost screenshot: unknown option -x", "usage: vyxhost screenshot " },
        { { "info", "--frobnicate" }, 2, "vyxhost info: unknown option --frobnicate", "usage: vyxhost info " },

        // Missing or extra arguments, and options without their values.
        { { "render" }, 2, "vyxhost render: expected an input and an output file", "usage: vyxhost render " },
        { { "render", "in.wav" }, 2, "vyxhost render: expected an input and an output file", "usage: vyxhost render " },
        { { "render", "in.wav", "out.wav", "--block" }, 2, "vyxhost render: --block needs a value", "usage: vyxhost render " },
        { { "render", "in.wav", "out.wav", "--block", "0" }, 2, "vyxhost render: --block takes", "usage: vyxhost render " },
        { { "screenshot" }, 2, "vyxhost screenshot: expected an output file", "usage: vyxhost screenshot " },
        { { "screenshot", "out.png", "900" }, 2, "vyxhost screenshot: expected an output file", "usage: vyxhost screenshot " },
        { { "demo", "one", "two" }, 2, "vyxhost demo: expected at most one folder", "usage: vyxhost demo " },
        { { "info", "a.vst3", "b.vst3" }, 2, "vyxhost info: expected at most one bundle", "usage: vyxhost info " },
        { { "demo", "--plugin" }, 2, "vyxhost demo: --plugin needs a value", "usage: vyxhost demo " },
    };

    // Every command explains itself, wherever --help stands, and does nothing else: the demo
    // makes no folder named after it.
    for (const auto& name : commandNames)
    {
        cases.push_back ({ { name, "--help" }, 0, "usage: vyxhost " + name + " ", "usage: vyxhost " + name + " " });
        cases.push_back ({ { name, "-h" }, 0, "usage: vyxhost " + name + " ", "usage: vyxhost " + name + " " });
        cases.push_back ({ { "--verbose", name, "x.wav", "y.wav", "--help" }, 0, "usage: vyxhost " + name + " ", "usage: vyxhost " + name + " " });
    }

    int index = 0;
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.arguments.joinIntoString (" "));
        const auto folder = makeRunFolder ("refusal-" + juce::String (index++));
        const auto run = runTool (folder, c.arguments);

        EXPECT_EQ (run.exitCode, c.exitCode) << run.text();
        EXPECT_TRUE (run.firstLine().startsWith (c.firstLine)) << run.text();
        EXPECT_TRUE (run.text().contains (c.usage)) << run.text();
        EXPECT_EQ (countFiles (folder), 0) << "a refused run or a help wrote something";
    }
}

TEST (HostTool, HelpListsEveryCommandAndTheCommonOptions)
{
    const auto run = runTool (makeRunFolder ("help"), { "--help" });
    ASSERT_EQ (run.exitCode, 0) << run.text();

    for (const auto& name : commandNames)
    {
        SCOPED_TRACE (name);
        const bool listed = std::any_of (run.lines.begin(), run.lines.end(),
                                         [&] (const juce::String& line) { return line.trimStart().startsWith (name + " "); });
        EXPECT_TRUE (listed) << run.text();

        // Each command's usage names the options every command takes.
        const auto usage = runTool (makeRunFolder ("help-" + name), { name, "--help" }).firstLine();
        for (const auto* option : { "[--plugin BUNDLE]", "[--verbose]" })
            EXPECT_TRUE (usage.contains (option)) << usage;
    }
}

TEST (HostTool, EveryCommandLoadsTheBundleThatPluginNames)
{
    const auto folder = makeRunFolder ("bundle");
    writeSilence (folder.getChildFile ("in.wav"), 48000.0, 4800);
    const auto missing = folder.getChildFile ("elsewhere").getChildFile ("Vyx.vst3").getFullPathName();

    // A bundle renamed by hand: its library is no longer where the name says, and the
    // framework asserts on its way to refusing it.
    const auto renamed = folder.getChildFile ("Renamed.vst3");
    ASSERT_TRUE (vyx::host::getBuiltBundle().createSymbolicLink (renamed, true));
    const auto renamedPath = renamed.getFullPathName();

    struct Case
    {
        juce::StringArray arguments;
        juce::String name;        // the command that runs
        juce::String bundle;      // the bundle it tries
        juce::String unwritten;   // a file the run must not leave
    };
    const Case cases[] {
        { { "--plugin", missing }, "info", missing, {} },
        { { missing }, "info", missing, {} },
        { { "info", "--plugin", missing }, "info", missing, {} },
        { { "render", "in.wav", "out.wav", "--plugin", missing }, "render", missing, "out.wav" },
        { { "demo", "demo", "--plugin", missing }, "demo", missing, "demo/demo-out.wav" },
        { { "--plugin", missing, "screenshot", "shot.png" }, "screenshot", missing, "shot.png" },
        { { "info", "--plugin", renamedPath }, "info", renamedPath, {} },
        { { "render", "in.wav", "out.wav", "--plugin", renamedPath }, "render", renamedPath, "out.wav" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.arguments.joinIntoString (" "));
        const auto run = runTool (folder, c.arguments);
        EXPECT_EQ (run.exitCode, 1) << run.text();
        // One line, the tool's own: the framework's log stays out of it.
        EXPECT_EQ (run.lines.size(), 1) << run.text();
        EXPECT_TRUE (run.firstLine().startsWith ("vyxhost " + c.name + ": cannot load " + c.bundle)) << run.text();
        if (c.unwritten.isNotEmpty())
        {
            EXPECT_FALSE (folder.getChildFile (c.unwritten).exists());
        }
    }

    // And it is that bundle that runs, under the path it was given (a bundle keeps its name:
    // the library inside is found by it).
    const auto link = folder.getChildFile ("linked").getChildFile (vyx::host::getBuiltBundle().getFileName());
    ASSERT_TRUE (link.getParentDirectory().createDirectory());
    ASSERT_TRUE (vyx::host::getBuiltBundle().createSymbolicLink (link, true));
    const auto linked = runTool (folder, { "info", "--plugin", link.getFullPathName() });
    ASSERT_EQ (linked.exitCode, 0) << linked.text();
    EXPECT_TRUE (linked.text().contains (link.getFullPathName())) << linked.text();
    EXPECT_FALSE (linked.text().contains (vyx::host::getBuiltBundle().getFullPathName())) << linked.text();
}

TEST (HostTool, FrameworkNoticesOnlyWithVerbose)
{
    const auto folder = makeRunFolder ("notices");

    // Loading and preparing the plug-in is what raises the framework's notice.
    const auto quiet = runTool (folder, { "info" });
    ASSERT_EQ (quiet.exitCode, 0) << quiet.text();
    EXPECT_FALSE (quiet.text().contains ("framework notice")) << quiet.text();
    EXPECT_FALSE (quiet.text().contains ("JUCE Assertion")) << quiet.text();

    // What is left is the report itself: a "name: value" line for the plug-in's name, its
    // bundle, parameters, latency, and the input and output peaks.
    EXPECT_EQ (quiet.lines.size(), 6) << quiet.text();
    for (const auto& line : quiet.lines)
        EXPECT_TRUE (line.upToFirstOccurrenceOf (":", false, false).containsOnly ("abcdefghijklmnopqrstuvwxyz- ")) << line;

    const auto verbose = runTool (folder, { "info", "--verbose" });
    ASSERT_EQ (verbose.exitCode, 0) << verbose.text();
    EXPECT_TRUE (verbose.text().contains ("framework notice")) << verbose.text();
    EXPECT_FALSE (verbose.text().contains ("JUCE Assertion")) << "the notice is shown under its own name: " << verbose.text();
}

TEST (HostLogger, KnowsTheHostThreadNoticeByItsFileThreadAndCaller)
{
    // The notice as it comes: a new instance announces its latency from the plug-in's own
    // thread when it is first prepared.
    struct Recorder : juce::Logger
    {
        void logMessage (const juce::String& message) override
        {
            const juce::ScopedLock hold (lock);
            (vyx::host::HostLogger::isKnownHostThreadAssertion (message) ? known : others).add (message);
        }

        juce::CriticalSection lock;
        juce::StringArray known, others;
    };

    Recorder recorder;
    auto* const previous = juce::Logger::getCurrentLogger();
    juce::Logger::setCurrentLogger (&recorder);
    if (auto instance = loadBuiltPlugin (48000.0, 512))
    {
        prepare (*instance, 48000.0, 512);
        instance->releaseResources();
    }
    juce::Logger::setCurrentLogger (previous);

    EXPECT_FALSE (recorder.known.isEmpty());
    EXPECT_TRUE (recorder.others.isEmpty()) << recorder.others.joinIntoString ("\n");

    // The same check failing on a call of the host's own is a fault, on any thread; and other
    // messages are never the notice.
    const juce::StringArray messages {
        "JUCE Assertion failure in juce_VST3PluginFormat.cpp:3635",
        "JUCE Assertion failure in juce_VST3PluginFormat.cpp:2496",
        "JUCE Assertion failure in juce_AudioProcessor.cpp:3635",
        "Leaked objects detected: 1 instance(s) of class VST3PluginInstance",
    };
    for (const auto& message : messages)
    {
        SCOPED_TRACE (message);
        EXPECT_FALSE (vyx::host::HostLogger::isKnownHostThreadAssertion (message));
        bool knownElsewhere = true;
        std::thread ([&] { knownElsewhere = vyx::host::HostLogger::isKnownHostThreadAssertion (message); }).join();
        EXPECT_FALSE (knownElsewhere);
    }
}

TEST (HostStateFile, ReadsThePluginsBlockOrAHostsStateAroundIt)
{
    auto instance = loadBuiltPlugin();
    ASSERT_NE (instance, nullptr);
    juce::MemoryBlock hostState;
    instance->getStateInformation (hostState);
    const auto componentState = vyx::host::getComponentState (hostState);
    ASSERT_GT (componentState.getSize(), 0u);

    juce::MemoryBlock prefixed ("junk:", 5);
    prefixed.append (componentState.getData(), componentState.getSize());
    const juce::MemoryBlock halfHostState (hostState.getData(), hostState.getSize() / 2);
    const juce::MemoryBlock text ("not a state", 11);

    // A host's state whose component text starts with a byte count past what an int holds:
    // the framework's decoder would size its block from it before reading a character.
    juce::MemoryBlock hugeCount;
    {
        juce::XmlElement hostDocument ("VST3PluginState");
        hostDocument.createNewChildElement ("IComponent")->addTextElement ("3000953674316.AAAA");
        juce::AudioProcessor::copyXmlToBinary (hostDocument, hugeCount);
    }

    // The component's element named in other letters, which the framework's own lookup finds
    // but asserts on.
    juce::MemoryBlock otherCase;
    {
        juce::XmlElement hostDocument ("VST3PluginState");
        hostDocument.createNewChildElement ("icomponent")->addTextElement (componentState.toBase64Encoding());
        juce::AudioProcessor::copyXmlToBinary (hostDocument, otherCase);
    }

    struct Case
    {
        const char* name;
        const juce::MemoryBlock& data;
        bool holdsState;
    };
    const Case cases[] {
        { "a host's saved state", hostState, true },
        { "the plug-in's component state", componentState, true },
        { "the block after other bytes", prefixed, true },
        { "half of a host's state", halfHostState, false },
        { "text", text, false },
        { "a host's state with an impossible byte count", hugeCount, false },
        { "a host's state naming its component in other letters", otherCase, true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto document = vyx::host::readStateDocument (c.data);
        ASSERT_EQ (document != nullptr, c.holdsState);
        if (document == nullptr)
            continue;

        EXPECT_TRUE (document->hasTagName ("State"));
        const auto* parameters = document->getChildByName ("Parameters");
        ASSERT_NE (parameters, nullptr);
        EXPECT_EQ (parameters->getNumChildElements(), 94);
        EXPECT_NE (document->getChildByName ("Attributes"), nullptr);
    }
}

} // namespace vyx::test
