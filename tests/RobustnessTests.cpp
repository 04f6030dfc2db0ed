// What a careless or hostile host may hand the processor; none of it may break the host.
#include "PluginProcessor.h"
#include "ProcessorTestHelpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>

namespace
{
using korvel::testing::prepare;
using korvel::testing::setReal;
const char* const choiceNames[] = { "Off", "2x", "4x" };

juce::AudioBuffer<float> noise (int channels, int samples, float amplitude, unsigned seed = 3)
{
    std::mt19937 rng (seed);
    std::uniform_real_distribution<float> d (-amplitude, amplitude);
    juce::AudioBuffer<float> b (channels, samples);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < samples; ++i)
            b.setSample (c, i, d (rng));
    return b;
}

// The largest magnitude in a buffer, or infinity if any sample is not finite or is subnormal.
float worst (const juce::AudioBuffer<float>& b)
{
    float m = 0.0f;
    for (int c = 0; c < b.getNumChannels(); ++c)
        for (int i = 0; i < b.getNumSamples(); ++i)
        {
            const auto v = b.getSample (c, i);
            if (! std::isfinite (v) || std::fpclassify (v) == FP_SUBNORMAL)
                return INFINITY;
            m = std::max (m, std::abs (v));
        }
    return m;
}

void process (KORVELAudioProcessor& p, juce::AudioBuffer<float>& b)
{
    juce::MidiBuffer midi;
    p.processBlock (b, midi);
}
} // namespace

TEST (Robustness, HostileBlocksLeaveFiniteBoundedOutputAndACleanRecovery)
{
    struct Hostile
    {
        const char* name;
        std::function<void (KORVELAudioProcessor&)> feed;
    };

    const Hostile cases[] = {
        { "a +24 dBFS square", [] (auto& p) {
              juce::AudioBuffer<float> b (2, 512);
              for (int i = 0; i < 512; ++i)
                  for (int c = 0; c < 2; ++c)
                      b.setSample (c, i, (i / 24) % 2 ? 15.85f : -15.85f);
              process (p, b);
              EXPECT_LT (worst (b), 40.0f); } },
        { "a block of 0 samples", [] (auto& p) {
              juce::AudioBuffer<float> b (2, 0);
              process (p, b);
              EXPECT_EQ (p.outputLevel.load(), 0.0f); } },
        { "a buffer with no channels", [] (auto& p) {
              juce::AudioBuffer<float> b (0, 512);
              process (p, b);
              EXPECT_EQ (p.outputLevel.load(), 0.0f); } },
        { "NaN and infinities", [] (auto& p) {
              auto b = noise (2, 512, 0.5f);
              b.setSample (0, 3, std::nanf (""));
              b.setSample (1, 100, INFINITY);
              b.setSample (0, 200, -INFINITY);
              const bool bypassed = p.parameters.getRawParameterValue ("power")->load() == 0.0f;
              process (p, b);
              if (! bypassed) // power off hands the input back as it came
                  EXPECT_LT (worst (b), 40.0f); } },
        { "one channel of NaN", [] (auto& p) {
              auto b = noise (2, 512, 0.5f);
              for (int i = 0; i < 512; ++i)
                  b.setSample (1, i, std::nanf (""));
              const bool bypassed = p.parameters.getRawParameterValue ("power")->load() == 0.0f;
              process (p, b);
              if (! bypassed)
                  EXPECT_LT (worst (b), 40.0f); } },
        { "six channels", [] (auto& p) {
              auto b = noise (6, 512, 0.5f);
              const auto before = b;
              const bool muted = p.parameters.getRawParameterValue ("gain")->load() < 20.0f;
              process (p, b);
              // The chain serves two channels; the rest pass untouched, or fall silent with the mute.
              for (int c = 2; c < 6; ++c)
                  if (muted)
                      EXPECT_EQ (b.getMagnitude (c, 0, 512), 0.0f);
                  else
                      EXPECT_EQ (std::memcmp (b.getReadPointer (c), before.getReadPointer (c), 512 * sizeof (float)), 0); } },
    };

    const auto clean = noise (2, 48000, 0.5f, 9);

    for (float gain : { 10.0f, 20.0f, 80.0f })
        for (float power : { 1.0f, 0.0f })
            for (int choice = 0; choice < 3; ++choice)
            {
                const auto setUp = [&] (KORVELAudioProcessor& p) {
                    prepare (p, 48000.0, 512);
                    setReal (p, "gain", gain);
                    setReal (p, "power", power);
                    setReal (p, "oversampling", (float) choice);
                };

                KORVELAudioProcessor reference;
                setUp (reference);
                auto expected = clean;
                for (int start = 0; start < 48000; start += 480)
                {
                    juce::AudioBuffer<float> block (expected.getArrayOfWritePointers(), 2, start, 480);
                    process (reference, block);
                }

                for (const auto& hostile : cases)
                {
                    SCOPED_TRACE (std::string (hostile.name) + ", gain " + std::to_string ((int) gain) + ", power " + std::to_string ((int) power) + ", " + choiceNames[choice]);
                    KORVELAudioProcessor p;
                    setUp (p);
                    hostile.feed (p);
                    EXPECT_TRUE (std::isfinite (p.outputLevel.load()) || power == 0.0f);

                    // Clean input afterwards: the output is finite at once (with power off, once the
                    // bypassed input's latency has passed) and, once the disturbance has passed
                    // through the 7 Hz filter, the same as if nothing had happened.
                    auto out = clean;
                    for (int start = 0; start < 48000; start += 480)
                    {
                        juce::AudioBuffer<float> block (out.getArrayOfWritePointers(), 2, start, 480);
                        process (p, block);
                    }
                    const auto delayed = power == 0.0f ? 59 : 0;
                    ASSERT_LT (worst (juce::AudioBuffer<float> (out.getArrayOfWritePointers(), 2, delayed, 48000 - delayed)), 40.0f);
                    float difference = 0.0f;
                    for (int c = 0; c < 2; ++c)
                        for (int i = 24000; i < 48000; ++i)
                            difference = std::max (difference, std::abs (out.getSample (c, i) - expected.getSample (c, i)));
                    EXPECT_LT (difference, 1e-5f);
                }
            }
}

