#pragma once

namespace cvx::dsp
{

/** Interleaves up to four channels into the four lanes of SIMD registers (one register per
    sample frame) and spreads them back. Lanes without a channel are fed from, and written to,
    a four-channel scratch block. Everything is allocated in prepare. */
class SIMD_Interface
{
public:
    using Register = juce::dsp::SIMDRegister<float>;

    /** Number of lanes (channels) one register carries. */
    static constexpr size_t numLanes = 4;

    static_assert (Register::SIMDNumElements == numLanes,
                   "the interleaving layout needs four float lanes per register (SSE/NEON width)");

    SIMD_Interface() = default;

    /** Allocates (16-byte aligned) and clears the scratch block and the register block for up
        to maximumBlockSize samples. Not on the audio thread. */
    void prepare (int maximumBlockSize);

    /** Lane c of out register n := in channel c sample n, for n below in's sample count.
        Channels in does not have come from the scratch block, as do all lanes from the first
        null channel pointer on; nothing is written when channel 0 is null or in is empty.
        Safe when out's storage is in's channel 0 (copies backwards then). Audio thread. */
    void toSIMD (const juce::dsp::AudioBlock<float>& in, juce::dsp::AudioBlock<Register>& out);

    /** Channel c of out sample n := lane c of in register n, for c below out's channel count;
        the other lanes (and lanes whose channel pointer is null) go to the scratch block.
        Audio thread. */
    void fromSIMD (const juce::dsp::AudioBlock<Register>& in, juce::dsp::AudioBlock<float>& out);

    /** channels[c][n] := lane c of in[n] for n below numFrames; a null channel is skipped.
        The channels must not overlap the registers. The loop fromSIMD runs, without its block
        checks, for owners that spread many blocks of known shape. Audio thread. */
    static void spread (const Register* in, float* const* channels, size_t numFrames) noexcept;

    /** One channel of maximumBlockSize registers, free for the owner's use. */
    juce::dsp::AudioBlock<Register>& getRegisterBlock() noexcept { return registerBlock; }

    /** Four channels of maximumBlockSize floats. */
    juce::dsp::AudioBlock<float>& getScratchBlock() noexcept { return scratchBlock; }

    int getMaximumBlockSize() const noexcept { return maximumBlockSize; }

private:
    juce::HeapBlock<char> scratchMemory, registerMemory;
    juce::dsp::AudioBlock<float> scratchBlock;
    juce::dsp::AudioBlock<Register> registerBlock;
    int maximumBlockSize = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SIMD_Interface)
};

} // namespace cvx::dsp
