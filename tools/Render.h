#pragma once

#include "CommandLine.h"
#include "RenderOptions.h"
#include "StateFile.h"

#include <iosfwd>

namespace vyx::host
{

/** `vyxhost render IN OUT [options]`: runs an audio file through the plug-in bundle offline, as
    a host would play it, and writes the result.

    - IN is any file the framework reads (WAV, AIFF), mono or stereo; OUT keeps its sample rate,
      channel count and length, and lines up with it sample for sample (the plug-in's latency
      is compensated).
    - OUT is a 32-bit float WAV, or 24-bit with --bits 24; it is written through a temporary
      file, so a failed run leaves no OUT (and an existing OUT unchanged).
    - --state FILE (a saved state block), --preset FILE (a preset file), --set ID=VALUE (plain
      parameter value, repeatable), --oversampling none|2x|4x|8x: applied in that order.
    - --sidechain FILE feeds the sidechain input (same sample rate; shorter files are padded
      with silence); --block N sets the block size; --plugin BUNDLE renders through another
      copy of the bundle. */
const Command& getRenderCommand();

/** Renders as the options say. Summary lines go to out; the progress bar (on files longer than
    a few seconds) goes to err. Throws CommandError, having written no OUT. Message thread. */
void renderFile (const RenderOptions& options, std::ostream& out, std::ostream& err);

/** `vyxhost render` on the arguments after the word "render" (runCommand): an error is one
    line on err and makes the result non-zero. Message thread. */
int runRender (const juce::StringArray& arguments, std::ostream& out, std::ostream& err);

} // namespace vyx::host
