// Member definitions of BandSplitter<MaxBands>, included by BandSplitter.h.

namespace band_splitter_detail
{

using Register = LRFilterSIMD::Register;

/** Number of compensation all-passes in a split into numBands bands: band k passes the
    all-passes of crossovers k + 1 .. numBands - 2. */
constexpr size_t numCompensations (size_t numBands) noexcept
{
    return numBands < 2 ? 0 : (numBands - 1) * (numBands - 2) / 2;
}

/** Position of band k's first compensation all-pass in the flat list (band 0's first). */
constexpr size_t firstCompensation (size_t numBands, size_t band) noexcept
{
    size_t index = 0;

    for (size_t k = 0; k < band; ++k)
        index += numBands - 2 - k;

    return index;
}

/** Band of the flat compensation index. */
constexpr size_t compensationBand (size_t numBands, size_t index) noexcept
{
    size_t band = 0;

    while (index >= numBands - 2 - band)
        index -= numBands - 2 - band++;

    return band;
}

/** Element of its band's all-pass set that the flat compensation index uses (1, 2, ...). */
constexpr size_t compensationElement (size_t numBands, size_t index) noexcept
{
    return index - firstCompensation (numBands, compensationBand (numBands, index)) + 1;
}

/** In a block of numFrames frames run as skewed steps, whether the filter at this depth has a
    frame to work on in step t (it works on frame t - depth). */
forcedinline bool isActive (size_t depth, size_t t, size_t numFrames) noexcept
{
    return t >= depth && t - depth < numFrames;
}

/** The crossover tree of one split into NumBands bands, with every filter's coefficients and
    states in locals for the duration of a block.

    Every filter of the tree sits at a depth: crossover k at depth k, the compensation all-pass
    of crossover k + l on band k at depth k + l. Running the tree frame by frame would make the
    whole tree one dependency chain per frame, long enough that the processor cannot overlap
    consecutive frames. Instead, step t runs each filter at depth d on frame t - d, taking its
    input from what its predecessor produced in step t - 1: the filters of one step are then
    independent of each other and only their own recursions chain from step to step. Every
    filter still sees its frames in order with exactly its own arithmetic, and every band
    leaves the tree at depth NumBands - 2, so each step writes one finished frame. */
template <size_t NumBands>
class SplitTree
{
public:
    static_assert (NumBands >= 2);

    static constexpr size_t numCrossovers = NumBands - 1;
    static constexpr size_t numAllPasses = numCompensations (NumBands);
    static constexpr size_t latency = NumBands - 2;

    SplitTree (LRFilterSIMD* crossoverFilters, std::vector<LRFilterSIMD>* allPassSets) noexcept
        : crossoverSource (crossoverFilters),
          allPassSource (allPassSets),
          crossovers (loadCrossovers (std::make_index_sequence<numCrossovers> {})),
          allPasses (loadAllPasses (std::make_index_sequence<numAllPasses> {}))
    {
    }

    /** Writes the filter states back. */
    void store() const noexcept
    {
        for (size_t k = 0; k < numCrossovers; ++k)
            crossovers[k].store (crossoverSource[k]);

        storeAllPasses (std::make_index_sequence<numAllPasses> {});
    }

    /** Splits numFrames registers of in into bands[0 .. NumBands - 1]. */
    void run (const Register* in, Register* const* bands, size_t numFrames) noexcept
    {
        // The first and last latency steps find part of the tree outside the block.
        const auto numSteps = numFrames + latency;
        size_t t = 0;

        for (; t < latency; ++t)
            step<true> (t, in, bands, numFrames);

        for (; t < numFrames; ++t)
            step<false> (t, in, bands, numFrames);

        for (; t < numSteps; ++t)
            step<true> (t, in, bands, numFrames);
    }

private:
    template <size_t... I>
    auto loadCrossovers (std::index_sequence<I...>) const noexcept
    {
        return std::array<LRFilterSIMD::CrossoverState, numCrossovers> { LRFilterSIMD::CrossoverState (crossoverSource[I])... };
    }

