#!/usr/bin/env python3
"""How soon the preview pane shows what it previews, through a pseudo-terminal.

Built-in: the time from `j` to the next file's first line on the screen.
Command: the time from the preview command writing its first line (it prints
the clock) to that line reaching the terminal.
"""
import argparse
import os
import pty
import re
import select
import statistics
import struct
import tempfile
import time

import fcntl
import termios

COUNTER = re.compile(rb"\d+/\d+")


def read_until(master, pattern, seconds=10.0):
    """Reads the pty until pattern shows; returns (match, arrival time)."""
    tail = b""
    deadline = time.perf_counter() + seconds
    while time.perf_counter() < deadline:
        readable, _, _ = select.select([master], [], [], 0.5)
        if readable:
            tail = (tail + os.read(master, 65536))[-8192:]
            found = pattern.search(tail)
            if found:
                return found, time.time(), time.perf_counter()
    raise RuntimeError("preview.py: %r never showed" % pattern.pattern)


def marker(i):
    """Each file's first line differs from the one before in every column,
    so the terminal is sent all of it, not only the columns that changed."""
    return "".join(chr(ord("a") + (i + k) % 26) for k in range(16)).encode()


def start(korvel, options, listing, home):
    env = dict(os.environ, TERM="xterm-256color", HOME=home, LC_ALL="C.UTF-8")
    env.pop("XDG_CONFIG_PATH", None)
    pid, master = pty.fork()
    if pid == 0:
        try:
            os.execve(korvel, [korvel, *options, listing], env)
        finally:
            os._exit(127)
    fcntl.ioctl(master, termios.TIOCSWINSZ, struct.pack("HHHH", 40, 160, 0, 0))
    read_until(master, COUNTER)
    return pid, master


def stop(pid, master):
    os.write(master, b"q")
    os.waitpid(pid, 0)
    os.close(master)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--korvel", default=os.path.join(here, "..", "build", "release", "korvel"))
    parser.add_argument("--steps", type=int, default=20)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        paths = []
        for i in range(args.steps + 1):
            path = os.path.join(work, "file-%05d.txt" % i)
            with open(path, "w") as f:
                f.write(marker(i).decode() + "\n" + "more text\n" * 50)
            paths.append(path)
        listing = os.path.join(work, "list")
        with open(listing, "w") as f:
            f.write("\n".join(paths) + "\n")
        home = os.path.join(work, "home")
        os.mkdir(home)

        # The tree opens on the root: walk down to the first file.
        pid, master = start(args.korvel, ["-p"], listing, home)
        depth = len(paths[0].strip("/").split("/"))
        os.write(master, b"j" * depth)
        read_until(master, re.compile(marker(0)))
        builtin = []
        for i in range(1, args.steps + 1):
            os.write(master, b"j")
            sent = time.perf_counter()
            _, _, arrived = read_until(master, re.compile(marker(i)))
            builtin.append((arrived - sent) * 1000)
        stop(pid, master)

        command = 'printf "T%s\\n" "$(date +%s.%N)"; sleep 0.3'
        pid, master = start(args.korvel, ["--preview-command=" + command], listing, home)
        os.write(master, b"j" * depth)
        clock = re.compile(rb"T(\d+\.\d+)")
        written = []
        for i in range(args.steps):
            found, arrived, _ = read_until(master, clock)
            written.append((arrived - float(found.group(1))) * 1000)
            os.write(master, b"j")
            time.sleep(0.05)
        stop(pid, master)

    print("built-in preview, key to the file's first line: median %.1f ms, worst %.1f ms (%d keys)"
          % (statistics.median(builtin), max(builtin), len(builtin)))
    print("command preview, line written to line on the terminal: median %.1f ms, worst %.1f ms (%d commands)"
          % (statistics.median(written), max(written), len(written)))


if __name__ == "__main__":
    main()
