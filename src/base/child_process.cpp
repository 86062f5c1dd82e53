#include "base/child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include "base/write_all.hpp"

namespace korvel {

namespace {

// What the child needs between fork and exec, made beforehand: after fork
// only calls that are safe in a copy of a threaded process are made.
struct child_setup {
    const char* path;
    char* const* argv;
    char* const* envp;
    std::array<int, 3> sources; // per standard stream: a descriptor, or one of below
    bool own_group;
    int terminal; // >= 0: made the terminal's foreground group
    int report;   // where exec's errno goes when it fails
};
constexpr int KEEP = -1;
constexpr int CLOSE = -2;

[[noreturn]] void fail_in_child(int report) {
    const int error = errno;
    (void)!write(report, &error, sizeof error);
    _exit(127);
}

[[noreturn]] void become_child(const child_setup& c) {
    // Every signal is blocked since before fork, so korvel's handlers cannot
    // run in the child; they go back to the default before any is let in.
    // Ignored signals stay ignored, as exec would keep them.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction now {};
        if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler != SIG_DFL &&
            now.sa_handler != SIG_IGN)
            sigaction(sig, &default_action, nullptr);
    }
    if (c.own_group) setpgid(0, 0);
    // Done here and in korvel, since either may run first; with SIGTTOU
    // blocked a group not in front may ask.
    if (c.terminal >= 0) tcsetpgrp(c.terminal, getpid());

    // Sources among 0 to 2 are moved out of the way first, so that no dup2
    // below replaces one that is still to be used.
    std::array<int, 3> sources = c.sources;
    for (int& source : sources) {
        if (source >= 0 && source <= STDERR_FILENO) {
            source = fcntl(source, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
            if (source < 0) fail_in_child(c.report);
        }
    }
    for (int target = 0; target < 3; ++target) {
        const int source = sources[static_cast<size_t>(target)];
        if (source >= 0 && dup2(source, target) < 0) fail_in_child(c.report);
        if (source == CLOSE) close(target);
    }

    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(c.path, c.argv, c.envp);
    fail_in_child(c.report);
}

bool names_variable(std::string_view entry, std::string_view name) {
    return entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=';
}

// korvel's environment with the child_spec's variables set over it and those it
// unsets left out.
std::vector<std::string>
environment_with(const std::vector<std::pair<std::string, std::string>>& variables,
                 const std::vector<std::string>& unset) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text = *entry;
        const bool replaced =
            std::any_of(variables.begin(), variables.end(),
                        [&](const auto& v) { return names_variable(text, v.first); }) ||
            std::any_of(unset.begin(), unset.end(),
                        [&](const std::string& name) { return names_variable(text, name); });
        if (!replaced) env.emplace_back(text);
    }
    for (const auto& [name, value] : variables)
        env.push_back(name + "=" + value);
    return env;
}

std::vector<char*> pointers_to(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

enum class read_result { MORE, WOULD_BLOCK, DONE };

read_result read_once(int fd, output_sink& sink, int& read_error) {
    const std::span<char> room = sink.room();
    const ssize_t n = read(fd, room.data(), room.size());
    if (n > 0) {
        sink.took(static_cast<size_t>(n));
        return read_result::MORE;
    }
    if (n < 0 && errno == EINTR) return read_result::MORE;
    if (n < 0 && errno == EAGAIN) return read_result::WOULD_BLOCK;
    if (n < 0) read_error = errno;
    return read_result::DONE;
}

} // namespace

void kept_output::took(size_t n) {
    kept_.append(scratch_.data(), std::min(n, limit_ - kept_.size()));
    // A relay that fails (a terminal gone) leaves the kept part to report.
    if (relay_ >= 0) (void)write_all(relay_, scratch_.data(), n);
}

child_process::~child_process() {
    give_terminal_back();
}

start_failure child_process::start(const child_spec& spec) {
    std::vector<std::string> argv = spec.argv;
    std::vector<char*> argv_pointers = pointers_to(argv);
    std::vector<std::string> env;
    std::vector<char*> env_pointers;
    if (!spec.environment.empty() || !spec.unset.empty()) {
        env = environment_with(spec.environment, spec.unset);
        env_pointers = pointers_to(env);
    }

    // The child's ends of the pipes asked for are closed on exec, after
    // they are copied onto its standard streams.
    std::array<pipe_pair, 3> pipes;
    const std::array<const child_stream*, 3> streams{&spec.input, &spec.output, &spec.errors};
    child_setup setup{spec.path.c_str(),
                      argv_pointers.data(),
                      env_pointers.empty() ? environ : env_pointers.data(),
                      {},
                      false,
                      -1,
                      -1};
    for (size_t i = 0; i < 3; ++i) {
        switch (streams[i]->kind) {
        case child_stream::INHERIT:
            setup.sources[i] = KEEP;
            break;
        case child_stream::CLOSED:
            setup.sources[i] = CLOSE;
            break;
        case child_stream::DESCRIPTOR:
            setup.sources[i] = streams[i]->fd;
            break;
        case child_stream::PIPE:
            if (open_pipe(&pipes[i]) != 0) return start_failure::PIPE;
            setup.sources[i] = i == 0 ? pipes[i].read_end.get() : pipes[i].write_end.get();
            break;
        }
    }
    // Closed by a successful exec, so that an empty read says it worked.
    pipe_pair report;
    if (open_pipe(&report) != 0) return start_failure::PIPE;
    setup.report = report.write_end.get();

    const bool foreground = spec.terminal >= 0 && tcgetpgrp(spec.terminal) == getpgrp();
    setup.own_group = spec.own_group || foreground;
    setup.terminal = foreground ? spec.terminal : -1;

    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    const pid_t pid = fork();
    if (pid == 0) become_child(setup);
    const int fork_error = errno;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (pid < 0) {
        errno = fork_error;
        return start_failure::FORK;
    }

    pid_ = pid;
    own_group_ = setup.own_group;
    if (own_group_) setpgid(pid, pid);
    if (foreground) {
        terminal_ = spec.terminal;
        has_terminal_ = true;
        hand_terminal_to(pid);
    }
    report.write_end.reset();
    pipes[0].read_end.reset();
    pipes[1].write_end.reset();
    pipes[2].write_end.reset();

    int exec_error = 0;
    ssize_t n;
    do {
        n = read(report.read_end.get(), &exec_error, sizeof exec_error);
    } while (n < 0 && errno == EINTR);
    if (n == sizeof exec_error) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        give_terminal_back();
        errno = exec_error;
        return start_failure::EXEC;
    }
    input_ = std::move(pipes[0].write_end);
    output_ = std::move(pipes[1].read_end);
    errors_ = std::move(pipes[2].read_end);
    return start_failure::NONE;
}

