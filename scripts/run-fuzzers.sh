#!/bin/sh
# Runs each fuzz target for a short while, starting from a scratch copy of
# its seed corpus (the committed corpus stays as it is), and prints one line
# per target. Fails when any target finds something; what it found is kept
# under BUILD_DIR/fuzz-artifacts/<target>/ with the target's log beside it.
#
#   sh scripts/run-fuzzers.sh BUILD_DIR
#   FUZZ_SECONDS=300 sh scripts/run-fuzzers.sh build/fuzz    (default 25 s each)
set -u

if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
build=$1
seconds=${FUZZ_SECONDS:-25}
root=$(cd "$(dirname "$0")/.." && pwd)
artifacts="$build/fuzz-artifacts"
work=$(mktemp -d "${TMPDIR:-/tmp}/korvel-fuzz.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT INT TERM

# target:max_len. A list of a few kilobytes already makes deep trees and
# many operations; configuration lines of any length cross the old piece size; the
# editor holds 63 bytes, so a kilobyte of keys walks a long history; two
# kilobytes of events move, fold, search and resize a small tree many times.
targets="lines_paths:2048 config:2048 line_editor:1024 viewer:2048"

failed=0
for entry in $targets; do
    name=${entry%%:*}
    max_len=${entry#*:}
    binary="$build/fuzz/fuzz_$name"
    if [ ! -x "$binary" ]; then
        echo "$name: not built ($binary missing)"
        failed=1
        continue
    fi
    rm -rf "${artifacts:?}/$name"
    mkdir -p "$artifacts/$name" "$work/$name"
    cp "$root/fuzz/corpus/$name/"* "$work/$name/"
    log="$artifacts/$name.log"

    start=$(date +%s)
    "$binary" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$artifacts/$name/" "$work/$name" >"$log" 2>&1
    rc=$?
    elapsed=$(($(date +%s) - start))

    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    [ -n "$runs" ] || runs=$(sed -n 's/^#\([0-9][0-9]*\).*/\1/p' "$log" | tail -n 1)
    found=$(find "$artifacts/$name" -type f | wc -l | tr -d ' ')

    if [ "$rc" -eq 0 ] && [ "$found" -eq 0 ]; then
        echo "$name: ${runs:-0} executions in ${elapsed} s, no findings"
    else
        failed=1
        first=$(find "$artifacts/$name" -type f | head -n 1)
        echo "$name: ${runs:-0} executions in ${elapsed} s, FAILED (exit $rc, $found finding(s)); log: $log"
        [ -n "$first" ] && echo "    reproduce: $binary $first"
        grep -m 3 -E 'ERROR:|runtime error|check failed|Assertion' "$log" | sed 's/^/    /'
    fi
done
exit $failed
