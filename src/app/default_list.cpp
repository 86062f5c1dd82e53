#include "app/default_list.hpp"

#include <fcntl.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "base/child_process.hpp"
#include "base/digit_groups.hpp"
#include "app/status.hpp"
#include "base/raw_array.hpp"
#include "base/unique_fd.hpp"
#include "load/walk.hpp"

namespace korvel {

namespace {

constexpr char DEFAULT_COMMAND[] = "KORVEL_DEFAULT_COMMAND";

// Bytes asked of one read of the command's output.
constexpr size_t READ_BLOCK = size_t{1} << 16;

// "cannot read 2 directories, first secret: Permission denied": the count
// and the first of them, short enough for the bottom row; the whole list
// goes to standard error at the end.
std::string problems_notice(const std::vector<walk_problem>& problems) {
    if (problems.empty()) return {};
    if (problems.size() == 1) return "cannot read 1 directory: " + problems[0].message();
    return "cannot read " + grouped(problems.size()) + " directories, first " +
           problems[0].message() + " (all listed on exit)";
}

} // namespace

outcome walk_directory(const char* dir, bool one_file_system, session& s, loading_line& line,
                       default_list& out) {
    walk_options options;
    options.terminator = '\0';
    options.stop = s.stop_flag();
    options.one_file_system = one_file_system;
    options.prefix_root = true;
    options.on_progress = [&line](const walk_progress& progress) {
        line.update("listing", progress.paths, progress.bytes);
    };
    raw_array<char> list;
    walk_report report;
    if (outcome walked = walk_tree(dir, options, &list, &report); !walked) return walked;
    out.cancelled = report.cancelled;
    if (out.cancelled) return {};
    out.bytes.assign(list.data, list.size);
    out.nul_only = true;
    out.notice = problems_notice(report.problems);
    if (report.problems.size() > 1) {
        for (const walk_problem& problem : report.problems)
            out.details.push_back("cannot read " + problem.message());
    }
    return {};
}

namespace {

// The whole of the command's output, read straight into the list.
class list_sink : public output_sink {
  public:
    explicit list_sink(raw_array<char>& list) : list_(list) {}
    std::span<char> room() override {
        list_.grow_for(READ_BLOCK);
        return {list_.data + list_.size, READ_BLOCK};
    }
    void took(size_t n) override { list_.size += n; }

  private:
    raw_array<char>& list_;
};

outcome run_default_command(const char* command, bool read0, session& s, default_list& out) {
    out.source = "command output";
    // The terminal belongs to the viewer; the command's errors may still go
    // there.
    const unique_fd null(open("/dev/null", O_RDONLY | O_CLOEXEC));
    child_spec spec;
    spec.path = "/bin/sh";
    spec.argv = {"/bin/sh", "-c", command};
    spec.input = null.get() >= 0 ? child_stream::descriptor(null.get()) : child_stream::closed();
    spec.output = child_stream::pipe();
    child_process child;
    raw_array<char> output;
    child_end end;
    switch (child.start(spec)) {
    case start_failure::PIPE:
    case start_failure::FORK:
        return outcome::failuref("failed to run %s: %s", DEFAULT_COMMAND, strerror(errno));
    case start_failure::EXEC:
        // As the shell says when it cannot run a command.
        end.status = 127 << 8;
        break;
    case start_failure::NONE: {
        // Read to its end, the command waited for, or stopped at a quit
        // request. The wake-up pipe (written on every request and on
        // SIGCHLD) is watched alongside the output, so neither a silent
        // command nor one that closes its output and lingers can hold a
        // quit up.
        list_sink sink(output);
        wait_hooks hooks;
        hooks.wake_fd = s.wake_fd();
        hooks.on_wake = [&s] {
            s.drain_wakeups();
            return s.requested_stop() != STOP_QUIT;
        };
        hooks.sink = &sink;
        hooks.read_to_end = true;
        end = s.requested_stop() == STOP_QUIT ? child_end{child_end::GAVE_UP} : child.wait(hooks);
        // Ctrl-C reaches the command and korvel together: the command may
        // die of it before the quit is seen, and then the quit is what
        // happened, not a failed command.
        s.drain_wakeups();
        if (end.state == child_end::GAVE_UP || s.requested_stop() == STOP_QUIT) {
            child.signal(SIGTERM);
            out.cancelled = true;
            return {};
        }
        if (end.state == child_end::FAILED)
            return outcome::failuref("failed to wait for %s: %s", DEFAULT_COMMAND,
                                     strerror(end.error));
        if (end.read_error != 0)
            return outcome::failuref("failed to read %s output: %s", DEFAULT_COMMAND,
                                     strerror(end.read_error));
        break;
    }
    }
    if (!WIFEXITED(end.status) || WEXITSTATUS(end.status) != 0) {
        // What it listed is still worth showing; with nothing listed, its own
        // error output on the terminal says the rest.
        const std::string failure = std::string(DEFAULT_COMMAND) + " " + describe_end(end.status);
        if (output.size == 0) return outcome::failure(failure);
        out.notice = failure;
    }
    out.bytes.assign(output.data, output.size);
    out.nul_only = read0;
    return {};
}

} // namespace

outcome make_default_list(bool read0, bool one_file_system, session& s, loading_line& line,
                          default_list& out) {
    const char* command = getenv(DEFAULT_COMMAND);
    if (command != nullptr && *command != '\0') return run_default_command(command, read0, s, out);
    return walk_directory(".", one_file_system, s, line, out);
}

} // namespace korvel
