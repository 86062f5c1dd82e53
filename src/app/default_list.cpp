#include "app/default_list.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "app/status.hpp"
#include "base/raw_array.hpp"
#include "base/unique_fd.hpp"
#include "load/walk.hpp"

namespace korvel {

namespace {

constexpr char DEFAULT_COMMAND[] = "KORVEL_DEFAULT_COMMAND";

// Bytes asked of one read of the command's output.
constexpr size_t READ_BLOCK = size_t{1} << 16;

// "cannot read 2 directories: secret: Permission denied; open/locked: ...",
// as much of it as the status row can show.
std::string problems_notice(const std::vector<walk_problem>& problems) {
    if (problems.empty()) return {};
    std::string text = "cannot read " + std::to_string(problems.size()) +
                       (problems.size() == 1 ? " directory: " : " directories: ");
    for (size_t i = 0; i < problems.size() && text.size() < status_line::TEXT_MAX; ++i) {
        if (i != 0) text += "; ";
        text += problems[i].message();
    }
    return text;
}

outcome walk_working_directory(session& s, loading_line& line, default_list& out) {
    walk_options options;
    options.terminator = '\0';
    options.stop = s.stop_flag();
    options.on_progress = [&line](const walk_progress& progress) {
        line.update("listing", progress.paths, progress.bytes);
    };
    raw_array<char> list;
    walk_report report;
    if (outcome walked = walk_tree(".", options, &list, &report); !walked) return walked;
    out.cancelled = report.cancelled;
    if (out.cancelled) return {};
    out.bytes.assign(list.data, list.size);
    out.nul_only = true;
    out.notice = problems_notice(report.problems);
    return {};
}

[[noreturn]] void exec_default_command(const char* command, const pipe_pair& pipe) {
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        close(null);
    } else {
        close(STDIN_FILENO);
    }
    dup2(pipe.write_end.get(), STDOUT_FILENO);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execl("/bin/sh", "/bin/sh", "-c", command, static_cast<char*>(nullptr));
    _exit(127);
}

// "exited with code 2", "killed by SIGSEGV".
std::string describe_end(int status) {
    if (WIFSIGNALED(status)) {
        const char* name = sigabbrev_np(WTERMSIG(status));
        return std::string("killed by SIG") + (name != nullptr ? name : "?");
    }
    return "exited with code " + std::to_string(WEXITSTATUS(status));
}

// Reads the command's output to its end and waits for the command, or stops
// at a quit request. The wake-up pipe (written on every request and on
// SIGCHLD) is watched alongside the output, so neither a silent command nor
// one that closes its output and lingers can hold a quit up.
outcome collect_output(pid_t pid, int fd, session& s, raw_array<char>& output, int& status,
                       bool& cancelled) {
    bool reading = true;
    for (;;) {
        if (s.requested_stop() == STOP_QUIT) {
            kill(pid, SIGTERM);
            cancelled = true;
            return {};
        }
        if (!reading) {
            const pid_t done = waitpid(pid, &status, WNOHANG);
            if (done == pid) return {};
            if (done < 0 && errno != EINTR)
                return outcome::failuref("failed to wait for %s: %s", DEFAULT_COMMAND,
                                         strerror(errno));
        }
        std::array<pollfd, 2> watch{pollfd{reading ? fd : -1, POLLIN, 0},
                                    pollfd{s.wake_fd(), POLLIN, 0}};
        if (poll(watch.data(), watch.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return outcome::failuref("failed to read %s output: %s", DEFAULT_COMMAND,
                                     strerror(errno));
        }
        if (watch[1].revents != 0) s.drain_wakeups();
        if (watch[0].revents == 0) continue;
        output.grow_for(READ_BLOCK);
        const ssize_t n = read(fd, output.data + output.size, READ_BLOCK);
        if (n > 0) {
            output.size += static_cast<size_t>(n);
        } else if (n == 0) {
            reading = false;
        } else if (errno != EINTR) {
            return outcome::failuref("failed to read %s output: %s", DEFAULT_COMMAND,
                                     strerror(errno));
        }
    }
}

outcome run_default_command(const char* command, bool read0, session& s, default_list& out) {
    out.source = "command output";
    pipe_pair pipe;
    if (open_pipe(&pipe) != 0)
        return outcome::failuref("failed to run %s: %s", DEFAULT_COMMAND, strerror(errno));
    const pid_t pid = fork();
    if (pid < 0) return outcome::failuref("failed to run %s: %s", DEFAULT_COMMAND, strerror(errno));
    if (pid == 0) exec_default_command(command, pipe);
    pipe.write_end.reset();

    raw_array<char> output;
    int status = 0;
    if (outcome read = collect_output(pid, pipe.read_end.get(), s, output, status, out.cancelled);
        !read || out.cancelled)
        return read;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        // What it listed is still worth showing; with nothing listed, its own
        // error output on the terminal says the rest.
        const std::string failure = std::string(DEFAULT_COMMAND) + " " + describe_end(status);
        if (output.size == 0) return outcome::failure(failure);
        out.notice = failure;
    }
    out.bytes.assign(output.data, output.size);
    out.nul_only = read0;
    return {};
}

} // namespace

outcome make_default_list(bool read0, session& s, loading_line& line, default_list& out) {
    const char* command = getenv(DEFAULT_COMMAND);
    if (command != nullptr && *command != '\0') return run_default_command(command, read0, s, out);
    return walk_working_directory(s, line, out);
}

} // namespace korvel
