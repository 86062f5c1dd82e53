// The terminal layer's real backend: the controlling terminal driven through
// ncurses. Internal to the layer; ncurses itself stays out of this header.
#pragma once

#include <memory>
#include <string_view>

#include "term/term_cells.hpp"
#include "term/term_types.hpp"

namespace korvel {

namespace term_curses {

class terminal {
  public:
    // Takes over /dev/tty. On failure returns null and sets rc to a
    // TB_ERR_* code (and err to errno where one applies); prints nothing.
    static std::unique_ptr<terminal> open(int& rc, int& err);
    // Hands the terminal back in the state it was found in.
    ~terminal();
    terminal(const terminal&) = delete;
    terminal& operator=(const terminal&) = delete;

    int width() const;
    int height() const;

    // Shows `frame`, with the cursor at (cursor_x, cursor_y) or hidden when
    // cursor_x is negative.
    int present(const term_cells::grid& frame, int cursor_x, int cursor_y);

    // 0 with an event; TB_ERR_NO_EVENT after timeout_ms (negative: no
    // limit) or as soon as wake_fd (when not negative) is readable;
    // TB_ERR_POLL with err set when waiting failed, EINTR included.
    int next_event(tb_event& event, int timeout_ms, int wake_fd, int& err);

    void set_input_mode(int mode);
    bool colors_available() const;
    // Writes bytes straight to the terminal after the frame shown; 0 or
    // TB_ERR.
    int write_sequence(std::string_view bytes);
    // The next present draws every cell, as after a resize.
    void invalidate();

  private:
    struct state;
    explicit terminal(std::unique_ptr<state> s);
    std::unique_ptr<state> s_;
};

} // namespace term_curses

} // namespace korvel
