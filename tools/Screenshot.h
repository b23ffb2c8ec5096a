#pragma once

#include "CommandLine.h"

namespace vyx::host
{

/** `vyxhost screenshot OUT.png [WIDTH HEIGHT]`: opens the bundle's editor in a real window on
    the X display, lets the plug-in paint, and writes a PNG of the plug-in's own window as a
    person sees it (read back from the X server: the plug-in draws with its own copy of the
    framework into an embedded window, so the host's components hold none of it).

    - Without a size the editor opens at the size it chooses itself; WIDTH and HEIGHT (whole
      pixels, 1 to 8192) resize it through the host first, as a user dragging the corner does.
    - Needs an X display ($DISPLAY) with a window manager running (for example openbox).
    - The pointer is moved to the far corner of the screen first, so that no hover shows.
    - OUT is written through a temporary file, so a failed run leaves no OUT. */
const Command& getScreenshotCommand();

/** What the X server shows of the plug-in's window inside a host's editor window that is on
    the desktop (the largest viewable window inside the editor's own), as an opaque image;
    invalid when the display or the window cannot be read. Message thread. */
juce::Image capturePluginWindow (juce::Component& hostEditor);

} // namespace vyx::host