void child_process::hand_terminal_to(pid_t group) const {
    // A group that is not in front would be stopped by SIGTTOU for asking.
    sigset_t ttou, old;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &ttou, &old);
    tcsetpgrp(terminal_, group);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void child_process::give_terminal_back() {
    if (!has_terminal_) return;
    hand_terminal_to(getpgrp());
    has_terminal_ = false;
}

void child_process::continue_after_stop(const std::function<void()>& on_stop) {
    const bool had_terminal = has_terminal_;
    give_terminal_back();
    on_stop();
    if (had_terminal) {
        hand_terminal_to(pid_);
        has_terminal_ = true;
    }
    signal(SIGCONT);
    // Its group is its own doing too: one that moved to another is still
    // continued.
    if (own_group_) kill(pid_, SIGCONT);
}

child_end child_process::wait(const wait_hooks& hooks) {
    child_end end;
    const int fd = hooks.sink == nullptr ? -1 : output_.get() >= 0 ? output_.get() : errors_.get();
    if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    bool reading = fd >= 0;
    const int stops = hooks.on_stop ? WUNTRACED : 0;
    for (;;) {
        if (pid_ >= 0) {
            // With nothing else to watch, waitpid itself is the wait.
            const bool block = !reading && hooks.wake_fd < 0;
            const pid_t done = waitpid(pid_, &end.status, stops | (block ? 0 : WNOHANG));
            if (done < 0 && errno == EINTR) continue;
            if (done < 0) {
                end.state = child_end::FAILED;
                end.error = errno;
                break;
            }
            if (done == pid_ && WIFSTOPPED(end.status)) {
                continue_after_stop(hooks.on_stop);
                continue;
            }
            if (done == pid_) pid_ = -1;
        }
        if (pid_ < 0) {
            // What is there already; a job the child left in the background
            // may keep the pipe open long after.
            while (reading && !hooks.read_to_end)
                reading = read_once(fd, *hooks.sink, end.read_error) == read_result::MORE;
            if (!reading || !hooks.read_to_end) break;
        }
        std::array<pollfd, 2> watch{pollfd{reading ? fd : -1, POLLIN, 0},
                                    pollfd{hooks.wake_fd, POLLIN, 0}};
        if (poll(watch.data(), watch.size(), -1) < 0) {
            if (errno == EINTR) continue;
            end.state = child_end::FAILED;
            end.error = errno;
            break;
        }
        if (watch[1].revents != 0 && !hooks.on_wake()) {
            end.state = child_end::GAVE_UP;
            break;
        }
        // One read a round, so that the wake-up is looked at between reads
        // of a child that writes without pause.
        if (watch[0].revents != 0)
            reading = read_once(fd, *hooks.sink, end.read_error) != read_result::DONE;
    }
    give_terminal_back();
    return end;
}

bool child_process::ended(bool block, int* status) {
    if (pid_ < 0) return true;
    int got = 0;
    pid_t done;
    do {
        done = waitpid(pid_, &got, block ? 0 : WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done == 0) return false;
    pid_ = -1;
    give_terminal_back();
    if (status != nullptr) *status = got;
    return true;
}

void child_process::signal(int sig) const {
    if (pid_ < 0) return;
    kill(own_group_ ? -pid_ : pid_, sig);
}

std::string describe_end(int status) {
    if (WIFSIGNALED(status)) {
        const char* name = sigabbrev_np(WTERMSIG(status));
        return std::string("killed by SIG") + (name != nullptr ? name : "?");
    }
    return "exited with code " + std::to_string(WEXITSTATUS(status));
}

bool write_to_child(int fd, std::string_view bytes) {
    sigset_t pipe_signal;
    sigset_t old_mask;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &old_mask);
    const bool ok = write_all(fd, bytes);
    const int error = errno;
    if (!ok && error == EPIPE) {
        // Take the pending signal away before unblocking it.
        const timespec no_wait{0, 0};
        sigtimedwait(&pipe_signal, nullptr, &no_wait);
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    errno = error;
    return ok;
}

} // namespace korvel
