// The signals the real backend deals with: SIGWINCH turned into a readable
// descriptor, and the handlers newterm would otherwise take over.
#pragma once

#include <array>
#include <csignal>

namespace korvel {

namespace term_curses {

// Owns the SIGWINCH handler and its pipe, and puts back whatever handler
// was there before.
class resize_watch {
  public:
    resize_watch() = default;
    resize_watch(const resize_watch&) = delete;
    resize_watch& operator=(const resize_watch&) = delete;
    ~resize_watch();

    // 0, or TB_ERR_RESIZE_PIPE / TB_ERR_RESIZE_SIGACTION with err set.
    int start(int& err);
    // Readable after a SIGWINCH.
    int fd() const { return fds_[0]; }
    // True when at least one SIGWINCH arrived since the last call.
    bool take() const;

  private:
    std::array<int, 2> fds_{-1, -1};
    struct sigaction previous_ {};
    bool installed_ = false;
};

// newterm installs handlers of its own for these when they are at their
// default; they would end the process behind the caller's back, so they are
// put back at once and the caller keeps sole charge of its signals.
constexpr std::array GUARDED_SIGNALS{SIGINT, SIGQUIT, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU, SIGCONT};

class signal_snapshot {
  public:
    signal_snapshot();
    void restore_changed() const;

  private:
    std::array<struct sigaction, GUARDED_SIGNALS.size()> saved_{};
};

} // namespace term_curses

} // namespace korvel
