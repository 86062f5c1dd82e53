// Turning what ncurses reads into tb_events: the key tables, Escape as Alt,
// and mouse reports. Internal to the terminal layer.
#pragma once

#include <cwchar>
#include <deque>

#include "term/term_types.hpp"

namespace korvel {

namespace term_curses {

// Teaches ncurses the key sequences terminfo leaves out.
void define_extra_keys();

class input_decoder {
  public:
    enum class outcome { none, event, resized };

    // Takes what ncurses has already read or can read without waiting:
    // `event` with outcome::event; outcome::resized when ncurses saw the
    // terminal change size (the caller makes that event).
    outcome read(tb_event& event);

    void set_mode(int mode) { mode_ = mode; }
    // Reporting stopped: a held button is forgotten.
    void mouse_stopped() { left_down_ = false; }

  private:
    void take_mouse_run();
    void character_event(wint_t wch, tb_event& event);
    void alt_prefix(tb_event& event);

    int mode_ = TB_INPUT_ESC;
    bool left_down_ = false;
    std::deque<tb_event> pending_; // decoded, not yet handed out
};

} // namespace term_curses

} // namespace korvel
