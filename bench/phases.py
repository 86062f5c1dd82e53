#!/usr/bin/env python3
"""Medians of load_bench over several runs: processor time of each loading
step (read, sort, tree) and peak memory, per file.

    bench/phases.py [--runs N] [--sort lines|std|qsort] LOAD_BENCH FILE...
"""

import argparse
import os
import statistics
import subprocess
import sys


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--sort", default="lines")
    parser.add_argument("load_bench")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()

    print("%-28s %8s %8s %8s %8s %9s %7s" % ("file", "read_s", "sort_s", "tree_s", "total_s",
                                             "peak_MB", "peak/in"))
    for path in args.files:
        rows = []
        for _ in range(args.runs):
            out = subprocess.run([args.load_bench, "--sort=" + args.sort, path],
                                 stdout=subprocess.PIPE, check=True, text=True).stdout
            rows.append(dict(field.split("=") for field in out.split()))
        median = lambda key: statistics.median(float(row[key]) for row in rows)
        peak = median("maxrss_kb") * 1024
        print("%-28s %8.3f %8.3f %8.3f %8.3f %9.1f %7.2f" % (
            os.path.basename(path), median("read"), median("sort"), median("tree"),
            median("total"), peak / 1e6, peak / os.path.getsize(path)), flush=True)


if __name__ == "__main__":
    sys.exit(main())
