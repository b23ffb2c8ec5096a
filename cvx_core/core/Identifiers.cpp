namespace cvx
{

namespace
{
    const juce::StringArray divisionNames { "1/16D", "1/16T", "1/16", "1/8D", "1/8T", "1/8",
                                            "1/4D",  "1/4T",  "1/4",  "1/2D", "1/2T", "1/2",
                                            "1/1",   "2/1" };

    const std::vector<float> divisionFactors { 3.0f / 64.0f, 1.0f / 24.0f, 1.0f / 16.0f,
                                               3.0f / 32.0f, 1.0f / 12.0f, 1.0f / 8.0f,
                                               3.0f / 16.0f, 1.0f / 6.0f,  1.0f / 4.0f,
                                               3.0f / 8.0f,  1.0f / 3.0f,  1.0f / 2.0f,
                                               1.0f,         2.0f };

    juce::StringArray reversed (juce::StringArray names)
    {
        std::reverse (names.begin(), names.end());
        return names;
    }

    std::vector<float> reversed (std::vector<float> factors)
    {
        std::reverse (factors.begin(), factors.end());
        return factors;
    }
} // namespace

const juce::StringArray TimeParameter::beatNames { divisionNames };
const std::vector<float> TimeParameter::beatFactors { divisionFactors };
const juce::StringArray RateParameter::beatNames { reversed (divisionNames) };
const std::vector<float> RateParameter::beatFactors { reversed (divisionFactors) };

} // namespace cvx
