// Headless test host: loads the Vyx bundle through its VST3 factory, the way a DAW does, and
// runs it without one: prints what a host sees, renders files, makes a demo, takes a picture of
// the editor.

#include "Demo.h"
#include "Info.h"
#include "PluginHost.h"
#include "Render.h"
#include "Screenshot.h"

#include <iostream>

namespace
{
    using namespace vyx::host;

    /** Every command, in the order the help lists them. The first one runs when none is named. */
    const std::vector<const Command*>& getCommands()
    {
        static const std::vector<const Command*> commands {
            &getInfoCommand(),
            &getRenderCommand(),
            &getDemoCommand(),
            &getScreenshotCommand(),
        };
        return commands;
    }

    const Command* findCommand (const juce::String& name)
    {
        for (const auto* command : getCommands())
            if (command->name == name)
                return command;
        return nullptr;
    }

    /** `vyxhost BUNDLE` runs the first command on that bundle: a word that is no command's name
        is taken for a bundle when it looks like one. */
    bool looksLikeBundle (const juce::String& word)
    {
        return word.endsWithIgnoreCase (".vst3") || fileArgument (word).exists();
    }

    juce::String getToolUsageLine()
    {
        return "usage: vyxhost [COMMAND] [ARGUMENTS] [--plugin BUNDLE] [--verbose]";
    }

    juce::String getCommandList()
    {
        int width = 0;
        for (const auto* command : getCommands())
            width = std::max (width, command->name.length());

        juce::String list ("commands:\n");
        for (const auto* command : getCommands())
            list << "  " << command->name.paddedRight (' ', width) << "  "
                 << command->summary << "\n";
        return list;
    }

    juce::String getToolHelp()
    {
        juce::String help;
        help << getToolUsageLine() << "\n\n"
             << "Loads the Vyx VST3 bundle through its factory, as a DAW does, and runs it without one.\n\n"
             << getCommandList() << "\n"
             << "options of every command:\n"
             << getOptionList (getCommonOptions()) << "\n"
             << "With no command, vyxhost runs '" << getCommands().front()->name << "'; 'vyxhost BUNDLE' is short for\n"
             << "'vyxhost " << getCommands().front()->name << " BUNDLE'. 'vyxhost COMMAND --help' describes one command.\n";
        return help;
    }

    /** The command line without the program's name. */
    juce::StringArray getWords (int argc, char** argv)
    {
        juce::StringArray words;
        for (int i = 1; i < argc; ++i)
            words.add (juce::String::fromUTF8 (argv[i]));
        return words;
    }

    /** Reads the command's name (after any common options), runs it on the other words and
        answers a command line it does not understand with the usage, exit status 2. */
    int runCommandLine (const juce::StringArray& words, HostLogger& logger, std::ostream& out, std::ostream& err)
    {
        const auto refuse = [&err] (const juce::String& message)
        {
            err << "vyxhost: " << message << "\n" << getToolUsageLine() << "\n" << getCommandList() << "'vyxhost --help' tells more." << std::endl;
            return exitUsage;
        };

        int nameIndex = 0;
        try
        {
            Arguments leading;
            nameIndex = parseLeadingOptions (words, leading);
            if (leading.wantsHelp())
            {
                out << getToolHelp() << std::flush;
                return exitSuccess;
            }
        }
        catch (const UsageError& e)
        {
            return refuse (e.message);
        }

        const auto* command = getCommands().front();
        auto commandWords = words;
        if (nameIndex < words.size())
        {
            const auto& word = words[nameIndex];
            if (const auto* named = findCommand (word))
            {
                command = named;
                commandWords.remove (nameIndex);
            }
            else if (! looksLikeBundle (word))
            {
                return refuse ("unknown command '" + word + "'");
            }
            // Otherwise the bundle stays, as the first command's argument.
        }

        const int status = runCommand (*command, commandWords, out, err, [&logger] (const Arguments& arguments)
        {
            logger.setOutput (arguments.isVerbose() ? HostLogger::Output::printed : HostLogger::Output::silent);
        });

        if (status == exitUsage)
            err << getUsageLine (*command) << "\n'vyxhost " << command->name << " --help' tells more." << std::endl;
        return status;
    }

    /** Makes the logger the framework's for as long as it lives. */
    struct CurrentLogger
    {
        explicit CurrentLogger (juce::Logger& logger) { juce::Logger::setCurrentLogger (&logger); }
        ~CurrentLogger() { juce::Logger::setCurrentLogger (nullptr); }
    };
} // namespace

int main (int argc, char** argv)
{
    // The framework's log is for people who ask for it (--verbose).
    HostLogger logger (HostLogger::Output::silent);
    const CurrentLogger currentLogger (logger);
    const juce::ScopedJuceInitialiser_GUI framework;
    return runCommandLine (getWords (argc, argv), logger, std::cout, std::cerr);
}
