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

#include "app/preview_source.hpp"
#include "base/outcome.hpp"
#include "config/config.hpp"
#include "tree/path_tree.hpp"
#include "term/sgr_filter.hpp"
#include "term/term_cells.hpp"

namespace korvel {

struct viewer;

struct pane_state {
    using clock = std::chrono::steady_clock;

    bool open = false;
    pane_side side = pane_side::AUTO;
    // Of the screen's width (beside) or of the tree area's rows (below).
    int percent = 50;
    // Empty: the built-in preview.
    std::string command;
    // Where the command's reader wakes the loop; -1 until the loop opens.
    int wake_fd = -1;

    // The entry whose preview is shown (or is being made); NO_ENTRY for none.
    entry_index shown = NO_ENTRY;
    std::vector<styled_line> lines;
    // Said in the pane's title row: a failure, or why the output stops.
    std::string note;
    int64_t top = 0;

    // The command's output so far, and the command while it runs.
    std::unique_ptr<sgr_filter> output;
    std::unique_ptr<preview_command> job;
    // The command waits to start until then, while `waiting`.
    bool waiting = false;
    clock::time_point start_at{};
    // When it started: after a while without output, the pane says so.
    clock::time_point started{};
    bool slow = false;
};

// Where things go on the screen with the pane open or shut.
struct pane_layout {
    // The tree's columns and rows (the status row not counted).
    int tree_width = 0;
    int tree_rows = 0;
    bool shown = false;
    // The pane's area, its title row included.
    int x = 0, y = 0, width = 0, height = 0;
};

pane_layout layout_of(const viewer& v);

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
