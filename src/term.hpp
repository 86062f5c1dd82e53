// The terminal layer: a small subset of the termbox2 interface, with its
// names, constants and result codes, implemented on ncurses. Nothing else in
// the program talks to the terminal or includes ncurses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

using uintattr_t = uint16_t;

// Keys (tb_event.key).
inline constexpr uint16_t TB_KEY_CTRL_A = 0x01;
inline constexpr uint16_t TB_KEY_CTRL_B = 0x02;
inline constexpr uint16_t TB_KEY_CTRL_C = 0x03;
inline constexpr uint16_t TB_KEY_CTRL_D = 0x04;
inline constexpr uint16_t TB_KEY_CTRL_E = 0x05;
inline constexpr uint16_t TB_KEY_CTRL_F = 0x06;
inline constexpr uint16_t TB_KEY_CTRL_K = 0x0B;
inline constexpr uint16_t TB_KEY_CTRL_L = 0x0C;
inline constexpr uint16_t TB_KEY_CTRL_N = 0x0E;
inline constexpr uint16_t TB_KEY_CTRL_P = 0x10;
inline constexpr uint16_t TB_KEY_TAB = 0x09;
inline constexpr uint16_t TB_KEY_ENTER = 0x0D;
inline constexpr uint16_t TB_KEY_CTRL_U = 0x15;
inline constexpr uint16_t TB_KEY_CTRL_W = 0x17;
inline constexpr uint16_t TB_KEY_CTRL_Y = 0x19;
inline constexpr uint16_t TB_KEY_CTRL_Z = 0x1A;
inline constexpr uint16_t TB_KEY_ESC = 0x1B;
inline constexpr uint16_t TB_KEY_BACKSPACE2 = 0x7F;
inline constexpr uint16_t TB_KEY_F1 = 0xFFFF - 0; // F2..F12 follow downwards
inline constexpr uint16_t TB_KEY_F12 = 0xFFFF - 11;
inline constexpr uint16_t TB_KEY_INSERT = 0xFFFF - 12;
inline constexpr uint16_t TB_KEY_DELETE = 0xFFFF - 13;
inline constexpr uint16_t TB_KEY_HOME = 0xFFFF - 14;
inline constexpr uint16_t TB_KEY_END = 0xFFFF - 15;
inline constexpr uint16_t TB_KEY_PGUP = 0xFFFF - 16;
inline constexpr uint16_t TB_KEY_PGDN = 0xFFFF - 17;
inline constexpr uint16_t TB_KEY_ARROW_UP = 0xFFFF - 18;
inline constexpr uint16_t TB_KEY_ARROW_DOWN = 0xFFFF - 19;
inline constexpr uint16_t TB_KEY_ARROW_LEFT = 0xFFFF - 20;
inline constexpr uint16_t TB_KEY_ARROW_RIGHT = 0xFFFF - 21;
inline constexpr uint16_t TB_KEY_BACK_TAB = 0xFFFF - 22;
inline constexpr uint16_t TB_KEY_MOUSE_LEFT = 0xFFFF - 23;
inline constexpr uint16_t TB_KEY_MOUSE_RIGHT = 0xFFFF - 24;
inline constexpr uint16_t TB_KEY_MOUSE_MIDDLE = 0xFFFF - 25;
inline constexpr uint16_t TB_KEY_MOUSE_RELEASE = 0xFFFF - 26;
inline constexpr uint16_t TB_KEY_MOUSE_WHEEL_UP = 0xFFFF - 27;
inline constexpr uint16_t TB_KEY_MOUSE_WHEEL_DOWN = 0xFFFF - 28;

// Modifiers (tb_event.mod).
inline constexpr uint8_t TB_MOD_ALT = 1;
inline constexpr uint8_t TB_MOD_CTRL = 2;
inline constexpr uint8_t TB_MOD_SHIFT = 4;
inline constexpr uint8_t TB_MOD_MOTION = 8;

// Colours and attributes (default output mode).
inline constexpr uintattr_t TB_DEFAULT = 0x0000;
inline constexpr uintattr_t TB_BLACK = 0x0001;
inline constexpr uintattr_t TB_RED = 0x0002;
inline constexpr uintattr_t TB_GREEN = 0x0003;
inline constexpr uintattr_t TB_YELLOW = 0x0004;
inline constexpr uintattr_t TB_BLUE = 0x0005;
inline constexpr uintattr_t TB_MAGENTA = 0x0006;
inline constexpr uintattr_t TB_CYAN = 0x0007;
inline constexpr uintattr_t TB_WHITE = 0x0008;
inline constexpr uintattr_t TB_BOLD = 0x0100;
inline constexpr uintattr_t TB_UNDERLINE = 0x0200;
inline constexpr uintattr_t TB_REVERSE = 0x0400;
inline constexpr uintattr_t TB_DIM = 0x0800;

// Event types.
inline constexpr uint8_t TB_EVENT_KEY = 1;
inline constexpr uint8_t TB_EVENT_RESIZE = 2;
inline constexpr uint8_t TB_EVENT_MOUSE = 3;

// Input modes.
inline constexpr int TB_INPUT_CURRENT = 0;
inline constexpr int TB_INPUT_ESC = 1;
inline constexpr int TB_INPUT_ALT = 2;
inline constexpr int TB_INPUT_MOUSE = 4;

// Result codes.
inline constexpr int TB_OK = 0;
inline constexpr int TB_ERR = -1;
inline constexpr int TB_ERR_NEED_MORE = -2;
inline constexpr int TB_ERR_INIT_ALREADY = -3;
inline constexpr int TB_ERR_INIT_OPEN = -4;
inline constexpr int TB_ERR_MEM = -5;
inline constexpr int TB_ERR_NO_EVENT = -6;
inline constexpr int TB_ERR_NO_TERM = -7;
inline constexpr int TB_ERR_NOT_INIT = -8;
inline constexpr int TB_ERR_OUT_OF_BOUNDS = -9;
inline constexpr int TB_ERR_READ = -10;
inline constexpr int TB_ERR_RESIZE_IOCTL = -11;
inline constexpr int TB_ERR_RESIZE_PIPE = -12;
inline constexpr int TB_ERR_RESIZE_SIGACTION = -13;
inline constexpr int TB_ERR_POLL = -14;
inline constexpr int TB_ERR_TCGETATTR = -15;
inline constexpr int TB_ERR_TCSETATTR = -16;

struct tb_event {
    uint8_t type;
    uint8_t mod;
    uint16_t key;
    uint32_t ch;
    int32_t w;
    int32_t h;
    int32_t x;
    int32_t y;
};

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
// For the handler of a fatal signal: puts the terminal back as tb_init found
// it using only async-signal-safe calls, and leaves the layer's memory alone.
// TB_ERR_NOT_INIT when no terminal is open.
int tb_shutdown_from_signal();
int tb_last_errno();

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
