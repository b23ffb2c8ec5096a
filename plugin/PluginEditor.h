#pragma once

#include "PluginProcessor.h"
#include "editor/BottomBar.h"
#include "editor/CompressorControls.h"
#include "editor/TopBar.h"
#include "editor/WindowPicture.h"

/** The plug-in's window: the top bar, the band editor and the fader strip, with the window's
    look-and-feel. It keeps its size and theme colour in the state's attributes (so both travel
    with the host project), forwards theme changes to the panels and drives every animation
    and meter from one 16 ms timer. Message thread only. */
class VyxAudioProcessorEditor : public juce::AudioProcessorEditor,
                                private juce::ValueTree::Listener,
                                public juce::Timer
{
public:
    explicit VyxAudioProcessorEditor (VyxAudioProcessor& p);
    ~VyxAudioProcessorEditor() override;

    /** Where the three panels go in an editor of these bounds. */
    struct PanelBounds
    {
        juce::Rectangle<int> topBar, bottomBar, compressorControls;
    };

    static PanelBounds layout (juce::Rectangle<int> bounds);

    /** A stored window dimension: a number (or text holding one) limited to maxDimension;
        anything else, or nothing, gives the fallback. */
    static int readDimension (const juce::var& stored, int fallback);

    static constexpr int defaultWidth = 440, defaultHeight = 330;
    static constexpr int maxDimension = 8192;  // larger stored sizes come only from damaged state

    /** Opaque black under everything the panels draw. */
    void paint (juce::Graphics& g) override;
    void paintOverChildren (juce::Graphics& g) override;
    void resized() override;

    /** One frame: lays out the bands, then asks for a repaint of what changed since it was
        drawn (the whole window after a theme change) and of nothing else. */
    void timerCallback() override;

    VyxAudioProcessor& processor;
    cvx::State& state;
    CompressorControls compressorControls;
    BottomBar bottomBar;
    TopBar topBar;
    cvx::style::LookAndFeel lookAndFeel;

private:
    void valueTreePropertyChanged (juce::ValueTree& tree, const juce::Identifier& id) override;

    bool themeChanged = false;         // the next frame repaints the whole window
    WindowPicture* picture = nullptr;  // owned by the component as its cached image

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VyxAudioProcessorEditor)
};
