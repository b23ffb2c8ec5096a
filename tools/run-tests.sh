#!/usr/bin/env bash
# Builds and runs every test, in Release and in Debug (JUCE's assertions only fire in Debug).
# The web-service address points at a closed loopback port so that no test leaves the machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/tools/install-deps.sh"

jobs=$(nproc)
status=0
for config in Release Debug; do
    dir="build-test-${config,,}"
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$config" -DVYX_SERVICE_URL="http://127.0.0.1:9" >/dev/null
    cmake --build "$dir" -j"$jobs"
    # No display in CI: GUI tests run inside a virtual X server.
    xvfb-run -a -s "-screen 0 1280x1024x24" \
        ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600 || status=1
done
exit $status
