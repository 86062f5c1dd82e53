#include "app/actions.hpp"

#include <algorithm>
#include <cstdio>

#include "app/clipboard.hpp"
#include "app/help.hpp"
#include "app/marks.hpp"
#include "app/match_count.hpp"
#include "app/pane.hpp"
#include "app/prompt.hpp"
#include "app/view.hpp"
#include "base/utf8.hpp"

namespace korvel {

namespace {

using T = trigger;

bool page_up(viewer& v, const tb_event&) { return scroll_view(v, -tree_rows(v)), true; }
bool half_page_down(viewer& v, const tb_event&) { return scroll_view(v, tree_rows(v) / 2), true; }
bool line_down(viewer& v, const tb_event&) { return scroll_view(v, 1), true; }
bool page_down(viewer& v, const tb_event&) { return scroll_view(v, tree_rows(v)), true; }
bool half_page_up(viewer& v, const tb_event&) { return scroll_view(v, -tree_rows(v) / 2), true; }
bool line_up(viewer& v, const tb_event&) { return scroll_view(v, -1), true; }
bool toggle(viewer& v, const tb_event&) { return toggle_fold(v), true; }
bool suspend(viewer& v, const tb_event&) { return v.stop = STOP_SUSPEND, true; }
bool quit(viewer& v, const tb_event&) { return v.stop = STOP_QUIT, true; }
bool cursor_up(viewer& v, const tb_event&) { return move_cursor(v, -1), true; }
bool cursor_down(viewer& v, const tb_event&) { return move_cursor(v, 1), true; }
bool shift_left(viewer& v, const tb_event&) { return scroll_horizontally(v, -4), true; }
bool shift_right(viewer& v, const tb_event&) { return scroll_horizontally(v, 4), true; }
bool fold_and_step(viewer& v, const tb_event&) { return fold(v), scroll_view(v, 1), true; }
bool first_row(viewer& v, const tb_event&) { return move_cursor_to(v, 0), true; }
bool last_row(viewer& v, const tb_event&) {
    return move_cursor_to(v, static_cast<int64_t>(v.tree.row_count()) - 1), true;
}
bool next_match(viewer& v, const tb_event&) { return search_next(v, false), true; }
bool previous_match(viewer& v, const tb_event&) { return search_next(v, true), true; }
bool parent_row(viewer& v, const tb_event&) { return go_to_parent(v); }
bool fold_parent(viewer& v, const tb_event&) { return go_to_parent(v), fold(v), true; }
bool copy_path(viewer& v, const tb_event&) { return copy_to_clipboard(v), true; }
bool center(viewer& v, const tb_event&) { return center_view(v), true; }
bool search_forward(viewer& v, const tb_event&) {
    return open_prompt(v, prompt_kind::SEARCH_FORWARD), true;
}
bool search_backward(viewer& v, const tb_event&) {
    return open_prompt(v, prompt_kind::SEARCH_BACKWARD), true;
}
bool filter(viewer& v, const tb_event&) { return open_prompt(v, prompt_kind::FILTER), true; }
bool fold_all(viewer& v, const tb_event&) { return fold_everything(v, true), true; }
bool unfold_all(viewer& v, const tb_event&) { return fold_everything(v, false), true; }

bool choose_path(viewer& v, const tb_event&) {
    v.chosen = true;
    v.stop = STOP_QUIT;
    return true;
}

bool mark_down(viewer& v, const tb_event&) { return toggle_mark_and_move(v, 1), true; }
bool mark_up(viewer& v, const tb_event&) { return toggle_mark_and_move(v, -1), true; }
bool mark_shown(viewer& v, const tb_event&) { return toggle_shown_marks(v), true; }
bool unmark_all(viewer& v, const tb_event&) { return clear_marks(v), true; }
bool redraw_all(viewer&, const tb_event&) { return tb_invalidate(), true; }
bool help(viewer& v, const tb_event&) {
    v.help.lines = help_listing(v);
    v.help.open = true;
    v.help.top = 0;
    return true;
}
bool toggle_counts(viewer& v, const tb_event&) { return v.show_counts = !v.show_counts, true; }
bool toggle_compact(viewer& v, const tb_event&) {
    v.tree.set_compact(!v.tree.compact());
    keep_cursor_visible(v);
    recount_rows(v);
    show_current_path(v);
    return true;
}

bool help_line_down(viewer& v, const tb_event&) { return scroll_help(v, 1), true; }
bool help_line_up(viewer& v, const tb_event&) { return scroll_help(v, -1), true; }
bool help_page_down(viewer& v, const tb_event&) { return scroll_help(v, help_page(v)), true; }
bool help_page_up(viewer& v, const tb_event&) { return scroll_help(v, -help_page(v)), true; }
bool help_top(viewer& v, const tb_event&) { return scroll_help(v, -v.help.top), true; }
bool help_bottom(viewer& v, const tb_event&) { return scroll_help(v, help_last_top(v)), true; }
bool help_close(viewer& v, const tb_event&) { return v.help.open = false, true; }

// The wheel scrolls what the pointer is over: the tree or the preview.
bool wheel_up(viewer& v, const tb_event& event) {
    if (in_pane(v, event.x, event.y)) return scroll_pane(v, -1), true;
    return scroll_view(v, -1), true;
}
bool wheel_down(viewer& v, const tb_event& event) {
    if (in_pane(v, event.x, event.y)) return scroll_pane(v, 1), true;
    return scroll_view(v, 1), true;
}

bool preview(viewer& v, const tb_event&) { return toggle_pane(v), true; }
bool preview_line_down(viewer& v, const tb_event&) { return scroll_pane(v, 1), true; }
bool preview_line_up(viewer& v, const tb_event&) { return scroll_pane(v, -1), true; }
bool preview_page_down(viewer& v, const tb_event&) { return scroll_pane(v, pane_page(v)), true; }
bool preview_page_up(viewer& v, const tb_event&) { return scroll_pane(v, -pane_page(v)), true; }

// A drag acts like a click on each row it reaches (see dispatch_event).
bool click(viewer& v, const tb_event& event) {
    const int64_t row = v.view.top + event.y;
    if (row < 0 || row >= static_cast<int64_t>(v.tree.row_count()) ||
        event.y >= tree_rows(v) || event.x >= layout_of(v).tree_width) {
        return false;
    }
    move_cursor_to(v, row);
    toggle_fold(v);
    return true;
}

// Every key at the prompt redraws, whether or not it edited anything.
bool edit_with(viewer& v, int32_t op) { return edit_prompt(v, rl_edit{op, 0}), true; }
bool prompt_insert(viewer& v, const tb_event& event) {
    return edit_prompt(v, rl_edit{RL_INSERT, event.ch}), true;
}
bool prompt_left(viewer& v, const tb_event&) { return edit_with(v, RL_LEFT); }
bool prompt_right(viewer& v, const tb_event&) { return edit_with(v, RL_RIGHT); }
bool prompt_older(viewer& v, const tb_event&) { return edit_with(v, RL_OLDER); }
bool prompt_newer(viewer& v, const tb_event&) { return edit_with(v, RL_NEWER); }
bool prompt_delete(viewer& v, const tb_event&) { return edit_with(v, RL_DELETE); }
bool prompt_backspace(viewer& v, const tb_event&) { return edit_with(v, RL_BACKSPACE); }
bool prompt_start(viewer& v, const tb_event&) { return edit_with(v, RL_START); }
bool prompt_end(viewer& v, const tb_event&) { return edit_with(v, RL_END); }
bool prompt_delete_to_start(viewer& v, const tb_event&) { return edit_with(v, RL_DELETE_TO_START); }
bool prompt_delete_word(viewer& v, const tb_event&) { return edit_with(v, RL_DELETE_WORD); }
bool prompt_delete_to_end(viewer& v, const tb_event&) { return edit_with(v, RL_DELETE_TO_END); }
bool prompt_submit(viewer& v, const tb_event&) { return submit_prompt(v), true; }
bool prompt_cancel(viewer& v, const tb_event&) { return cancel_prompt(v), true; }

constexpr action_mode NORMAL = action_mode::NORMAL;
constexpr action_mode PROMPT = action_mode::PROMPT;
constexpr action_mode ANY = action_mode::ANY;
constexpr action_mode HELP = action_mode::HELP;

const action ACTIONS[] = {
    {"cursor-down", NORMAL, {T::character('j'), T::key(TB_KEY_ARROW_DOWN), T::key(TB_KEY_CTRL_N)},
     "next row", cursor_down},
    {"cursor-up", NORMAL, {T::character('k'), T::key(TB_KEY_ARROW_UP), T::key(TB_KEY_CTRL_P)},
     "previous row", cursor_up},
    {"first-row", NORMAL, {T::character('g'), T::key(TB_KEY_HOME)}, "first row", first_row},
    {"last-row", NORMAL, {T::character('G'), T::key(TB_KEY_END)}, "last row", last_row},
    {"line-down", NORMAL, {T::key(TB_KEY_CTRL_E)}, "scroll one line down", line_down},
    {"line-up", NORMAL, {T::key(TB_KEY_CTRL_Y)}, "scroll one line up", line_up},
    {"half-page-down", NORMAL, {T::key(TB_KEY_CTRL_D)}, "scroll half a page down", half_page_down},
    {"half-page-up", NORMAL, {T::key(TB_KEY_CTRL_U)}, "scroll half a page up", half_page_up},
    {"page-down", NORMAL, {T::key(TB_KEY_CTRL_F), T::key(TB_KEY_PGDN)}, "scroll a page down",
     page_down},
    {"page-up", NORMAL, {T::key(TB_KEY_CTRL_B), T::key(TB_KEY_PGUP)}, "scroll a page up", page_up},
    {"shift-right", NORMAL, {T::character('l'), T::key(TB_KEY_ARROW_RIGHT)},
     "shift the view 4 columns right", shift_right},
    {"shift-left", NORMAL, {T::character('h'), T::key(TB_KEY_ARROW_LEFT)},
     "shift the view 4 columns left", shift_left},
    {"center", NORMAL, {T::character('z')}, "centre the view on the cursor", center},
    {"toggle-fold", NORMAL, {T::key(TB_KEY_ENTER)}, "fold or unfold the directory", toggle},
    {"fold-and-step", NORMAL, {T::character(' ')}, "fold the entry and move down", fold_and_step},
    {"fold-all", NORMAL, {T::character('-')}, "fold every directory", fold_all},
    {"unfold-all", NORMAL, {T::character('+')}, "unfold every directory", unfold_all},
    {"parent", NORMAL, {T::character('p')}, "go to the parent directory", parent_row},
    {"fold-parent", NORMAL, {T::character('c')}, "go to the parent directory and fold it",
     fold_parent},
    {"search-forward", NORMAL, {T::character('/')}, "search forwards", search_forward},
    {"search-backward", NORMAL, {T::character('?')}, "search backwards", search_backward},
    {"filter", NORMAL, {T::character('&')}, "show only what a pattern matches", filter},
    {"next-match", NORMAL, {T::character('n')}, "next match", next_match},
    {"previous-match", NORMAL, {T::character('N')}, "previous match", previous_match},
    {"mark-down", NORMAL, {T::key(TB_KEY_TAB)}, "mark or unmark the entry and move down",
     mark_down},
    {"mark-up", NORMAL, {T::key(TB_KEY_BACK_TAB)}, "mark or unmark the entry and move up", mark_up},
    {"mark-shown", NORMAL, {T::character('v')},
     "mark or unmark the lines the filter or search matches, or all", mark_shown},
    {"unmark-all", NORMAL, {T::character('u')}, "unmark every entry", unmark_all},
    {"copy", NORMAL, {T::character('y')}, "copy the marked paths or the full path", copy_path},
    {"choose", NORMAL, {T::character('o')}, "print the marked paths or the full path, and quit",
     choose_path},
    {"quit", NORMAL, {T::character('q'), T::key(TB_KEY_ESC)}, "quit", quit},
    {"suspend", NORMAL, {T::key(TB_KEY_CTRL_Z)}, "suspend (continue with fg)", suspend},
    {"redraw", NORMAL, {T::key(TB_KEY_CTRL_L)}, "draw the whole screen anew", redraw_all},
    {"counts", NORMAL, {T::character('#')}, "show how many entries each directory holds",
     toggle_counts},
    {"compact", NORMAL, {T::character('=')}, "show chains of single directories as one row",
     toggle_compact},
    {"help", NORMAL, {T::key(TB_KEY_F1), T::character('H')}, "this help", help},
    {"preview", NORMAL, {T::character('P')}, "show or hide the preview of the entry", preview},
    {"preview-line-down", NORMAL, {T::character('J')}, "scroll the preview one line down",
     preview_line_down},
    {"preview-line-up", NORMAL, {T::character('K')}, "scroll the preview one line up",
     preview_line_up},
    {"preview-page-down", NORMAL, {T::character(']')}, "scroll the preview a page down",
     preview_page_down},
    {"preview-page-up", NORMAL, {T::character('[')}, "scroll the preview a page up",
     preview_page_up},

    {"scroll-wheel-up", ANY, {T::mouse(TB_KEY_MOUSE_WHEEL_UP)},
     "scroll one line up (the preview, over it)", wheel_up},
    {"scroll-wheel-down", ANY, {T::mouse(TB_KEY_MOUSE_WHEEL_DOWN)},
     "scroll one line down (the preview, over it)", wheel_down},
    {"click", ANY, {T::mouse(TB_KEY_MOUSE_LEFT)}, "select the row and fold or unfold it", click},

    {"prompt-insert", PROMPT, {T::any_character()}, "insert the character", prompt_insert},
    {"prompt-left", PROMPT, {T::key(TB_KEY_ARROW_LEFT)}, "one character left", prompt_left},
    {"prompt-right", PROMPT, {T::key(TB_KEY_ARROW_RIGHT)}, "one character right", prompt_right},
    {"prompt-older", PROMPT, {T::key(TB_KEY_ARROW_UP)}, "older pattern from the history",
     prompt_older},
    {"prompt-newer", PROMPT, {T::key(TB_KEY_ARROW_DOWN)}, "newer pattern from the history",
     prompt_newer},
    {"prompt-delete", PROMPT, {T::key(TB_KEY_DELETE)}, "delete the character under the cursor",
     prompt_delete},
    {"prompt-backspace", PROMPT, {T::key(TB_KEY_BACKSPACE2)},
     "delete the character before the cursor", prompt_backspace},
    {"prompt-start", PROMPT, {T::key(TB_KEY_HOME), T::key(TB_KEY_CTRL_A)}, "to the start of the line",
     prompt_start},
    {"prompt-end", PROMPT, {T::key(TB_KEY_END), T::key(TB_KEY_CTRL_E)}, "to the end of the line",
     prompt_end},
    {"prompt-delete-to-start", PROMPT, {T::key(TB_KEY_CTRL_U)}, "delete to the start of the line",
     prompt_delete_to_start},
    {"prompt-delete-word", PROMPT, {T::key(TB_KEY_CTRL_W)}, "delete the word before the cursor",
     prompt_delete_word},
    {"prompt-delete-to-end", PROMPT, {T::key(TB_KEY_CTRL_K)}, "delete to the end of the line",
     prompt_delete_to_end},
    {"prompt-submit", PROMPT, {T::key(TB_KEY_ENTER)}, "search, or keep the filter", prompt_submit},
    {"prompt-cancel", PROMPT, {T::key(TB_KEY_ESC)}, "leave the prompt, undoing what it showed",
     prompt_cancel},

    {"help-line-down", HELP,
     {T::character('j'), T::key(TB_KEY_ARROW_DOWN), T::mouse(TB_KEY_MOUSE_WHEEL_DOWN)},
     "scroll the help one line down", help_line_down},
    {"help-line-up", HELP,
     {T::character('k'), T::key(TB_KEY_ARROW_UP), T::mouse(TB_KEY_MOUSE_WHEEL_UP)},
     "scroll the help one line up", help_line_up},
    {"help-page-down", HELP, {T::character(' '), T::key(TB_KEY_PGDN), T::key(TB_KEY_CTRL_F)},
     "scroll the help a page down", help_page_down},
    {"help-page-up", HELP, {T::key(TB_KEY_PGUP), T::key(TB_KEY_CTRL_B)}, "scroll the help a page up",
     help_page_up},
    {"help-top", HELP, {T::character('g'), T::key(TB_KEY_HOME)}, "the help's first line", help_top},
    {"help-bottom", HELP, {T::character('G'), T::key(TB_KEY_END)}, "the help's last page",
     help_bottom},
    {"help-close", HELP, {T::any_key(), T::mouse(TB_KEY_MOUSE_LEFT)}, "close the help",
     help_close},
};

constexpr size_t KEYS_INDENT = 2;
// Where descriptions start: two blanks after the longest keys of the table.
constexpr size_t DESCRIPTION_COLUMN = 30;
// Narrower than this beside the keys, a description goes below them.
constexpr size_t DESCRIPTION_MIN = 20;
constexpr size_t BELOW_INDENT = 6;

// Columns the text takes, a character a column.
size_t columns(std::string_view text) {
    size_t n = 0;
    for (size_t at = 0; at < text.size(); at += utf8_at(text, at).length) ++n;
    return n;
}

// The first `width` columns of text.
std::string_view first_columns(std::string_view text, size_t width) {
    size_t at = 0;
    for (size_t n = 0; n < width && at < text.size(); ++n) at += utf8_at(text, at).length;
    return text.substr(0, at);
}

// Text cut into lines of at most width columns at blanks; a word longer
// than a line is cut where the line ends.
std::vector<std::string> wrapped(std::string_view text, size_t width) {
    std::vector<std::string> lines(1);
    size_t used = 0;
    while (!text.empty()) {
        const size_t blank = text.find(' ');
        std::string_view word = text.substr(0, blank);
        text = blank == std::string_view::npos ? std::string_view{} : text.substr(blank + 1);
        while (!word.empty()) {
            const size_t need = columns(word) + (used != 0 ? 1 : 0);
            if (used + need <= width) {
                if (used != 0) lines.back() += ' ';
                lines.back() += word;
                used += need;
                break;
            }
            if (used != 0) {
                lines.emplace_back();
                used = 0;
                continue;
            }
            const std::string_view part = first_columns(word, std::max<size_t>(width, 1));
            lines.back() += part;
            word.remove_prefix(part.size());
            lines.emplace_back();
        }
    }
    if (lines.size() > 1 && lines.back().empty()) lines.pop_back();
    return lines;
}

// One row of keys and what they do, wrapped to the screen's width: the
// description beside the keys where there is room, else below them.
void add_entry(std::vector<std::string>& lines, const std::string& keys,
               std::string_view description, size_t width) {
    std::string first = std::string(KEYS_INDENT, ' ') + keys;
    const bool beside = width >= DESCRIPTION_COLUMN + DESCRIPTION_MIN &&
                        columns(first) + 2 <= DESCRIPTION_COLUMN;
    if (!beside) {
        lines.push_back(first);
        for (const std::string& part : wrapped(description, width > BELOW_INDENT + 10
                                                                ? width - BELOW_INDENT
                                                                : 10))
            lines.push_back(std::string(BELOW_INDENT, ' ') + part);
        return;
    }
    first.resize(first.size() + DESCRIPTION_COLUMN - columns(first), ' ');
    const std::vector<std::string> parts = wrapped(description, width - DESCRIPTION_COLUMN);
    lines.push_back(first + parts[0]);
    for (size_t i = 1; i < parts.size(); ++i)
        lines.push_back(std::string(DESCRIPTION_COLUMN, ' ') + parts[i]);
}

void add_section(std::vector<std::string>& lines, const viewer& v, const char* title,
                 action_mode mode, size_t width) {
    for (const std::string& part : wrapped(title, width)) lines.push_back(part);
    for (const action& a : all_actions()) {
        if (a.mode != mode) continue;
        std::string keys;
        for (const trigger& t : v.bindings.triggers_of(a)) {
            if (!keys.empty()) keys += ", ";
            keys += trigger_name(t);
        }
        if (keys.empty()) keys = "(no key)";
        add_entry(lines, keys, a.description, width);
    }
    lines.emplace_back();
}

} // namespace

std::span<const action> all_actions() { return ACTIONS; }

const action* action_for(const viewer& v, const tb_event& event) {
    const action_mode now = v.help.open ? HELP : v.prompt.open ? PROMPT : NORMAL;
    switch (event.type) {
    case TB_EVENT_MOUSE:
        return v.bindings.find(now, trigger::mouse(event.key));
    case TB_EVENT_KEY:
        return v.bindings.find(now, trigger::of(key_of(event)));
    default:
        return nullptr;
    }
}

const action* action_named(std::string_view name) {
    for (const action& a : ACTIONS)
        if (name == a.name) return &a;
    return nullptr;
}

std::string trigger_name(const trigger& t) {
    if (t.alt) {
        trigger plain = t;
        plain.alt = false;
        return "Alt-" + trigger_name(plain);
    }
    switch (t.kind) {
    case trigger::NONE:
        return {};
    case trigger::ANY_CHARACTER:
        return "a character";
    case trigger::ANY_KEY:
        return "any other key";
    case trigger::CHARACTER: {
        if (t.code == ' ') return "Space";
        std::string name;
        append_utf8(name, t.code);
        return name;
    }
    case trigger::MOUSE:
        switch (t.code) {
        case TB_KEY_MOUSE_LEFT: return "left click";
        case TB_KEY_MOUSE_WHEEL_UP: return "wheel up";
        case TB_KEY_MOUSE_WHEEL_DOWN: return "wheel down";
        default: return "mouse";
        }
    case trigger::KEY:
        break;
    }
    switch (t.code) {
    case TB_KEY_ENTER: return "Enter";
    case TB_KEY_ESC: return "Esc";
    case TB_KEY_TAB: return "Tab";
    case TB_KEY_BACKSPACE2: return "Backspace";
    case TB_KEY_DELETE: return "Delete";
    case TB_KEY_INSERT: return "Insert";
    case TB_KEY_HOME: return "Home";
    case TB_KEY_END: return "End";
    case TB_KEY_PGUP: return "PgUp";
    case TB_KEY_PGDN: return "PgDn";
    case TB_KEY_ARROW_UP: return "Up";
    case TB_KEY_ARROW_DOWN: return "Down";
    case TB_KEY_ARROW_LEFT: return "Left";
    case TB_KEY_ARROW_RIGHT: return "Right";
    case TB_KEY_BACK_TAB: return "Shift-Tab";
    default: break;
    }
    char name[16];
    if (t.code >= TB_KEY_F12 && t.code <= TB_KEY_F1) {
        snprintf(name, sizeof name, "F%u", TB_KEY_F1 - t.code + 1);
    } else if (t.code > 0 && t.code < 0x20) {
        snprintf(name, sizeof name, "Ctrl-%c", static_cast<char>('A' + t.code - 1));
    } else {
        snprintf(name, sizeof name, "key %u", t.code);
    }
    return name;
}

std::vector<std::string> help_listing(const viewer& v) {
    // Drawn from the second column, a blank kept at the right edge.
    const size_t width = static_cast<size_t>(std::max(v.screen.width - 2, 1));
    std::vector<std::string> lines;
    add_section(lines, v, "In the tree", action_mode::NORMAL, width);
    add_section(lines, v, "At the prompt (/, ? and &)", action_mode::PROMPT, width);
    add_section(lines, v, "With the mouse, in the tree and at the prompt", action_mode::ANY, width);
    add_section(lines, v, "On this help screen", action_mode::HELP, width);
    const std::vector<const command*> mapped = v.keys.bindings();
    if (!mapped.empty()) {
        lines.push_back("Mapped in the configuration (they come before the keys above)");
        for (const command* c : mapped) add_entry(lines, trigger_name(trigger::of(c->key)), c->text, width);
    }
    return lines;
}

} // namespace korvel
