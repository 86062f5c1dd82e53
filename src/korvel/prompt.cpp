#include "korvel/prompt.hpp"

#include <string>

#include "korvel/view.hpp"

namespace {

void close_prompt(viewer& v) {
    v.prompt.open = false;
    show_current_path(v);
}

} // namespace

void open_prompt(viewer& v, int direction) {
    v.prompt.direction = direction;
    v.prompt.open = true;
}

void edit_prompt(viewer& v, rl_edit edit) { v.prompt.editor.edit(edit); }

void submit_prompt(viewer& v) {
    close_prompt(v);
    // The search reads the text before submitting it moves the line.
    const std::string query(v.prompt.editor.text());
    if (!query.empty()) {
        if (outcome compiled = v.search.compile(query.c_str(), v.prompt.direction, v.tree.separator());
            !compiled) {
            v.status.show_error(compiled.message());
        } else {
            search_next(v, false);
        }
    }
    v.prompt.editor.edit(rl_edit{RL_SUBMIT, 0});
}

void cancel_prompt(viewer& v) {
    close_prompt(v);
    v.prompt.editor.edit(rl_edit{RL_CANCEL, 0});
}

void search_next(viewer& v, bool reverse) {
    int64_t match = -1;
    if (outcome found = v.search.find(v.tree, v.view.cursor, reverse, match); !found) {
        v.status.show_error(found.message());
        return;
    }
    if (match == -1) {
        v.status.show_error("Pattern not found");
        return;
    }
    move_cursor_to(v, static_cast<int64_t>(v.tree.reveal(static_cast<uint64_t>(match))));
}
