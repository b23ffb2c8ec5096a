#include "PluginEditor.h"

VyxAudioProcessorEditor::VyxAudioProcessorEditor (VyxAudioProcessor& p)
    : juce::GenericAudioProcessorEditor (p)
{
}

VyxAudioProcessorEditor::~VyxAudioProcessorEditor() = default;
