#include "korvel/marks.hpp"

#include <cinttypes>

#include "korvel/numbers.hpp"
#include "korvel/view.hpp"
#include "search.hpp"

namespace {

// The set takes its memory with the first mark, not for every run.
mark_set& sized_marks(viewer& v) {
    if (v.marks.size() != v.tree.size()) v.marks.resize(v.tree.size());
    return v.marks;
}

const char* entries_word(uint64_t n) {
    return n == 1 ? "entry" : "entries";
}

} // namespace

void toggle_mark_and_move(viewer& v, int32_t step) {
    sized_marks(v).flip(v.view.cursor);
    move_cursor(v, step);
}

outcome shown_entries(const viewer& v, bit_set& shown) {
    if (v.filter.active()) {
        shown = v.filter.matches;
        return {};
    }
    if (!v.search.active()) {
        shown = bit_set(v.tree.size());
        shown.fill();
        return {};
    }
    // The matches are counted between keys after every search, so they are
    // usually known by now; otherwise they are found here, all at once.
    if (v.counted.done) {
        shown = v.counted.matches;
        return {};
    }
    match_scan scan(v.tree, v.search);
    while (!scan.step(UINT64_MAX)) {
    }
    if (!scan.failure()) return scan.failure();
    shown = scan.take_matches();
    return {};
}

void toggle_shown_marks(viewer& v) {
    bit_set shown;
    if (outcome found = shown_entries(v, shown); !found) {
        v.status.show_error(found.message());
        return;
    }
    if (shown.next(0) == shown.size()) {
        v.status.show_error("Pattern not found");
        return;
    }
    mark_set& marks = sized_marks(v);
    if (marks.includes(shown)) {
        const uint64_t n = marks.erase_all(shown);
        v.status.showf(status_style::MESSAGE, "Unmarked %s %s", grouped(n).c_str(), entries_word(n));
    } else {
        const uint64_t n = marks.insert_all(shown);
        v.status.showf(status_style::MESSAGE, "Marked %s %s", grouped(n).c_str(), entries_word(n));
    }
}

void clear_marks(viewer& v) {
    const uint64_t n = v.marks.count();
    v.marks.clear();
    // What the row said was about an earlier action, such as the count of
    // a mark of everything.
    if (n > 0) {
        v.status.showf(status_style::MESSAGE, "Unmarked %s %s", grouped(n).c_str(),
                       entries_word(n));
    } else {
        show_current_path(v);
    }
}
