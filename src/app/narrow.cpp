#include "app/narrow.hpp"

#include <algorithm>

#include "app/view.hpp"

namespace korvel {

void keep_cursor_visible(viewer& v) {
    const path_tree& tree = v.tree;
    if (tree.row_of(v.view.cursor) >= 0) return;
    // In a compact chain, the chain's row.
    if (const uint64_t owner = tree.row_owner(v.view.cursor); tree.row_of(owner) >= 0) {
        v.view.cursor = static_cast<entry_index>(owner);
        return;
    }
    for (entry_index a = tree.at(v.view.cursor).parent; a != NO_ENTRY; a = tree.at(a).parent) {
        if (tree.row_of(a) >= 0) {
            v.view.cursor = a;
            return;
        }
    }
    // No ancestor shows (a filter that keeps none of them): the first row
    // after the entry, or the last one. Rows are in entry order.
    uint64_t low = 0, high = tree.row_count() - 1;
    while (low < high) {
        const uint64_t middle = low + (high - low) / 2;
        if (tree.row_entry(middle) < v.view.cursor) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    v.view.cursor = tree.row_entry(low);
}

const bit_set* searched_entries(const viewer& v) {
    return v.filter.active() ? &v.filter.kept : nullptr;
}

void restart_count(viewer& v) {
    v.counted = {};
    if (!v.search.active()) return;
    v.counted.scan = std::make_unique<match_scan>(v.tree, v.search, searched_entries(v));
}

void finish_count(viewer& v) {
    v.counted.done = v.counted.scan->failure().ok();
    v.counted.failure = v.counted.scan->failure();
    v.counted.matches = v.counted.scan->take_matches();
    v.counted.scan.reset();
    recount_rows(v);
}

void recount_rows(viewer& v) {
    match_count& counted = v.counted;
    if (counted.scan) return;
    const bit_set& matches = counted.matches;
    counted.row_firsts = bit_set(matches.size());
    counted.total = 0;
    // A chain's entries are consecutive, ending with the one whose row it
    // is: the matches after the first that lie up to there share its row.
    for (uint64_t e = matches.next(0); e < matches.size();
         e = matches.next(v.tree.row_owner(e) + 1)) {
        counted.row_firsts.set(e);
        ++counted.total;
    }
}

uint64_t cursor_rank(const viewer& v) {
    if (!v.counted.done || !v.search.active()) return 0;
    const uint64_t start = v.tree.chain_start(v.view.cursor);
    const uint64_t first = v.counted.row_firsts.next(start);
    if (first >= v.counted.row_firsts.size() || first > v.view.cursor) return 0;
    return v.counted.row_firsts.count_before(start) + 1;
}

void apply_filter(viewer& v, std::unique_ptr<search_pattern> pattern, match_scan& scan) {
    // Directories on the way are shown open, so that every match shows.
    for (entry_index a : scan.take_folded_ancestors()) v.tree.set_folded(a, false);
    v.filter.kept = scan.take_kept();
    v.filter.count = scan.count();
    v.filter.matches = scan.take_matches();
    v.filter.pattern = std::move(pattern);
    v.tree.set_shown(&v.filter.kept);
    keep_cursor_visible(v);
    // The narrowed tree is shorter: a window left below its end comes back.
    scroll_view(v, 0);
    restart_count(v);
}

void remove_filter(viewer& v) {
    if (!v.filter.active()) return;
    // The entry stays on the screen row it stood on, the whole tree around it.
    const int64_t screen_row =
        std::clamp<int64_t>(cursor_row(v) - v.view.top, 0, std::max(0, tree_rows(v) - 1));
    v.tree.set_shown(nullptr);
    v.filter = {};
    v.tree.reveal(v.view.cursor);
    // Where the whole tree fits below that, or above, it shows from its
    // first row or to its last.
    const int64_t last_top = static_cast<int64_t>(v.tree.row_count()) - tree_rows(v);
    v.view.top = std::clamp<int64_t>(cursor_row(v) - screen_row, 0, std::max<int64_t>(0, last_top));
    restart_count(v);
}

void fold_everything(viewer& v, bool folded) {
    v.tree.fold_all(folded);
    keep_cursor_visible(v);
    // A window left past the end of a list that has shrunk comes back, and
    // the status row follows a cursor that has moved up.
    scroll_view(v, 0);
    show_current_path(v);
}

} // namespace korvel
