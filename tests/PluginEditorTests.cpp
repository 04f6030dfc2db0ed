#include "BinaryData.h"
#include "PluginEditor.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace
{
constexpr float pi = 3.14159265358979f;

// A film strip of square frames, frame k filled with red = 20·k, so a pixel tells its frame.
juce::Image numberedStrip (int side, int height)
{
    juce::Image strip (juce::Image::ARGB, side, height, true);
    juce::Graphics g (strip);
    for (int k = 0; k * side < height; ++k)
    {
        g.setColour (juce::Colour ((juce::uint8) (20 * k), 0, 200));
        g.fillRect (0, k * side, side, side);
    }
    return strip;
}

int frameShown (const juce::Image& drawn)
{
    return (int) std::lround (drawn.getPixelAt (drawn.getWidth() / 2, drawn.getHeight() / 2).getRed() / 20.0);
}

juce::Image drawKnob (juce::LookAndFeel_V4& look, int width, int height, float position,
                      float start = 1.2f * pi, float end = 2.8f * pi)
{
    juce::Image out (juce::Image::ARGB, width, height, true);
    juce::Graphics g (out);
    juce::Slider slider;
    look.drawRotarySlider (g, 0, 0, width, height, position, start, end, slider);
    return out;
}

bool isEmpty (const juce::Image& image)
{
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (image.getPixelAt (x, y).getAlpha() != 0)
                return false;
    return true;
}

// The bounding box of every pixel that is not transparent.
juce::Rectangle<int> inkBounds (const juce::Image& image)
{
    juce::Rectangle<int> box;
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (image.getPixelAt (x, y).getAlpha() != 0)
                box = box.isEmpty() ? juce::Rectangle<int> (x, y, 1, 1) : box.getUnion ({ x, y, 1, 1 });
    return box;
}

juce::Image paintOsButton (const juce::String& text, juce::Colour colour, bool down)
{
    OsTextButton button;
    button.setSize (100, 30);
    button.setButtonText (text);
    button.setColour (juce::TextButton::textColourOffId, colour);
    juce::Image out (juce::Image::ARGB, 100, 30, true);
    juce::Graphics g (out);
    button.paintButton (g, false, down);
    return out;
}

juce::Image embedded (const char* data, int size)
{
    return juce::ImageCache::getFromMemory (data, size);
}
} // namespace

//==============================================================================
TEST (FilmStripLook, FrameFollowsThePositionTruncated)
{
    struct Case
    {
        int side, height;
        float position;
        int frame;
    };

    const Case cases[] = {
        { 100, 1100, 0.0f, 0 },
        { 100, 1100, 1.0f, 10 }, // 11 frames
        { 100, 1100, 0.5f, 5 },
        { 100, 1050, 1.0f, 9 }, // 10 frames; the last 50 rows are never shown
        { 285, 2280, 0.0f, 0 },
        { 285, 2280, 1.0f, 7 },
        { 285, 2280, 0.999f, 6 }, // 6.993 truncates
        { 285, 2280, 0.2857f, 1 },
    };

    for (const auto& c : cases)
    {
        FilmStripLookAndFeel look (numberedStrip (c.side, c.height));
        EXPECT_EQ (frameShown (drawKnob (look, 60, 60, c.position)), c.frame)
            << c.side << " x " << c.height << " at " << c.position;
    }
}

TEST (FilmStripLook, EachGainValueShowsItsOwnFrame)
{
    // The knob as the editor sets it up: the parameter's range, painted by the slider itself.
    FilmStripLookAndFeel look (numberedStrip (285, 2280));
    juce::Slider slider (juce::Slider::RotaryHorizontalVerticalDrag, juce::Slider::NoTextBox);
    slider.setLookAndFeel (&look);
    slider.setRange (10.0, 80.0, 10.0);
    slider.setSize (71, 71);

    for (int k = 0; k < 8; ++k)
    {
        slider.setValue (10.0 + 10.0 * k, juce::dontSendNotification);
        EXPECT_EQ (frameShown (slider.createComponentSnapshot (slider.getLocalBounds())), k) << 10 + 10 * k;
    }

    slider.setLookAndFeel (nullptr);
}

