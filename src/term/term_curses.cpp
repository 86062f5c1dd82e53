#include "term/term_curses.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#define NCURSES_WIDECHAR 1
#define NCURSES_NOMACROS 1
#include <curses.h>

#include "base/unique_fd.hpp"
#include "base/write_all.hpp"

namespace korvel {


static_assert(term_cells::MAX_MARKS < CCHARW_MAX, "a cell and its marks fit one cchar_t");

namespace term_curses {

namespace {

using term_cells::cell;

// SIGWINCH only writes a byte to a pipe; the poll in next_event wakes on it.
volatile sig_atomic_t resize_pipe_write_end = -1;

void on_window_change(int) {
    const int saved = errno;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = write(resize_pipe_write_end, &byte, 1);
    errno = saved;
}

// Owns the SIGWINCH handler and its pipe, and puts back whatever handler
// was there before.
class resize_watch {
  public:
    int start(int& err) {
        if (pipe2(fds_.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
            err = errno;
            return TB_ERR_RESIZE_PIPE;
        }
        resize_pipe_write_end = fds_[1];
        struct sigaction action {};
        action.sa_handler = on_window_change;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        if (sigaction(SIGWINCH, &action, &previous_) != 0) {
            err = errno;
            return TB_ERR_RESIZE_SIGACTION;
        }
        installed_ = true;
        return 0;
    }
    ~resize_watch() {
        if (installed_) sigaction(SIGWINCH, &previous_, nullptr);
        resize_pipe_write_end = -1;
        for (int fd : fds_)
            if (fd >= 0) close(fd);
    }
    int fd() const { return fds_[0]; }
    // True when at least one SIGWINCH arrived since the last call.
    bool take() const {
        std::array<char, 64> buffer;
        bool any = false;
        while (read(fds_[0], buffer.data(), buffer.size()) > 0)
            any = true;
        return any;
    }

  private:
    std::array<int, 2> fds_{-1, -1};
    struct sigaction previous_ {};
    bool installed_ = false;
};

// newterm installs handlers of its own for these when they are at their
// default; they would end the process behind the caller's back, so they are
// put back at once and the caller keeps sole charge of its signals.
constexpr std::array GUARDED_SIGNALS{SIGINT, SIGQUIT, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU, SIGCONT};

class signal_snapshot {
  public:
    signal_snapshot() {
        for (size_t i = 0; i < GUARDED_SIGNALS.size(); ++i)
            sigaction(GUARDED_SIGNALS[i], nullptr, &saved_[i]);
    }
    void restore_changed() const {
        for (size_t i = 0; i < GUARDED_SIGNALS.size(); ++i) {
            struct sigaction now {};
            sigaction(GUARDED_SIGNALS[i], nullptr, &now);
            if (now.sa_handler != saved_[i].sa_handler)
                sigaction(GUARDED_SIGNALS[i], &saved_[i], nullptr);
        }
    }

