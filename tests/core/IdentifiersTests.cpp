#include "CoreTestSupport.h"

namespace
{

struct Division
{
    const char* name;
    int numerator, denominator;   // fraction of a whole note
};

/** Shortest first. Dotted entries are 3/4 of the plain division, triplets 2/3 of it. */
const Division divisions[] {
    { "1/16D", 3, 64 }, { "1/16T", 1, 24 }, { "1/16", 1, 16 },
    { "1/8D", 3, 32 },  { "1/8T", 1, 12 },  { "1/8", 1, 8 },
    { "1/4D", 3, 16 },  { "1/4T", 1, 6 },   { "1/4", 1, 4 },
    { "1/2D", 3, 8 },   { "1/2T", 1, 3 },   { "1/2", 1, 2 },
    { "1/1", 1, 1 },    { "2/1", 2, 1 },
};

} // namespace

TEST (BeatTables, TimeDivisionsShortestFirst)
{
    ASSERT_EQ (cvx::TimeParameter::beatNames.size(), 14);
    ASSERT_EQ (cvx::TimeParameter::beatFactors.size(), 14u);

    for (int i = 0; i < 14; ++i)
    {
        const auto& d = divisions[i];
        SCOPED_TRACE (d.name);
        EXPECT_EQ (cvx::TimeParameter::beatNames[i], d.name);
        EXPECT_EQ (cvx::TimeParameter::beatFactors[(size_t) i], (float) d.numerator / (float) d.denominator);
    }

    // Dotted is three quarters and triplet two thirds of the plain division after them.
    for (int plain : { 2, 5, 8, 11 })
    {
        const float f = cvx::TimeParameter::beatFactors[(size_t) plain];
        EXPECT_FLOAT_EQ (cvx::TimeParameter::beatFactors[(size_t) plain - 2], 0.75f * f);
        EXPECT_FLOAT_EQ (cvx::TimeParameter::beatFactors[(size_t) plain - 1], f * 2.0f / 3.0f);
    }
}

TEST (BeatTables, RateDivisionsLongestFirst)
{
    ASSERT_EQ (cvx::RateParameter::beatNames.size(), 14);
    ASSERT_EQ (cvx::RateParameter::beatFactors.size(), 14u);

    for (int i = 0; i < 14; ++i)
    {
        const auto& d = divisions[13 - i];
        SCOPED_TRACE (d.name);
        EXPECT_EQ (cvx::RateParameter::beatNames[i], d.name);
        EXPECT_EQ (cvx::RateParameter::beatFactors[(size_t) i], (float) d.numerator / (float) d.denominator);
    }
}

TEST (SharedIdentifiers, EqualTextsAddressTheSameProperty)
{
    juce::ValueTree tree { cvx::State::attributesID };
    tree.setProperty (cvx::State::Attributes::colour, "ff010203", nullptr);
    EXPECT_EQ (juce::Identifier ("colour"), cvx::State::Attributes::colour);
    EXPECT_EQ (tree[juce::Identifier ("colour")].toString(), "ff010203");

    // A key that was never written reads as void.
    EXPECT_TRUE (tree[cvx::State::Attributes::scale].isVoid());
}
