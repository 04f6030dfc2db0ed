#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

// The per-sample maths of the preamp chain, kept apart from the processor's wiring
// so that tests and benchmarks can reach it directly. Single and double precision
// are used exactly where the sound depends on them: do not "simplify" the casts.
namespace korvel
{
// 2π × 7 Hz: the DC blocker's corner, as a one-pole coefficient numerator.
constexpr double dcCornerOmega = 43.982297150257104;
// Rate used for the coefficient when the host has not told us its rate.
constexpr double fallbackSampleRate = 48000.0;
// 2/π: brings the arctangent back to ±1; also the linear path's input scale.
constexpr float shaperScale = 0.6366197f;
constexpr double shaperScaleDouble = 0.6366197;
// Gain after the shaper, before the per-position make-up.
constexpr double shaperOutputGain = 1.57;

constexpr float muteBelowGain = 20.0f;
constexpr int linearPosition = 20;

enum class Path
{
    mute,
    linear,
    saturating
};

struct GainRow
{
    float driveDb, bias, makeupDb;
};

// Which path a raw gain value takes: mute is tested on the raw value, the path on its integer part.
inline Path pathForGain (float rawGain) noexcept
{
    if (rawGain < muteBelowGain)
        return Path::mute;

    return (int) rawGain > linearPosition ? Path::saturating : Path::linear;
}

// Drive, bias and make-up of a gain position (the integer part of the raw gain).
inline GainRow rowForPosition (int position) noexcept
{
    switch (position)
    {
        case 30: return { 4.0f, 0.008f, -0.4f };
        case 40: return { 9.0f, 0.02f, -1.2f };
        case 50: return { 16.0f, 0.04f, -3.6f };
        case 60: return { 22.0f, 0.075f, -10.2f };
        case 70: return { 30.0f, 0.13f, -16.0f };
        case 80: return { 38.0f, 0.18f, -22.0f };
        default: return { 0.0f, 0.0f, 0.0f };
    }
}

// The framework's conversion: 10^(dB × 0.05) in single precision, 0 at −100 dB and below.
inline float dbToGain (float db) noexcept
{
    return juce::Decibels::decibelsToGain (db);
}

// Oversampling index 1 runs the chain at twice the rate, 2 at four times.
inline double effectiveRate (double sampleRate, int oversamplingIndex) noexcept
{
    auto fs = sampleRate > 0.0 ? sampleRate : fallbackSampleRate;

    if (oversamplingIndex == 1)
        return fs * 2.0;
    if (oversamplingIndex == 2)
        return fs * 4.0;
    return fs;
}

inline double highPassCoefficient (double sampleRate, int oversamplingIndex) noexcept
{
    return 1.0 - dcCornerOmega / effectiveRate (sampleRate, oversamplingIndex);
}

// What the shaper subtracts so that silence stays silence despite the bias.
inline float biasTerm (float bias) noexcept
{
    return (float) (std::atan ((double) bias) * shaperScaleDouble);
}

// Everything the chain needs for one block, computed once per block.
struct BlockValues
{
    bool saturating = false;
    float drive = 1.0f;
    float bias = 0.0f;
    float biasTerm = 0.0f;
    double makeup = 1.0;
    float trimMultiplier = 1.0f;
    double r = 0.0;
};

inline BlockValues makeBlockValues (float rawGain, float rawTrim, float rawPhase,
                                    double sampleRate, int oversamplingIndex) noexcept
{
    const auto position = (int) rawGain;
    const auto row = rowForPosition (position);

    BlockValues v;
    v.saturating = position > linearPosition;
    v.drive = dbToGain (row.driveDb);
    v.bias = row.bias;
    v.biasTerm = biasTerm (row.bias);
    v.makeup = (double) dbToGain (row.makeupDb);

    const auto trimGain = dbToGain (rawTrim);
    v.trimMultiplier = rawPhase == 0.0f ? trimGain : -trimGain;
    v.r = highPassCoefficient (sampleRate, oversamplingIndex);
    return v;
}

// Recomputes the block values only when something they depend on has changed: parameters
// rarely move, and the powers of ten and the arctangent are the block's fixed cost.
class BlockValuesCache
{
public:
    const BlockValues& get (float rawGain, float rawTrim, float rawPhase, double sampleRate, int oversamplingIndex) noexcept
    {
        if (! (rawGain == gain && rawTrim == trim && rawPhase == phase && sampleRate == rate && oversamplingIndex == index))
        {
            values = makeBlockValues (rawGain, rawTrim, rawPhase, sampleRate, oversamplingIndex);
            gain = rawGain;
            trim = rawTrim;
            phase = rawPhase;
            rate = sampleRate;
            index = oversamplingIndex;
        }
        return values;
    }

private:
    BlockValues values;
    float gain = std::numeric_limits<float>::quiet_NaN(), trim = 0.0f, phase = 0.0f;
    double rate = 0.0;
    int index = -1;
};

// The shaped value x that enters the high-pass.
inline double shapeSaturating (float s, const BlockValues& v) noexcept
{
    const float u = std::atan (s * v.drive + v.bias);
    const float shaped = u * shaperScale - v.biasTerm;
    return (double) shaped * shaperOutputGain * v.makeup;
}

inline double shapeLinear (float s, const BlockValues& v) noexcept
{
    const float shaped = s * shaperScale;
    return (double) shaped * shaperOutputGain * v.makeup;
}

// One-pole, one-zero DC blocker plus trim. A non-finite shaped value is taken as
// silence so that one bad sample cannot poison the filter memory for good; `guarded`
// false skips that test where the caller knows every shaped value is finite.
template <bool guarded = true>
inline float highPassAndTrim (double x, const BlockValues& v, double& prevIn, double& prevOut) noexcept
{
    if (guarded && ! std::isfinite (x))
        x = 0.0;

    const double y = prevOut * v.r + (x - prevIn);
    prevIn = x;
    prevOut = y;
    return (float) y * v.trimMultiplier;
}

// Finite samples give finite shaped values on both paths (an arctangent of ±inf is ±π/2),
// so a block without NaN or infinity needs no guard. The test runs over the whole block
// in a loop the compiler vectorises, far cheaper than a test per sample in the chain.
inline bool allFinite (const float* samples, int numSamples) noexcept
{
    std::uint32_t special = 0;

    for (int i = 0; i < numSamples; ++i)
    {
        std::uint32_t bits;
        std::memcpy (&bits, samples + i, sizeof (bits));
        special |= (bits & 0x7f800000u) == 0x7f800000u ? 1u : 0u;
    }

    return special == 0;
}

// Runs the chain over one channel in place and returns the running sum of squares,
// continued from sumOfSquares (the level sums across channels in order).
template <bool saturating, bool guarded>
inline float processChannel (float* samples, int numSamples, const BlockValues& values,
                             double& prevIn, double& prevOut, float sumOfSquares) noexcept
{
    // Local copies: the compiler cannot know that writing the samples leaves them alone.
    const auto v = values;
    auto in = prevIn, out = prevOut;

    for (int i = 0; i < numSamples; ++i)
    {
        const auto x = saturating ? shapeSaturating (samples[i], v) : shapeLinear (samples[i], v);
        const auto result = highPassAndTrim<guarded> (x, v, in, out);
        samples[i] = result;
        sumOfSquares += result * result;
    }

    prevIn = in;
    prevOut = out;
    return sumOfSquares;
}

// Picks the loop for the path. The saturating loop, whose arctangent call makes every test
// count, drops the non-finite guard when the samples do not need it; the linear loop waits
// on the filter's feedback anyway, so its guard costs less than a pass over the block.
inline float processChannel (float* samples, int numSamples, const BlockValues& v,
                             double& prevIn, double& prevOut, float sumOfSquares) noexcept
{
    if (! v.saturating)
        return processChannel<false, true> (samples, numSamples, v, prevIn, prevOut, sumOfSquares);

    return allFinite (samples, numSamples) ? processChannel<true, false> (samples, numSamples, v, prevIn, prevOut, sumOfSquares)
                                           : processChannel<true, true> (samples, numSamples, v, prevIn, prevOut, sumOfSquares);
}

// RMS from a sum of squares over numChannels × numSamples values; 0 for an empty block.
inline float levelFromSum (float sumOfSquares, int numChannels, int numSamples) noexcept
{
    return std::sqrt (sumOfSquares / (float) std::max (1, numChannels * numSamples));
}

inline float sumOfSquares (const float* samples, int numSamples, float sum) noexcept
{
    for (int i = 0; i < numSamples; ++i)
        sum += samples[i] * samples[i];
    return sum;
}

} // namespace korvel
