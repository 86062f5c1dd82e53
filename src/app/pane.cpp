#include "app/pane.hpp"

#include <algorithm>

#include "base/digit_groups.hpp"
#include "app/picked.hpp"
#include "app/view.hpp"
#include "app/viewer.hpp"
#include "term/term.hpp"

namespace korvel {

namespace {

using clock = pane_state::clock;

// How long the cursor must rest on an entry before its command starts.
constexpr std::chrono::milliseconds SETTLE{100};
// How long a command may run silent before the pane says it is loading.
constexpr std::chrono::milliseconds SLOW{500};
// Pages of pane rows kept of a preview; past them a command is stopped.
constexpr int64_t PAGES_KEPT = 4;
// "$@" carries the picked paths up to this many bytes; more could pass the
// system's limit on arguments, and $f is there anyway.
constexpr size_t PICKED_ARGUMENT_BYTES = 64 * 1024;
constexpr uint32_t BORDER = 0x2502; // │

int64_t body_rows(const pane_layout& l) { return std::max(0, l.height - 1); }

size_t lines_kept(const viewer& v) {
    return static_cast<size_t>(std::max<int64_t>(1, body_rows(layout_of(v))) * PAGES_KEPT);
}

const std::vector<styled_line>& lines_of(const pane_state& p) {
    return p.output ? p.output->lines() : p.lines;
}

int ms_until(clock::time_point when) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - clock::now()).count();
    return static_cast<int>(std::clamp<int64_t>(left, 0, 60'000));
}

// A mapped command's "$@", unless it is too big for a preview to wait on.
std::vector<std::string> preview_arguments(const viewer& v) {
    std::vector<std::string> paths;
    // Each path takes two bytes at least: so many could never fit, and
    // walking them would hold up the preview of every row.
    if (v.marks.count() > PICKED_ARGUMENT_BYTES / 2) return paths;
    size_t bytes = 0;
    bool fits = true;
    for_each_picked_path(v, [&](std::string_view path) {
        bytes += path.size() + 1;
        if (bytes > PICKED_ARGUMENT_BYTES) fits = false;
        if (fits) paths.push_back(as_argument(path, v.tree.separator()));
    });
    if (!fits) paths.clear();
    return paths;
}

void start_command(viewer& v) {
    pane_state& p = v.pane;
    p.waiting = false;
    p.output = std::make_unique<sgr_filter>(true, lines_kept(v));
    p.started = clock::now();
    p.slow = false;
    std::string failure;
    p.job = preview_command::start(p.command, as_argument(v.tree.full_path(p.shown), v.tree.separator()),
                                   preview_arguments(v),
                                   p.wake_fd, failure);
    if (!p.job) p.note = failure;
}

// Output taken, limits kept, and the end noticed.
bool take_output(viewer& v) {
    pane_state& p = v.pane;
    bool changed = false;
    bool over = false;
    const std::string got = p.job->take(over);
    if (!got.empty()) {
        p.output->feed(got);
        changed = true;
    }
    if (!over && p.output->full()) {
        p.note = "stopped after " + grouped(p.output->lines().size()) + " lines";
        over = true;
    } else if (p.job->capped()) {
        p.note = "stopped after " + grouped(PREVIEW_COMMAND_BYTES / 1024) + " kB";
    }
    if (over && !p.note.empty()) p.job->kill();
    if (over) {
        p.output->finish();
        // Kept only to be waited for: SIGCHLD wakes the loop for that.
        if (p.job->ended()) p.job.reset();
        changed = true;
    }
    return changed;
}

} // namespace

void pane_follow_cursor(viewer& v) {
    pane_state& p = v.pane;
    if (!p.open || p.shown == v.view.cursor) return;
    // The last entry's text goes at once, with its command: nothing of it
    // may stay under the new path's name.
    p.job.reset();
    p.output.reset();
    p.lines.clear();
    p.note.clear();
    p.top = 0;
    p.slow = false;
    p.shown = v.view.cursor;
    if (p.command.empty()) {
        p.waiting = false;
        p.lines = builtin_preview(v.tree, p.shown, lines_kept(v));
    } else {
        p.waiting = true;
        p.start_at = clock::now() + SETTLE;
    }
}

bool pane_tick(viewer& v) {
    pane_state& p = v.pane;
    if (!p.open) return false;
    bool changed = false;
    if (p.waiting && clock::now() >= p.start_at) {
        start_command(v);
        changed = true;
    }
    if (!p.job) return changed;
    if (!p.output->finished()) {
        if (take_output(v)) changed = true;
        if (p.job && !p.output->finished() && !p.slow && clock::now() >= p.started + SLOW) {
            p.slow = true;
            changed = true;
        }
    } else if (p.job->ended()) {
        p.job.reset();
    }
    return changed;
}

int pane_wait_ms(const viewer& v) {
    const pane_state& p = v.pane;
    if (!p.open) return -1;
    if (p.waiting) return ms_until(p.start_at);
    if (p.job && p.output && !p.output->finished() && !p.slow) return ms_until(p.started + SLOW);
    return -1;
}

void pane_stop(viewer& v) {
    pane_state& p = v.pane;
    // The preview is made anew when the cursor is next looked at: a mapped
    // command may have changed what it showed.
    p.job.reset();
    p.waiting = false;
    p.shown = NO_ENTRY;
}

void toggle_pane(viewer& v) {
    pane_state& p = v.pane;
    p.open = !p.open;
    p.job.reset();
    p.output.reset();
    p.lines.clear();
    p.waiting = false;
    p.shown = NO_ENTRY;
    // The tree's area changed: the cursor's row must still show.
    fit_to_screen(v);
}

int64_t pane_page(const viewer& v) { return std::max<int64_t>(1, body_rows(layout_of(v))); }

void scroll_pane(viewer& v, int64_t delta) {
    const int64_t count = static_cast<int64_t>(lines_of(v.pane).size());
    const int64_t last = std::max<int64_t>(0, count - pane_page(v));
    v.pane.top = std::clamp<int64_t>(v.pane.top + delta, 0, last);
}

bool in_pane(const viewer& v, int x, int y) {
    const pane_layout l = layout_of(v);
    return l.shown && x >= l.x && x < l.x + l.width && y >= l.y && y < l.y + l.height;
}

outcome draw_pane(const viewer& v, bool no_color, term_cells::grid& frame) {
    const pane_layout l = layout_of(v);
    if (!l.shown) return {};
    const pane_state& p = v.pane;
    auto drawn = [](int rc) { return rc == 0 || rc == TB_ERR_OUT_OF_BOUNDS; };
    auto fail = [](int rc) { return outcome::failuref("%s: %s", "failed to print preview", tb_strerror(rc)); };
    const bool colors = !no_color && tb_colors_available();
    const uintattr_t title_fg = colors ? TB_BLACK : TB_REVERSE;
    const uintattr_t title_bg = colors ? TB_WHITE : TB_DEFAULT;

    // Whatever the tree drew past its edge goes.
    for (int y = l.y; y < l.y + l.height; ++y) {
        for (int x = l.x; x < l.x + l.width; ++x) {
            const bool title = y == l.y;
            const int rc = frame.set_cell(x, y, ' ', title ? title_fg : TB_DEFAULT,
                                          title ? title_bg : TB_DEFAULT);
            if (!drawn(rc)) return fail(rc);
        }
        if (l.x > 0) {
            const int rc = frame.set_cell(l.x - 1, y, BORDER, TB_DEFAULT, TB_DEFAULT);
            if (!drawn(rc)) return fail(rc);
        }
    }

    std::string note = p.note;
    if (p.slow && p.output && !p.output->finished()) note = note.empty() ? "loading…" : note;
    std::string title = " ";
    if (p.shown != NO_ENTRY) v.tree.append_full_path(p.shown, title);
    int rc = frame.print(l.x, l.y, title_fg | TB_BOLD, title_bg, title.c_str());
    if (!drawn(rc)) return fail(rc);
    if (!note.empty()) {
        note = " " + note + " ";
        const int x = std::max(l.x, l.x + l.width - static_cast<int>(tb_text_columns(note)));
        rc = frame.print(x, l.y, title_fg, title_bg, note.c_str());
        if (!drawn(rc)) return fail(rc);
    }

    const std::vector<styled_line>& lines = lines_of(p);
    const int right = l.x + l.width;
    for (int64_t row = 0; row < body_rows(l); ++row) {
        const auto index = static_cast<size_t>(p.top + row);
        if (index >= lines.size()) break;
        int x = l.x;
        const int y = l.y + 1 + static_cast<int>(row);
        for (const styled_run& run : lines[index].runs) {
            if (x >= right) break;
            const uintattr_t fg = colors ? run.fg : static_cast<uintattr_t>(run.fg & 0xFF00);
            const uintattr_t bg = colors ? run.bg : TB_DEFAULT;
            rc = frame.print(x, y, fg, bg, run.text.c_str());
            if (!drawn(rc)) return fail(rc);
            x += static_cast<int>(std::min<int64_t>(tb_text_columns(run.text), right));
        }
    }
    return {};
}

} // namespace korvel
