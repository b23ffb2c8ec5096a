// Headless test host: loads the Vyx bundle through its VST3 factory, renders a generated
// signal through it and prints what a host would see.

#include "PluginHost.h"
#include "Render.h"
#include "Screenshot.h"

#include <iostream>

namespace
{
    /** Two seconds of a stereo test signal: a 110 Hz tone, a 2.5 kHz tone and quiet noise,
        with the level stepping down halfway so that both compressor directions act. */
    juce::AudioBuffer<float> makeTestSignal (double sampleRate)
    {
        const int length = (int) (2.0 * sampleRate);
        juce::AudioBuffer<float> signal (2, length);
        juce::Random random (42);
        for (int i = 0; i < length; ++i)
        {
            const double t = i / sampleRate;
            const float level = i < length / 2 ? 0.8f : 0.05f;
            const float tone = (float) (0.6 * std::sin (juce::MathConstants<double>::twoPi * 110.0 * t)
                                        + 0.3 * std::sin (juce::MathConstants<double>::twoPi * 2500.0 * t));
            for (int ch = 0; ch < 2; ++ch)
                signal.setSample (ch, i, level * tone + 0.01f * (random.nextFloat() * 2.0f - 1.0f));
        }
        return signal;
    }
} // namespace

int main (int argc, char** argv)
{
    vyx::host::HostLogger logger;
    juce::Logger::setCurrentLogger (&logger);
    juce::ScopedJuceInitialiser_GUI juceInit;

    if (argc > 1 && juce::String (argv[1]) == "screenshot")
    {
        juce::StringArray arguments;
        for (int i = 2; i < argc; ++i)
            arguments.add (juce::String::fromUTF8 (argv[i]));
        const int result = vyx::host::runScreenshot (arguments, std::cout, std::cerr);
        juce::Logger::setCurrentLogger (nullptr);
        return result;
    }

    if (argc > 1 && (juce::String (argv[1]) == "render" || juce::String (argv[1]) == "demo"))
    {
        juce::StringArray arguments;
        for (int i = 2; i < argc; ++i)
            arguments.add (juce::String::fromUTF8 (argv[i]));
        const int result = juce::String (argv[1]) == "render" ? vyx::host::runRender (arguments, std::cout, std::cerr)
                                                              : vyx::host::runDemo (arguments, std::cout, std::cerr);
        juce::Logger::setCurrentLogger (nullptr);
        return result;
    }

    const juce::File bundle = argc > 1 ? juce::File::getCurrentWorkingDirectory().getChildFile (argv[1])
                                       : vyx::host::getBuiltBundle();
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 512;

    juce::String error;
    auto plugin = vyx::host::loadPlugin (bundle, sampleRate, blockSize, error);
    if (plugin == nullptr)
    {
        std::cerr << "could not load " << bundle.getFullPathName() << ": " << error << std::endl;
        return 1;
    }

    plugin->setPlayConfigDetails (2, 2, sampleRate, blockSize);
    plugin->prepareToPlay (sampleRate, blockSize);

    // The plug-in announces its latency asynchronously; let the announcement arrive before
    // reading it, as a DAW would see it by the time playback starts.
    if (! vyx::host::syncLatency (*plugin))
        std::cerr << "latency reported by the plug-in (" << vyx::host::getProcessorLatency (*plugin)
                  << ") never reached the host" << std::endl;

    auto audio = makeTestSignal (sampleRate);
    const float inputPeak = vyx::host::getPeak (audio);
    vyx::host::render (*plugin, audio, blockSize);
    const float outputPeak = vyx::host::getPeak (audio);
    plugin->releaseResources();

    const auto dB = [] (float level) { return juce::String (juce::Decibels::gainToDecibels (level, -200.0f), 2) + " dB"; };

    std::cout << "plug-in:     " << plugin->getName() << "\n"
              << "bundle:      " << bundle.getFullPathName() << "\n"
              << "parameters:  " << plugin->getParameters().size() << "\n"
              << "latency:     " << plugin->getLatencySamples() << " samples\n"
              << "input peak:  " << dB (inputPeak) << "\n"
              << "output peak: " << dB (outputPeak) << std::endl;

    plugin.reset();
    juce::Logger::setCurrentLogger (nullptr);
    return 0;
}
