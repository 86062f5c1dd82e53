#include "term/tty_signals.hpp"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

#include "term/term_types.hpp"

namespace korvel {

namespace term_curses {

namespace {

// SIGWINCH only writes a byte to a pipe; the poll in next_event wakes on it.
volatile sig_atomic_t resize_pipe_write_end = -1;

void on_window_change(int) {
    const int saved = errno;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = write(resize_pipe_write_end, &byte, 1);
    errno = saved;
}

} // namespace

int resize_watch::start(int& err) {
    if (pipe2(fds_.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        err = errno;
        return TB_ERR_RESIZE_PIPE;
    }
    resize_pipe_write_end = fds_[1];
    struct sigaction action {};
    action.sa_handler = on_window_change;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGWINCH, &action, &previous_) != 0) {
        err = errno;
        return TB_ERR_RESIZE_SIGACTION;
    }
    installed_ = true;
    return 0;
}

resize_watch::~resize_watch() {
    if (installed_) sigaction(SIGWINCH, &previous_, nullptr);
    resize_pipe_write_end = -1;
    for (int fd : fds_)
        if (fd >= 0) close(fd);
}

bool resize_watch::take() const {
    std::array<char, 64> buffer;
    bool any = false;
    while (read(fds_[0], buffer.data(), buffer.size()) > 0)
        any = true;
    return any;
}

signal_snapshot::signal_snapshot() {
    for (size_t i = 0; i < GUARDED_SIGNALS.size(); ++i)
        sigaction(GUARDED_SIGNALS[i], nullptr, &saved_[i]);
}

void signal_snapshot::restore_changed() const {
    for (size_t i = 0; i < GUARDED_SIGNALS.size(); ++i) {
        struct sigaction now {};
        sigaction(GUARDED_SIGNALS[i], nullptr, &now);
        if (now.sa_handler != saved_[i].sa_handler)
            sigaction(GUARDED_SIGNALS[i], &saved_[i], nullptr);
    }
}

} // namespace term_curses

} // namespace korvel
