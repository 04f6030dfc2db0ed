// The processor's cost beside its floor (the irreducible work, measured in the same run),
// the editor's paint and open/close cost, and the heap an instance holds.
#include "AllocationCounter.h"
#include "PluginEditor.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <iomanip>
#include <iostream>
#include <map>
#include <random>

namespace
{
constexpr double rate = 48000.0;
const char* const modeNames[] = { "mute", "bypass", "linear", "saturating" };
const char* const choiceNames[] = { "Off", "2x", "4x" };

juce::AudioBuffer<float> noise (int channels, int samples)
{
    std::mt19937 rng (1);
    std::uniform_real_distribution<float> d (-0.5f, 0.5f);
    juce::AudioBuffer<float> b (channels, samples);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < samples; ++i)
            b.setSample (c, i, d (rng));
    return b;
}

void setReal (KORVELAudioProcessor& p, const char* id, float value)
{
    auto* param = p.parameters.getParameter (id);
    param->setValueNotifyingHost (param->convertTo0to1 (value));
}

// Arguments: mode, choice, channels, block size.
void processor (benchmark::State& state)
{
    const auto mode = (int) state.range (0), choice = (int) state.range (1);
    const auto channels = (int) state.range (2), block = (int) state.range (3);

    KORVELAudioProcessor p;
    juce::AudioProcessor::BusesLayout layout;
    const auto set = channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
    layout.inputBuses.add (set);
    layout.outputBuses.add (set);
    p.setBusesLayout (layout);
    p.setRateAndBufferSizeDetails (rate, block);
    p.prepareToPlay (rate, block);
    setReal (p, "gain", mode == 0 ? 10.0f : mode == 3 ? 60.0f
                                                      : 20.0f);
    setReal (p, "power", mode == 1 ? 0.0f : 1.0f);
    setReal (p, "oversampling", (float) choice);

    const auto input = noise (channels, block);
    juce::AudioBuffer<float> buffer (channels, block);
    juce::MidiBuffer midi;

    // Both this and the floor copy the same input in at every iteration.
    for (auto _ : state)
    {
        for (int c = 0; c < channels; ++c)
            buffer.copyFrom (c, 0, input, c, 0, block);
        p.processBlock (buffer, midi);
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
    }
    state.SetItemsProcessed (state.iterations() * block);
}

// Normal audio, a signal at −300 dB, and the decaying tail after a loud block, through the same
// processor: subnormal numbers must not make the quiet ones any slower.
// Arguments: signal (0 normal, 1 at −300 dB, 2 tail), mode (2 linear, 3 saturating), choice.
void quietSignals (benchmark::State& state)
{
    const auto signal = (int) state.range (0), mode = (int) state.range (1), choice = (int) state.range (2);
    KORVELAudioProcessor p;
    p.setRateAndBufferSizeDetails (rate, 512);
    p.prepareToPlay (rate, 512);
    setReal (p, "gain", mode == 3 ? 60.0f : 20.0f);
    setReal (p, "oversampling", (float) choice);

    auto input = noise (2, 512);
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    if (signal == 1)
        input.applyGain (1.0e-15f / 0.5f);
    if (signal == 2)
    {
        buffer.makeCopyOf (input);
        p.processBlock (buffer, midi); // then only the tail
        input.clear();
    }

    for (auto _ : state)
    {
        for (int c = 0; c < 2; ++c)
            buffer.copyFrom (c, 0, input, c, 0, 512);
        p.processBlock (buffer, midi);
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
    }
}

