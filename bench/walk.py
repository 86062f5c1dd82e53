#!/usr/bin/env python3
"""Times korvel's directory walker beside `find . > /dev/null` on one tree.

The tree is a copy of the shape of this machine's /usr (its directories,
empty files in place of its files, its symbolic links with their targets),
made again under distinct top-level names until it holds about 500,000
files. It is made once, under bench/data/walk-tree/, and kept.

Each round runs `find .` and `walk_bench .` in the tree, one right after the
other (which goes first alternates), both writing their list to /dev/null,
after one untimed run of each to warm the caches. Printed: the medians of
the wall clock and of the processor time (user + system, from wait4) over the
rounds, and the median of walk_bench/find taken round by round.

    bench/walk.py [--runs N] [--files N] [--tree DIR] WALK_BENCH
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def source_shape(root):
    """(relative path, kind, link target) of every entry below root, parents
    first, on root's own file system only."""
    device = os.lstat(root).st_dev
    entries = []
    stack = [b""]
    while stack:
        relative = stack.pop()
        try:
            listing = list(os.scandir(os.path.join(root, relative) if relative else root))
        except OSError:
            continue
        for entry in listing:
            path = os.path.join(relative, entry.name) if relative else entry.name
            try:
                if entry.is_symlink():
                    entries.append((path, "l", os.readlink(entry.path)))
                elif entry.is_dir(follow_symlinks=False):
                    if entry.stat(follow_symlinks=False).st_dev != device:
                        continue
                    entries.append((path, "d", None))
                    stack.append(path)
                else:
                    entries.append((path, "f", None))
            except OSError:
                continue
    return entries


def make_tree(tree, files_wanted, source=b"/usr"):
    """Copies the shape of source under tree/w0000, tree/w0001, ... until
    files_wanted non-directories are made. Returns (entries, files)."""
    shape = source_shape(source)
    if not any(kind != "d" for _, kind, _ in shape):
        sys.exit("walk.py: %s holds no files to copy" % source.decode())
    partial = tree + ".partial"
    subprocess.run(["rm", "-rf", partial], check=True)
    os.makedirs(partial)
    entries = files = copy = 0
    base = os.fsencode(partial)
    while files < files_wanted:
        top = os.path.join(base, b"w%04d" % copy)
        os.mkdir(top)
        entries += 1
        for path, kind, target in shape:
            if files == files_wanted:
                break
            full = os.path.join(top, path)
            if kind == "d":
                os.mkdir(full)
            elif kind == "l":
                os.symlink(target, full)
                files += 1
            else:
                os.close(os.open(full, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644))
                files += 1
            entries += 1
        copy += 1
    os.rename(partial, tree)
    return entries, files


def timed(argv, cwd):
    """(wall seconds, processor seconds) of one run, output to /dev/null."""
    with open(os.devnull, "wb") as null:
        start = time.perf_counter()
        child = subprocess.Popen(argv, cwd=cwd, stdout=null)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit("walk.py: %s exited with %d" % (" ".join(argv), child.returncode))
    return wall, usage.ru_utime + usage.ru_stime


def count(argv, cwd):
    out = subprocess.run(argv, cwd=cwd, stdout=subprocess.PIPE, check=True).stdout
    return out.count(b"\0")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--files", type=int, default=500_000)
    parser.add_argument("--tree", default=os.path.join(HERE, "data", "walk-tree"))
    parser.add_argument("walk_bench")
    args = parser.parse_args()
    walk_bench = os.path.abspath(args.walk_bench)

    if not os.path.isdir(args.tree):
        print("walk.py: making %s (once)" % args.tree, file=sys.stderr)
        entries, files = make_tree(args.tree, args.files)
        print("walk.py: %d entries, %d of them files" % (entries, files), file=sys.stderr)

    # The same entries from both, or the comparison means nothing.
    found = count(["find", ".", "-mindepth", "1", "-print0"], args.tree)
    walked = count([walk_bench, "--print0", "."], args.tree)
    if found != walked:
        sys.exit("walk.py: find lists %d entries, walk_bench %d" % (found, walked))

    find = ["find", "."]
    walk = [walk_bench, "."]
    timed(find, args.tree)
    timed(walk, args.tree)
    rows = {"find": [], "walk": []}
    ratios = []
    for round_ in range(args.runs):
        order = [("find", find), ("walk", walk)]
        if round_ % 2:
            order.reverse()
        times = {name: timed(argv, args.tree) for name, argv in order}
        for name in rows:
            rows[name].append(times[name])
        ratios.append(times["walk"][0] / times["find"][0])

    median = statistics.median
    print("tree: %s, %d entries" % (os.path.relpath(args.tree), found))
    print("%-26s %9s %9s" % ("", "wall_s", "cpu_s"))
    for name, label in (("walk", "korvel walker (walk_bench)"), ("find", "find . > /dev/null")):
        print("%-26s %9.3f %9.3f" % (label, median(w for w, _ in rows[name]),
                                      median(c for _, c in rows[name])))
    print("ratio walker/find (wall, median of rounds): %.2f" % median(ratios))


if __name__ == "__main__":
    main()
