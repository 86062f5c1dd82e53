#include "term/curses_paint.hpp"

#include <algorithm>

namespace korvel {

namespace term_curses {

static_assert(term_cells::MAX_MARKS < CCHARW_MAX, "a cell and its marks fit one cchar_t");

using term_cells::cell;

namespace {

short curses_color(uintattr_t color) {
    const int index = color & 0xFF;
    return index >= TB_BLACK && index <= TB_WHITE ? static_cast<short>(index - TB_BLACK) : -1;
}

} // namespace

void curses_painter::start_colors() {
    if (has_colors() && start_color() == OK) {
        colors_ = true;
        default_colors_ = use_default_colors() == OK;
    }
}

short curses_painter::pair_for(uintattr_t fg, uintattr_t bg) {
    if (!colors_) return 0;
    short f = curses_color(fg);
    short b = curses_color(bg);
    if (!default_colors_) {
        if (f < 0) f = COLOR_WHITE;
        if (b < 0) b = COLOR_BLACK;
    }
    const size_t index = static_cast<size_t>((f + 1) * 9 + (b + 1));
    if (index == 0) return 0;
    if (pairs_[index] == 0 && next_pair_ < COLOR_PAIRS) {
        if (init_pair(next_pair_, f, b) == OK) pairs_[index] = next_pair_++;
    }
    return pairs_[index];
}

// Fills the cell in directly rather than through setcchar, which measures
// and validates the text again on every call (cchar_t's layout is public in
// curses.h).
void curses_painter::to_cchar(const cell& c, cchar_t& out) {
    if (c.fg != last_fg_ || c.bg != last_bg_) {
        const uintattr_t style = c.fg | c.bg;
        attr_t attrs = A_NORMAL;
        if (style & TB_BOLD) attrs |= A_BOLD;
        if (style & TB_UNDERLINE) attrs |= A_UNDERLINE;
        if (style & TB_REVERSE) attrs |= A_REVERSE;
        if (style & TB_DIM) attrs |= A_DIM;
        last_pair_ = pair_for(c.fg, c.bg);
        last_attr_ = attrs | static_cast<attr_t>(COLOR_PAIR(last_pair_));
        last_fg_ = c.fg;
        last_bg_ = c.bg;
    }
    out = cchar_t{};
    out.attr = last_attr_;
    out.ext_color = last_pair_;
    out.chars[0] = static_cast<wchar_t>(c.ch);
    for (int i = 0; i < c.mark_count; ++i)
        out.chars[i + 1] = static_cast<wchar_t>(c.marks[i]);
}

void curses_painter::paint(const term_cells::grid& frame, int w, int h) {
    const size_t frame_cells = static_cast<size_t>(w) * h;
    const bool fresh = shown_.size() != frame_cells;
    if (fresh) shown_.assign(frame_cells, cell{});
    line_.resize(static_cast<size_t>(w));
    for (int y = 0; y < h; ++y) {
        const cell* row = frame.row(y);
        cell* shown_row = &shown_[static_cast<size_t>(y) * w];
        if (!fresh && std::equal(row, row + w, shown_row)) continue;
        int n = 0;
        for (int x = 0; x < w; ++x) {
            if (row[x].ch != 0) to_cchar(row[x], line_[n++]);
        }
        mvwadd_wchnstr(stdscr, y, 0, line_.data(), n);
        std::copy(row, row + w, shown_row);
    }
}

} // namespace term_curses

} // namespace korvel
