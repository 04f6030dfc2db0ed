// Loads the built plug-in binaries through JUCE's own hosting, as a DAW would.
#include <juce_audio_processors/juce_audio_processors.h>

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

namespace
{
constexpr double pi = 3.14159265358979323846;

struct Format
{
    const char* name;
    std::function<std::unique_ptr<juce::AudioPluginFormat>()> make;
    const char* bundle;
};

const Format formats[] = {
    { "VST3", [] { return std::make_unique<juce::VST3PluginFormat>(); },
      KORVEL_VST3_BUNDLE },
    { "LV2", [] { return std::make_unique<juce::LV2PluginFormat>(); },
      KORVEL_LV2_BUNDLE },
};

void PrintTo (const Format& f, std::ostream* os) { *os << f.name; }

std::unique_ptr<juce::AudioPluginInstance> load (const Format& f, juce::String& error)
{
    auto format = f.make();
    const auto bundle = juce::File (f.bundle);

    // JUCE's LV2 host knows plug-ins by URI once it has searched the bundle's folder.
    const auto identifiers = juce::String (f.name) == "LV2"
                                 ? format->searchPathsForPlugins (juce::FileSearchPath (bundle.getParentDirectory().getFullPathName()), true, false)
                                 : juce::StringArray { bundle.getFullPathName() };

    juce::OwnedArray<juce::PluginDescription> types;
    for (const auto& id : identifiers)
        format->findAllTypesForFile (types, id);

    if (types.isEmpty())
    {
        error = "no plug-in found in " + bundle.getFullPathName();
        return nullptr;
    }

    return format->createInstanceFromDescription (*types[0], 48000.0, 512, error);
}

juce::AudioProcessorParameter* findParameter (juce::AudioPluginInstance& plugin, const juce::String& name)
{
    for (auto* p : plugin.getParameters())
        if (p->getName (100) == name)
            return p;
    return nullptr;
}

void pumpMessages()
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (100);
}

class HostLevel : public testing::TestWithParam<Format>
{
protected:
    void SetUp() override
    {
        juce::String error;
        plugin = load (GetParam(), error);
        ASSERT_NE (plugin, nullptr) << error;
    }

    void TearDown() override
    {
        if (plugin != nullptr)
            plugin->releaseResources();
        plugin.reset();
        pumpMessages();
    }

    std::unique_ptr<juce::AudioPluginInstance> plugin;
};
} // namespace

TEST_P (HostLevel, ShowsItsNameAndParameters)
{
    EXPECT_EQ (plugin->getName(), "KORVEL V2");
    EXPECT_FALSE (plugin->acceptsMidi());
    EXPECT_FALSE (plugin->producesMidi());
    EXPECT_TRUE (plugin->hasEditor());

    // An LV2 port carries real units with a linear range and no step, so JUCE's LV2 host
    // shows the unsnapped, unskewed value between the ends; the labelled ones match.
    struct Case
    {
        const char* name;
        float normalised;
        const char* vst3Text;
        const char* lv2Text;
    };

    const Case cases[] = {
        { "Input Gain", 0.5f, "50", "45" },
        { "Input Gain", 0.0f, "10", "10" },
        { "Input Gain", 1.0f, "80", "80" },
        { "Output Trim", 0.5f, "0.0", "-18" },
        { "Output Trim", 0.0f, "-48.0", "-48" },
        { "Phase Invert", 1.0f, "On", "On" },
        { "Power", 0.0f, "Off", "Off" },
        { "Oversampling", 0.0f, "Off", "Off" },
        { "Oversampling", 0.5f, "2x", "2x" },
        { "Oversampling", 1.0f, "4x", "4x" },
    };

    const auto isLv2 = juce::String (GetParam().name) == "LV2";
    for (const auto& c : cases)
    {
        auto* p = findParameter (*plugin, c.name);
        ASSERT_NE (p, nullptr) << c.name;
        EXPECT_EQ (p->getText (c.normalised, 100), isLv2 ? c.lv2Text : c.vst3Text) << c.name << " at " << c.normalised;
    }

    // A wrapper adds its own bypass. VST3 keeps our order; JUCE's LV2 host lists by symbol.
    const juce::StringArray names { "Input Gain", "Output Trim", "Phase Invert", "Power", "Oversampling" };
    juce::StringArray seen;
    for (auto* p : plugin->getParameters())
        if (p != plugin->getBypassParameter())
            seen.add (p->getName (100));

    if (isLv2)
    {
        seen.sort (false);
        auto sorted = names;
        sorted.sort (false);
        EXPECT_EQ (seen, sorted);
    }
    else
    {
        EXPECT_EQ (seen, names);
    }
}

