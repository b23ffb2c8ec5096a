#include "TestSupport.h"
#include "PluginHost.h"

#include <cstdlib>
#include <iostream>

namespace vyx::test
{

namespace
{
    juce::File& testHome()
    {
        static juce::File home;
        return home;
    }
} // namespace

juce::File getTestHome()
{
    return testHome();
}

bool runMessageLoopUntil (std::function<bool()> predicate, int timeoutMs)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    while (! predicate())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
    }
    return true;
}

} // namespace vyx::test

int main (int argc, char** argv)
{
    // Settings and preset folders derive from HOME: keep the tests out of the real user's
    // folders by pointing it at a fresh temporary folder.
    char pattern[] = "/tmp/vyx-test-home-XXXXXX";
    if (const char* home = mkdtemp (pattern))
    {
        setenv ("HOME", home, 1);
        const auto config = juce::String (home) + "/.config";
        setenv ("XDG_CONFIG_HOME", config.toRawUTF8(), 1);
        vyx::test::testHome() = juce::File (home);
    }

    vyx::host::HostLogger logger;
    juce::Logger::setCurrentLogger (&logger);

    int result = 0;
    {
        juce::ScopedJuceInitialiser_GUI juce;
        ::testing::InitGoogleTest (&argc, argv);
        result = RUN_ALL_TESTS();
    }

    juce::Logger::setCurrentLogger (nullptr);
    vyx::test::testHome().deleteRecursively();
    return result;
}