TEST (FilmStripLook, SqueezesTheFrameIntoANonSquareRectangle)
{
    // Left half red, right half blue: both halves must show across 200 x 100.
    juce::Image strip (juce::Image::ARGB, 100, 100, true);
    {
        juce::Graphics g (strip);
        g.setColour (juce::Colours::red);
        g.fillRect (0, 0, 50, 100);
        g.setColour (juce::Colours::blue);
        g.fillRect (50, 0, 50, 100);
    }
    FilmStripLookAndFeel look (strip);
    const auto drawn = drawKnob (look, 200, 100, 0.0f);
    EXPECT_EQ (drawn.getPixelAt (40, 50), juce::Colours::red);
    EXPECT_EQ (drawn.getPixelAt (160, 50), juce::Colours::blue);
    EXPECT_EQ (drawn.getPixelAt (190, 90), juce::Colours::blue);
}

TEST (KnobLooks, NullImagesDrawNothing)
{
    FilmStripLookAndFeel strip ((juce::Image()));
    RotaryKnobLookAndFeel knob ((juce::Image()));
    EXPECT_TRUE (isEmpty (drawKnob (strip, 50, 50, 0.5f)));
    EXPECT_TRUE (isEmpty (drawKnob (knob, 50, 50, 0.5f)));
}

//==============================================================================
TEST (RotaryKnobLook, PointerTurnsThroughTheDefaultAngles)
{
    // A transparent picture with one bright pointer pixel straight up from the centre.
    juce::Image pointer (juce::Image::ARGB, 162, 162, true);
    pointer.setPixelAt (81, 11, juce::Colours::white);
    RotaryKnobLookAndFeel look (pointer);

    struct Case
    {
        float position, degrees;
    };

    const Case cases[] = { { 0.0f, 216.0f }, { 0.5f, 0.0f }, { 1.0f, 144.0f }, { 0.25f, 288.0f } };

    for (const auto& c : cases)
    {
        // Drawn at full size into 162 x 162, and at half size into 81 x 81.
        for (int side : { 162, 81 })
        {
            const auto drawn = drawKnob (look, side, side, c.position);
            float sx = 0, sy = 0, sum = 0;
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x)
                {
                    const auto a = drawn.getPixelAt (x, y).getFloatAlpha();
                    sx += a * ((float) x + 0.5f);
                    sy += a * ((float) y + 0.5f);
                    sum += a;
                }

            ASSERT_GT (sum, 0.0f) << c.position;
            const auto dx = sx / sum - (float) side / 2, dy = sy / sum - (float) side / 2;
            auto degrees = std::atan2 (dx, -dy) * 180.0f / pi;
            degrees = std::fmod (degrees + 360.0f, 360.0f);
            const auto error = std::abs (std::remainder (degrees - c.degrees, 360.0f));
            EXPECT_LT (error, 3.0f) << "position " << c.position << " drew at " << degrees << " degrees, side " << side;
            EXPECT_NEAR (std::hypot (dx, dy), 70.0f * (float) side / 162.0f, 2.0f) << c.position;
        }
    }
}

TEST (RotaryKnobLook, EqualAnglesHoldTheKnobStill)
{
    juce::Image pointer (juce::Image::ARGB, 100, 100, true);
    pointer.setPixelAt (50, 5, juce::Colours::white);
    RotaryKnobLookAndFeel look (pointer);
    const auto a = drawKnob (look, 100, 100, 0.0f, 1.0f, 1.0f);
    const auto b = drawKnob (look, 100, 100, 1.0f, 1.0f, 1.0f);
    EXPECT_EQ (inkBounds (a), inkBounds (b));
}

//==============================================================================
TEST (OsButtonLook, PressMovesTheLabelDownOnePixel)
{
    const auto up = inkBounds (paintOsButton ("OS: 2x", juce::Colours::orange, false));
    const auto down = inkBounds (paintOsButton ("OS: 2x", juce::Colours::orange, true));
    ASSERT_FALSE (up.isEmpty()) << "no text drawn: is a font installed?";
    EXPECT_EQ (down, up.translated (0, 1));
    EXPECT_NEAR (up.getCentreX(), 50, 2); // centred across the 100 x 30 rectangle
}

