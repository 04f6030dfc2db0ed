#include "PluginProcessor.h"
#include "ProcessorTestHelpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <functional>
#include <random>

namespace
{
using korvel::testing::prepare;
using korvel::testing::setReal;
constexpr double pi = 3.14159265358979323846;
constexpr double linearGain = 0.6366197 * 1.57; // the near-unity gain of the position 20

juce::AudioBuffer<float> sine (int channels, int numSamples, double frequency, double rate, float amplitude)
{
    juce::AudioBuffer<float> b (channels, numSamples);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < numSamples; ++i)
            b.setSample (c, i, amplitude * (float) std::sin (2.0 * pi * frequency * i / rate + c));
    return b;
}

juce::AudioBuffer<float> noise (int channels, int numSamples, float amplitude, unsigned seed = 1)
{
    std::mt19937 rng (seed);
    std::uniform_real_distribution<float> dist (-amplitude, amplitude);
    juce::AudioBuffer<float> b (channels, numSamples);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < numSamples; ++i)
            b.setSample (c, i, dist (rng));
    return b;
}

// Runs a whole signal through the processor in blocks whose sizes come from nextSize.
template <typename NextSize>
juce::AudioBuffer<float> renderWith (KORVELAudioProcessor& p, const juce::AudioBuffer<float>& input, NextSize nextSize)
{
    juce::AudioBuffer<float> out (input);
    juce::MidiBuffer midi;

    for (int start = 0; start < out.getNumSamples();)
    {
        const auto n = std::min (nextSize(), out.getNumSamples() - start);
        juce::AudioBuffer<float> block (out.getArrayOfWritePointers(), out.getNumChannels(), start, n);
        p.processBlock (block, midi);
        start += n;
    }

    return out;
}

juce::AudioBuffer<float> render (KORVELAudioProcessor& p, const juce::AudioBuffer<float>& input, int blockSize)
{
    return renderWith (p, input, [blockSize] { return blockSize; });
}

juce::AudioBuffer<float> processOnce (KORVELAudioProcessor& p, const juce::AudioBuffer<float>& input)
{
    juce::AudioBuffer<float> out (input);
    juce::MidiBuffer midi;
    p.processBlock (out, midi);
    return out;
}

// Magnitude of the DC blocker (1 − z⁻¹) ÷ (1 − R·z⁻¹) at a frequency, for the rate the chain runs at.
double highPassGain (double frequency, double chainRate)
{
    const auto r = 1.0 - 2.0 * pi * 7.0 / chainRate;
    const auto z = std::polar (1.0, -2.0 * pi * frequency / chainRate);
    return std::abs (1.0 - z) / std::abs (1.0 - r * z);
}

bool identical (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    if (a.getNumChannels() != b.getNumChannels() || a.getNumSamples() != b.getNumSamples())
        return false;
    for (int c = 0; c < a.getNumChannels(); ++c)
        if (std::memcmp (a.getReadPointer (c), b.getReadPointer (c), sizeof (float) * (size_t) a.getNumSamples()) != 0)
            return false;
    return true;
}

double rms (const juce::AudioBuffer<float>& b, int start = 0)
{
    double sum = 0.0;
    for (int c = 0; c < b.getNumChannels(); ++c)
        for (int i = start; i < b.getNumSamples(); ++i)
            sum += (double) b.getSample (c, i) * b.getSample (c, i);
    return std::sqrt (sum / std::max (1, b.getNumChannels() * (b.getNumSamples() - start)));
}

bool allFinite (const juce::AudioBuffer<float>& b)
{
    for (int c = 0; c < b.getNumChannels(); ++c)
        for (int i = 0; i < b.getNumSamples(); ++i)
            if (! std::isfinite (b.getSample (c, i)))
                return false;
    return true;
}

struct LatencyCounter : juce::AudioProcessorListener
{
    int changes = 0;
    void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override {}
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails& details) override
    {
        if (details.latencyChanged)
            ++changes;
    }
};

const char* const choiceNames[] = { "Off", "2x", "4x" };
} // namespace

