#pragma once

#include "LedState.h"
#include "PluginProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

// Draws a rotary slider as one square frame of a film strip stacked top to bottom;
// the frame count comes from the strip's proportions.
class FilmStripLookAndFeel : public juce::LookAndFeel_V4
{
public:
    explicit FilmStripLookAndFeel (juce::Image strip);
    ~FilmStripLookAndFeel() override;

    void drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                           float rotaryStartAngle, float rotaryEndAngle, juce::Slider& slider) override;

    const juce::Image filmStrip;
};

// Draws a rotary slider by turning one picture of a knob about its centre.
class RotaryKnobLookAndFeel : public juce::LookAndFeel_V4
{
public:
    explicit RotaryKnobLookAndFeel (juce::Image knob);
    ~RotaryKnobLookAndFeel() override;

    void drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                           float rotaryStartAngle, float rotaryEndAngle, juce::Slider& slider) override;

    const juce::Image knobImage;
};

// A text button that draws nothing but its label, so only the words sit on the panel.
class OsTextButton : public juce::TextButton
{
public:
    OsTextButton() = default;
    ~OsTextButton() override;

    void paintButton (juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;
};

// The level LED: one frame of a four-frame strip (unlit, green, orange, red).
class SignalMeterComponent : public juce::Component
{
public:
    ~SignalMeterComponent() override;
    void paint (juce::Graphics& g) override;

    juce::Image ledStrip;
    int ledState = 0;
};

class KORVELAudioProcessorEditor : public juce::AudioProcessorEditor,
                                   public juce::Timer
{
public:
    explicit KORVELAudioProcessorEditor (KORVELAudioProcessor& processor);
    ~KORVELAudioProcessorEditor() override;

    void paint (juce::Graphics& g) override;
    void resized() override;
    void timerCallback() override;

private:
    using SliderAttachment = juce::AudioProcessorValueTreeState::SliderAttachment;
    using ButtonAttachment = juce::AudioProcessorValueTreeState::ButtonAttachment;

    KORVELAudioProcessor& processorRef;

    juce::Slider gainSlider;
    juce::Slider trimSlider;
    std::unique_ptr<FilmStripLookAndFeel> gainLookAndFeel;
    std::unique_ptr<RotaryKnobLookAndFeel> trimLookAndFeel;
    juce::ImageButton phaseButton;
    juce::ImageButton powerButton;
    SignalMeterComponent signalMeter;
    OsTextButton osButton;
    std::unique_ptr<SliderAttachment> gainAttachment;
    std::unique_ptr<SliderAttachment> trimAttachment;
    std::unique_ptr<ButtonAttachment> phaseAttachment;
    std::unique_ptr<ButtonAttachment> powerAttachment;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KORVELAudioProcessorEditor)
};
