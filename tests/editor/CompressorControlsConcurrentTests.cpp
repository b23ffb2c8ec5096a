// The band editor paints while the host processes audio on its own thread and re-prepares the
// engine on another (which replaces the compressors the meters are read from). Under the
// ThreadSanitizer build this shows any data race between the editor and the audio side; in
// every build it shows that the meter read stays safe and finite.

#include "EditorTestSupport.h"
#include "plugin/editor/CompressorControls.h"

#include <atomic>
#include <thread>

namespace
{

TEST (BandEditorConcurrent, PaintWhileProcessingAndPreparing)
{
    vyx::test::EditorFixture f;
    auto& vyx = f.vyx;
    auto& panel = f.editor->compressorControls;

    auto* numBands = vyx.state.parameters.getParameter ("NUM");
    numBands->setValueNotifyingHost (numBands->convertTo0to1 (8.0f));
    vyx.setRateAndBufferSizeDetails (48000.0, 256);
    vyx.prepareToPlay (48000.0, 256);
    f.frames (2);

    std::atomic<bool> stop { false };
    std::atomic<int> blocks { 0 }, preparations { 0 };

    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (2, 256);
        juce::MidiBuffer midi;
        juce::Random random (5);
        while (! stop.load())
        {
            for (int ch = 0; ch < 2; ++ch)
                for (int i = 0; i < 256; ++i)
                    buffer.setSample (ch, i, 0.8f * (random.nextFloat() * 2.0f - 1.0f));
            vyx.processBlock (buffer, midi);
            ++blocks;
        }
    });

    std::thread host ([&]
    {
        const double rates[] = { 44100.0, 48000.0, 96000.0 };
        for (int i = 0; ! stop.load(); ++i)
        {
            vyx.prepareToPlay (rates[i % 3], 256);
            ++preparations;
            std::this_thread::sleep_for (std::chrono::milliseconds (2));
        }
    });

    // Frames of the band editor: the editor's tick, then the panel painted with its bands.
    juce::Image image (juce::Image::ARGB, panel.getWidth(), panel.getHeight(), true);
    const auto frame = [&]
    {
        f.editor->timerCallback();
        juce::Graphics g (image);
        panel.paintEntireComponent (g, false);
    };

    // Paint until both threads have done a fair amount. On a loaded machine a Debug preparation
    // of eight bands can take a good part of a second: the deadline only stops a hung thread.
    bool allFinite = true;
    int paintedFrames = 0;
    const auto deadline = juce::Time::getMillisecondCounter() + 120000;
    while ((blocks.load() < 200 || preparations.load() < 20 || paintedFrames < 50)
           && juce::Time::getMillisecondCounter() < deadline)
    {
        frame();
        ++paintedFrames;
        for (size_t i = 0; i < panel.levelY.size(); ++i)
            allFinite = allFinite && std::isfinite (panel.levelY[i]) && std::isfinite (panel.compressedY[i]);
    }

    stop = true;
    audio.join();
    host.join();

    EXPECT_GE (blocks.load(), 200);
    EXPECT_GE (preparations.load(), 20);
    EXPECT_EQ (panel.levelY.size(), 8u);
    EXPECT_TRUE (allFinite);

    // Once the threads stop, the curves show the meters of the engine as it now stands.
    vyx.releaseResources();
    frame();
    for (int i = 0; i < 8; ++i)
    {
        float level = 0.0f, compressed = 0.0f;
        vyx.getCompMeter (i, level, compressed);
        EXPECT_FLOAT_EQ (panel.levelY[(size_t) i], BandGeometry::levelToY (level, (float) panel.getHeight()));
    }
}

} // namespace
