// Everything the viewer shows and acts on, in one value that the actions
// receive: the tree, the window onto it, the search and its prompt, the
// bottom row, the key map, and what the run hands back at the end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "config.hpp"
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
    // Set by the keys that end the run or suspend it.
    stop_kind stop = STOP_NONE;
    // The path chosen with 'o', printed once the terminal is restored.
    std::optional<std::string> chosen;
    // Attributes instead of colours, as NO_COLOR asks.
    bool no_color = false;
    // What start-up reports without stopping (directories it could not
    // list), shown on the first frame in place of the path.
    std::string start_notice;
};
