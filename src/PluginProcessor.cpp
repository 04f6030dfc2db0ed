#include "PluginProcessor.h"
#include "PluginEditor.h"
#include "PreampMath.h"

namespace
{
using Oversampler = juce::dsp::Oversampling<float>;

juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout()
{
    // ln 0.5 ÷ ln 0.8 puts 0 dB at the middle of the trim knob's travel.
    const auto trimSkew = (float) (std::log (0.5) / std::log (0.8));

    return {
        std::make_unique<juce::AudioParameterFloat> (juce::ParameterID { "gain", 0 }, "Input Gain",
                                                     juce::NormalisableRange<float> (10.0f, 80.0f, 10.0f, 1.0f), 20.0f),
        std::make_unique<juce::AudioParameterFloat> (juce::ParameterID { "trim", 0 }, "Output Trim",
                                                     juce::NormalisableRange<float> (-48.0f, 12.0f, 0.1f, trimSkew), 0.0f),
        std::make_unique<juce::AudioParameterBool> (juce::ParameterID { "phase", 0 }, "Phase Invert", false),
        std::make_unique<juce::AudioParameterBool> (juce::ParameterID { "power", 0 }, "Power", true),
        std::make_unique<juce::AudioParameterChoice> (juce::ParameterID { "oversampling", 0 }, "Oversampling",
                                                      juce::StringArray { "Off", "2x", "4x" }, 0),
    };
}

std::unique_ptr<Oversampler> createOversampler (size_t factorAsPowerOfTwo)
{
    return std::make_unique<Oversampler> (2, factorAsPowerOfTwo, Oversampler::filterHalfBandFIREquiripple,
                                          true, false);
}

float rmsOf (const juce::AudioBuffer<float>& buffer)
{
    float sum = 0.0f;

    for (int c = 0; c < buffer.getNumChannels(); ++c)
        sum = korvel::sumOfSquares (buffer.getReadPointer (c), buffer.getNumSamples(), sum);

    return korvel::levelFromSum (sum, buffer.getNumChannels(), buffer.getNumSamples());
}
} // namespace

KORVELAudioProcessor::KORVELAudioProcessor()
    : AudioProcessor (BusesProperties()
                          .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                          .withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      parameters (*this, nullptr, "Parameters", createParameterLayout()),
      oversampler2x (createOversampler (1)),
      oversampler4x (createOversampler (2)),
      gainValue (parameters.getRawParameterValue ("gain")),
      trimValue (parameters.getRawParameterValue ("trim")),
      phaseValue (parameters.getRawParameterValue ("phase")),
      powerValue (parameters.getRawParameterValue ("power")),
      oversamplingValue (parameters.getRawParameterValue ("oversampling"))
{
    parameters.addParameterListener ("oversampling", this);
}

KORVELAudioProcessor::~KORVELAudioProcessor()
{
    parameters.removeParameterListener ("oversampling", this);
    oversampler4x.reset();
    oversampler2x.reset();
}

const juce::String KORVELAudioProcessor::getName() const { return "KORVEL V2"; }

void KORVELAudioProcessor::prepareToPlay (double, int maximumBlockSize)
{
    // A host that announces no block size still gets buffers; longer blocks are cut to fit.
    preparedBlockSize = std::max (1, maximumBlockSize);

    for (auto* os : { oversampler2x.get(), oversampler4x.get() })
    {
        if (os != nullptr)
        {
            os->initProcessing ((size_t) preparedBlockSize);
            os->reset();
        }
    }

    dcPrevInput = {};
    dcPrevOutput = {};
    bypassDelay.reset();
    updateLatency();
}

void KORVELAudioProcessor::releaseResources() {}

bool KORVELAudioProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    // The filter memory and the oversamplers serve two channels: mono→mono and stereo→stereo only.
    const auto in = layouts.getMainInputChannelSet();
    const auto out = layouts.getMainOutputChannelSet();
    return in == out && (in == juce::AudioChannelSet::mono() || in == juce::AudioChannelSet::stereo());
}

void KORVELAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;

    const auto numChannels = buffer.getNumChannels();
    const auto numSamples = buffer.getNumSamples();
    clearOutputsWithoutInput (buffer);

    if (preparedBlockSize == 0 || numSamples <= preparedBlockSize)
    {
        processPiece (buffer);
        return;
    }

    // The oversamplers hold exactly one prepared block: feed a longer block in pieces,
    // exactly as if the host had sent them one by one.
    for (int start = 0; start < numSamples; start += preparedBlockSize)
    {
        juce::AudioBuffer<float> piece (buffer.getArrayOfWritePointers(), numChannels, start,
                                        std::min (preparedBlockSize, numSamples - start));
        processPiece (piece);
    }
}

void KORVELAudioProcessor::processPiece (juce::AudioBuffer<float>& buffer)
{
    const auto gain = gainValue->load();
    const auto trim = trimValue->load();
    const auto phase = phaseValue->load();
    const auto power = powerValue->load();

    if (korvel::pathForGain (gain) == korvel::Path::mute)
    {
        buffer.clear();
        outputLevel.exchange (0.0f);
        return;
    }

    const auto numSamples = buffer.getNumSamples();
    // Channels beyond the two the chain has memory for are left as they came.
    const auto chainChannels = std::min (buffer.getNumChannels(), korvel::BypassDelay::maxChannels);
    const auto oversamplingIndex = (int) oversamplingValue->load();

    if (power == 0.0f)
    {
        bypass (buffer, oversamplingIndex);
        return;
    }

    bypassDelay.push (buffer.getArrayOfReadPointers(), chainChannels, numSamples);

    juce::dsp::AudioBlock<float> hostBlock (buffer.getArrayOfWritePointers(), (size_t) chainChannels, (size_t) numSamples);
    auto* oversampler = oversamplerFor (oversamplingIndex);
    auto block = oversampler != nullptr ? oversampler->processSamplesUp (hostBlock) : hostBlock;

    // Only the host's channels carry signal: an idle second channel would skew the level.
    if (block.getNumChannels() > (size_t) chainChannels)
        block = block.getSubsetChannelBlock (0, (size_t) chainChannels);

    const auto& values = blockValues.get (gain, trim, phase, getSampleRate(), oversamplingIndex);
    const auto blockChannels = (int) block.getNumChannels();
    const auto blockSamples = (int) block.getNumSamples();
    float sum = 0.0f;

    for (int c = 0; c < blockChannels && blockSamples > 0; ++c)
    {
        auto* samples = block.getChannelPointer ((size_t) c);
        auto& prevIn = dcPrevInput[(size_t) c];
        auto& prevOut = dcPrevOutput[(size_t) c];

        sum = korvel::processChannel (samples, blockSamples, values, prevIn, prevOut, sum);
    }

    if (oversampler != nullptr)
        oversampler->processSamplesDown (hostBlock);

    outputLevel.exchange (korvel::levelFromSum (sum, blockChannels, blockSamples));
}

void KORVELAudioProcessor::processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    // The host's bypass keeps time like the power switch: the filters and oversamplers keep
    // their memory, so processing continues where it stopped.
    juce::ScopedNoDenormals noDenormals;
    clearOutputsWithoutInput (buffer);
    bypass (buffer, (int) oversamplingValue->load());
}

void KORVELAudioProcessor::clearOutputsWithoutInput (juce::AudioBuffer<float>& buffer) const
{
    for (auto c = getTotalNumInputChannels(); c < std::min (getTotalNumOutputChannels(), buffer.getNumChannels()); ++c)
        buffer.clear (c, 0, buffer.getNumSamples());
}

void KORVELAudioProcessor::bypass (juce::AudioBuffer<float>& buffer, int oversamplingIndex)
{
    // The input as it came, delayed by the reported latency so that the host's delay
    // compensation still lines the track up; the level is the input's.
    outputLevel.exchange (rmsOf (buffer));
    bypassDelay.process (buffer.getArrayOfWritePointers(), std::min (buffer.getNumChannels(), korvel::BypassDelay::maxChannels),
                         buffer.getNumSamples(), latencyFor (oversamplingIndex));
}

