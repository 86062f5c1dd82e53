// The preview pane: its place beside or below the tree, what it shows of
// the entry under the cursor, and keeping that in step as the cursor moves.
// A command's output arrives through the loop's wake-up channel; starting
// one waits for the cursor to rest a moment, so that holding a key does not
// start a process per row.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/pane_state.hpp"
#include "app/screen_layout.hpp"
#include "base/outcome.hpp"
#include "config/config.hpp"
#include "tree/path_tree.hpp"
#include "term/sgr_filter.hpp"
#include "term/term_cells.hpp"

namespace korvel {

struct viewer;

// After anything that may have moved the cursor or changed the screen: the
// pane follows the entry under the cursor.
void pane_follow_cursor(viewer& v);
// On a wake-up or time-out of the loop: starts a command whose wait is over,
// takes its output; true when the pane must be drawn again.
bool pane_tick(viewer& v);
// How long the loop may sleep before pane_tick has something to do; -1 for
// as long as it likes.
int pane_wait_ms(const viewer& v);
// Before a suspend, a mapped command or the end: the command is killed and
// waited for; the pane starts it again when the cursor is next looked at.
void pane_stop(viewer& v);

void toggle_pane(viewer& v);
void scroll_pane(viewer& v, int64_t delta);
// Rows a page of the pane scrolls.
int64_t pane_page(const viewer& v);
// Whether a screen cell lies in the pane.
bool in_pane(const viewer& v, int x, int y);

outcome draw_pane(const viewer& v, bool no_color, term_cells::grid& frame);

} // namespace korvel
