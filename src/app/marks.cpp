#include "app/marks.hpp"

#include <cinttypes>

#include "app/view.hpp"
#include "base/digit_groups.hpp"
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

// What the filter or the search picks out, or every entry.
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

outcome shown_entries(const viewer& v, bit_set& shown) {
    if (outcome found = picked_out(v, shown); !found) return found;
    // A directory made up to hold lines was never given: marking in bulk
    // must not pick it for a command that deletes what it is handed.
    shown.intersect(v.tree.line_entries());
    return {};
}

void toggle_shown_marks(viewer& v) {
    bit_set shown;
    if (outcome found = shown_entries(v, shown); !found) {
        v.status.show_error(found.message());
        return;
    }
    if (shown.next(0) == shown.size()) {
        // Matches that are all made-up directories are not "not found".
        bit_set matched;
        if (picked_out(v, matched).ok() && matched.next(0) != matched.size())
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
