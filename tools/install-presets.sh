#!/usr/bin/env bash
# Installs the factory presets (resources/presets) into the plug-in's factory preset folder:
# the framework's common application-data folder on Linux (/opt), then Audio/Presets/Corvane/Vyx.
# Another destination folder may be given as the only argument. A folder that cannot be written
# is reported and skipped: the plug-in then shows only the user's presets.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir="$here/../resources/presets"
target="${1:-/opt/Audio/Presets/Corvane/Vyx}"

sudo=""
if [ "$(id -u)" -ne 0 ] && [ -z "${1:-}" ] && command -v sudo >/dev/null; then
    sudo=sudo
fi

if $sudo mkdir -p "$target" && $sudo cp -f "$source_dir"/*.preset "$target"/; then
    echo "Factory presets installed in $target"
else
    echo "Could not write $target: factory presets not installed" >&2
fi
exit 0
