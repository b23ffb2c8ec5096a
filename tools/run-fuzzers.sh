#!/usr/bin/env bash
# Runs the libFuzzer targets in a folder, in two steps:
#  1. replays every seed of every target once (fuzz/seeds/<target>; one process per target,
#     side by side), failing on a crash, a sanitizer report, a framework assertion or a broken
#     property, at any input or at exit;
#  2. runs every target side by side for SECONDS (none when 0), each on a working copy of its
#     seeds in <folder>/corpus/<target>, failing when any finds a crash, a leak, a sanitizer
#     report or a broken property; the input that did it is kept in <folder>/artifacts/<target>/
#     and should become a seed and a regression test. tools/merge-fuzz-corpus.sh keeps what the
#     run learned.
# The random seed is fixed (VYX_FUZZ_SEED, default 1) so that a run can be repeated.
#   usage: tools/run-fuzzers.sh BUILD/fuzz [SECONDS]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "$1" && pwd)
seconds=${2:-60}
status=0
pids=()
names=()

# The sanitizer settings of tools/run-tests.sh, where the caller has set none.
sanitizers="$root/tools/sanitizers"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$sanitizers/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1:suppressions=$sanitizers/ubsan.supp}

# A report from a second thread can be cut short by the main thread ending the process with
# status 0, so the logs are searched as well; in a replay, so are the framework's assertions,
# which only print.
reports='ERROR: (libFuzzer|[A-Za-z]+Sanitizer)|runtime error:'
faults="$reports|JUCE Assertion failure|fuzz property broken"

fuzzers=()
for fuzzer in "$bin"/*_fuzzer; do
    [ -x "$fuzzer" ] && fuzzers+=("$fuzzer")
done
if [ ${#fuzzers[@]} -eq 0 ]; then
    echo "no fuzz targets in $bin"
    exit 1
fi

# Step 1, every target at once.
for fuzzer in "${fuzzers[@]}"; do
    name=$(basename "$fuzzer")
    seeds=("$root/fuzz/seeds/$name"/*)
    if [ -e "${seeds[0]}" ]; then
        "$fuzzer" -timeout=30 -rss_limit_mb=4096 "${seeds[@]}" >"$bin/$name.replay.log" 2>&1 &
        pids+=($!)
    else
        pids+=("")
    fi
done

for i in "${!fuzzers[@]}"; do
    name=$(basename "${fuzzers[$i]}")
    log="$bin/$name.replay.log"
    if [ -z "${pids[$i]}" ]; then
        status=1
        echo "replay $name: FAILED, no seeds in fuzz/seeds/$name"
        continue
    fi
    wait "${pids[$i]}"
    code=$?
    if [ $code -eq 0 ] && ! grep -Eq "$faults" "$log"; then
        echo "replay $name: passed, $(grep -c '^Executed ' "$log") seeds"
    else
        status=1
        echo "replay $name: FAILED (exit status $code); what it reported:"
        grep -E -m 5 -A 30 "$faults" "$log" || tail -n 40 "$log"
    fi
done
pids=()

[ "$seconds" -gt 0 ] || exit $status

# Step 2.
for fuzzer in "${fuzzers[@]}"; do
    name=$(basename "$fuzzer")
    corpus="$bin/corpus/$name"
    artifacts="$bin/artifacts/$name"
    mkdir -p "$corpus" "$artifacts"
    cp -n "$root/fuzz/seeds/$name"/* "$corpus"/ 2>/dev/null
    "$fuzzer" "$corpus" -max_total_time="$seconds" -seed="${VYX_FUZZ_SEED:-1}" -timeout=30 -rss_limit_mb=4096 -max_len=65536 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" >"$bin/$name.log" 2>&1 &
    pids+=($!)
    names+=("$name")
done

for i in "${!pids[@]}"; do
    name=${names[$i]}
    log="$bin/$name.log"
    if wait "${pids[$i]}" && ! grep -Eq "$reports" "$log"; then
        runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
        echo "fuzz $name: passed, ${runs:-?} runs, corpus $(ls "$bin/corpus/$name" | wc -l) inputs"
    else
        status=1
        echo "fuzz $name: FAILED (inputs in $bin/artifacts/$name/); end of its log:"
        tail -n 40 "$log"
    fi
done
exit $status
