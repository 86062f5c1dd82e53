// Painting a grid of cells onto stdscr: colour pairs made as they are first
// needed, and only the rows that changed handed to ncurses. Internal to the
// terminal layer.
#pragma once

#include <array>
#include <vector>

#include "term/curses.hpp"
#include "term/term_cells.hpp"

namespace korvel {

namespace term_curses {

class curses_painter {
  public:
    // Starts colours when the terminal has them.
    void start_colors();
    bool colors() const { return colors_; }

    // Puts the top-left width x height cells of `frame` into stdscr.
    void paint(const term_cells::grid& frame, int width, int height);
    // The next paint hands every row over, as after a resize.
    void forget() { shown_.clear(); }

  private:
    short pair_for(uintattr_t fg, uintattr_t bg);
    void to_cchar(const term_cells::cell& c, cchar_t& out);

    bool colors_ = false;
    bool default_colors_ = false;
    // Colour pairs are made as they are first needed: index (fg+1)*9+(bg+1).
    std::array<short, 81> pairs_{};
    short next_pair_ = 1;

    // What stdscr holds, so unchanged rows are not handed to ncurses again.
    std::vector<term_cells::cell> shown_;
    std::vector<cchar_t> line_;

    // The last style converted: neighbours mostly share theirs.
    uintattr_t last_fg_ = 0xFFFF;
    uintattr_t last_bg_ = 0xFFFF;
    attr_t last_attr_ = A_NORMAL;
    short last_pair_ = 0;
};

} // namespace term_curses

} // namespace korvel
