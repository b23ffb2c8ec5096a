#pragma once

#include <cvx_core/cvx_core.h>

/** One Linkwitz-Riley section set on four-lane registers: two cascaded second-order
    state-variable sections (topology-preserving transform). Used as a fourth-order crossover
    (low and high outputs that sum to the second-order all-pass) or, with the first section
    only, as a second-order all-pass. */
class LRFilterSIMD
{
public:
    using Register = juce::dsp::SIMDRegister<float>;

    LRFilterSIMD();

    /** Sets the sample rate, recomputes the coefficients from the stored cutoff and clears
        the states. */
    void prepare (double sampleRate);

    /** Sets the cutoff in Hz and recomputes the coefficients; the states are kept. Cutoffs
        above 0.49 × the sample rate (where the float sections lose their accuracy) are computed
        as 0.49 × the sample rate, negative ones as 0; getCutoff() still returns the value set. */
    void setCutoff (double frequency);

    /** True when the cutoff lies at or above half the sample rate. Such a filter is the limit
        of the sections as both their poles reach z = -1: the crossover's low-pass passes
        everything and its high-pass nothing, and the all-pass is the identity. The float
        sections cannot compute that limit (their undamped states pile up rounding, and quiet
        signals underflow), so processCrossover and processAllPass, and the band splitter,
        give that result without running the sections, whose states then wait unchanged. */
    bool passesEverything() const noexcept { return cutoff >= 0.5 * sampleRate; }

    /** Clears the four states. */
    void reset() noexcept;

    double getCutoff() const noexcept { return cutoff; }
    double getSampleRate() const noexcept { return sampleRate; }

    /** Crossover over n registers: low[i] := low-pass of io[i]; io[i] := high-pass (in place). */
    void processCrossover (Register* low, Register* io, size_t n) noexcept;

    /** Second-order all-pass over n registers, in place (first section only). */
    void processAllPass (Register* io, size_t n) noexcept;

    Register g, R2, h;
    Register s1, s2, s3, s4;

    /** Coefficients and all four states of one filter copied into locals for a sample loop;
        store() writes the states back. The per-frame arithmetic of every loop lives here. */
    struct CrossoverState
    {
        explicit CrossoverState (const LRFilterSIMD& f) noexcept
            : g (f.g), R2 (f.R2), h (f.h), R2PlusG (f.R2 + f.g), s1 (f.s1), s2 (f.s2), s3 (f.s3), s4 (f.s4) {}

        void store (LRFilterSIMD& f) const noexcept { f.s1 = s1; f.s2 = s2; f.s3 = s3; f.s4 = s4; }

        /** One frame: returns the fourth-order low-pass of x, high := x's high-pass. */
        forcedinline Register process (Register x, Register& high) noexcept
        {
            const auto yH = (x - R2PlusG * s1 - s2) * h;
            const auto gH = g * yH;
            const auto yB = gH + s1;
            s1 = gH + yB;
            const auto gB = g * yB;
            const auto yL = gB + s2;
            s2 = gB + yL;

            const auto yH2 = (yL - R2PlusG * s3 - s4) * h;
            const auto t = g * yH2;
            const auto yB2 = t + s3;
            s3 = t + yB2;
            const auto gB2 = g * yB2;
            const auto yL2 = gB2 + s4;
            s4 = gB2 + yL2;

            // The first section's all-pass minus the low-pass, so that low + high is exactly
            // that all-pass.
            high = (yL - R2 * yB + yH) - yL2;
            return yL2;
        }

        Register g, R2, h, R2PlusG, s1, s2, s3, s4;
    };

    /** Like CrossoverState for the all-pass, which uses the first section only. */
    struct AllPassState
    {
        explicit AllPassState (const LRFilterSIMD& f) noexcept
            : g (f.g), R2 (f.R2), h (f.h), R2PlusG (f.R2 + f.g), s1 (f.s1), s2 (f.s2) {}

        void store (LRFilterSIMD& f) const noexcept { f.s1 = s1; f.s2 = s2; }

        /** One frame of the second-order all-pass. */
        forcedinline Register process (Register x) noexcept
        {
            const auto yH = (x - R2PlusG * s1 - s2) * h;
            const auto gH = g * yH;
            const auto yB = gH + s1;
            s1 = gH + yB;
            const auto gB = g * yB;
            const auto yL = gB + s2;
            s2 = gB + yL;
            return yL - R2 * yB + yH;
        }

        Register g, R2, h, R2PlusG, s1, s2;
    };

private:
    void updateCoefficients();

    double sampleRate = 44100.0;
    double cutoff = 2000.0;
};

