// The viewer driven by random event sequences on the in-memory screen: keys
// of every kind, clicks, the wheel, resizes down to one cell, prompt edits
// and submissions (searches and filters), marks, on a small random tree.
// After every event, and the work it starts, the viewer's invariants are
// checked: the cursor on a visible row, the visible rows exactly the entries
// shown (under a filter, its matches and their ancestors) whose ancestors
// are all unfolded, the prompt within its limit, the marks changed only by
// the keys that mark (and exactly as those keys say, whatever folding and
// filtering did meanwhile) with their count equal to the members, and the
// drawn frame showing those rows and marks.
//
// Input: byte 0 picks the number of lines (1 to 32) and, with its top bit,
// lines ended by NUL bytes only, which may then hold newlines; each line is
// a length byte then that many bytes mapped onto a small alphabet, so that
// lines share components. The rest are events, one or two bytes each.

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fuzz_check.hpp"
#include "app/draw.hpp"
#include "app/loop.hpp"
#include "app/view.hpp"
#include "app/viewer.hpp"
#include "app/sliced_scans.hpp"
#include "tree/path_tree.hpp"
#include "plain_load.hpp"
#include "search_probe.hpp"
#include "term/term.hpp"
#include "tree_oracle.hpp"

using namespace korvel;

namespace {

constexpr char ALPHABET[] = {'a', 'b', '/', 'c', '/', 'd', '.', '/'};
// Read with NUL bytes as the only line ends, names may hold newlines.
constexpr char NUL_ONLY_ALPHABET[] = {'a', 'b', '/', 'c', '/', 'd', '\n', '/'};

struct list_text {
    std::string text;
    bool nul_only;
};

class byte_reader {
  public:
    byte_reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool done() const { return at_ >= size_; }
    uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

list_text make_list(byte_reader& in) {
    list_text list;
    const uint8_t first = in.next();
    const int lines = 1 + first % 32;
    list.nul_only = (first & 0x80) != 0;
    const char* alphabet = list.nul_only ? NUL_ONLY_ALPHABET : ALPHABET;
    for (int i = 0; i < lines; ++i) {
        const int length = 1 + in.next() % 10;
        for (int j = 0; j < length; ++j) list.text += alphabet[in.next() % sizeof ALPHABET];
        list.text += list.nul_only ? '\0' : '\n';
    }
    return list;
}

tb_event key(uint16_t k) { return tb_event{TB_EVENT_KEY, 0, k, 0, 0, 0, 0, 0}; }
tb_event character(uint32_t c) { return tb_event{TB_EVENT_KEY, 0, 0, c, 0, 0, 0, 0}; }

// Keys of the tree and of the prompt, and some that nothing binds. The
// clipboard key is left out: it would start a program on every run. Tab and
// Shift-Tab mark.
const uint16_t KEYS[] = {TB_KEY_CTRL_A, TB_KEY_CTRL_K, TB_KEY_CTRL_W, TB_KEY_CTRL_L,
                         TB_KEY_CTRL_N, TB_KEY_CTRL_P,TB_KEY_CTRL_B,     TB_KEY_CTRL_D,      TB_KEY_CTRL_E,
                         TB_KEY_CTRL_F,     TB_KEY_ENTER,       TB_KEY_CTRL_U,
                         TB_KEY_CTRL_Y,     TB_KEY_CTRL_Z,      TB_KEY_ESC,
                         TB_KEY_ARROW_UP,   TB_KEY_ARROW_DOWN,  TB_KEY_ARROW_LEFT,
                         TB_KEY_ARROW_RIGHT, TB_KEY_DELETE,     TB_KEY_BACKSPACE2,
                         TB_KEY_CTRL_C,     TB_KEY_TAB,         TB_KEY_HOME,
                         TB_KEY_END,        TB_KEY_PGUP,        TB_KEY_PGDN,
                         TB_KEY_F1,         TB_KEY_BACK_TAB};
const uint32_t CHARACTERS[] = {' ', '/', '?', 'G', 'N', 'c', 'g', 'h', 'j', 'k', 'l',
                               'n', 'o', 'p', 'q', 'z', 'a', 'b', 'd', '.', '*', '(',
                               '[', '^', '$', 0xE9, 0x4E2D, 0x1F600, 0x301, 'x',
                               '&', '&', '-', '+', '|', 'B', 'H', '#', '=', '=', 'v', 'u'};
const uint16_t MOUSE[] = {TB_KEY_MOUSE_LEFT, TB_KEY_MOUSE_WHEEL_UP, TB_KEY_MOUSE_WHEEL_DOWN,
                          TB_KEY_MOUSE_RIGHT, TB_KEY_MOUSE_RELEASE};

tb_event make_event(byte_reader& in) {
    const uint8_t kind = in.next();
    const uint8_t arg = in.next();
    // One key in sixteen comes with Alt, as Escape and a key pressed at once.
    const uint8_t alt = (kind / 4) % 16 == 15 ? TB_MOD_ALT : 0;
    switch (kind % 4) {
    case 0: {
        tb_event e = key(KEYS[arg % (sizeof KEYS / sizeof KEYS[0])]);
        e.mod |= alt;
        return e;
    }
    case 1: {
        tb_event e = character(CHARACTERS[arg % (sizeof CHARACTERS / sizeof CHARACTERS[0])]);
        e.mod |= alt;
        return e;
    }
    case 2: {
        tb_event e{TB_EVENT_MOUSE, 0, MOUSE[arg % (sizeof MOUSE / sizeof MOUSE[0])], 0, 0, 0, 0, 0};
        e.x = arg % 7;
        e.y = (arg / 5) % 24;
        return e;
    }
    default: {
        tb_event e{TB_EVENT_RESIZE, 0, 0, 0, 0, 0, 0, 0};
        e.w = 1 + arg % 40;
        e.h = 1 + (arg / 40) % 16;
        return e;
    }
    }
}

// Under a filter: what its pattern matches, and those entries' ancestors.
bit_set kept_in_model(const viewer& v) {
    bit_set kept(v.tree.size());
    for (uint64_t e = 0; e < v.tree.size(); ++e) {
        if (match_entry(*v.filter.pattern, v.tree, e) != match_result::MATCH) continue;
        for (uint64_t a = e; a != NO_ENTRY; a = v.tree.at(a).parent) kept.set(a);
    }
    return kept;
}

// In compact mode a directory holding exactly one directory, which shows,
// shares that one's row: it has no row of its own and is open whatever its
// flag says.
bool absorbed_in_model(const path_tree& tree, uint64_t entry, const bit_set* kept) {
    const path_entry& e = tree.at(entry);
    return tree.compact() && e.nchildren == 1 && tree.at(entry + 1).nchildren != 0 &&
           (kept == nullptr || kept->test(entry + 1));
}

bool shown_in_model(const path_tree& tree, uint64_t entry, const bit_set* kept) {
    if (kept != nullptr && !kept->test(entry)) return false;
    if (absorbed_in_model(tree, entry, kept)) return false;
    for (entry_index a = tree.at(entry).parent; a != NO_ENTRY; a = tree.at(a).parent)
        if (tree.at(a).folded && !absorbed_in_model(tree, a, kept)) return false;
    return true;
}

void check_rows(const viewer& v) {
    const path_tree& tree = v.tree;
    bit_set kept;
    if (v.filter.active()) {
        kept = kept_in_model(v);
        FUZZ_CHECK(kept == v.filter.kept);
        FUZZ_CHECK(v.filter.count == v.filter.matches.count());
        FUZZ_CHECK(v.filter.count > 0);
    }
    uint64_t row = 0;
    for (uint64_t entry = 0; entry < tree.size(); ++entry) {
        if (!shown_in_model(tree, entry, v.filter.active() ? &kept : nullptr)) continue;
        FUZZ_CHECK(row < tree.row_count());
        FUZZ_CHECK(tree.row_entry(row) == entry);
        ++row;
    }
    FUZZ_CHECK(row == tree.row_count());
}

std::string marker_of(const viewer& v, uint64_t index) {
    const path_entry& entry = v.tree.at(index);
    if (entry.nchildren == 0) return "•";
    // Under a filter, a directory that shows nothing below it is a leaf.
    if (v.filter.active()) {
        bool any = false;
        for (uint64_t e = index + 1; e < entry.subtree_end; ++e) any = any || v.filter.kept.test(e);
        if (!any) return "•";
    }
    return entry.folded ? "▶" : "▼";
}

void check_frame(const viewer& v) {
    if (v.help.open) return;
    const int width = tb_width();
    const int height = tb_height();
    for (int y = 0; y + 1 < height; ++y) {
        const int64_t row = v.view.top + y;
        if (row < 0 || row >= static_cast<int64_t>(v.tree.row_count())) {
            for (int x = 0; x < width; ++x) FUZZ_CHECK(tb_memory_cell_text(x, y) == " ");
            continue;
        }
        const uint64_t index = v.tree.row_entry(static_cast<uint64_t>(row));
        const uint64_t start = v.tree.chain_start(index);
        int64_t depth = v.tree.at(start).depth;
        for (entry_index a = v.tree.at(start).parent; a != NO_ENTRY; a = v.tree.at(a).parent)
            if (v.tree.absorbed(a)) --depth;
        const int64_t column = 2 * depth - v.view.hscroll;
        if (column >= 0 && column < width - 1)
            FUZZ_CHECK(tb_memory_cell_text(static_cast<int>(column), y) == marker_of(v, index));
        // The blank after the marker holds the sign of a marked row (a
        // compact chain's row is marked when any of its directories is),
        // unless the right indicator covers it.
        if (column >= 0 && column + 1 < width - 1) {
            bool marked = false;
            for (uint64_t e = start; e <= index; ++e) marked = marked || v.marks.contains(e);
            FUZZ_CHECK(tb_memory_cell_text(static_cast<int>(column) + 1, y) == (marked ? "✓" : " "));
        }
    }
}

std::vector<bool> marks_of(const viewer& v) {
    std::vector<bool> marks(v.tree.size());
    for (uint64_t e = 0; e < v.tree.size(); ++e) marks[e] = v.marks.contains(e);
    return marks;
}

// The marks after 'v' has marked, from those before it: the filter's
// matches; without one the search's; with neither, every entry; of those,
// only the lines of the input.
std::vector<bool> marked_by_v(const viewer& v, const std::vector<bool>& before,
                              const std::set<std::string>& given) {
    std::vector<bool> expected = before;
    std::vector<bool> shown(before.size());
    bool failed = false;
    for (uint64_t e = 0; e < shown.size(); ++e) {
        if (v.filter.active()) {
            shown[e] = v.filter.matches.test(e);
        } else if (!v.search.active()) {
            shown[e] = true;
        } else {
            const match_result result = match_entry(v.search, v.tree, e);
            shown[e] = result == match_result::MATCH;
            failed = failed || result == match_result::FAILED;
        }
        shown[e] = shown[e] && given.count(v.tree.full_path(e)) != 0;
    }
    bool any = false, all_marked = true;
    for (uint64_t e = 0; e < shown.size(); ++e) {
        any = any || shown[e];
        all_marked = all_marked && (!shown[e] || before[e]);
    }
    for (uint64_t e = 0; e < shown.size() && any && !failed; ++e)
        if (shown[e]) expected[e] = !all_marked;
    return expected;
}

// The marks after an event: changed only by the marking keys in the tree,
// and exactly as they say; the count and the walk agree with the members.
void check_marks(const viewer& v, const tb_event& event, const std::vector<bool>& before,
                 entry_index cursor_before, bool in_tree, const std::set<std::string>& given) {
    const std::vector<bool> after = marks_of(v);
    uint64_t members = 0;
    for (const bool marked : after) members += marked;
    FUZZ_CHECK(members == v.marks.count());
    uint64_t walked = 0;
    for (uint64_t e = v.marks.next(0); e < v.marks.size(); e = v.marks.next(e + 1)) {
        FUZZ_CHECK(e < after.size() && after[e]);
        ++walked;
    }
    FUZZ_CHECK(walked == members);

    std::vector<bool> expected = before;
    const bool tree_key = event.type == TB_EVENT_KEY && !(event.mod & TB_MOD_ALT) && in_tree;
    if (tree_key && (event.key == TB_KEY_TAB || event.key == TB_KEY_BACK_TAB)) {
        // A row that shows a mark loses every mark of its compact chain;
        // one that shows none gets its own entry's.
        const uint64_t start = v.tree.chain_start(cursor_before);
        bool marked = false;
        for (uint64_t e = start; e <= cursor_before; ++e) marked = marked || before[e];
        for (uint64_t e = start; e <= cursor_before; ++e) expected[e] = false;
        expected[cursor_before] = !marked;
    } else if (tree_key && event.key == 0 && event.ch == 'u') {
        expected.assign(expected.size(), false);
    } else if (tree_key && event.key == 0 && event.ch == 'v' && !v.marking) {
        // Still waiting for its entries, v has changed nothing yet.
        expected = marked_by_v(v, before, given);
    }
    FUZZ_CHECK(after == expected);
}

void check(const viewer& v) {
    check_rows(v);
    const int64_t cursor = v.tree.row_of(v.view.cursor);
    FUZZ_CHECK(cursor >= 0 && cursor < static_cast<int64_t>(v.tree.row_count()));
    FUZZ_CHECK(v.view.hscroll >= 0);
    const std::string_view text = v.prompt.editor.text();
    FUZZ_CHECK(text.size() <= RL_LINE_MAX);
    FUZZ_CHECK(v.prompt.editor.pos() >= 0 &&
               static_cast<size_t>(v.prompt.editor.pos()) <= text.size());
    FUZZ_CHECK(v.status.text().size() <= status_line::TEXT_MAX);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    byte_reader in(data, size);
    const list_text list = make_list(in);
    FILE* stream = fmemopen(const_cast<char*>(list.text.data()), list.text.size(), "r");
    input_lines lines;
    const outcome read = get_lines(stream, '/', lines, list.nul_only);
    fclose(stream);
    FUZZ_CHECK(read.ok());
    sort_lines(lines.items, lines.count, '/');
    viewer v;
    FUZZ_CHECK(build_path_tree(std::move(lines), '/', (size % 3) == 0, v.tree).ok());
    const std::vector<std::string> given_lines = split_lines(list.text, list.nul_only);
    FUZZ_CHECK(tree_fault(v.tree, given_lines, '/').empty());
    const std::set<std::string> given = given_paths(given_lines, '/');
    FUZZ_CHECK(v.tree.size() > 0);
    v.view.cursor = v.tree.row_entry(0);

    FUZZ_CHECK(tb_init_memory(20, 8) == 0);
    v.screen = {20, 8};
    show_current_path(v);
    FUZZ_CHECK(redraw(v).ok());
    while (!in.done()) {
        tb_memory_push_event(make_event(in));
        tb_event event{};
        FUZZ_CHECK(tb_peek_event(&event, 0) == 0);
        if (v.marking) {
            // A 'v' still waiting when this event comes: given its grace it
            // marks as it would have at once; out of time it marks nothing.
            const std::vector<bool> waiting = marks_of(v);
            const bool in_time = in.next() % 2 == 0;
            settle_work(v, in_time ? std::chrono::milliseconds(10000) : std::chrono::milliseconds(0));
            FUZZ_CHECK(!v.marking && !v.jump);
            FUZZ_CHECK(marks_of(v) == (in_time ? marked_by_v(v, waiting, given) : waiting));
        }
        const std::vector<bool> marks_before = marks_of(v);
        const entry_index cursor_before = v.view.cursor;
        // Keys that reach the tree, not the prompt or the help screen.
        const bool in_tree = !v.prompt.open && !v.help.open;
        const std::string typed_before(v.prompt.editor.text());
        const bool help_before = v.help.open;
        const dispatch_result result = dispatch_event(v, event);
        FUZZ_CHECK(result.mapped == nullptr);
        // Nothing is bound to an Alt-key, in the tree or at the prompt (on
        // the help screen any key closes it).
        if (event.type == TB_EVENT_KEY && (event.mod & TB_MOD_ALT) && !help_before) {
            FUZZ_CHECK(v.view.cursor == cursor_before);
            FUZZ_CHECK(v.prompt.editor.text() == typed_before);
            FUZZ_CHECK(v.stop == STOP_NONE);
        }
        // As the loop does when no key follows; a key in between would
        // replace the work.
        if (in.next() % 4 != 0) {
            while (work_pending(v)) run_work(v, std::chrono::seconds(10));
        }
        v.stop = STOP_NONE;
        check(v);
        check_marks(v, event, marks_before, cursor_before, in_tree, given);
        FUZZ_CHECK(redraw(v).ok());
        check_frame(v);
    }
    tb_shutdown();
    return 0;
}
