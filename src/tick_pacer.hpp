// The main thread's duty while loading: calling the caller's tick in time.
#pragma once

#include <chrono>

#include "load_options.hpp"

class tick_pacer {
  public:
    using clock = std::chrono::steady_clock;
    // How often work on the main thread looks at the wake descriptor.
    static constexpr std::chrono::milliseconds WAKE_CHECK{2};

    tick_pacer(const load_options& options, const load_progress& progress);

    // Calls tick when it is due or the wake descriptor is readable; cheap
    // otherwise, so work on the main thread calls it every millisecond or so.
    // False once the load is cancelled.
    bool check();
    // Calls tick now.
    bool tick_now();
    // How long a wait may last before the next check.
    std::chrono::milliseconds until_due() const;
    bool cancelled() const { return cancelled_; }
    int wake_fd() const { return options_.wake_fd; }
    const load_options& options() const { return options_; }

  private:
    const load_options& options_;
    const load_progress& progress_;
    clock::time_point next_tick_;
    clock::time_point next_wake_check_;
    bool cancelled_ = false;
};
