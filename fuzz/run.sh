#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for the seconds given, each over a scratch copy of its seed corpus
# (fuzz/corpus/<name>); the bitmap target also starts from the BMP test suite in tests/image/suite.
# Usage: fuzz/run.sh BUILD-DIR SECONDS
set -euo pipefail
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
suite="$here/../tests/image/suite"
for target in "$build"/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    name=${name#fuzz_}
    scratch=$(mktemp -d)
    [ -d "$here/corpus/$name" ] && cp -r "$here/corpus/$name/." "$scratch/"
    seeds=()
    if [ "$name" = dib ] && [ -d "$suite" ]; then
        for folder in g b q; do [ -d "$suite/$folder" ] && seeds+=("$suite/$folder"); done
    fi
    echo "-- fuzz_$name for $seconds s"
    log="$scratch.log"
    status=0
    "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/fuzz-$name-" "$scratch" "${seeds[@]}" >"$log" 2>&1 || status=$?
    grep -E 'stat::number_of_executed_units|Done [0-9]+ runs' "$log" || true
    rm -rf "$scratch"
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$log"
        echo "fuzz_$name found a fault (artifacts under $build/fuzz-$name-*)"
        exit 1
    fi
    rm -f "$log"
done
