#include "load/tick_pacer.hpp"

#include <poll.h>

#include <algorithm>

namespace korvel {

tick_pacer::tick_pacer(const load_options& options, const load_progress& progress)
    : options_(options), progress_(progress), next_tick_(clock::now() + options.tuning.tick_period),
      next_wake_check_(clock::now() + WAKE_CHECK) {}

bool tick_pacer::check() {
    if (cancelled_) return false;
    if (!options_.tick) return true;
    const clock::time_point now = clock::now();
    if (now >= next_tick_) return tick_now();
    if (options_.wake_fd >= 0 && now >= next_wake_check_) {
        next_wake_check_ = now + WAKE_CHECK;
        struct pollfd wake {
            options_.wake_fd, POLLIN, 0
        };
        if (poll(&wake, 1, 0) > 0 && (wake.revents & POLLIN) != 0) return tick_now();
    }
    return true;
}

bool tick_pacer::tick_now() {
    if (cancelled_) return false;
    next_tick_ = clock::now() + options_.tuning.tick_period;
    if (options_.tick && !options_.tick(progress_)) cancelled_ = true;
    return !cancelled_;
}

std::chrono::milliseconds tick_pacer::until_due() const {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(next_tick_ - clock::now());
    return std::clamp(left, std::chrono::milliseconds{0},
                      options_.tuning.tick_period);
}

} // namespace korvel
