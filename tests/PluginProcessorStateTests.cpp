#include "PluginProcessor.h"
#include "ProcessorTestHelpers.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{
using korvel::testing::setReal;
const char* const newInstanceText =
    R"(<?xml version="1.0" encoding="UTF-8"?> <Parameters><PARAM id="gain" value="20.0"/>)"
    R"(<PARAM id="oversampling" value="0.0"/><PARAM id="phase" value="0.0"/>)"
    R"(<PARAM id="power" value="1.0"/><PARAM id="trim" value="0.0"/></Parameters>)";

// A block as the plug-in writes it: magic, text length, text, terminating zero.
juce::MemoryBlock blockOf (const std::string& text)
{
    juce::MemoryBlock block;
    const unsigned char magic[] = { 0x56, 0x43, 0x32, 0x21 };
    block.append (magic, 4);
    const auto n = (std::uint32_t) text.size();
    const unsigned char length[] = { (unsigned char) n, (unsigned char) (n >> 8), (unsigned char) (n >> 16), (unsigned char) (n >> 24) };
    block.append (length, 4);
    block.append (text.data(), text.size());
    block.append ("", 1);
    return block;
}

std::string textOf (const juce::MemoryBlock& block)
{
    return std::string (static_cast<const char*> (block.getData()) + 8, block.getSize() - 9);
}

juce::MemoryBlock save (KORVELAudioProcessor& p)
{
    juce::MemoryBlock block;
    p.getStateInformation (block);
    return block;
}

void load (KORVELAudioProcessor& p, const juce::MemoryBlock& block)
{
    p.setStateInformation (block.getData(), (int) block.getSize());
}

float raw (KORVELAudioProcessor& p, const char* id)
{
    return p.parameters.getRawParameterValue (id)->load();
}

std::string stateWith (const std::string& children, const std::string& root = "Parameters")
{
    return R"(<?xml version="1.0" encoding="UTF-8"?> <)" + root + ">" + children + "</" + root + ">";
}
} // namespace

TEST (State, NewInstanceWritesTheKnownBlock)
{
    KORVELAudioProcessor p;
    juce::MemoryBlock block (1000, true); // whatever it held before is replaced
    p.getStateInformation (block);

    ASSERT_EQ (block.getSize(), 234u);
    const unsigned char header[] = { 0x56, 0x43, 0x32, 0x21, 0xE1, 0x00, 0x00, 0x00 };
    EXPECT_EQ (std::memcmp (block.getData(), header, 8), 0);
    EXPECT_EQ (textOf (block), newInstanceText);
    EXPECT_EQ (static_cast<const char*> (block.getData())[233], 0);
}

TEST (State, EveryValueSurvivesARoundTrip)
{
    KORVELAudioProcessor original;
    setReal (original, "gain", 60.0f);
    setReal (original, "trim", -3.4f);
    setReal (original, "phase", 1.0f);
    setReal (original, "power", 0.0f);
    setReal (original, "oversampling", 2.0f);
    const auto block = save (original);

    KORVELAudioProcessor restored;
    load (restored, block);

    for (const char* id : { "gain", "trim", "phase", "power", "oversampling" })
        EXPECT_EQ (raw (restored, id), raw (original, id)) << id;

    EXPECT_EQ (raw (restored, "trim"), original.parameters.getParameterRange ("trim").snapToLegalValue (-3.4f));
    EXPECT_EQ (save (restored), block);
    EXPECT_NE (textOf (block).find (R"(<PARAM id="gain" value="60.0"/>)"), std::string::npos);
}

TEST (State, UnusableBlocksAreIgnored)
{
    auto corrupt = [] (auto change) {
        auto block = blockOf (stateWith (R"(<PARAM id="gain" value="80.0"/>)"));
        change (block);
        return block;
    };
    auto* const noChange = +[] (juce::MemoryBlock&) {};

    struct Case
    {
        const char* name;
        juce::MemoryBlock block;
    };

    const Case cases[] = {
        { "8 bytes", corrupt ([] (auto& b) { b.setSize (8); }) },
        { "empty", juce::MemoryBlock() },
        { "magic the wrong way round", corrupt ([] (auto& b) { const unsigned char m[] = { 0x21, 0x32, 0x43, 0x56 }; b.copyFrom (m, 0, 4); }) },
        { "length 0", corrupt ([] (auto& b) { b.fillWith (0); b.copyFrom ("VC2!", 0, 4); }) },
        { "negative length", corrupt ([] (auto& b) { const unsigned char l[] = { 0xff, 0xff, 0xff, 0xff }; b.copyFrom (l, 4, 4); }) },
        { "text that is not XML", blockOf ("this is not xml") },
        { "another root tag", blockOf (stateWith (R"(<PARAM id="gain" value="80.0"/>)", "Params")) },
        { "control: a usable block", corrupt (noChange) },
    };

    for (const auto& c : cases)
    {
        KORVELAudioProcessor p;
        setReal (p, "trim", -6.0f);
        load (p, c.block);
        const bool isControl = juce::String (c.name).startsWith ("control");
        EXPECT_EQ (raw (p, "gain"), isControl ? 80.0f : 20.0f) << c.name;
        EXPECT_EQ (raw (p, "trim"), -6.0f) << c.name;
    }
}

