#include "PluginEditor.h"

#include "BinaryData.h"

#include <cmath>

namespace
{
constexpr int baseWidth = 1392;
constexpr int baseHeight = 245;
constexpr int refreshPeriodMs = 33;

juce::Image embedded (const char* data, int size)
{
    return juce::ImageCache::getFromMemory (data, size);
}

const juce::Colour osOffColour = juce::Colours::grey.withAlpha ((juce::uint8) 0x99);
} // namespace

//==============================================================================
FilmStripLookAndFeel::FilmStripLookAndFeel (juce::Image strip)
    : filmStrip (std::move (strip))
{
}

FilmStripLookAndFeel::~FilmStripLookAndFeel() = default;

void FilmStripLookAndFeel::drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                                             float, float, juce::Slider&)
{
    if (! filmStrip.isValid())
        return;

    const auto frameSide = filmStrip.getWidth();
    const auto frameCount = filmStrip.getHeight() / frameSide;
    // Truncated, not rounded: each frame covers the positions up to the next one.
    const auto frameIndex = (int) ((float) (frameCount - 1) * sliderPos);

    g.drawImage (filmStrip, x, y, width, height, 0, frameIndex * frameSide, frameSide, frameSide, false);
}

//==============================================================================
RotaryKnobLookAndFeel::RotaryKnobLookAndFeel (juce::Image knob)
    : knobImage (std::move (knob))
{
}

RotaryKnobLookAndFeel::~RotaryKnobLookAndFeel() = default;

void RotaryKnobLookAndFeel::drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                                              float rotaryStartAngle, float rotaryEndAngle, juce::Slider&)
{
    if (! knobImage.isValid())
        return;

    const auto angle = (rotaryEndAngle - rotaryStartAngle) * sliderPos + rotaryStartAngle;
    const auto scale = (float) width / (float) knobImage.getWidth();

    const auto transform = juce::AffineTransform::translation (-0.5f * (float) knobImage.getWidth(), -0.5f * (float) knobImage.getHeight())
                               .scaled (scale)
                               .rotated (angle)
                               .translated ((float) x + 0.5f * (float) width, (float) y + 0.5f * (float) height);

    if (g.isClipEmpty())
        return;

    g.drawImageTransformed (knobImage, transform, false);
}

//==============================================================================
OsTextButton::~OsTextButton() = default;

void OsTextButton::paintButton (juce::Graphics& g, bool, bool shouldDrawButtonAsDown)
{
    g.setColour (findColour (juce::TextButton::textColourOffId));
    g.setFont (juce::Font ("Helvetica", "Bold", 14.0f));
    // A press shows only as the label moving down one pixel.
    const auto shift = shouldDrawButtonAsDown ? 1 : 0;
    g.drawText (getButtonText(), juce::Rectangle<int> (0, shift, getWidth(), getHeight()), juce::Justification::centred, true);
}

//==============================================================================
SignalMeterComponent::~SignalMeterComponent() = default;

void SignalMeterComponent::paint (juce::Graphics& g)
{
    if (! ledStrip.isValid())
        return;

    const auto frameHeight = ledStrip.getHeight() / 4;
    g.drawImage (ledStrip, 0, 0, getWidth(), getHeight(), 0, frameHeight * ledState, ledStrip.getWidth(), frameHeight, false);
}

