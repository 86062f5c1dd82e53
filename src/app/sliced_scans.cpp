#include "app/sliced_scans.hpp"

#include "app/marks.hpp"
#include "app/match_count.hpp"
#include "app/prompt.hpp"

namespace korvel {

namespace {

// Entries tested between looks at the clock: well under a millisecond for
// names, and few enough that entries with full paths of hundreds of
// kilobytes (one line of a hundred thousand components) still give way to
// the keyboard in time.
constexpr uint64_t SLICE = 64;

// A marking waiting for its entries takes them as soon as they are known.
void mark_when_ready(viewer& v) {
    if (v.marking && marking_ready(v)) finish_marking(v);
}

// One slice of the work that comes first; true when it finished. The
// previews come first: they are what the user is waiting to see. The jump
// comes before a filter entered, which would change the entries the jump
// walks among.
bool step_work(viewer& v) {
    if (v.preview.find) {
        if (!v.preview.find->step(SLICE)) return false;
        finish_search_preview(v);
    } else if (v.preview.filter_scan) {
        if (!v.preview.filter_scan->step(SLICE)) return false;
        finish_filter_preview(v);
    } else if (v.jump) {
        if (!v.jump->step(SLICE)) return false;
        finish_jump(v);
    } else if (v.entered.scan) {
        if (!v.entered.scan->step(SLICE)) return false;
        finish_entered_filter(v);
    } else {
        if (!v.counted.scan->step(SLICE)) return false;
        finish_count(v);
    }
    mark_when_ready(v);
    return true;
}

// Work that a key typed ahead waits for, within its grace.
bool awaited(const viewer& v) {
    return v.jump || v.entered.scan || (v.marking && !marking_ready(v));
}

} // namespace

bool work_pending(const viewer& v) {
    return v.preview.find || v.preview.filter_scan || v.jump || v.entered.scan || v.counted.scan;
}

void settle_work(viewer& v, std::chrono::milliseconds budget) {
    const auto deadline = std::chrono::steady_clock::now() + budget;
    while (awaited(v) && std::chrono::steady_clock::now() < deadline) step_work(v);
    v.jump.reset();
    v.marking = false;
}

bool run_work(viewer& v, std::chrono::milliseconds budget) {
    const auto deadline = std::chrono::steady_clock::now() + budget;
    bool finished = false;
    // Back to the loop as soon as something has finished: its frame is
    // what the user waits for, and the rest can follow.
    while (!finished && work_pending(v) && std::chrono::steady_clock::now() < deadline)
        finished = step_work(v);
    return finished;
}

} // namespace korvel
