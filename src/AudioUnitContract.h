#pragma once

#include "PluginProcessor.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// What the Audio Unit wrapper answers to an Audio Unit host on macOS, derived from the
// processor. The wrapper itself cannot run here, so this layer states the contract in
// plain C++ and lets it be tested on any platform.
class AudioUnitContract
{
public:
    static constexpr int formatNotSupported = -10868;

    struct ChannelPair
    {
        int inputs, outputs;
        bool operator== (const ChannelPair& other) const { return inputs == other.inputs && outputs == other.outputs; }
    };

    struct Configuration
    {
        int inputChannels, outputChannels;
        double sampleRate;
        int samplesPerBlock;
    };

    struct Preset
    {
        int number;
        std::string name;
    };

    // A class-info dictionary: numbers, texts and data under string keys.
    using Value = std::variant<std::int64_t, std::string, std::vector<std::uint8_t>>;
    using Dictionary = std::map<std::string, Value>;

    static constexpr const char* stateKey = "jucePluginState";

    explicit AudioUnitContract (KORVELAudioProcessor& processor);

    static std::vector<ChannelPair> supportedChannelPairs();

    // 0 when a stream format with this many channels may be set on that side, else formatNotSupported.
    static int checkStreamFormat (bool isInput, int numChannels);

    static Configuration initialConfiguration();

    // A parameter's ID as hosts store it in automation and projects: never change this.
    static std::uint32_t parameterIdFor (const juce::String& parameterID);

    // The processor's parameters' IDs, ascending.
    std::vector<std::uint32_t> parameterList() const;

    double latencySeconds (double sampleRate) const;
    double tailSeconds() const;
    static bool supportsTail() { return true; }

    std::vector<Preset> factoryPresets() const;
    std::string viewDescription() const;

    Dictionary saveClassInfo() const;
    // Returns false, leaving the parameters alone, when the standard entries do not fit.
    bool restoreClassInfo (const Dictionary& info);

private:
    KORVELAudioProcessor& processor;
};
