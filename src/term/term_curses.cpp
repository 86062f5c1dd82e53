#include "term/term_curses.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "base/unique_fd.hpp"
#include "base/write_all.hpp"
#include "term/crash_restore.hpp"
#include "term/curses.hpp"
#include "term/curses_input.hpp"
#include "term/curses_paint.hpp"
#include "term/tty_signals.hpp"

namespace korvel {

namespace term_curses {

namespace {

constexpr mmask_t MOUSE_EVENTS = BUTTON1_PRESSED | BUTTON1_RELEASED | BUTTON2_PRESSED |
                                 BUTTON2_RELEASED | BUTTON3_PRESSED | BUTTON3_RELEASED |
                                 BUTTON4_PRESSED | BUTTON5_PRESSED | REPORT_MOUSE_POSITION |
                                 BUTTON_SHIFT | BUTTON_CTRL | BUTTON_ALT;

} // namespace

struct terminal::state {
    unique_file out;
    unique_file in;
    resize_watch resize;
    SCREEN* screen = nullptr;

    int width = 0;
    int height = 0;
    bool mouse_on = false;
    bool cursor_shown = false;

    input_decoder input;
    curses_painter painter;

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
            input.mouse_stopped();
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
        painter.forget();
        clearok(curscr, TRUE); // what the terminal shows after a resize is unknown
        event = {};
        event.type = TB_EVENT_RESIZE;
        event.w = width;
        event.h = height;
    }

    // Takes what ncurses has already read or can read without waiting.
    bool read_input(tb_event& event) {
        switch (input.read(event)) {
        case input_decoder::outcome::none:
            return false;
        case input_decoder::outcome::resized:
            resized(event);
            return true;
        case input_decoder::outcome::event:
            break;
        }
        return true;
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
    define_extra_keys();
    s->painter.start_colors();
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
    s.painter.paint(frame, w, h);
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

bool terminal::colors_available() const { return s_->painter.colors(); }

int terminal::write_sequence(std::string_view bytes) {
    return s_->write_raw(bytes) ? 0 : TB_ERR;
}

void terminal::invalidate() {
    s_->painter.forget();
    clearok(curscr, TRUE);
}

void terminal::set_input_mode(int mode) {
    s_->input.set_mode(mode);
    s_->set_mouse((mode & TB_INPUT_MOUSE) != 0);
}

} // namespace term_curses

} // namespace korvel
