// The terminal layer's back buffer: a grid of cells that both backends draw
// into, and the text rules that decide what a byte string becomes on screen.
// Internal to the layer.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "term/term_types.hpp"

namespace korvel {

namespace term_cells {

// Combining marks kept on one cell; ncurses holds five characters a cell.
inline constexpr int MAX_MARKS = 4;

// Shown for a combining mark that has no character to sit on.
inline constexpr uint32_t DOTTED_CIRCLE = 0x25CC;
inline constexpr uint32_t REPLACEMENT = 0xFFFD;

struct cell {
    uint32_t ch = ' '; // 0: the right half of the wide character to the left
    uintattr_t fg = TB_DEFAULT;
    uintattr_t bg = TB_DEFAULT;
    uint8_t mark_count = 0;
    std::array<uint32_t, MAX_MARKS> marks{};

    bool operator==(const cell&) const = default;
};

// What one code point becomes on screen.
struct glyph {
    uint32_t ch;
    int width; // 1 or 2; 0 for a combining mark
};

// Decodes the code point at text[pos] and advances pos. An invalid or
// truncated sequence yields REPLACEMENT and consumes exactly one byte.
uint32_t decode_utf8(std::string_view text, size_t& pos);

// Control characters (C0, DEL, C1), code points that are not characters and
// invisible format characters become a visible one-column substitute; a
// combining mark comes back with width 0.
glyph classify(uint32_t code_point);


// The columns a text takes when printed.
int64_t text_columns(std::string_view text);
// Where to cut a text so that `columns` columns of it are skipped without
// cutting a character: the byte offset of the first character that starts
// at or after that column, with the columns before it in `skipped` (one more
// than asked when a wide character straddles the cut). Combining marks stay
// with the character they follow.
size_t skip_columns(std::string_view text, int64_t columns, int64_t& skipped);

class grid {
  public:
    grid(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    const cell& at(int x, int y) const { return cells_[index(x, y)]; }
    const cell* row(int y) const { return &cells_[index(0, y)]; }

    void clear();
    void resize(int width, int height); // the content is cleared

    // Both return 0, or TB_ERR_OUT_OF_BOUNDS when any part of what was asked
    // for lies off the grid; the part on the grid is drawn.
    int print(int x, int y, uintattr_t fg, uintattr_t bg, std::string_view text);
    int set_cell(int x, int y, uint32_t code_point, uintattr_t fg, uintattr_t bg);

    bool operator==(const grid&) const = default;

  private:
    size_t index(int x, int y) const { return static_cast<size_t>(y) * width_ + x; }
    // Draws one glyph starting at column `column` (which may lie partly or
    // wholly off the grid); returns false when some of it was cut. `drawn` is
    // set to the cell's index when the glyph landed whole, else -1.
    bool put(int64_t column, int y, glyph g, uintattr_t fg, uintattr_t bg, int64_t& drawn);
    void place(int x, int y, uint32_t ch, int width, uintattr_t fg, uintattr_t bg);
    void attach(int64_t drawn, uint32_t mark);

    int width_;
    int height_;
    std::vector<cell> cells_;
};

} // namespace term_cells

} // namespace korvel
