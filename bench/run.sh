#!/bin/sh
# The benchmarks: korvel's time from start to its first frame, and the
# loader's alone, beside fzf's time to load every line and `LC_ALL=C sort`,
# from a file and through a pipe, in the same run; the phases of the loader;
# the time from a key to its frame; the directory walker beside
# `find . > /dev/null`; and what an idle korvel costs. Called by `make bench`
# after `make build`.
#
#   SIZES   sizes to run, from 100k, 1m, 5m (default "100k,1m,5m")
#   RUNS    runs per file; the medians are printed (default 5)
set -eu
cd "$(dirname "$0")/.."

sizes=${SIZES:-100k,1m,5m}
runs=${RUNS:-5}
korvel=build/release/korvel
load_bench=build/release/bench/load_bench
key_bench=build/release/bench/key_bench
walk_bench=build/release/bench/walk_bench
[ -x "$korvel" ] || { echo "run.sh: build first (make build)" >&2; exit 1; }
cmake --build build/release --target load_bench key_bench walk_bench >/dev/null

python3 bench/gen.py --sizes "$sizes"
files=""
for size in $(echo "$sizes" | tr ',' ' '); do
    files="$files bench/data/paths-$size.txt bench/data/paths-$size-shuffled.txt"
done

mkdir -p bench/results
log=bench/results/$(date +%Y%m%d-%H%M%S).txt

{
    echo "korvel $(git rev-parse --short HEAD 2>/dev/null || echo '?'), $(nproc) processors, $(date)"
    echo
    echo "Loading, wall clock (korvel: start to first frame in a pseudo-terminal; loader: the"
    echo "loader alone; fzf: start to its counter showing every line); ratio = time / fzf's:"
    # shellcheck disable=SC2086
    python3 bench/ptyrun.py --runs "$runs" --korvel "$korvel" --loader "$load_bench" $files
    echo
    echo "Phases of the loader (wall clock, then processor time of all its threads):"
    # shellcheck disable=SC2086
    python3 bench/phases.py --runs "$runs" "$load_bench" $files
    echo
    echo "From a key to its drawn frame (processor milliseconds, real terminal layer on a 200x60 pty):"
    for size in $(echo "$sizes" | tr ',' ' '); do
        echo "paths-$size.txt:"
        script -qfc "stty rows 60 cols 200; $key_bench --runs $runs bench/data/paths-$size.txt > bench/results/keys.txt" \
            /dev/null >/dev/null
        sed 's/^/  /' bench/results/keys.txt
    done
    echo
    echo "Listing a directory tree with no input (wall clock and processor seconds; ratio = walker / find):"
    python3 bench/walk.py --runs "$runs" "$walk_bench"
    echo
    echo "Idle, after the first frame (processor time and wake-ups over 10 seconds):"
    first=$(echo "$files" | awk '{print $1}')
    python3 bench/idle.py --korvel "$korvel" "$first"
    echo "The preview pane: how soon it shows a file, and a command's output:"
    python3 bench/preview.py --korvel "$korvel"
    echo "Idle with the preview pane open, built-in, then a command that has finished:"
    python3 bench/idle.py --korvel "$korvel" --option=-p "$first"
    python3 bench/idle.py --korvel "$korvel" "--option=--preview-command=ls -la -- \"\$f\"" "$first"
} | tee "$log"
echo "run.sh: saved in $log" >&2
