#include "PreampMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace korvel;

TEST (PreampMath, PathFollowsRawGain)
{
    struct Case
    {
        float rawGain;
        Path expected;
    };

    const Case cases[] = {
        { 10.0f, Path::mute },
        { 19.99f, Path::mute },
        { 20.0f, Path::linear },
        { 20.9f, Path::linear },
        { 21.0f, Path::saturating },
        { 30.0f, Path::saturating },
        { 80.0f, Path::saturating },
    };

    for (const auto& c : cases)
        EXPECT_EQ (pathForGain (c.rawGain), c.expected) << c.rawGain;
}

TEST (PreampMath, BlockValuesOfEachPosition)
{
    // Linear gains worked out by hand from the dB figures (10^(dB/20)).
    struct Case
    {
        float gain;
        double drive, bias, makeup;
    };

    const Case cases[] = {
        { 20.0f, 1.0, 0.0, 1.0 },
        { 30.0f, 1.5848932, 0.008, 0.9549926 },
        { 40.0f, 2.8183829, 0.02, 0.8709636 },
        { 50.0f, 6.3095734, 0.04, 0.6606934 },
        { 60.0f, 12.589254, 0.075, 0.3090295 },
        { 70.0f, 31.622777, 0.13, 0.1584893 },
        { 80.0f, 79.432823, 0.18, 0.0794328 },
        { 35.0f, 1.0, 0.0, 1.0 }, // a value between positions saturates without drive or make-up
    };

    for (const auto& c : cases)
    {
        const auto v = makeBlockValues (c.gain, 0.0f, 0.0f, 48000.0, 0);
        EXPECT_EQ (v.saturating, c.gain > 20.0f) << c.gain;
        EXPECT_NEAR (v.drive, c.drive, c.drive * 1e-6) << c.gain;
        EXPECT_FLOAT_EQ (v.bias, (float) c.bias) << c.gain;
        EXPECT_NEAR (v.makeup, c.makeup, 1e-6) << c.gain;
        EXPECT_NEAR (v.biasTerm, std::atan (c.bias) * 2.0 / 3.14159265358979, 1e-7) << c.gain;
    }
}

TEST (PreampMath, DecibelProductIsFormedInSinglePrecision)
{
    // −3.6 × 0.05 in single precision differs in the last bit from the decimal −0.18.
    EXPECT_EQ (dbToGain (-3.6f), std::pow (10.0f, -3.6f * 0.05f));
    EXPECT_EQ (dbToGain (9.0f), std::pow (10.0f, 9.0f * 0.05f));
    EXPECT_EQ (dbToGain (-100.0f), 0.0f);
}

TEST (PreampMath, TrimAndPhaseMakeOneSignedMultiplier)
{
    EXPECT_FLOAT_EQ (makeBlockValues (20.0f, 0.0f, 0.0f, 48000.0, 0).trimMultiplier, 1.0f);
    EXPECT_FLOAT_EQ (makeBlockValues (20.0f, 0.0f, 1.0f, 48000.0, 0).trimMultiplier, -1.0f);
    EXPECT_NEAR (makeBlockValues (20.0f, -48.0f, 0.0f, 48000.0, 0).trimMultiplier, 0.0039810717, 1e-9);
    EXPECT_NEAR (makeBlockValues (20.0f, 12.0f, 1.0f, 48000.0, 0).trimMultiplier, -3.9810717, 1e-6);
}

TEST (PreampMath, HighPassCoefficientFollowsTheChainRate)
{
    const auto twoPiSeven = 2.0 * 3.14159265358979323846 * 7.0;

    struct Case
    {
        double sampleRate;
        int oversamplingIndex;
        double chainRate;
    };

    const Case cases[] = {
        { 0.0, 0, 48000.0 }, // unknown rate: taken as 48 kHz
        { -1.0, 0, 48000.0 },
        { 48000.0, 0, 48000.0 },
        { 48000.0, 1, 96000.0 },
        { 48000.0, 2, 192000.0 },
        { 0.0, 2, 192000.0 },
        { 44100.0, 1, 88200.0 },
    };

    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ (highPassCoefficient (c.sampleRate, c.oversamplingIndex), 1.0 - twoPiSeven / c.chainRate)
            << c.sampleRate << " index " << c.oversamplingIndex;
}

TEST (PreampMath, NonFiniteShapedValueEntersTheFilterAsSilence)
{
    const auto v = makeBlockValues (20.0f, 0.0f, 0.0f, 48000.0, 0);

    for (double bad : { std::nan (""), (double) INFINITY, (double) -INFINITY })
    {
        double prevIn = 0.25, prevOut = 0.5;
        const auto out = highPassAndTrim (bad, v, prevIn, prevOut);
        EXPECT_TRUE (std::isfinite (out));
        EXPECT_EQ (prevIn, 0.0);
        EXPECT_EQ (prevOut, 0.5 * v.r - 0.25);
    }
}

TEST (PreampMath, LevelOfAnEmptyBlockIsZero)
{
    EXPECT_EQ (levelFromSum (0.0f, 0, 0), 0.0f);
    EXPECT_EQ (levelFromSum (0.0f, 2, 0), 0.0f);
    EXPECT_FLOAT_EQ (levelFromSum (8.0f, 2, 4), 1.0f);
}

TEST (PreampMath, AllFiniteSpotsEveryNonFiniteSample)
{
    const float cases[] = { std::nanf (""), INFINITY, -INFINITY };
    std::vector<float> block (37, 0.25f);
    block[5] = std::numeric_limits<float>::max();
    block[6] = std::numeric_limits<float>::denorm_min();
    EXPECT_TRUE (allFinite (block.data(), (int) block.size()));
    EXPECT_TRUE (allFinite (block.data(), 0));

    for (auto bad : cases)
        for (int at : { 0, 17, 36 })
        {
            auto copy = block;
            copy[(size_t) at] = bad;
            EXPECT_FALSE (allFinite (copy.data(), (int) copy.size())) << bad << " at " << at;
        }
}

TEST (PreampMath, CachedBlockValuesFollowEveryInput)
{
    BlockValuesCache cache;
    const auto same = [] (const BlockValues& a, const BlockValues& b) {
        return a.saturating == b.saturating && a.drive == b.drive && a.bias == b.bias && a.biasTerm == b.biasTerm
               && a.makeup == b.makeup && a.trimMultiplier == b.trimMultiplier && a.r == b.r;
    };

    struct Case
    {
        float gain, trim, phase;
        double rate;
        int index;
    };

    const Case cases[] = {
        { 20.0f, 0.0f, 0.0f, 48000.0, 0 },
        { 60.0f, 0.0f, 0.0f, 48000.0, 0 },
        { 60.0f, -6.0f, 0.0f, 48000.0, 0 },
        { 60.0f, -6.0f, 1.0f, 48000.0, 0 },
        { 60.0f, -6.0f, 1.0f, 44100.0, 0 },
        { 60.0f, -6.0f, 1.0f, 44100.0, 2 },
        { 60.0f, -6.0f, 1.0f, 44100.0, 2 },
        { 20.0f, 0.0f, 0.0f, 48000.0, 0 },
    };

    for (const auto& c : cases)
        EXPECT_TRUE (same (cache.get (c.gain, c.trim, c.phase, c.rate, c.index), makeBlockValues (c.gain, c.trim, c.phase, c.rate, c.index)))
            << c.gain << " " << c.trim << " " << c.phase << " " << c.rate << " " << c.index;
}
