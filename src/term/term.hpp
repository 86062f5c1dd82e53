// The terminal layer: a small subset of the termbox2 interface, with its
// names, constants and result codes, implemented on ncurses. Nothing else in
// the program talks to the terminal or includes ncurses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "term/term_cells.hpp"
#include "term/term_types.hpp"

namespace korvel {

int tb_init();
int tb_shutdown();
int tb_width();
int tb_height();
int tb_clear();
int tb_present();
int tb_set_cursor(int cx, int cy);
int tb_hide_cursor();
int tb_set_cell(int x, int y, uint32_t ch, uintattr_t fg, uintattr_t bg);
int tb_set_input_mode(int mode);
int tb_peek_event(tb_event* event, int timeout_ms);
// Prints UTF-8 text from (x, y) rightwards. No length limit. Returns
// TB_ERR_OUT_OF_BOUNDS when any part of a non-empty text falls outside the
// screen (which is how callers learn that a row was cut at the right edge).
int tb_print(int x, int y, uintattr_t fg, uintattr_t bg, const char* str);
int tb_printf(int x, int y, uintattr_t fg, uintattr_t bg, const char* fmt, ...)
    __attribute__((format(printf, 5, 6)));
// For the handler of a fatal signal and a failed check: puts the terminal back
// as tb_init found it using only async-signal-safe calls, and leaves the
// layer's memory alone.
// TB_ERR_NOT_INIT when no terminal is open.
int tb_shutdown_from_signal();
int tb_last_errno();

// Beyond termbox: the grid of cells that tb_present shows, for drawing code
// that paints into a grid it is handed rather than through the calls above
// (which paint into the same one); null when no terminal is open.
term_cells::grid* tb_frame();
// Beyond termbox: the next tb_present draws every cell anew, whatever the
// terminal is believed to show (after another program wrote over it).
int tb_invalidate();
// Whether the terminal shows colours (true for the
// in-memory backend); without them only attributes stand out.
bool tb_colors_available();
// Measuring text as the layer draws it (wide characters take
// two columns, combining marks none, substitutes one).
int64_t tb_text_columns(std::string_view text);
// The byte offset at which to cut a text so that `columns` columns are
// skipped without cutting a character; the columns skipped in *skipped.
size_t tb_skip_columns(std::string_view text, int64_t columns, int64_t* skipped);
// While the descriptor is readable, tb_peek_event returns TB_ERR_NO_EVENT at
// once instead of waiting (it does not read it); -1 for none. Lets signal
// handlers and other threads wake a loop that waits without a time-out.
void tb_set_wakeup_fd(int fd);
// Writes a control sequence that the screen does not show (the OSC 52
// clipboard sequence) to the terminal as it is, after the frame already
// presented. Every other text is drawn through substitutes, so this is the
// one way for a control byte to reach the terminal: the caller vouches that
// the bytes are its own framing around harmless data. 0, or TB_ERR when the
// write failed; the in-memory backend drops them.
int tb_send_sequence(std::string_view bytes);
const char* tb_strerror(int err);

// In-memory backend, for unit tests: after tb_init_memory() every call above
// works on a grid of cells instead of a terminal, until tb_shutdown().
struct tb_cell {
    uint32_t ch; // code point shown; 0 for the right half of a wide character
    uintattr_t fg;
    uintattr_t bg;
};
int tb_init_memory(int width, int height);
// The cell as of the last tb_present() (a cleared cell has ch ' ').
tb_cell tb_memory_cell(int x, int y);
// Queues an event for tb_peek_event; a TB_EVENT_RESIZE also resizes the grid.
// The new size takes effect when tb_peek_event hands the event over, as with
// a real terminal; the grid then comes back cleared.
void tb_memory_push_event(const tb_event& event);
// Where tb_set_cursor last put the cursor; x = y = -1 when hidden.
void tb_memory_cursor(int* x, int* y);
// The cell's text as of the last tb_present(), in UTF-8 with any combining
// marks it carries; "" for the right half of a wide character.
std::string tb_memory_cell_text(int x, int y);

} // namespace korvel