    template <size_t... I>
    auto loadAllPasses (std::index_sequence<I...>) const noexcept
    {
        return std::array<LRFilterSIMD::AllPassState, numAllPasses> { LRFilterSIMD::AllPassState (allPassFilter<I>())... };
    }

    /** Each all-pass's place in its set is known at compile time: no index search per block. */
    template <size_t... I>
    void storeAllPasses (std::index_sequence<I...>) const noexcept
    {
        (allPasses[I].store (allPassFilter<I>()), ...);
    }

    /** The filter behind flat compensation index I. */
    template <size_t I>
    LRFilterSIMD& allPassFilter() const noexcept
    {
        constexpr auto band = compensationBand (NumBands, I);
        constexpr auto element = compensationElement (NumBands, I);
        return allPassSource[band][element];
    }

    template <bool Guarded>
    forcedinline void step (size_t t, const Register* in, Register* const* bands, size_t numFrames) noexcept
    {
        // Deepest filters first, so that each reads its predecessor's result of the previous step.
        runDepths<Guarded> (t, in, numFrames, std::make_index_sequence<latency + 1> {});

        if (! Guarded || isActive (latency, t, numFrames))
            writeBands (t - latency, bands, std::make_index_sequence<NumBands> {});
    }

    template <bool Guarded, size_t... I>
    forcedinline void runDepths (size_t t, const Register* in, size_t numFrames, std::index_sequence<I...>) noexcept
    {
        (runDepth<latency - I, Guarded> (t, in, numFrames), ...);
    }

    template <size_t Depth, bool Guarded>
    forcedinline void runDepth (size_t t, const Register* in, size_t numFrames) noexcept
    {
        if (! Guarded || isActive (Depth, t, numFrames))
        {
            runCrossover<Depth> (t, in);
            runCompensations<Depth> (std::make_index_sequence<Depth> {});
        }
    }

    template <size_t K>
    forcedinline void runCrossover (size_t t, const Register* in) noexcept
    {
        if constexpr (K == 0)
            low[K] = crossovers[K].process (in[t], high[K]);
        else
            low[K] = crossovers[K].process (high[K - 1], high[K]);
    }

    template <size_t Depth, size_t... K>
    forcedinline void runCompensations (std::index_sequence<K...>) noexcept
    {
        (runCompensation<K, Depth - K> (), ...);
    }

    /** Band K's all-pass at crossover K + L (its L-th compensation). */
    template <size_t K, size_t L>
    forcedinline void runCompensation() noexcept
    {
        constexpr auto c = firstCompensation (NumBands, K) + L - 1;

        if constexpr (L == 1)
            allPassOut[c] = allPasses[c].process (low[K]);
        else
            allPassOut[c] = allPasses[c].process (allPassOut[c - 1]);
    }

    template <size_t... B>
    forcedinline void writeBands (size_t frame, Register* const* bands, std::index_sequence<B...>) const noexcept
    {
        ((bands[B][frame] = bandOutput<B>()), ...);
    }

    template <size_t B>
    forcedinline Register bandOutput() const noexcept
    {
        if constexpr (B == NumBands - 1)
            return high[B - 1];
        else if constexpr (B == NumBands - 2)
            return low[B];
        else
            return allPassOut[firstCompensation (NumBands, B) + (NumBands - 2 - B) - 1];
    }

    LRFilterSIMD* crossoverSource;
    std::vector<LRFilterSIMD>* allPassSource;
    std::array<LRFilterSIMD::CrossoverState, numCrossovers> crossovers;
    std::array<LRFilterSIMD::AllPassState, numAllPasses> allPasses;

    // What each filter produced in the last step: crossover k's low and high outputs and
    // each all-pass's output.
    std::array<Register, numCrossovers> low {}, high {};
    std::array<Register, numAllPasses> allPassOut {};
};

/** Element 0 of all-pass sets 0 .. Length - 1 applied in place one after the other, skewed
    like SplitTree: all-pass d works on frame t - d in step t, so the chain's filters overlap. */
template <size_t Length>
class AllPassChain
{
public:
    static_assert (Length >= 1);