TEST (OsButtonLook, DrawsOnlyItsLabelInItsColour)
{
    EXPECT_TRUE (isEmpty (paintOsButton ({}, juce::Colours::orange, false)));

    struct Case
    {
        juce::Colour colour;
        juce::uint8 maxAlpha;
    };

    for (const auto& c : { Case { juce::Colours::grey.withAlpha ((juce::uint8) 0x99), 0x99 }, Case { juce::Colours::orange, 0xff } })
    {
        const auto drawn = paintOsButton ("OS: Off", c.colour, false);
        juce::uint8 strongest = 0;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 100; ++x)
            {
                const auto p = drawn.getPixelAt (x, y);
                if (p.getAlpha() > strongest)
                    strongest = p.getAlpha();
            }
        EXPECT_EQ (strongest, c.maxAlpha);

        // Where the glyphs cover a pixel fully, it has the label's colour.
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 100; ++x)
                if (const auto p = drawn.getPixelAt (x, y); p.getAlpha() == strongest)
                {
                    EXPECT_NEAR (p.getRed(), c.colour.getRed(), 3) << x << ", " << y;
                    EXPECT_NEAR (p.getGreen(), c.colour.getGreen(), 3) << x << ", " << y;
                    EXPECT_NEAR (p.getBlue(), c.colour.getBlue(), 3) << x << ", " << y;
                }
    }
}

TEST (OsButtonLook, ALongLabelEndsInAnEllipsis)
{
    const auto plain = inkBounds (paintOsButton ("OVERSAMPLING OVERSAMPLING OVERSAMPLING", juce::Colours::orange, false));
    EXPECT_LE (plain.getRight(), 100);
    EXPECT_GT (plain.getWidth(), 80);
}

//==============================================================================
TEST (Artwork, PicturesHaveTheirGeometry)
{
    struct Case
    {
        const char* name;
        const char* data;
        int size, width, height, colourType;
    };

    const Case cases[] = {
        { "PanelBackground", BinaryData::PanelBackground_png, BinaryData::PanelBackground_pngSize, 2784, 491, 2 },
        { "GainKnobStrip", BinaryData::GainKnobStrip_png, BinaryData::GainKnobStrip_pngSize, 285, 2280, 6 },
        { "TrimKnobImage", BinaryData::TrimKnobImage_png, BinaryData::TrimKnobImage_pngSize, 162, 162, 6 },
        { "PhaseButtonOff", BinaryData::PhaseButtonOff_png, BinaryData::PhaseButtonOff_pngSize, 285, 285, 6 },
        { "PhaseButtonOn", BinaryData::PhaseButtonOn_png, BinaryData::PhaseButtonOn_pngSize, 285, 285, 6 },
        { "PowerButtonOff", BinaryData::PowerButtonOff_png, BinaryData::PowerButtonOff_pngSize, 285, 285, 6 },
        { "PowerButtonOn", BinaryData::PowerButtonOn_png, BinaryData::PowerButtonOn_pngSize, 285, 285, 6 },
        { "MeterLedStrip", BinaryData::MeterLedStrip_png, BinaryData::MeterLedStrip_pngSize, 150, 600, 6 },
    };

    for (const auto& c : cases)
    {
        // The PNG header: signature, then IHDR with width, height, bit depth, colour type, ..., interlace.
        const auto* bytes = reinterpret_cast<const unsigned char*> (c.data);
        ASSERT_GT (c.size, 33) << c.name;
        EXPECT_EQ (std::memcmp (bytes, "\x89PNG\r\n\x1a\n", 8), 0) << c.name;
        EXPECT_EQ (std::memcmp (bytes + 12, "IHDR", 4), 0) << c.name;
        EXPECT_EQ ((int) juce::ByteOrder::bigEndianInt (bytes + 16), c.width) << c.name;
        EXPECT_EQ ((int) juce::ByteOrder::bigEndianInt (bytes + 20), c.height) << c.name;
        EXPECT_EQ (bytes[24], 8) << c.name;
        EXPECT_EQ (bytes[25], c.colourType) << c.name;
        EXPECT_EQ (bytes[28], 0) << c.name << " is interlaced";

        const auto image = embedded (c.data, c.size);
        ASSERT_TRUE (image.isValid()) << c.name;
        EXPECT_EQ (image.getWidth(), c.width) << c.name;
        EXPECT_EQ (image.getHeight(), c.height) << c.name;
    }

    // Frames are square and stack exactly: 8 knob positions, 4 LED states.
    EXPECT_EQ (2280 / 285, 8);
    EXPECT_EQ (2280 % 285, 0);
    EXPECT_EQ (600 % 150, 0);
}

