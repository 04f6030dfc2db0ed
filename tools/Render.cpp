// korvel-render: renders an audio file through the built plug-in, loaded as a host loads it.
#include "LedState.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <iostream>
#include <optional>

namespace
{
const char* const usage = R"(usage: korvel-render IN OUT [options]

Renders IN (WAV, AIFF or FLAC; mono or stereo) through KORVEL V2 into OUT (WAV, at IN's rate).

  --gain N                   10 (off), 20, 30, ... 80
  --trim DB                  -48 to 12 dB
  --phase on|off             polarity inversion
  --power on|off             off hands the input back
  --oversampling off|2x|4x
  --format 24|float          24-bit PCM (default) or 32-bit float
  --block N                  the host's block size (default 512)
  --lv2                      load the LV2 build instead of the VST3
  --plugin PATH              the VST3 or LV2 bundle to load (default: the build's)
  --state FILE               load a saved plug-in state before the parameters above
  --save-state FILE          write the plug-in's state after rendering
  --no-latency-compensation  keep the plug-in's latency in the output
)";

// A failure with the exit code it deserves: 2 for bad usage or input, 1 for anything else.
struct Failure
{
    int code;
    juce::String message;
};

[[noreturn]] void fail (int code, const juce::String& message)
{
    throw Failure { code, message };
}

struct Options
{
    juce::File input, output, plugin, stateIn, stateOut;
    bool lv2 = false, compensate = true, floatOutput = false;
    int block = 512;
    std::vector<std::pair<juce::String, juce::String>> parameters; // option name, value as given
};

struct ParameterEntry
{
    const char* option;
    const char* name; // as the plug-in names it
    const char* valid;
};

const ParameterEntry parameterEntries[] = {
    { "gain", "Input Gain", "10, 20, 30, 40, 50, 60, 70 or 80" },
    { "trim", "Output Trim", "a number of dB from -48 to 12" },
    { "phase", "Phase Invert", "on or off" },
    { "power", "Power", "on or off" },
    { "oversampling", "Oversampling", "off, 2x or 4x" },
};

const ParameterEntry* entryFor (const juce::String& option)
{
    for (const auto& s : parameterEntries)
        if (option == s.option)
            return &s;
    return nullptr;
}

juce::File fileArgument (const juce::String& text)
{
    return juce::File::getCurrentWorkingDirectory().getChildFile (text);
}

Options parse (const juce::StringArray& args)
{
    Options o;
    juce::StringArray positional;

    for (int i = 0; i < args.size(); ++i)
    {
        const auto& a = args[i];
        const auto value = [&] {
            if (i + 1 >= args.size())
                fail (2, a + " needs a value");
            return args[++i];
        };

        if (a == "--help" || a == "-h")
        {
            std::cout << usage;
            throw Failure { 0, {} };
        }
        else if (a == "--lv2")
            o.lv2 = true;
        else if (a == "--no-latency-compensation")
            o.compensate = false;
        else if (a == "--plugin")
            o.plugin = fileArgument (value());
        else if (a == "--state")
            o.stateIn = fileArgument (value());
        else if (a == "--save-state")
            o.stateOut = fileArgument (value());
        else if (a == "--format")
        {
            const auto f = value();
            if (f != "24" && f != "float")
                fail (2, "--format must be 24 or float, not \"" + f + "\"");
            o.floatOutput = f == "float";
        }
        else if (a == "--block")
        {
            const auto b = value();
            if (! b.containsOnly ("0123456789") || b.getIntValue() < 1 || b.getIntValue() > 65536)
                fail (2, "--block must be a whole number from 1 to 65536, not \"" + b + "\"");
            o.block = b.getIntValue();
        }
        else if (a.startsWith ("--") && entryFor (a.substring (2)) != nullptr)
            o.parameters.emplace_back (a.substring (2), value());
        else if (a.startsWith ("-") && a.length() > 1)
            fail (2, "unknown option " + a + " (see --help)");
        else
            positional.add (a);
    }

    if (positional.size() != 2)
        fail (2, "give an input and an output file (see --help)");

    o.input = fileArgument (positional[0]);
    o.output = fileArgument (positional[1]);
    return o;
}

// The normalised value for a parameter in the user's words, or a refusal that lists what is valid.
// Switches and the choice have the same normalised values in every format; numbers are
// handed to the plug-in's own text conversion, which knows its range and skew.
float normalisedValue (const ParameterEntry& entry, const juce::String& text, juce::AudioProcessorParameter& param)
{
    const auto refuse = [&] { fail (2, juce::String ("--") + entry.option + " must be " + entry.valid + ", not \"" + text + "\""); };
    const auto word = text.trim().toLowerCase();
    const auto option = juce::String (entry.option);

    if (option == "phase" || option == "power")
    {
        if (word != "on" && word != "off")
            refuse();
        return word == "on" ? 1.0f : 0.0f;
    }

    if (option == "oversampling")
    {
        const auto index = juce::StringArray { "off", "2x", "4x" }.indexOf (word);
        if (index < 0)
            refuse();
        return (float) index / 2.0f;
    }

    const auto isNumber = word.isNotEmpty() && word.containsOnly ("+-.0123456789") && word.getDoubleValue() == word.getDoubleValue();
    const auto number = word.getDoubleValue();

    if (option == "gain" && ! (isNumber && number >= 10 && number <= 80 && std::fmod (number, 10.0) == 0.0))
        refuse();
    if (option == "trim" && ! (isNumber && number >= -48 && number <= 12))
        refuse();

    return param.getValueForText (word);
}

juce::AudioProcessorParameter* findParameter (juce::AudioPluginInstance& plugin, const juce::String& name)
{
    for (auto* p : plugin.getParameters())
        if (p->getName (100) == name)
            return p;
    return nullptr;
}

juce::File defaultPlugin (bool lv2)
{
    const auto built = juce::File (lv2 ? KORVEL_LV2_BUNDLE : KORVEL_VST3_BUNDLE);
    if (built.exists())
        return built;
    return juce::File (lv2 ? "~/.lv2/KORVEL V2.lv2" : "~/.vst3/KORVEL V2.vst3");
}

std::unique_ptr<juce::AudioPluginInstance> loadPlugin (const juce::File& bundle, bool lv2, double rate, int block)
{
    if (! bundle.exists())
        fail (1, "no plug-in at " + bundle.getFullPathName() + " (build it, or give --plugin)");

    std::unique_ptr<juce::AudioPluginFormat> format;
    juce::StringArray identifiers;

    if (lv2)
    {
        // JUCE's LV2 host searches ~/.lv2 before the bundle's folder and keeps the first copy of
        // a plug-in it finds, so an installed KORVEL V2 would stand in for the one asked for.
        // Hide the home folder while it searches.
        const auto home = juce::SystemStats::getEnvironmentVariable ("HOME", {});
        ::setenv ("HOME", "/nonexistent", 1);
        format = std::make_unique<juce::LV2PluginFormat>();
        // It knows plug-ins by URI once it has searched the bundle's folder.
        identifiers = format->searchPathsForPlugins (juce::FileSearchPath (bundle.getParentDirectory().getFullPathName()), false, false);
        ::setenv ("HOME", home.toRawUTF8(), 1);
    }
    else
    {
        format = std::make_unique<juce::VST3PluginFormat>();
        identifiers.add (bundle.getFullPathName());
    }

    juce::OwnedArray<juce::PluginDescription> types;
    for (const auto& id : identifiers)
        format->findAllTypesForFile (types, id);

    for (auto* type : types)
    {
        if (type->name != "KORVEL V2")
            continue;

        juce::String error;
        if (auto instance = format->createInstanceFromDescription (*type, rate, block, error))
            return instance;
        fail (1, "could not load " + bundle.getFullPathName() + ": " + error);
    }

    fail (1, "KORVEL V2 is not in " + bundle.getFullPathName());
}

void pumpMessages()
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
}

bool sameFile (const juce::File& a, const juce::File& b)
{
    struct stat sa, sb;
    if (::stat (a.getFullPathName().toRawUTF8(), &sa) == 0 && ::stat (b.getFullPathName().toRawUTF8(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return a == b;
}

float toDb (double linear)
{
    return linear > 0.0 ? (float) (20.0 * std::log10 (linear)) : -INFINITY;
}

struct Meter
{
    double sumOfSquares = 0.0, peak = 0.0;
    juce::int64 count = 0;

    void add (const juce::AudioBuffer<float>& b, int start, int numSamples)
    {
        for (int c = 0; c < b.getNumChannels(); ++c)
            for (int i = start; i < start + numSamples; ++i)
            {
                const auto v = (double) b.getSample (c, i);
                sumOfSquares += v * v;
                peak = std::max (peak, std::abs (v));
            }
        count += (juce::int64) b.getNumChannels() * numSamples;
    }

    juce::String describe() const
    {
        const auto rms = count > 0 ? std::sqrt (sumOfSquares / (double) count) : 0.0;
        return "RMS " + juce::String (toDb (rms), 1) + " dBFS, peak " + juce::String (toDb (peak), 1) + " dBFS";
    }
};

class Progress
{
public:
    Progress (juce::int64 total, double rate)
        : total (total),
          shown (total > (juce::int64) (rate * 5.0) && ::isatty (STDERR_FILENO))
    {
    }

    void update (juce::int64 done)
    {
        if (! shown)
            return;
        const auto percent = (int) (100 * done / std::max<juce::int64> (1, total));
        if (percent == last)
            return;
        last = percent;
        std::cerr << "\r[" << std::string ((size_t) percent / 4, '#') << std::string (25 - (size_t) percent / 4, ' ') << "] "
                  << percent << "%" << std::flush;
        if (done >= total)
            std::cerr << "\n";
    }

private:
    const juce::int64 total;
    const bool shown;
    int last = -1;
};

int render (const Options& o)
{
    if (! o.input.existsAsFile())
        fail (2, "no such file: " + o.input.getFullPathName());
    if (sameFile (o.input, o.output))
        fail (2, "the output would overwrite the input: " + o.output.getFullPathName());

    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (o.input));
    if (reader == nullptr)
        fail (2, "cannot read " + o.input.getFullPathName() + ": not a WAV, AIFF or FLAC file");

    const auto channels = (int) reader->numChannels;
    if (channels < 1 || channels > 2)
        fail (2, o.input.getFileName() + " has " + juce::String (channels) + " channels; KORVEL V2 takes mono or stereo");

    const auto rate = reader->sampleRate;
    const auto length = reader->lengthInSamples;
    if (rate <= 0.0)
        fail (2, "cannot read " + o.input.getFullPathName() + ": no sample rate");

    const auto bundle = o.plugin == juce::File() ? defaultPlugin (o.lv2) : o.plugin;
    auto plugin = loadPlugin (bundle, o.lv2 || bundle.getFileExtension() == ".lv2", rate, o.block);

    // A mono file runs on a mono instance where the format offers one; else both channels carry it.
    juce::AudioProcessor::BusesLayout mono;
    mono.inputBuses.add (juce::AudioChannelSet::mono());
    mono.outputBuses.add (juce::AudioChannelSet::mono());
    const auto processChannels = channels == 1 && plugin->setBusesLayout (mono) ? 1 : 2;
    plugin->setRateAndBufferSizeDetails (rate, o.block);
    plugin->prepareToPlay (rate, o.block);

    if (o.stateIn != juce::File())
    {
        juce::MemoryBlock state;
        if (! o.stateIn.loadFileAsData (state))
            fail (2, "cannot read the state file " + o.stateIn.getFullPathName());
        plugin->setStateInformation (state.getData(), (int) state.getSize());
    }

    for (const auto& [option, text] : o.parameters)
    {
        const auto* entry = entryFor (option);
        auto* param = findParameter (*plugin, entry->name);
        if (param == nullptr)
            fail (1, juce::String ("the plug-in has no parameter \"") + entry->name + "\"");
        param->setValueNotifyingHost (normalisedValue (*entry, text, *param));
    }

    // The wrappers pass changes on at the next block (LV2) or message (VST3 latency).
    juce::AudioBuffer<float> buffer (processChannels, o.block);
    juce::MidiBuffer midi;
    for (int i = 0; i < 2; ++i)
    {
        buffer.clear();
        plugin->processBlock (buffer, midi);
        pumpMessages();
    }

    const auto latency = plugin->getLatencySamples();
    const auto skip = o.compensate ? (juce::int64) latency : 0;

    const auto temporary = o.output.getSiblingFile (".tmp-" + o.output.getFileName());
    std::unique_ptr<juce::AudioFormatWriter> writer;
    {
        auto stream = std::make_unique<juce::FileOutputStream> (temporary);
        if (! stream->openedOk() || ! stream->setPosition (0) || ! stream->truncate().wasOk())
            fail (1, "cannot write " + o.output.getFullPathName());
        writer.reset (juce::WavAudioFormat().createWriterFor (stream.get(), rate, (unsigned int) channels,
                                                              o.floatOutput ? 32 : 24, {}, 0));
        if (writer == nullptr)
            fail (1, "cannot write a WAV file at " + juce::String (rate) + " Hz");
        stream.release();
    }

    Meter in, out;
    Progress progress (length, rate);
    juce::AudioBuffer<float> io (channels, o.block);
    float lastBlockLevel = 0.0f;

    // Feed the input, then as much silence as the latency, and drop the first `skip` samples.
    for (juce::int64 pos = 0, written = 0; written < length; pos += o.block)
    {
        const auto n = (int) std::min<juce::int64> (o.block, std::max<juce::int64> (0, length - pos));
        io.clear();
        if (n > 0 && ! reader->read (&io, 0, n, pos, true, channels > 1))
            fail (1, "cannot read " + o.input.getFullPathName() + " at sample " + juce::String (pos));
        in.add (io, 0, n);

        for (int c = 0; c < processChannels; ++c)
            buffer.copyFrom (c, 0, io, std::min (c, channels - 1), 0, o.block);
        plugin->processBlock (buffer, midi);

        const auto start = (int) std::clamp<juce::int64> (skip - pos, 0, o.block);
        const auto count = (int) std::min<juce::int64> (o.block - start, length - written);
        if (count > 0)
        {
            for (int c = 0; c < channels; ++c)
                io.copyFrom (c, 0, buffer, c, start, count);
            out.add (io, 0, count);
            Meter block;
            block.add (io, 0, count);
            lastBlockLevel = (float) std::sqrt (block.sumOfSquares / (double) block.count);
            if (! writer->writeFromAudioSampleBuffer (io, 0, count))
                fail (1, "cannot write " + o.output.getFullPathName());
            written += count;
        }
        progress.update (written);
    }

    writer.reset();
    if (! temporary.moveFileTo (o.output))
        fail (1, "cannot move the finished file to " + o.output.getFullPathName());

    if (o.stateOut != juce::File())
    {
        juce::MemoryBlock state;
        plugin->getStateInformation (state);
        if (! o.stateOut.replaceWithData (state.getData(), state.getSize()))
            fail (1, "cannot write the state file " + o.stateOut.getFullPathName());
    }

    plugin->releaseResources();

    std::cout << o.output.getFileName() << ": in " << in.describe() << "; out " << out.describe()
              << "; latency " << latency << " samples" << (o.compensate ? " (compensated)" : "")
              << "; LED " << korvel::ledColourName (korvel::ledStateFor (lastBlockLevel)) << std::endl;
    return 0;
}
} // namespace

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::CharPointer_UTF8 (argv[i]));

    juce::File temporary;
    try
    {
        const auto options = parse (args);
        temporary = options.output.getSiblingFile (".tmp-" + options.output.getFileName());
        return render (options);
    }
    catch (const Failure& f)
    {
        if (temporary != juce::File())
            temporary.deleteFile();
        if (f.message.isNotEmpty())
            std::cerr << "korvel-render: " << f.message << std::endl;
        return f.code;
    }
}
