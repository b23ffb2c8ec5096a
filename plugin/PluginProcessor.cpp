#include "PluginProcessor.h"
#include "PluginEditor.h"

namespace
{
    juce::String bandId (const Layout::Parameter& record, int band)
    {
        return record.id + juce::String (band);
    }
} // namespace

//==============================================================================
VyxAudioProcessor::CompParameters::CompParameters (cvx::State& state, int band, bool isDown)
    : threshold (state, bandId (isDown ? Layout::THRESH_DOWN : Layout::THRESH_UP, band)),
      ratio (state, bandId (isDown ? Layout::RATIO_DOWN : Layout::RATIO_UP, band))
{
}

void VyxAudioProcessor::CompParameters::pull()
{
    threshold.pull();
    ratio.pull();
}

VyxAudioProcessor::BandParameters::BandParameters (cvx::State& state, int band)
    : crossover (state, bandId (Layout::CROSS_R, band)),
      down (state, band, true),
      up (state, band, false)
{
}

void VyxAudioProcessor::BandParameters::pull()
{
    crossover.pull();
    down.pull();
    up.pull();
}

VyxAudioProcessor::Parameters::Parameters (cvx::State& state)
    : inGain (state, Layout::IN_GAIN.id),
      dryGain (state, Layout::DRY_GAIN.id),
      wetGain (state, Layout::WET_GAIN.id),
      mix (state, Layout::MIX_PERCENT.id),
      outGain (state, Layout::OUT_GAIN.id),
      attack (state, bandId (Layout::ATTACK_DOWN, 0)),
      release (state, bandId (Layout::RELEASE_DOWN, 0)),
      numBands (state, Layout::NUM_BANDS.id)
{
    bands.reserve (Layout::numBands);
    for (int b = 0; b < Layout::numBands; ++b)
        bands.push_back (std::make_unique<BandParameters> (state, b));
}

void VyxAudioProcessor::Parameters::pull()
{
    inGain.pull();
    dryGain.pull();
    wetGain.pull();
    mix.pull();
    outGain.pull();
    attack.pull();
    release.pull();
    numBands.pull();
    for (auto& band : bands)
        band->pull();
}

//==============================================================================
namespace
{
    float thresholdToLinear (float decibels) noexcept
    {
        return juce::jlimit (0.0f, 1.0f, cvx::dsp::decibelsToGain (decibels));
    }

    /** Runs a smoothed gain over a block in slices. The framework's gain puts one ramp value
        per sample on the stack for a multi-channel block; at 8x with large host blocks that
        is hundreds of kilobytes, more than an audio thread's stack may hold. The ramp goes on
        across the slices, so the result is the same. */
    void applyGain (juce::dsp::Gain<float>& gain, juce::dsp::AudioBlock<float> block) noexcept
    {
        // A gain resting at unity leaves every sample as it is (0 dB is where input and output
        // gains usually sit).
        if (! gain.isSmoothing() && gain.getGainLinear() == 1.0f)
            return;

        constexpr size_t slice = 256;
        for (size_t start = 0; start < block.getNumSamples(); start += slice)
        {
            auto part = block.getSubBlock (start, std::min (slice, block.getNumSamples() - start));
            gain.process (juce::dsp::ProcessContextReplacing<float> (part));
        }
    }

    /** sum[i .. i + width - 1] := bands[0] + bands[1] + ... + bands[count - 1] there, added in
        band order, for a Value of one sample or four. */
    template <typename Value>
    forcedinline void sumFrames (const float* const* bands, int count, float* sum, int i) noexcept
    {
        using namespace cvx::dsp::lanes;

        auto total = loadValue<Value> (bands[0] + i);
        for (int b = 1; b < count; ++b)
            total = total + loadValue<Value> (bands[b] + i);
        store (sum + i, total);
    }

    /** sum := the sum of count bands (count at least 1). Four samples of every band at a time
        where the processor has SSE, so each sum is stored once: at small blocks a pass per band
        costs more in loop overhead than in additions. */
    void sumChannels (const float* const* bands, int count, float* sum, int numSamples) noexcept
    {
        int i = 0;

       #if CVX_USE_SSE_INTRINSICS
        for (; i + 4 <= numSamples; i += 4)
            sumFrames<cvx::dsp::lanes::Lanes> (bands, count, sum, i);
       #endif

        for (; i < numSamples; ++i)
            sumFrames<float> (bands, count, sum, i);
    }

