#pragma once

#include <algorithm>
#include <array>
#include <cstring>

namespace korvel
{
// The last few input samples of each channel, so that a bypass at 2x or 4x can hand
// the input back delayed by the reported latency: the track then stays aligned with
// the host's delay compensation. Fixed storage: nothing to allocate on the audio thread.
class BypassDelay
{
public:
    static constexpr int maxChannels = 2;
    static constexpr int capacity = 64; // a power of two above the largest latency (59)

    void reset() noexcept
    {
        for (auto& h : history)
            h.fill (0.0f);
        writePos = 0;
    }

    // Records a block of input without changing it.
    void push (const float* const* channels, int numChannels, int numSamples) noexcept
    {
        const auto first = std::max (0, numSamples - capacity);

        for (int c = 0; c < std::min (numChannels, maxChannels); ++c)
            for (int i = first; i < numSamples; ++i)
                history[(size_t) c][(size_t) ((writePos + i) & mask)] = channels[c][i];

        advance (numSamples);
    }

    // Replaces a block with the input of `delay` samples ago, recording the new input.
    void process (float* const* channels, int numChannels, int numSamples, int delay) noexcept
    {
        if (delay <= 0 || delay >= capacity)
        {
            push (channels, numChannels, numSamples);
            return;
        }

        const auto first = std::max (0, numSamples - capacity);

        for (int c = 0; c < std::min (numChannels, maxChannels); ++c)
        {
            auto& h = history[(size_t) c];
            auto* x = channels[c];
            // What comes out first is already in the history; the rest is this block, shifted.
            std::array<float, capacity> head;
            const auto fromHistory = std::min (delay, numSamples);

            for (int i = 0; i < fromHistory; ++i)
                head[(size_t) i] = h[(size_t) ((writePos + i - delay) & mask)];

            for (int i = first; i < numSamples; ++i)
                h[(size_t) ((writePos + i) & mask)] = x[i];

            if (numSamples > delay)
                std::memmove (x + delay, x, sizeof (float) * (size_t) (numSamples - delay));

            std::copy (head.begin(), head.begin() + fromHistory, x);
        }

        advance (numSamples);
    }

private:
    static constexpr int mask = capacity - 1;

    void advance (int numSamples) noexcept { writePos = (writePos + numSamples) & mask; }

    std::array<std::array<float, capacity>, maxChannels> history {};
    int writePos = 0;
};

} // namespace korvel
