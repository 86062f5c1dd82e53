#!/usr/bin/env python3
"""Medians of load_bench over several runs, per file.

With --loader (the default): the whole loader as the viewer runs it, its
phases in wall-clock seconds (read: reading and splitting into buckets;
sort: sorting with the tree built alongside; tree: the rest of the tree once
every bucket is sorted) and the processor seconds of all its threads in
each, with the peak memory. With --steps: the plain steps on one thread in
processor seconds (read, sort, tree).

    bench/phases.py [--runs N] [--steps] LOAD_BENCH FILE...
"""

import argparse
import os
import statistics
import subprocess
import sys


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--steps", action="store_true")
    parser.add_argument("load_bench")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()

    fields = ["read", "sort", "tree", "total"]
    if not args.steps:
        fields += ["read_cpu", "sort_cpu", "tree_cpu"]
    print("%-28s" % "file" + "".join(" %9s" % (f + "_s") for f in fields) +
          " %9s %7s" % ("peak_MB", "peak/in"))
    for path in args.files:
        rows = []
        for _ in range(args.runs):
            command = [args.load_bench, path] if args.steps else [args.load_bench, "--loader", path]
            out = subprocess.run(command, stdout=subprocess.PIPE, check=True, text=True).stdout
            rows.append(dict(field.split("=") for field in out.split()))
        median = lambda key: statistics.median(float(row[key]) for row in rows)
        peak = median("maxrss_kb") * 1024
        print("%-28s" % os.path.basename(path) + "".join(" %9.3f" % median(f) for f in fields) +
              " %9.1f %7.2f" % (peak / 1e6, peak / os.path.getsize(path)), flush=True)


if __name__ == "__main__":
    sys.exit(main())
