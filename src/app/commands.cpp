#include "app/commands.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "base/child_process.hpp"
#include "app/picked.hpp"
#include "app/view.hpp"
#include "base/unique_fd.hpp"
#include "base/write_all.hpp"

namespace korvel {

namespace {

// The first bytes of the command's error output: all the status row can show.
constexpr size_t KEPT_OUTPUT = 255;

constexpr std::string_view PRESS_ANY_KEY = "Press any key to go back";

// A command written "!cmd", the '!' straight before its first word, waits
// for a key once it has ended, as lf's "!" commands do. "!cmd" never meant
// anything else: the shell's negation is a word of its own, "! cmd", and
// keeps its meaning.
bool waits_for_key(std::string_view text) {
    return text.size() > 1 && text[0] == '!' && text[1] != ' ' && text[1] != '\t';
}

// The most one environment variable may hold on Linux (32 pages), beyond
// which exec fails whatever the total.
constexpr size_t MAX_VARIABLE_BYTES = 32 * 4096;

std::string_view shell_text(std::string_view text) {
    return waits_for_key(text) ? text.substr(1) : text;
}

// /bin/sh -c with the text. The path under the cursor is in $f, and the
// picked paths are the positional parameters ("$@", exact whatever the
// names hold) and, one a line, $fx, unless with_fx is false. The command's
// input, output and error output are the terminal's, so that korvel's own
// standard output carries the chosen path and nothing else; its error
// output passes through korvel on the way, which keeps its start to report
// a failure. Without a terminal its output is dropped. The command runs as
// the terminal's foreground job, as a shell runs one: Ctrl-C, Ctrl-\ and
// Ctrl-Z typed while it runs reach the command alone, while a signal sent
// to the viewer itself is still the viewer's.
child_spec command_spec(const viewer& v, const command& cmd, int tty, int null,
                        std::vector<std::string> picked, bool with_fx) {
    child_spec spec;
    spec.path = "/bin/sh";
    // $0 is the shell's name, as in its own messages.
    spec.argv = {"/bin/sh", "-c", std::string(shell_text(cmd.text)), "/bin/sh"};
    std::string fx;
    if (with_fx) {
        for (const std::string& path : picked) {
            if (!fx.empty()) fx += '\n';
            fx += path;
        }
    }
    spec.argv.insert(spec.argv.end(), std::make_move_iterator(picked.begin()),
                     std::make_move_iterator(picked.end()));
    spec.environment = {{"f", as_argument(v.tree.full_path(v.view.cursor), v.tree.separator())}};
    if (with_fx) {
        spec.environment.emplace_back("fx", std::move(fx));
    } else {
        spec.unset = {"fx"};
    }
    spec.input = tty >= 0 ? child_stream::descriptor(tty) : child_stream::inherit();
    spec.output = tty >= 0    ? child_stream::descriptor(tty)
                  : null >= 0 ? child_stream::descriptor(null)
                              : child_stream::inherit();
    spec.errors = child_stream::pipe();
    spec.terminal = tty;
    return spec;
}

// Says so on the terminal and takes one key, raw, so that any key will do
// and none is echoed; keys typed before the prompt do not count. A quit
// request ends the wait as well.
void wait_for_key(session& s, int tty) {
    termios old{};
    if (tcgetattr(tty, &old) != 0) return;
    termios raw = old;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    // Raw before the prompt shows, so that a key typed once it shows counts.
    if (tcsetattr(tty, TCSAFLUSH, &raw) != 0) return;
    std::string prompt = "\r\n";
    prompt += PRESS_ANY_KEY;
    if (!write_all(tty, prompt)) {
        tcsetattr(tty, TCSANOW, &old);
        return;
    }
    for (;;) {
        std::array<pollfd, 2> watch{pollfd{tty, POLLIN, 0}, pollfd{s.wake_fd(), POLLIN, 0}};
        if (poll(watch.data(), watch.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (watch[1].revents != 0) {
            s.drain_wakeups();
            if (s.requested_stop() == STOP_QUIT) break;
        }
        if (watch[0].revents != 0) {
            // The whole key: an arrow sends a few bytes at once.
            char key[64];
            if (read(tty, key, sizeof key) < 0 && errno == EINTR) continue;
            break;
        }
    }
    (void)write_all(tty, "\r\n");
    tcsetattr(tty, TCSANOW, &old);
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
    std::vector<std::string> picked = picked_arguments(v);
    // Many picked paths pass the system's limit on one variable long before
    // its limit on all arguments: "$@" still holds them, and $fx is left
    // unset rather than cut. Both limits are looked at before anything is
    // built or started, so a million picks fail at once instead of after
    // two starts.
    size_t argument_bytes = 0;
    size_t fx_bytes = sizeof "fx=";
    for (const std::string& path : picked) {
        argument_bytes += path.size() + 1 + sizeof(char*);
        fx_bytes += path.size() + 1;
    }
    const long system_limit = sysconf(_SC_ARG_MAX);
    start_failure started = start_failure::NONE;
    if (system_limit > 0 && argument_bytes > static_cast<size_t>(system_limit)) {
        started = start_failure::EXEC;
        errno = E2BIG;
    } else {
        const bool with_fx = fx_bytes <= MAX_VARIABLE_BYTES;
        started = child.start(command_spec(v, cmd, tty.get(), null.get(), picked, with_fx));
        if (started == start_failure::EXEC && errno == E2BIG && with_fx)
            started = child.start(command_spec(v, cmd, tty.get(), null.get(), std::move(picked), false));
    }
    switch (started) {
    case start_failure::NONE:
        break;
    case start_failure::PIPE:
        v.status.show_error("Failed to run command: pipe() failed");
        return s.reopen_terminal();
    case start_failure::FORK:
        v.status.show_error("Failed to run command: fork() failed");
        return s.reopen_terminal();
    case start_failure::EXEC:
        // Say why, as the shell is silent when it cannot start at all.
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
    kept_output output(KEPT_OUTPUT, tty.get());
    wait_hooks hooks;
    hooks.wake_fd = s.wake_fd();
    hooks.on_wake = [&s] {
        s.drain_wakeups();
        return true;
    };
    hooks.on_stop = [&s] { s.stop_process(); };
    hooks.sink = &output;
    const child_end end = child.wait(hooks);
    const bool failed =
        end.state != child_end::ENDED || (WIFEXITED(end.status) && WEXITSTATUS(end.status) != 0);
    if (end.state != child_end::ENDED) {
        v.status.show_error("Failed to run command: waitpid() failed");
    } else if (failed) {
        report_failure(v, cmd, WEXITSTATUS(end.status), end, output.kept());
    } else {
        // Whatever the row said was about an earlier action.
        show_current_path(v);
    }
    // Asked to quit while the command ran: the screen is not drawn again
    // only to be put away, and a terminal that hung up could not take it.
    if (s.requested_stop() == STOP_QUIT) return {};
    // A failure's whole message is on the terminal, where the row can show
    // only its start: it stays until a key, as does output asked to.
    if (tty.get() >= 0 && (failed || waits_for_key(cmd.text))) {
        wait_for_key(s, tty.get());
        if (s.requested_stop() == STOP_QUIT) return {};
    }
    return s.reopen_terminal();
}

} // namespace korvel
