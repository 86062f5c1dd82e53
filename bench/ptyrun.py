#!/usr/bin/env python3
"""Times loading a list: korvel to its first frame, beside fzf and `LC_ALL=C sort`.

Each file is loaded two ways: as the FILE operand (fzf and sort read it on
standard input and as an operand), and through a pipe from `cat FILE`. In
each run every program is timed once, one after the other, so that all see
the same state of the machine; the medians of the runs are printed with the
ratios to fzf, the figure that holds on a shared machine.

- korvel runs on a pseudo-terminal of a fixed size; its time is the moment
  the position counter ("1/N", the last thing a frame draws) reaches the
  terminal. A 'q' is typed at once, and again every few milliseconds in
  case the terminal set-up discarded pending input, so that it quits right
  after that frame.
- loader (with --loader): load_bench --loader, the whole loader as the
  viewer runs it, without the terminal; its time is the moment it prints
  its line, right after the tree is built.
- fzf runs on a pseudo-terminal too; its time is the moment its counter
  shows every line loaded ("N/N"), when it is stopped.
- With the loader, the processor seconds of the load (all its threads) and
  of fzf until it was stopped are printed too: where other work crowds the
  machine, wall-clock ratios say more about the crowd than about the
  programs.
- sort: `LC_ALL=C sort` with its output to /dev/null.

Peak memory is the child's ru_maxrss from wait4 (for korvel, or the loader
when korvel is not given).

    bench/ptyrun.py [--runs N] [--korvel PATH] [--loader PATH] [--no-pipe] FILE...
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


def spawn_cat(path):
    """A `cat path` whose output is the returned descriptor."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            os.dup2(write_end, 1)
            os.close(read_end)
            os.close(write_end)
            os.execvp("cat", ["cat", path])
        finally:
            os._exit(127)
    os.close(write_end)
    return pid, read_end


def input_for(path, pipe):
    """(descriptor to read the list from, pid of cat or None)."""
    if pipe:
        cat, fd = spawn_cat(path)
        return fd, cat
    return os.open(path, os.O_RDONLY), None


def reap(pid):
    if pid is not None:
        os.waitpid(pid, 0)


def run_in_pty(argv, env, stdin_fd, done, keys=b""):
    """Runs argv on a pseudo-terminal with stdin_fd as its standard input until
    done(screen tail) holds; returns (seconds, peak kilobytes, exit status or
    None when it was killed, processor seconds)."""
    start = time.perf_counter()
    pid, master = pty.fork()
    if pid == 0:
        try:
            if stdin_fd is not None:
                os.dup2(stdin_fd, 0)
            os.execve(argv[0], argv, env)
        finally:
            os._exit(127)
    if stdin_fd is not None:
        os.close(stdin_fd)
    fcntl.ioctl(master, termios.TIOCSWINSZ, struct.pack("HHHH", 40, 120, 0, 0))
    if keys:
        os.write(master, keys)
    deadline = start + TIMEOUT_SECONDS
    next_key = time.perf_counter() + RETYPE_SECONDS
    seen = None
    tail = b""
    status = None
    while True:
        done_pid, wait_status, usage = os.wait4(pid, os.WNOHANG)
        if done_pid == pid:
            status = os.waitstatus_to_exitcode(wait_status)
            break
        now = time.perf_counter()
        if now > deadline:
            os.kill(pid, 9)
            os.waitpid(pid, 0)
            raise RuntimeError("%s did not finish" % argv[0])
        readable, _, _ = select.select([master], [], [], max(0.0, next_key - now) if keys else 0.05)
        if readable:
            try:
                tail = (tail + os.read(master, 65536))[-4096:]
            except OSError:
                pass  # the child has closed its side; wait4 will see it
            if seen is None and done(tail):
                seen = time.perf_counter() - start
                if not keys:
                    os.kill(pid, 9)
        if keys and time.perf_counter() >= next_key:
            try:
                os.write(master, keys)
            except OSError:
                pass
            next_key = time.perf_counter() + RETYPE_SECONDS
    os.close(master)
    if seen is None:
        raise RuntimeError("%s never showed what was awaited" % argv[0])
    return seen, usage.ru_maxrss, status, usage.ru_utime + usage.ru_stime


def run_korvel(korvel, path, pipe, home):
    env = dict(os.environ, TERM="xterm-256color", HOME=home, LC_ALL="C.UTF-8")
    env.pop("XDG_CONFIG_PATH", None)
    fd, cat = input_for(path, pipe) if pipe else (None, None)
    argv = [korvel] if pipe else [korvel, path]
    seconds, peak, status, _ = run_in_pty(argv, env, fd, lambda tail: COUNTER.search(tail), b"q")
    reap(cat)
    if status != 0:
        sys.exit("ptyrun.py: korvel exited with %s on %s" % (status, path))
    return seconds, peak


def run_fzf(fzf, path, pipe, lines):
    env = dict(os.environ, TERM="xterm-256color", LC_ALL="C.UTF-8")
    env.pop("FZF_DEFAULT_OPTS", None)
    env.pop("FZF_DEFAULT_COMMAND", None)
    loaded = re.compile(rb"%d/%d" % (lines, lines))
    fd, cat = input_for(path, pipe)
    seconds, _, _, cpu = run_in_pty([fzf], env, fd, lambda tail: loaded.search(tail))
    reap(cat)
    return seconds, cpu


