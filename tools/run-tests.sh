#!/usr/bin/env bash
# Builds and runs every test, in stages:
#   release, debug  every test (JUCE's assertions only fire in Debug)
#   portable        the engine and DSP tests, with the DSP built without its x86 intrinsics
#   asan            every test again under AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan            the threaded tests (names containing "Concurrent") under ThreadSanitizer
#   fuzz            every libFuzzer target for VYX_FUZZ_SECONDS (default 60) on its seed corpus
# VYX_TEST_STAGES picks stages (default: all, in that order). Every stage runs even when an
# earlier one failed; the script fails when any did. The web-service address points at a
# closed loopback port so that no test leaves the machine.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/tools/install-deps.sh" || exit 1

jobs=$(nproc)
stages=${VYX_TEST_STAGES:-release debug portable asan tsan fuzz}
fuzz_seconds=${VYX_FUZZ_SECONDS:-60}
sanitizers="$root/tools/sanitizers"
common=(-DVYX_SERVICE_URL="http://127.0.0.1:9")
failed=()

# ASan's leak checker and UBSan stop at the first report; each report fails its test.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$sanitizers/ubsan.supp"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$sanitizers/tsan.supp"

stage() { echo; echo "=== $1 ($(date -u +%H:%M:%S))"; }

# Tests run inside a virtual X server with a window manager (windows need one): there is no
# display in CI and the editor tests open windows.
run_ctest() {
    xvfb-run -a -s "-screen 0 1280x1024x24" sh -c 'openbox >/dev/null 2>&1 & sleep 0.5; exec "$@"' sh \
        ctest --test-dir "$1" --output-on-failure -j"$jobs" --timeout 900 "${@:2}"
}

build() {
    local dir=$1; shift
    cmake --build "$dir" -j"$jobs" "$@"
}

for config in release debug; do
    [[ " $stages " == *" $config "* ]] || continue
    stage "$config"
    dir="build-test-$config"
    # The benchmarks are built (not run) once, in Release, so that they keep compiling.
    bench=OFF
    [ "$config" = release ] && bench=ON
    if cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="${config^}" -DVYX_BUILD_BENCH=$bench "${common[@]}" >/dev/null && build "$dir"; then
        run_ctest "$dir" || failed+=("$config")
    else
        failed+=("$config build")
    fi
done

if [[ " $stages " == *" portable "* ]]; then
    stage "portable: the DSP's portable paths, engine and DSP tests"
    dir=build-test-portable
    # Only the two suites are built; the others register as NOT_BUILT and are left out.
    if cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DVYX_PORTABLE_SIMD=ON -DVYX_BUILD_BENCH=OFF "${common[@]}" >/dev/null \
        && build "$dir" --target plugin_tests dsp_tests; then
        run_ctest "$dir" -E '_NOT_BUILT$' || failed+=("portable")
    else
        failed+=("portable build")
    fi
fi

if [[ " $stages " == *" asan "* ]]; then
    stage "asan: AddressSanitizer + UndefinedBehaviorSanitizer"
    dir=build-test-asan
    if cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DVYX_SANITIZE=address -DVYX_BUILD_BENCH=OFF "${common[@]}" >/dev/null && build "$dir"; then
        run_ctest "$dir" || failed+=("asan")
    else
        failed+=("asan build")
    fi
fi

if [[ " $stages " == *" tsan "* ]]; then
    stage "tsan: ThreadSanitizer, threaded tests"
    dir=build-test-tsan
    # Only the suites that hold threaded tests, plus the bundle the host tests load.
    targets=(Vyx_VST3)
    for folder in $(grep -l 'Concurrent' tests/*/*.cpp 2>/dev/null | xargs -r -n1 dirname | xargs -r -n1 basename | sort -u); do
        targets+=("${folder}_tests")
    done
    if cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DVYX_SANITIZE=thread -DVYX_BUILD_BENCH=OFF "${common[@]}" >/dev/null \
        && build "$dir" --target "${targets[@]}"; then
        run_ctest "$dir" -R Concurrent || failed+=("tsan")
    else
        failed+=("tsan build")
    fi
fi

if [[ " $stages " == *" fuzz "* ]]; then
    stage "fuzz: libFuzzer, ${fuzz_seconds} s per target"
    dir=build-test-fuzz
    if CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVYX_SANITIZE=fuzzer \
            -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVYX_BUILD_BENCH=OFF "${common[@]}" >/dev/null \
        && build "$dir" --target vyx_fuzzers; then
        "$root/tools/run-fuzzers.sh" "$dir/fuzz" "$fuzz_seconds" || failed+=("fuzz")
    else
        failed+=("fuzz build")
    fi
fi

echo
if [ ${#failed[@]} -ne 0 ]; then
    echo "FAILED stages: ${failed[*]}"
    exit 1
fi
echo "All stages passed: $stages"
