#include "Info.h"
#include "PluginHost.h"

#include <ostream>

namespace vyx::host
{

namespace
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 512;

    /** Two seconds of a stereo test signal: a 110 Hz tone, a 2.5 kHz tone and quiet noise,
        with the level stepping down halfway so that both compressor directions act. */
    juce::AudioBuffer<float> makeTestSignal()
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

    juce::String decibels (float level)
    {
        return juce::String (juce::Decibels::gainToDecibels (level, -200.0f), 2) + " dB";
    }

    int runInfo (const Arguments& arguments, std::ostream& out, std::ostream& err)
    {
        checkPositionalCount (arguments, { 0, 1 }, "at most one bundle");
        if (! arguments.positional.isEmpty() && arguments.has ("--plugin"))
            throw UsageError { "name the bundle once, as BUNDLE or as --plugin" };

        const auto bundle = arguments.positional.isEmpty() ? arguments.getBundle() : fileArgument (arguments.positional[0]);
        auto plugin = loadBundle (bundle, sampleRate, blockSize);

        plugin->setPlayConfigDetails (2, 2, sampleRate, blockSize);
        plugin->prepareToPlay (sampleRate, blockSize);

        // The plug-in announces its latency asynchronously; let the announcement arrive before
        // reading it, as a DAW would see it by the time playback starts.
        if (! syncLatency (*plugin))
            err << "latency reported by the plug-in (" << getProcessorLatency (*plugin) << ") never reached the host" << std::endl;

        auto audio = makeTestSignal();
        const float inputPeak = getPeak (audio);
        render (*plugin, audio, blockSize);
        const float outputPeak = getPeak (audio);
        plugin->releaseResources();

        out << "plug-in:     " << plugin->getName() << "\n"
            << "bundle:      " << bundle.getFullPathName() << "\n"
            << "parameters:  " << plugin->getParameters().size() << "\n"
            << "latency:     " << plugin->getLatencySamples() << " samples\n"
            << "input peak:  " << decibels (inputPeak) << "\n"
            << "output peak: " << decibels (outputPeak) << std::endl;
        return exitSuccess;
    }
} // namespace

const Command& getInfoCommand()
{
    static const Command command {
        "info",
        "[BUNDLE]",
        "print what a host sees of the bundle (the default command)",
        "Loads the bundle (BUNDLE, --plugin, or the one this build made) through its VST3 factory,\n"
        "renders a generated signal through it and prints the plug-in's name, parameter count,\n"
        "latency and the input and output peak levels.",
        {},
        runInfo,
    };
    return command;
}

} // namespace vyx::host
