// The terminal layer's vocabulary: the termbox2 constants, result codes and
// event record, shared by the interface and the backends behind it.
#pragma once

#include <cstdint>

namespace korvel {

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

} // namespace korvel