    static constexpr size_t latency = Length - 1;

    explicit AllPassChain (std::vector<LRFilterSIMD>* allPassSets) noexcept
        : source (allPassSets), states (load (std::make_index_sequence<Length> {}))
    {
    }

    /** Writes the filter states back. */
    void store() const noexcept
    {
        for (size_t d = 0; d < Length; ++d)
            states[d].store (source[d][0]);
    }

    void run (Register* io, size_t numFrames) noexcept
    {
        const auto numSteps = numFrames + latency;
        size_t t = 0;

        for (; t < latency; ++t)
            step<true> (t, io, numFrames);

        for (; t < numFrames; ++t)
            step<false> (t, io, numFrames);

        for (; t < numSteps; ++t)
            step<true> (t, io, numFrames);
    }

private:
    template <size_t... I>
    auto load (std::index_sequence<I...>) const noexcept
    {
        return std::array<LRFilterSIMD::AllPassState, Length> { LRFilterSIMD::AllPassState (source[I][0])... };
    }

    template <bool Guarded>
    forcedinline void step (size_t t, Register* io, size_t numFrames) noexcept
    {
        // Frame t is read before the finished frame t - latency is written over its input.
        runStages<Guarded> (t, io, numFrames, std::make_index_sequence<Length> {});

        if (! Guarded || isActive (latency, t, numFrames))
            io[t - latency] = out[Length - 1];
    }

    template <bool Guarded, size_t... I>
    forcedinline void runStages (size_t t, const Register* io, size_t numFrames, std::index_sequence<I...>) noexcept
    {
        (runStage<Length - 1 - I, Guarded> (t, io, numFrames), ...);
    }

    template <size_t D, bool Guarded>
    forcedinline void runStage (size_t t, const Register* io, size_t numFrames) noexcept
    {
        if (Guarded && ! isActive (D, t, numFrames))
            return;

        if constexpr (D == 0)
            out[D] = states[D].process (io[t]);
        else
            out[D] = states[D].process (out[D - 1]);
    }

    std::vector<LRFilterSIMD>* source;
    std::array<LRFilterSIMD::AllPassState, Length> states;
    std::array<Register, Length> out {};
};

template <size_t Length>
void applyAllPassChain (size_t length, std::vector<LRFilterSIMD>* allPassSets, Register* io, size_t numFrames) noexcept
{
    if constexpr (Length >= 1)
    {
        if (length == Length)
        {
            AllPassChain<Length> chain (allPassSets);
            chain.run (io, numFrames);
            chain.store();
        }
        else
        {
            applyAllPassChain<Length - 1> (length, allPassSets, io, numFrames);
        }
    }
}

template <size_t NumBands>
void splitFrames (LRFilterSIMD* crossoverFilters, std::vector<LRFilterSIMD>* allPassSets,
                  const Register* in, Register* const* bands, size_t numFrames) noexcept
{
    SplitTree<NumBands> tree (crossoverFilters, allPassSets);
    tree.run (in, bands, numFrames);
    tree.store();
}

template <size_t NumBands>
void splitFramesFor (size_t numBands, LRFilterSIMD* crossoverFilters, std::vector<LRFilterSIMD>* allPassSets,
                     const Register* in, Register* const* bands, size_t numFrames) noexcept
{
    if constexpr (NumBands >= 2)
    {
        if (numBands == NumBands)
            splitFrames<NumBands> (crossoverFilters, allPassSets, in, bands, numFrames);
        else
            splitFramesFor<NumBands - 1> (numBands, crossoverFilters, allPassSets, in, bands, numFrames);
    }
}

/** Swaps lanes 2-3 of here with lanes 0-1 of there. */
inline void swapKeyLanes (Register& here, Register& there) noexcept
{
    for (size_t lane = 0; lane < 2; ++lane)
    {
        const auto kept = here.get (2 + lane);
        here.set (2 + lane, there.get (lane));
        there.set (lane, kept);
    }
}

inline void swapKeyLanes (LRFilterSIMD& here, LRFilterSIMD& there) noexcept
{
    swapKeyLanes (here.s1, there.s1);
    swapKeyLanes (here.s2, there.s2);
    swapKeyLanes (here.s3, there.s3);
    swapKeyLanes (here.s4, there.s4);
}

} // namespace band_splitter_detail

