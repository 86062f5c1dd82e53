// The window onto the visible list: the cursor, the first row shown, the
// sideways shift, and the operations that move them.
#pragma once

#include <cstdint>

extern int64_t cursor;
extern int64_t top;
extern int64_t hscroll;

void show_current_path();
void move_cursor_to(int64_t index);
void move_cursor(int32_t delta);
void scroll_view(int32_t delta);
void scroll_horizontally(int32_t delta);
void center_view();
int go_to_parent();
int fold();
int unfold();
void toggle_fold();
// The entry index under the cursor.
uint64_t cursor_entry();
