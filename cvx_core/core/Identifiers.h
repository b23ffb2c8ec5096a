#pragma once

namespace cvx
{

/** Note divisions offered by tempo-synced time parameters: names and lengths as fractions
    of a whole note, shortest first. Dotted entries are 3/4 of the plain division, triplets 2/3. */
struct TimeParameter
{
    static const juce::StringArray beatNames;
    static const std::vector<float> beatFactors;
};

/** The same divisions as TimeParameter, longest first, for tempo-synced rates. */
struct RateParameter
{
    static const juce::StringArray beatNames;
    static const std::vector<float> beatFactors;
};

} // namespace cvx