//==============================================================================
KORVELAudioProcessorEditor::KORVELAudioProcessorEditor (KORVELAudioProcessor& p)
    : AudioProcessorEditor (&p),
      processorRef (p)
{
    const auto setUpKnob = [this] (juce::Slider& knob, juce::LookAndFeel& look) {
        knob.setLookAndFeel (&look);
        knob.setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
        knob.setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
        addAndMakeVisible (knob);
    };

    gainLookAndFeel = std::make_unique<FilmStripLookAndFeel> (embedded (BinaryData::GainKnobStrip_png, BinaryData::GainKnobStrip_pngSize));
    setUpKnob (gainSlider, *gainLookAndFeel);
    trimLookAndFeel = std::make_unique<RotaryKnobLookAndFeel> (embedded (BinaryData::TrimKnobImage_png, BinaryData::TrimKnobImage_pngSize));
    setUpKnob (trimSlider, *trimLookAndFeel);

    // Lit while pressed and while on; no hover effect; the whole square takes the mouse.
    const auto setUpButton = [this] (juce::ImageButton& button, const juce::Image& off, const juce::Image& on) {
        const auto clear = juce::Colours::transparentBlack;
        button.setImages (false, true, true, off, 1.0f, clear, off, 1.0f, clear, on, 1.0f, clear, 0.0f);
        button.setClickingTogglesState (true);
        addAndMakeVisible (button);
    };

    {
        const auto off = embedded (BinaryData::PhaseButtonOff_png, BinaryData::PhaseButtonOff_pngSize);
        const auto on = embedded (BinaryData::PhaseButtonOn_png, BinaryData::PhaseButtonOn_pngSize);
        setUpButton (phaseButton, off, on);
    }
    {
        const auto off = embedded (BinaryData::PowerButtonOff_png, BinaryData::PowerButtonOff_pngSize);
        const auto on = embedded (BinaryData::PowerButtonOn_png, BinaryData::PowerButtonOn_pngSize);
        setUpButton (powerButton, off, on);
    }

    signalMeter.ledStrip = embedded (BinaryData::MeterLedStrip_png, BinaryData::MeterLedStrip_pngSize);
    addAndMakeVisible (signalMeter);

    // The caption follows at the next tick, like any other change of the choice.
    osButton.setColour (juce::TextButton::textColourOffId, osOffColour);
    osButton.onClick = [this] {
        auto* choice = processorRef.parameters.getParameter ("oversampling");
        const auto current = (int) processorRef.parameters.getRawParameterValue ("oversampling")->load();
        choice->setValueNotifyingHost (choice->convertTo0to1 ((float) ((current + 1) % 3)));
    };
    addAndMakeVisible (osButton);

    auto& tree = processorRef.parameters;
    gainAttachment = std::make_unique<SliderAttachment> (tree, "gain", gainSlider);
    trimAttachment = std::make_unique<SliderAttachment> (tree, "trim", trimSlider);
    phaseAttachment = std::make_unique<ButtonAttachment> (tree, "phase", phaseButton);
    powerAttachment = std::make_unique<ButtonAttachment> (tree, "power", powerButton);

    setResizable (true, true);
    setResizeLimits (600, 105, 2088, 367);
    getConstrainer()->setFixedAspectRatio ((double) baseWidth / (double) baseHeight);
    setSize (baseWidth, baseHeight);
    startTimer (refreshPeriodMs);
}

KORVELAudioProcessorEditor::~KORVELAudioProcessorEditor()
{
    stopTimer();
    // The looks die before the sliders that use them.
    gainSlider.setLookAndFeel (nullptr);
    trimSlider.setLookAndFeel (nullptr);
}

void KORVELAudioProcessorEditor::paint (juce::Graphics& g)
{
    const auto panel = embedded (BinaryData::PanelBackground_png, BinaryData::PanelBackground_pngSize);

    if (panel.isValid())
        g.drawImage (panel, getLocalBounds().toFloat(), juce::RectanglePlacement::stretchToFit);
}

void KORVELAudioProcessorEditor::resized()
{
    // Every rectangle is a fixed fraction of the base size, truncated.
    const auto width = (float) getWidth();
    const auto height = (float) getHeight();
    const auto place = [width, height] (juce::Component& c, int x, int y, int w, int h) {
        const auto across = [width] (int n) { return (int) ((float) n / (float) baseWidth * width); };
        const auto down = [height] (int n) { return (int) ((float) n / (float) baseHeight * height); };
        c.setBounds (across (x), down (y), across (w), down (h));
    };

    place (gainSlider, 195, 52, 142, 142);
    place (trimSlider, 550, 85, 81, 81);
    place (phaseButton, 372, 52, 142, 142);
    place (powerButton, 1130, 52, 142, 142);
    place (signalMeter, 619, 48, 75, 75);
    place (osButton, 1275, 105, 100, 30);
}

void KORVELAudioProcessorEditor::timerCallback()
{
    const auto state = korvel::ledStateFor (processorRef.outputLevel.load());

    if (state != signalMeter.ledState)
    {
        signalMeter.ledState = state;
        signalMeter.repaint();
    }

    static const char* const captions[] = { "OS: Off", "OS: 2x", "OS: 4x" };
    const auto choice = (int) processorRef.parameters.getRawParameterValue ("oversampling")->load();

    if (choice >= 0 && choice <= 2)
    {
        osButton.setButtonText (captions[choice]);
        osButton.setColour (juce::TextButton::textColourOffId, choice == 0 ? osOffColour : juce::Colours::orange);
    }

    repaint();
}
