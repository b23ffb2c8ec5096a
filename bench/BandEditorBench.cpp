// One frame of the editor with the band editor showing 8 bands and live meters: the editor's
// timer tick (band layout) and a full repaint into a software image, as the host's window
// draws it. Between frames the engine processes a block, so the meter curves move.

#include "EngineBenchSupport.h"
#include "plugin/PluginEditor.h"

namespace
{

struct EditorSession
{
    EditorSession (int width, int height)
        : owner (createPluginFilter()),
          processor (dynamic_cast<VyxAudioProcessor&> (*owner))
    {
        vyx::bench::configure (processor, 8, 100.0f);
        processor.setRateAndBufferSizeDetails (vyx::bench::sampleRate, 512);
        processor.prepareToPlay (vyx::bench::sampleRate, 512);

        editor.reset (dynamic_cast<VyxAudioProcessorEditor*> (processor.createEditorIfNeeded()));
        editor->setSize (width, height);
        image = juce::Image (juce::Image::ARGB, width, height, true);

        // Warm up: the bands settle, the paths and point lists reach their size.
        for (int i = 0; i < 8; ++i)
        {
            processBlock();
            frame();
        }
    }

    ~EditorSession()
    {
        editor.reset();
        processor.releaseResources();
    }

    void processBlock()
    {
        vyx::bench::fillSignal (buffer, random, stretch++);
        processor.processBlock (buffer, midi);
    }

    void frame()
    {
        editor->timerCallback();
        juce::Graphics g (image);
        editor->paintEntireComponent (g, true);
    }

    void paintBandEditor()
    {
        auto& panel = editor->compressorControls;
        juce::Graphics g (image);
        panel.paintEntireComponent (g, true);
    }

    std::unique_ptr<juce::AudioProcessor> owner;
    VyxAudioProcessor& processor;
    std::unique_ptr<VyxAudioProcessorEditor> editor;
    juce::Image image;
    juce::AudioBuffer<float> buffer { 2, 512 };
    juce::MidiBuffer midi;
    juce::Random random { 3 };
    int stretch = 0;
};

/** The timer tick and a repaint of the whole window. */
void BM_EditorFrame (benchmark::State& state)
{
    EditorSession session ((int) state.range (0), (int) state.range (1));
    for (auto _ : state)
    {
        state.PauseTiming();
        session.processBlock();
        state.ResumeTiming();
        session.frame();
    }
}

/** The band editor alone: its background, eight bands and the two meter curves. */
void BM_BandEditorPaint (benchmark::State& state)
{
    EditorSession session ((int) state.range (0), (int) state.range (1));
    for (auto _ : state)
    {
        state.PauseTiming();
        session.processBlock();
        state.ResumeTiming();
        session.editor->compressorControls.arrangeBands();
        session.paintBandEditor();
    }
}

} // namespace

BENCHMARK (BM_EditorFrame)
    ->ArgNames ({ "w", "h" })
    ->Args ({ 440, 330 })
    ->Args ({ 1600, 1000 })
    ->Unit (benchmark::kMillisecond);
BENCHMARK (BM_BandEditorPaint)
    ->ArgNames ({ "w", "h" })
    ->Args ({ 440, 330 })
    ->Args ({ 1600, 1000 })
    ->Unit (benchmark::kMillisecond);
