#pragma once

#include "PluginProcessor.h"

#include <gtest/gtest.h>

namespace korvel::testing
{
// Sets a parameter to a real value, as the host would: normalised, and notifying.
inline void setReal (KORVELAudioProcessor& p, const juce::String& id, float realValue)
{
    auto* param = p.parameters.getParameter (id);
    param->setValueNotifyingHost (param->convertTo0to1 (realValue));
}

// What a host does before playing: the layout, the rate and block size, then prepare.
inline void prepare (KORVELAudioProcessor& p, double rate, int blockSize, int channels = 2)
{
    const auto set = channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (set);
    layout.outputBuses.add (set);
    EXPECT_TRUE (p.setBusesLayout (layout));
    p.setRateAndBufferSizeDetails (rate, blockSize);
    p.prepareToPlay (rate, blockSize);
}
} // namespace korvel::testing
