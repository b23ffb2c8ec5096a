#pragma once

#include "CommandLine.h"

namespace vyx::host
{

/** One --set ID=VALUE: a host parameter id and a plain value inside its range. */
struct ParameterSetting
{
    juce::String id;
    double value = 0.0;
};

/** What `vyxhost render` does, read from its command line. */
struct RenderOptions
{
    juce::File input, output;
    juce::File bundle;                         // --plugin, or the bundle this tree built
    juce::File preset, state, sidechain;       // none when not given
    std::vector<ParameterSetting> settings;    // --set, in order
    std::optional<int> oversampling;           // --oversampling, as the stage 0..3 of the "OVER" attribute
    int blockSize = 512;                       // samples
    int bits = 32;                             // 32: float WAV, 24: PCM
};

/** Largest --block, in samples. */
constexpr int maximumRenderBlockSize = 65536;

/** The options of `vyxhost render` beyond the common ones. */
const std::vector<Option>& getRenderOptionList();

/** Reads and checks render's arguments: two files (IN OUT), the options' values, and every
    --set against the parameter layout (known id, plain value inside the range). Throws
    UsageError naming the first word that is wrong. Files are not opened here. */
RenderOptions readRenderOptions (const Arguments& arguments);

} // namespace vyx::host
