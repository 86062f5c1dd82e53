#include "app/marks.hpp"

#include <cinttypes>

#include "app/match_count.hpp"
#include "base/digit_groups.hpp"
#include "app/view.hpp"
#include "match/search.hpp"

namespace korvel {

namespace {

// The set takes its memory with the first mark, not for every run.
mark_set& sized_marks(viewer& v) {
    if (v.marks.size() != v.tree.size()) v.marks.resize(v.tree.size());
    return v.marks;
}

const char* entries_word(uint64_t n) {
    return n == 1 ? "entry" : "entries";
}

// What the filter or the search picks out, or every entry; only once it is
// known (see marking_ready).
outcome picked_out(const viewer& v, bit_set& shown) {
    if (v.filter.active()) {
        shown = v.filter.matches;
        return {};
    }
    if (!v.search.active()) {
        shown = bit_set(v.tree.size());
        shown.fill();
        return {};
    }
    if (!v.counted.done) return v.counted.failure;
    shown = v.counted.matches;
    return {};
}

} // namespace

void toggle_mark_and_move(viewer& v, int32_t step) {
    mark_set& marks = sized_marks(v);
    // A compact chain's row shows the marks of all its directories (some may
    // have been marked while it was not compact): Tab takes its sign off, or
    // marks the row's own entry, the one the cursor stands on.
    const uint64_t start = v.tree.chain_start(v.view.cursor);
    if (marks.next(start) <= v.view.cursor) {
        for (uint64_t e = start; e <= v.view.cursor; ++e)
            if (marks.contains(e)) marks.flip(e);
    } else {
        marks.flip(v.view.cursor);
    }
    move_cursor(v, step);
}

bool marking_ready(const viewer& v) {
    if (v.entered.scan) return false;
    if (v.filter.active() || !v.search.active()) return true;
    return !v.counted.scan;
}

outcome shown_entries(const viewer& v, bit_set& shown, bool* any_picked) {
    if (outcome found = picked_out(v, shown); !found) return found;
    if (any_picked != nullptr) *any_picked = shown.next(0) != shown.size();
    // A directory made up to hold lines was never given: marking in bulk
    // must not pick it for a command that deletes what it is handed.
    shown.intersect(v.tree.line_entries());
    return {};
}

void toggle_shown_marks(viewer& v) {
    // A search whose count was never begun (or was dropped) is counted now,
    // a slice at a time like any other.
    if (v.search.active() && !v.filter.active() && !v.counted.scan && !v.counted.done &&
        v.counted.failure.ok())
        restart_count(v);
    v.marking = true;
    if (marking_ready(v)) finish_marking(v);
}

void finish_marking(viewer& v) {
    v.marking = false;
    bit_set shown;
    bool any_picked = false;
    if (outcome found = shown_entries(v, shown, &any_picked); !found) {
        v.status.show_error(found.message());
        return;
    }
    if (shown.next(0) == shown.size()) {
        // Matches that are all made-up directories are not "not found".
        if (any_picked)
            v.status.showf(status_style::MESSAGE, "Marked 0 entries");
        else
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

} // namespace korvel