//==============================================================================
template <int MaxBands>
BandSplitter<MaxBands>::BandSplitter()
{
    frequencies.fill (20000.0f);

    for (size_t j = 0; j < numSlots; ++j)
        allPasses[j].resize (numSlots - j);
}

template <int MaxBands>
void BandSplitter<MaxBands>::prepare (const juce::dsp::ProcessSpec& setup)
{
    const auto maxSamples = (size_t) setup.maximumBlockSize;
    const auto numChannels = (int) setup.numChannels;

    simd.prepare ((int) setup.maximumBlockSize);
    work = juce::dsp::AudioBlock<Register> (workMemory, 1, maxSamples, sizeof (Register));
    work.clear();

    for (size_t j = 0; j < numSlots; ++j)
    {
        auto& buffer = bandBuffers[j];
        buffer.setSize (numChannels, (int) setup.maximumBlockSize, false, false, false);
        buffer.setNotClear();
        buffer.clear();

        bandRegisters[j] = juce::dsp::AudioBlock<Register> (bandMemory[j], 1, maxSamples, sizeof (Register));
        bandRegisters[j].clear();

        crossovers[j].prepare (setup.sampleRate);

        allPasses[j].resize (numSlots - j);

        for (auto& allPass : allPasses[j])
            allPass.prepare (setup.sampleRate);

        frequencies[j] = 20000.0f;
    }

    staleCrossovers = ~juce::uint32 {};
    numUpdated = 0;

    // The states just restarted, lanes 2-3 included.
    keyLanesOwner = nullptr;
}

template <int MaxBands>
void BandSplitter<MaxBands>::updateCrossovers (const std::vector<float>& list)
{
    const auto n = juce::jmin (list.size(), numSlots);

    if (n == 0)
        return;

    std::array<size_t, numSlots> changed;
    size_t numChanged = 0;

    for (size_t i = 0; i < n; ++i)
    {
        const auto bit = juce::uint32 { 1 } << i;

        // Written as a negated equality so that a NaN counts as a change.
        if (! (list[i] == frequencies[i]) || (staleCrossovers & bit) != 0)
        {
            frequencies[i] = list[i];
            staleCrossovers &= ~bit;
            changed[numChanged++] = i;
        }
    }

    // Unless a crossover moved or the band count changed, every compensation all-pass already
    // sits at its crossover.
    if (numChanged == 0 && n == numUpdated)
        return;

    numUpdated = n;

    for (size_t c = 0; c < numChanged; ++c)
    {
        const auto i = changed[c];
        crossovers[i].setCutoff (frequencies[i]);
        allPasses[i][0].setCutoff (frequencies[i]);
    }

    // The compensation all-passes follow the crossovers above their band. Recomputing one
    // whose cutoff already is the remembered value would give the same coefficients, so only
    // those that differ pay for the tangent.
    for (size_t j = 0; j < n; ++j)
    {
        for (size_t k = j + 1; k + 1 < n; ++k)
        {
            auto& allPass = allPasses[j][k - j];
            const auto frequency = (double) frequencies[k];

            if (! (allPass.getCutoff() == frequency))
                allPass.setCutoff (frequency);
        }
    }
}