TEST (Robustness, UnpreparedOrOddlyPreparedProcessorsStaySafe)
{
    for (int choice = 0; choice < 3; ++choice)
    {
        SCOPED_TRACE (choiceNames[choice]);

        // Before any prepare, and with a sample rate of 0.
        KORVELAudioProcessor unprepared;
        setReal (unprepared, "oversampling", (float) choice);
        auto b = noise (2, 700, 0.5f);
        process (unprepared, b);
        EXPECT_LT (worst (b), 2.0f);

        KORVELAudioProcessor zeroRate;
        prepare (zeroRate, 0.0, 256);
        setReal (zeroRate, "oversampling", (float) choice);
        b = noise (2, 700, 0.5f);
        process (zeroRate, b);
        EXPECT_LT (worst (b), 2.0f);

        // Prepared small, then large: the larger blocks fit, and it is as good as new.
        KORVELAudioProcessor regrown, fresh;
        prepare (regrown, 48000.0, 64);
        setReal (regrown, "oversampling", (float) choice);
        auto warmUp = noise (2, 64, 0.5f);
        process (regrown, warmUp);
        prepare (regrown, 48000.0, 2048);
        prepare (fresh, 48000.0, 2048);
        setReal (fresh, "oversampling", (float) choice);
        auto x = noise (2, 2048, 0.5f), y = x;
        process (regrown, x);
        process (fresh, y);
        for (int c = 0; c < 2; ++c)
            EXPECT_EQ (std::memcmp (x.getReadPointer (c), y.getReadPointer (c), 2048 * sizeof (float)), 0);
    }
}

TEST (Robustness, NoSubnormalLeavesTheProcessor)
{
    // A signal at −300 dB, then silence: the tail decays through the filters towards the
    // subnormal range, which the processor flushes to zero.
    for (float gain : { 20.0f, 60.0f })
        for (int choice = 0; choice < 3; ++choice)
        {
            KORVELAudioProcessor p;
            prepare (p, 48000.0, 512);
            setReal (p, "gain", gain);
            setReal (p, "oversampling", (float) choice);
            auto quiet = noise (2, 4800, 1.0e-15f);
            process (p, quiet);
            EXPECT_LT (worst (quiet), 1.0f) << "gain " << gain << ", " << choiceNames[choice];

            for (int block = 0; block < 400; ++block)
            {
                juce::AudioBuffer<float> silence (2, 512);
                silence.clear();
                process (p, silence);
                ASSERT_LT (worst (silence), 1.0f) << "gain " << gain << ", " << choiceNames[choice] << ", block " << block;
            }
        }
}