TEST (Artwork, LedFramesAreUnlitGreenOrangeRed)
{
    const auto strip = embedded (BinaryData::MeterLedStrip_png, BinaryData::MeterLedStrip_pngSize);
    const auto centre = [&] (int frame) { return strip.getPixelAt (75, 150 * frame + 75); };

    EXPECT_LT (centre (0).getBrightness(), 0.4f);
    EXPECT_GT (centre (1).getGreen(), 2 * centre (1).getRed());
    EXPECT_GT (centre (2).getRed(), 200);
    EXPECT_GT (centre (2).getGreen(), 100);
    EXPECT_GT (centre (3).getRed(), 200);
    EXPECT_LT (centre (3).getGreen(), 100);
}

TEST (Artwork, GainFramesTurnTwentyEightDegreesEach)
{
    // The axis of the red wings beyond the round cap gives each frame's angle (modulo a half turn).
    const auto strip = embedded (BinaryData::GainKnobStrip_png, BinaryData::GainKnobStrip_pngSize);
    float previous = 0.0f;

    for (int k = 0; k < 8; ++k)
    {
        double sxx = 0, syy = 0, sxy = 0, n = 0;
        for (int y = 0; y < 285; ++y)
            for (int x = 0; x < 285; ++x)
            {
                const auto p = strip.getPixelAt (x, 285 * k + y);
                const auto dx = x - 142.0, dy = y - 142.0;
                if (p.getAlpha() == 255 && p.getRed() > 2 * p.getGreen() + 20 && std::hypot (dx, dy) > 72.0)
                {
                    sxx += dx * dx;
                    syy += dy * dy;
                    sxy += dx * dy;
                    n += 1.0;
                }
            }

        ASSERT_GT (n, 500.0) << "frame " << k;
        // Angle of the axis, clockwise from 12 o'clock, in [0, 180).
        const auto axis = (float) (0.5 * std::atan2 (2.0 * sxy, sxx - syy) * 180.0 / pi) + 90.0f;
        const auto degrees = std::fmod (axis + 180.0f, 180.0f);
        if (k > 0)
            EXPECT_NEAR (std::fmod (degrees - previous + 180.0f, 180.0f), 28.0f, 2.0f) << "frame " << k;
        previous = degrees;
    }
}

//==============================================================================
TEST (Editor, WindowSizeAndLimits)
{
    KORVELAudioProcessor processor;
    std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditor());

    EXPECT_EQ (editor->getWidth(), 1392);
    EXPECT_EQ (editor->getHeight(), 245);
    EXPECT_TRUE (editor->isResizable());

    auto* constrainer = editor->getConstrainer();
    ASSERT_NE (constrainer, nullptr);
    EXPECT_EQ (constrainer->getMinimumWidth(), 600);
    EXPECT_EQ (constrainer->getMinimumHeight(), 105);
    EXPECT_EQ (constrainer->getMaximumWidth(), 2088);
    EXPECT_EQ (constrainer->getMaximumHeight(), 367);
    EXPECT_EQ (constrainer->getFixedAspectRatio(), 1392.0 / 245.0);

    // A drag far beyond the largest size stops there, at the fixed aspect ratio.
    for (const auto& wish : { juce::Rectangle<int> (0, 0, 4000, 900), juce::Rectangle<int> (0, 0, 300, 80), juce::Rectangle<int> (0, 0, 1000, 500) })
    {
        constrainer->setBoundsForComponent (editor.get(), wish, false, false, true, true);
        EXPECT_LE (editor->getWidth(), 2088);
        EXPECT_LE (editor->getHeight(), 367);
        EXPECT_GE (editor->getWidth(), 600);
        EXPECT_GE (editor->getHeight(), 105);
        EXPECT_NEAR ((double) editor->getWidth() / editor->getHeight(), 1392.0 / 245.0, 0.05) << wish.toString();
    }
}