template <int MaxBands>
void BandSplitter<MaxBands>::process (juce::dsp::AudioBlock<float> block)
{
    const auto n = (size_t) juce::jlimit (1, MaxBands, numBands);

    jassert (block.getNumSamples() <= work.getNumSamples());
    const auto numFrames = juce::jmin (block.getNumSamples(), work.getNumSamples());

    if (numFrames == 0)
        return;

    if (keyLanesOwner != nullptr)
    {
        swapKeyLanes (*keyLanesOwner);
        keyLanesOwner = nullptr;
    }

    // The spreading below rewrites every channel a register lane reaches; only channels past
    // the four lanes would keep old samples.
    for (size_t b = 0; b < n; ++b)
        if (bandBuffers[b].getNumChannels() > (int) cvx::dsp::SIMD_Interface::numLanes && ! bandBuffers[b].hasBeenCleared())
            bandBuffers[b].clear (0, (int) numFrames);

    auto workFrames = work.getSubBlock (0, numFrames);

    // toSIMD fills every lane of every frame, except from a block without a first channel,
    // which splits silence.
    if (block.getNumChannels() == 0 || block.getChannelPointer (0) == nullptr)
        workFrames.clear();

    simd.toSIMD (block, workFrames);
    splitWork (n, numFrames);

    const auto scratchLanes = getScratchLanes();

    for (size_t b = 0; b < n; ++b)
    {
        auto& band = bandBuffers[b];
        float* targets[cvx::dsp::SIMD_Interface::numLanes];

        // getWritePointer marks the buffer as holding a signal; lanes past its channels go to
        // the scratch, as fromSIMD sends them.
        for (int c = 0; c < (int) cvx::dsp::SIMD_Interface::numLanes; ++c)
            targets[c] = c < band.getNumChannels() ? band.getWritePointer (c) : scratchLanes[(size_t) c];

        cvx::dsp::SIMD_Interface::spread (bandRegisters[b].getChannelPointer (0), targets, numFrames);
    }
}

template <int MaxBands>
void BandSplitter<MaxBands>::processWithKey (juce::dsp::AudioBlock<float> main, juce::dsp::AudioBlock<float> key,
                                             BandSplitter& keySplitter)
{
    jassert (&keySplitter != this);
    jassert (main.getNumChannels() <= 2 && key.getNumChannels() <= 2);

    const auto n = (size_t) juce::jlimit (1, MaxBands, numBands);

    jassert (main.getNumSamples() <= work.getNumSamples() && key.getNumSamples() == main.getNumSamples());
    const auto numFrames = juce::jmin (main.getNumSamples(), key.getNumSamples(), work.getNumSamples());

    if (numFrames == 0)
        return;

    if (keyLanesOwner != &keySplitter)
    {
        if (keyLanesOwner != nullptr)
            swapKeyLanes (*keyLanesOwner);

        swapKeyLanes (keySplitter);
        keyLanesOwner = &keySplitter;
    }

    // Lanes 0-1: the main channels, 2-3: the key's; a lane without a channel reads the
    // scratch, as it would in a split of its own.
    auto& scratch = simd.getScratchBlock();
    float* sources[cvx::dsp::SIMD_Interface::numLanes];

    for (size_t c = 0; c < 2; ++c)
    {
        float* mainChannel = c < main.getNumChannels() ? main.getChannelPointer (c) : nullptr;
        float* keyChannel = c < key.getNumChannels() ? key.getChannelPointer (c) : nullptr;
        sources[c] = mainChannel != nullptr ? mainChannel : scratch.getChannelPointer (c);
        sources[2 + c] = keyChannel != nullptr ? keyChannel : scratch.getChannelPointer (2 + c);
    }

    auto workFrames = work.getSubBlock (0, numFrames);
    simd.toSIMD (juce::dsp::AudioBlock<float> (sources, cvx::dsp::SIMD_Interface::numLanes, numFrames), workFrames);
    splitWork (n, numFrames);

    const auto scratchLanes = getScratchLanes();

    for (size_t b = 0; b < n; ++b)
    {
        auto& mainBand = bandBuffers[b];
        auto& keyBand = keySplitter.bandBuffers[b];
        float* targets[cvx::dsp::SIMD_Interface::numLanes];

        // getWritePointer marks the buffers as holding a signal; a lane without a channel
        // goes to the scratch.
        for (int c = 0; c < 2; ++c)
        {
            targets[c] = c < mainBand.getNumChannels() ? mainBand.getWritePointer (c) : scratchLanes[(size_t) c];
            targets[2 + c] = c < keyBand.getNumChannels() ? keyBand.getWritePointer (c) : scratchLanes[(size_t) (2 + c)];
        }

        cvx::dsp::SIMD_Interface::spread (bandRegisters[b].getChannelPointer (0), targets, numFrames);
    }
}

