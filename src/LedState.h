#pragma once

#include <cmath>

namespace korvel
{
// The LED state for a linear RMS level: 0 unlit, 1 green above −40 dB, 2 orange above
// −12 dB, 3 red above −3 dB. Silence, negative levels and NaN leave it unlit.
inline int ledStateFor (float level) noexcept
{
    if (! (level > 0.0f))
        return 0;

    const auto db = 20.0f * std::log10 (level);
    return db > -3.0f ? 3 : db > -12.0f ? 2
                        : db > -40.0f   ? 1
                                        : 0;
}

inline const char* ledColourName (int state) noexcept
{
    static const char* const names[] = { "unlit", "green", "orange", "red" };
    return state >= 0 && state < 4 ? names[state] : "unlit";
}
} // namespace korvel