TEST (Editor, ChildrenTakeTheirFractionOfTheWindow)
{
    struct Case
    {
        int width, height;
        juce::Rectangle<int> expected[6]; // gain, trim, phase, power, meter, OS
    };

    const Case cases[] = {
        { 1392, 245, { { 195, 52, 142, 142 }, { 550, 85, 81, 81 }, { 372, 52, 142, 142 }, { 1130, 52, 142, 142 }, { 619, 48, 75, 75 }, { 1275, 105, 100, 30 } } },
        { 2088, 367, { { 292, 77, 213, 212 }, { 825, 127, 121, 121 }, { 558, 77, 213, 212 }, { 1695, 77, 213, 212 }, { 928, 71, 112, 112 }, { 1912, 157, 150, 44 } } },
        { 600, 106, { { 84, 22, 61, 61 }, { 237, 36, 34, 35 }, { 160, 22, 61, 61 }, { 487, 22, 61, 61 }, { 266, 20, 32, 32 }, { 549, 45, 43, 12 } } },
    };

    KORVELAudioProcessor processor;
    std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditor());

    for (const auto& c : cases)
    {
        editor->setSize (c.width, c.height);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ (editor->getChildComponent (i)->getBounds(), c.expected[i]) << "child " << i << " at " << c.width << " x " << c.height;
    }
}

TEST (Editor, ChildrenStackInTheirOrder)
{
    KORVELAudioProcessor processor;
    std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditor());
    editor->setVisible (true);

    EXPECT_NE (dynamic_cast<juce::Slider*> (editor->getChildComponent (0)), nullptr);
    EXPECT_NE (dynamic_cast<juce::Slider*> (editor->getChildComponent (1)), nullptr);
    EXPECT_NE (dynamic_cast<juce::ImageButton*> (editor->getChildComponent (2)), nullptr);
    EXPECT_NE (dynamic_cast<juce::ImageButton*> (editor->getChildComponent (3)), nullptr);
    EXPECT_NE (dynamic_cast<SignalMeterComponent*> (editor->getChildComponent (4)), nullptr);
    EXPECT_NE (dynamic_cast<OsTextButton*> (editor->getChildComponent (5)), nullptr);

    // Where the trim knob and the meter overlap, the meter (added later) takes the mouse.
    EXPECT_EQ (editor->getComponentAt (625, 100), editor->getChildComponent (4));
    EXPECT_EQ (editor->getComponentAt (560, 100), editor->getChildComponent (1));
}

TEST (Editor, PaintsThePanelStretchedOverTheWindow)
{
    KORVELAudioProcessor processor;
    std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditor());
    const auto panel = embedded (BinaryData::PanelBackground_png, BinaryData::PanelBackground_pngSize);

    for (const auto& size : { juce::Point<int> (1392, 245), juce::Point<int> (2088, 367) })
    {
        editor->setSize (size.x, size.y);
        juce::Image drawn (juce::Image::RGB, size.x, size.y, true);
        {
            juce::Graphics g (drawn);
            editor->paint (g);
        }

        // A patch of plain panel between the trim knob and the power button, on average.
        const auto mean = [] (const juce::Image& image, juce::Rectangle<int> area) {
            float r = 0, g = 0, b = 0;
            for (int y = area.getY(); y < area.getBottom(); ++y)
                for (int x = area.getX(); x < area.getRight(); ++x)
                {
                    const auto p = image.getPixelAt (x, y);
                    r += p.getRed();
                    g += p.getGreen();
                    b += p.getBlue();
                }
            const auto n = (float) area.getWidth() * (float) area.getHeight();
            return std::array<float, 3> { r / n, g / n, b / n };
        };

        const auto got = mean (drawn, { size.x * 850 / 1392, size.y * 150 / 245, size.x * 100 / 1392, size.y * 40 / 245 });
        const auto expected = mean (panel, { 1700, 300, 200, 80 });
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR (got[(size_t) c], expected[(size_t) c], 2.0f) << "channel " << c;
        EXPECT_GT (got[2], got[0] + 20.0f); // blue-teal, not black
    }
}