template <int MaxBands>
void BandSplitter<MaxBands>::splitWork (size_t n, size_t numFrames) noexcept
{
    // A crossover at or above half the rate (only without oversampling can one get there)
    // splits nothing, which the tree's float sections cannot compute: the split then stops
    // below it.
    for (size_t k = 0; k + 1 < n; ++k)
    {
        if (crossovers[k].passesEverything())
        {
            splitBelowPassingCrossover (k, n, numFrames);
            return;
        }
    }

    const auto* in = work.getChannelPointer (0);

    if (n == 1)
    {
        auto* band = bandRegisters[0].getChannelPointer (0);
        std::copy (in, in + numFrames, band);
    }
    else
    {
        std::array<Register*, numSlots> bands;

        for (size_t b = 0; b < n; ++b)
            bands[b] = bandRegisters[b].getChannelPointer (0);

        band_splitter_detail::splitFramesFor<numSlots> (n, crossovers.data(), allPasses.data(),
                                                        in, bands.data(), numFrames);
    }
}

template <int MaxBands>
void BandSplitter<MaxBands>::splitBelowPassingCrossover (size_t k, size_t n, size_t numFrames) noexcept
{
    // Crossover k's low-pass hands band k all that reaches it, its high-pass leaves the bands
    // above it silent, and its all-passes are the identity: bands 0 .. k are the split of the
    // crossovers below k into k + 1 bands, each then through its compensations for the
    // crossovers above k, lowest first, as the whole tree would pass them.
    splitWork (k + 1, numFrames);

    for (size_t j = k + 1; j + 1 < n; ++j)
        for (size_t b = 0; b <= k; ++b)
            allPasses[b][j - b].processAllPass (bandRegisters[b].getChannelPointer (0), numFrames);

    for (size_t b = k + 1; b < n; ++b)
    {
        auto* band = bandRegisters[b].getChannelPointer (0);
        std::fill (band, band + numFrames, Register::expand (0.0f));
    }
}

template <int MaxBands>
std::array<float*, cvx::dsp::SIMD_Interface::numLanes> BandSplitter<MaxBands>::getScratchLanes() noexcept
{
    auto& scratch = simd.getScratchBlock();
    std::array<float*, cvx::dsp::SIMD_Interface::numLanes> lanes;

    for (size_t c = 0; c < lanes.size(); ++c)
        lanes[c] = scratch.getChannelPointer (c);

    return lanes;
}

template <int MaxBands>
void BandSplitter<MaxBands>::swapKeyLanes (BandSplitter& keySplitter) noexcept
{
    // The filters of the split: every crossover and the compensation all-passes (element 0
    // of each set belongs to the dry path, which no key passes).
    for (size_t k = 0; k < numSlots; ++k)
    {
        band_splitter_detail::swapKeyLanes (crossovers[k], keySplitter.crossovers[k]);

        for (size_t l = 1; l < allPasses[k].size() && l < keySplitter.allPasses[k].size(); ++l)
            band_splitter_detail::swapKeyLanes (allPasses[k][l], keySplitter.allPasses[k][l]);
    }
}

template <int MaxBands>
void BandSplitter<MaxBands>::processAllPassChain (juce::dsp::AudioBlock<Register> block, int count)
{
    const auto length = (size_t) juce::jlimit (0, MaxBands - 1, count - 1);

    if (length == 0 || block.getNumChannels() == 0 || block.getNumSamples() == 0)
        return;

    // Element 0 of a set whose crossover passes everything is the identity: the chain runs
    // over the stretches of sets between such ones.
    for (size_t first = 0; first < length;)
    {
        if (allPasses[first][0].passesEverything())
        {
            ++first;
            continue;
        }

        auto end = first + 1;
        while (end < length && ! allPasses[end][0].passesEverything())
            ++end;

        band_splitter_detail::applyAllPassChain<numSlots - 1> (end - first, allPasses.data() + first,
                                                               block.getChannelPointer (0), block.getNumSamples());
        first = end;
    }
}