    juce::dsp::AudioBlock<float> firstSamples (juce::AudioBuffer<float>& buffer, int numChannels, int numSamples)
    {
        return juce::dsp::AudioBlock<float> (buffer).getSubsetChannelBlock (0, (size_t) numChannels)
                                                    .getSubBlock (0, (size_t) numSamples);
    }
} // namespace

VyxAudioProcessor::VyxAudioProcessor (juce::AudioProcessorValueTreeState::ParameterLayout layout)
    : cvx::AudioProcessor (std::move (layout)),
      getCompMeter ([this] (int band, float& level, float& compressedLevel) { readMeters (band, level, compressedLevel); }),
      parameters (state),
      switches (state.properties, state.attributes)
{
    crossoverList.reserve (maxBands);

    // Factory crossovers, written as set-and-notify without a gesture.
    const std::pair<int, float> factoryCrossovers[] { { 0, 550.0f }, { 1, 2500.0f }, { 2, 20000.0f } };
    for (const auto& [band, frequency] : factoryCrossovers)
    {
        if (auto* p = state.parameters.getParameter (bandId (Layout::CROSS_R, band)))
        {
            const float normalised = p->convertTo0to1 (frequency);
            p->setValue (normalised);
            p->sendValueChangedMessageToListeners (normalised);
        }
    }
}

VyxAudioProcessor::~VyxAudioProcessor()
{
    detachQueuedTasks();
}

//==============================================================================
VyxAudioProcessor::Switches::Switches (juce::ValueTree tree, juce::ValueTree attributeTree)
    : properties (std::move (tree)),
      attributes (std::move (attributeTree))
{
    properties.addListener (this);
    attributes.addListener (this);
    update();
}

VyxAudioProcessor::Switches::~Switches()
{
    properties.removeListener (this);
    attributes.removeListener (this);
}

void VyxAudioProcessor::Switches::update()
{
    // Readers apply their own defaults: mix and output mode, limiter on.
    dryWet = (bool) properties.getProperty (Properties::dryWet, false);
    limiter = (bool) properties.getProperty (Properties::limiter, true);
    // Only a damaged state could hold another value; treat it as the nearest valid choice.
    oversampling = juce::jlimit (0, 3, (int) attributes.getProperty (Attributes::oversampler, 0));
}

juce::AudioProcessorEditor* VyxAudioProcessor::createEditor()
{
    return new VyxAudioProcessorEditor (*this);
}

//==============================================================================
VyxAudioProcessor::OversamplingStage VyxAudioProcessor::getOversamplingStage (int stage) noexcept
{
    constexpr OversamplingStage first { 0.05f, -90.0f, 0.06f, -75.0f };
    constexpr OversamplingStage later { 0.1f, -90.0f, 0.12f, -75.0f };
    constexpr float stopbandRisePerStage = 10.0f;  // dB

    if (stage <= 1)
        return first;

    const float rise = stopbandRisePerStage * (float) (stage - 1);
    return { later.upTransition, rise + later.upStopband, later.downTransition, rise + later.downStopband };
}

float VyxAudioProcessor::downwardRatio (float parameterRatio) noexcept
{
    return std::max (2.0f * (parameterRatio - 1.0f) + 1.0f, 1.0f);
}

