#include "TestSupport.h"
#include "plugin/PluginProcessor.h"

TEST (Layout, HasNinetyFourParameters)
{
    std::unique_ptr<juce::AudioProcessor> p (createPluginFilter());
    EXPECT_EQ (p->getParameters().size(), 94);
}
