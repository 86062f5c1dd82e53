#!/usr/bin/env python3
"""What an idle korvel costs: processor time and wake-ups while it waits.

korvel is started on a list in a pseudo-terminal; once its first frame is
drawn nothing more is typed, and for SECONDS (default 10) its processor time
(user and system, from /proc/PID/stat) and its context switches (voluntary
and not, from /proc/PID/status) are counted. Each context switch is a
wake-up: a process asleep in poll() without a time-out makes none.

    bench/idle.py [--seconds N] [--korvel PATH] FILE
"""

import argparse
import os
import pty
import re
import select
import struct
import sys
import tempfile
import time
import fcntl
import termios

COUNTER = re.compile(rb"\d+/\d+")


def cpu_ms(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) * 1000.0 / ticks


def switches(pid):
    total = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                total += int(line.split()[1])
    return total


def drain(master, until):
    seen = b""
    while time.perf_counter() < until:
        readable, _, _ = select.select([master], [], [], max(0.0, until - time.perf_counter()))
        if readable:
            try:
                seen = (seen + os.read(master, 65536))[-4096:]
            except OSError:
                break
    return seen


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--korvel", default=os.path.join(here, "..", "build", "release", "korvel"))
    parser.add_argument("--option", action="append", default=[],
                        help="an option for korvel, e.g. --option=-p (repeatable)")
    parser.add_argument("file")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, TERM="xterm-256color", HOME=home, LC_ALL="C.UTF-8")
        env.pop("XDG_CONFIG_PATH", None)
        pid, master = pty.fork()
        if pid == 0:
            try:
                os.execve(args.korvel, [args.korvel, *args.option, args.file], env)
            finally:
                os._exit(127)
        fcntl.ioctl(master, termios.TIOCSWINSZ, struct.pack("HHHH", 40, 120, 0, 0))
        seen = b""
        deadline = time.perf_counter() + 60
        while not COUNTER.search(seen) and time.perf_counter() < deadline:
            seen += drain(master, time.perf_counter() + 0.05)
        if not COUNTER.search(seen):
            sys.exit("idle.py: no first frame")
        drain(master, time.perf_counter() + 0.5)  # let it settle
        cpu_before, switches_before = cpu_ms(pid), switches(pid)
        drain(master, time.perf_counter() + args.seconds)
        cpu, woken = cpu_ms(pid) - cpu_before, switches(pid) - switches_before
        os.write(master, b"q")
        os.waitpid(pid, 0)
        print("idle for %.0f s: %.0f ms of processor time, %d wake-ups" % (args.seconds, cpu, woken))


if __name__ == "__main__":
    main()