void VyxAudioProcessor::prepare (cvx::ProcessSpec setup)
{
    const int stages = switches.oversampling.load();

    const int numInputs = std::max (1, getTotalNumInputChannels());
    const int numChannels = std::max (1, std::min (setup.numChannels, 4));
    const int maxBlock = std::max (1, setup.maximumBlockSize);

    prepareOversampler (stages, numInputs, maxBlock);

    const double rate = setup.sampleRate * oversamplingFactor;
    const int oversampledBlock = maxBlock * oversamplingFactor;
    const juce::dsp::ProcessSpec oversampled { rate, (juce::uint32) oversampledBlock, (juce::uint32) numChannels };
    engineSpec = setup;

    for (auto* gain : { &inputGain, &dryGain, &wetGain })
    {
        gain->setRampDurationSeconds (gainRampSeconds);
        gain->prepare (oversampled);
    }

    dryBuffer.setSize (numChannels, oversampledBlock, false, false, true);
    sumBuffer.setSize (numChannels, oversampledBlock, false, false, true);

    const int hostLookahead = (int) (setup.sampleRate * (double) lookaheadTime);
    lookaheadSamples = oversamplingFactor * hostLookahead;

    splitter.prepare (oversampled);
    sidechainSplitter.prepare (oversampled);
    prepareCompressors (oversampled);
    dryDelay.prepare (numChannels, lookaheadSamples);

    limiter.setCeiling (limiterCeiling);
    limiter.setRelease (limiterReleaseMilliseconds);
    limiter.prepare ({ rate, (juce::uint32) oversampledBlock, 1 });

    inputSpectrum.prepare ((float) rate, oversampledBlock);
    outputSpectrum.prepare ((float) rate, oversampledBlock);

    // The framework notifies the host only when the value changes.
    setLatencySamples ((int) (oversampler->getLatencyInSamples() + (float) hostLookahead));
}

void VyxAudioProcessor::prepareOversampler (int stages, int numInputs, int maxBlock)
{
    auto newOversampler = std::make_unique<cvx::dsp::Oversampler> ((size_t) numInputs);
    if (stages == 0)
        newOversampler->addDummyOversamplingStage();

    for (int stage = 1; stage <= stages; ++stage)
    {
        const auto filters = getOversamplingStage (stage);
        newOversampler->addOversamplingStage (filters.upTransition, filters.upStopband,
                                              filters.downTransition, filters.downStopband);
    }

    newOversampler->setUsingIntegerLatency (true);
    newOversampler->initProcessing ((size_t) maxBlock);
    oversampler = std::move (newOversampler);
    oversamplerChannels = numInputs;
    oversamplingFactor = 1 << stages;
}

void VyxAudioProcessor::prepareCompressors (const juce::dsp::ProcessSpec& oversampled)
{
    std::vector<std::unique_ptr<cvx::dsp::Compressor>> newUpward, newDownward;
    for (int band = 0; band < maxBands; ++band)
    {
        auto up = std::make_unique<cvx::dsp::Compressor> (cvx::dsp::Compressor::upward);
        up->prepare (oversampled, lookaheadTime);
        up->setLookahead ((float) lookaheadSamples / up->getSampleRate());
        up->setAttack (8.0f);
        newUpward.push_back (std::move (up));

        auto down = std::make_unique<cvx::dsp::Compressor> (cvx::dsp::Compressor::downward);
        down->prepare (oversampled, 0.0f);
        newDownward.push_back (std::move (down));
    }

    // The editor may be reading meters right now.
    const juce::SpinLock::ScopedLockType sl (meterLock);
    std::swap (upward, newUpward);
    std::swap (downward, newDownward);
}

//==============================================================================
void VyxAudioProcessor::process (cvx::ProcessBlock<float>& block)
{
    parameters.pull();

    if (oversampler == nullptr)
        return;

    // Hosts may deliver more samples than announced: work in pieces the buffers can hold.
    // Pieces are also kept short enough at the oversampled rate that the band buffers a piece
    // passes through stay in the processor's caches from one stage to the next.
    const int total = (int) block.main.getNumSamples();
    const int maximum = std::max (1, std::min (engineSpec.maximumBlockSize, pieceFrames / oversamplingFactor));
    for (int start = 0; start < total; start += maximum)
        processChunk (block, start, std::min (maximum, total - start));
}

void VyxAudioProcessor::processChunk (cvx::ProcessBlock<float>& block, int start, int numSamples)
{
    const int numChannels = std::min ((int) block.main.getNumChannels(), dryBuffer.getNumChannels());
    if (numChannels == 0 || numSamples == 0)
        return;

    const auto settings = readSettings (block);

    auto chunk = upsampleAndRoute (block, start, numSamples, numChannels, settings.sidechain);

    if (settings.dryPathOn)
        captureDryPath (chunk.main, chunk.numFrames);

    applyInputGain (chunk.main, settings.inputDecibels, settings.sidechain);
    inputSpectrum.pushBlock (chunk.inputView);

    splitIntoBands (chunk.main, chunk.inputView, settings.numBands, settings.sidechain);
    compressBands (settings.numBands, chunk.numChannels, chunk.numFrames, settings.sidechain,
                   settings.attackMilliseconds, settings.releaseMilliseconds);

    auto sum = sumBands (settings.numBands, chunk.numChannels, chunk.numFrames);
    const auto levels = getMixLevels (settings.dryWetMode, settings.dryDecibels, settings.wetDecibels,
                                      settings.mixPercent, settings.outputDecibels);
    applyWetGain (sum, levels.wetDecibels);
    outputSpectrum.pushBlock (sum);

    if (settings.dryPathOn)
        mixDryPath (sum, settings.numBands, levels.dryDecibels);

    if (settings.limiterOn)
        limiter.process (juce::dsp::ProcessContextReplacing<float> (sum));

    downsample (chunk, sum, settings.limiterOn);
}

