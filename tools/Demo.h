#pragma once

#include "CommandLine.h"

namespace vyx::host
{

/** `vyxhost demo [FOLDER]`: writes a generated demo signal, "demo-in.wav" (loud and quiet
    passages of low, middle and high tones), renders it with the factory settings into
    "demo-out.wav" in FOLDER (default: the current folder, made when missing) and prints the
    level of each passage before and after, so the compression shows. */
const Command& getDemoCommand();

} // namespace vyx::host
