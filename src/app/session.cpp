#include "app/session.hpp"

#include "term/term.hpp"

namespace korvel {

session::~session() { (void)close_terminal(); }

outcome session::take_terminal(const char* failure) {
    const int rc = tb_init();
    if (rc != 0) return outcome::failuref(failure, tb_strerror(rc));
    open_ = true;
    // Alt mode: an Escape that another key follows at once is an Alt-key, not
    // a lone Escape that would quit.
    tb_set_input_mode(TB_INPUT_ALT | TB_INPUT_MOUSE);
    tb_hide_cursor();
    tb_set_wakeup_fd(wake_fd());
    return {};
}

outcome session::open_terminal() { return take_terminal("failed to init termbox: %s"); }

outcome session::reopen_terminal() { return take_terminal("failed to take the terminal back: %s"); }

screen_size session::terminal_size() const { return {tb_width(), tb_height()}; }

outcome session::close_terminal() {
    if (!open_) return {};
    open_ = false;
    const int rc = tb_shutdown();
    if (rc == 0 || rc == TB_ERR_NOT_INIT) return {};
    return outcome::failuref("failed to shutdown termbox: %s", tb_strerror(rc));
}

} // namespace korvel