TEST (State, ALengthBeyondTheDataIsCutToTheData)
{
    auto block = blockOf (stateWith (R"(<PARAM id="gain" value="70.0"/>)"));
    const unsigned char huge[] = { 0x10, 0x27, 0x00, 0x00 }; // 10000
    block.copyFrom (huge, 4, 4);
    block.setSize (block.getSize() - 1); // no terminator either

    KORVELAudioProcessor p;
    load (p, block);
    EXPECT_EQ (raw (p, "gain"), 70.0f);
}

TEST (State, RootTagIsComparedIgnoringCaseAndKeptAsWritten)
{
    KORVELAudioProcessor p;
    load (p, blockOf (stateWith (R"(<PARAM id="gain" value="40.0"/>)", "parameters")));
    EXPECT_EQ (raw (p, "gain"), 40.0f);
    EXPECT_EQ (textOf (save (p)).rfind ("</parameters>"), textOf (save (p)).size() - 13);
}

TEST (State, ValuesAreReadAsNumbersSnappedAndLimited)
{
    struct Case
    {
        const char* id;
        const char* value;
        float expected;
    };

    const Case cases[] = {
        { "gain", "25", 30.0f },
        { "gain", "100", 80.0f },
        { "gain", "not a number", 10.0f },
        { "trim", "-100", -48.0f },
        { "trim", "3.04", 3.0f },
        { "oversampling", "1.6", 2.0f },
        { "oversampling", "7", 2.0f },
        { "phase", "0.7", 1.0f },
        { "power", "-3", 0.0f },
    };

    for (const auto& c : cases)
    {
        KORVELAudioProcessor p;
        load (p, blockOf (stateWith (std::string (R"(<PARAM id=")") + c.id + R"(" value=")" + c.value + R"("/>)")));
        EXPECT_NEAR (raw (p, c.id), c.expected, 1e-5f) << c.id << " = " << c.value;
    }
}

TEST (State, MissingParametersKeepTheirValuesAndAreAppended)
{
    KORVELAudioProcessor p;
    setReal (p, "gain", 70.0f);
    load (p, blockOf (stateWith (R"(<PARAM id="trim" value="-1.5"/><PARAM id="phase" value="1.0"/>)")));

    EXPECT_EQ (raw (p, "gain"), 70.0f);
    EXPECT_FLOAT_EQ (raw (p, "trim"), -1.5f);
    EXPECT_EQ (raw (p, "phase"), 1.0f);

    // The loaded order first, then the parameters it lacked, in the order of their IDs.
    EXPECT_EQ (textOf (save (p)), stateWith (R"(<PARAM id="trim" value="-1.5"/><PARAM id="phase" value="1.0"/>)"
                                             R"(<PARAM id="gain" value="70.0"/><PARAM id="oversampling" value="0.0"/>)"
                                             R"(<PARAM id="power" value="1.0"/>)"));
}

TEST (State, AChildWithoutValueGivesTheDefault)
{
    KORVELAudioProcessor p;
    setReal (p, "gain", 70.0f);
    load (p, blockOf (stateWith (R"(<PARAM id="gain"/>)")));
    EXPECT_EQ (raw (p, "gain"), 20.0f);
}

TEST (State, UnknownChildrenAreCarriedAlong)
{
    KORVELAudioProcessor p;
    load (p, blockOf (stateWith (R"(<PARAM id="gain" value="30.0"/><PARAM id="drive" value="9.0"/>)")));
    EXPECT_EQ (raw (p, "gain"), 30.0f);
    EXPECT_NE (textOf (save (p)).find (R"(<PARAM id="drive" value="9.0"/>)"), std::string::npos);
}

TEST (State, LoadingAnotherChoiceUpdatesTheLatencyAtOnce)
{
    KORVELAudioProcessor p;
    p.setRateAndBufferSizeDetails (48000.0, 512);
    p.prepareToPlay (48000.0, 512);
    ASSERT_EQ (p.getLatencySamples(), 0);

    load (p, blockOf (stateWith (R"(<PARAM id="oversampling" value="2.0"/>)")));
    EXPECT_EQ (p.getLatencySamples(), 59);
    load (p, blockOf (stateWith (R"(<PARAM id="oversampling" value="1.0"/>)")));
    EXPECT_EQ (p.getLatencySamples(), 49);
}