//==============================================================================
namespace
{
struct OpenEditor
{
    KORVELAudioProcessor processor;
    std::unique_ptr<juce::AudioProcessorEditor> editor { processor.createEditor() };

    juce::Slider& knob (int i) { return *dynamic_cast<juce::Slider*> (editor->getChildComponent (i)); }
    juce::Button& button (int i) { return *dynamic_cast<juce::Button*> (editor->getChildComponent (i)); }
    SignalMeterComponent& meter() { return *dynamic_cast<SignalMeterComponent*> (editor->getChildComponent (4)); }
    juce::Button& osButton() { return button (5); }
    void tick() { dynamic_cast<juce::Timer&> (*editor).timerCallback(); }
    float raw (const char* id) { return processor.parameters.getRawParameterValue (id)->load(); }
    void set (const char* id, float real)
    {
        auto* p = processor.parameters.getParameter (id);
        p->setValueNotifyingHost (p->convertTo0to1 (real));
    }
};
} // namespace

TEST (EditorControls, AttachmentsShowAndFollowTheParameters)
{
    OpenEditor e;
    EXPECT_EQ (e.knob (0).getValue(), 20.0);
    EXPECT_EQ (e.knob (1).getValue(), 0.0);
    EXPECT_FALSE (e.button (2).getToggleState());
    EXPECT_TRUE (e.button (3).getToggleState());

    // The host moves them.
    e.set ("gain", 60.0f);
    e.set ("trim", -6.0f);
    e.set ("phase", 1.0f);
    e.set ("power", 0.0f);
    EXPECT_EQ (e.knob (0).getValue(), 60.0);
    EXPECT_NEAR (e.knob (1).getValue(), -6.0, 1e-5);
    EXPECT_TRUE (e.button (2).getToggleState());
    EXPECT_FALSE (e.button (3).getToggleState());

    // The user moves them.
    e.knob (0).setValue (80.0, juce::sendNotificationSync);
    e.button (2).setToggleState (false, juce::sendNotificationSync);
    e.button (3).setToggleState (true, juce::sendNotificationSync);
    EXPECT_EQ (e.raw ("gain"), 80.0f);
    EXPECT_EQ (e.raw ("phase"), 0.0f);
    EXPECT_EQ (e.raw ("power"), 1.0f);

    // The gain knob has eight positions and stops at both ends.
    e.knob (0).setValue (200.0, juce::sendNotificationSync);
    EXPECT_EQ (e.raw ("gain"), 80.0f);
    e.knob (0).setValue (44.0, juce::sendNotificationSync);
    EXPECT_EQ (e.raw ("gain"), 40.0f);
    EXPECT_EQ (e.knob (0).getSliderStyle(), juce::Slider::RotaryHorizontalVerticalDrag);
    EXPECT_EQ (e.knob (0).getTextBoxPosition(), juce::Slider::NoTextBox);
}

TEST (EditorControls, AReopenedEditorShowsTheCurrentValues)
{
    OpenEditor e;
    e.set ("gain", 70.0f);
    e.set ("power", 0.0f);
    e.set ("oversampling", 2.0f);
    e.editor.reset (e.processor.createEditor());
    EXPECT_EQ (e.knob (0).getValue(), 70.0);
    EXPECT_FALSE (e.button (3).getToggleState());
    EXPECT_EQ (e.osButton().getButtonText(), ""); // until the first tick
    e.tick();
    EXPECT_EQ (e.osButton().getButtonText(), "OS: 4x");
}

