#include "korvel/work.hpp"

#include "korvel/narrow.hpp"
#include "korvel/prompt.hpp"

namespace {

// Entries tested between looks at the clock: well under a millisecond for
// names, and few enough that entries with full paths of hundreds of
// kilobytes (one line of a hundred thousand components) still give way to
// the keyboard in time.
constexpr uint64_t SLICE = 64;

} // namespace

bool work_pending(const viewer& v) {
    return v.preview.find || v.preview.filter_scan || v.jump || v.counted.scan;
}

void settle_jump(viewer& v, std::chrono::milliseconds budget) {
    const auto deadline = std::chrono::steady_clock::now() + budget;
    while (v.jump && std::chrono::steady_clock::now() < deadline) {
        if (v.jump->step(SLICE)) finish_jump(v);
    }
    v.jump.reset();
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
        } else if (v.jump) {
            if (v.jump->step(SLICE)) {
                finish_jump(v);
                finished = true;
            }
        } else if (v.counted.scan->step(SLICE)) {
            finish_count(v);
            finished = true;
        }
    }
    return finished;
}
