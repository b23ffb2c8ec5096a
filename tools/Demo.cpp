#include "Demo.h"
#include "Render.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <ostream>

namespace vyx::host
{

namespace
{
    struct Passage
    {
        const char* name;
        double frequency;  // Hz
        float level;       // dBFS, peak of the tone
    };

    const Passage demoPassages[] {
        { "low, loud", 80.0, -3.0f },
        { "low, quiet", 80.0, -40.0f },
        { "middle, loud", 1000.0, -3.0f },
        { "middle, quiet", 1000.0, -40.0f },
        { "high, loud", 8000.0, -3.0f },
        { "high, quiet", 8000.0, -40.0f },
    };

    constexpr int numPassages = (int) std::size (demoPassages);
    constexpr double demoRate = 48000.0;
    constexpr double passageSeconds = 1.5;
    constexpr int passageLength = (int) (passageSeconds * demoRate);

    /** Each passage fades in and out over this long, so that none starts with a click. */
    constexpr double fadeSeconds = 0.005;

    /** The demo signal: the passages one after the other, the same tone on both channels. */
    juce::AudioBuffer<float> makeDemoSignal()
    {
        juce::AudioBuffer<float> demo (2, passageLength * numPassages);
        const int fade = (int) (fadeSeconds * demoRate);
        for (int p = 0; p < numPassages; ++p)
        {
            const auto& passage = demoPassages[p];
            const float amplitude = juce::Decibels::decibelsToGain (passage.level);
            for (int i = 0; i < passageLength; ++i)
            {
                const int edge = std::min (i, passageLength - 1 - i);
                const float envelope = edge < fade ? (float) edge / (float) fade : 1.0f;
                const auto tone = (float) std::sin (juce::MathConstants<double>::twoPi * passage.frequency * i / demoRate);
                for (int ch = 0; ch < demo.getNumChannels(); ++ch)
                    demo.setSample (ch, p * passageLength + i, amplitude * envelope * tone);
            }
        }
        return demo;
    }

    void writeWav (const juce::File& file, const juce::AudioBuffer<float>& audio)
    {
        file.deleteFile();
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (file.createOutputStream().release(), demoRate,
                                                                              (unsigned int) audio.getNumChannels(), 32, {}, 0));
        if (writer == nullptr || ! writer->writeFromAudioSampleBuffer (audio, 0, audio.getNumSamples()))
            throw CommandError { "cannot write " + file.getFullPathName() };
    }

    juce::AudioBuffer<float> readWav (const juce::File& file)
    {
        juce::AudioFormatManager formats;
        formats.registerBasicFormats();
        std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (file));
        juce::AudioBuffer<float> audio;
        if (reader != nullptr)
        {
            audio.setSize ((int) reader->numChannels, (int) reader->lengthInSamples);
            if (reader->read (&audio, 0, audio.getNumSamples(), 0, true, true))
                return audio;
        }
        throw CommandError { "cannot read " + file.getFullPathName() + " back" };
    }

    /** RMS in dBFS of the second half of a passage, once the compressors have settled. */
    float passageLevel (const juce::AudioBuffer<float>& audio, int passage)
    {
        const int start = passage * passageLength + passageLength / 2;
        const int count = std::min (passageLength / 2, audio.getNumSamples() - start);
        if (count <= 0)
            return -300.0f;
        float sum = 0.0f;
        for (int ch = 0; ch < audio.getNumChannels(); ++ch)
            sum += audio.getRMSLevel (ch, start, count) / (float) audio.getNumChannels();
        return juce::Decibels::gainToDecibels (sum, -300.0f);
    }

    void printLevels (std::ostream& out, const juce::AudioBuffer<float>& before, const juce::AudioBuffer<float>& after)
    {
        out << "\nfactory settings, level of each passage (RMS):\n"
            << "  passage          tone      before      after      change\n";
        for (int p = 0; p < numPassages; ++p)
        {
            const float in = passageLevel (before, p), outLevel = passageLevel (after, p);
            out << "  " << juce::String (demoPassages[p].name).paddedRight (' ', 15) << "  "
                << juce::String (demoPassages[p].frequency, 0).paddedLeft (' ', 5) << " Hz  "
                << juce::String (in, 1).paddedLeft (' ', 6) << " dBFS  " << juce::String (outLevel, 1).paddedLeft (' ', 6)
                << " dBFS  " << (outLevel >= in ? "+" : "") << juce::String (outLevel - in, 1) << " dB\n";
        }
    }

    int runDemo (const Arguments& arguments, std::ostream& out, std::ostream& err)
    {
        checkPositionalCount (arguments, { 0, 1 }, "at most one folder");
        const auto folder = arguments.positional.isEmpty() ? juce::File::getCurrentWorkingDirectory()
                                                           : fileArgument (arguments.positional[0]);
        if (! folder.createDirectory())
            throw CommandError { "cannot create " + folder.getFullPathName() };

        RenderOptions render;
        render.input = folder.getChildFile ("demo-in.wav");
        render.output = folder.getChildFile ("demo-out.wav");
        render.bundle = arguments.getBundle();

        writeWav (render.input, makeDemoSignal());
        renderFile (render, out, err);

        printLevels (out, readWav (render.input), readWav (render.output));
        out << "loud passages come down, quiet ones come up: listen to " << render.input.getFullPathName() << " and "
            << render.output.getFullPathName() << std::endl;
        return exitSuccess;
    }
} // namespace

const Command& getDemoCommand()
{
    static const Command command {
        "demo",
        "[FOLDER]",
        "render a demo signal with the factory settings and compare levels",
        "Writes demo-in.wav (loud and quiet passages of low, middle and high tones) into FOLDER\n"
        "(default: the current folder; made when missing), renders it with the factory settings into\n"
        "demo-out.wav and prints the level of each passage before and after.",
        {},
        runDemo,
    };
    return command;
}

} // namespace vyx::host