TEST_P (HostLevel, AcceptsStereoAndRefusesSixChannels)
{
    using Set = juce::AudioChannelSet;
    const auto layoutOf = [] (Set in, Set out) {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (in);
        layout.outputBuses.add (out);
        return layout;
    };

    EXPECT_TRUE (plugin->setBusesLayout (layoutOf (Set::stereo(), Set::stereo())));
    EXPECT_FALSE (plugin->setBusesLayout (layoutOf (Set::discreteChannels (6), Set::discreteChannels (6))));
    EXPECT_FALSE (plugin->setBusesLayout (layoutOf (Set::mono(), Set::stereo())));

    // VST3 hosts may also run the plug-in on a mono track; an LV2 plug-in's ports are fixed at stereo.
    if (juce::String (GetParam().name) == "VST3")
        EXPECT_TRUE (plugin->setBusesLayout (layoutOf (Set::mono(), Set::mono())));
}

TEST_P (HostLevel, ReportsTheLatencyOfTheChoice)
{
    plugin->prepareToPlay (48000.0, 512);
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    auto* choice = findParameter (*plugin, "Oversampling");
    ASSERT_NE (choice, nullptr);

    const struct
    {
        float normalised;
        int latency;
    } steps[] = { { 0.5f, 49 }, { 1.0f, 59 }, { 0.0f, 0 } };

    for (const auto& s : steps)
    {
        choice->setValueNotifyingHost (s.normalised);
        // The wrappers pass the change on at the next block or message.
        for (int i = 0; i < 3; ++i)
        {
            buffer.clear();
            plugin->processBlock (buffer, midi);
            pumpMessages();
        }
        EXPECT_EQ (plugin->getLatencySamples(), s.latency) << s.normalised;
    }
}

TEST_P (HostLevel, RendersASineAtTheLinearGain)
{
    const double rate = 48000.0;
    plugin->setPlayConfigDetails (2, 2, rate, 480);
    plugin->prepareToPlay (rate, 480);

    juce::AudioBuffer<float> buffer (2, 480);
    juce::MidiBuffer midi;
    double sumIn = 0.0, sumOut = 0.0;

    for (int block = 0; block < 100; ++block)
    {
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 480; ++i)
                buffer.setSample (c, i, 0.5f * (float) std::sin (2.0 * pi * 1000.0 * (block * 480 + i) / rate));

        const auto in = buffer.getRMSLevel (0, 0, 480);
        plugin->processBlock (buffer, midi);

        if (block >= 50) // settled
        {
            sumIn += (double) in * in;
            sumOut += (double) buffer.getRMSLevel (0, 0, 480) * buffer.getRMSLevel (0, 0, 480);
        }
    }

    // 0.6366197 × 1.57, and the DC blocker's slight lift at 1 kHz.
    const auto r = 1.0 - 2.0 * pi * 7.0 / rate;
    const auto z = std::polar (1.0, -2.0 * pi * 1000.0 / rate);
    const auto expected = 0.6366197 * 1.57 * std::abs (1.0 - z) / std::abs (1.0 - r * z);
    EXPECT_NEAR (std::sqrt (sumOut / sumIn), expected, 1e-3);
}

namespace
{
const std::pair<const char*, const char*> savedSettings[] = {
    { "Input Gain", "60" },
    { "Output Trim", "-3.4" },
    { "Phase Invert", "On" },
    { "Power", "Off" },
    { "Oversampling", "4x" },
};

// Lets the wrapper pass parameter changes on: LV2 takes them at the next run.
void settle (juce::AudioPluginInstance& plugin)
{
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    for (int i = 0; i < 3; ++i)
    {
        buffer.clear();
        plugin.processBlock (buffer, midi);
        pumpMessages();
    }
}

void applySavedSettings (juce::AudioPluginInstance& plugin)
{
    plugin.prepareToPlay (48000.0, 512);
    for (const auto& [name, text] : savedSettings)
        if (auto* p = findParameter (plugin, name))
            p->setValueNotifyingHost (p->getValueForText (text));
    settle (plugin);
}

void expectSavedSettings (juce::AudioPluginInstance& plugin)
{
    for (const auto& [name, text] : savedSettings)
    {
        auto* p = findParameter (plugin, name);
        ASSERT_NE (p, nullptr) << name;
        EXPECT_EQ (p->getCurrentValueAsText(), p->getText (p->getValueForText (text), 100)) << name;
    }
    EXPECT_EQ (plugin.getLatencySamples(), 59);
}

// Our own block inside what JUCE's VST3 host saves: an XML document (behind the same magic
// and length header) whose IComponent element holds the component state in base64; the
// VST3 wrapper appends its own private data after our block.
juce::MemoryBlock ourBlockInVst3State (const juce::MemoryBlock& state)
{
    const auto* bytes = static_cast<const char*> (state.getData());
    auto xml = juce::parseXML (juce::String::fromUTF8 (bytes + 8, (int) state.getSize() - 8));
    juce::MemoryBlock component;
    if (xml == nullptr || ! component.fromBase64Encoding (xml->getChildElementAllSubText ("IComponent", {})))
        return {};

    const auto length = juce::ByteOrder::littleEndianInt (static_cast<const char*> (component.getData()) + 4);
    return juce::MemoryBlock (component.getData(), juce::jmin ((size_t) length + 9, component.getSize()));
}
} // namespace

