#include "app/view.hpp"

#include <algorithm>

#include "base/check.hpp"
#include "term/term.hpp"
#include "app/screen_layout.hpp"

namespace korvel {

int32_t tree_rows(const viewer& v) { return layout_of(v).tree_rows; }

int64_t cursor_row(const viewer& v) {
    const int64_t row = v.tree.row_of(v.view.cursor);
    KORVEL_CHECK(row >= 0);
    return row;
}

void show_current_path(viewer& v) { v.status.show_path(v.tree.full_path(v.view.cursor)); }

void move_cursor_to(viewer& v, int64_t row) {
    const int64_t rows = tree_rows(v);
    v.view.cursor = v.tree.row_entry(static_cast<uint64_t>(row));
    int64_t& top = v.view.top;
    // A window that starts past the cursor comes back to it, also one that
    // starts past the end of the list: with no tree rows (a terminal of one
    // row) the rules below can leave it there, and a window that never came
    // back would keep the tree blank once the terminal grows.
    if (top > row) {
        top = row;
    } else if (row >= top + rows && top + rows > 0) {
        top = row - rows + 1;
    }
    show_current_path(v);
}

void move_cursor(viewer& v, int32_t delta) {
    const int64_t target = cursor_row(v) + delta;
    if (target >= 0 && target < static_cast<int64_t>(v.tree.row_count())) move_cursor_to(v, target);
}

void scroll_view(viewer& v, int32_t delta) {
    const int64_t last_top = static_cast<int64_t>(v.tree.row_count()) - tree_rows(v);
    v.view.top = std::max<int64_t>(0, std::min<int64_t>(v.view.top + delta, last_top));
    move_cursor(v, delta);
}

void scroll_horizontally(viewer& v, int32_t delta) {
    v.view.hscroll = std::max<int64_t>(0, v.view.hscroll + delta);
}

void center_view(viewer& v) { v.view.top = cursor_row(v) - tree_rows(v) / 2; }

void fit_to_screen(viewer& v) {
    const int64_t rows = tree_rows(v);
    const auto count = static_cast<int64_t>(v.tree.row_count());
    // With no tree area there is nothing to show the cursor in.
    if (rows <= 0 || count == 0) return;
    int64_t& top = v.view.top;
    // A window above the first row (after centring) is left as it is.
    if (top > 0 && top + rows > count) top = std::max<int64_t>(0, count - rows);
    const int64_t row = cursor_row(v);
    if (row < top) {
        top = row;
    } else if (row >= top + rows) {
        top = row - rows + 1;
    }
}

bool go_to_parent(viewer& v) {
    // In a compact chain the row stands for the directories above too: the
    // parent is that of the chain's first.
    const entry_index parent = v.tree.at(v.tree.chain_start(v.view.cursor)).parent;
    if (parent == NO_ENTRY) return false;
    // The parent is always visible on an earlier row.
    const int64_t row = v.tree.row_of(parent);
    KORVEL_CHECK(row >= 0);
    move_cursor_to(v, row);
    return true;
}

bool fold(viewer& v) {
    if (v.tree.at(v.view.cursor).folded) return false;
    v.tree.fold_row(static_cast<uint64_t>(cursor_row(v)));
    return true;
}

bool unfold(viewer& v) {
    if (!v.tree.at(v.view.cursor).folded) return false;
    v.tree.unfold_row(static_cast<uint64_t>(cursor_row(v)));
    return true;
}

void toggle_fold(viewer& v) {
    if (v.tree.at(v.view.cursor).folded) {
        KORVEL_CHECK(unfold(v));
    } else {
        KORVEL_CHECK(fold(v));
    }
}


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

void fold_everything(viewer& v, bool folded) {
    v.tree.fold_all(folded);
    keep_cursor_visible(v);
    // A window left past the end of a list that has shrunk comes back, and
    // the status row follows a cursor that has moved up.
    scroll_view(v, 0);
    show_current_path(v);
}

} // namespace korvel
