#include "korvel/draw.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "korvel/view.hpp"
#include "term.hpp"

namespace {

struct color_pair {
    uintattr_t fg;
    uintattr_t bg;
};

struct palette {
    color_pair cursor_row;
    color_pair match_row;
    color_pair plain_row;
    color_pair indicator;
    color_pair message;
    color_pair error;
    color_pair prompt;
    // The sign of a marked row, over the row's own background: a colour
    // that replaces the row's (none keeps it), and attributes added to it.
    uintattr_t mark_color;
    uintattr_t mark_attributes;

    color_pair of(status_style style) const {
        switch (style) {
        case status_style::ERROR: return error;
        case status_style::PROMPT: return prompt;
        case status_style::MESSAGE: break;
        }
        return message;
    }

    color_pair mark_sign(color_pair row) const {
        constexpr uintattr_t ATTRIBUTE_BITS = 0xFF00;
        const uintattr_t fg = mark_color != TB_DEFAULT
                                  ? static_cast<uintattr_t>((row.fg & ATTRIBUTE_BITS) | mark_color)
                                  : row.fg;
        return {static_cast<uintattr_t>(fg | mark_attributes), row.bg};
    }
};

// Plain rows and the prompt keep the terminal's own colours, so they read on
// light and dark themes alike.
constexpr palette COLORS{
    {TB_BLACK | TB_BOLD, TB_WHITE}, {TB_BLACK, TB_YELLOW}, {TB_DEFAULT, TB_DEFAULT},
    {TB_BLACK, TB_WHITE},           {TB_BLACK, TB_WHITE},  {TB_WHITE, TB_RED},
    {TB_DEFAULT, TB_DEFAULT},       TB_MAGENTA,            TB_DEFAULT,
};

// Without colours (NO_COLOR, or a terminal that has none) attributes alone
// make the cursor row, the status row and the matches stand out.
constexpr palette ATTRIBUTES{
    {TB_REVERSE | TB_BOLD, TB_DEFAULT}, {TB_BOLD | TB_UNDERLINE, TB_DEFAULT},
    {TB_DEFAULT, TB_DEFAULT},           {TB_REVERSE, TB_DEFAULT},
    {TB_REVERSE, TB_DEFAULT},           {TB_REVERSE | TB_BOLD, TB_DEFAULT},
    {TB_DEFAULT, TB_DEFAULT},           TB_DEFAULT,
    TB_BOLD,
};

// Clipping is not a failure: rows and texts run off the screen all the time.
bool drawn(int rc) { return rc == 0 || rc == TB_ERR_OUT_OF_BOUNDS; }

outcome fail(const char* what, int rc) { return outcome::failuref("%s: %s", what, tb_strerror(rc)); }

const char* marker_of(const path_entry& entry) {
    if (entry.nchildren == 0) return "• ";
    return entry.folded ? "▶ " : "▼ ";
}

// Drawn over the blank after the marker of a marked row, so that the row
// stands out with or without colours and nothing else moves.
constexpr uint32_t MARK_SIGN = 0x2713; // ✓

class frame_painter {
  public:
    explicit frame_painter(const viewer& v)
        : v_(v), walker_(v.tree), cursor_(cursor_row(v)),
          colors_(v.no_color || !tb_colors_available() ? ATTRIBUTES : COLORS) {}

    outcome paint() {
        for (int y = 0; y < tb_height() - 1; ++y) {
            const int64_t row = v_.view.top + y;
            if (row < 0) continue;
            if (row >= static_cast<int64_t>(v_.tree.row_count())) break;
            if (outcome done = row_at(y, row); !done) return done;
        }
        return status_row();
    }

  private:
    color_pair colors_of_row(int64_t row, uint64_t entry) {
        if (row == cursor_) return colors_.cursor_row;
        // Rows are drawn in tree order, so one walker builds each row's full
        // path from the row before instead of from the top.
        return v_.search.match(v_.tree, entry, walker_) == match_result::MATCH ? colors_.match_row
                                                                               : colors_.plain_row;
    }