TEST_P (HostLevel, StateComesBackInAFreshInstance)
{
    applySavedSettings (*plugin);
    expectSavedSettings (*plugin);

    juce::MemoryBlock state;
    plugin->getStateInformation (state);
    ASSERT_GT (state.getSize(), 0u);

    juce::String error;
    auto fresh = load (GetParam(), error);
    ASSERT_NE (fresh, nullptr) << error;
    fresh->prepareToPlay (48000.0, 512);
    fresh->setStateInformation (state.getData(), (int) state.getSize());
    settle (*fresh);

    expectSavedSettings (*fresh);
    for (const auto& [name, text] : savedSettings)
    {
        auto* before = findParameter (*plugin, name);
        auto* after = findParameter (*fresh, name);
        // JUCE's LV2 host derives a normalised value from the port's real one: allow its rounding.
        EXPECT_NEAR (after->getValue(), before->getValue(), 1e-6f) << name;
        EXPECT_EQ (after->getCurrentValueAsText(), before->getCurrentValueAsText()) << name;
    }

    // Nothing lost or altered on the way: the restored instance saves the same bytes.
    juce::MemoryBlock again;
    fresh->getStateInformation (again);
    EXPECT_EQ (again, state);
    fresh->releaseResources();
}

TEST_P (HostLevel, TheWrappersBypassKeepsTime)
{
    auto* bypass = plugin->getBypassParameter();
    ASSERT_NE (bypass, nullptr) << "the wrapper offers no bypass";
    auto* choice = findParameter (*plugin, "Oversampling");
    auto* gain = findParameter (*plugin, "Input Gain");
    plugin->prepareToPlay (48000.0, 512); // settle() sends blocks of 512
    gain->setValueNotifyingHost (1.0f); // gain 80: a processed click would not come out as it went in

    for (const auto& [normalised, latency] : { std::pair { 0.0f, 0 }, std::pair { 0.5f, 49 }, std::pair { 1.0f, 59 } })
    {
        choice->setValueNotifyingHost (normalised);
        bypass->setValueNotifyingHost (1.0f);
        settle (*plugin);

        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;
        int foundAt = -1;
        for (int block = 0; block < 4; ++block)
        {
            buffer.clear();
            if (block == 1)
                buffer.setSample (0, 100, 0.5f);
            plugin->processBlock (buffer, midi);
            for (int i = 0; i < 512; ++i)
                if (buffer.getSample (0, i) != 0.0f)
                {
                    EXPECT_EQ (buffer.getSample (0, i), 0.5f);
                    foundAt = foundAt < 0 ? 512 * block + i : foundAt;
                }
        }
        EXPECT_EQ (foundAt, 512 + 100 + latency) << "oversampling at " << normalised;
        EXPECT_EQ (plugin->getLatencySamples(), latency);
        bypass->setValueNotifyingHost (0.0f);
        settle (*plugin);
    }
}

TEST (HostLevelAcrossFormats, AVst3BlockLoadsIntoTheLv2Instance)
{
    juce::String error;
    auto vst3 = load (formats[0], error);
    ASSERT_NE (vst3, nullptr) << error;
    auto lv2 = load (formats[1], error);
    ASSERT_NE (lv2, nullptr) << error;

    applySavedSettings (*vst3);
    juce::MemoryBlock vst3State;
    vst3->getStateInformation (vst3State);
    const auto block = ourBlockInVst3State (vst3State);
    ASSERT_GT (block.getSize(), 9u);
    EXPECT_EQ (juce::String::fromUTF8 (static_cast<const char*> (block.getData()), 4), "VC2!");

    // JUCE's LV2 host saves a preset whose state string is our block in base64: put the
    // VST3's block there, as a host moving a project between the formats would.
    lv2->prepareToPlay (48000.0, 512);
    juce::MemoryBlock lv2State;
    lv2->getStateInformation (lv2State);
    auto preset = lv2State.toString();
    const auto key = juce::String ("StateString> \"");
    const auto start = preset.indexOf (key) + key.length();
    const auto end = preset.indexOfChar (start, '"');
    ASSERT_GT (start, key.length() - 1);
    preset = preset.replaceSection (start, end - start, block.toBase64Encoding());

    lv2->setStateInformation (preset.toRawUTF8(), (int) preset.getNumBytesAsUTF8());
    settle (*lv2);
    expectSavedSettings (*lv2);

    vst3->releaseResources();
    lv2->releaseResources();
}

INSTANTIATE_TEST_SUITE_P (Formats, HostLevel, testing::ValuesIn (formats),
                          [] (const auto& info) { return std::string (info.param.name); });
