// ncurses as the real backend includes it: wide characters, and functions
// rather than the macros that would clash with our names. Internal to the
// terminal layer.
#pragma once

#define NCURSES_WIDECHAR 1
#define NCURSES_NOMACROS 1
#include <curses.h>

namespace korvel {

namespace term_curses {

// ncurses turns on only press-and-release reporting (mode 1000) for xterm;
// button-event tracking (1002) also reports motion while a button is held.
constexpr const char* DRAG_TRACKING_ON = "\033[?1002h";
constexpr const char* DRAG_TRACKING_OFF = "\033[?1002l";

} // namespace term_curses

} // namespace korvel
