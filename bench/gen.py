#!/usr/bin/env python3
"""Writes realistic path lists for the benchmarks.

The source is a listing of this machine's own file system (find over the
system directories), copied under distinct top-level prefixes until each
size is reached. Every size comes twice: in listing order (the copies one
after the other, each as find walked it) and shuffled with a fixed seed.

    bench/gen.py [--out DIR] [--roots DIR...] [--sizes 100k,1m,5m] [--force]
"""

import argparse
import os
import random
import subprocess
import sys

SIZES = {"100k": 100_000, "1m": 1_000_000, "5m": 5_000_000}


def listing(roots):
    # -xdev keeps pseudo file systems out; unreadable corners are skipped.
    out = subprocess.run(["find", *roots, "-xdev"], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, check=False).stdout
    lines = [line for line in out.split(b"\n") if line]
    if not lines:
        sys.exit("gen.py: the listing of %s is empty" % " ".join(roots))
    return lines


def replicate(lines, count):
    out = []
    copy = 0
    while len(out) < count:
        # Distinct top-level names: "m0001/usr/...", "m0002/usr/...".
        prefix = b"m%04d" % copy
        for line in lines:
            if len(out) == count:
                break
            out.append(prefix + line if line.startswith(b"/") else prefix + b"/" + line)
        copy += 1
    return out


def write(path, lines):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(b"\n".join(lines))
        f.write(b"\n")
    os.replace(tmp, path)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(here, "data"))
    parser.add_argument("--roots", nargs="+", default=["/usr", "/etc", "/var"])
    parser.add_argument("--sizes", default="100k,1m,5m")
    parser.add_argument("--force", action="store_true", help="rewrite existing files")
    args = parser.parse_args()

    os.makedirs(args.out, exist_ok=True)
    source = None
    for name in args.sizes.split(","):
        if name not in SIZES:
            sys.exit("gen.py: unknown size %s (known: %s)" % (name, ", ".join(SIZES)))
        ordered = os.path.join(args.out, "paths-%s.txt" % name)
        shuffled = os.path.join(args.out, "paths-%s-shuffled.txt" % name)
        if not args.force and os.path.exists(ordered) and os.path.exists(shuffled):
            continue
        if source is None:
            source = listing(args.roots)
        lines = replicate(source, SIZES[name])
        write(ordered, lines)
        random.Random(1).shuffle(lines)
        write(shuffled, lines)
        print("gen.py: wrote %s and %s" % (ordered, shuffled), file=sys.stderr)


if __name__ == "__main__":
    main()
