#include "app/draw.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/help.hpp"
#include "app/match_count.hpp"
#include "app/pane.hpp"
#include "base/digit_groups.hpp"
#include "app/view.hpp"
#include "term/term.hpp"
#include "base/utf8.hpp"

namespace korvel {

namespace {

// Whether the character at text[at] is drawn in the cell of the one before
// it (a combining mark), so that a cut before it would leave it on whatever
// comes first.
bool joins_previous(std::string_view text, size_t at) {
    std::string probe = "x";
    probe.append(text.substr(at, utf8_at(text, at).length));
    return tb_text_columns(probe) == 1;
}

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

// What stands left of the position counter: the rank of the match under the
// cursor, the filter in force (and one entered, still being found), and how
// many entries are marked (or that 'v' waits to mark).
std::string indicators(const viewer& v) {
    std::string text;
    auto add = [&text](const std::string& part) {
        text += part;
        text += "  ";
    };
    if (v.search.active() && !v.prompt.open) {
        if (const uint64_t rank = cursor_rank(v); rank != 0)
            add("match " + grouped(rank) + "/" + grouped(v.counted.total));
        else if (v.counted.scan && !v.marking) // "marking" says as much
            add("counting matches");
    }
    if (v.entered.scan) add("filtering");
    if (v.filter.active()) add("filter " + grouped(v.filter.count));
    if (v.marking) add("marking");
    if (!v.marks.empty()) add("marked " + grouped(v.marks.count()));
    return text;
}

// A directory whose contents a filter hides all of is a leaf of the tree
// shown: nothing would show below it.
const char* marker_of(const viewer& v, uint64_t index) {
    const path_entry& entry = v.tree.at(index);
    if (entry.nchildren == 0) return "• ";
    if (v.filter.active() && v.filter.kept.next(index + 1) >= entry.subtree_end) return "• ";
    return entry.folded ? "▶ " : "▼ ";
}

// Drawn over the blank after the marker of a marked row, so that the row
// stands out with or without colours and nothing else moves.
constexpr uint32_t MARK_SIGN = 0x2713; // ✓

class frame_painter {
  public:
    frame_painter(const viewer& v, term_cells::grid& frame)
        : v_(v), frame_(frame), walker_(v.tree), cursor_(cursor_row(v)),
          colors_(v.no_color || !tb_colors_available() ? ATTRIBUTES : COLORS),
          // While a search is typed, its preview is what is highlighted.
          highlighted_(v.prompt.open && v.prompt.kind != prompt_kind::FILTER && v.preview.pattern
                           ? *v.preview.pattern
                           : v.search) {}

    outcome paint() {
        if (v_.help.open) {
            if (outcome drawn = draw_help(v_, frame_); !drawn) return drawn;
            return status_row();
        }
        for (int y = 0; y < layout_.tree_rows; ++y) {
            const int64_t row = v_.view.top + y;
            if (row < 0) continue;
            if (row >= static_cast<int64_t>(v_.tree.row_count())) break;
            if (outcome done = row_at(y, row); !done) return done;
        }
        // Over whatever of the tree's rows ran past its edge.
        if (outcome done = draw_pane(v_, &colors_ == &ATTRIBUTES, frame_); !done) return done;
        return status_row();
    }

  private:
    // A compact chain's row, from `start` to `entry`, stands for each of its
    // directories: it is a match when any of them is.
    color_pair colors_of_row(int64_t row, uint64_t start, uint64_t entry) {
        if (row == cursor_) return colors_.cursor_row;
        if (v_.filter.active() && v_.filter.matches.next(start) <= entry) return colors_.match_row;
        // Rows are drawn in tree order, so one walker builds each row's full
        // path from the row before instead of from the top.
        for (uint64_t e = start; e <= entry; ++e)
            if (highlighted_.match(v_.tree, e, walker_) == match_result::MATCH) return colors_.match_row;
        return colors_.plain_row;
    }

    // An entry's depth as drawn: compact chains above it count as one level.
    int64_t depth_shown(uint64_t index) const {
        int64_t depth = v_.tree.at(index).depth;
        if (!v_.tree.compact()) return depth;
        for (entry_index a = v_.tree.at(index).parent; a != NO_ENTRY; a = v_.tree.at(a).parent)
            if (v_.tree.absorbed(a)) --depth;
        return depth;
    }

