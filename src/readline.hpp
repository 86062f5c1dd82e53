// The search prompt's one-line editor with its history.
#pragma once

#include <cstdint>
#include <string_view>

inline constexpr int32_t RL_LINE_MAX = 63;

struct rl_line {
    char buf[RL_LINE_MAX + 1];
    int32_t length;
    rl_line* older;
    rl_line* newer;
};

struct readline {
    int32_t pos;
    rl_line* current;
    rl_line* newest;
};

enum rl_op : int32_t {
    RL_LEFT = 0,
    RL_RIGHT = 1,
    RL_OLDER = 2,
    RL_NEWER = 3,
    RL_INSERT = 4,
    RL_DELETE = 5,
    RL_BACKSPACE = 6,
    RL_SUBMIT = 7,
    RL_CANCEL = 8,
};

struct rl_edit {
    int32_t op;
    uint32_t ch;
};

rl_line* new_line(rl_line* older);
void init_readline(readline* rl);
void free_readline(readline* rl);
void delete_char(rl_line* line, int32_t p);
void readline_edit(readline* rl, rl_edit edit);

// Owns an editor and its history. (Interim: the editor's own rewrite replaces
// this wrapper.)
class line_editor {
  public:
    line_editor() { init_readline(&rl_); }
    ~line_editor() { free_readline(&rl_); }
    line_editor(const line_editor&) = delete;
    line_editor& operator=(const line_editor&) = delete;

    void edit(rl_edit e) { readline_edit(&rl_, e); }
    std::string_view text() const { return {rl_.current->buf, static_cast<size_t>(rl_.current->length)}; }
    int32_t pos() const { return rl_.pos; }

  private:
    readline rl_;
};
