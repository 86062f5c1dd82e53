#include "app/commands.hpp"

#include <fcntl.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "base/child_process.hpp"
#include "app/picked.hpp"
#include "app/view.hpp"
#include "base/unique_fd.hpp"

namespace korvel {

namespace {

// The first bytes of the command's error output: all the status row can show.
constexpr size_t KEPT_OUTPUT = 255;

// /bin/sh -c with the text, the path under the cursor in $f and the picked
// paths, one a line, in $fx. The command's input and output are the
// terminal's, so that korvel's own standard output carries the chosen path
// and nothing else; without a terminal its output is dropped. The command
// runs as the terminal's foreground job, as a shell runs one: Ctrl-C,
// Ctrl-\ and Ctrl-Z typed while it runs reach the command alone, while a
// signal sent to the viewer itself is still the viewer's.
child_spec command_spec(const viewer& v, const command& cmd, int tty, int null) {
    child_spec spec;
    spec.path = "/bin/sh";
    spec.argv = {"/bin/sh", "-c", cmd.text};
    spec.environment = {{"f", v.tree.full_path(v.view.cursor)}, {"fx", picked_text(v)}};
    spec.input = tty >= 0 ? child_stream::descriptor(tty) : child_stream::inherit();
    spec.output = tty >= 0    ? child_stream::descriptor(tty)
                  : null >= 0 ? child_stream::descriptor(null)
                              : child_stream::inherit();
    spec.errors = child_stream::pipe();
    spec.terminal = tty;
    return spec;
}

void report_failure(viewer& v, const command& cmd, int exit_code, const child_end& end,
                    const std::string& output) {
    if (end.read_error != 0) {
        v.status.show_error("Failed to run command: read() failed");
        return;
    }
    if (output.empty()) {
        v.status.showf(status_style::ERROR, "%s exited with status %d", cmd.text.c_str(),
                       exit_code);
        return;
    }
    std::string text = output;
    if (text.back() == '\n') text.pop_back();
    // The text shown ends at the first zero byte, if the output holds one.
    text.resize(std::min(text.size(), text.find('\0')));
    v.status.show_error(text);
}

} // namespace

outcome run_command(viewer& v, session& s, const command& cmd) {
    if (outcome closed = s.close_terminal(); !closed) {
        v.status.show_error(closed.message());
        return {};
    }
    const unique_fd tty(open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY));
    const unique_fd null(tty.get() < 0 ? open("/dev/null", O_WRONLY | O_CLOEXEC) : -1);
    child_process child;
    switch (child.start(command_spec(v, cmd, tty.get(), null.get()))) {
    case start_failure::NONE:
        break;
    case start_failure::PIPE:
        v.status.show_error("Failed to run command: pipe() failed");
        return s.reopen_terminal();
    case start_failure::FORK:
        v.status.show_error("Failed to run command: fork() failed");
        return s.reopen_terminal();
    case start_failure::EXEC:
        // Many marked paths can pass the system's limit on one variable; say
        // so, as the shell is silent when it cannot start at all.
        if (errno == E2BIG) {
            v.status.showf(status_style::ERROR, "Failed to run command: %s", strerror(E2BIG));
        } else {
            report_failure(v, cmd, 1, {}, {});
        }
        return s.reopen_terminal();
    }

    // The error output and the wake-up pipe (written on SIGCHLD and on every
    // request) are all there is to watch: no timer. Stopped from the
    // keyboard, the command stops the viewer with it, like a shell job, and
    // both are continued together.
    kept_output output(KEPT_OUTPUT);
    wait_hooks hooks;
    hooks.wake_fd = s.wake_fd();
    hooks.on_wake = [&s] {
        s.drain_wakeups();
        return true;
    };
    hooks.on_stop = [&s] { s.stop_process(); };
    hooks.sink = &output;
    const child_end end = child.wait(hooks);
    if (end.state != child_end::ENDED) {
        v.status.show_error("Failed to run command: waitpid() failed");
    } else if (WIFEXITED(end.status) && WEXITSTATUS(end.status) != 0) {
        report_failure(v, cmd, WEXITSTATUS(end.status), end, output.kept());
    }
    // Asked to quit while the command ran: the screen is not drawn again
    // only to be put away, and a terminal that hung up could not take it.
    if (s.requested_stop() == STOP_QUIT) return {};
    return s.reopen_terminal();
}

} // namespace korvel
