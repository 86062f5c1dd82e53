#include "app/signal_handlers.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "app/status.hpp"
#include "base/check.hpp"
#include "term/term.hpp"

namespace korvel {

namespace {

// What the signal handlers reach: the request they leave for the loop, the
// pipe they write to so that a wait wakes up, and whether the list is still
// loading.
volatile sig_atomic_t stop_request = STOP_NONE;
volatile sig_atomic_t wake_write_end = -1;
volatile sig_atomic_t loading = 0;
volatile sig_atomic_t loading_line_fd = -1;

void wake_up() {
    const int saved = errno;
    const char byte = 0;
    // A full pipe already holds a wake-up: nothing is lost.
    [[maybe_unused]] const ssize_t n = write(wake_write_end, &byte, 1);
    errno = saved;
}

// Stops the whole job, as Ctrl-Z at a shell prompt would: every process of
// the group, so that a shell waiting on a pipeline sees it stopped. SIGTSTP
// goes with its default action, which the kernel discards where nobody could
// continue the process (an orphaned process group, under a parent without job
// control), so the request is ignored there. Only async-signal-safe calls:
// the loading phase stops from inside the SIGTSTP handler.
void stop_job() {
    const int saved = errno;
    struct sigaction own {};
    struct sigaction stop_now {};
    stop_now.sa_handler = SIG_DFL;
    sigemptyset(&stop_now.sa_mask);
    sigaction(SIGTSTP, &stop_now, &own);
    // Held back until the whole group has been sent it (and blocked anyway
    // inside its own handler), then let through: this process stops here.
    sigset_t tstp;
    sigset_t before;
    sigemptyset(&tstp);
    sigaddset(&tstp, SIGTSTP);
    pthread_sigmask(SIG_BLOCK, &tstp, &before);
    kill(0, SIGTSTP);
    pthread_sigmask(SIG_UNBLOCK, &tstp, nullptr);
    // Continued, or never stopped.
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    sigaction(SIGTSTP, &own, nullptr);
    errno = saved;
}

void on_quit_signal(int) {
    stop_request = STOP_QUIT;
    wake_up();
}

void on_suspend_signal(int) {
    if (loading) {
        // The loading line goes first, so the shell's word on the stopped
        // job stands alone; it comes back with the next refresh.
        if (loading_line_fd >= 0) {
            const int saved = errno;
            [[maybe_unused]] const ssize_t n = write(loading_line_fd, "\r\033[K", 4);
            errno = saved;
        }
        stop_job();
        return;
    }
    // A quit already asked for is not turned into a suspend.
    if (stop_request != STOP_QUIT) stop_request = STOP_SUSPEND;
    wake_up();
}

void on_child_signal(int) { wake_up(); }

void on_fatal_signal(int sig) {
    // Only async-signal-safe calls here: whatever failed may have left ncurses
    // or the allocator half-way through a change.
    tb_shutdown_from_signal();
    // Die of the signal itself, so the parent sees what happened.
    signal(sig, SIG_DFL);
    raise(sig);
}

// An exception that leaves a helper thread (or a function that may not
// throw) ends the process here. The terminal goes back first, so that the
// message is not drawn on the viewer's screen and lost with it; then what
// was thrown, on one line; then the abort, whose handler finds the terminal
// already given back.
[[noreturn]] void on_terminate() {
    (void)tb_shutdown_from_signal();
    const char* name = program_invocation_name;
    if (name == nullptr || *name == '\0') name = "korvel";
    try {
        std::string what = "terminated";
        if (const std::exception_ptr thrown = std::current_exception()) {
            try {
                std::rethrow_exception(thrown);
            } catch (const std::exception& e) {
                what = std::string("uncaught exception: ") + e.what();
            } catch (...) {
                what = "uncaught exception";
            }
        }
        print_error(name, what);
    } catch (...) {
        // No memory left even for the message: the plain fact.
        fprintf(stderr, "%s: uncaught exception\n", name);
    }
    abort();
}

struct handler_setup {
    int sig;
    void (*handler)(int);
    const char* failure;
};

const std::array<handler_setup, 11> HANDLERS{{
    {SIGABRT, on_fatal_signal, "failed to setup SIGABRT signal"},
    {SIGSEGV, on_fatal_signal, "failed to setup SIGSEGV signal"},
    // Every other signal whose default action ends the process with a core
    // dump would leave the terminal raw just the same.
    {SIGBUS, on_fatal_signal, "failed to setup SIGBUS signal"},
    {SIGFPE, on_fatal_signal, "failed to setup SIGFPE signal"},
    {SIGILL, on_fatal_signal, "failed to setup SIGILL signal"},
    {SIGQUIT, on_fatal_signal, "failed to setup SIGQUIT signal"},
    {SIGINT, on_quit_signal, "failed to setup SIGINT signal"},
    {SIGTERM, on_quit_signal, "failed to setup SIGTERM signal"},
    {SIGTSTP, on_suspend_signal, "failed to setup SIGTSTP signal"},
    {SIGHUP, on_quit_signal, "failed to setup SIGHUP signal"},
    // Also undoes an ignored SIGCHLD handed down by whoever started the
    // viewer, which would have the kernel reap mapped commands and the
    // clipboard program before waitpid could report on them.
    {SIGCHLD, on_child_signal, "failed to setup SIGCHLD signal"},
}};

} // namespace

signal_handlers::signal_handlers() {
    int fds[2];
    // Without the pipe a wait still ends at the next key, resize or child;
    // only a signal's wake-up would wait for one of them.
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wake_.read_end.reset(fds[0]);
        wake_.write_end.reset(fds[1]);
        wake_write_end = fds[1];
    }
}

signal_handlers::~signal_handlers() { wake_write_end = -1; }

outcome signal_handlers::install_signal_handlers() {
    set_check_failure_hook([] { (void)tb_shutdown_from_signal(); });
    std::set_terminate(on_terminate);
    for (const handler_setup& h : HANDLERS) {
        struct sigaction action {};
        action.sa_handler = h.handler;
        sigemptyset(&action.sa_mask);
        // Interrupted system calls go on, as with signal(); waits that must
        // notice a request watch the wake-up pipe instead.
        action.sa_flags = SA_RESTART;
        if (sigaction(h.sig, &action, nullptr) != 0) return outcome::failure(h.failure);
    }
    return {};
}

void set_loading_line_fd(int fd) { loading_line_fd = fd; }

void signal_handlers::set_loading(bool now_loading) { loading = now_loading ? 1 : 0; }

stop_kind signal_handlers::requested_stop() const { return static_cast<stop_kind>(stop_request); }

void signal_handlers::clear_stop_request() { stop_request = STOP_NONE; }

const volatile sig_atomic_t* signal_handlers::stop_flag() const {
    return &stop_request;
}

int signal_handlers::wake_fd() const { return wake_.read_end.get(); }

int signal_handlers::wake_write_fd() const { return wake_.write_end.get(); }

void signal_handlers::drain_wakeups() {
    char buffer[64];
    while (wake_fd() >= 0 && read(wake_fd(), buffer, sizeof buffer) > 0) {
    }
}

void signal_handlers::stop_process() { stop_job(); }

} // namespace korvel