  private:
    std::array<struct sigaction, GUARDED_SIGNALS.size()> saved_{};
};

// ncurses turns on only press-and-release reporting (mode 1000) for xterm;
// button-event tracking (1002) also reports motion while a button is held.
constexpr const char* DRAG_TRACKING_ON = "\033[?1002h";
constexpr const char* DRAG_TRACKING_OFF = "\033[?1002l";

// More than ncurses queues at once.
constexpr size_t MAX_MOUSE_RUN = 64;

constexpr mmask_t MOUSE_EVENTS = BUTTON1_PRESSED | BUTTON1_RELEASED | BUTTON2_PRESSED |
                                 BUTTON2_RELEASED | BUTTON3_PRESSED | BUTTON3_RELEASED |
                                 BUTTON4_PRESSED | BUTTON5_PRESSED | REPORT_MOUSE_POSITION |
                                 BUTTON_SHIFT | BUTTON_CTRL | BUTTON_ALT;

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

short curses_color(uintattr_t color) {
    const int index = color & 0xFF;
    return index >= TB_BLACK && index <= TB_WHITE ? static_cast<short>(index - TB_BLACK) : -1;
}

// A terminfo string as bytes to send: padding ("$<50>") is for terminals that
// need time, which the caller cannot give from where it writes.
std::string without_padding(const char* sequence) {
    std::string out;
    if (sequence == nullptr || sequence == reinterpret_cast<char*>(-1)) return out;
    for (const char* p = sequence; *p != '\0'; ++p) {
        if (p[0] == '$' && p[1] == '<') {
            const char* end = strchr(p, '>');
            if (end != nullptr) {
                p = end;
                continue;
            }
        }
        out += *p;
    }
    return out;
}

// Without one, what was drawn stays on screen when the terminal is handed
// back, and the shell's prompt lands on the old status row.
bool has_alternate_screen() {
    const char* enter = tigetstr("smcup");
    return enter != nullptr && enter != reinterpret_cast<char*>(-1);
}

// What a fatal signal needs to hand the terminal back, prepared while it is
// safe to call into ncurses and termios.
struct crash_restore {
    volatile sig_atomic_t armed = 0;
    int fd = -1;
    termios modes{};
    char reset[256] = {};
    size_t reset_length = 0;

    void append(const char* sequence) {
        const std::string bytes = without_padding(sequence);
        if (reset_length + bytes.size() >= sizeof reset) return;
        memcpy(reset + reset_length, bytes.data(), bytes.size());
        reset_length += bytes.size();
    }

    void arm(int tty, const termios& found) {
        fd = tty;
        modes = found;
        reset_length = 0;
        append(DRAG_TRACKING_OFF);
        append("\033[?1006l\033[?1000l");
        append(tigetstr("rmkx"));
        append(tigetstr("sgr0"));
        append(tigetstr("cnorm"));
        append(tigetstr("rmcup"));
        if (!has_alternate_screen()) append(tigetstr("clear"));
        armed = 1;
    }
};

crash_restore crash;

} // namespace

struct terminal::state {
    unique_file out;
    unique_file in;
    resize_watch resize;
    SCREEN* screen = nullptr;

    int width = 0;
    int height = 0;
    int mode = TB_INPUT_ESC;
    bool mouse_on = false;
    bool left_down = false;
    bool cursor_shown = false;

    bool colors = false;
    bool default_colors = false;
    // Colour pairs are made as they are first needed: index (fg+1)*9+(bg+1).
    std::array<short, 81> pairs{};
    short next_pair = 1;

    std::deque<tb_event> pending; // decoded, not yet handed out

    // What stdscr holds, so unchanged rows are not handed to ncurses again.
    std::vector<cell> shown;
    std::vector<cchar_t> line;

    ~state() {
        if (screen == nullptr) return;
        crash.armed = 0;
        set_term(screen);
        if (mouse_on) {
            write_raw(DRAG_TRACKING_OFF);
            mousemask(0, nullptr);
        }
        keypad(stdscr, FALSE);
        curs_set(1);
        const std::string clear_screen =
            has_alternate_screen() ? std::string() : without_padding(tigetstr("clear"));
        endwin();
        if (!clear_screen.empty()) {
            fflush(out.get());
            write_all(fileno(out.get()), clear_screen);
        }
        delscreen(screen);
    }

    short pair_for(uintattr_t fg, uintattr_t bg) {
        if (!colors) return 0;
        short f = curses_color(fg);
        short b = curses_color(bg);
        if (!default_colors) {
            if (f < 0) f = COLOR_WHITE;
            if (b < 0) b = COLOR_BLACK;
        }
        const size_t index = static_cast<size_t>((f + 1) * 9 + (b + 1));
        if (index == 0) return 0;
        if (pairs[index] == 0 && next_pair < COLOR_PAIRS) {
            if (init_pair(next_pair, f, b) == OK) pairs[index] = next_pair++;
        }
        return pairs[index];
    }

