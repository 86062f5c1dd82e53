// Everything the viewer shows and acts on, in one value that the actions
// receive: the tree, the window onto it, the search, the filter, the prompt,
// the bottom row, the key map, the marks, and what the run hands back at the
// end.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/bit_set.hpp"
#include "config/config.hpp"
#include "app/bindings.hpp"
#include "app/pane_state.hpp"
#include "app/status.hpp"
#include "app/screen_size.hpp"
#include "app/stop_kind.hpp"
#include "tree/mark_set.hpp"
#include "tree/path_tree.hpp"
#include "app/line_editor.hpp"
#include "match/search.hpp"
#include "base/outcome.hpp"

namespace korvel {

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

// A filter: the tree narrowed to the entries a pattern matches and their
// ancestors.
struct filter_state {
    std::unique_ptr<search_pattern> pattern;
    bit_set matches;
    // The matches and their ancestors: the entries shown.
    bit_set kept;
    uint64_t count = 0;

    bool active() const { return pattern != nullptr; }
};

enum class prompt_kind { SEARCH_FORWARD, SEARCH_BACKWARD, FILTER };

// The prompt on the bottom row: a search ('/', '?') or a filter ('&').
struct prompt_state {
    line_editor editor;
    bool open = false;
    prompt_kind kind = prompt_kind::SEARCH_FORWARD;
    // What the typed text would do, shown beside it: a bad pattern, nothing
    // found. Empty when all is well.
    std::string problem;

    int direction() const { return kind == prompt_kind::SEARCH_BACKWARD ? -1 : 1; }
    char prefix() const {
        return kind == prompt_kind::FILTER ? '&' : kind == prompt_kind::SEARCH_BACKWARD ? '?' : '/';
    }
};

// What the viewer looked like when the prompt opened, for Escape to go back
// to: the cursor, the window (and the tree rows it was for), every fold, and
// the filter.
struct prompt_origin {
    view_state view;
    int32_t rows = 0;
    bit_set folded;
    filter_state filter;
};

// While the prompt is open the tree follows the typed text: the search moves
// to the match that Enter would reach, the filter narrows the tree.
struct prompt_preview {
    std::unique_ptr<search_pattern> pattern;
    // Entries the preview unfolded to reveal its match, to fold back.
    std::vector<entry_index> unfolded;
    std::unique_ptr<find_scan> find;
    std::unique_ptr<match_scan> filter_scan;
    // The filter scan narrows the matches of the filter shown, when the new
    // text only adds to a plain word.
    bool narrowing = false;
};

// How many rows the active search matches, and which entries: counted a
// slice at a time after each new search, so that the rank of a match can be
// shown. A compact chain's row counts once however many of its directories
// match, as n and N stop on it once.
struct match_count {
    std::unique_ptr<match_scan> scan;
    bit_set matches;
    // The first match of each row: what the rank counts.
    bit_set row_firsts;
    uint64_t total = 0;
    bool done = false;
    // Why the count stopped short, when matching failed.
    outcome failure;
};

// A filter entered before its scan was through: it takes the place of the
// one shown when the scan ends.
struct entered_filter {
    std::unique_ptr<search_pattern> pattern;
    std::unique_ptr<match_scan> scan;
};

struct viewer {
    path_tree tree;
    // The terminal's size as it was when taken over or last resized; the
    // view is laid out on it.
    screen_size screen;
    view_state view;
    status_line status;
    search_pattern search;
    filter_state filter;
    prompt_state prompt;
    std::optional<prompt_origin> origin;
    prompt_preview preview;
    // The walk of a jump to the next match (n, N, a search's Enter), done a
    // slice at a time; the next key or click abandons it.
    std::unique_ptr<find_scan> jump;
    entered_filter entered;
    match_count counted;
    key_map keys;
    key_bindings bindings;
    case_mode letter_case = case_mode::SENSITIVE;
    // Entries picked with Tab and the other marking keys; sized to the tree
    // by the first mark.
    mark_set marks;
    // 'v' waits for what it marks to be known: the filter entered, or the
    // count of the search's matches. The next key or click abandons it.
    bool marking = false;
    // Set by the keys that end the run or suspend it.
    stop_kind stop = STOP_NONE;
    // Set by 'o': the picked paths are printed once the terminal is restored.
    bool chosen = false;
    // Attributes instead of colours, as NO_COLOR asks.
    bool no_color = false;
    // The number of entries below each directory, after its name.
    bool show_counts = false;
    // The left button held down: the screen row of its press or of its drag's
    // last step, and whether the press was the tree's (not one that closed
    // the help).
    struct {
        int32_t row = -1;
        bool on_tree = false;
    } pointer;
    // The help screen over the tree, and its first line shown.
    struct {
        bool open = false;
        int64_t top = 0;
        // Made from the action table and the key map when it opens.
        std::vector<std::string> lines;
    } help;
    // The preview pane beside or below the tree.
    pane_state pane;
    // What start-up reports without stopping (directories it could not
    // list), shown on the first frame in place of the path.
    std::string start_notice;
};

// The entries n and N, the count and the highlights stay among: the shown
// ones under a filter, else all (null).
inline const bit_set* searched_entries(const viewer& v) {
    return v.filter.active() ? &v.filter.kept : nullptr;
}

} // namespace korvel
