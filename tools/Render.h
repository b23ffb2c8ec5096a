#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <iosfwd>

namespace vyx::host
{

/** Changes a hosted Vyx instance's state the way a DAW restores a project: reads the state
    the host holds, lets edit change the plug-in's "State" document (parameters, Properties,
    Attributes such as "OVER"), and hands the result back through setStateInformation.
    Returns false, changing nothing, when the host's state holds no plug-in state block.
    Message thread. */
bool editPluginState (juce::AudioPluginInstance& instance, const std::function<void (juce::XmlElement&)>& edit);

/** The usage text of `vyxhost render`. */
juce::String getRenderUsage();

/** `vyxhost render IN OUT [options]`: runs an audio file through the plug-in bundle offline, as
    a host would play it, and writes the result.

    - IN is any file the framework reads (WAV, AIFF), mono or stereo; OUT keeps its sample rate,
      channel count and length, and lines up with it sample for sample (the plug-in's latency
      is compensated).
    - OUT is a 32-bit float WAV, or 24-bit with --bits 24; it is written through a temporary
      file, so a failed run leaves no OUT (and an existing OUT unchanged).
    - --preset FILE (a preset file), --state FILE (a saved state block), --set ID=VALUE (plain
      parameter value, repeatable), --oversampling none|2x|4x|8x: applied in that order.
    - --sidechain FILE feeds the sidechain input (same sample rate; shorter files are padded
      with silence); --block N sets the block size; --plugin BUNDLE renders through another
      copy of the bundle.

    Arguments are those after the word "render". Summary lines go to out; the progress bar (on
    files longer than a few seconds) and errors go to err; an error is one line and makes the
    result non-zero. Message thread. */
int runRender (const juce::StringArray& arguments, std::ostream& out, std::ostream& err);

/** `vyxhost demo [FOLDER] [--plugin BUNDLE]`: writes a generated demo signal, "demo-in.wav"
    (loud and quiet passages of low, middle and high tones), renders it with the factory
    settings into "demo-out.wav" in FOLDER (default: the current folder) and prints the level
    of each passage before and after, so the compression shows. Message thread. */
int runDemo (const juce::StringArray& arguments, std::ostream& out, std::ostream& err);

} // namespace vyx::host
