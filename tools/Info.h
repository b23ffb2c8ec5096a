#pragma once

#include "CommandLine.h"

namespace vyx::host
{

/** `vyxhost [info] [BUNDLE]`: loads the bundle through its VST3 factory, renders a generated
    signal through it and prints what a host would see: the plug-in's name, its parameter
    count, its latency and the input and output peak levels. The bundle is BUNDLE, --plugin or
    the bundle this tree built. */
const Command& getInfoCommand();

} // namespace vyx::host
