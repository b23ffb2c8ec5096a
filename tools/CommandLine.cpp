#include "CommandLine.h"
#include "PluginHost.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ostream>

namespace vyx::host
{

const std::vector<Option>& getCommonOptions()
{
    static const std::vector<Option> options {
        { "--plugin", "BUNDLE", "the VST3 bundle to load (default: the one this build made)" },
        { "--verbose", {}, "also print the framework's own log (its assertions and notices)" },
        { "--help", {}, "print this help and do nothing else", false, "-h" },
    };
    return options;
}

//==============================================================================
bool Arguments::has (const juce::String& option) const
{
    return std::any_of (given.begin(), given.end(), [&] (const auto& entry) { return entry.first == option; });
}

juce::String Arguments::getValue (const juce::String& option) const
{
    for (auto entry = given.rbegin(); entry != given.rend(); ++entry)
        if (entry->first == option)
            return entry->second;
    return {};
}

juce::StringArray Arguments::getValues (const juce::String& option) const
{
    juce::StringArray values;
    for (const auto& [name, value] : given)
        if (name == option)
            values.add (value);
    return values;
}

juce::File Arguments::getBundle() const
{
    return has ("--plugin") ? fileArgument (getValue ("--plugin")) : getBuiltBundle();
}

void Arguments::add (const juce::String& option, const juce::String& value)
{
    given.emplace_back (option, value);
}

//==============================================================================
namespace
{
    /** The command's own options, then the common ones. */
    std::vector<Option> allOptions (const Command& command)
    {
        auto options = command.options;
        const auto& common = getCommonOptions();
        options.insert (options.end(), common.begin(), common.end());
        return options;
    }

    /** Reads words from the first on against the options into arguments, stopping before the
        first positional word when asked to; returns the index of the first word not read. */
    int readWords (const std::vector<Option>& options, const juce::StringArray& words, Arguments& arguments, bool stopAtPositional)
    {
        int i = 0;
        for (; i < words.size(); ++i)
        {
            const auto& word = words[i];
            if (! word.startsWith ("-") || word == "-")
            {
                if (stopAtPositional)
                    break;
                arguments.positional.add (word);
                continue;
            }

            const auto option = std::find_if (options.begin(), options.end(),
                                              [&] (const Option& o) { return o.name == word || (o.alias.isNotEmpty() && o.alias == word); });
            if (option == options.end())
                throw UsageError { "unknown option " + word };

            if (option->value.isEmpty())
            {
                arguments.add (option->name, {});
            }
            else
            {
                if (i + 1 >= words.size())
                    throw UsageError { option->name + " needs a value (" + option->value + ")" };
                arguments.add (option->name, words[++i]);
            }
        }
        return i;
    }

    /** "--set ID=VALUE" as the usage and the help show an option. */
    juce::String spell (const Option& option)
    {
        return option.value.isEmpty() ? option.name : option.name + " " + option.value;
    }
} // namespace

juce::String getUsageLine (const Command& command)
{
    auto line = "usage: vyxhost " + command.name;
    if (command.arguments.isNotEmpty())
        line << " " << command.arguments;

    for (const auto& option : allOptions (command))
        if (option.name != "--help")
            line << " [" << spell (option) << (option.repeatable ? " ..." : "") << "]";
    return line;
}

juce::String getOptionList (const std::vector<Option>& options)
{
    const auto spellWithAlias = [] (const Option& option)
    {
        return (option.alias.isEmpty() ? juce::String() : option.alias + ", ") + spell (option);
    };

    int width = 0;
    for (const auto& option : options)
        width = std::max (width, spellWithAlias (option).length());

    juce::String list;
    for (const auto& option : options)
        list << "  " << spellWithAlias (option).paddedRight (' ', width) << "  " << option.description << "\n";
    return list;
}

juce::String getHelp (const Command& command)
{
    return getUsageLine (command) + "\n\n" + command.description + "\n\noptions:\n" + getOptionList (allOptions (command));
}

Arguments parseArguments (const Command& command, const juce::StringArray& words)
{
    Arguments arguments;
    readWords (allOptions (command), words, arguments, false);
    return arguments;
}

int parseLeadingOptions (const juce::StringArray& words, Arguments& arguments)
{
    return readWords (getCommonOptions(), words, arguments, true);
}

int runCommand (const Command& command,
                const juce::StringArray& words,
                std::ostream& out,
                std::ostream& err,
                const std::function<void (const Arguments&)>& beforeRun)
{
    const auto fail = [&] (const juce::String& message, ExitStatus status)
    {
        err << "vyxhost " << command.name << ": " << message << std::endl;
        return status;
    };

    try
    {
        const auto arguments = parseArguments (command, words);
        if (arguments.wantsHelp())
        {
            out << getHelp (command) << std::flush;
            return exitSuccess;
        }

        if (beforeRun)
            beforeRun (arguments);
        return command.run (arguments, out, err);
    }
    catch (const UsageError& e)
    {
        return fail (e.message, exitUsage);
    }
    catch (const CommandError& e)
    {
        return fail (e.message, exitFailure);
    }
}

//==============================================================================
juce::File fileArgument (const juce::String& path)
{
    return juce::File::getCurrentWorkingDirectory().getChildFile (path);
}

std::optional<double> parseNumber (const juce::String& text)
{
    const auto trimmed = text.trim();
    if (trimmed.isEmpty())
        return {};
    const char* start = trimmed.toRawUTF8();
    char* end = nullptr;
    const double value = std::strtod (start, &end);
    if (end == start || *end != 0 || ! std::isfinite (value))
        return {};
    return value;
}

std::optional<int> parseInt (const juce::String& text)
{
    const auto value = parseNumber (text);
    if (! value || *value != std::floor (*value) || std::abs (*value) > 1.0e9)
        return {};
    return (int) *value;
}

void checkPositionalCount (const Arguments& arguments, std::initializer_list<int> allowed, const juce::String& expected)
{
    const int count = arguments.positional.size();
    if (std::find (allowed.begin(), allowed.end(), count) == allowed.end())
        throw UsageError { "expected " + expected + ", not " + juce::String (count) + (count == 1 ? " argument" : " arguments") };
}

std::unique_ptr<juce::AudioPluginInstance> loadBundle (const juce::File& bundle, double sampleRate, int blockSize)
{
    juce::String error;
    auto instance = loadPlugin (bundle, sampleRate, blockSize, error);
    if (instance == nullptr)
        throw CommandError { "cannot load " + bundle.getFullPathName() + ": " + error };
    return instance;
}

} // namespace vyx::host
