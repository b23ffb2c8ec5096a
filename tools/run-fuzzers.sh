#!/usr/bin/env bash
# Runs every libFuzzer target in a folder side by side for a bounded time, each on a working
# copy of its seed corpus (fuzz/seeds/<target>). Fails when any target finds a crash, a leak,
# a sanitizer report or a broken property; the input that did it is kept in
# <folder>/artifacts/<target>/ and should become a regression test.
# The random seed is fixed (VYX_FUZZ_SEED, default 1) so that a run can be repeated.
#   usage: tools/run-fuzzers.sh BUILD/fuzz [SECONDS]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "$1" && pwd)
seconds=${2:-60}
status=0
pids=()
names=()

for fuzzer in "$bin"/*_fuzzer; do
    [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer")
    corpus="$bin/corpus/$name"
    artifacts="$bin/artifacts/$name"
    mkdir -p "$corpus" "$artifacts"
    [ -d "$root/fuzz/seeds/$name" ] && cp -n "$root/fuzz/seeds/$name"/* "$corpus"/ 2>/dev/null
    "$fuzzer" "$corpus" -max_total_time="$seconds" -seed="${VYX_FUZZ_SEED:-1}" -timeout=30 -rss_limit_mb=4096 -max_len=65536 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" >"$bin/$name.log" 2>&1 &
    pids+=($!)
    names+=("$name")
done

if [ ${#pids[@]} -eq 0 ]; then
    echo "no fuzz targets in $bin"
    exit 1
fi

for i in "${!pids[@]}"; do
    name=${names[$i]}
    log="$bin/$name.log"
    if wait "${pids[$i]}"; then
        runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
        echo "fuzz $name: passed, ${runs:-?} runs, corpus $(ls "$bin/corpus/$name" | wc -l) inputs"
    else
        status=1
        echo "fuzz $name: FAILED (inputs in $bin/artifacts/$name/); end of its log:"
        tail -n 40 "$log"
    fi
done
exit $status
