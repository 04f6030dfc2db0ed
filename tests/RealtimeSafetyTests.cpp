// The audio thread's promise: processBlock never allocates, frees or takes a lock, whatever
// the host does between blocks. An allocator and mutex hook counts on the calling thread
// while processBlock runs, and only then.
#include "AllocationCounter.h"
#include "PluginProcessor.h"
#include "ProcessorTestHelpers.h"

#include <gtest/gtest.h>

#include <random>

namespace
{
using korvel::testing::Counts;
using korvel::testing::prepare;
using korvel::testing::ScopedCounter;
using korvel::testing::setReal;

// Processes one block and returns what processBlock did with the heap and locks.
Counts countedBlock (KORVELAudioProcessor& p, juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    ScopedCounter counter;
    p.processBlock (buffer, midi);
    return counter.counts();
}

} // namespace

TEST (RealtimeSafety, TheCounterSeesAllocationsAndLocks)
{
    // The hook itself must work, or a zero below would prove nothing.
    ScopedCounter counter;
    void* volatile raw = std::malloc (64); // volatile: the compiler may not drop the pair
    std::free (raw);
    auto* volatile boxed = new std::string (100, 'x');
    delete boxed;
    std::mutex m;
    m.lock();
    m.unlock();
    juce::CriticalSection cs;
    {
        const juce::ScopedLock lock (cs);
    }
    const auto c = counter.counts();
    EXPECT_GE (c.allocations, 3u);
    EXPECT_GE (c.frees, 3u);
    EXPECT_GE (c.locks, 2u);
}

TEST (RealtimeSafety, ProcessBlockNeverAllocatesOrLocks)
{
    std::mt19937 rng (5);
    std::uniform_real_distribution<float> signal (-1.0f, 1.0f);
    juce::MidiBuffer midi;
    int blocks = 0;

    for (double rate : { 22050.0, 44100.0, 48000.0, 96000.0, 192000.0 })
        for (int channels : { 1, 2 })
        {
            const int maxBlock = 256;
            KORVELAudioProcessor p;
            prepare (p, rate, maxBlock, channels);

            // Every setting a host may move between blocks, including the oversampling choice.
            struct Setting
            {
                const char* id;
                float value;
            };
            const Setting settings[] = {
                { "gain", 10 },
                { "gain", 20 },
                { "gain", 30 },
                { "gain", 40 },
                { "gain", 50 },
                { "gain", 60 },
                { "gain", 70 },
                { "gain", 80 },
                { "trim", -48 },
                { "trim", 12 },
                { "phase", 1 },
                { "power", 0 },
                { "oversampling", 1 },
                { "power", 1 },
                { "oversampling", 2 },
                { "phase", 0 },
                { "gain", 10 },
                { "oversampling", 0 },
                { "power", 0 },
                { "gain", 50 },
                { "oversampling", 2 },
                { "trim", 0 },
            };

            for (const auto& s : settings)
            {
                setReal (p, s.id, s.value);

                // Block sizes from one sample to the prepared maximum, and longer than it.
                for (int block : { 1, 2, 31, 64, maxBlock - 1, maxBlock, maxBlock + 1, 3 * maxBlock + 17 })
                {
                    juce::AudioBuffer<float> buffer (channels, block);
                    for (int c = 0; c < channels; ++c)
                        for (int i = 0; i < block; ++i)
                            buffer.setSample (c, i, signal (rng));

                    const auto counts = countedBlock (p, buffer, midi);
                    ++blocks;
                    ASSERT_EQ (counts.allocations, 0u) << s.id << "=" << s.value << ", " << block << " samples, " << channels << " channels, " << rate << " Hz";
                    ASSERT_EQ (counts.frees, 0u) << s.id << "=" << s.value << ", " << block << " samples";
                    ASSERT_EQ (counts.locks, 0u) << s.id << "=" << s.value << ", " << block << " samples";
                }
            }
        }

    std::cout << blocks << " blocks processed without an allocation, a free or a lock\n";
}
