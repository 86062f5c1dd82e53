#include "term/curses_input.hpp"

#include <array>
#include <vector>

#include "term/curses.hpp"

namespace korvel {

namespace term_curses {

namespace {

// More than ncurses queues at once.
constexpr size_t MAX_MOUSE_RUN = 64;

// Both the SS3 and the CSI forms reach us, whichever keypad mode the
// terminal honours; terminfo names only one of them.
struct key_sequence {
    const char* bytes;
    int key;
};
constexpr std::array EXTRA_KEYS{
    key_sequence{"\033[A", KEY_UP},     key_sequence{"\033[B", KEY_DOWN},
    key_sequence{"\033[C", KEY_RIGHT},  key_sequence{"\033[D", KEY_LEFT},
    key_sequence{"\033OA", KEY_UP},     key_sequence{"\033OB", KEY_DOWN},
    key_sequence{"\033OC", KEY_RIGHT},  key_sequence{"\033OD", KEY_LEFT},
    key_sequence{"\033[H", KEY_HOME},   key_sequence{"\033OH", KEY_HOME},
    key_sequence{"\033[1~", KEY_HOME},  key_sequence{"\033[7~", KEY_HOME},
    key_sequence{"\033[F", KEY_END},    key_sequence{"\033OF", KEY_END},
    key_sequence{"\033[4~", KEY_END},   key_sequence{"\033[8~", KEY_END},
    key_sequence{"\033[2~", KEY_IC},    key_sequence{"\033[3~", KEY_DC},
    key_sequence{"\033[5~", KEY_PPAGE}, key_sequence{"\033[6~", KEY_NPAGE},
    key_sequence{"\033[Z", KEY_BTAB},
};

// The keys that have a code of their own; anything else is ignored.
int special_key(int curses_key) {
    switch (curses_key) {
    case KEY_UP:
        return TB_KEY_ARROW_UP;
    case KEY_DOWN:
        return TB_KEY_ARROW_DOWN;
    case KEY_LEFT:
        return TB_KEY_ARROW_LEFT;
    case KEY_RIGHT:
        return TB_KEY_ARROW_RIGHT;
    case KEY_DC:
        return TB_KEY_DELETE;
    case KEY_IC:
        return TB_KEY_INSERT;
    case KEY_HOME:
        return TB_KEY_HOME;
    case KEY_END:
        return TB_KEY_END;
    case KEY_PPAGE:
        return TB_KEY_PGUP;
    case KEY_NPAGE:
        return TB_KEY_PGDN;
    case KEY_BTAB:
        return TB_KEY_BACK_TAB;
    case KEY_BACKSPACE:
        return TB_KEY_BACKSPACE2;
    case KEY_ENTER:
        return TB_KEY_ENTER;
    default:
        break;
    }
    if (curses_key >= KEY_F(1) && curses_key <= KEY_F(12))
        return TB_KEY_F1 - (curses_key - KEY_F(1));
    return -1;
}

void plain_character(wint_t wch, tb_event& event) {
    if (wch == 0x0D) {
        event.key = TB_KEY_ENTER;
    } else if (wch == 0x7F || wch == 0x08) {
        event.key = TB_KEY_BACKSPACE2;
    } else if (wch < 0x20) {
        event.key = static_cast<uint16_t>(wch);
    } else {
        event.ch = static_cast<uint32_t>(wch);
    }
}

bool mouse_event(const MEVENT& report, bool& left_down, tb_event& event) {
    const mmask_t b = report.bstate;
    event = {};
    event.type = TB_EVENT_MOUSE;
    event.x = report.x;
    event.y = report.y;
    if (b & BUTTON_SHIFT) event.mod |= TB_MOD_SHIFT;
    if (b & BUTTON_CTRL) event.mod |= TB_MOD_CTRL;
    if (b & BUTTON_ALT) event.mod |= TB_MOD_ALT;
    if (b & REPORT_MOUSE_POSITION) {
        // Motion counts only as a drag of the left button.
        if (!left_down) return false;
        event.key = TB_KEY_MOUSE_LEFT;
        event.mod |= TB_MOD_MOTION;
    } else if (b & BUTTON1_PRESSED) {
        left_down = true;
        event.key = TB_KEY_MOUSE_LEFT;
    } else if (b & (BUTTON1_RELEASED | BUTTON2_RELEASED | BUTTON3_RELEASED)) {
        if (b & BUTTON1_RELEASED) left_down = false;
        event.key = TB_KEY_MOUSE_RELEASE;
    } else if (b & BUTTON4_PRESSED) {
        event.key = TB_KEY_MOUSE_WHEEL_UP;
    } else if (b & BUTTON5_PRESSED) {
        event.key = TB_KEY_MOUSE_WHEEL_DOWN;
    } else if (b & BUTTON2_PRESSED) {
        event.key = TB_KEY_MOUSE_MIDDLE;
    } else if (b & BUTTON3_PRESSED) {
        event.key = TB_KEY_MOUSE_RIGHT;
    } else {
        return false;
    }
    return true;
}

} // namespace

void define_extra_keys() {
    for (const key_sequence& k : EXTRA_KEYS)
        if (key_defined(k.bytes) == 0) define_key(k.bytes, k.key); // no growth per cycle
}

// ncurses gathers reports that arrive together into one run, answers
// KEY_MOUSE once for it, and hands the run out newest first: a quick
// click's press would be lost behind its release. All of it is taken,
// oldest first.
void input_decoder::take_mouse_run() {
    std::vector<MEVENT> run;
    MEVENT report{};
    while (run.size() < MAX_MOUSE_RUN && getmouse(&report) == OK)
        run.push_back(report);
    for (auto it = run.rbegin(); it != run.rend(); ++it) {
        tb_event event{};
        if (mouse_event(*it, left_down_, event)) pending_.push_back(event);
    }
}

void input_decoder::character_event(wint_t wch, tb_event& event) {
    event = {};
    event.type = TB_EVENT_KEY;
    plain_character(wch, event);
    if (wch == 0x1B && (mode_ & TB_INPUT_ALT)) alt_prefix(event);
}

// In Alt mode an Escape directly followed by another key (a character, a
// control key, a second Escape, an arrow) is that key with TB_MOD_ALT; a
// lone Escape stays TB_KEY_ESC.
void input_decoder::alt_prefix(tb_event& event) {
    wint_t next = 0;
    const int r = wget_wch(stdscr, &next);
    if (r == OK) {
        event = {};
        event.type = TB_EVENT_KEY;
        plain_character(next, event);
        event.mod = TB_MOD_ALT;
    } else if (r == KEY_CODE_YES) {
        const int key = special_key(static_cast<int>(next));
        if (key < 0) {
            // A mouse report or a resize: not a key to join.
            ungetch(static_cast<int>(next));
            return;
        }
        event = {};
        event.type = TB_EVENT_KEY;
        event.key = static_cast<uint16_t>(key);
        event.mod = TB_MOD_ALT;
    }
}

input_decoder::outcome input_decoder::read(tb_event& event) {
    for (;;) {
        if (!pending_.empty()) {
            event = pending_.front();
            pending_.pop_front();
            return outcome::event;
        }
        wint_t wch = 0;
        const int r = wget_wch(stdscr, &wch);
        if (r == ERR) return outcome::none;
        if (r == OK) {
            character_event(wch, event);
            return outcome::event;
        }
        // r == KEY_CODE_YES
        if (wch == KEY_MOUSE) {
            take_mouse_run();
            continue;
        }
        if (wch == KEY_RESIZE) return outcome::resized;
        const int key = special_key(static_cast<int>(wch));
        if (key < 0) continue;
        event = {};
        event.type = TB_EVENT_KEY;
        event.key = static_cast<uint16_t>(key);
        return outcome::event;
    }
}

} // namespace term_curses

} // namespace korvel