    outcome row_at(int y, int64_t row) {
        const uint64_t index = v_.tree.row_entry(static_cast<uint64_t>(row));
        const path_entry& entry = v_.tree.at(index);
        const char separator_text[2] = {v_.tree.separator(), '\0'};
        const char* text = entry.name[0] != '\0' ? entry.name : separator_text;

        // Scrolling sideways eats the indentation first, then the name's
        // leading columns, whole characters at a time (a wide character cut
        // in two leaves a blank); the marker always stays.
        const int64_t indent = 2 * static_cast<int64_t>(entry.depth);
        const int64_t past_indent = v_.view.hscroll - indent;
        int64_t x = 0;
        size_t cut = 0;
        int64_t blank = 0;
        if (past_indent > 0) {
            int64_t skipped = 0;
            cut = tb_skip_columns(text, past_indent, &skipped);
            blank = skipped - past_indent;
        } else {
            x = indent - v_.view.hscroll;
        }
        const int width = tb_width();
        const int column = static_cast<int>(std::min<int64_t>(x, width));
        constexpr int MARKER_COLUMNS = 2;

        const color_pair colors = colors_of_row(row, index);
        // Marker and name are printed apart, so a long name is never copied.
        int rc = tb_print(column, y, colors.fg, colors.bg, marker_of(entry));
        if (!drawn(rc)) return fail("failed to print path", rc);
        bool cut_at_right = rc == TB_ERR_OUT_OF_BOUNDS;
        rc = tb_print(static_cast<int>(std::min<int64_t>(column + MARKER_COLUMNS + blank, width)), y,
                      colors.fg, colors.bg, text + cut);
        if (!drawn(rc)) return fail("failed to print path", rc);
        // The layer reports a text cut at an edge; rows never start left of 0,
        // so that edge is the right one.
        cut_at_right = cut_at_right || rc == TB_ERR_OUT_OF_BOUNDS;
        if (v_.marks.contains(index)) {
            const color_pair sign = colors_.mark_sign(colors);
            rc = tb_set_cell(column + 1, y, MARK_SIGN, sign.fg, sign.bg);
            if (!drawn(rc)) return fail("failed to print path", rc);
        }
        if (cut_at_right) {
            rc = tb_set_cell(width - 1, y, '>', colors_.indicator.fg, colors_.indicator.bg);
            if (!drawn(rc)) return fail("failed to print '>' symbol", rc);
        }
        if (cut > 0) {
            rc = tb_set_cell(0, y, '<', colors_.indicator.fg, colors_.indicator.bg);
            if (!drawn(rc)) return fail("failed to print '<' symbol", rc);
        }
        return {};
    }

    outcome status_row() {
        const int y = tb_height() - 1;
        std::string text;
        color_pair colors;
        if (v_.prompt.open) {
            // The prompt's row always comes from the prompt itself, whatever
            // the mouse has done to the status line meanwhile.
            status_line prompt;
            prompt.show(std::string(v_.prompt.direction > 0 ? "/" : "?")
                            .append(v_.prompt.editor.text()));
            text = prompt.row();
            colors = colors_.prompt;
        } else {
            text = v_.status.row();
            colors = colors_.of(v_.status.style());
        }
        int rc = tb_print(0, y, colors.fg, colors.bg, text.c_str());
        if (!drawn(rc)) return fail("failed to print prompt message", rc);

        char counter[256];
        int length = snprintf(counter, 254, "   %" PRIu64 "/%" PRIu64,
                              static_cast<uint64_t>(v_.view.cursor) + 1, v_.tree.size());
        length = std::min(length, 253);
        counter[length++] = ' ';
        counter[length] = '\0';
        // On a terminal narrower than the counter none of it is drawn, rather
        // than a stray tail of digits.
        const int x = tb_width() - length;
        if (x >= 0) {
            rc = tb_print(x, y, colors.fg, colors.bg, counter);
            if (!drawn(rc)) return fail("failed to print prompt message", rc);
        }
        if (outcome shown = mark_count(x, y, colors); !shown) return shown;
        if (v_.prompt.open) {
            // Column 0 is the status row's leading blank, column 1 the prefix.
            const std::string_view before = v_.prompt.editor.text().substr(
                0, static_cast<size_t>(v_.prompt.editor.pos()));
            tb_set_cursor(static_cast<int>(2 + tb_text_columns(before)), y);
        } else {
            tb_hide_cursor();
        }
        return {};
    }

    // How many entries are marked, just left of the counter that starts at
    // column x, and only when there are any: the counter keeps its place.
    outcome mark_count(int x, int y, color_pair colors) {
        if (v_.marks.empty()) return {};
        char text[64];
        const int length = snprintf(text, sizeof text, "   %" PRIu64 " marked", v_.marks.count());
        if (x - length < 0) return {};
        const int rc = tb_print(x - length, y, colors.fg, colors.bg, text);
        if (!drawn(rc)) return fail("failed to print prompt message", rc);
        return {};
    }

    const viewer& v_;
    full_path_walker walker_;
    const int64_t cursor_;
    const palette& colors_;
};

} // namespace

outcome redraw(const viewer& v) {
    int rc = tb_clear();
    if (!drawn(rc)) return fail("failed to clear screen", rc);
    frame_painter painter(v);
    if (outcome painted = painter.paint(); !painted) return painted;
    rc = tb_present();
    if (!drawn(rc)) return fail("failed to synchronize the internal buffer with the terminal", rc);
    return {};
}