    outcome row_at(int y, int64_t row) {
        const uint64_t index = v_.tree.row_entry(static_cast<uint64_t>(row));
        const path_entry& entry = v_.tree.at(index);
        const char separator_text[2] = {v_.tree.separator(), '\0'};
        const char* text = entry.name[0] != '\0' ? entry.name : separator_text;
        // A compact chain's row names every directory of the chain, from the
        // first one's place.
        const uint64_t start = v_.tree.chain_start(index);
        std::string chain;
        if (start != index) {
            // As in a full path: an empty first name (an absolute path's
            // root) leaves the separator alone in front.
            chain = v_.tree.at(start).name;
            for (uint64_t e = start + 1; e <= index; ++e) {
                chain += v_.tree.separator();
                chain += v_.tree.at(e).name;
            }
            text = chain.c_str();
        }

        // Scrolling sideways eats the indentation first, then the name's
        // leading columns, whole characters at a time (a wide character cut
        // in two leaves a blank); the marker always stays.
        const int64_t indent = 2 * depth_shown(start);
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
        // The tree's own width: the preview pane may take the rest.
        const int width = layout_.tree_width;
        const int column = static_cast<int>(std::min<int64_t>(x, width));
        constexpr int MARKER_COLUMNS = 2;

        const color_pair colors = colors_of_row(row, start, index);
        // Marker and name are printed apart, so a long name is never copied.
        int rc = frame_.print(column, y, colors.fg, colors.bg, marker_of(v_, index));
        if (!drawn(rc)) return fail("failed to print path", rc);
        bool cut_at_right = rc == TB_ERR_OUT_OF_BOUNDS;
        // Scrolled past the whole name, the rest of the scroll eats into
        // the count that follows it.
        const int64_t count_skip = std::max<int64_t>(-blank, 0);
        blank = std::max<int64_t>(blank, 0);
        const int text_x = static_cast<int>(std::min<int64_t>(column + MARKER_COLUMNS + blank, width));
        rc = frame_.print(text_x, y, colors.fg, colors.bg, text + cut);
        if (!drawn(rc)) return fail("failed to print path", rc);
        // The layer reports a text cut at the screen's edge; rows never start
        // left of 0, so that edge is the right one. The tree's edge, where a
        // pane stands beside it, is measured.
        const int64_t text_end = text_x + tb_text_columns(text + cut);
        cut_at_right = cut_at_right || rc == TB_ERR_OUT_OF_BOUNDS || text_end > width ||
                       column + MARKER_COLUMNS > width;
        // A mark on any directory of a chain shows on its row, as `o` would
        // print it.
        if (const uint64_t mark = v_.marks.next(start); mark < v_.marks.size() && mark <= index) {
            const color_pair sign = colors_.mark_sign(colors);
            rc = frame_.set_cell(column + 1, y, MARK_SIGN, sign.fg, sign.bg);
            if (!drawn(rc)) return fail("failed to print path", rc);
        }
        if (v_.show_counts && entry.nchildren != 0 && !cut_at_right &&
            count_skip < static_cast<int64_t>(count_text(entry.subtree_end - index - 1).size())) {
            // The count is ASCII: a column a byte.
            const std::string count =
                count_text(entry.subtree_end - index - 1).substr(static_cast<size_t>(count_skip));
            rc = frame_.print(static_cast<int>(text_end), y, count_colors().fg, count_colors().bg,
                              count.c_str());
            if (!drawn(rc)) return fail("failed to print path", rc);
            cut_at_right = rc == TB_ERR_OUT_OF_BOUNDS || text_end + tb_text_columns(count) > width;
        }
        if (cut_at_right) {
            rc = frame_.set_cell(width - 1, y, '>', colors_.indicator.fg, colors_.indicator.bg);
            if (!drawn(rc)) return fail("failed to print '>' symbol", rc);
        }
        if (cut > 0) {
            rc = frame_.set_cell(0, y, '<', colors_.indicator.fg, colors_.indicator.bg);
            if (!drawn(rc)) return fail("failed to print '<' symbol", rc);
        }
        return {};
    }

    // How many entries lie below a directory, after its name: dimmed, or in
    // brackets where attributes are all there is.
    std::string count_text(uint64_t below) const {
        return &colors_ == &ATTRIBUTES ? "  [" + grouped(below) + "]" : "  " + grouped(below);
    }
    color_pair count_colors() const {
        return {&colors_ == &ATTRIBUTES ? TB_DEFAULT : TB_DIM, TB_DEFAULT};
    }

