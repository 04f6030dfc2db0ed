#pragma once

#include "BypassDelay.h"
#include "PreampMath.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_dsp/juce_dsp.h>

#include <array>
#include <atomic>
#include <memory>

class KORVELAudioProcessor : public juce::AudioProcessor,
                             public juce::AudioProcessorValueTreeState::Listener
{
public:
    KORVELAudioProcessor();
    ~KORVELAudioProcessor() override;

    const juce::String getName() const override;

    void prepareToPlay (double sampleRate, int maximumBlockSize) override;
    void releaseResources() override;
    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock;
    void processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlockBypassed;

    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;

    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;

    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    void parameterChanged (const juce::String& parameterID, float newValue) override;

    // Reports the latency of the current oversampling choice (0, 49 or 59 samples).
    void updateLatency();

    juce::AudioProcessorValueTreeState parameters;
    // Linear RMS of the last processed block, for the editor's LED.
    std::atomic<float> outputLevel { 0.0f };

private:
    // Processes at most one prepared block's worth of samples.
    void processPiece (juce::AudioBuffer<float>& buffer);
    void bypass (juce::AudioBuffer<float>& buffer, int oversamplingIndex);
    void clearOutputsWithoutInput (juce::AudioBuffer<float>& buffer) const;
    juce::dsp::Oversampling<float>* oversamplerFor (int oversamplingIndex) const noexcept;
    int latencyFor (int oversamplingIndex) const noexcept;

    std::array<double, 2> dcPrevInput {};
    std::array<double, 2> dcPrevOutput {};

    std::unique_ptr<juce::dsp::Oversampling<float>> oversampler2x;
    std::unique_ptr<juce::dsp::Oversampling<float>> oversampler4x;

    // The parameters' value cells, looked up by ID once so the audio path does no string look-ups.
    std::atomic<float>* const gainValue;
    std::atomic<float>* const trimValue;
    std::atomic<float>* const phaseValue;
    std::atomic<float>* const powerValue;
    std::atomic<float>* const oversamplingValue;

    korvel::BypassDelay bypassDelay;
    korvel::BlockValuesCache blockValues;
    int preparedBlockSize = 0; // 0 until the first prepare

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KORVELAudioProcessor)
};