def run_loader(loader, path, pipe):
    """load_bench --loader, timed from its start to its line of output; returns
    (seconds, peak kilobytes, processor seconds of the load)."""
    fd, cat = input_for(path, pipe)
    out_read, out_write = os.pipe()
    start = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        try:
            os.dup2(fd, 0)
            os.dup2(out_write, 1)
            os.execv(loader, [loader, "--loader", "-"])
        finally:
            os._exit(127)
    os.close(fd)
    os.close(out_write)
    line = b""
    seen = None
    while not line.endswith(b"\n"):
        chunk = os.read(out_read, 4096)
        if not chunk:
            break
        line += chunk
        if seen is None:
            seen = time.perf_counter() - start
    os.close(out_read)
    _, status, usage = os.wait4(pid, 0)
    reap(cat)
    if os.waitstatus_to_exitcode(status) != 0 or seen is None:
        sys.exit("ptyrun.py: the loader failed on %s" % path)
    fields = dict(field.split(b"=") for field in line.split())
    cpu = sum(float(fields[key]) for key in (b"read_cpu", b"sort_cpu", b"tree_cpu"))
    return seen, usage.ru_maxrss, cpu


def run_sort(path, pipe):
    env = dict(os.environ, LC_ALL="C")
    fd, cat = input_for(path, pipe)
    start = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        try:
            null = os.open(os.devnull, os.O_WRONLY)
            os.dup2(fd, 0)
            os.dup2(null, 1)
            os.execvpe("sort", ["sort"], env)
        finally:
            os._exit(127)
    os.close(fd)
    _, status, usage = os.wait4(pid, 0)
    seconds = time.perf_counter() - start
    reap(cat)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("ptyrun.py: sort failed on %s" % path)
    return seconds, usage.ru_maxrss


def count_lines(path):
    with open(path, "rb") as f:
        return sum(block.count(b"\n") for block in iter(lambda: f.read(1 << 20), b""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--korvel", help="the korvel binary (left out when not given)")
    parser.add_argument("--loader", help="load_bench, to time the loader alone")
    parser.add_argument("--fzf", default="fzf")
    parser.add_argument("--no-pipe", action="store_true", help="only the FILE operand")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    programs = {}
    if args.korvel:
        programs["korvel"] = os.path.abspath(args.korvel)
    if args.loader:
        programs["loader"] = os.path.abspath(args.loader)
    for name, binary in programs.items():
        if not os.access(binary, os.X_OK):
            sys.exit("ptyrun.py: %s (%s) is not built" % (binary, name))
    fzf = next((os.path.join(d, args.fzf) for d in os.environ.get("PATH", "").split(":")
                if os.access(os.path.join(d, args.fzf), os.X_OK)), None)
    if fzf is None:
        sys.exit("ptyrun.py: fzf is not installed (sh scripts/bootstrap.sh --bench)")

    names = list(programs)
    header = "%-28s %-4s %8s %7s" % ("file", "how", "lines", "MB")
    for name in names + ["fzf", "sort"]:
        header += " %9s" % (name + "_s")
    for name in names:
        header += " %9s" % (name + "/fzf")
    if "loader" in names:
        header += " %9s %9s %9s" % ("ld_cpu_s", "fzf_cpu_s", "cpu/fzf")
    header += " %8s %7s" % ("peak_MB", "peak/in")
    print(header)
    with tempfile.TemporaryDirectory() as home:
        for path in args.files:
            size = os.path.getsize(path)
            lines = count_lines(path)
            for pipe in ([False] if args.no_pipe else [False, True]):
                times = {name: [] for name in names + ["fzf", "sort"]}
                ratios = {name: [] for name in names}
                cpus = {"loader": [], "fzf": [], "ratio": []}
                peaks = []
                for _ in range(args.runs):
                    run = {}
                    for name in names:
                        if name == "korvel":
                            run[name], peak = run_korvel(programs[name], path, pipe, home)
                        else:
                            run[name], peak, cpu = run_loader(programs[name], path, pipe)
                            cpus["loader"].append(cpu)
                        if name == names[0]:
                            peaks.append(peak * 1024)
                    run["fzf"], fzf_cpu = run_fzf(fzf, path, pipe, lines)
                    cpus["fzf"].append(fzf_cpu)
                    if cpus["loader"]:
                        cpus["ratio"].append(cpus["loader"][-1] / fzf_cpu)
                    run["sort"], _ = run_sort(path, pipe)
                    for name, seconds in run.items():
                        times[name].append(seconds)
                    for name in names:
                        ratios[name].append(run[name] / run["fzf"])
                row = "%-28s %-4s %8d %7.1f" % (os.path.basename(path), "pipe" if pipe else "file",
                                               lines, size / 1e6)
                for name in names + ["fzf", "sort"]:
                    row += " %9.3f" % statistics.median(times[name])
                for name in names:
                    row += " %9.2f" % statistics.median(ratios[name])
                if "loader" in names:
                    row += " %9.3f %9.3f %9.2f" % tuple(
                        statistics.median(cpus[key]) for key in ("loader", "fzf", "ratio"))
                if peaks:
                    peak = statistics.median(peaks)
                    row += " %8.1f %7.2f" % (peak / 1e6, peak / size)
                print(row, flush=True)


if __name__ == "__main__":
    main()
