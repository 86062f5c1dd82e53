#include "readline.hpp"

#include <cstring>
#include <new>

#include "check.hpp"

namespace {

int32_t clamp_pos(int32_t pos, const rl_line* line) {
    if (pos < 0) return 0;
    if (pos > line->length) return line->length;
    return pos;
}

void insert_byte(readline* rl, char byte) {
    rl_line* line = rl->current;
    if (line->length >= RL_LINE_MAX) return;
    memmove(line->buf + rl->pos + 1, line->buf + rl->pos, line->length - rl->pos);
    line->buf[rl->pos] = byte;
    line->length++;
    line->buf[line->length] = '\0';
    rl->pos++;
}

void unlink_line(rl_line* line) {
    if (line->older != nullptr) line->older->newer = line->newer;
    if (line->newer != nullptr) line->newer->older = line->older;
    line->older = nullptr;
    line->newer = nullptr;
}

void submit(readline* rl) {
    rl->pos = 0;
    rl_line* line = rl->current;
    if (line == rl->newest) {
        if (line->length == 0) return;
        rl->newest = new_line(rl->newest);
        rl->current = rl->newest;
        return;
    }
    // A recalled line becomes the most recent history entry, or leaves the
    // history when it was edited down to nothing.
    unlink_line(line);
    if (line->length == 0) {
        delete line;
    } else {
        rl_line* newest = rl->newest;
        line->older = newest->older;
        line->newer = newest;
        if (newest->older != nullptr) newest->older->newer = line;
        newest->older = line;
    }
    rl->current = rl->newest;
}

void cancel(readline* rl) {
    rl->pos = 0;
    rl->current = rl->newest;
    memset(rl->newest->buf, 0, sizeof rl->newest->buf);
    rl->newest->length = 0;
}

} // namespace

rl_line* new_line(rl_line* older) {
    rl_line* line = new (std::nothrow) rl_line{};
    if (line == nullptr) check_failed("line != NULL", __func__, __FILE__, __LINE__);
    line->older = older;
    if (older != nullptr) older->newer = line;
    return line;
}

void init_readline(readline* rl) {
    rl->pos = 0;
    rl->newest = new_line(nullptr);
    rl->current = rl->newest;
}

void free_readline(readline* rl) {
    rl_line* line = rl->newest;
    while (line != nullptr) {
        rl_line* older = line->older;
        delete line;
        line = older;
    }
    rl->newest = nullptr;
    rl->current = nullptr;
    rl->pos = 0;
}

void delete_char(rl_line* line, int32_t p) {
    if (p < 1 || p > line->length) return;
    // The bytes after the removed one move left, the terminator with them.
    memmove(line->buf + p - 1, line->buf + p, line->length - p + 1);
    line->length--;
}

void readline_edit(readline* rl, rl_edit edit) {
    rl_line* line = rl->current;
    switch (edit.op) {
    case RL_LEFT:
        rl->pos = clamp_pos(rl->pos - 1, line);
        break;
    case RL_RIGHT:
        rl->pos = clamp_pos(rl->pos + 1, line);
        break;
    case RL_OLDER:
        if (line->older != nullptr) {
            rl->current = line->older;
            rl->pos = rl->current->length;
        }
        break;
    case RL_NEWER:
        if (line->newer != nullptr) {
            rl->current = line->newer;
            rl->pos = rl->current->length;
        }
        break;
    case RL_INSERT:
        insert_byte(rl, static_cast<char>(edit.ch & 0xFF));
        break;
    case RL_DELETE:
        delete_char(line, rl->pos + 1);
        break;
    case RL_BACKSPACE:
        if (rl->pos >= 1) {
            delete_char(line, rl->pos);
            rl->pos--;
        }
        break;
    case RL_SUBMIT:
        submit(rl);
        break;
    case RL_CANCEL:
        cancel(rl);
        break;
    default:
        check_failed("edit.op >= RL_LEFT && edit.op <= RL_CANCEL", __func__, __FILE__, __LINE__);
    }
}
