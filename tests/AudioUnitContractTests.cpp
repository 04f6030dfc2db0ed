#include "AudioUnitContract.h"
#include "ProcessorTestHelpers.h"

#include <gtest/gtest.h>

namespace
{
using korvel::testing::setReal;
} // namespace

TEST (AudioUnitContract, ChannelPairsAndStreamFormats)
{
    using Pair = AudioUnitContract::ChannelPair;
    EXPECT_EQ (AudioUnitContract::supportedChannelPairs(), (std::vector<Pair> { { 1, 1 }, { 2, 2 } }));

    for (bool isInput : { true, false })
        for (int channels = 0; channels <= 8; ++channels)
            EXPECT_EQ (AudioUnitContract::checkStreamFormat (isInput, channels),
                       channels == 1 || channels == 2 ? 0 : -10868)
                << (isInput ? "input " : "output ") << channels;

    const auto initial = AudioUnitContract::initialConfiguration();
    EXPECT_EQ (initial.inputChannels, 1);
    EXPECT_EQ (initial.outputChannels, 1);
    EXPECT_EQ (initial.sampleRate, 44100.0);
    EXPECT_EQ (initial.samplesPerBlock, 1024);
}

TEST (AudioUnitContract, ParameterIdsAreTheStoredHashes)
{
    // The values hosts have saved automation under.
    EXPECT_EQ (AudioUnitContract::parameterIdFor ("gain"), 3165055u);
    EXPECT_EQ (AudioUnitContract::parameterIdFor ("trim"), 3568674u);
    EXPECT_EQ (AudioUnitContract::parameterIdFor ("phase"), 106629499u);
    EXPECT_EQ (AudioUnitContract::parameterIdFor ("power"), 106858757u);
    EXPECT_EQ (AudioUnitContract::parameterIdFor ("oversampling"), 1420097723u);

    KORVELAudioProcessor p;
    AudioUnitContract au (p);
    EXPECT_EQ (au.parameterList(), (std::vector<std::uint32_t> { 3165055u, 3568674u, 106629499u, 106858757u, 1420097723u }));
}

TEST (AudioUnitContract, LatencyTailPresetsAndView)
{
    KORVELAudioProcessor p;
    AudioUnitContract au (p);
    p.setRateAndBufferSizeDetails (48000.0, 512);
    p.prepareToPlay (48000.0, 512);

    EXPECT_EQ (au.latencySeconds (48000.0), 0.0);
    setReal (p, "oversampling", 1.0f);
    EXPECT_DOUBLE_EQ (au.latencySeconds (48000.0), 49.0 / 48000.0);
    setReal (p, "oversampling", 2.0f);
    EXPECT_DOUBLE_EQ (au.latencySeconds (44100.0), 59.0 / 44100.0);
    EXPECT_EQ (au.latencySeconds (0.0), 0.0);
    EXPECT_EQ (au.latencySeconds (-1.0), 0.0);

    EXPECT_EQ (au.tailSeconds(), 0.0);
    EXPECT_TRUE (AudioUnitContract::supportsTail());

    const auto presets = au.factoryPresets();
    ASSERT_EQ (presets.size(), 1u);
    EXPECT_EQ (presets[0].number, 0);
    EXPECT_EQ (presets[0].name, "Untitled");
    EXPECT_EQ (au.viewDescription(), "KORVEL V2");
}

TEST (AudioUnitContract, ClassInfoCarriesTheStateBlock)
{
    KORVELAudioProcessor original;
    setReal (original, "gain", 60.0f);
    setReal (original, "trim", -3.4f);
    setReal (original, "oversampling", 2.0f);
    const auto info = AudioUnitContract (original).saveClassInfo();

    ASSERT_EQ (info.count (AudioUnitContract::stateKey), 1u);
    juce::MemoryBlock block;
    original.getStateInformation (block);
    const auto& saved = std::get<std::vector<std::uint8_t>> (info.at (AudioUnitContract::stateKey));
    EXPECT_EQ (juce::MemoryBlock (saved.data(), saved.size()), block);

    KORVELAudioProcessor restored;
    EXPECT_TRUE (AudioUnitContract (restored).restoreClassInfo (info));
    for (const char* id : { "gain", "trim", "oversampling" })
        EXPECT_EQ (restored.parameters.getRawParameterValue (id)->load(), original.parameters.getRawParameterValue (id)->load()) << id;
}

TEST (AudioUnitContract, ClassInfoWithoutUsableStateLeavesTheParameters)
{
    KORVELAudioProcessor source;
    setReal (source, "gain", 80.0f);
    const auto full = AudioUnitContract (source).saveClassInfo();

    struct Case
    {
        const char* name;
        std::function<void (AudioUnitContract::Dictionary&)> change;
        bool restored;
    };

    const Case cases[] = {
        { "no state key", [] (auto& d) { d.erase (AudioUnitContract::stateKey); }, true },
        { "empty state", [] (auto& d) { d[AudioUnitContract::stateKey] = std::vector<std::uint8_t>(); }, true },
        { "state of another type", [] (auto& d) { d[AudioUnitContract::stateKey] = std::string ("gain=80"); }, true },
        { "another component", [] (auto& d) { d["subtype"] = std::int64_t { 1 }; }, false },
        { "no version", [] (auto& d) { d.erase ("version"); }, false },
    };

    for (const auto& c : cases)
    {
        auto info = full;
        c.change (info);
        KORVELAudioProcessor p;
        EXPECT_EQ (AudioUnitContract (p).restoreClassInfo (info), c.restored) << c.name;
        EXPECT_EQ (p.parameters.getRawParameterValue ("gain")->load(), 20.0f) << c.name;
    }
}
