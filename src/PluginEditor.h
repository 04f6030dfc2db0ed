#pragma once

#include "PluginProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

// The plug-in's window. For now an empty panel of the base size.
class KORVELAudioProcessorEditor : public juce::AudioProcessorEditor
{
public:
    explicit KORVELAudioProcessorEditor (KORVELAudioProcessor& processor);
    ~KORVELAudioProcessorEditor() override;

    void paint (juce::Graphics& g) override;

private:
    KORVELAudioProcessor& processorRef;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KORVELAudioProcessorEditor)
};
