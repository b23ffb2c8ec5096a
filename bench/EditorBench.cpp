// The editor window's frame costs, split: one full repaint into a software image (as the host's
// window draws it), one tick of the editor's 16 ms timer, and the fader strip alone. The
// processor runs 8 bands on noise, so the meters show levels; its audio is processed before
// the timed loop, so the frames measured are steady ones.

#include "EngineBenchSupport.h"
#include "plugin/PluginEditor.h"

namespace
{

struct Window
{
    Window (int width, int height)
        : owner (createPluginFilter()),
          processor (dynamic_cast<VyxAudioProcessor&> (*owner))
    {
        vyx::bench::configure (processor, 8, 100.0f);
        processor.state.attributes.setProperty (cvx::State::Attributes::colour, "ff2f8fd0", nullptr);
        processor.setRateAndBufferSizeDetails (vyx::bench::sampleRate, 512);
        processor.prepareToPlay (vyx::bench::sampleRate, 512);

        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;
        juce::Random random (5);
        for (int i = 0; i < 40; ++i)
        {
            vyx::bench::fillSignal (buffer, random, i);
            processor.processBlock (buffer, midi);
        }

        editor.reset (dynamic_cast<VyxAudioProcessorEditor*> (processor.createEditorIfNeeded()));
        editor->setSize (width, height);
        image = juce::Image (juce::Image::ARGB, width, height, true);

        for (int i = 0; i < 8; ++i)
        {
            editor->timerCallback();
            paint (*editor);
        }
    }

    ~Window()
    {
        processor.editorBeingDeleted (editor.get());
        editor.reset();
        processor.releaseResources();
    }

    void paint (juce::Component& component)
    {
        juce::Graphics g (image);
        component.paintEntireComponent (g, true);
    }

    std::unique_ptr<juce::AudioProcessor> owner;
    VyxAudioProcessor& processor;
    std::unique_ptr<VyxAudioProcessorEditor> editor;
    juce::Image image;
};

/** The whole window repainted: panels, faders, meters. */
void BM_EditorPaint (benchmark::State& state)
{
    Window window ((int) state.range (0), (int) state.range (1));
    for (auto _ : state)
        window.paint (*window.editor);
}

/** The editor's timer tick alone: the band layout and the repaint request. */
void BM_EditorTick (benchmark::State& state)
{
    Window window (440, 330);
    for (auto _ : state)
        window.editor->timerCallback();
}

/** The fader strip alone, with the pointer away (names drawn) or resting on every fader
    halfway into its hover fade (names and values drawn). */
void BM_BottomBarPaint (benchmark::State& state)
{
    Window window ((int) state.range (0), 330);
    auto& bar = window.editor->bottomBar;
    for (auto* fader : { &bar.input, &bar.down, &bar.up, &bar.mix, &bar.output })
        fader->animator.hoverValue = state.range (1) != 0 ? 0.5f : 0.0f;

    for (auto _ : state)
        window.paint (bar);
}

} // namespace

BENCHMARK (BM_EditorPaint)
    ->ArgNames ({ "w", "h" })
    ->Args ({ 440, 330 })
    ->Args ({ 1600, 1000 })
    ->Unit (benchmark::kMillisecond);
BENCHMARK (BM_EditorTick)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_BottomBarPaint)
    ->ArgNames ({ "w", "hover" })
    ->ArgsProduct ({ { 440, 1600 }, { 0, 1 } })
    ->Unit (benchmark::kMicrosecond);
