#!/usr/bin/env bash
# Keeps what a fuzzing run learned: merges each target's grown corpus (<folder>/corpus/<target>,
# written by tools/run-fuzzers.sh) into its seed folder fuzz/seeds/<target>, adding only the
# inputs that reach code the seeds do not (libFuzzer's -merge=1). Named seeds (the made ones
# and every regression input) stay; the inputs an earlier merge added, named by their SHA-1,
# go back into the corpus first and are merged again, so the folder never holds more than
# the named seeds and one minimal set beside them. Run it after a long run, and whenever a
# target or the code it reads changes; then commit fuzz/seeds.
#   usage: tools/merge-fuzz-corpus.sh BUILD/fuzz
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "$1" && pwd)

for fuzzer in "$bin"/*_fuzzer; do
    [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer")
    seeds="$root/fuzz/seeds/$name"
    corpus="$bin/corpus/$name"
    mkdir -p "$seeds" "$corpus"

    find "$seeds" -maxdepth 1 -type f -regextype posix-extended -regex '.*/[0-9a-f]{40}' \
        -exec mv -f -t "$corpus" {} +
    before=$(ls "$seeds" | wc -l)
    "$fuzzer" -merge=1 -timeout=30 -rss_limit_mb=4096 -max_len=65536 "$seeds" "$corpus" >"$bin/$name.merge.log" 2>&1 || {
        echo "merge $name: FAILED; end of its log:"
        tail -n 40 "$bin/$name.merge.log"
        exit 1
    }
    echo "merge $name: $before named seeds, $(($(ls "$seeds" | wc -l) - before)) merged inputs from $(ls "$corpus" | wc -l) in the corpus," \
         "$(du -sk "$seeds" | cut -f1) KB"
done
