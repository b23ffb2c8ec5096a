#pragma once

#include <juce_core/juce_core.h>

#include <cmath>
#include <vector>

/** The parameter table, written out independently of the plug-in's own layout
    code, with the range formulas a host position maps through. */
namespace vyx::test::expected
{

/** A parameter range: start and end in plain units, skew (1 = linear), or logarithmic
    (f = start · (end/start)^p); stepped ranges snap to whole numbers; decimals is how many
    places the default value text shows. */
struct Range
{
    double start, end, skew;
    bool logarithmic, stepped;
    int decimals;

    /** Plain value to normalised 0..1. */
    double normalise (double plain) const
    {
        if (logarithmic)
            return std::log (plain / start) / std::log (end / start);
        return std::pow ((plain - start) / (end - start), skew);
    }

    /** Normalised 0..1 to plain value. */
    double denormalise (double p) const
    {
        const double plain = logarithmic ? start * std::pow (end / start, p)
                                         : start + (end - start) * std::pow (p, 1.0 / skew);
        return stepped ? std::round (plain) : plain;
    }
};

inline const Range gain { -80.0, 12.0, 1.0, false, false, 6 };
inline const Range percent { 0.0, 100.0, 1.0, false, false, 6 };
inline const Range bandCount { 1.0, 8.0, 1.0, false, true, 0 };
inline const Range unit { 0.0, 1.0, 1.0, false, false, 6 };
inline const Range threshold { -60.0, 0.0, 1.0, false, false, 6 };
inline const Range ratio { 1.0, 16.0, 0.25, false, false, 6 };
inline const Range time { 0.0, 450.0, 0.35, false, false, 6 };
inline const Range frequency { 20.0, 44000.0, 1.0, true, false, 7 };
inline const Range onOff { 0.0, 1.0, 1.0, false, true, 0 };

/** One host parameter as the table lists it. freshValue is what a new instance holds, which
    differs from the default only for the factory crossovers of bands 0 to 2. */
struct Parameter
{
    juce::String id, name;
    Range range;
    double defaultValue, freshValue;
};

/** The 94 parameters in host order: six globals, then eleven per band, band-major. */
inline std::vector<Parameter> parameters()
{
    struct Record { const char* id; const char* name; Range range; double defaultValue; };

    const Record globals[] {
        { "IN",  "Input Gain",  gain,      0.0 },
        { "DRY", "Dry Gain",    gain,      -80.0 },
        { "WET", "Wet Gain",    gain,      0.0 },
        { "MIX", "Mix",         percent,   100.0 },
        { "OUT", "Output Gain", gain,      0.0 },
        { "NUM", "Num Bands",   bandCount, 3.0 },
    };

    const Record perBand[] {
        { "BMIX", "Mix",             unit,      1.0 },
        { "THD",  "Thresh Down",     threshold, -8.0 },
        { "RAD",  "Ratio Down",      ratio,     4.0 },
        { "ATD",  "Attack Down",     time,      8.0 },
        { "RED",  "Release Down",    time,      50.0 },
        { "THU",  "Thresh Up",       threshold, -36.0 },
        { "RAU",  "Ratio Up",        ratio,     2.0 },
        { "ATU",  "Attack Up",       time,      50.0 },
        { "REU",  "Release Up",      time,      8.0 },
        { "CR",   "Crossover Right", frequency, 20000.0 },
        { "BON",  "Enabled",         onOff,     1.0 },
    };

    const double factoryCrossovers[] { 550.0, 2500.0, 20000.0 };

    std::vector<Parameter> result;
    for (const auto& r : globals)
        result.push_back ({ r.id, r.name, r.range, r.defaultValue, r.defaultValue });

    for (int band = 0; band < 8; ++band)
    {
        for (const auto& r : perBand)
        {
            const juce::String id (r.id);
            const double fresh = id == "CR" && band < 3 ? factoryCrossovers[band] : r.defaultValue;
            result.push_back ({ id + juce::String (band),
                                "Band " + juce::String (band) + " " + r.name,
                                r.range, r.defaultValue, fresh });
        }
    }
    return result;
}

} // namespace vyx::test::expected
