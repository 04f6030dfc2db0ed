// Everything a host does at once: the audio thread processes without pause while one thread
// automates every parameter, another saves and loads state, and the message thread clicks
// through the editor. Built with ThreadSanitizer by scripts/tsan; a plain build runs it too.
#include "PluginEditor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

namespace
{
double secondsToRun()
{
    const auto fromEnvironment = juce::SystemStats::getEnvironmentVariable ("KORVEL_CONCURRENCY_SECONDS", "2").getDoubleValue();
    return fromEnvironment > 0.0 ? fromEnvironment : 2.0;
}
} // namespace

TEST (Concurrency, AudioAutomationStateAndEditorAllAtOnce)
{
    KORVELAudioProcessor p;
    p.setRateAndBufferSizeDetails (48000.0, 256);
    p.prepareToPlay (48000.0, 256);
    std::unique_ptr<juce::AudioProcessorEditor> editor (p.createEditor());

    std::atomic<bool> running { true };
    std::atomic<long> blocks { 0 }, automations { 0 }, stateRoundTrips { 0 };

    std::thread audio ([&] {
        juce::AudioBuffer<float> buffer (2, 256);
        juce::MidiBuffer midi;
        std::mt19937 rng (1);
        std::uniform_real_distribution<float> d (-1.0f, 1.0f);
        while (running)
        {
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < 256; ++i)
                    buffer.setSample (c, i, d (rng));
            p.processBlock (buffer, midi);
            ++blocks;
        }
    });

    std::thread automation ([&] {
        std::mt19937 rng (2);
        std::uniform_real_distribution<float> d (0.0f, 1.0f);
        const char* const ids[] = { "gain", "trim", "phase", "power", "oversampling" };
        while (running)
        {
            p.parameters.getParameter (ids[rng() % 5])->setValueNotifyingHost (d (rng));
            ++automations;
            std::this_thread::yield();
        }
    });

    std::thread state ([&] {
        while (running)
        {
            juce::MemoryBlock block;
            p.getStateInformation (block);
            p.setStateInformation (block.getData(), (int) block.getSize());
            ++stateRoundTrips;
        }
    });

    // The message thread: clicks on every control and the editor's own refresh.
    auto& knob = *dynamic_cast<juce::Slider*> (editor->getChildComponent (0));
    auto& trim = *dynamic_cast<juce::Slider*> (editor->getChildComponent (1));
    auto& phase = *dynamic_cast<juce::Button*> (editor->getChildComponent (2));
    auto& power = *dynamic_cast<juce::Button*> (editor->getChildComponent (3));
    auto& os = *dynamic_cast<juce::Button*> (editor->getChildComponent (5));
    auto& timer = dynamic_cast<juce::Timer&> (*editor);
    long clicks = 0;

    const auto end = juce::Time::getMillisecondCounterHiRes() + secondsToRun() * 1000.0;
    for (int i = 0; juce::Time::getMillisecondCounterHiRes() < end; ++i)
    {
        knob.setValue (10.0 + 10.0 * (i % 8), juce::sendNotificationSync);
        trim.setValue (-48.0 + (i % 60), juce::sendNotificationSync);
        phase.setToggleState (i % 2 == 0, juce::sendNotificationSync);
        power.setToggleState (i % 3 != 0, juce::sendNotificationSync);
        os.onClick();
        timer.timerCallback();
        clicks += 5;
    }

    running = false;
    audio.join();
    automation.join();
    state.join();
    editor.reset();

    std::cout << blocks << " blocks, " << automations << " automation steps, " << stateRoundTrips
              << " state round trips and " << clicks << " clicks at once\n";
    EXPECT_GT (blocks.load(), 0);
    EXPECT_GT (automations.load(), 0);
    EXPECT_GT (stateRoundTrips.load(), 0);
    EXPECT_TRUE (std::isfinite (p.outputLevel.load()));
}
