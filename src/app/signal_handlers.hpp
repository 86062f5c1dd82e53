// Every signal the viewer acts on: the quit and suspend requests that the
// handlers make, the hand-back of the terminal after a crash, and the
// wake-up channel through which handlers (and other threads) interrupt a
// wait that has no time-out.
#pragma once

#include <csignal>

#include "app/stop_kind.hpp"
#include "base/outcome.hpp"
#include "base/unique_fd.hpp"

namespace korvel {

// The terminal descriptor a loading line is on, -1 when none shows: a
// suspend while loading clears the line before the process stops.
void set_loading_line_fd(int fd);

class signal_handlers {
  public:
    signal_handlers();
    ~signal_handlers();
    signal_handlers(const signal_handlers&) = delete;
    signal_handlers& operator=(const signal_handlers&) = delete;

    // SIGABRT, SIGSEGV and the other signals that dump core hand the
    // terminal back; SIGINT, SIGTERM and SIGHUP
    // ask to quit; SIGTSTP asks to suspend; SIGCHLD wakes the waiting loop.
    // An exception nothing catches (one thrown on a helper thread) hands the
    // terminal back too, then says what it was, then aborts.
    // Fails with "failed to setup SIG... signal".
    outcome install_signal_handlers();
    // While the list is loading there is no screen of ours to put away, so
    // a suspend stops the job at once (or is ignored where nobody could
    // continue it, as in the viewer).
    void set_loading(bool loading);

    // The request a signal made, if any, and forgetting it.
    stop_kind requested_stop() const;
    // The flag the handlers store their request in, for work that polls it
    // (the walker): non-zero once one was made, which while the list loads
    // only a quit does.
    const volatile sig_atomic_t* stop_flag() const;
    void clear_stop_request();

    // Readable after any signal the handlers act on; tb_peek_event and other
    // waits watch it.
    int wake_fd() const;
    // The end that other threads write a byte to, to wake the loop.
    int wake_write_fd() const;
    void drain_wakeups();

    // Stops the whole job (the process group) as a shell's Ctrl-Z does,
    // until it is continued; returns at once where nobody could continue it
    // (an orphaned group). The caller has handed the terminal back.
    void stop_process();

  private:
    pipe_pair wake_;
};

} // namespace korvel
