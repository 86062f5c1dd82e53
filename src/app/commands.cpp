#include "app/commands.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/picked.hpp"
#include "app/view.hpp"
#include "base/unique_fd.hpp"

namespace korvel {

namespace {

// The first bytes of the command's error output: all the status row can show.
constexpr size_t KEPT_OUTPUT = 255;

// The command runs as the terminal's foreground job, as a shell runs one:
// Ctrl-C, Ctrl-\ and Ctrl-Z typed while it runs reach the command alone,
// while a signal sent to the viewer itself is still the viewer's.
class foreground_job {
  public:
    foreground_job() : tty_(open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY)) {
        usable_ = tty_.get() >= 0 && tcgetpgrp(tty_.get()) == getpgrp();
    }
    bool usable() const { return usable_; }
    // In the child, before exec: its own group, in front.
    void enter(pid_t self) const {
        if (!usable_) return;
        setpgid(0, 0);
        hand_over(self);
    }
    // In the viewer; done by both, since either may run first.
    void start(pid_t child) const {
        if (!usable_) return;
        setpgid(child, child);
        hand_over(child);
    }
    void give_back() const {
        if (usable_) hand_over(getpgrp());
    }

  private:
    // A group that is not in front would be stopped by SIGTTOU for asking.
    void hand_over(pid_t group) const {
        sigset_t ttou, old;
        sigemptyset(&ttou);
        sigaddset(&ttou, SIGTTOU);
        pthread_sigmask(SIG_BLOCK, &ttou, &old);
        tcsetpgrp(tty_.get(), group);
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }

    unique_fd tty_;
    bool usable_ = false;
};

// What the command finds in its environment: $f, the path under the
// cursor, and $fx, the picked paths one a line.
struct command_paths {
    std::string f;
    std::string fx;
};

[[noreturn]] void exec_shell(const command& cmd, const pipe_pair& pipe, const command_paths& paths,
                             const foreground_job& job) {
    job.enter(getpid());
    dup2(pipe.write_end.get(), STDERR_FILENO);
    // The command's input and output are the terminal's: korvel's own
    // standard output carries the chosen path and nothing else.
    const int tty = open("/dev/tty", O_RDWR);
    if (tty >= 0) {
        dup2(tty, STDIN_FILENO);
        dup2(tty, STDOUT_FILENO);
        close(tty);
    } else {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            close(null);
        }
    }
    setenv("f", paths.f.c_str(), 1);
    setenv("fx", paths.fx.c_str(), 1);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execl("/bin/sh", "/bin/sh", "-c", cmd.text.c_str(), static_cast<char*>(nullptr));
    // Many marked paths can pass the system's limit on one variable; say
    // so, as the shell is silent when it cannot start at all.
    if (errno == E2BIG) {
        const char prefix[] = "Failed to run command: ";
        const char* reason = strerror(E2BIG);
        (void)!write(STDERR_FILENO, prefix, sizeof prefix - 1);
        (void)!write(STDERR_FILENO, reason, strlen(reason));
    }
    _exit(1);
}

// The command's error output: the first bytes are kept for the status row,
// the rest is read and dropped, so that a chatty command never blocks.
struct error_output {
    std::string kept;
    bool open = true;
    bool failed = false;

    void drain(int fd) {
        std::array<char, 4096> scratch;
        for (;;) {
            const ssize_t n = read(fd, scratch.data(), scratch.size());
            if (n > 0) {
                const size_t room = KEPT_OUTPUT - kept.size();
                kept.append(scratch.data(), std::min(static_cast<size_t>(n), room));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) return;
            if (n < 0) failed = true;
            open = false;
            return;
        }
    }
};

// Waits for the command without polling on a timer: the error output and
// the wake-up pipe (written on SIGCHLD and on every request) are all there
// is to watch. Returns waitpid's result, with the child's status.
pid_t wait_for_command(pid_t pid, int fd, session& s, const foreground_job& job, int& status,
                       error_output& output) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG | WUNTRACED);
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) return done;
        if (done == pid && WIFSTOPPED(status)) {
            // Stopped from the keyboard: the viewer stops with it, like a
            // shell job, and when continued, so is the command.
            job.give_back();
            s.stop_process();
            job.start(pid);
            kill(-pid, SIGCONT);
            kill(pid, SIGCONT);
            continue;
        }
        if (done == pid) {
            // Whatever is there already; a background job of the command
            // may keep the pipe open long after.
            if (output.open) output.drain(fd);
            return done;
        }
        std::array<pollfd, 2> watch{pollfd{fd, POLLIN, 0}, pollfd{s.wake_fd(), POLLIN, 0}};
        if (!output.open) watch[0].fd = -1;
        if (poll(watch.data(), watch.size(), -1) < 0 && errno != EINTR) return -1;
        if (watch[0].revents != 0) output.drain(fd);
        if (watch[1].revents != 0) s.drain_wakeups();
    }
}

void report_failure(viewer& v, const command& cmd, int exit_code, const error_output& output) {
    if (output.failed) {
        v.status.show_error("Failed to run command: read() failed");
        return;
    }
    if (output.kept.empty()) {
        v.status.showf(status_style::ERROR, "%s exited with status %d", cmd.text.c_str(), exit_code);
        return;
    }
    std::string text = output.kept;
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
    const command_paths paths{v.tree.full_path(v.view.cursor), picked_text(v)};
    const foreground_job job;

    pipe_pair pipe;
    if (open_pipe(&pipe) != 0) {
        v.status.show_error("Failed to run command: pipe() failed");
        return s.reopen_terminal();
    }
    const pid_t pid = fork();
    if (pid < 0) {
        v.status.show_error("Failed to run command: fork() failed");
        return s.reopen_terminal();
    }
    if (pid == 0) exec_shell(cmd, pipe, paths, job);
    job.start(pid);
    pipe.write_end.reset();

    int status = 0;
    error_output output;
    const pid_t waited = wait_for_command(pid, pipe.read_end.get(), s, job, status, output);
    job.give_back();
    if (waited < 0) {
        v.status.show_error("Failed to run command: waitpid() failed");
    } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        report_failure(v, cmd, WEXITSTATUS(status), output);
    }
    // Asked to quit while the command ran: the screen is not drawn again
    // only to be put away, and a terminal that hung up could not take it.
    if (s.requested_stop() == STOP_QUIT) return {};
    return s.reopen_terminal();
}

} // namespace korvel