// The work no implementation can avoid. Processing: the arctangent (saturating only), the
// one-pole high-pass and the sum of squares for the level on every sample at the chain's rate, plus, at 2x and 4x, JUCE's
// oversampling filters up and down. Mute: clearing. Bypass: measuring the input (and at 2x/4x
// copying it, since the delayed output moves every sample).
void floorOf (benchmark::State& state)
{
    const auto mode = (int) state.range (0), choice = (int) state.range (1);
    const auto channels = (int) state.range (2), block = (int) state.range (3);
    const auto factor = 1 << choice;

    std::unique_ptr<juce::dsp::Oversampling<float>> os;
    if (choice > 0 && mode >= 2)
    {
        os = std::make_unique<juce::dsp::Oversampling<float>> (2, (size_t) choice, juce::dsp::Oversampling<float>::filterHalfBandFIREquiripple, true, false);
        os->initProcessing ((size_t) block);
    }

    // The arctangent sees what the chain's sees at gain 60: the input times the drive, plus the bias.
    auto input = noise (channels, block);
    if (mode == 3)
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < block; ++i)
                input.setSample (c, i, input.getSample (c, i) * 12.589254f + 0.075f);
    juce::AudioBuffer<float> buffer (channels, block);
    std::vector<float> delay ((size_t) (block + 64) * 2);
    double prevIn[2] {}, prevOut[2] {};
    const double r = 1.0 - 43.982297150257104 / (rate * factor);
    juce::ScopedNoDenormals noDenormals;

    for (auto _ : state)
    {
        for (int c = 0; c < channels; ++c)
            buffer.copyFrom (c, 0, input, c, 0, block);

        if (mode == 0)
        {
            buffer.clear();
        }
        else if (mode == 1)
        {
            float sum = 0.0f;
            for (int c = 0; c < channels; ++c)
            {
                const auto* x = buffer.getReadPointer (c);
                for (int i = 0; i < block; ++i)
                    sum += x[i] * x[i];
                if (choice > 0) // the delayed input: every sample moves
                    std::memcpy (delay.data() + (size_t) c * (size_t) (block + 64), x, sizeof (float) * (size_t) block);
            }
            benchmark::DoNotOptimize (sum);
        }
        else
        {
            juce::dsp::AudioBlock<float> host (buffer);
            auto chain = os != nullptr ? os->processSamplesUp (host) : host;
            float sum = 0.0f; // the published level is part of the chain's work
            for (size_t c = 0; c < (size_t) channels; ++c)
            {
                auto* x = chain.getChannelPointer (c);
                auto in = prevIn[c], out = prevOut[c];
                for (size_t i = 0; i < chain.getNumSamples(); ++i)
                {
                    const double shaped = mode == 3 ? (double) std::atan (x[i]) : (double) x[i];
                    const double y = out * r + (shaped - in);
                    in = shaped;
                    out = y;
                    x[i] = (float) y;
                    sum += x[i] * x[i];
                }
                prevIn[c] = in;
                prevOut[c] = out;
            }
            benchmark::DoNotOptimize (sum);
            if (os != nullptr)
                os->processSamplesDown (host);
        }
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
    }
    state.SetItemsProcessed (state.iterations() * block);
}

// Each processor figure runs right beside its floor, three times, so that the machine's
// changing load touches both alike; the medians are compared.
void registerProcessingBenchmarks()
{
    for (int mode : { 2, 3 })
        for (int choice = 0; choice < 3; ++choice)
            for (int signal = 0; signal < 3; ++signal)
                benchmark::RegisterBenchmark ("quietSignals", quietSignals)->Args ({ signal, mode, choice })->MinTime (0.03)->Repetitions (3);

    for (int mode = 0; mode < 4; ++mode)
        for (int choice = 0; choice < 3; ++choice)
            for (int channels : { 2, 1 })
                for (int block : { 32, 64, 512 })
                    for (auto [name, function] : { std::pair { "processor", &processor }, std::pair { "floorOf", &floorOf } })
                        benchmark::RegisterBenchmark (name, function)->Args ({ mode, choice, channels, block })->MinTime (0.03)->Repetitions (3);
}

void editorRepaint (benchmark::State& state)
{
    KORVELAudioProcessor p;
    std::unique_ptr<juce::AudioProcessorEditor> editor (p.createEditor());
    editor->setSize ((int) state.range (0), (int) state.range (1));
    juce::Image image (juce::Image::ARGB, editor->getWidth(), editor->getHeight(), true);

    for (auto _ : state)
    {
        juce::Graphics g (image);
        editor->paintEntireComponent (g, true);
    }
}

void editorOpenClose (benchmark::State& state)
{
    KORVELAudioProcessor p;
    for (auto _ : state)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (p.createEditor());
        benchmark::DoNotOptimize (editor.get());
    }
}

// Keeps every result so the ratios can be printed once all have run.
class Collector : public benchmark::ConsoleReporter
{
public:
    void ReportRuns (const std::vector<Run>& runs) override
    {
        for (const auto& run : runs)
            if (! run.error_occurred && (run.run_type != Run::RT_Aggregate || run.aggregate_name == "median"))
            {
                const auto name = run.run_name.str();
                nanoseconds[name.substr (0, name.find ("/min_time"))] = run.GetAdjustedRealTime() * 1.0e9 / benchmark::GetTimeUnitMultiplier (run.time_unit);
            }
        ConsoleReporter::ReportRuns (runs);
    }

    std::map<std::string, double> nanoseconds; // per iteration
};

