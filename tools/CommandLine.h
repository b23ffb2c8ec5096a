#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <functional>
#include <iosfwd>
#include <optional>
#include <vector>

namespace vyx::host
{

/** Exit statuses of vyxhost. */
enum ExitStatus : int
{
    exitSuccess = 0,
    exitFailure = 1,  // the command ran and failed (a file it cannot read, a plug-in it cannot load)
    exitUsage = 2     // the command line is not one the tool understands
};

/** A command line the tool does not understand: an unknown option, a missing or malformed
    value, too many or too few arguments. Ends the run with exitUsage. */
struct UsageError
{
    juce::String message;
};

/** A failure while the command runs. Ends the run with exitFailure. */
struct CommandError
{
    juce::String message;
};

/** One option of a command, as "--name VALUE" (or a switch, "--name"). */
struct Option
{
    juce::String name;         // "--block"
    juce::String value;        // what it takes, as the usage shows it ("N", "none|2x|4x|8x"); empty for a switch
    juce::String description;  // one line for the command's help
    bool repeatable = false;   // every occurrence counts (--set), rather than the last one
    juce::String alias = {};   // another spelling ("-h")
};

/** The options every command takes: --plugin BUNDLE, --verbose and --help. */
const std::vector<Option>& getCommonOptions();

/** A command line read against a command's options. */
class Arguments
{
public:
    /** The words that are not options or their values, in order. */
    juce::StringArray positional;

    /** Whether the option (its name, "--block") was given. */
    bool has (const juce::String& option) const;

    /** The value of the option's last occurrence; empty when it was not given. */
    juce::String getValue (const juce::String& option) const;

    /** The values of every occurrence of the option, in order. */
    juce::StringArray getValues (const juce::String& option) const;

    /** The bundle to load: --plugin BUNDLE, or the bundle this tree built. */
    juce::File getBundle() const;

    bool wantsHelp() const { return has ("--help"); }
    bool isVerbose() const { return has ("--verbose"); }

    /** Adds one occurrence of an option (its name, not an alias). */
    void add (const juce::String& option, const juce::String& value);

private:
    std::vector<std::pair<juce::String, juce::String>> given;
};

/** One command of vyxhost: its name, its usage and what runs it. */
struct Command
{
    juce::String name;                                      // "render"
    juce::String arguments;                                 // the words the usage shows before the options: "IN OUT"
    juce::String summary;                                   // a few words, for the list of commands
    juce::String description;                               // what it does, for its help
    std::vector<Option> options;                            // beyond the common ones
    std::function<int (const Arguments&, std::ostream& out, std::ostream& err)> run;  // returns the exit status
};

/** "usage: vyxhost NAME ARGUMENTS [OPTION ...]", one line. */
juce::String getUsageLine (const Command& command);

/** One line for each option, "  -h, --help  description", the descriptions aligned. */
juce::String getOptionList (const std::vector<Option>& options);

/** The usage line, the description and one line for each option, common ones included. */
juce::String getHelp (const Command& command);

/** Reads the words after the command's name. Words that start with "-" are options; an
    option that takes a value takes the next word, whatever it is. Throws UsageError for an
    unknown option and for one whose value is missing. */
Arguments parseArguments (const Command& command, const juce::StringArray& words);

/** Reads the common options at the start of the words, as parseArguments does, up to the
    first word that is neither an option nor an option's value. Returns that word's index
    (words.size() when there is none). */
int parseLeadingOptions (const juce::StringArray& words, Arguments& arguments);

/** Runs a command on the words after its name: --help prints the help on out (exit status
    0); otherwise beforeRun (when set) sees the arguments and the command runs. A failure is
    one line on err, "vyxhost NAME: what went wrong", and the exit status says which kind
    (ExitStatus); the usage is left to the caller. Message thread. */
int runCommand (const Command& command,
                const juce::StringArray& words,
                std::ostream& out,
                std::ostream& err,
                const std::function<void (const Arguments&)>& beforeRun = {});

//==============================================================================
/** A path as typed: relative to the current folder unless absolute. */
juce::File fileArgument (const juce::String& path);

/** A finite decimal number (the whole text, surrounding spaces aside), or nothing. */
std::optional<double> parseNumber (const juce::String& text);

/** A whole number within +-1e9 (the whole text, surrounding spaces aside), or nothing. */
std::optional<int> parseInt (const juce::String& text);

/** Refuses a count of positional words other than the allowed ones with a UsageError that
    says what the command expects (expected, as "an input and an output file"). */
void checkPositionalCount (const Arguments& arguments, std::initializer_list<int> allowed, const juce::String& expected);

/** Loads the bundle and creates one instance (loadPlugin), throwing CommandError
    "cannot load BUNDLE: reason" when that fails. Message thread. */
std::unique_ptr<juce::AudioPluginInstance> loadBundle (const juce::File& bundle, double sampleRate, int blockSize);

} // namespace vyx::host
