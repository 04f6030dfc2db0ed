#include "PluginEditor.h"

KORVELAudioProcessorEditor::KORVELAudioProcessorEditor (KORVELAudioProcessor& p)
    : AudioProcessorEditor (&p),
      processorRef (p)
{
    setSize (1392, 245);
}

KORVELAudioProcessorEditor::~KORVELAudioProcessorEditor() = default;

void KORVELAudioProcessorEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xff16343a));
}