VyxAudioProcessor::ChunkSettings VyxAudioProcessor::readSettings (const cvx::ProcessBlock<float>& block) const noexcept
{
    ChunkSettings settings;
    settings.sidechain = block.sidechain.getNumChannels() > 0
                         && block.sidechain.getNumSamples() == block.main.getNumSamples();
    settings.dryWetMode = switches.dryWet.load();
    settings.limiterOn = switches.limiter.load();
    settings.inputDecibels = parameters.inGain.getModulated();
    settings.dryDecibels = parameters.dryGain.getModulated();
    settings.wetDecibels = parameters.wetGain.getModulated();
    settings.mixPercent = parameters.mix.getModulated();
    settings.outputDecibels = parameters.outGain.getModulated();
    settings.attackMilliseconds = parameters.attack.getModulated();
    settings.releaseMilliseconds = parameters.release.getModulated();
    settings.numBands = juce::jlimit (1, maxBands, parameters.numBands.getModulated());

    // The dry path runs unless it would be silent: the "DRY" fader at the bottom of its range
    // in dry/wet mode, the mix fully wet otherwise.
    settings.dryPathOn = settings.dryWetMode ? settings.dryDecibels > Layout::DRY_GAIN.range.start
                                             : settings.mixPercent < Layout::MIX_PERCENT.range.end;
    return settings;
}

VyxAudioProcessor::OversampledChunk VyxAudioProcessor::upsampleAndRoute (cvx::ProcessBlock<float>& block, int start,
                                                                         int numSamples, int numChannels, bool sidechain)
{
    // The channel list: the main channels, then the key's, all resampled together. The
    // oversampler was built for the bus layout of the last preparation.
    int numListed = 0;
    const int capacity = std::min ((int) channelList.size(), oversamplerChannels);
    for (int ch = 0; ch < numChannels && numListed < capacity; ++ch)
        channelList[(size_t) numListed++] = block.main.getChannelPointer ((size_t) ch) + start;

    const int numKeyChannels = sidechain ? (int) block.sidechain.getNumChannels() : 0;
    for (int ch = 0; ch < numKeyChannels && numListed < capacity; ++ch)
        channelList[(size_t) numListed++] = block.sidechain.getChannelPointer ((size_t) ch) + start;

    OversampledChunk chunk;
    chunk.hostChannels = juce::dsp::AudioBlock<float> (channelList.data(), (size_t) numListed, (size_t) numSamples);
    chunk.numFrames = numSamples * oversamplingFactor;

    auto upsampled = oversampler->processSamplesUp (chunk.hostChannels);
    upsampled = upsampled.getSubsetChannelBlock (0, std::min ((size_t) numListed, upsampled.getNumChannels()));
    const int numUpsampled = (int) upsampled.getNumChannels();
    chunk.numChannels = std::min (numChannels, numUpsampled);

    // With a key, the input analyser and the key split see the key's channels.
    chunk.main = upsampled.getSubsetChannelBlock (0, (size_t) chunk.numChannels);
    chunk.inputView = sidechain && numUpsampled > chunk.numChannels
                          ? upsampled.getSubsetChannelBlock ((size_t) chunk.numChannels,
                                                             (size_t) (numUpsampled - chunk.numChannels))
                          : chunk.main;
    return chunk;
}

void VyxAudioProcessor::captureDryPath (const juce::dsp::AudioBlock<float>& main, int numFrames)
{
    // Before the input gain: the dry path carries the input as it came.
    for (size_t ch = 0; ch < main.getNumChannels(); ++ch)
        dryBuffer.copyFrom ((int) ch, 0, main.getChannelPointer (ch), numFrames);
}

