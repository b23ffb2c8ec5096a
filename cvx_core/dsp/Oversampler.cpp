namespace cvx::dsp
{

namespace
{
    /** out[i] := sum over j < numTaps of (x[i + j] + x[i + span - j]) * taps[j], summed in the
        order of j, for i < numSamples: a symmetric FIR whose taps were folded onto one side.
        x starts span samples before the block's first sample; out must not overlap x. Each tap
        runs once over a run of outputs (a loop the compiler vectorises), and the runs are short
        enough for their sums and inputs to stay in the first-level cache. */
    void convolveFolded (const float* x, int span, const float* taps, int numTaps,
                         float* out, int numSamples) noexcept
    {
        constexpr int run = 256;

        for (int first = 0; first < numSamples; first += run)
        {
            const int count = std::min (run, numSamples - first);
            float* __restrict sum = out + first;
            std::fill (sum, sum + count, 0.0f);

            for (int j = 0; j < numTaps; ++j)
            {
                const float tap = taps[j];
                const float* __restrict older = x + first + j;
                const float* __restrict newer = x + first + span - j;

                for (int i = 0; i < count; ++i)
                    sum[i] += (older[i] + newer[i]) * tap;
            }
        }
    }

    /** Keeps the last `history` samples of a buffer that held history + numSamples. */
    void keepHistory (float* x, int history, int numSamples) noexcept
    {
        std::memmove (x, x + numSamples, (size_t) history * sizeof (float));
    }
}

Oversampler::Oversampler (size_t channels)
    : numChannels (std::max ((size_t) 1, channels))
{
}

Oversampler::~Oversampler() = default;

void Oversampler::addDummyOversamplingStage()
{
    stageLatencies.push_back (0.0f);
    stageFactors.push_back (1);
}

void Oversampler::addOversamplingStage (float transitionUp, float attenuationUp,
                                        float transitionDown, float attenuationDown)
{
    // The design is symmetric with order 4n + 2: taps 0, 2, ..., 2n on each side of the centre
    // tap 2n + 1 (0.5); all other odd taps are zero.
    auto fold = [] (float transition, float attenuation, float gain)
    {
        auto design = juce::dsp::FilterDesign<float>::designFIRLowpassHalfBandEquirippleMethod (transition, attenuation);
        const auto* c = design->getRawCoefficients();
        const int order = (int) design->getFilterOrder();
        const int centre = (order + 1) / 2;

        HalfBand h;
        h.order = order;
        h.centre = gain * c[centre];
        for (int k = 0; k < centre; k += 2)
            h.taps.push_back (gain * c[k]);

        jassert (h.getHistory() == centre);
        return h;
    };

    Stage stage;
    // The up-sampler fills every second sample with zeros, so it needs a gain of 2. Scaling a
    // float by 2 is exact, so putting the 2 into the taps gives the same sums as scaling the
    // input.
    stage.up = fold (transitionUp, attenuationUp, 2.0f);
    stage.down = fold (transitionDown, attenuationDown, 1.0f);

    stageLatencies.push_back ((float) (stage.up.order + stage.down.order) * 0.5f);
    stageFactors.push_back (2);
    stages.push_back (std::move (stage));
    factor *= 2;
}

void Oversampler::setUsingIntegerLatency (bool shouldUseIntegerLatency) noexcept
{
    useIntegerLatency = shouldUseIntegerLatency;
}

float Oversampler::getUncompensatedLatency() const noexcept
{
    // Each stage's latency counts at the rate of its output, summed in stage order in float.
    float latency = 0.0f;
    size_t order = 1;

    for (size_t s = 0; s < stageLatencies.size(); ++s)
    {
        order *= stageFactors[s];
        latency += stageLatencies[s] / (float) order;
    }

    return latency;
}

float Oversampler::getLatencyInSamples() const noexcept
{
    const auto latency = getUncompensatedLatency();
    return useIntegerLatency ? latency + fractionalDelay : latency;
}

void Oversampler::initProcessing (size_t maxSamplesBeforeOversampling)
{
    const int channels = (int) numChannels;
    int maxInput = (int) std::max ((size_t) 1, maxSamplesBeforeOversampling);

    passBuffer.setSize (channels, maxInput, false, false, true);

    for (auto& stage : stages)
    {
        stage.output.setSize (channels, 2 * maxInput, false, false, true);
        stage.upHistory.setSize (channels, stage.up.getHistory() + maxInput, false, false, true);
        stage.downEven.setSize (channels, stage.down.getHistory() + maxInput, false, false, true);
        stage.downOdd.setSize (channels, (int) stage.down.taps.size() + maxInput, false, false, true);
        stage.scratch.assign ((size_t) maxInput, 0.0f);
        maxInput *= 2;
    }

    allpassInput.assign (numChannels, 0.0f);
    allpassOutput.assign (numChannels, 0.0f);

    // The compensation brings the latency up to the next whole sample, using at least 0.618
    // samples of delay, where the allpass's delay is still close to flat over the band.
    const auto latency = getUncompensatedLatency();
    fractionalDelay = 1.0f - (latency - std::floor (latency));

    if (fractionalDelay == 1.0f)
        fractionalDelay = 0.0f;
    else if (fractionalDelay < 0.618f)
        fractionalDelay += 1.0f;

    // The allpass realises the delay as one whole sample plus its fraction; the split below
    // rounds exactly as juce::dsp::DelayLine does, so both compute the same coefficient.
    int whole = (int) std::floor (fractionalDelay);
    float fraction = fractionalDelay - (float) whole;

    if (fraction < 0.618f && whole >= 1)
    {
        fraction += 1.0f;
        --whole;
    }

    jassert (whole == 0);
    allpassCoefficient = (1.0f - fraction) / (1.0f + fraction);

    isReady = true;
    reset();
}

void Oversampler::reset() noexcept
{
    for (auto& stage : stages)
    {
        stage.output.clear();
        stage.upHistory.clear();
        stage.downEven.clear();
        stage.downOdd.clear();
    }

    passBuffer.clear();
    std::fill (allpassInput.begin(), allpassInput.end(), 0.0f);
    std::fill (allpassOutput.begin(), allpassOutput.end(), 0.0f);
}

void Oversampler::upsampleStage (Stage& stage, const juce::dsp::AudioBlock<const float>& input) noexcept
{
    const int numSamples = (int) input.getNumSamples();
    const int history = stage.up.getHistory();
    const int numTaps = (int) stage.up.taps.size();
    const float* taps = stage.up.taps.data();
    const float centre = stage.up.centre;
    float* even = stage.scratch.data();

    for (int ch = 0; ch < (int) input.getNumChannels(); ++ch)
    {
        float* x = stage.upHistory.getWritePointer (ch);
        std::copy_n (input.getChannelPointer ((size_t) ch), numSamples, x + history);

        // Even outputs come from the even taps, odd ones from the centre tap alone: the input
        // (numTaps - 1) samples back.
        convolveFolded (x, history, taps, numTaps, even, numSamples);

        const float* delayed = x + history - (numTaps - 1);
        float* out = stage.output.getWritePointer (ch);

        for (int i = 0; i < numSamples; ++i)
        {
            out[2 * i] = even[i];
            out[2 * i + 1] = delayed[i] * centre;
        }

        keepHistory (x, history, numSamples);
    }
}

void Oversampler::downsampleStage (Stage& stage, juce::dsp::AudioBlock<float>& output) noexcept
{
    const int numSamples = (int) output.getNumSamples();
    const int history = stage.down.getHistory();
    const int numTaps = (int) stage.down.taps.size();
    const float* taps = stage.down.taps.data();
    const float centre = stage.down.centre;

    for (int ch = 0; ch < (int) output.getNumChannels(); ++ch)
    {
        const float* in = stage.output.getReadPointer (ch);
        float* even = stage.downEven.getWritePointer (ch);
        float* odd = stage.downOdd.getWritePointer (ch);

        for (int i = 0; i < numSamples; ++i)
        {
            even[history + i] = in[2 * i];
            odd[numTaps + i] = in[2 * i + 1];
        }

        // The even phase meets the folded taps; the odd phase meets only the centre tap, which
        // lies numTaps odd samples back.
        float* y = output.getChannelPointer ((size_t) ch);
        convolveFolded (even, history, taps, numTaps, y, numSamples);

        for (int i = 0; i < numSamples; ++i)
            y[i] += odd[i] * centre;

        keepHistory (even, history, numSamples);
        keepHistory (odd, numTaps, numSamples);
    }
}

void Oversampler::compensate (juce::dsp::AudioBlock<float>& block) noexcept
{
    const float a = allpassCoefficient;

    for (size_t ch = 0; ch < block.getNumChannels(); ++ch)
    {
        float* data = block.getChannelPointer (ch);
        float previousInput = allpassInput[ch], previousOutput = allpassOutput[ch];

        for (size_t i = 0; i < block.getNumSamples(); ++i)
        {
            const float x = data[i];
            const float y = previousInput + a * (x - previousOutput);
            data[i] = y;
            previousInput = x;
            previousOutput = y;
        }

        allpassInput[ch] = previousInput;
        allpassOutput[ch] = previousOutput;
    }
}

juce::dsp::AudioBlock<float> Oversampler::processSamplesUp (const juce::dsp::AudioBlock<const float>& inputBlock) noexcept
{
    jassert (isReady);
    if (! isReady)
        return {};

    jassert (inputBlock.getNumChannels() <= numChannels);
    jassert (inputBlock.getNumSamples() <= (size_t) passBuffer.getNumSamples());

    const auto channels = std::min (inputBlock.getNumChannels(), numChannels);
    const auto numSamples = std::min (inputBlock.getNumSamples(), (size_t) passBuffer.getNumSamples());
    const auto input = inputBlock.getSubsetChannelBlock (0, channels).getSubBlock (0, numSamples);

    if (stages.empty())
    {
        auto pass = juce::dsp::AudioBlock<float> (passBuffer).getSubsetChannelBlock (0, channels).getSubBlock (0, numSamples);
        pass.copyFrom (input);
        return pass;
    }

    juce::dsp::AudioBlock<float> block;
    auto samples = numSamples;

    for (size_t s = 0; s < stages.size(); ++s)
    {
        if (s == 0)
            upsampleStage (stages[s], input);
        else
            upsampleStage (stages[s], block);

        samples *= 2;
        block = juce::dsp::AudioBlock<float> (stages[s].output).getSubsetChannelBlock (0, channels).getSubBlock (0, samples);
    }

    return block;
}

void Oversampler::processSamplesDown (juce::dsp::AudioBlock<float>& outputBlock) noexcept
{
    jassert (isReady);
    if (! isReady)
        return;

    jassert (outputBlock.getNumChannels() <= numChannels);
    jassert (outputBlock.getNumSamples() <= (size_t) passBuffer.getNumSamples());

    const auto channels = std::min (outputBlock.getNumChannels(), numChannels);
    const auto numSamples = std::min (outputBlock.getNumSamples(), (size_t) passBuffer.getNumSamples());
    auto output = outputBlock.getSubsetChannelBlock (0, channels).getSubBlock (0, numSamples);

    if (stages.empty())
    {
        output.copyFrom (juce::dsp::AudioBlock<float> (passBuffer).getSubsetChannelBlock (0, channels).getSubBlock (0, numSamples));
    }
    else
    {
        // Stage s takes numSamples << s samples in; its down-sampler writes them back into the
        // output of the stage before it.
        for (size_t s = stages.size() - 1; s > 0; --s)
        {
            auto target = juce::dsp::AudioBlock<float> (stages[s - 1].output)
                              .getSubsetChannelBlock (0, channels)
                              .getSubBlock (0, numSamples << s);
            downsampleStage (stages[s], target);
        }

        downsampleStage (stages[0], output);
    }

    if (useIntegerLatency && fractionalDelay > 0.0f)
        compensate (output);
}

} // namespace cvx::dsp
