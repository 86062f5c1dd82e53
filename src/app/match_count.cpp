#include "app/match_count.hpp"

namespace korvel {

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

} // namespace korvel