void VyxAudioProcessor::applyInputGain (const juce::dsp::AudioBlock<float>& main, float decibels, bool sidechain)
{
    inputGain.setGainLinear (inConversion (decibels, cvx::dsp::decibelsToGain));

    // With a key the input gain does not act: the key, not the input level, drives the
    // downward compression.
    if (! sidechain)
        applyGain (inputGain, main);
}

void VyxAudioProcessor::splitIntoBands (const juce::dsp::AudioBlock<float>& main, const juce::dsp::AudioBlock<float>& key,
                                        int numBands, bool sidechain)
{
    // A crossover above half the host rate is used as half the host rate, whatever the
    // oversampling.
    crossoverList.resize ((size_t) numBands);
    const float halfHostRate = (float) (0.5 * engineSpec.sampleRate);
    for (int band = 0; band < numBands; ++band)
        crossoverList[(size_t) band] = std::min (parameters.bands[(size_t) band]->crossover.getModulated(), halfHostRate);

    splitter.updateCrossovers (crossoverList);
    splitter.numBands = numBands;
    sidechainSplitter.numBands = numBands;

    if (sidechain && main.getNumChannels() <= 2 && key.getNumChannels() <= 2)
    {
        // A stereo signal fills half of each four-lane register; the key rides in the other
        // half, so one pass over the crossovers splits both.
        splitter.processWithKey (main, key, sidechainSplitter);
    }
    else if (sidechain)
    {
        splitter.process (main);
        sidechainSplitter.updateCrossovers (crossoverList);
        sidechainSplitter.process (key);
    }
    else
    {
        splitter.process (main);
        for (int band = 0; band < numBands; ++band)
            sidechainSplitter.getBand (band).clear();
    }
}

void VyxAudioProcessor::compressBands (int numBands, int numChannels, int numFrames, bool sidechain,
                                       float attackMilliseconds, float releaseMilliseconds)
{
    // Every band's compressors, upward first: the bands are independent, so the detectors of
    // all bands are fed side by side in one pass per direction.
    std::array<juce::dsp::AudioBlock<float>, maxBands> compressed, detectorSources;
    std::array<cvx::dsp::Compressor*, maxBands> ups {}, downs {};
    const float upwardAttack = upwardAttackFactor * lookaheadTime;

    for (int band = 0; band < numBands; ++band)
    {
        const auto index = (size_t) band;
        const auto& values = *parameters.bands[index];
        compressed[index] = firstSamples (splitter.getBand (band), numChannels, numFrames);
        detectorSources[index] = sidechain ? firstSamples (sidechainSplitter.getBand (band), numChannels, numFrames)
                                           : compressed[index];

        auto& up = *(ups[index] = upward[index].get());
        up.setAttack (upwardAttack);
        up.setRelease (releaseMilliseconds);
        up.setThreshold (upThresholdConversions[index] (values.up.threshold.getModulated(), thresholdToLinear));
        // With a key there is no upward compression.
        up.setRatio (sidechain ? 1.0f : std::max (values.up.ratio.getModulated(), 1.0f));

        auto& down = *(downs[index] = downward[index].get());
        down.setAttack (attackMilliseconds);
        down.setRelease (releaseMilliseconds);
        down.setThreshold (downThresholdConversions[index] (values.down.threshold.getModulated(), thresholdToLinear));
        down.setRatio (downwardRatio (values.down.ratio.getModulated()));
    }

    cvx::dsp::Compressor::feedDetectors (ups.data(), detectorSources.data(), numBands);
    for (int band = 0; band < numBands; ++band)
        ups[(size_t) band]->applyCompression (compressed[(size_t) band]);

    // Without a key the downward detectors listen to the upward-compressed, delayed band.
    cvx::dsp::Compressor::feedDetectors (downs.data(), detectorSources.data(), numBands);
    for (int band = 0; band < numBands; ++band)
        downs[(size_t) band]->applyCompression (compressed[(size_t) band]);
}

juce::dsp::AudioBlock<float> VyxAudioProcessor::sumBands (int numBands, int numChannels, int numFrames)
{
    for (int ch = 0; ch < numChannels; ++ch)
    {
        std::array<const float*, maxBands> bandChannels;
        for (int band = 0; band < numBands; ++band)
            bandChannels[(size_t) band] = splitter.getBand (band).getReadPointer (ch);

        sumChannels (bandChannels.data(), numBands, sumBuffer.getWritePointer (ch), numFrames);
    }

    return firstSamples (sumBuffer, numChannels, numFrames);
}

