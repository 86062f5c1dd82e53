// Moving the cursor, scrolling the window and folding the entry under the
// cursor. Each operation changes state only; the caller redraws.
#pragma once

#include <cstdint>

#include "app/viewer.hpp"

namespace korvel {

// Rows of the tree area: the screen less its status row and the preview
// pane below, read afresh so that a resize counts at once.
int32_t tree_rows(const viewer& v);
// The row the cursor is on.
int64_t cursor_row(const viewer& v);

// The full path under the cursor, in message colours.
void show_current_path(viewer& v);
// Puts the cursor on a visible row (the caller checks the bounds), scrolls
// only as far as needed and shows the path.
void move_cursor_to(viewer& v, int64_t row);
// Moves by a step; a step past either end is refused whole.
void move_cursor(viewer& v, int32_t delta);
// Moves the window by a step within the list, and the cursor with it.
void scroll_view(viewer& v, int32_t delta);
void scroll_horizontally(viewer& v, int32_t delta);
void center_view(viewer& v);
// After the screen changed size: the window comes up to fill rows left blank
// below the last entry while entries lie above it, then moves as little as
// needed for the cursor's row to show.
void fit_to_screen(viewer& v);
// False when the entry has no parent; then nothing changes.
bool go_to_parent(viewer& v);
// Each false when there was nothing to do (already folded or unfolded).
bool fold(viewer& v);
bool unfold(viewer& v);
void toggle_fold(viewer& v);

// Folds or unfolds every directory; a cursor hidden by folding moves to the
// ancestor that still shows.
void fold_everything(viewer& v, bool folded);
// Puts the cursor on a shown entry when its own no longer is: the nearest
// ancestor that shows, else the next shown row, else the last.
void keep_cursor_visible(viewer& v);

} // namespace korvel