TEST (EditorControls, OsButtonStepsTheChoiceAndItsCaptionFollowsAtTheNextTick)
{
    OpenEditor e;
    auto* choice = e.processor.parameters.getParameter ("oversampling");
    const auto colour = [&] { return e.osButton().findColour (juce::TextButton::textColourOffId); };

    EXPECT_EQ (e.osButton().getButtonText(), "");
    EXPECT_EQ (colour(), juce::Colour (0x99808080));

    struct Step
    {
        float normalised;
        const char* caption;
        juce::uint32 argb;
        int latency;
    };

    const Step steps[] = {
        { 0.5f, "OS: 2x", 0xffffa500, 49 },
        { 1.0f, "OS: 4x", 0xffffa500, 59 },
        { 0.0f, "OS: Off", 0x99808080, 0 },
    };

    auto captionBefore = e.osButton().getButtonText();
    for (const auto& s : steps)
    {
        e.osButton().onClick();
        EXPECT_EQ (choice->getValue(), s.normalised);
        EXPECT_EQ (e.processor.getLatencySamples(), s.latency);
        EXPECT_EQ (e.osButton().getButtonText(), captionBefore); // not at the click
        e.tick();
        EXPECT_EQ (e.osButton().getButtonText(), s.caption);
        EXPECT_EQ (colour(), juce::Colour (s.argb));
        captionBefore = s.caption;
    }

    // Automation shows within one tick, without a click.
    e.set ("oversampling", 2.0f);
    e.tick();
    EXPECT_EQ (e.osButton().getButtonText(), "OS: 4x");
    EXPECT_FALSE (e.osButton().getClickingTogglesState());
}

TEST (EditorControls, LedStateForEachLevel)
{
    struct Case
    {
        float level;
        int state;
    };

    const Case cases[] = {
        { 0.0f, 0 },
        { 0.001f, 0 }, // −60 dB
        { 0.01f, 0 }, // −40 dB exactly belongs to the lower state
        { 0.0101f, 1 },
        { 0.1f, 1 }, // −20 dB
        { 0.3f, 2 }, // −10.5 dB
        { 0.70710677f, 2 }, // a full-scale sine, −3.01 dB
        { 0.71f, 3 },
        { 1.0f, 3 },
        { 2.0f, 3 },
        { -0.5f, 0 },
        { std::numeric_limits<float>::quiet_NaN(), 0 },
        { std::numeric_limits<float>::infinity(), 3 },
    };

    for (const auto& c : cases)
        EXPECT_EQ (korvel::ledStateFor (c.level), c.state) << c.level;

    // The timer reads the published level.
    OpenEditor e;
    EXPECT_EQ (e.meter().ledState, 0);
    for (const auto& c : cases)
    {
        e.processor.outputLevel = c.level;
        e.tick();
        EXPECT_EQ (e.meter().ledState, c.state) << c.level;
    }
}

TEST (EditorControls, MeterDrawsTheFrameOfItsState)
{
    // Each row of the strip carries its own number in its colour.
    juce::Image strip (juce::Image::ARGB, 150, 600, true);
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 150; ++x)
            strip.setPixelAt (x, y, juce::Colour ((juce::uint8) (y >> 8), (juce::uint8) (y & 0xff), 0));

    SignalMeterComponent meter;
    meter.ledStrip = strip;
    meter.setSize (150, 150);
    const auto rowShown = [] (const juce::Image& image, int y) {
        const auto p = image.getPixelAt (75, y);
        return p.getRed() * 256 + p.getGreen();
    };

    for (int state = 0; state < 4; ++state)
    {
        meter.ledState = state;
        const auto drawn = meter.createComponentSnapshot (meter.getLocalBounds());
        EXPECT_EQ (rowShown (drawn, 0), 150 * state) << state;
        EXPECT_EQ (rowShown (drawn, 149), 150 * state + 149) << state;
    }

    SignalMeterComponent empty;
    empty.setSize (75, 75);
    empty.ledState = 3;
    EXPECT_TRUE (isEmpty (empty.createComponentSnapshot (empty.getLocalBounds())));
}
