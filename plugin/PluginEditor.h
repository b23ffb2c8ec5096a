#pragma once

#include "PluginProcessor.h"

/** The plug-in's editor window. Until the full editor exists it shows the framework's generic
    parameter controls, so that a host opening the window gets a working view. */
class VyxAudioProcessorEditor : public juce::GenericAudioProcessorEditor
{
public:
    explicit VyxAudioProcessorEditor (VyxAudioProcessor& processor);
    ~VyxAudioProcessorEditor() override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VyxAudioProcessorEditor)
};
