#include "RenderOptions.h"

#include <plugin/Layout.h>

namespace vyx::host
{

namespace
{
    /** The --oversampling names, by stage of the "OVER" attribute. */
    const juce::StringArray oversamplingNames { "none", "2x", "4x", "8x" };

    /** The layout record of a host parameter id ("MIX", "THD3"), or null. */
    const Layout::Parameter* findLayoutParameter (const juce::String& id)
    {
        for (const auto* p : Layout::GLOBAL_PARAMS)
            if (p->id == id)
                return p;

        for (const auto* p : Layout::BAND_PARAMS)
            for (int band = 0; band < Layout::numBands; ++band)
                if (p->id + juce::String (band) == id)
                    return p;
        return nullptr;
    }

    ParameterSetting readSetting (const juce::String& setting)
    {
        if (! setting.containsChar ('='))
            throw UsageError { "--set needs ID=VALUE, not '" + setting + "'" };

        const auto id = setting.upToFirstOccurrenceOf ("=", false, false).trim();
        const auto text = setting.fromFirstOccurrenceOf ("=", false, false).trim();

        const auto* record = findLayoutParameter (id);
        if (record == nullptr)
            throw UsageError { "unknown parameter id '" + id + "'" };

        const auto value = parseNumber (text);
        const auto& range = record->range;
        if (! value || *value < range.start || *value > range.end)
            throw UsageError { "value '" + text + "' for " + id + " is out of range ("
                               + juce::String (range.start) + " to " + juce::String (range.end) + ")" };
        return { id, *value };
    }

    int readOversampling (const juce::String& name)
    {
        const int stage = oversamplingNames.indexOf (name, true);
        if (stage < 0)
            throw UsageError { "--oversampling takes none, 2x, 4x or 8x, not '" + name + "'" };
        return stage;
    }

    int readBlockSize (const juce::String& text)
    {
        const auto blockSize = parseInt (text);
        if (! blockSize || *blockSize < 1 || *blockSize > maximumRenderBlockSize)
            throw UsageError { "--block takes a whole number from 1 to " + juce::String (maximumRenderBlockSize)
                               + ", not '" + text + "'" };
        return *blockSize;
    }

    int readBits (const juce::String& text)
    {
        const auto bits = parseInt (text);
        if (! bits || (*bits != 24 && *bits != 32))
            throw UsageError { "--bits takes 24 or 32, not '" + text + "'" };
        return *bits;
    }

    /** The file an option names, or none when the option was not given. */
    juce::File optionalFile (const Arguments& arguments, const juce::String& option)
    {
        return arguments.has (option) ? fileArgument (arguments.getValue (option)) : juce::File();
    }
} // namespace

const std::vector<Option>& getRenderOptionList()
{
    static const std::vector<Option> options {
        { "--preset", "FILE", "a preset file, applied after --state (the instance's Attributes stay)" },
        { "--state", "FILE", "a saved state block to start from" },
        { "--set", "ID=VALUE", "a parameter's plain value, after --state and --preset (repeatable)", true },
        { "--oversampling", oversamplingNames.joinIntoString ("|"), "the oversampling, applied last" },
        { "--sidechain", "FILE", "feed this file to the sidechain input (same rate; padded with silence)" },
        { "--block", "N", "host block size in samples, 1 to " + juce::String (maximumRenderBlockSize) + " (default 512)" },
        { "--bits", "24|32", "OUT as 24-bit PCM or 32-bit float WAV (default 32)" },
    };
    return options;
}

RenderOptions readRenderOptions (const Arguments& arguments)
{
    checkPositionalCount (arguments, { 2 }, "an input and an output file");

    RenderOptions options;
    options.input = fileArgument (arguments.positional[0]);
    options.output = fileArgument (arguments.positional[1]);
    options.bundle = arguments.getBundle();
    options.preset = optionalFile (arguments, "--preset");
    options.state = optionalFile (arguments, "--state");
    options.sidechain = optionalFile (arguments, "--sidechain");

    for (const auto& setting : arguments.getValues ("--set"))
        options.settings.push_back (readSetting (setting));

    if (arguments.has ("--oversampling"))
        options.oversampling = readOversampling (arguments.getValue ("--oversampling"));
    if (arguments.has ("--block"))
        options.blockSize = readBlockSize (arguments.getValue ("--block"));
    if (arguments.has ("--bits"))
        options.bits = readBits (arguments.getValue ("--bits"));
    return options;
}

} // namespace vyx::host
