#include "PluginProcessor.h"
#include "PluginEditor.h"

#if JUCE_USE_SSE_INTRINSICS
 #include <xmmintrin.h>
#endif

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
    /** dB to linear; -100 dB and below are silence. */
    float decibelsToGain (float dB) noexcept
    {
        return dB > -100.0f ? std::pow (10.0f, dB / 20.0f) : 0.0f;
    }

    float thresholdToLinear (float dB) noexcept
    {
        return juce::jlimit (0.0f, 1.0f, decibelsToGain (dB));
    }

    /** A mix fraction in dB, floored at -100. */
    float fractionToDecibels (float x) noexcept
    {
        return x > 0.0f ? std::max (20.0f * std::log10 (x), -100.0f) : -100.0f;
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

    /** sum[i] := bands[0][i] + bands[1][i] + ... + bands[count - 1][i], added in band order
        (count at least 1). Four samples of every band at a time, so each sum is stored once:
        at small blocks a pass per band costs more in loop overhead than in additions. */
    void sumChannels (const float* const* bands, int count, float* sum, int numSamples) noexcept
    {
        int i = 0;

       #if JUCE_USE_SSE_INTRINSICS
        for (; i + 4 <= numSamples; i += 4)
        {
            auto total = _mm_loadu_ps (bands[0] + i);
            for (int b = 1; b < count; ++b)
                total = _mm_add_ps (total, _mm_loadu_ps (bands[b] + i));
            _mm_storeu_ps (sum + i, total);
        }
       #endif

        for (; i < numSamples; ++i)
        {
            float total = bands[0][i];
            for (int b = 1; b < count; ++b)
                total += bands[b][i];
            sum[i] = total;
        }
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

void VyxAudioProcessor::prepare (cvx::ProcessSpec setup)
{
    const int stages = switches.oversampling.load();

    const int numInputs = std::max (1, getTotalNumInputChannels());
    const int numChannels = std::max (1, std::min (setup.numChannels, 4));
    const int maxBlock = std::max (1, setup.maximumBlockSize);

    auto newOversampler = std::make_unique<cvx::dsp::Oversampler> ((size_t) numInputs);
    if (stages == 0)
        newOversampler->addDummyOversamplingStage();
    for (int k = 1; k <= stages; ++k)
    {
        if (k == 1)
            newOversampler->addOversamplingStage (0.05f, -90.0f, 0.06f, -75.0f);
        else
            newOversampler->addOversamplingStage (0.1f, 10.0f * (float) (k - 1) - 90.0f,
                                                  0.12f, 10.0f * (float) (k - 1) - 75.0f);
    }
    newOversampler->setUsingIntegerLatency (true);
    newOversampler->initProcessing ((size_t) maxBlock);
    oversampler = std::move (newOversampler);
    oversamplerChannels = numInputs;

    oversamplingFactor = 1 << stages;
    const double rate = setup.sampleRate * oversamplingFactor;
    const int oversampledBlock = maxBlock * oversamplingFactor;
    const juce::dsp::ProcessSpec oversampled { rate, (juce::uint32) oversampledBlock, (juce::uint32) numChannels };
    engineSpec = setup;

    for (auto* gain : { &inputGain, &dryGain, &wetGain })
    {
        gain->setRampDurationSeconds (0.002);
        gain->prepare (oversampled);
    }

    dryBuffer.setSize (numChannels, oversampledBlock, false, false, true);
    sumBuffer.setSize (numChannels, oversampledBlock, false, false, true);

    const int hostLookahead = (int) (setup.sampleRate * (double) lookaheadTime);
    lookaheadSamples = oversamplingFactor * hostLookahead;

    splitter.prepare (oversampled);
    sidechainSplitter.prepare (oversampled);

    std::vector<std::unique_ptr<cvx::dsp::Compressor>> newUpward, newDownward;
    for (int b = 0; b < maxBands; ++b)
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
    {
        // The editor may be reading meters right now.
        const juce::SpinLock::ScopedLockType sl (meterLock);
        std::swap (upward, newUpward);
        std::swap (downward, newDownward);
    }

    dryDelay.prepare (numChannels, lookaheadSamples);

    limiterDetector.setSize (1, oversampledBlock, false, false, true);
    limiterSampleRate = (float) rate;
    limiterRelease = std::exp (-1.0f / (0.002f * limiterSampleRate));
    limiterAttack = 0.0f;
    limiterEnvelope = 0.0f;

    inputSpectrum.prepare ((float) rate, oversampledBlock);
    outputSpectrum.prepare ((float) rate, oversampledBlock);

    // The framework notifies the host only when the value changes.
    setLatencySamples ((int) (oversampler->getLatencyInSamples() + (float) hostLookahead));
}

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
    const int F = oversamplingFactor;
    const int N = numSamples * F;
    const int C = std::min ((int) block.main.getNumChannels(), dryBuffer.getNumChannels());
    if (C == 0 || numSamples == 0)
        return;

    const bool sidechain = block.sidechain.getNumChannels() > 0
                           && block.sidechain.getNumSamples() == block.main.getNumSamples();
    const bool dryWetMode = switches.dryWet.load();
    const bool limiterOn = switches.limiter.load();

    const float in = parameters.inGain.getModulated();
    const float dry = parameters.dryGain.getModulated();
    const float wet = parameters.wetGain.getModulated();
    const float mix = parameters.mix.getModulated();
    const float out = parameters.outGain.getModulated();
    const float attack = parameters.attack.getModulated();
    const float release = parameters.release.getModulated();
    const int n = juce::jlimit (1, maxBands, parameters.numBands.getModulated());

    dryBuffer.clear (0, N);

    // Channel list: the main channels, then the sidechain's, all resampled together.
    int numListed = 0;
    // The oversampler was built for the bus layout of the last preparation.
    const int capacity = std::min ((int) channelList.size(), oversamplerChannels);
    for (int ch = 0; ch < C && numListed < capacity; ++ch)
        channelList[(size_t) numListed++] = block.main.getChannelPointer ((size_t) ch) + start;
    const int numSidechain = sidechain ? (int) block.sidechain.getNumChannels() : 0;
    for (int ch = 0; ch < numSidechain && numListed < capacity; ++ch)
        channelList[(size_t) numListed++] = block.sidechain.getChannelPointer ((size_t) ch) + start;

    juce::dsp::AudioBlock<float> hostView (channelList.data(), (size_t) numListed, (size_t) numSamples);
    auto upsampled = oversampler->processSamplesUp (hostView);
    upsampled = upsampled.getSubsetChannelBlock (0, std::min ((size_t) numListed, upsampled.getNumChannels()));
    const int osChannels = (int) upsampled.getNumChannels();
    const int mainChannels = std::min (C, osChannels);

    auto mainView = upsampled.getSubsetChannelBlock (0, (size_t) mainChannels);
    auto inputView = sidechain && osChannels > mainChannels
                         ? upsampled.getSubsetChannelBlock ((size_t) mainChannels, (size_t) (osChannels - mainChannels))
                         : mainView;

    const bool dryOn = dryWetMode ? dry > Layout::DRY_GAIN.range.start : mix < Layout::MIX_PERCENT.range.end;
    if (dryOn)
        for (int ch = 0; ch < mainChannels; ++ch)
            dryBuffer.copyFrom (ch, 0, mainView.getChannelPointer ((size_t) ch), N);

    inputGain.setGainLinear (inConversion (in, decibelsToGain));
    if (! sidechain)
        applyGain (inputGain, mainView);

    inputSpectrum.pushBlock (inputView);

    crossoverList.resize ((size_t) n);
    const float nyquist = (float) (0.5 * engineSpec.sampleRate);
    for (int b = 0; b < n; ++b)
        crossoverList[(size_t) b] = std::min (parameters.bands[(size_t) b]->crossover.getModulated(), nyquist);

    splitter.updateCrossovers (crossoverList);
    splitter.numBands = n;
    sidechainSplitter.numBands = n;

    if (sidechain && mainView.getNumChannels() <= 2 && inputView.getNumChannels() <= 2)
    {
        // A stereo signal fills half of each four-lane register; the key rides in the other
        // half, so one pass over the crossovers splits both.
        splitter.processWithKey (mainView, inputView, sidechainSplitter);
    }
    else if (sidechain)
    {
        splitter.process (mainView);
        sidechainSplitter.updateCrossovers (crossoverList);
        sidechainSplitter.process (inputView);
    }
    else
    {
        splitter.process (mainView);
        for (int b = 0; b < n; ++b)
            sidechainSplitter.getBand (b).clear();
    }

    // Every band's compressors, upward first: the bands are independent, so the detectors of
    // all bands are fed side by side in one pass per direction.
    std::array<juce::dsp::AudioBlock<float>, maxBands> compressed, detectorSources;
    std::array<cvx::dsp::Compressor*, maxBands> ups {}, downs {};
    const float upwardAttack = 0.8f * lookaheadTime;
    for (int b = 0; b < n; ++b)
    {
        const auto& band = *parameters.bands[(size_t) b];
        compressed[(size_t) b] = firstSamples (splitter.getBand (b), mainChannels, N);
        detectorSources[(size_t) b] = sidechain ? firstSamples (sidechainSplitter.getBand (b), mainChannels, N)
                                                : compressed[(size_t) b];

        auto& up = *(ups[(size_t) b] = upward[(size_t) b].get());
        up.setAttack (upwardAttack);
        up.setRelease (release);
        up.setThreshold (upThresholdConversions[(size_t) b] (band.up.threshold.getModulated(), thresholdToLinear));
        up.setRatio (sidechain ? 1.0f : std::max (band.up.ratio.getModulated(), 1.0f));

        auto& down = *(downs[(size_t) b] = downward[(size_t) b].get());
        down.setAttack (attack);
        down.setRelease (release);
        down.setThreshold (downThresholdConversions[(size_t) b] (band.down.threshold.getModulated(), thresholdToLinear));
        down.setRatio (std::max (2.0f * (band.down.ratio.getModulated() - 1.0f) + 1.0f, 1.0f));
    }

    cvx::dsp::Compressor::feedDetectors (ups.data(), detectorSources.data(), n);
    for (int b = 0; b < n; ++b)
        ups[(size_t) b]->applyCompression (compressed[(size_t) b]);

    // Without a sidechain the downward detectors listen to the upward-compressed, delayed band.
    cvx::dsp::Compressor::feedDetectors (downs.data(), detectorSources.data(), n);
    for (int b = 0; b < n; ++b)
        downs[(size_t) b]->applyCompression (compressed[(size_t) b]);

    // The bands' sum overwrites the main channels; any other channel is silent.
    for (int ch = mainChannels; ch < sumBuffer.getNumChannels(); ++ch)
        sumBuffer.clear (ch, 0, N);

    for (int ch = 0; ch < mainChannels; ++ch)
    {
        std::array<const float*, maxBands> bandChannels;
        for (int b = 0; b < n; ++b)
            bandChannels[(size_t) b] = splitter.getBand (b).getReadPointer (ch);

        sumChannels (bandChannels.data(), n, sumBuffer.getWritePointer (ch), N);
    }

    float wetDecibels = wet, dryDecibels = dry;
    if (! dryWetMode)
    {
        const float x = mix / 100.0f;
        wetDecibels = mixWetConversion (x, fractionToDecibels) + out;
        dryDecibels = mixDryConversion (1.0f - x, fractionToDecibels) + out;
    }

    auto sum = firstSamples (sumBuffer, mainChannels, N);
    wetGain.setGainLinear (wetConversion (wetDecibels, decibelsToGain));
    applyGain (wetGain, sum);

    outputSpectrum.pushBlock (sum);

    if (dryOn)
    {
        auto dryBlock = firstSamples (dryBuffer, mainChannels, N);
        dryDelay.process (dryBlock);

        // The dry signal takes the same phase as the summed bands: the all-pass of every
        // crossover in use.
        auto& simd = splitter.getSIMDInterface();
        auto registers = simd.getRegisterBlock().getSubBlock (0, (size_t) N);
        simd.toSIMD (dryBlock, registers);
        splitter.processAllPassChain (registers, n);
        simd.fromSIMD (registers, dryBlock);

        dryGain.setGainLinear (dryConversion (dryDecibels, decibelsToGain));
        applyGain (dryGain, dryBlock);

        sum.add (dryBlock);
    }

    if (limiterOn)
        applyLimiter (N);

    for (int ch = 0; ch < mainChannels; ++ch)
        juce::FloatVectorOperations::copy (mainView.getChannelPointer ((size_t) ch), sumBuffer.getReadPointer (ch), N);

    oversampler->processSamplesDown (hostView);

    // The limiter holds its ceiling at the oversampled rate, but the down-sampling filter
    // rings past it on loud, bright material (by up to about 15 %): hold the ceiling at the
    // host rate as well, so the output never exceeds what the limiter promises.
    if (limiterOn && oversamplingFactor > 1)
        for (size_t ch = 0; ch < hostView.getNumChannels(); ++ch)
            juce::FloatVectorOperations::clip (hostView.getChannelPointer (ch), hostView.getChannelPointer (ch),
                                               -limiterCeiling, limiterCeiling, (int) hostView.getNumSamples());
}

void VyxAudioProcessor::applyLimiter (int numSamples) noexcept
{
    const int numChannels = sumBuffer.getNumChannels();
    limiterDetector.clear (0, numSamples);
    auto* detector = limiterDetector.getWritePointer (0);

    for (int ch = 0; ch < numChannels; ++ch)
    {
        const auto* x = sumBuffer.getReadPointer (ch);
        for (int i = 0; i < numSamples; ++i)
            detector[i] = std::max (detector[i], std::abs (x[i]));
    }

    float env = limiterEnvelope;
    for (int i = 0; i < numSamples; ++i)
    {
        const float x = detector[i];
        const float k = x > env ? limiterAttack : limiterRelease;
        env = (env - x) * k + x;
        detector[i] = env;
    }
    limiterEnvelope = env;

    for (int ch = 0; ch < numChannels; ++ch)
    {
        auto* y = sumBuffer.getWritePointer (ch);
        int i = 0;

       #if JUCE_USE_SSE_INTRINSICS
        // Four samples at a time; a sample under the ceiling is kept as it is.
        const auto ceiling = _mm_set1_ps (limiterCeiling);
        for (; i + 4 <= numSamples; i += 4)
        {
            const auto level = _mm_loadu_ps (detector + i);
            const auto over = _mm_cmpgt_ps (level, ceiling);
            const auto x = _mm_loadu_ps (y + i);
            const auto limited = _mm_mul_ps (x, _mm_div_ps (ceiling, level));
            _mm_storeu_ps (y + i, _mm_or_ps (_mm_and_ps (over, limited), _mm_andnot_ps (over, x)));
        }
       #endif

        for (; i < numSamples; ++i)
            if (detector[i] > limiterCeiling)
                y[i] *= limiterCeiling / detector[i];
    }
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