juce::dsp::Oversampling<float>* KORVELAudioProcessor::oversamplerFor (int oversamplingIndex) const noexcept
{
    if (oversamplingIndex == 1)
        return oversampler2x.get();
    if (oversamplingIndex == 2)
        return oversampler4x.get();
    return nullptr;
}

int KORVELAudioProcessor::latencyFor (int oversamplingIndex) const noexcept
{
    // Whole host samples; the 4x path's half sample is dropped.
    if (auto* os = oversamplerFor (oversamplingIndex))
        return (int) os->getLatencyInSamples();
    return 0;
}

void KORVELAudioProcessor::updateLatency()
{
    setLatencySamples (latencyFor ((int) oversamplingValue->load()));
}

double KORVELAudioProcessor::getTailLengthSeconds() const { return 0.0; }
bool KORVELAudioProcessor::acceptsMidi() const { return false; }
bool KORVELAudioProcessor::producesMidi() const { return false; }
bool KORVELAudioProcessor::isMidiEffect() const { return false; }

juce::AudioProcessorEditor* KORVELAudioProcessor::createEditor() { return new KORVELAudioProcessorEditor (*this); }
bool KORVELAudioProcessor::hasEditor() const { return true; }

int KORVELAudioProcessor::getNumPrograms() { return 1; }
int KORVELAudioProcessor::getCurrentProgram() { return 0; }
void KORVELAudioProcessor::setCurrentProgram (int) {}
const juce::String KORVELAudioProcessor::getProgramName (int) { return {}; }
void KORVELAudioProcessor::changeProgramName (int, const juce::String&) {}

void KORVELAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    if (auto xml = parameters.copyState().createXml())
        copyXmlToBinary (*xml, destData);
}

void KORVELAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    const auto xml = getXmlFromBinary (data, sizeInBytes);

    if (xml == nullptr || ! xml->getTagName().equalsIgnoreCase (parameters.state.getType().toString()))
        return;

    auto tree = juce::ValueTree::fromXml (*xml);
    static const juce::Identifier idKey ("id"), valueKey ("value"), childType ("PARAM");

    // JUCE 7 would reset a parameter the state lacks to its default and leave its new
    // child without a value, which the next save would then lose. Complete the tree first:
    // a child without a value means the default, a missing parameter keeps its value.
    auto sortedParameters = getParameters();
    std::sort (sortedParameters.begin(), sortedParameters.end(), [] (auto* a, auto* b) { return static_cast<juce::RangedAudioParameter*> (a)->getParameterID()
                                                                                                < static_cast<juce::RangedAudioParameter*> (b)->getParameterID(); });

    for (auto* p : sortedParameters)
    {
        auto* param = static_cast<juce::RangedAudioParameter*> (p);
        auto child = tree.getChildWithProperty (idKey, param->getParameterID());

        if (! child.isValid())
            tree.appendChild (juce::ValueTree (childType, { { idKey, param->getParameterID() }, { valueKey, param->convertFrom0to1 (param->getValue()) } }), nullptr);
        else if (! child.hasProperty (valueKey))
            child.setProperty (valueKey, param->convertFrom0to1 (param->getDefaultValue()), nullptr);
    }

    parameters.replaceState (tree);

    // Every value in its canonical form, so the next save writes "30.0" and not the "25" it read.
    for (auto* p : sortedParameters)
    {
        const auto id = static_cast<juce::RangedAudioParameter*> (p)->getParameterID();
        parameters.state.getChildWithProperty (idKey, id).setProperty (valueKey, parameters.getRawParameterValue (id)->load(), nullptr);
    }
}

void KORVELAudioProcessor::parameterChanged (const juce::String& parameterID, float)
{
    if (parameterID == "oversampling")
        updateLatency();
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new KORVELAudioProcessor();
}
