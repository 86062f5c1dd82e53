// Compact chains in the search and the marks: a chain's row stands for every
// directory in it. n and N stop on each row that holds a match once, in
// order either way; the rank shown counts those rows, and the rows drawn as
// matches are the same ones.
#include <string>
#include <vector>

#include "app_fixture.hpp"
#include "app/draw.hpp"
#include "app/loop.hpp"
#include "app/match_count.hpp"
#include "app/sliced_scans.hpp"

using namespace korvel;

namespace {

tb_event key(uint16_t code) { return tb_event{TB_EVENT_KEY, 0, code, 0, 0, 0, 0, 0}; }
tb_event character(uint32_t ch) { return tb_event{TB_EVENT_KEY, 0, 0, ch, 0, 0, 0, 0}; }

// Chains at the top, in the middle, at the end, one holding the whole tree
// under it, and directories that hold one file (no chain).
const char* const TREE = "0\nshare1/x\nshare1/y\nusr/share/doc/a\nusr/share/doc/b\nusr/lib/share\n"
                         "var/share/x\nopt/b/c/d/file1\nopt/b/c/d/file2\nz/share/c/b\n";

class compact : public app_fixture {
  protected:
    void SetUp() override { load(TREE, 60, 40); }

    void send(const tb_event& event) {
        dispatch_event(v(), event);
        while (work_pending(v())) run_work(v(), std::chrono::seconds(10));
        ASSERT_TRUE(redraw(v()).ok());
    }
    void search(const std::string& pattern) {
        send(character('/'));
        for (const unsigned char c : pattern) send(character(c));
        send(key(TB_KEY_ENTER));
    }

    // The rows whose chain holds an entry the pattern matches, by the
    // matcher itself, entry by entry.
    std::vector<int64_t> rows_holding_a_match() {
        std::vector<int64_t> rows;
        full_path_walker walker(v().tree);
        const path_tree& tree = v().tree;
        for (uint64_t r = 0; r < tree.row_count(); ++r) {
            const uint64_t owner = tree.row_entry(r);
            bool any = false;
            for (uint64_t e = tree.chain_start(owner); e <= owner; ++e)
                any = any || v().search.match(tree, e, walker) == match_result::MATCH;
            if (any) rows.push_back(static_cast<int64_t>(r));
        }
        return rows;
    }

    // The rows drawn in the match colours (the cursor's has its own).
    std::vector<int64_t> highlighted_rows() {
        std::vector<int64_t> rows;
        for (int y = 0; y + 1 < tb_height(); ++y) {
            const int64_t row = v().view.top + y;
            if (row >= static_cast<int64_t>(v().tree.row_count())) break;
            if (row == cursor()) continue;
            bool yellow = false;
            for (int x = 0; x < tb_width(); ++x) yellow = yellow || tb_memory_cell(x, y).bg == TB_YELLOW;
            if (yellow) rows.push_back(row);
        }
        return rows;
    }

    // From the top, the search (or n for the one in force) and then n walk
    // every row that holds a match, ranked 1, 2, ...; N walks them back.
    void check_steps(const std::string& pattern, bool entered) {
        SCOPED_TRACE(pattern + (v().tree.compact() ? " compact" : " full"));
        send(character('g'));
        if (entered) {
            search(pattern);
        } else {
            send(character('n'));
        }
        const std::vector<int64_t> want = rows_holding_a_match();
        ASSERT_FALSE(want.empty());
        // The first row is a match only for patterns that the search from
        // it cannot find; the cases avoid it.
        ASSERT_NE(want.front(), 0);
        EXPECT_EQ(v().counted.total, want.size());
        std::vector<int64_t> forward;
        for (size_t k = 1;; ++k) {
            forward.push_back(cursor());
            EXPECT_EQ(cursor_rank(v()), k) << "row " << cursor();
            if (k == want.size()) break;
            send(character('n'));
        }
        EXPECT_EQ(forward, want);
        EXPECT_EQ(highlighted_rows().size(), want.size() - 1);
        send(character('n'));
        EXPECT_EQ(cursor(), want.back());
        EXPECT_EQ(v().status.text(), "Pattern not found");
        std::vector<int64_t> backward{cursor()};
        for (size_t k = want.size() - 1; k >= 1; --k) {
            send(character('N'));
            backward.insert(backward.begin(), cursor());
            EXPECT_EQ(cursor_rank(v()), k) << "row " << cursor();
        }
        EXPECT_EQ(backward, want);
        send(character('N'));
        EXPECT_EQ(v().status.text(), "Pattern not found");
    }
};

TEST_F(compact, SearchStepsAndRanksRowsWhetherOrNotChainsAreCompact) {
    for (const char* pattern : {"share", "^[bc]$", "^(usr|share|doc)$", "c/d", "^b$"}) {
        if (!v().tree.compact()) send(character('='));
        check_steps(pattern, true);
        // = turns compact chains off and on with the count in force.
        send(character('='));
        check_steps(pattern, false);
        send(character('='));
        check_steps(pattern, false);
    }
}

TEST_F(compact, MarkOfAnInnerDirectoryShowsOnItsRowAndTabTakesItOff) {
    // opt/b/c/d is one row; c is marked while each has its own.
    uint64_t c = 0;
    while (c < v().tree.size() && v().tree.full_path(c) != "opt/b/c") ++c;
    ASSERT_LT(c, v().tree.size());
    v().view.cursor = static_cast<entry_index>(c);
    send(key(TB_KEY_TAB));
    send(character('='));
    const int64_t row = v().tree.row_of(v().tree.row_owner(c));
    ASSERT_EQ(v().tree.full_path(v().tree.row_entry(static_cast<uint64_t>(row))), "opt/b/c/d");
    v().view.cursor = v().tree.row_entry(static_cast<uint64_t>(row));
    ASSERT_TRUE(redraw(v()).ok());
    const int y = static_cast<int>(row - v().view.top);
    EXPECT_EQ(tb_memory_cell_text(1, y), "✓");
    send(key(TB_KEY_TAB));
    EXPECT_TRUE(v().marks.empty());
    EXPECT_EQ(tb_memory_cell_text(1, y), " ");
    // Marked on the row, it is the row's own entry that is.
    v().view.cursor = v().tree.row_entry(static_cast<uint64_t>(row));
    send(key(TB_KEY_TAB));
    EXPECT_EQ(v().marks.count(), 1u);
    EXPECT_TRUE(v().marks.contains(v().tree.row_owner(c)));
    EXPECT_EQ(tb_memory_cell_text(1, y), "✓");
}

} // namespace