/** Splits a block of up to four channels into up to MaxBands bands with a tree of fourth-order
    Linkwitz-Riley crossovers and all-pass compensation, so that the bands add up to an all-pass
    version of the input. Audio thread, except prepare. */
template <int MaxBands>
class BandSplitter
{
public:
    using Register = juce::dsp::SIMDRegister<float>;

    BandSplitter();

    /** Sizes every buffer for the setup and resets the filters to its sample rate. */
    void prepare (const juce::dsp::ProcessSpec& setup);

    /** One frequency in Hz per active band: entry b is the upper edge of band b (the last
        entry splits nothing). Recomputes only what changed, plus the compensation all-passes. */
    void updateCrossovers (const std::vector<float>& frequencies);

    /** Splits the block (at most four channels, at most the prepared size) into band buffers
        0 .. numBands - 1. */
    void process (juce::dsp::AudioBlock<float> block);

    /** Splits a main block and a key block (a sidechain), each of at most two channels, in one
        pass: the main channels ride in lanes 0-1 of the registers and the key's in lanes 2-3,
        so both meet the same filters with the same coefficients for the cost of one split. The
        main bands land in this splitter's band buffers, the key's in keySplitter's, exactly as
        if keySplitter (given the same crossovers) had split the key itself. While keys arrive,
        the key's filter states live in lanes 2-3 here; the next plain process call hands them
        back to keySplitter. */
    void processWithKey (juce::dsp::AudioBlock<float> main, juce::dsp::AudioBlock<float> key,
                         BandSplitter& keySplitter);

    /** Runs the block's registers in place through element 0 of all-pass sets 0 .. count - 2,
        in that order (the phase response of count summed bands, for a signal that bypasses
        the split). Same result as processAllPass of each element in turn, with the filters
        overlapped. Audio thread. */
    void processAllPassChain (juce::dsp::AudioBlock<Register> block, int count);

    /** Band count for the next process call, 1 .. MaxBands (values outside are clamped). */
    int numBands = 1;

    juce::AudioBuffer<float>& getBand (int band) noexcept { return bandBuffers[(size_t) band]; }

    /** All-pass set j: element 0 runs at crossover j (used for the dry path), element l at
        crossover j + l. */
    std::vector<LRFilterSIMD>& getAllPassSet (int j) noexcept { return allPasses[(size_t) j]; }

    LRFilterSIMD& getCrossoverFilter (int k) noexcept { return crossovers[(size_t) k]; }
    float getCrossover (int k) const noexcept { return frequencies[(size_t) k]; }

    cvx::dsp::SIMD_Interface& getSIMDInterface() noexcept { return simd; }

private:
    static_assert (MaxBands >= 1 && MaxBands <= 32, "one bit per crossover in staleCrossovers");

    /** Bands 0 .. n - 1 of the first numFrames work registers into the band registers. */
    void splitWork (size_t n, size_t numFrames) noexcept;

    /** The split when crossover k (below n - 1) is the first that passes everything: bands
        0 .. k through the crossovers below k, every one of them through the all-passes of the
        crossovers above k that do split, and silence in the bands above k. */
    void splitBelowPassingCrossover (size_t k, size_t n, size_t numFrames) noexcept;

    /** The scratch block's channels, where lanes without a band channel are spread. */
    std::array<float*, cvx::dsp::SIMD_Interface::numLanes> getScratchLanes() noexcept;

    /** Swaps lanes 2-3 of every filter state here with lanes 0-1 of keySplitter's. */
    void swapKeyLanes (BandSplitter& keySplitter) noexcept;

    static constexpr auto numSlots = (size_t) MaxBands;

    std::array<float, numSlots> frequencies {};
    std::array<LRFilterSIMD, numSlots> crossovers;
    std::array<std::vector<LRFilterSIMD>, numSlots> allPasses;
    cvx::dsp::SIMD_Interface simd;
    juce::HeapBlock<char> workMemory;
    juce::dsp::AudioBlock<Register> work;
    std::array<juce::HeapBlock<char>, numSlots> bandMemory;
    std::array<juce::dsp::AudioBlock<Register>, numSlots> bandRegisters;
    std::array<juce::AudioBuffer<float>, numSlots> bandBuffers;

    // Bit i set: crossover filter i and element 0 of all-pass set i have not been brought to
    // a list value since the last preparation, so the next update sets them even when the
    // value equals the remembered one.
    juce::uint32 staleCrossovers = ~juce::uint32 {};

    // The length of the list the last update brought the filters to (0: none since the last
    // preparation).
    size_t numUpdated = 0;

    // The splitter whose key states sit in lanes 2-3 of the filters here, if any.
    BandSplitter* keyLanesOwner = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BandSplitter)
};

#include "BandSplitter.inl"
