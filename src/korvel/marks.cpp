#include "korvel/marks.hpp"

#include <cinttypes>

#include "korvel/view.hpp"
#include "search.hpp"

namespace {

// The set takes its memory with the first mark, not for every run.
entry_set& sized_marks(viewer& v) {
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

outcome shown_entries(const viewer& v, entry_set& shown) {
    const path_tree& tree = v.tree;
    shown.resize(tree.size());
    shown.clear();
    if (!v.search.active()) {
        shown.insert_everything();
        return {};
    }
    // In tree order, so that one walker builds each full path from the one
    // before.
    full_path_walker walker(tree);
    // Names lie in the order the lines were read, not in tree order: fetch
    // them a little ahead so that the walk does not wait on each one.
    constexpr uint64_t PREFETCH_DISTANCE = 16;
    for (uint64_t entry = 0; entry < tree.size(); ++entry) {
        if (entry + PREFETCH_DISTANCE < tree.size())
            __builtin_prefetch(tree.at(entry + PREFETCH_DISTANCE).name);
        switch (v.search.match(tree, entry, walker)) {
        case match_result::MATCH:
            shown.insert(entry);
            break;
        case match_result::NO_MATCH:
            break;
        case match_result::FAILED:
            return v.search.failure();
        }
    }
    return {};
}

void toggle_shown_marks(viewer& v) {
    entry_set shown;
    if (outcome found = shown_entries(v, shown); !found) {
        v.status.show_error(found.message());
        return;
    }
    if (shown.empty()) {
        v.status.show_error("Pattern not found");
        return;
    }
    entry_set& marks = sized_marks(v);
    if (marks.includes(shown)) {
        const uint64_t n = marks.erase_all(shown);
        v.status.showf(status_style::MESSAGE, "Unmarked %" PRIu64 " %s", n, entries_word(n));
    } else {
        const uint64_t n = marks.insert_all(shown);
        v.status.showf(status_style::MESSAGE, "Marked %" PRIu64 " %s", n, entries_word(n));
    }
}

void clear_marks(viewer& v) {
    v.marks.clear();
}
