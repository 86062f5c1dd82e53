// The one owner of the terminal: taking it over and handing it back, with
// the signals (see signal_handlers.hpp) that wake and stop it.
#pragma once

#include "app/screen_size.hpp"
#include "app/signal_handlers.hpp"
#include "base/outcome.hpp"

namespace korvel {

class session : public signal_handlers {
  public:
    session() = default;
    // Hands the terminal back if it is still held.
    ~session();
    session(const session&) = delete;
    session& operator=(const session&) = delete;

    // "failed to init termbox: %s" when the terminal cannot be taken over.
    outcome open_terminal();
    // "failed to shutdown termbox: %s"; success when nothing was open.
    outcome close_terminal();
    // Taking the terminal back after a command or a suspension:
    // "failed to take the terminal back: %s".
    outcome reopen_terminal();
    // The size of the terminal taken over, until a resize event says more.
    screen_size terminal_size() const;

  private:
    outcome take_terminal(const char* failure);

    bool open_ = false;
};

} // namespace korvel
