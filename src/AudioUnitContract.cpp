#include "AudioUnitContract.h"

#include <algorithm>

namespace
{
constexpr std::int64_t effectType = 0x61756678; // 'aufx'
constexpr std::int64_t classInfoVersion = 0;

const char* const versionKey = "version";
const char* const typeKey = "type";
const char* const subtypeKey = "subtype";
const char* const manufacturerKey = "manufacturer";
const char* const nameKey = "name";

bool holdsNumber (const AudioUnitContract::Dictionary& info, const char* key, std::int64_t expected)
{
    const auto it = info.find (key);
    return it != info.end() && std::holds_alternative<std::int64_t> (it->second)
           && std::get<std::int64_t> (it->second) == expected;
}
} // namespace

AudioUnitContract::AudioUnitContract (KORVELAudioProcessor& p)
    : processor (p)
{
}

std::vector<AudioUnitContract::ChannelPair> AudioUnitContract::supportedChannelPairs()
{
    return { { 1, 1 }, { 2, 2 } };
}

int AudioUnitContract::checkStreamFormat (bool isInput, int numChannels)
{
    // Each side is checked on its own against the counts the pairs give for that side.
    for (const auto& pair : supportedChannelPairs())
        if ((isInput ? pair.inputs : pair.outputs) == numChannels)
            return 0;

    return formatNotSupported;
}

AudioUnitContract::Configuration AudioUnitContract::initialConfiguration()
{
    return { 1, 1, 44100.0, 1024 };
}

std::uint32_t AudioUnitContract::parameterIdFor (const juce::String& parameterID)
{
    std::uint32_t hash = 0;

    for (auto p = parameterID.getCharPointer(); ! p.isEmpty();)
        hash = hash * 31u + (std::uint32_t) p.getAndAdvance();

    return hash & 0x7fffffffu;
}

std::vector<std::uint32_t> AudioUnitContract::parameterList() const
{
    std::vector<std::uint32_t> ids;

    for (auto* param : processor.getParameters())
        if (auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*> (param))
            ids.push_back (parameterIdFor (withId->getParameterID()));

    // Every version hint is 0, so ordering by (hint, ID) is ordering by ID.
    std::sort (ids.begin(), ids.end());
    return ids;
}

double AudioUnitContract::latencySeconds (double sampleRate) const
{
    return sampleRate > 0.0 ? processor.getLatencySamples() / sampleRate : 0.0;
}

double AudioUnitContract::tailSeconds() const
{
    return processor.getTailLengthSeconds();
}

std::vector<AudioUnitContract::Preset> AudioUnitContract::factoryPresets() const
{
    std::vector<Preset> presets;

    for (int i = 0; i < processor.getNumPrograms(); ++i)
    {
        const auto name = processor.getProgramName (i);
        presets.push_back ({ i, name.isEmpty() ? "Untitled" : name.toStdString() });
    }

    return presets;
}

std::string AudioUnitContract::viewDescription() const
{
    return processor.getName().toStdString();
}

AudioUnitContract::Dictionary AudioUnitContract::saveClassInfo() const
{
    Dictionary info {
        { versionKey, classInfoVersion },
        { typeKey, effectType },
        { subtypeKey, (std::int64_t) JucePlugin_PluginCode },
        { manufacturerKey, (std::int64_t) JucePlugin_ManufacturerCode },
        { nameKey, factoryPresets().front().name },
    };

    juce::MemoryBlock state;
    processor.getStateInformation (state);

    if (state.getSize() > 0)
    {
        const auto* bytes = static_cast<const std::uint8_t*> (state.getData());
        info[stateKey] = std::vector<std::uint8_t> (bytes, bytes + state.getSize());
    }

    return info;
}

bool AudioUnitContract::restoreClassInfo (const Dictionary& info)
{
    if (! (holdsNumber (info, versionKey, classInfoVersion)
           && holdsNumber (info, typeKey, effectType)
           && holdsNumber (info, subtypeKey, JucePlugin_PluginCode)
           && holdsNumber (info, manufacturerKey, JucePlugin_ManufacturerCode)))
        return false;

    const auto it = info.find (stateKey);

    if (it != info.end())
        if (const auto* bytes = std::get_if<std::vector<std::uint8_t>> (&it->second); bytes != nullptr && ! bytes->empty())
            processor.setStateInformation (bytes->data(), (int) bytes->size());

    return true;
}
