#include "korvel/view.hpp"

#include <algorithm>

#include "check.hpp"
#include "korvel/app.hpp"
#include "korvel/status.hpp"
#include "term.hpp"

int64_t cursor = 0;
int64_t top = 0;
int64_t hscroll = 0;

namespace {

// Rows of the tree area, read afresh so that a resize counts at once.
int32_t tree_rows() { return tb_height() - 1; }

int64_t visible_rows() { return static_cast<int64_t>(unfolded_paths.len); }

} // namespace

uint64_t cursor_entry() { return unfolded_paths.items[cursor]; }

void show_current_path() { show_message(full_path(cursor_entry()).c_str()); }

void move_cursor_to(int64_t index) {
    const int64_t rows = tree_rows();
    cursor = index;
    // A window that starts past the cursor comes back to it, also one that
    // starts past the end of the list: with no tree rows (a terminal of one
    // row) the rules below can leave it there, and a window that never came
    // back would keep the tree blank once the terminal grows.
    if (top > index) {
        top = index;
    } else if (index >= top + rows && top + rows > 0) {
        top = index - rows + 1;
    }
    show_current_path();
}

void move_cursor(int32_t delta) {
    const int64_t target = cursor + delta;
    if (target >= 0 && target < visible_rows()) move_cursor_to(target);
}

void scroll_view(int32_t delta) {
    const int64_t last_top = visible_rows() - tree_rows();
    top = std::max<int64_t>(0, std::min<int64_t>(top + delta, last_top));
    move_cursor(delta);
}

void scroll_horizontally(int32_t delta) { hscroll = std::max<int64_t>(0, hscroll + delta); }

void center_view() { top = cursor - tree_rows() / 2; }

int go_to_parent() {
    const entry_index parent = path_at(cursor_entry()).parent;
    if (parent == NO_ENTRY) return 0;
    // The parent is always visible on an earlier row.
    const int64_t row = row_of_entry(&unfolded_paths, parent);
    KORVEL_CHECK(row >= 0 && row < cursor);
    move_cursor_to(row);
    return 1;
}

int fold() {
    if (path_at(cursor_entry()).folded == 1) return 0;
    fold_path(&unfolded_paths, static_cast<uint64_t>(cursor));
    return 1;
}

int unfold() {
    if (path_at(cursor_entry()).folded == 0) return 0;
    unfold_path(&unfolded_paths, static_cast<uint64_t>(cursor));
    return 1;
}

void toggle_fold() {
    if (path_at(cursor_entry()).folded == 0) {
        KORVEL_CHECK(fold() == 1);
    } else {
        KORVEL_CHECK(unfold() == 1);
    }
}
