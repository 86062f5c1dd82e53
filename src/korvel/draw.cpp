#include "korvel/draw.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "korvel/app.hpp"
#include "korvel/status.hpp"
#include "korvel/view.hpp"
#include "paths.hpp"
#include "search.hpp"
#include "term.hpp"

namespace {

constexpr color_pair CURSOR_ROW_COLORS{TB_BLACK | TB_BOLD, TB_WHITE};
constexpr color_pair MATCH_ROW_COLORS{TB_BLACK, TB_YELLOW};
constexpr color_pair PLAIN_ROW_COLORS{TB_WHITE, TB_DEFAULT};
constexpr color_pair INDICATOR_COLORS{TB_BLACK, TB_WHITE};

// Clipping is not a failure: rows and texts run off the screen all the time.
bool drawn(int rc) { return rc == 0 || rc == TB_ERR_OUT_OF_BOUNDS; }

int fail(const char* what, int rc) {
    set_errorf("%s: %s", what, tb_strerror(rc));
    return 1;
}

const char* marker_of(const path_entry& entry) {
    if (entry.nchildren == 0) return "• ";
    return entry.folded ? "▶ " : "▼ ";
}

color_pair colors_of_row(int64_t row, full_path_walker& walker) {
    if (row == cursor) return CURSOR_ROW_COLORS;
    return path_matches(unfolded_paths.items[row], walker) == 0 ? MATCH_ROW_COLORS
                                                                : PLAIN_ROW_COLORS;
}

// Rows are drawn in tree order, so one walker builds each row's full path
// from the row before instead of from the top.
int draw_row(int y, int64_t row, full_path_walker& walker) {
    const path_entry& entry = path_at(unfolded_paths.items[row]);
    const char separator_text[2] = {path_separator, '\0'};
    const char* text = entry.name[0] != '\0' ? entry.name : separator_text;

    // Scrolling sideways eats the indentation first, then the name's leading
    // bytes; the marker always stays.
    const int64_t indent = 2 * static_cast<int64_t>(entry.depth);
    const int64_t past_indent = hscroll - indent;
    int64_t x = 0;
    size_t cut = 0;
    if (past_indent > 0) {
        cut = static_cast<size_t>(std::min<int64_t>(past_indent, strlen(text)));
    } else {
        x = indent - hscroll;
    }
    const int width = tb_width();
    const int column = static_cast<int>(std::min<int64_t>(x, width));
    constexpr int MARKER_COLUMNS = 2;

    const color_pair colors = colors_of_row(row, walker);
    // Marker and name are printed apart, so a long name is never copied.
    int rc = tb_print(column, y, colors.fg, colors.bg, marker_of(entry));
    if (!drawn(rc)) return fail("failed to print path", rc);
    bool cut_at_right = rc == TB_ERR_OUT_OF_BOUNDS;
    rc = tb_print(column + MARKER_COLUMNS, y, colors.fg, colors.bg, text + cut);
    if (!drawn(rc)) return fail("failed to print path", rc);
    // The layer reports a text cut at an edge; rows never start left of 0,
    // so that edge is the right one.
    cut_at_right = cut_at_right || rc == TB_ERR_OUT_OF_BOUNDS;
    if (cut_at_right) {
        rc = tb_set_cell(width - 1, y, '>', INDICATOR_COLORS.fg, INDICATOR_COLORS.bg);
        if (!drawn(rc)) return fail("failed to print '>' symbol", rc);
    }
    if (cut > 0) {
        rc = tb_set_cell(0, y, '<', INDICATOR_COLORS.fg, INDICATOR_COLORS.bg);
        if (!drawn(rc)) return fail("failed to print '<' symbol", rc);
    }
    return 0;
}

int draw_status_row() {
    const int y = tb_height() - 1;
    int rc = tb_print(0, y, status_colors.fg, status_colors.bg, status_line);
    if (!drawn(rc)) return fail("failed to print prompt message", rc);

    char counter[256];
    int length = snprintf(counter, 254, "   %" PRIu64 "/%" PRIu64,
                          static_cast<uint64_t>(unfolded_paths.items[cursor]) + 1, total_entries);
    length = std::min(length, 253);
    counter[length++] = ' ';
    counter[length] = '\0';
    // On a terminal narrower than the counter none of it is drawn, rather
    // than a stray tail of digits.
    const int x = tb_width() - length;
    if (x < 0) return 0;
    rc = tb_print(x, y, status_colors.fg, status_colors.bg, counter);
    if (!drawn(rc)) return fail("failed to print prompt message", rc);
    return 0;
}

} // namespace

int draw_paths() {
    full_path_walker walker;
    for (int y = 0; y < tb_height() - 1; ++y) {
        const int64_t row = top + y;
        if (row < 0) continue;
        if (row >= static_cast<int64_t>(unfolded_paths.len)) break;
        if (draw_row(y, row, walker) != 0) return 1;
    }
    return draw_status_row();
}

int redraw() {
    int rc = tb_clear();
    if (!drawn(rc)) return fail("failed to clear screen", rc);
    if (draw_paths() != 0) return 1;
    rc = tb_present();
    if (!drawn(rc)) return fail("failed to synchronize the internal buffer with the terminal", rc);
    return 0;
}
