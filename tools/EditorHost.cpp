// korvel-editor-host: opens the editor in a real window, as a host would, while a background
// thread plays audio through the processor. It reports on standard output whatever a user
// would see change, so that scripts can click the window and check the result.
//
//   korvel-editor-host [--width W] [--height H] [--level RMS] [--seconds S] [--cycles N]
//
//   --width/--height  window size (the editor holds it to its limits and aspect ratio)
//   --level           RMS of the sine played through the processor (lights the LED)
//   --seconds         quit after this long (default: run until killed)
//   --cycles          close and reopen the editor this many times, one per tick, then quit
#include "PluginEditor.h"

#include <X11/Xlib.h>

#include <atomic>
#include <cmath>
#include <iostream>
#include <thread>

namespace
{
// JUCE only looks up the window-manager atoms it uses, expecting a window manager to have
// made them; a bare X server such as Xvfb has none, and JUCE's window would then fail.
// The connection stays open so the server keeps the atoms.
void makeWindowManagerAtoms()
{
    static Display* const display = XOpenDisplay (nullptr);
    if (display == nullptr)
        return;

    for (const char* name : { "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "WM_CHANGE_STATE", "WM_STATE",
                              "_NET_WM_PING", "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN", "_NET_WM_STATE_FULLSCREEN",
                              "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_ALLOWED_ACTIONS",
                              "_NET_FRAME_EXTENTS", "_NET_WORKAREA", "_MOTIF_WM_HINTS" })
        XInternAtom (display, name, False);

    XFlush (display);
}

// Plays a 1 kHz sine through the processor in 512-sample blocks, about as fast as real time.
class AudioThread
{
public:
    AudioThread (KORVELAudioProcessor& p, float rms)
        : processor (p),
          amplitude (rms * std::sqrt (2.0f))
    {
        thread = std::thread ([this] { run(); });
    }

    ~AudioThread()
    {
        running = false;
        thread.join();
    }

private:
    void run()
    {
        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;
        double phase = 0.0;

        while (running)
        {
            for (int i = 0; i < 512; ++i, phase += 2.0 * juce::MathConstants<double>::pi * 1000.0 / 48000.0)
                for (int c = 0; c < 2; ++c)
                    buffer.setSample (c, i, amplitude * (float) std::sin (phase));

            processor.processBlock (buffer, midi);
            std::this_thread::sleep_for (std::chrono::milliseconds (10));
        }
    }

    KORVELAudioProcessor& processor;
    const float amplitude;
    std::atomic<bool> running { true };
    std::thread thread;
};

class EditorHost : private juce::Timer
{
public:
    explicit EditorHost (const juce::StringArray& args)
    {
        const auto option = [&] (const char* name, double fallback) {
            const auto i = args.indexOf (name);
            return i >= 0 && i + 1 < args.size() ? args[i + 1].getDoubleValue() : fallback;
        };

        width = (int) option ("--width", 1392);
        height = (int) option ("--height", 245);
        cyclesLeft = (int) option ("--cycles", 0);
        const auto seconds = option ("--seconds", 0);
        quitAt = seconds > 0 ? juce::Time::getMillisecondCounterHiRes() + seconds * 1000.0 : 0.0;

        processor.setRateAndBufferSizeDetails (48000.0, 512);
        processor.prepareToPlay (48000.0, 512);
        audio = std::make_unique<AudioThread> (processor, (float) option ("--level", 0.0));

        openEditor();
        say ("ready " + juce::String (editor->getWidth()) + "x" + juce::String (editor->getHeight()));
        startTimer (50);
    }

    ~EditorHost() override
    {
        stopTimer();
        editor.reset();
        audio.reset();
    }

private:
    static void quit() { juce::MessageManager::getInstance()->stopDispatchLoop(); }

    static void say (const juce::String& line)
    {
        std::cout << line << std::endl;
    }

    void openEditor()
    {
        editor.reset (processor.createEditor());
        editor->setSize (width, height);
        editor->addToDesktop (0);
        editor->setTopLeftPosition (0, 0);
        editor->setVisible (true);
    }

    // Reports each value the first time and whenever it changes.
    void report (const juce::String& name, const juce::String& value)
    {
        auto& last = reported[name];
        if (last != value)
        {
            last = value;
            say (name + " " + value);
        }
    }

    void timerCallback() override
    {
        if (cyclesLeft > 0)
        {
            editor.reset();
            openEditor();
            if (--cyclesLeft == 0)
            {
                say ("cycles done");
                quit();
            }
            return;
        }

        for (const char* id : { "gain", "trim", "phase", "power", "oversampling" })
            report (id, juce::String (processor.parameters.getRawParameterValue (id)->load()));

        report ("latency", juce::String (processor.getLatencySamples()));

        if (auto* os = dynamic_cast<juce::Button*> (editor->getChildComponent (5)))
            report ("caption", os->getButtonText());
        if (auto* meter = dynamic_cast<SignalMeterComponent*> (editor->getChildComponent (4)))
            report ("led", juce::String (meter->ledState));

        if (quitAt > 0.0 && juce::Time::getMillisecondCounterHiRes() > quitAt)
            quit();
    }

    KORVELAudioProcessor processor;
    std::unique_ptr<AudioThread> audio;
    std::unique_ptr<juce::AudioProcessorEditor> editor;
    std::map<juce::String, juce::String> reported;
    int width = 1392, height = 245, cyclesLeft = 0;
    double quitAt = 0.0;
};
} // namespace

int main (int argc, char** argv)
{
    makeWindowManagerAtoms();
    juce::ScopedJuceInitialiser_GUI gui;
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (argv[i]);

    {
        EditorHost host (args);
        juce::MessageManager::getInstance()->runDispatchLoop();
    }
    return 0;
}
