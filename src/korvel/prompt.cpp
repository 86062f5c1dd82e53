#include "korvel/prompt.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "korvel/app.hpp"
#include "korvel/status.hpp"
#include "korvel/view.hpp"
#include "search.hpp"
#include "term.hpp"

int prompt_direction = 1;

void draw_prompt() {
    const char* prefix = nullptr;
    if (prompt_direction == 1) {
        prefix = "/";
    } else if (prompt_direction == -1) {
        prefix = "?";
    } else {
        abort();
    }
    char text[254];
    snprintf(text, sizeof text, "%s%s", prefix, line_editor.current->buf);
    show_message(text);
    status_colors = PROMPT_COLORS;
    place_prompt_cursor();
}

void place_prompt_cursor() {
    // Column 0 is the status line's leading blank, column 1 the prefix.
    tb_set_cursor(line_editor.pos + 2, tb_height() - 1);
}

void search_next(int reverse) {
    int64_t match = -1;
    if (find_match(&match, static_cast<int64_t>(cursor_entry()), reverse) != 0) {
        show_error(get_error());
        return;
    }
    if (match == -1) {
        show_errorf("Pattern not found");
        return;
    }
    uint64_t row = 0;
    unfold_nested_path(&unfolded_paths, static_cast<uint64_t>(match), &row);
    move_cursor_to(static_cast<int64_t>(row));
}
