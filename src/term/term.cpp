// The terminal layer's interface. Both backends draw into the same back
// buffer, so clipping, substitutes and wide characters behave the same in
// the unit tests as on a terminal.
#include "term/term.hpp"

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>

#include "base/utf8.hpp"
#include "term/crash_restore.hpp"
#include "term/term_cells.hpp"
#include "term/term_curses.hpp"

namespace korvel {

namespace {

struct layer {
    term_cells::grid back{0, 0};
    int cursor_x = -1; // -1: hidden
    int cursor_y = -1;
    int input_mode = TB_INPUT_ESC;
    int wake_fd = -1;
    std::unique_ptr<term_curses::terminal> tty; // null: the in-memory backend
    term_cells::grid shown{0, 0};               // in-memory: the last presented frame
    std::deque<tb_event> events;                // in-memory: queued input
};

std::unique_ptr<layer> active;
int last_errno = 0;

bool is_memory() {
    return active && !active->tty;
}

const term_cells::cell* memory_cell(int x, int y) {
    if (!is_memory()) return nullptr;
    const term_cells::grid& g = active->shown;
    if (x < 0 || y < 0 || x >= g.width() || y >= g.height()) return nullptr;
    return &g.at(x, y);
}

} // namespace

int tb_init() {
    if (active) return TB_ERR_INIT_ALREADY;
    int rc = 0;
    int err = 0;
    auto tty = term_curses::terminal::open(rc, err);
    if (!tty) {
        last_errno = err;
        return rc;
    }
    auto l = std::make_unique<layer>();
    l->back.resize(tty->width(), tty->height());
    l->tty = std::move(tty);
    active = std::move(l);
    return 0;
}

int tb_init_memory(int width, int height) {
    if (active) return TB_ERR_INIT_ALREADY;
    if (width < 0 || height < 0) return TB_ERR;
    auto l = std::make_unique<layer>();
    l->back.resize(width, height);
    l->shown.resize(width, height);
    active = std::move(l);
    return 0;
}

int tb_shutdown() {
    if (!active) return TB_ERR_NOT_INIT;
    active.reset();
    return 0;
}

int tb_shutdown_from_signal() {
    return term_curses::restore_from_signal() ? 0 : TB_ERR_NOT_INIT;
}

int tb_width() {
    return active ? active->back.width() : TB_ERR_NOT_INIT;
}

int tb_height() {
    return active ? active->back.height() : TB_ERR_NOT_INIT;
}

term_cells::grid* tb_frame() { return active ? &active->back : nullptr; }

int tb_clear() {
    if (!active) return TB_ERR_NOT_INIT;
    active->back.clear();
    return 0;
}

int tb_present() {
    if (!active) return TB_ERR_NOT_INIT;
    if (active->tty) return active->tty->present(active->back, active->cursor_x, active->cursor_y);
    active->shown = active->back;
    return 0;
}

int tb_set_cursor(int cx, int cy) {
    if (!active) return TB_ERR_NOT_INIT;
    if (cx < 0 || cy < 0 || cx >= active->back.width() || cy >= active->back.height())
        return TB_ERR_OUT_OF_BOUNDS;
    active->cursor_x = cx;
    active->cursor_y = cy;
    return 0;
}

int tb_hide_cursor() {
    if (!active) return TB_ERR_NOT_INIT;
    active->cursor_x = active->cursor_y = -1;
    return 0;
}

int tb_set_cell(int x, int y, uint32_t ch, uintattr_t fg, uintattr_t bg) {
    if (!active) return TB_ERR_NOT_INIT;
    return active->back.set_cell(x, y, ch, fg, bg);
}

int tb_print(int x, int y, uintattr_t fg, uintattr_t bg, const char* str) {
    if (!active) return TB_ERR_NOT_INIT;
    if (str == nullptr) return 0;
    return active->back.print(x, y, fg, bg, str);
}

int tb_printf(int x, int y, uintattr_t fg, uintattr_t bg, const char* fmt, ...) {
    if (!active) return TB_ERR_NOT_INIT;
    // Most rows fit the stack buffer; longer texts are formatted again into
    // one of their exact size.
    char small[512];
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int length = vsnprintf(small, sizeof small, fmt, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        return TB_ERR;
    }
    if (static_cast<size_t>(length) < sizeof small) {
        va_end(again);
        return active->back.print(x, y, fg, bg, std::string_view(small, length));
    }
    std::string text(static_cast<size_t>(length), '\0');
    vsnprintf(text.data(), text.size() + 1, fmt, again);
    va_end(again);
    return active->back.print(x, y, fg, bg, text);
}

int tb_set_input_mode(int mode) {
    if (!active) return TB_ERR_NOT_INIT;
    if (mode == TB_INPUT_CURRENT) return active->input_mode;
    // Escape handling is one of the two; Escape wins when both are asked for.
    if ((mode & (TB_INPUT_ESC | TB_INPUT_ALT)) == 0) mode |= TB_INPUT_ESC;
    if ((mode & TB_INPUT_ESC) && (mode & TB_INPUT_ALT)) mode &= ~TB_INPUT_ALT;
    active->input_mode = mode;
    if (active->tty) active->tty->set_input_mode(mode);
    return 0;
}

int tb_peek_event(tb_event* event, int timeout_ms) {
    if (!active) return TB_ERR_NOT_INIT;
    if (event == nullptr) return TB_ERR;
    if (active->tty) {
        int err = 0;
        const int rc = active->tty->next_event(*event, timeout_ms, active->wake_fd, err);
        if (rc == TB_ERR_POLL) last_errno = err;
        if (rc == 0 && event->type == TB_EVENT_RESIZE) active->back.resize(event->w, event->h);
        return rc;
    }
    if (active->events.empty()) return TB_ERR_NO_EVENT;
    *event = active->events.front();
    active->events.pop_front();
    if (event->type == TB_EVENT_RESIZE) {
        active->back.resize(event->w, event->h);
        active->shown.resize(event->w, event->h);
    }
    return 0;
}

int tb_send_sequence(std::string_view bytes) {
    if (!active) return TB_ERR_NOT_INIT;
    return active->tty ? active->tty->write_sequence(bytes) : 0;
}

int tb_invalidate() {
    if (!active) return TB_ERR_NOT_INIT;
    if (active->tty) active->tty->invalidate();
    return 0;
}

bool tb_colors_available() { return !active || !active->tty || active->tty->colors_available(); }

void tb_set_wakeup_fd(int fd) {
    if (active) active->wake_fd = fd;
}

int64_t tb_text_columns(std::string_view text) { return term_cells::text_columns(text); }

size_t tb_skip_columns(std::string_view text, int64_t columns, int64_t* skipped) {
    int64_t counted = 0;
    const size_t at = term_cells::skip_columns(text, columns, counted);
    if (skipped != nullptr) *skipped = counted;
    return at;
}

int tb_last_errno() {
    return last_errno;
}

const char* tb_strerror(int err) {
    switch (err) {
    case TB_OK:
        return "success";
    case TB_ERR:
        return "failed";
    case TB_ERR_NEED_MORE:
        return "incomplete input";
    case TB_ERR_INIT_ALREADY:
        return "terminal already initialised";
    case TB_ERR_INIT_OPEN:
        return "cannot open the terminal";
    case TB_ERR_MEM:
        return "out of memory";
    case TB_ERR_NO_EVENT:
        return "no event";
    case TB_ERR_NO_TERM:
        return "TERM is unset or names an unknown or unusable terminal";
    case TB_ERR_NOT_INIT:
        return "terminal not initialised";
    case TB_ERR_OUT_OF_BOUNDS:
        return "out of bounds";
    case TB_ERR_READ:
        return "cannot read from the terminal";
    case TB_ERR_RESIZE_IOCTL:
        return "cannot read the terminal size";
    case TB_ERR_RESIZE_PIPE:
        return "cannot create the resize pipe";
    case TB_ERR_RESIZE_SIGACTION:
        return "cannot install the resize handler";
    case TB_ERR_POLL:
        return "waiting for input failed";
    case TB_ERR_TCGETATTR:
        return "cannot read the terminal settings";
    case TB_ERR_TCSETATTR:
        return "cannot change the terminal settings";
    default:
        return "unknown error";
    }
}

tb_cell tb_memory_cell(int x, int y) {
    const term_cells::cell* c = memory_cell(x, y);
    if (c == nullptr) return {0, 0, 0};
    return {c->ch, c->fg, c->bg};
}

std::string tb_memory_cell_text(int x, int y) {
    std::string text;
    const term_cells::cell* c = memory_cell(x, y);
    if (c == nullptr || c->ch == 0) return text;
    append_utf8(text, c->ch);
    for (int i = 0; i < c->mark_count; ++i)
        append_utf8(text, c->marks[i]);
    return text;
}

void tb_memory_push_event(const tb_event& event) {
    if (is_memory()) active->events.push_back(event);
}

void tb_memory_cursor(int* x, int* y) {
    const bool known = active != nullptr;
    if (x) *x = known ? active->cursor_x : -1;
    if (y) *y = known ? active->cursor_y : -1;
}

} // namespace korvel
