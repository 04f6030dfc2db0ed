// The soak: renders a long stretch of audio offline with random automation of all five
// parameters at every block and random block sizes, checking every block.
//   KorvelSoak [SECONDS_OF_AUDIO] [SEED]      (default 1800 seconds, seed 1)
#include "PluginProcessor.h"

#include <cmath>
#include <iostream>
#include <random>

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    const double seconds = argc > 1 ? std::atof (argv[1]) : 1800.0;
    const unsigned seed = argc > 2 ? (unsigned) std::atoi (argv[2]) : 1u;
    const double rate = 48000.0;
    const int prepared = 512;

    KORVELAudioProcessor p;
    p.setRateAndBufferSizeDetails (rate, prepared);
    p.prepareToPlay (rate, prepared);

    std::mt19937 rng (seed);
    std::uniform_real_distribution<float> unit (0.0f, 1.0f);
    std::uniform_int_distribution<int> blockSize (1, 2 * prepared); // longer than prepared too
    const char* const ids[] = { "gain", "trim", "phase", "power", "oversampling" };

    juce::AudioBuffer<float> buffer (2, 2 * prepared);
    juce::MidiBuffer midi;
    const auto total = (juce::int64) (seconds * rate);
    juce::int64 done = 0, blocks = 0;
    double phase = 0.0;
    float loudest = 0.0f;
    const auto started = juce::Time::getMillisecondCounterHiRes();

    while (done < total)
    {
        for (const char* id : ids)
            p.parameters.getParameter (id)->setValueNotifyingHost (unit (rng));

        const auto n = (int) std::min<juce::int64> (blockSize (rng), total - done);
        juce::AudioBuffer<float> block (buffer.getArrayOfWritePointers(), 2, 0, n);
        // A full-scale mix of a sweep-like tone and noise.
        for (int i = 0; i < n; ++i, phase += 0.05 + 0.04 * std::sin (phase * 1.0e-5))
            for (int c = 0; c < 2; ++c)
                block.setSample (c, i, 0.7f * (float) std::sin (phase + c) + 0.3f * (2.0f * unit (rng) - 1.0f));

        p.processBlock (block, midi);

        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
            {
                const auto v = block.getSample (c, i);
                if (! std::isfinite (v) || std::abs (v) > 64.0f)
                {
                    std::cerr << "soak: sample " << v << " at block " << blocks << ", channel " << c << ", index " << i << "\n";
                    return 1;
                }
                loudest = std::max (loudest, std::abs (v));
            }

        if (! std::isfinite (p.outputLevel.load()))
        {
            std::cerr << "soak: level " << p.outputLevel.load() << " at block " << blocks << "\n";
            return 1;
        }

        done += n;
        ++blocks;
    }

    const auto wall = (juce::Time::getMillisecondCounterHiRes() - started) / 1000.0;
    std::cout << "soak: " << seconds << " s of audio in " << blocks << " blocks (" << wall << " s of wall time), every block finite, "
              << "loudest sample " << loudest << " (" << 20.0 * std::log10 (loudest) << " dBFS)\n";
    return 0;
}
