#include "app/sliced_scans.hpp"

#include "app/prompt.hpp"

namespace korvel {

namespace {

// Entries tested between looks at the clock: well under a millisecond.
constexpr uint64_t SLICE = 16384;

} // namespace

bool work_pending(const viewer& v) {
    return v.preview.find || v.preview.filter_scan || v.counted.scan;
}

bool run_work(viewer& v, std::chrono::milliseconds budget) {
    const auto deadline = std::chrono::steady_clock::now() + budget;
    bool finished = false;
    // Back to the loop as soon as something has finished: its frame is
    // what the user waits for, and the rest can follow.
    while (!finished && work_pending(v) && std::chrono::steady_clock::now() < deadline) {
        // The previews first: they are what the user is waiting to see.
        if (v.preview.find) {
            if (v.preview.find->step(SLICE)) {
                finish_search_preview(v);
                finished = true;
            }
        } else if (v.preview.filter_scan) {
            if (v.preview.filter_scan->step(SLICE)) {
                finish_filter_preview(v);
                finished = true;
            }
        } else if (v.counted.scan->step(SLICE)) {
            v.counted.done = v.counted.scan->failure().ok();
            v.counted.total = v.counted.scan->count();
            v.counted.matches = v.counted.scan->take_matches();
            v.counted.scan.reset();
            finished = true;
        }
    }
    return finished;
}

} // namespace korvel
