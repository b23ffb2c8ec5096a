#include "cvx_core.h"

#include "core/Identifiers.cpp"
#include "core/UntrustedXml.cpp"
#include "core/ModulatorMatrix.cpp"
#include "core/State.cpp"
#include "core/Processor.cpp"
#include "core/Parameter.cpp"
#include "core/AudioProcessor.cpp"
