#include "app/filter.hpp"

#include <algorithm>

#include "app/match_count.hpp"
#include "app/view.hpp"

namespace korvel {

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

} // namespace korvel