    // Fills the cell in directly rather than through setcchar, which
    // measures and validates the text again on every call (cchar_t's layout
    // is public in curses.h); neighbours mostly share their style.
    uintattr_t last_fg = 0xFFFF;
    uintattr_t last_bg = 0xFFFF;
    attr_t last_attr = A_NORMAL;
    short last_pair = 0;

    void to_cchar(const cell& c, cchar_t& out) {
        if (c.fg != last_fg || c.bg != last_bg) {
            const uintattr_t style = c.fg | c.bg;
            attr_t attrs = A_NORMAL;
            if (style & TB_BOLD) attrs |= A_BOLD;
            if (style & TB_UNDERLINE) attrs |= A_UNDERLINE;
            if (style & TB_REVERSE) attrs |= A_REVERSE;
            if (style & TB_DIM) attrs |= A_DIM;
            last_pair = pair_for(c.fg, c.bg);
            last_attr = attrs | static_cast<attr_t>(COLOR_PAIR(last_pair));
            last_fg = c.fg;
            last_bg = c.bg;
        }
        out = cchar_t{};
        out.attr = last_attr;
        out.ext_color = last_pair;
        out.chars[0] = static_cast<wchar_t>(c.ch);
        for (int i = 0; i < c.mark_count; ++i)
            out.chars[i + 1] = static_cast<wchar_t>(c.marks[i]);
    }

    // Writes a sequence ncurses knows nothing about, after what ncurses has
    // queued (putp would send it to standard output instead). False when
    // not all of it could be written.
    bool write_raw(std::string_view bytes) {
        doupdate(); // flushes ncurses' own output first
        return write_all(fileno(out.get()), bytes);
    }

    void set_mouse(bool on) {
        if (on == mouse_on) return;
        if (on) {
            mousemask(MOUSE_EVENTS, nullptr);
            if (has_mouse()) write_raw(DRAG_TRACKING_ON);
        } else {
            write_raw(DRAG_TRACKING_OFF);
            mousemask(0, nullptr);
            doupdate();
            left_down = false;
        }
        mouse_on = on;
    }

    bool read_size() {
        winsize size{};
        if (ioctl(fileno(out.get()), TIOCGWINSZ, &size) != 0 || size.ws_row == 0 ||
            size.ws_col == 0) {
            return false;
        }
        // resize_term, unlike resizeterm, queues no KEY_RESIZE of its own.
        resize_term(size.ws_row, size.ws_col);
        return true;
    }

    void resized(tb_event& event) {
        read_size();
        width = getmaxx(stdscr);
        height = getmaxy(stdscr);
        shown.clear();
        clearok(curscr, TRUE); // what the terminal shows after a resize is unknown
        event = {};
        event.type = TB_EVENT_RESIZE;
        event.w = width;
        event.h = height;
    }

    // ncurses gathers reports that arrive together into one run, answers
    // KEY_MOUSE once for it, and hands the run out newest first: a quick
    // click's press would be lost behind its release. All of it is taken,
    // oldest first.
    void take_mouse_run() {
        std::vector<MEVENT> run;
        MEVENT report{};
        while (run.size() < MAX_MOUSE_RUN && getmouse(&report) == OK)
            run.push_back(report);
        for (auto it = run.rbegin(); it != run.rend(); ++it) {
            tb_event event{};
            if (mouse_event(*it, event)) pending.push_back(event);
        }
    }

