#!/usr/bin/env python3
"""Times korvel from its start to its first frame, beside `LC_ALL=C sort`.

korvel runs on a pseudo-terminal of a fixed size with the list as its FILE
operand. The time taken is the moment the position counter ("1/N", the last
thing a frame draws) reaches the terminal. A 'q' is typed at once, and again
every few milliseconds in case the terminal set-up discarded pending input,
so that korvel quits right after that frame. Peak memory
is the child's ru_maxrss from wait4. In the same run, the same file goes
through `LC_ALL=C sort` (output to /dev/null) for the ratio: on a shared
machine a ratio holds where absolute times do not.

    bench/ptyrun.py [--runs N] [--korvel PATH] FILE...

Prints one line per file: medians of korvel and sort, their ratio, and peak
memory against the size of the input.
"""

import argparse
import fcntl
import os
import pty
import re
import select
import statistics
import struct
import sys
import tempfile
import termios
import time

RETYPE_SECONDS = 0.005
# Names hold no '/', and the first path shown is a top-level one, so this is
# the counter at the right end of the status row.
COUNTER = re.compile(rb"\d+/\d+")
TIMEOUT_SECONDS = 300


def run_korvel(korvel, path, home):
    """Returns (seconds to the first frame, peak kilobytes, exit status) of one run."""
    env = dict(os.environ, TERM="xterm-256color", HOME=home, LC_ALL="C.UTF-8")
    env.pop("XDG_CONFIG_PATH", None)
    start = time.perf_counter()
    pid, master = pty.fork()
    if pid == 0:
        try:
            os.execve(korvel, [korvel, path], env)
        finally:
            os._exit(127)
    fcntl.ioctl(master, termios.TIOCSWINSZ, struct.pack("HHHH", 40, 120, 0, 0))
    os.write(master, b"q")
    deadline = start + TIMEOUT_SECONDS
    next_key = time.perf_counter() + RETYPE_SECONDS
    first_frame = None
    tail = b""
    while True:
        done, status, usage = os.wait4(pid, os.WNOHANG)
        if done == pid:
            break
        now = time.perf_counter()
        if now > deadline:
            os.kill(pid, 9)
            os.waitpid(pid, 0)
            raise RuntimeError("korvel did not quit on %s" % path)
        # Drain the screen output so korvel never blocks writing its frame.
        readable, _, _ = select.select([master], [], [], max(0.0, next_key - now))
        if readable:
            try:
                tail = (tail + os.read(master, 65536))[-4096:]
            except OSError:
                pass  # the child has closed its side; wait4 will see it
            if first_frame is None and COUNTER.search(tail):
                first_frame = time.perf_counter() - start
        if time.perf_counter() >= next_key:
            try:
                os.write(master, b"q")
            except OSError:
                pass
            next_key = time.perf_counter() + RETYPE_SECONDS
    os.close(master)
    if first_frame is None:
        raise RuntimeError("no frame with a position counter on %s" % path)
    return first_frame, usage.ru_maxrss, os.waitstatus_to_exitcode(status)


def run_sort(path):
    env = dict(os.environ, LC_ALL="C")
    start = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        try:
            null = os.open(os.devnull, os.O_WRONLY)
            os.dup2(null, 1)
            os.execvpe("sort", ["sort", path], env)
        finally:
            os._exit(127)
    _, status, usage = os.wait4(pid, 0)
    return time.perf_counter() - start, usage.ru_maxrss, os.waitstatus_to_exitcode(status)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default_korvel = os.path.join(here, "..", "build", "release", "korvel")
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--korvel", default=default_korvel)
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    korvel = os.path.abspath(args.korvel)
    if not os.access(korvel, os.X_OK):
        sys.exit("ptyrun.py: %s is not built (make build)" % korvel)

    print("%-28s %9s %8s %9s %9s %7s %9s %7s" % ("file", "lines", "MB", "korvel_s", "sort_s",
                                                 "ratio", "peak_MB", "peak/in"))
    with tempfile.TemporaryDirectory() as home:
        for path in args.files:
            size = os.path.getsize(path)
            with open(path, "rb") as f:
                lines = sum(block.count(b"\n") for block in iter(lambda: f.read(1 << 20), b""))
            korvel_times, sort_times, peaks, ratios = [], [], [], []
            for _ in range(args.runs):
                # Alternate the two, so both see the same state of the machine.
                seconds, peak, status = run_korvel(korvel, path, home)
                if status != 0:
                    sys.exit("ptyrun.py: korvel exited with %d on %s" % (status, path))
                sort_seconds, _, sort_status = run_sort(path)
                if sort_status != 0:
                    sys.exit("ptyrun.py: sort exited with %d on %s" % (sort_status, path))
                korvel_times.append(seconds)
                sort_times.append(sort_seconds)
                ratios.append(seconds / sort_seconds)
                peaks.append(peak * 1024)
            peak = statistics.median(peaks)
            print("%-28s %9d %8.1f %9.3f %9.3f %7.2f %9.1f %7.2f" % (
                os.path.basename(path), lines, size / 1e6, statistics.median(korvel_times),
                statistics.median(sort_times), statistics.median(ratios), peak / 1e6,
                peak / size), flush=True)


if __name__ == "__main__":
    main()
