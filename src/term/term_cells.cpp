#include "term/term_cells.hpp"

#include <algorithm>
#include <clocale>
#include <cwchar>
#include <locale.h>

#include "base/utf8.hpp"

namespace korvel {

namespace term_cells {

namespace {

// Widths come from a UTF-8 locale whatever the process locale is, so that
// the in-memory backend measures text the same way everywhere.
class utf8_ctype {
  public:
    utf8_ctype() : locale_(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {}
    ~utf8_ctype() {
        if (locale_ != locale_t{}) freelocale(locale_);
    }
    utf8_ctype(const utf8_ctype&) = delete;
    utf8_ctype& operator=(const utf8_ctype&) = delete;

    int width(uint32_t code_point) const {
        if (locale_ == locale_t{}) return wcwidth(static_cast<wchar_t>(code_point));
        const locale_t previous = uselocale(locale_);
        const int w = wcwidth(static_cast<wchar_t>(code_point));
        uselocale(previous);
        return w;
    }

  private:
    locale_t locale_;
};

int column_width(uint32_t code_point) {
    static const utf8_ctype ctype;
    return ctype.width(code_point);
}

// Zero-width characters that are not combining marks: format and bidi
// controls, joiners, tags. Drawn raw they would be invisible or could
// reorder what the user sees, so they get a substitute instead.
bool invisible_format(uint32_t c) {
    return c == 0x061C || c == 0x180E || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF ||
           (c >= 0xFFF9 && c <= 0xFFFB) || (c >= 0xE0000 && c <= 0xE007F);
}

bool plain_ascii(char b) {
    return b >= 0x20 && b < 0x7F;
}

// What is left of a wide character whose other half was overwritten.
void blank(cell& c) {
    c = {' ', c.fg, c.bg};
}

} // namespace

uint32_t decode_utf8(std::string_view text, size_t& pos) {
    const utf8_char c = utf8_at(text, pos);
    pos += c.length;
    return c.code_point == utf8_char::INVALID ? REPLACEMENT : c.code_point;
}

glyph classify(uint32_t c) {
    if (c >= 0x20 && c < 0x7F) return {c, 1};
    if (c < 0x20) return {0x2400 + c, 1}; // control pictures: ESC shows as U+241B
    if (c == 0x7F) return {0x2421, 1};
    if (c < 0xA0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {REPLACEMENT, 1};
    const int w = column_width(c);
    if (w < 0 || (w == 0 && invisible_format(c))) return {REPLACEMENT, 1};
    return {c, std::min(w, 2)};
}


grid::grid(int width, int height) : width_(0), height_(0) {
    resize(width, height);
}

void grid::clear() {
    std::fill(cells_.begin(), cells_.end(), cell{});
}

void grid::resize(int width, int height) {
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    cells_.assign(static_cast<size_t>(width_) * height_, cell{});
}

void grid::place(int x, int y, uint32_t ch, int width, uintattr_t fg, uintattr_t bg) {
    cell* line = &cells_[index(0, y)];
    // Overwriting either half of a wide character leaves its other half
    // orphaned; blank it so no cell claims a character it does not hold.
    if (line[x].ch == 0 && x > 0) blank(line[x - 1]);
    const int end = x + width;
    if (end < width_ && line[end].ch == 0) blank(line[end]);
    line[x] = {ch, fg, bg};
    if (width == 2) line[x + 1] = {0, fg, bg};
}

bool grid::put(int64_t column, int y, glyph g, uintattr_t fg, uintattr_t bg, int64_t& drawn) {
    drawn = -1;
    if (column >= 0 && column + g.width <= width_) {
        place(static_cast<int>(column), y, g.ch, g.width, fg, bg);
        drawn = static_cast<int64_t>(index(static_cast<int>(column), y));
        return true;
    }
    // A wide character cut by an edge leaves its visible half blank, in the
    // text's colours, so a coloured row still reaches the edge.
    for (int64_t x = std::max<int64_t>(column, 0); x < std::min<int64_t>(column + g.width, width_);
         ++x) {
        place(static_cast<int>(x), y, ' ', 1, fg, bg);
    }
    return false;
}

void grid::attach(int64_t drawn, uint32_t mark) {
    if (drawn < 0) return; // its character was clipped, and the mark goes with it
    cell& target = cells_[static_cast<size_t>(drawn)];
    if (target.mark_count < MAX_MARKS) target.marks[target.mark_count++] = mark;
}

namespace {

// What one character of a text adds to its width, as print draws it: a mark
// sits on the character before it, and one with nothing to sit on is shown
// on a dotted circle.
int columns_of(uint32_t code_point, bool& seen_base) {
    const glyph g = classify(code_point);
    if (g.width == 0 && seen_base) return 0;
    seen_base = true;
    return g.width == 0 ? 1 : g.width;
}

} // namespace

int64_t text_columns(std::string_view text) {
    int64_t columns = 0;
    bool seen_base = false;
    for (size_t pos = 0; pos < text.size();) columns += columns_of(decode_utf8(text, pos), seen_base);
    return columns;
}

size_t skip_columns(std::string_view text, int64_t columns, int64_t& skipped) {
    skipped = 0;
    bool seen_base = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t next = pos;
        const int width = columns_of(decode_utf8(text, next), seen_base);
        if (skipped >= columns && width > 0) break;
        skipped += width;
        pos = next;
    }
    return pos;
}

int grid::print(int x, int y, uintattr_t fg, uintattr_t bg, std::string_view text) {
    if (text.empty()) return 0;
    if (y < 0 || y >= height_) return TB_ERR_OUT_OF_BOUNDS;
    cell* line = &cells_[index(0, y)];
    bool cut = false;
    bool seen_base = false;
    int64_t column = x;
    int64_t drawn = -1; // where the last character landed, for its marks
    size_t pos = 0;
    while (pos < text.size()) {
        // Runs of printable ASCII, the bulk of most text, go straight in.
        if (column >= 0 && column < width_ && plain_ascii(text[pos])) {
            if (line[column].ch == 0 && column > 0) blank(line[column - 1]);
            do {
                cell& c = line[column++];
                c.ch = static_cast<unsigned char>(text[pos++]);
                c.fg = fg;
                c.bg = bg;
                if (c.mark_count != 0) {
                    c.mark_count = 0;
                    c.marks = {};
                }
            } while (pos < text.size() && column < width_ && plain_ascii(text[pos]));
            if (column < width_ && line[column].ch == 0) blank(line[column]);
            drawn = static_cast<int64_t>(index(static_cast<int>(column) - 1, y));
            seen_base = true;
            continue;
        }
        const uint32_t code_point = decode_utf8(text, pos);
        glyph g = classify(code_point);
        const bool lone_mark = g.width == 0 && !seen_base;
        if (g.width == 0 && seen_base) {
            attach(drawn, code_point);
            continue;
        }
        if (lone_mark) g = {DOTTED_CIRCLE, 1};
        if (column >= width_) {
            cut = true;
            break;
        }
        seen_base = true;
        if (!put(column, y, g, fg, bg, drawn)) cut = true;
        if (lone_mark) attach(drawn, code_point);
        column += g.width;
    }
    return cut ? TB_ERR_OUT_OF_BOUNDS : 0;
}

int grid::set_cell(int x, int y, uint32_t code_point, uintattr_t fg, uintattr_t bg) {
    if (y < 0 || y >= height_ || x < 0 || x >= width_) return TB_ERR_OUT_OF_BOUNDS;
    glyph g = classify(code_point);
    const bool lone_mark = g.width == 0;
    if (lone_mark) g = {DOTTED_CIRCLE, 1};
    int64_t drawn = -1;
    const bool whole = put(x, y, g, fg, bg, drawn);
    if (lone_mark) attach(drawn, code_point);
    return whole ? 0 : TB_ERR_OUT_OF_BOUNDS;
}

} // namespace term_cells

} // namespace korvel
