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

namespace {

void close_prompt() {
    input_mode = MODE_NORMAL;
    tb_hide_cursor();
    show_current_path();
}

} // namespace

void open_prompt(int direction) {
    prompt_direction = direction;
    input_mode = MODE_PROMPT;
    draw_prompt();
}

void edit_prompt(int32_t op, uint32_t ch) {
    prompt_editor->edit(rl_edit{op, ch});
    draw_prompt();
}

void submit_prompt() {
    close_prompt();
    // The search reads the text before submitting it moves the line.
    if (!prompt_editor->text().empty()) {
        if (init_search_ctx(prompt_editor->text().data(), prompt_direction) != 0) {
            show_error(get_error());
        } else {
            search_next(0);
        }
    }
    prompt_editor->edit(rl_edit{RL_SUBMIT, 0});
}

void cancel_prompt() {
    close_prompt();
    prompt_editor->edit(rl_edit{RL_CANCEL, 0});
}

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
    snprintf(text, sizeof text, "%s%s", prefix, prompt_editor->text().data());
    show_message(text);
    status_colors = PROMPT_COLORS;
    place_prompt_cursor();
}

void place_prompt_cursor() {
    // Column 0 is the status line's leading blank, column 1 the prefix.
    tb_set_cursor(prompt_editor->pos() + 2, tb_height() - 1);
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
