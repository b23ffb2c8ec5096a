#!/usr/bin/env bash
# Builds and runs every test, in stages:
#   release, debug  every test (JUCE's assertions are checked and logged in both)
#   portable        the engine and DSP tests, with the DSP built without its x86 intrinsics
#   asan            every test again under AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan            the threaded tests (names containing "Concurrent") under ThreadSanitizer
#   fuzz            every libFuzzer target for VYX_FUZZ_SECONDS (default 60) on its seed corpus
# VYX_TEST_STAGES picks stages (default: all, in that order). Every stage runs even when an
# earlier one failed; the script fails when any did. The web-service address points at a
# closed loopback port so that no test leaves the machine.
# Each stage is a function stage_NAME below, building in build-test-NAME; to add one, write
# its function and put its name in the default list.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/tools/install-deps.sh" || exit 1

jobs=$(nproc)
stages=${VYX_TEST_STAGES:-release debug portable asan tsan fuzz}
fuzz_seconds=${VYX_FUZZ_SECONDS:-60}
sanitizers="$root/tools/sanitizers"
# Every stage logs the framework's assertions, which the tests fail on.
common=(-DVYX_SERVICE_URL="http://127.0.0.1:9" -DVYX_LOG_ASSERTIONS=ON)
failed=()

# ASan's leak checker and UBSan stop at the first report; each report fails its test.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$sanitizers/ubsan.supp"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$sanitizers/tsan.supp"

# The build (CMakeLists.txt) compiles through ccache when it is installed. Paths inside this
# checkout are hashed relative to it, so another clone of the same sources finds the results
# too; the precompiled test headers are cacheable with the two sloppiness settings.
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1
export CCACHE_SLOPPINESS="pch_defines,time_macros"

# Configures build-test-NAME (NAME from the calling stage) with the common and the given options.
configure() {
    cmake -S . -B "build-test-$name" "${common[@]}" "$@" >/dev/null
}

build() {
    cmake --build "build-test-$name" -j"$jobs" "$@"
}

# Tests run inside a virtual X server with a window manager (windows need one): there is no
# display in CI and the editor tests open windows.
run_ctest() {
    xvfb-run -a -s "-screen 0 1280x1024x24" sh -c 'openbox >/dev/null 2>&1 & sleep 0.5; exec "$@"' sh \
        ctest --test-dir "build-test-$name" --output-on-failure -j"$jobs" --timeout 900 "$@"
}

# Each stage returns 2 when its build failed, 1 when a test did.

stage_release() {
    # The benchmarks are built (not run) here, so that they keep compiling.
    configure -DCMAKE_BUILD_TYPE=Release -DVYX_BUILD_BENCH=ON && build || return 2
    run_ctest || return 1
}

stage_debug() {
    configure -DCMAKE_BUILD_TYPE=Debug -DVYX_BUILD_BENCH=OFF && build || return 2
    run_ctest || return 1
}

stage_asan() {
    configure -DCMAKE_BUILD_TYPE=Debug -DVYX_SANITIZE=address -DVYX_BUILD_BENCH=OFF && build || return 2
    run_ctest || return 1
}

stage_portable() {
    # Only the two suites are built; the others register as NOT_BUILT and are left out.
    configure -DCMAKE_BUILD_TYPE=Debug -DVYX_PORTABLE_SIMD=ON -DVYX_BUILD_BENCH=OFF \
        && build --target plugin_tests dsp_tests || return 2
    run_ctest -E '_NOT_BUILT$' || return 1
}

stage_tsan() {
    # Only the suites that hold threaded tests, plus the bundle the host tests load.
    local targets=(Vyx_VST3) folder
    for folder in $(grep -l 'Concurrent' tests/*/*.cpp 2>/dev/null | xargs -r -n1 dirname | xargs -r -n1 basename | sort -u); do
        targets+=("${folder}_tests")
    done
    configure -DCMAKE_BUILD_TYPE=Debug -DVYX_SANITIZE=thread -DVYX_BUILD_BENCH=OFF \
        && build --target "${targets[@]}" || return 2
    run_ctest -R Concurrent || return 1
}

stage_fuzz() {
    CC=clang CXX=clang++ configure -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVYX_SANITIZE=fuzzer \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVYX_BUILD_BENCH=OFF \
        && build --target vyx_fuzzers || return 2
    "$root/tools/run-fuzzers.sh" "build-test-$name/fuzz" "$fuzz_seconds" || return 1
}

declare -A titles=(
    [portable]="the DSP's portable paths, engine and DSP tests"
    [asan]="AddressSanitizer + UndefinedBehaviorSanitizer"
    [tsan]="ThreadSanitizer, threaded tests"
    [fuzz]="libFuzzer, ${fuzz_seconds} s per target")

for name in $stages; do
    echo
    echo "=== $name${titles[$name]:+: ${titles[$name]}} ($(date -u +%H:%M:%S))"
    if ! declare -F "stage_$name" >/dev/null; then
        echo "unknown stage '$name'"
        failed+=("$name")
        continue
    fi
    "stage_$name"
    case $? in
        0) ;;
        2) failed+=("$name build") ;;
        *) failed+=("$name") ;;
    esac
done

echo
if [ ${#failed[@]} -ne 0 ]; then
    echo "FAILED stages: ${failed[*]}"
    exit 1
fi
echo "All stages passed: $stages"
