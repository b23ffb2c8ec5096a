#!/usr/bin/env bash
# Builds and runs every test, in stages:
#   release, debug  every test (JUCE's assertions are checked and logged in both)
#   portable        the engine and DSP tests, with the DSP built without its x86 intrinsics
#   asan            every test again under AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan            the threaded tests (names containing "Concurrent") under ThreadSanitizer
#   fuzz            every libFuzzer target for VYX_FUZZ_SECONDS (default 60) on its seed corpus
# VYX_TEST_STAGES picks stages (default: all, in that order). Every stage runs even when another
# failed; the script fails when any did. The web-service address points at a closed loopback
# port so that no test leaves the machine.
#
# First every stage's build folder (build-test-NAME) is configured, then all of them are built
# at once: one make job server hands out the machine's cores to every stage, so that the long
# last compilations of one stage overlap the others. Each build writes its output to
# build-test-NAME/build.log, which is printed when the build fails. Then the stages' tests run
# one stage after another, on an otherwise quiet machine (several tests measure time).
# A stage is its build options (options[NAME]), its make targets (targets[NAME]) and a function
# test_NAME that runs its tests; to add one, write those and put its name in the default list.
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
# too.
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1
export CCACHE_SLOPPINESS="time_macros"

declare -A options targets titles

# The benchmarks are built (not run) in Release, so that they keep compiling.
options[release]="-DCMAKE_BUILD_TYPE=Release -DVYX_BUILD_BENCH=ON"
targets[release]=all

options[debug]="-DCMAKE_BUILD_TYPE=Debug -DVYX_BUILD_BENCH=OFF"
targets[debug]=all

# Only the two suites are built; the others register as NOT_BUILT and are left out.
titles[portable]="the DSP's portable paths, engine and DSP tests"
options[portable]="-DCMAKE_BUILD_TYPE=Debug -DVYX_PORTABLE_SIMD=ON -DVYX_BUILD_BENCH=OFF"
targets[portable]="plugin_tests dsp_tests"

titles[asan]="AddressSanitizer + UndefinedBehaviorSanitizer"
options[asan]="-DCMAKE_BUILD_TYPE=Debug -DVYX_SANITIZE=address -DVYX_BUILD_BENCH=OFF"
targets[asan]=all

# Only the suites that hold threaded tests, plus the bundle the host tests load.
titles[tsan]="ThreadSanitizer, threaded tests"
options[tsan]="-DCMAKE_BUILD_TYPE=Debug -DVYX_SANITIZE=thread -DVYX_BUILD_BENCH=OFF"
targets[tsan]="Vyx_VST3 $(grep -l 'Concurrent' tests/*/*.cpp | xargs -n1 dirname | xargs -n1 basename | sort -u | sed 's/$/_tests/' | tr '\n' ' ')"

titles[fuzz]="libFuzzer, ${fuzz_seconds} s per target"
options[fuzz]="-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVYX_SANITIZE=fuzzer -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVYX_BUILD_BENCH=OFF"
targets[fuzz]=vyx_fuzzers

# Tests run inside a virtual X server with a window manager (windows need one): there is no
# display in CI and the editor tests open windows.
run_ctest() {
    xvfb-run -a -s "-screen 0 1280x1024x24" sh -c 'openbox >/dev/null 2>&1 & sleep 0.5; exec "$@"' sh \
        ctest --test-dir "build-test-$name" --output-on-failure -j"$jobs" --timeout 900 "$@"
}

test_release() { run_ctest; }
test_debug() { run_ctest; }
test_portable() { run_ctest -E '_NOT_BUILT$'; }
test_asan() { run_ctest; }
test_tsan() { run_ctest -R Concurrent; }
test_fuzz() { "$root/tools/run-fuzzers.sh" "build-test-$name/fuzz" "$fuzz_seconds"; }

stamp() { date -u +%H:%M:%S; }

# Configures every stage, side by side; a stage whose configuration fails is not built.
configure() {
    local name=$1
    mkdir -p "build-test-$name"
    rm -f "build-test-$name/build.status"
    # shellcheck disable=SC2086  # the options are words
    cmake -S . -B "build-test-$name" -G "Unix Makefiles" "${common[@]}" ${options[$name]} \
        >"build-test-$name/configure.log" 2>&1
}

declare -A configuring
for name in $stages; do
    if [ -z "${options[$name]:-}" ] || ! declare -F "test_$name" >/dev/null; then
        echo "unknown stage '$name'"
        failed+=("$name")
        continue
    fi
    configure "$name" &
    configuring[$name]=$!
done
configured=()
for name in $stages; do
    [ -n "${configuring[$name]:-}" ] || continue
    if wait "${configuring[$name]}"; then
        configured+=("$name")
    else
        cat "build-test-$name/configure.log"
        failed+=("$name build")
    fi
done

# Builds every configured stage at once under one job server. The folders use CMake's Makefile
# generator, whose make takes part in the job server; each build's exit status lands in
# build-test-NAME/build.status.
echo
echo "=== building: ${configured[*]} ($(stamp))"
rules=".PHONY: all"$'\n'"all:"
for name in "${configured[@]}"; do
    rules+=" build-$name"
done
rules+=$'\n'
for name in "${configured[@]}"; do
    folder="build-test-$name"
    rules+="build-$name:"$'\n'
    rules+=$'\t'"+@start=\$\$(date +%s); \$(MAKE) --no-print-directory -C $folder ${targets[$name]} >$folder/build.log 2>&1; "
    rules+="status=\$\$?; echo \$\$status >$folder/build.status; "
    rules+="echo \"  $name built in \$\$((\$\$(date +%s) - start)) s, status \$\$status\""$'\n'
done
make -j"$jobs" -k -f - all <<<"$rules" || true

for name in "${configured[@]}"; do
    echo
    echo "=== $name${titles[$name]:+: ${titles[$name]}} ($(stamp))"
    if [ "$(cat "build-test-$name/build.status" 2>/dev/null)" != 0 ]; then
        # The first errors, then how the build ended.
        grep -E -A8 'error:|Error [0-9]' "build-test-$name/build.log" | head -n 80
        tail -n 20 "build-test-$name/build.log"
        failed+=("$name build")
        continue
    fi
    "test_$name" || failed+=("$name")
done

echo
if [ ${#failed[@]} -ne 0 ]; then
    echo "FAILED stages: ${failed[*]} ($(stamp))"
    exit 1
fi
echo "All stages passed: $stages ($(stamp))"