    bool mouse_event(const MEVENT& report, tb_event& event) {
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

    bool character_event(wint_t wch, tb_event& event) {
        event = {};
        event.type = TB_EVENT_KEY;
        plain_character(wch, event);
        if (wch == 0x1B && (mode & TB_INPUT_ALT)) alt_prefix(event);
        return true;
    }

    static void plain_character(wint_t wch, tb_event& event) {
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

    // In Alt mode an Escape directly followed by another key (a character, a
    // control key, a second Escape, an arrow) is that key with TB_MOD_ALT; a
    // lone Escape stays TB_KEY_ESC.
    void alt_prefix(tb_event& event) {
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

    // Takes what ncurses has already read or can read without waiting.
    bool read_input(tb_event& event) {
        for (;;) {
            if (!pending.empty()) {
                event = pending.front();
                pending.pop_front();
                return true;
            }
            wint_t wch = 0;
            const int r = wget_wch(stdscr, &wch);
            if (r == ERR) return false;
            if (r == OK) return character_event(wch, event);
            // r == KEY_CODE_YES
            if (wch == KEY_MOUSE) {
                take_mouse_run();
                continue;
            }
            if (wch == KEY_RESIZE) {
                resized(event);
                return true;
            }
            const int key = special_key(static_cast<int>(wch));
            if (key < 0) continue;
            event = {};
            event.type = TB_EVENT_KEY;
            event.key = static_cast<uint16_t>(key);
            return true;
        }
    }
};

terminal::terminal(std::unique_ptr<state> s) : s_(std::move(s)) {}

terminal::~terminal() = default;

std::unique_ptr<terminal> terminal::open(int& rc, int& err) {
    auto s = std::make_unique<state>();
    const char* term_name = getenv("TERM");
    if (term_name == nullptr || *term_name == '\0') {
        rc = TB_ERR_NO_TERM;
        return nullptr;
    }
    // Separate streams for reading and writing, so standard input stays the
    // caller's.
    s->out.reset(fopen("/dev/tty", "we"));
    if (s->out) s->in.reset(fopen("/dev/tty", "re"));
    if (!s->out || !s->in) {
        err = errno;
        rc = TB_ERR_INIT_OPEN;
        return nullptr;
    }
    rc = s->resize.start(err);
    if (rc != 0) return nullptr;

    // The size comes from the terminal, not from LINES and COLUMNS, which
    // may be stale.
    use_env(FALSE);
    use_tioctl(TRUE);
    const signal_snapshot signals;
    termios before{};
    const bool have_modes = tcgetattr(fileno(s->out.get()), &before) == 0;
    s->screen = newterm(term_name, s->out.get(), s->in.get());
    signals.restore_changed();
    if (s->screen == nullptr) {
        rc = TB_ERR_NO_TERM;
        return nullptr;
    }
    // Without cursor addressing (TERM=dumb and the like) nothing could be
    // drawn where it belongs.
    const char* cursor_address = tigetstr("cup");
    if (cursor_address == nullptr || cursor_address == reinterpret_cast<char*>(-1)) {
        // endwin would write to the terminal; nothing has been drawn yet, so
        // putting the modes back is all there is to undo.
        delscreen(s->screen);
        s->screen = nullptr;
        if (have_modes) tcsetattr(fileno(s->out.get()), TCSADRAIN, &before);
        rc = TB_ERR_NO_TERM;
        return nullptr;
    }

    raw();
    noecho();
    nonl(); // Enter arrives as 0x0D
    intrflush(stdscr, FALSE);
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE); // waiting is done by our own poll
    typeahead(-1);         // otherwise pending input cuts screen updates short
    set_escdelay(25);
    mouseinterval(0); // no click detection: it would hold presses back
    leaveok(stdscr, TRUE);
    curs_set(0);
    for (const key_sequence& k : EXTRA_KEYS)
        if (key_defined(k.bytes) == 0) define_key(k.bytes, k.key); // no growth per cycle
    if (has_colors() && start_color() == OK) {
        s->colors = true;
        s->default_colors = use_default_colors() == OK;
    }
    if (have_modes) crash.arm(fileno(s->out.get()), before);
    s->width = getmaxx(stdscr);
    s->height = getmaxy(stdscr);
    clearok(curscr, TRUE);
    wrefresh(stdscr);
    rc = 0;
    return std::unique_ptr<terminal>(new terminal(std::move(s)));
}

int terminal::width() const {
    return s_->width;
}
int terminal::height() const {
    return s_->height;
}

int terminal::present(const term_cells::grid& frame, int cursor_x, int cursor_y) {
    state& s = *s_;
    const int w = std::min(frame.width(), s.width);
    const int h = std::min(frame.height(), s.height);
    const size_t frame_cells = static_cast<size_t>(w) * h;
    const bool fresh = s.shown.size() != frame_cells;
    if (fresh) s.shown.assign(frame_cells, cell{});
    s.line.resize(static_cast<size_t>(w));
    for (int y = 0; y < h; ++y) {
        const cell* row = frame.row(y);
        cell* shown_row = &s.shown[static_cast<size_t>(y) * w];
        if (!fresh && std::equal(row, row + w, shown_row)) continue;
        int n = 0;
        for (int x = 0; x < w; ++x) {
            if (row[x].ch != 0) s.to_cchar(row[x], s.line[n++]);
        }
        mvwadd_wchnstr(stdscr, y, 0, s.line.data(), n);
        std::copy(row, row + w, shown_row);
    }
    const bool show_cursor = cursor_x >= 0 && cursor_y >= 0 && cursor_x < w && cursor_y < h;
    leaveok(stdscr, show_cursor ? FALSE : TRUE);
    if (show_cursor) wmove(stdscr, cursor_y, cursor_x);
    if (show_cursor != s.cursor_shown) {
        curs_set(show_cursor ? 1 : 0);
        s.cursor_shown = show_cursor;
    }
    return wrefresh(stdscr) == ERR ? TB_ERR : 0;
}

int terminal::next_event(tb_event& event, int timeout_ms, int wake_fd, int& err) {
    state& s = *s_;
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
    bool hung_up = false;
    for (;;) {
        if (s.resize.take()) {
            s.resized(event);
            return 0;
        }
        if (s.read_input(event)) return 0;
        if (hung_up) {
            err = EIO; // the terminal went away; waiting again would spin
            return TB_ERR_POLL;
        }

        int wait_ms = -1;
        if (timeout_ms >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now());
            wait_ms = static_cast<int>(std::max<int64_t>(left.count(), 0));
        }
        std::array<pollfd, 3> fds{pollfd{fileno(s.in.get()), POLLIN, 0},
                                  pollfd{s.resize.fd(), POLLIN, 0}, pollfd{wake_fd, POLLIN, 0}};
        const int ready = poll(fds.data(), wake_fd >= 0 ? 3 : 2, wait_ms);
        if (ready < 0) {
            err = errno;
            return TB_ERR_POLL;
        }
        if (ready == 0) return TB_ERR_NO_EVENT;
        // Input that is there already goes first; the caller drains the
        // wake-up descriptor itself.
        if (wake_fd >= 0 && (fds[2].revents & POLLIN) && fds[0].revents == 0 &&
            fds[1].revents == 0)
            return TB_ERR_NO_EVENT;
        hung_up = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
}

bool terminal::colors_available() const { return s_->colors; }

int terminal::write_sequence(std::string_view bytes) {
    return s_->write_raw(bytes) ? 0 : TB_ERR;
}

void terminal::invalidate() {
    s_->shown.clear();
    clearok(curscr, TRUE);
}

void terminal::set_input_mode(int mode) {
    s_->mode = mode;
    s_->set_mouse((mode & TB_INPUT_MOUSE) != 0);
}

bool restore_from_signal() {
    if (!crash.armed) return false;
    crash.armed = 0;
    // write_all only calls write(), so it is safe here.
    (void)write_all(crash.fd, crash.reset, crash.reset_length);
    tcsetattr(crash.fd, TCSANOW, &crash.modes);
    return true;
}

} // namespace term_curses

} // namespace korvel