    // The bottom row: the status text or the prompt from column 0, the
    // indicators, and the position counter ending at the last column.
    outcome status_row() {
        const int y = v_.screen.height - 1;
        const int width = v_.screen.width;

        char counter[256];
        int length = snprintf(counter, 254, "   %" PRIu64 "/%" PRIu64,
                              static_cast<uint64_t>(v_.view.cursor) + 1, v_.tree.size());
        length = std::min(length, 253);
        counter[length++] = ' ';
        counter[length] = '\0';
        // On a terminal narrower than the counter none of it is drawn, rather
        // than a stray tail of digits.
        const int counter_x = width - length;
        std::string shown = indicators(v_);
        const int shown_x = counter_x - static_cast<int>(shown.size());

        status_line row;
        color_pair colors;
        // Where the text that the indicators must not cover ends.
        int64_t text_end = 0;
        bool counter_drawn = counter_x >= 0;
        // The prompt's columns scrolled off at the left, and its cursor.
        int64_t scrolled = 0;
        int64_t prompt_cursor = 0;
        if (v_.help.open) {
            row.show("Help: j, k, PgUp, PgDn scroll; any other key closes it");
            colors = colors_.message;
        } else if (v_.prompt.open) {
            // The prompt's row always comes from the prompt itself, whatever
            // the mouse has done to the status line meanwhile. Column 0 is
            // the row's leading blank, column 1 the prefix. What is typed
            // matters more than the counter, which gives way when the text
            // would reach it; a text wider than the row scrolls so that the
            // cursor stays on it.
            const std::string_view text = v_.prompt.editor.text();
            prompt_cursor =
                2 + tb_text_columns(text.substr(0, static_cast<size_t>(v_.prompt.editor.pos())));
            text_end = 2 + tb_text_columns(text);
            if (!v_.prompt.problem.empty()) text_end += 2 + tb_text_columns(v_.prompt.problem);
            if (text_end > counter_x) counter_drawn = false;
            size_t cut = 0;
            if (prompt_cursor >= width)
                cut = tb_skip_columns(text, prompt_cursor - (width - 1), &scrolled);
            prompt_cursor -= scrolled;
            text_end -= scrolled;
            row.show(std::string(1, v_.prompt.prefix()).append(text.substr(cut)));
            colors = colors_.prompt;
        } else {
            colors = colors_.of(v_.status.style());
            row = v_.status;
            const int64_t room = (shown.empty() ? counter_x : shown_x - 2) - 1;
            const int64_t columns = tb_text_columns(row.text());
            const std::string& path = row.text();
            if (row.is_path() && room > 1 && (columns > room || path.size() > status_line::TEXT_MAX)) {
                // A path too long for the row keeps its end, the name, and
                // says that its start is cut. The row holds TEXT_MAX bytes
                // at most, which a wide terminal can pass before its columns.
                const std::string_view ellipsis = "…";
                int64_t skipped = 0;
                size_t cut = columns > room ? tb_skip_columns(path, columns - (room - 1), &skipped) : 0;
                while (path.size() - cut > status_line::TEXT_MAX - ellipsis.size())
                    cut += utf8_at(path, cut).length;
                while (cut < path.size() && joins_previous(path, cut)) cut += utf8_at(path, cut).length;
                row.show_path(std::string(ellipsis).append(path, cut));
            }
            // A failure is not covered by the indicators: they give way.
            if (row.style() == status_style::ERROR) text_end = 1 + tb_text_columns(row.text());
        }
        if (shown_x <= text_end || !counter_drawn) shown.clear();

        int rc = frame_.print(0, y, colors.fg, colors.bg, row.row().c_str());
        if (!drawn(rc)) return fail("failed to print prompt message", rc);
        if (scrolled > 0) {
            rc = frame_.set_cell(0, y, '<', colors_.indicator.fg, colors_.indicator.bg);
            if (!drawn(rc)) return fail("failed to print '<' symbol", rc);
        }
        if (v_.prompt.open && !v_.prompt.problem.empty()) {
            // What the typed pattern does not do is said beside it.
            const int x = static_cast<int>(text_end - tb_text_columns(v_.prompt.problem));
            rc = frame_.print(x, y, colors_.error.fg, colors_.error.bg, v_.prompt.problem.c_str());
            if (!drawn(rc)) return fail("failed to print prompt message", rc);
        }
        if (counter_drawn) {
            if (!shown.empty()) {
                rc = frame_.print(shown_x, y, colors.fg, colors.bg, shown.c_str());
                if (!drawn(rc)) return fail("failed to print prompt message", rc);
            }
            rc = frame_.print(counter_x, y, colors.fg, colors.bg, counter);
            if (!drawn(rc)) return fail("failed to print prompt message", rc);
        }
        if (v_.prompt.open) {
            tb_set_cursor(static_cast<int>(prompt_cursor), y);
        } else {
            tb_hide_cursor();
        }
        return {};
    }

    const viewer& v_;
    term_cells::grid& frame_;
    const pane_layout layout_ = layout_of(v_);
    full_path_walker walker_;
    const int64_t cursor_;
    const palette& colors_;
    const search_pattern& highlighted_;
};

} // namespace

outcome paint_frame(const viewer& v, term_cells::grid& frame) {
    frame_painter painter(v, frame);
    return painter.paint();
}

outcome redraw(const viewer& v) {
    int rc = tb_clear();
    if (!drawn(rc)) return fail("failed to clear screen", rc);
    if (outcome painted = paint_frame(v, *tb_frame()); !painted) return painted;
    rc = tb_present();
    if (!drawn(rc)) return fail("failed to synchronize the internal buffer with the terminal", rc);
    return {};
}

} // namespace korvel
