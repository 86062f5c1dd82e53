// Handing the terminal back from a fatal signal's handler: the bytes and
// modes are gathered while it is still safe to ask ncurses and termios.
#pragma once

#include <csignal>
#include <cstddef>
#include <string>

#include <termios.h>

namespace korvel {

namespace term_curses {

// A terminfo string as bytes to send: padding ("$<50>") is for terminals that
// need time, which the caller cannot give from where it writes.
std::string without_padding(const char* sequence);

// Without one, what was drawn stays on screen when the terminal is handed
// back, and the shell's prompt lands on the old status row.
bool has_alternate_screen();

// What a fatal signal needs to hand the terminal back, prepared while it is
// safe to call into ncurses and termios.
struct crash_restore {
    volatile sig_atomic_t armed = 0;
    int fd = -1;
    termios modes{};
    char reset[256] = {};
    size_t reset_length = 0;

    // Needs the terminal's ncurses screen to be the current one.
    void arm(int tty, const termios& found);

  private:
    void append(const char* sequence);
};

// The one a signal handler reaches.
extern crash_restore crash;

// Puts the terminal back (modes, cursor, mouse, keypad, alternate screen)
// with nothing but write and tcsetattr, so that a handler of a fatal signal
// can call it whatever state ncurses or the allocator were left in. Returns
// false when no terminal is open.
bool restore_from_signal();

} // namespace term_curses

} // namespace korvel