VyxAudioProcessor::MixLevels VyxAudioProcessor::getMixLevels (bool dryWetMode, float dryDecibels, float wetDecibels,
                                                              float mixPercent, float outputDecibels) noexcept
{
    if (dryWetMode)
        return { wetDecibels, dryDecibels };

    // Mix and output: the mix shares the level between the paths, the output gain acts on both.
    const float wetShare = mixPercent / 100.0f;
    return { mixWetConversion (wetShare, cvx::dsp::gainToDecibels) + outputDecibels,
             mixDryConversion (1.0f - wetShare, cvx::dsp::gainToDecibels) + outputDecibels };
}

void VyxAudioProcessor::applyWetGain (const juce::dsp::AudioBlock<float>& sum, float decibels)
{
    wetGain.setGainLinear (wetConversion (decibels, cvx::dsp::decibelsToGain));
    applyGain (wetGain, sum);
}

void VyxAudioProcessor::mixDryPath (juce::dsp::AudioBlock<float>& sum, int numBands, float decibels)
{
    auto dryBlock = firstSamples (dryBuffer, (int) sum.getNumChannels(), (int) sum.getNumSamples());

    // The lookahead that delays the wet path delays the dry path as well.
    dryDelay.process (dryBlock);

    // The dry signal takes the same phase as the summed bands: the all-pass of every
    // crossover in use.
    auto& simd = splitter.getSIMDInterface();
    auto registers = simd.getRegisterBlock().getSubBlock (0, dryBlock.getNumSamples());
    simd.toSIMD (dryBlock, registers);
    splitter.processAllPassChain (registers, numBands);
    simd.fromSIMD (registers, dryBlock);

    dryGain.setGainLinear (dryConversion (decibels, cvx::dsp::decibelsToGain));
    applyGain (dryGain, dryBlock);

    sum.add (dryBlock);
}

void VyxAudioProcessor::downsample (const OversampledChunk& chunk, const juce::dsp::AudioBlock<float>& sum, bool limiterOn)
{
    for (size_t ch = 0; ch < sum.getNumChannels(); ++ch)
        juce::FloatVectorOperations::copy (chunk.main.getChannelPointer (ch), sum.getChannelPointer (ch),
                                           (int) sum.getNumSamples());

    auto hostChannels = chunk.hostChannels;
    oversampler->processSamplesDown (hostChannels);

    // The limiter holds its ceiling at the oversampled rate, but the down-sampling filter
    // rings past it on loud, bright material (by up to about 15 %): hold the ceiling at the
    // host rate as well, so the output never exceeds what the limiter promises.
    if (limiterOn && oversamplingFactor > 1)
        for (size_t ch = 0; ch < hostChannels.getNumChannels(); ++ch)
            juce::FloatVectorOperations::clip (hostChannels.getChannelPointer (ch), hostChannels.getChannelPointer (ch),
                                               -limiterCeiling, limiterCeiling, (int) hostChannels.getNumSamples());
}

void VyxAudioProcessor::readMeters (int band, float& level, float& compressedLevel)
{
    level = 0.0f;
    compressedLevel = 0.0f;

    const juce::SpinLock::ScopedLockType sl (meterLock);
    if (band < 0 || band >= (int) upward.size() || band >= (int) downward.size())
        return;

    // Channel means over the channels that exist, so a mono band reads its own level.
    const auto mean = [] (const cvx::dsp::Compressor& c, bool envelope)
    {
        const int channels = std::min (c.getNumMeters(), 2);
        if (channels == 0)
            return 0.0f;
        float sum = 0.0f;
        for (int ch = 0; ch < channels; ++ch)
            sum += envelope ? c.getEnvelopeMeter (ch) : c.getGainMeter (ch);
        return sum / (float) channels;
    };

    level = mean (*upward[(size_t) band], true);
    const float up = mean (*upward[(size_t) band], false);
    const float down = mean (*downward[(size_t) band], false);
    compressedLevel = down * (level * up);
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new VyxAudioProcessor (Layout::createParameterLayout());
}