//==============================================================================
TEST (Processor, Identity)
{
    KORVELAudioProcessor p;
    EXPECT_EQ (p.getName(), "KORVEL V2");
    EXPECT_FALSE (p.acceptsMidi());
    EXPECT_FALSE (p.producesMidi());
    EXPECT_FALSE (p.isMidiEffect());
    EXPECT_EQ (p.getTailLengthSeconds(), 0.0);
    EXPECT_TRUE (p.hasEditor());
    EXPECT_EQ (p.getNumPrograms(), 1);
    p.setCurrentProgram (3);
    EXPECT_EQ (p.getCurrentProgram(), 0);
    EXPECT_EQ (p.getProgramName (7), "");
    EXPECT_EQ (p.getBypassParameter(), nullptr);
    EXPECT_EQ (p.getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (p.getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (p.getMainBusNumInputChannels(), 2);

    std::unique_ptr<juce::AudioProcessorEditor> editor (p.createEditor());
    ASSERT_NE (editor, nullptr);
    EXPECT_EQ (editor->getWidth(), 1392);
    EXPECT_EQ (editor->getHeight(), 245);
}

TEST (Processor, OnlyMonoAndStereoLayoutsAreAccepted)
{
    using Set = juce::AudioChannelSet;

    struct Case
    {
        Set in, out;
        bool accepted;
    };

    const Case cases[] = {
        { Set::mono(), Set::mono(), true },
        { Set::stereo(), Set::stereo(), true },
        { Set::mono(), Set::stereo(), false },
        { Set::stereo(), Set::mono(), false },
        { Set::create5point1(), Set::create5point1(), false },
        { Set::discreteChannels (6), Set::discreteChannels (6), false },
        { Set::disabled(), Set::stereo(), false },
    };

    KORVELAudioProcessor p;
    for (const auto& c : cases)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (c.in);
        layout.outputBuses.add (c.out);
        EXPECT_EQ (p.checkBusesLayoutSupported (layout), c.accepted)
            << c.in.getDescription() << " -> " << c.out.getDescription();
    }
}

TEST (Processor, ParameterTable)
{
    KORVELAudioProcessor p;
    const auto& params = p.getParameters();
    ASSERT_EQ (params.size(), 5);

    struct Case
    {
        const char* id;
        const char* name;
        float realDefault, normalisedDefault;
        const char* defaultText;
    };

    const Case cases[] = {
        { "gain", "Input Gain", 20.0f, 1.0f / 7.0f, "20" },
        { "trim", "Output Trim", 0.0f, 0.5f, "0.0" },
        { "phase", "Phase Invert", 0.0f, 0.0f, "Off" },
        { "power", "Power", 1.0f, 1.0f, "On" },
        { "oversampling", "Oversampling", 0.0f, 0.0f, "Off" },
    };

    for (int i = 0; i < 5; ++i)
    {
        const auto& c = cases[i];
        auto* param = dynamic_cast<juce::RangedAudioParameter*> (params[i]);
        ASSERT_NE (param, nullptr);
        EXPECT_EQ (param->getParameterID(), c.id);
        EXPECT_EQ (param->getName (100), c.name);
        EXPECT_EQ (param->getLabel(), "");
        EXPECT_TRUE (param->isAutomatable());
        EXPECT_FALSE (param->isMetaParameter());
        EXPECT_EQ (param->getVersionHint(), 0);
        EXPECT_FLOAT_EQ (param->getDefaultValue(), c.normalisedDefault) << c.id;
        EXPECT_EQ (p.parameters.getRawParameterValue (c.id)->load(), c.realDefault) << c.id;
        EXPECT_EQ (param->getCurrentValueAsText(), c.defaultText) << c.id;
    }
}

TEST (Processor, NormalisedValuesMapToRealValues)
{
    struct Case
    {
        const char* id;
        float normalised, real;
        const char* text;
    };

    const Case cases[] = {
        { "gain", 0.0f, 10.0f, "10" },
        { "gain", 0.5f, 50.0f, "50" }, // 45 lies between two positions and goes up
        { "gain", 0.3f, 30.0f, "30" }, // 31 snaps to the nearest position
        { "gain", 1.0f, 80.0f, "80" },
        { "trim", 0.0f, -48.0f, "-48.0" },
        { "trim", 0.5f, 0.0f, "0.0" },
        { "trim", 1.0f, 12.0f, "12.0" },
        { "phase", 0.49f, 0.0f, "Off" },
        { "phase", 0.5f, 1.0f, "On" },
        { "power", 0.0f, 0.0f, "Off" },
        { "oversampling", 0.5f, 1.0f, "2x" },
        { "oversampling", 0.8f, 2.0f, "4x" },
        { "oversampling", 0.2f, 0.0f, "Off" },
    };

    for (const auto& c : cases)
    {
        KORVELAudioProcessor p;
        auto* param = p.parameters.getParameter (c.id);
        param->setValueNotifyingHost (c.normalised);
        EXPECT_EQ (p.parameters.getRawParameterValue (c.id)->load(), c.real) << c.id << " at " << c.normalised;
        EXPECT_EQ (param->getCurrentValueAsText(), c.text) << c.id << " at " << c.normalised;
    }
}

TEST (Processor, TrimSkewPutsZeroDecibelsAtMidTravel)
{
    KORVELAudioProcessor p;
    auto* trim = dynamic_cast<juce::AudioParameterFloat*> (p.parameters.getParameter ("trim"));
    ASSERT_NE (trim, nullptr);
    EXPECT_FLOAT_EQ (trim->range.skew, 3.1062839f);
    EXPECT_FALSE (trim->range.symmetricSkew);
    EXPECT_FLOAT_EQ (trim->range.interval, 0.1f);

    // Text entry as a host offers it.
    const juce::AudioProcessorParameter& asHostSeesIt = *trim;
    EXPECT_NEAR (trim->convertFrom0to1 (asHostSeesIt.getValueForText ("-3.4")), -3.4f, 1e-5f);
    auto* os = p.parameters.getParameter ("oversampling");
    EXPECT_FLOAT_EQ (os->getValueForText ("4x"), 1.0f);
}

//==============================================================================
TEST (Processor, LowestGainMutesWhateverTheOtherSwitches)
{
    for (float power : { 0.0f, 1.0f })
        for (float phase : { 0.0f, 1.0f })
            for (int choice = 0; choice < 3; ++choice)
            {
                KORVELAudioProcessor p;
                prepare (p, 48000.0, 256);
                setReal (p, "gain", 10.0f);
                setReal (p, "power", power);
                setReal (p, "phase", phase);
                setReal (p, "trim", 12.0f);
                setReal (p, "oversampling", (float) choice);
                p.outputLevel = 0.5f;

                const auto out = processOnce (p, noise (2, 256, 0.5f));
                EXPECT_EQ (out.getMagnitude (0, 256), 0.0f);
                EXPECT_EQ (p.outputLevel.load(), 0.0f);
            }
}

TEST (Processor, MuteBypassEmptyBlocksAndReleaseLeaveTheChainWhereItWas)
{
    // A run interrupted by blocks that must not touch the chain's memory continues
    // exactly as the same run without them.
    const auto first = noise (2, 300, 0.8f, 1);
    const auto second = noise (2, 300, 0.8f, 2);

    for (int choice = 0; choice < 3; ++choice)
    {
        KORVELAudioProcessor reference;
        prepare (reference, 48000.0, 300);
        setReal (reference, "gain", 60.0f);
        setReal (reference, "oversampling", (float) choice);
        processOnce (reference, first);
        const auto expected = processOnce (reference, second);

        using Interruption = std::function<void (KORVELAudioProcessor&)>;
        const Interruption interruptions[] = {
            [&] (auto& p) { setReal (p, "gain", 10.0f); processOnce (p, noise (2, 300, 1.0f, 9)); setReal (p, "gain", 60.0f); },
            [&] (auto& p) { setReal (p, "power", 0.0f); processOnce (p, noise (2, 300, 1.0f, 9)); setReal (p, "power", 1.0f); },
            [&] (auto& p) { processOnce (p, juce::AudioBuffer<float> (2, 0)); },
            [&] (auto& p) { p.releaseResources(); },
            [&] (auto& p) {
                auto b = noise (2, 300, 1.0f, 9);
                juce::MidiBuffer midi;
                p.processBlockBypassed (b, midi); },
        };

        for (const auto& interrupt : interruptions)
        {
            KORVELAudioProcessor p;
            prepare (p, 48000.0, 300);
            setReal (p, "gain", 60.0f);
            setReal (p, "oversampling", (float) choice);
            processOnce (p, first);
            interrupt (p);
            EXPECT_TRUE (identical (processOnce (p, second), expected)) << choiceNames[choice];
        }
    }
}

TEST (Processor, BypassAtOffPassesTheInputUntouched)
{
    KORVELAudioProcessor p;
    prepare (p, 48000.0, 512);
    setReal (p, "power", 0.0f);
    setReal (p, "gain", 80.0f);
    setReal (p, "trim", -20.0f);

    const auto input = noise (2, 512, 0.9f);
    const auto out = processOnce (p, input);
    EXPECT_TRUE (identical (out, input));
    EXPECT_NEAR (p.outputLevel.load(), rms (input), 1e-6);
}

TEST (Processor, BypassAtTwoAndFourTimesKeepsTheReportedLatency)
{
    for (int choice = 1; choice < 3; ++choice)
    {
        KORVELAudioProcessor p;
        prepare (p, 48000.0, 128);
        setReal (p, "oversampling", (float) choice);
        setReal (p, "power", 0.0f);
        const int latency = p.getLatencySamples();
        EXPECT_EQ (latency, choice == 1 ? 49 : 59);

        juce::AudioBuffer<float> input (2, 1024);
        input.clear();
        input.setSample (0, 100, 1.0f);
        input.setSample (1, 300, -0.5f);

        juce::AudioBuffer<float> expected (2, 1024);
        expected.clear();
        expected.setSample (0, 100 + latency, 1.0f);
        expected.setSample (1, 300 + latency, -0.5f);

        // Blocks shorter and longer than the delay, so the click crosses block boundaries.
        for (int block : { 1, 37, 128, 1000 })
        {
            prepare (p, 48000.0, block);
            EXPECT_TRUE (identical (render (p, input, block), expected)) << choiceNames[choice] << ", blocks of " << block;
        }
    }
}

TEST (Processor, HostBypassKeepsTimeAtEveryChoice)
{
    // Clicks every 400 samples; the choice moves from 2x to 4x while bypassed, after the third.
    juce::AudioBuffer<float> input (2, 2000);
    input.clear();
    for (int k = 0; k < 5; ++k)
        input.setSample (k % 2, 100 + 400 * k, 0.5f + 0.1f * (float) k);

    struct Case
    {
        int choiceBefore, choiceAfter, latencyBefore, latencyAfter;
    };

    for (const auto& c : { Case { 0, 0, 0, 0 }, Case { 1, 1, 49, 49 }, Case { 2, 2, 59, 59 }, Case { 1, 2, 49, 59 }, Case { 2, 0, 59, 0 } })
    {
        KORVELAudioProcessor p;
        prepare (p, 48000.0, 100);
        setReal (p, "gain", 80.0f); // a host bypass ignores every setting but the latency
        setReal (p, "oversampling", (float) c.choiceBefore);

        auto out = input;
        juce::MidiBuffer midi;
        for (int start = 0; start < 2000; start += 100)
        {
            if (start == 1000)
                setReal (p, "oversampling", (float) c.choiceAfter);
            juce::AudioBuffer<float> block (out.getArrayOfWritePointers(), 2, start, 100);
            const auto level = std::sqrt ((block.getRMSLevel (0, 0, 100) * block.getRMSLevel (0, 0, 100) + block.getRMSLevel (1, 0, 100) * block.getRMSLevel (1, 0, 100)) / 2.0f);
            p.processBlockBypassed (block, midi);
            EXPECT_NEAR (p.outputLevel.load(), level, 1e-6f);
        }

        for (int k = 0; k < 5; ++k)
        {
            const auto at = 100 + 400 * k + (k < 3 ? c.latencyBefore : c.latencyAfter);
            EXPECT_EQ (out.getSample (k % 2, at), 0.5f + 0.1f * (float) k) << "click " << k << ", " << choiceNames[c.choiceBefore] << " to " << choiceNames[c.choiceAfter];
        }
    }
}

TEST (Processor, BypassLevelIsTheInputLevel)
{
    KORVELAudioProcessor p;
    prepare (p, 48000.0, 512);
    setReal (p, "oversampling", 1.0f);
    setReal (p, "power", 0.0f);
    const auto input = sine (2, 512, 1000.0, 48000.0, 0.5f);
    processOnce (p, input);
    EXPECT_NEAR (p.outputLevel.load(), rms (input), 1e-6);
}

TEST (Processor, LinearPositionPassesASineAtItsNearUnityGain)
{
    for (int choice = 0; choice < 3; ++choice)
    {
        KORVELAudioProcessor p;
        prepare (p, 48000.0, 480);
        setReal (p, "oversampling", (float) choice);

        const auto out = render (p, sine (1, 48000, 1000.0, 48000.0, 0.5f), 480);
        const auto expected = linearGain * highPassGain (1000.0, 48000.0 * (1 << choice));
        EXPECT_NEAR (rms (out, 24000) / (0.5 / std::sqrt (2.0)), expected, 2e-4) << choiceNames[choice];
    }
}

TEST (Processor, ConstantInputDecaysWithTheSevenHertzTimeConstant)
{
    KORVELAudioProcessor p;
    prepare (p, 48000.0, 512);

    juce::AudioBuffer<float> input (1, 48000);
    juce::FloatVectorOperations::fill (input.getWritePointer (0), 0.5f, 48000);
    const auto out = render (p, input, 512);

    // A step through a one-pole DC blocker: y[n] = x·Rⁿ.
    const auto r = 1.0 - 2.0 * pi * 7.0 / 48000.0;
    for (int n : { 0, 1, 100, 1000, 6820, 20000 })
        EXPECT_NEAR (out.getSample (0, n), 0.5 * linearGain * std::pow (r, n), 1e-6) << n;

    EXPECT_LT (std::abs (out.getSample (0, 47999)), 1e-12);
}

TEST (Processor, SaturatingRowsFollowTheirFormula)
{
    struct Row
    {
        float gain, driveDb, bias, makeupDb;
    };

    const Row rows[] = {
        { 30.0f, 4.0f, 0.008f, -0.4f },
        { 40.0f, 9.0f, 0.02f, -1.2f },
        { 50.0f, 16.0f, 0.04f, -3.6f },
        { 60.0f, 22.0f, 0.075f, -10.2f },
        { 70.0f, 30.0f, 0.13f, -16.0f },
        { 80.0f, 38.0f, 0.18f, -22.0f },
    };

    const auto input = noise (2, 2000, 1.0f);
    const auto r = 1.0 - 43.982297150257104 / 44100.0;

    for (const auto& row : rows)
    {
        KORVELAudioProcessor p;
        prepare (p, 44100.0, 500);
        setReal (p, "gain", row.gain);
        setReal (p, "trim", -3.4f);
        const auto out = render (p, input, 500);
        const auto trim = std::pow (10.0f, p.parameters.getRawParameterValue ("trim")->load() * 0.05f);

        const float drive = std::pow (10.0f, row.driveDb * 0.05f);
        const double makeup = std::pow (10.0f, row.makeupDb * 0.05f);
        const float biasTerm = (float) (std::atan ((double) row.bias) * 0.6366197);

        for (int c = 0; c < 2; ++c)
        {
            double prevIn = 0.0, prevOut = 0.0;
            int mismatches = 0;

            for (int i = 0; i < input.getNumSamples(); ++i)
            {
                const float u = std::atan (input.getSample (c, i) * drive + row.bias);
                const float v = u * 0.6366197f - biasTerm;
                const double x = (double) v * 1.57 * makeup;
                const double y = prevOut * r + (x - prevIn);
                prevIn = x;
                prevOut = y;
                mismatches += out.getSample (c, i) != (float) y * trim;
            }

            EXPECT_EQ (mismatches, 0) << "gain " << row.gain << " channel " << c;
        }
    }
}

TEST (Processor, SilenceStaysSilentAtEverySaturatingRow)
{
    for (float gain : { 30.0f, 50.0f, 80.0f })
    {
        KORVELAudioProcessor p;
        prepare (p, 48000.0, 512);
        setReal (p, "gain", gain);
        juce::AudioBuffer<float> silence (2, 48000);
        silence.clear();
        const auto out = render (p, silence, 512);
        EXPECT_LT (out.getMagnitude (0, 48000), 1e-7f) << gain;
        EXPECT_LT (std::abs (out.getSample (0, 47999)), 1e-12f) << gain;
    }
}

TEST (Processor, TrimAndPhaseScaleAndInvertTheOutput)
{
    const auto input = noise (2, 1000, 0.7f);

    KORVELAudioProcessor plain;
    prepare (plain, 48000.0, 1000);
    setReal (plain, "gain", 50.0f);
    const auto reference = processOnce (plain, input);
    const auto referenceLevel = plain.outputLevel.load();
    EXPECT_NEAR (referenceLevel, rms (reference), 1e-6);

    struct Case
    {
        float trimDb, phase;
        double factor;
    };

    const Case cases[] = {
        { -48.0f, 0.0f, 0.0039810717 },
        { -48.0f, 1.0f, -0.0039810717 },
        { 0.0f, 1.0f, -1.0 },
        { 12.0f, 0.0f, 3.9810717 },
        { -3.4f, 1.0f, -0.6760830 },
    };

    for (const auto& c : cases)
    {
        KORVELAudioProcessor p;
        prepare (p, 48000.0, 1000);
        setReal (p, "gain", 50.0f);
        setReal (p, "trim", c.trimDb);
        setReal (p, "phase", c.phase);
        const auto out = processOnce (p, input);

        for (int i = 0; i < 1000; i += 7)
            ASSERT_NEAR (out.getSample (1, i), reference.getSample (1, i) * c.factor, 2e-6 * std::abs (c.factor))
                << c.trimDb << " dB, phase " << c.phase << ", sample " << i;

        EXPECT_NEAR (p.outputLevel.load(), referenceLevel * std::abs (c.factor), 1e-6 * std::abs (c.factor));
    }
}

TEST (Processor, UnknownSampleRateUsesFortyEightKilohertz)
{
    const auto input = sine (2, 4000, 20.0, 48000.0, 0.5f);

    KORVELAudioProcessor atZero, at48k;
    prepare (atZero, 0.0, 500);
    prepare (at48k, 48000.0, 500);
    EXPECT_TRUE (identical (render (atZero, input, 500), render (at48k, input, 500)));
}

TEST (Processor, HighPassCornerSitsAtSevenHertzAtEveryChoice)
{
    // At 7 Hz the DC blocker passes close to −3 dB; a coefficient computed for the
    // wrong rate would move the corner by an octave or two.
    const double rate = 48000.0;

    for (int choice = 0; choice < 3; ++choice)
    {
        const auto expected = highPassGain (7.0, rate * (1 << choice));

        KORVELAudioProcessor p;
        prepare (p, rate, 1024);
        setReal (p, "oversampling", (float) choice);
        const auto seconds = 4;
        const auto out = render (p, sine (1, (int) rate * seconds, 7.0, rate, 0.5f), 1024);

        // Measure whole periods after two seconds of settling.
        const auto measured = rms (out, (int) rate * 2) / (0.5 / std::sqrt (2.0)) / linearGain;
        EXPECT_NEAR (measured, expected, 0.003) << choiceNames[choice];
        EXPECT_NEAR (expected, std::sqrt (0.5), 0.01);
    }
}

//==============================================================================
TEST (Processor, LatencyFollowsTheChoice)
{
    KORVELAudioProcessor fresh;
    EXPECT_EQ (fresh.getLatencySamples(), 0);

    const int expected[] = { 0, 49, 59 };
    for (int choice = 0; choice < 3; ++choice)
    {
        KORVELAudioProcessor p;
        setReal (p, "oversampling", (float) choice);
        EXPECT_EQ (p.getLatencySamples(), expected[choice]) << choiceNames[choice]; // at once, before any prepare
        prepare (p, 44100.0, 256);
        EXPECT_EQ (p.getLatencySamples(), expected[choice]) << choiceNames[choice];
        EXPECT_EQ (p.getTailLengthSeconds(), 0.0);
    }
}

TEST (Processor, EachRealChangeOfTheChoiceNotifiesOnce)
{
    KORVELAudioProcessor p;
    prepare (p, 48000.0, 256);
    LatencyCounter counter;
    p.addListener (&counter);

    struct Step
    {
        const char* id;
        float value;
        int latency, notifications;
    };

    const Step steps[] = {
        { "oversampling", 1.0f, 49, 1 },
        { "oversampling", 2.0f, 59, 2 },
        { "oversampling", 2.0f, 59, 2 }, // the same choice again
        { "gain", 70.0f, 59, 2 },
        { "trim", -6.0f, 59, 2 },
        { "phase", 1.0f, 59, 2 },
        { "power", 0.0f, 59, 2 }, // latency does not depend on power
        { "oversampling", 0.0f, 0, 3 },
    };

    for (const auto& s : steps)
    {
        setReal (p, s.id, s.value);
        EXPECT_EQ (p.getLatencySamples(), s.latency) << s.id << " " << s.value;
        EXPECT_EQ (counter.changes, s.notifications) << s.id << " " << s.value;
    }

    p.removeListener (&counter);
}

TEST (Processor, MonoMeasuresTheSameLevelAtEveryChoice)
{
    const auto input = sine (1, 9600, 1000.0, 48000.0, 0.5f);
    float levels[3] {};

    for (int choice = 0; choice < 3; ++choice)
    {
        KORVELAudioProcessor p;
        prepare (p, 48000.0, 4800, 1);
        setReal (p, "oversampling", (float) choice);
        const auto out = render (p, input, 4800);
        levels[choice] = p.outputLevel.load();
        EXPECT_NEAR (levels[choice], rms (out, 4800), 0.01 * rms (out, 4800)) << choiceNames[choice];
    }

    for (int choice = 1; choice < 3; ++choice)
        EXPECT_NEAR (20.0 * std::log10 (levels[choice] / levels[0]), 0.0, 0.1) << choiceNames[choice];
}

TEST (Processor, OversampledBlocksHoldTwiceAndFourTimesTheSamples)
{
    // Every oversampled sample must pass the chain (a sample left out would escape the
    // −6 dB trim) and the level must divide by all of them (or it would read 3 or 6 dB high).
    const auto input = sine (2, 64 * 200, 3000.0, 48000.0, 0.5f);
    const auto trim = std::pow (10.0, -6.0 / 20.0);

    for (int choice = 1; choice < 3; ++choice)
    {
        KORVELAudioProcessor p;
        prepare (p, 48000.0, 64);
        setReal (p, "oversampling", (float) choice);
        setReal (p, "trim", -6.0f);
        const auto out = render (p, input, 64);
        EXPECT_NEAR (rms (out, 64 * 100) / (0.5 / std::sqrt (2.0)), linearGain * trim, 0.001) << choiceNames[choice];
        EXPECT_NEAR (p.outputLevel.load() / rms (out, 64 * 199), 1.0, 0.01) << choiceNames[choice];
    }
}

TEST (Processor, OverlongBlocksEqualTheHostsOwnPieces)
{
    const auto input = noise (2, 1000, 0.9f);

    for (int choice = 0; choice < 3; ++choice)
    {
        KORVELAudioProcessor whole, pieces;
        for (auto* p : { &whole, &pieces })
        {
            prepare (*p, 48000.0, 64);
            setReal (*p, "gain", 70.0f);
            setReal (*p, "oversampling", (float) choice);
        }

        EXPECT_TRUE (identical (render (whole, input, 1000), render (pieces, input, 64))) << choiceNames[choice];
        EXPECT_EQ (whole.outputLevel.load(), pieces.outputLevel.load());
    }
}

TEST (Processor, RandomBlockSizesGiveBitIdenticalOutput)
{
    const auto input = noise (2, 48000, 0.9f);

    for (int choice = 0; choice < 3; ++choice)
        for (float power : { 1.0f, 0.0f })
        {
            KORVELAudioProcessor fixed, random;
            for (auto* p : { &fixed, &random })
            {
                prepare (*p, 48000.0, 512);
                setReal (*p, "gain", 40.0f);
                setReal (*p, "power", power);
                setReal (*p, "oversampling", (float) choice);
            }

            std::mt19937 rng (7);
            std::uniform_int_distribution<int> size (1, 512);
            EXPECT_TRUE (identical (render (fixed, input, 512), renderWith (random, input, [&] { return size (rng); })))
                << choiceNames[choice] << " power " << power;
        }
}

TEST (Processor, NonFiniteInputNeverLeavesAndTheChannelRecovers)
{
    const auto rate = 48000.0;
    const auto clean = sine (2, 48000, 440.0, rate, 0.5f);

    struct Corruption
    {
        const char* name;
        std::function<void (juce::AudioBuffer<float>&)> apply;
    };

    const Corruption corruptions[] = {
        { "one NaN", [] (auto& b) { b.setSample (0, 1000, std::nanf ("")); } },
        { "+inf", [] (auto& b) { b.setSample (1, 1000, INFINITY); } },
        { "-inf", [] (auto& b) { b.setSample (0, 1000, -INFINITY); } },
        { "NaN burst on both channels", [] (auto& b) {
              for (int c = 0; c < 2; ++c)
                  for (int i = 1000; i < 1500; ++i)
                      b.setSample (c, i, std::nanf ("")); } },
        { "inf burst on one channel", [] (auto& b) {
              for (int i = 1000; i < 1300; ++i)
                  b.setSample (1, i, i % 2 ? INFINITY : -INFINITY); } },
    };

    for (float gain : { 20.0f, 80.0f })
        for (int choice = 0; choice < 3; ++choice)
        {
            KORVELAudioProcessor reference;
            prepare (reference, rate, 512);
            setReal (reference, "gain", gain);
            setReal (reference, "oversampling", (float) choice);
            const auto expected = render (reference, clean, 512);

            for (const auto& corruption : corruptions)
            {
                auto input = clean;
                corruption.apply (input);

                KORVELAudioProcessor p;
                prepare (p, rate, 512);
                setReal (p, "gain", gain);
                setReal (p, "oversampling", (float) choice);
                const auto out = render (p, input, 512);

                EXPECT_TRUE (allFinite (out)) << corruption.name << ", gain " << gain << ", " << choiceNames[choice];
                EXPECT_TRUE (std::isfinite (p.outputLevel.load()));

                // Half a second later the disturbance has decayed through the 7 Hz filter.
                float worst = 0.0f;
                for (int c = 0; c < 2; ++c)
                    for (int i = 24000; i < 48000; ++i)
                        worst = std::max (worst, std::abs (out.getSample (c, i) - expected.getSample (c, i)));
                EXPECT_LT (worst, 1e-5f) << corruption.name << ", gain " << gain << ", " << choiceNames[choice];
            }
        }
}

TEST (Processor, BeforePrepareOversamplingPassesTheInputWithLevelZero)
{
    for (int choice = 1; choice < 3; ++choice)
    {
        KORVELAudioProcessor p;
        setReal (p, "oversampling", (float) choice);
        const auto input = noise (2, 256, 0.5f);
        EXPECT_TRUE (identical (processOnce (p, input), input));
        EXPECT_EQ (p.outputLevel.load(), 0.0f);
    }
}

TEST (Processor, ExtraChannelsPassThroughUntouched)
{
    // A host that ignores the refused layout: the chain serves the first two channels only.
    for (int choice = 0; choice < 3; ++choice)
    {
        KORVELAudioProcessor six, two;
        prepare (six, 48000.0, 256);
        prepare (two, 48000.0, 256);
        for (auto* p : { &six, &two })
        {
            setReal (*p, "gain", 50.0f);
            setReal (*p, "oversampling", (float) choice);
        }

        const auto input = noise (6, 256, 0.5f);
        const auto out = processOnce (six, input);
        juce::AudioBuffer<float> firstTwo (2, 256);
        for (int c = 0; c < 2; ++c)
            firstTwo.copyFrom (c, 0, input, c, 0, 256);
        const auto expected = processOnce (two, firstTwo);

        for (int c = 0; c < 6; ++c)
        {
            const auto& want = c < 2 ? expected : input;
            EXPECT_EQ (std::memcmp (out.getReadPointer (c), want.getReadPointer (c), 256 * sizeof (float)), 0)
                << "channel " << c << ", " << choiceNames[choice];
        }
    }
}
