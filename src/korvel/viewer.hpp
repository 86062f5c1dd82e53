// Everything the viewer shows and acts on, in one value that the actions
// receive: the tree, the window onto it, the search and its prompt, the
// bottom row, the key map, the marks, and what the run hands back at the end.
#pragma once

#include <cstdint>
#include <string>

#include "config.hpp"
#include "entry_set.hpp"
#include "korvel/status.hpp"
#include "paths.hpp"
#include "readline.hpp"
#include "search.hpp"

// What a key or a signal asks of the event loop once the event is handled.
enum stop_kind : int { STOP_NONE = 0, STOP_SUSPEND = 1, STOP_QUIT = 2 };

// The search prompt on the bottom row.
struct prompt_state {
    line_editor editor;
    bool open = false;
    // +1 for a prompt opened with '/', -1 for '?'.
    int direction = 1;
};

// The window onto the visible rows. The cursor is held as an entry, so that
// it stays on its entry whatever happens to the rows around it; it is always
// a visible one.
struct view_state {
    entry_index cursor = 0;
    // The row drawn on the first screen row; negative after centring near
    // the top, and may lie past the end after folding.
    int64_t top = 0;
    // Columns by which every row is shifted left; never negative.
    int64_t hscroll = 0;
};

struct viewer {
    path_tree tree;
    view_state view;
    status_line status;
    search_pattern search;
    prompt_state prompt;
    key_map keys;
    // Entries picked with Tab and the other marking keys; sized to the tree
    // by the first mark.
    entry_set marks;
    // Set by the keys that end the run or suspend it.
    stop_kind stop = STOP_NONE;
    // Set by 'o': the picked paths are printed once the terminal is restored.
    bool chosen = false;
    // Attributes instead of colours, as NO_COLOR asks.
    bool no_color = false;
};
