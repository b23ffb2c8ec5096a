// Host state restore: any bytes a host hands to setStateInformation. Whatever the block, the
// state saved afterwards must restore to itself, byte for byte, and every parameter must stay
// a finite value inside its range.

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    vyx::fuzz::initialise();
    vyx::fuzz::getProcessor();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    auto& processor = vyx::fuzz::getProcessor();
    processor.setStateInformation (data, (int) std::min (size, (size_t) std::numeric_limits<int>::max()));

    for (auto* p : processor.getParameters())
        if (! std::isfinite (p->getValue()) || p->getValue() < 0.0f || p->getValue() > 1.0f)
            vyx::fuzz::fail ("parameter outside its range after a restore", p->getName (64));

    juce::MemoryBlock first, second;
    processor.getStateInformation (first);
    processor.setStateInformation (first.getData(), (int) first.getSize());
    processor.getStateInformation (second);

    if (first != second)
        vyx::fuzz::fail ("a saved state does not restore to itself",
                         first.toString() + "\n--- restored and saved again ---\n" + second.toString());
    return 0;
}