std::string argsName (const char* function, int mode, int choice, int channels, int block)
{
    return std::string (function) + "/" + std::to_string (mode) + "/" + std::to_string (choice) + "/" + std::to_string (channels) + "/" + std::to_string (block);
}

void printRatios (const Collector& results)
{
    std::cout << "\nprocessBlock against its floor, ns per host frame (48 kHz):\n"
              << std::left << std::setw (12) << "setting" << std::setw (6) << "os" << std::setw (5) << "ch" << std::setw (7) << "block"
              << std::right << std::setw (11) << "processor" << std::setw (9) << "floor" << std::setw (8) << "ratio"
              << "\n";

    for (int mode = 0; mode < 4; ++mode)
        for (int choice = 0; choice < 3; ++choice)
            for (int channels : { 2, 1 })
                for (int block : { 32, 64, 512 })
                {
                    const auto p = results.nanoseconds.find (argsName ("processor", mode, choice, channels, block));
                    const auto f = results.nanoseconds.find (argsName ("floorOf", mode, choice, channels, block));
                    if (p == results.nanoseconds.end() || f == results.nanoseconds.end())
                        continue;
                    std::cout << std::left << std::setw (12) << modeNames[mode] << std::setw (6) << choiceNames[choice] << std::setw (5) << channels << std::setw (7) << block
                              << std::right << std::fixed << std::setprecision (2) << std::setw (11) << p->second / block << std::setw (9) << f->second / block
                              << std::setw (8) << p->second / f->second << "\n";
                }

    std::cout << "\nquiet signals against normal audio, stereo, block 512 (time per block, ratio to normal):\n";
    for (int mode : { 2, 3 })
        for (int choice = 0; choice < 3; ++choice)
        {
            const auto normal = results.nanoseconds.find ("quietSignals/0/" + std::to_string (mode) + "/" + std::to_string (choice));
            if (normal == results.nanoseconds.end())
                continue;
            std::cout << std::left << std::setw (12) << modeNames[mode] << std::setw (6) << choiceNames[choice] << std::right;
            for (int signal : { 1, 2 })
                if (auto it = results.nanoseconds.find ("quietSignals/" + std::to_string (signal) + "/" + std::to_string (mode) + "/" + std::to_string (choice)); it != results.nanoseconds.end())
                    std::cout << (signal == 1 ? "  -300 dB: " : "  tail: ") << std::setprecision (2) << it->second / normal->second;
            std::cout << "\n";
        }

    const auto period = 33.0e6; // the editor's timer, in ns
    for (const auto& [name, label] : { std::pair { "editorRepaint/1392/245", "whole-window repaint at 1392 x 245" },
                                       std::pair { "editorRepaint/2088/367", "whole-window repaint at 2088 x 367" } })
        if (auto it = results.nanoseconds.find (name); it != results.nanoseconds.end())
            std::cout << label << ": " << std::setprecision (3) << it->second / 1.0e6 << " ms, " << it->second / period << " of the 33 ms timer period\n";
    if (auto it = results.nanoseconds.find ("editorOpenClose"); it != results.nanoseconds.end())
        std::cout << "opening and closing the editor: " << it->second / 1.0e6 << " ms\n";
}

void printMemory()
{
    std::cout << "\nheap held by one instance (counted by an allocator hook):\n";
    delete new KORVELAudioProcessor(); // the framework's one-off allocations first

    for (const auto& [sampleRate, block] : { std::pair { 48000.0, 512 }, std::pair { 192000.0, 4096 } })
    {
        const auto before = korvel::testing::liveHeapBytes();
        auto p = std::make_unique<KORVELAudioProcessor>();
        const auto constructed = korvel::testing::liveHeapBytes();
        p->setRateAndBufferSizeDetails (sampleRate, block);
        p->prepareToPlay (sampleRate, block);
        const auto prepared = korvel::testing::liveHeapBytes();
        std::cout << "after prepareToPlay (" << (int) sampleRate << ", " << block << "): " << (prepared - before)
                  << " bytes (" << (constructed - before) << " after construction)\n";
    }
}
} // namespace

BENCHMARK (editorRepaint)->Args ({ 1392, 245 })->Args ({ 2088, 367 })->Unit (benchmark::kMillisecond)->MinTime (0.5);
BENCHMARK (editorOpenClose)->Unit (benchmark::kMillisecond)->MinTime (0.5);

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    registerProcessingBenchmarks();
    benchmark::Initialize (&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks (&collector);
    printRatios (collector);
    printMemory();
    benchmark::Shutdown();
    return 0;
}
