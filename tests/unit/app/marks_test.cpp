// Marks on the in-memory screen: the keys that make and clear them, how a
// marked row and the count are drawn, and the paths a pick hands on.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app_fixture.hpp"
#include "app/draw.hpp"
#include "app/loop.hpp"
#include "app/marks.hpp"
#include "app/match_count.hpp"
#include "app/sliced_scans.hpp"
#include "app/picked.hpp"

using namespace korvel;

namespace {

tb_event key(uint16_t code) {
    return tb_event{TB_EVENT_KEY, 0, code, 0, 0, 0, 0, 0};
}
tb_event character(uint32_t ch) {
    return tb_event{TB_EVENT_KEY, 0, 0, ch, 0, 0, 0, 0};
}

// Sorted, this is: a, a/1, a/2, b, b/c, b/c/d, e.
const char* const TREE = "a/1\na/2\nb/c/d\ne\n";

std::string screen_row(int y) {
    std::string text;
    for (int x = 0; x < tb_width(); ++x)
        text += tb_memory_cell_text(x, y);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::vector<std::string> tree_area() {
    std::vector<std::string> rows;
    for (int y = 0; y + 1 < tb_height(); ++y)
        rows.push_back(screen_row(y));
    return rows;
}

class marks : public app_fixture {
  protected:
    void SetUp() override { start(TREE, 30, 8); }

    void start(const std::string& list, int width, int height) {
        load(list, width, height);
        show_current_path(v());
        ASSERT_TRUE(redraw(v()).ok());
    }

    // Dispatched as the loop does, with the work it starts done, and drawn.
    void send(const tb_event& event) {
        const dispatch_result result = dispatch_event(v(), event);
        ASSERT_EQ(result.mapped, nullptr);
        ASSERT_TRUE(result.redraw);
        while (work_pending(v())) run_work(v(), std::chrono::seconds(10));
        ASSERT_TRUE(redraw(v()).ok());
    }
    void type(const std::string& keys) {
        for (const unsigned char c : keys)
            send(character(c));
    }
    void search(const std::string& pattern) {
        send(character('/'));
        type(pattern);
        send(key(TB_KEY_ENTER));
    }

    // The marked entries' full paths, in tree order.
    std::string marked() {
        std::string out;
        for (uint64_t e = v().marks.next(0); e < v().marks.size(); e = v().marks.next(e + 1)) {
            if (!out.empty()) out += ' ';
            out += v().tree.full_path(e);
        }
        return out;
    }
};

TEST_F(marks, TabAndShiftTabMarkAndMoveAndTheMarksOutliveFolding) {
    const struct {
        tb_event event;
        std::string marked;
        int64_t cursor_after;
    } steps[] = {
        {key(TB_KEY_TAB), "a", 1},
        {key(TB_KEY_TAB), "a a/1", 2},
        // Shift-Tab marks too, and moves up.
        {key(TB_KEY_BACK_TAB), "a a/1 a/2", 1},
        // Marking again unmarks.
        {key(TB_KEY_BACK_TAB), "a a/2", 0},
        // Refused at the top: the mark is made all the same.
        {key(TB_KEY_BACK_TAB), "a/2", 0},
        // Folding hides a marked entry but keeps its mark.
        {key(TB_KEY_ENTER), "a/2", 0},
        {character('G'), "a/2", 4},
        {key(TB_KEY_TAB), "a/2 e", 4},
        {character('g'), "a/2 e", 0},
        {key(TB_KEY_ENTER), "a/2 e", 0},
    };
    for (const auto& step : steps) {
        send(step.event);
        EXPECT_EQ(marked(), step.marked);
        EXPECT_EQ(cursor(), step.cursor_after);
    }
    EXPECT_EQ(v().marks.count(), 2u);
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▼ a", "  • 1", "  •✓2", "▼ b", "  ▼ c",
                                                     "    • d", "•✓e"}));
}

TEST_F(marks, MarkingAFoldedDirectoryMarksItsOwnPathOnly) {
    type("jjj"); // b
    send(key(TB_KEY_ENTER));
    send(key(TB_KEY_TAB));
    EXPECT_EQ(marked(), "b");
    EXPECT_EQ(tree_area(),
              (std::vector<std::string>{"▼ a", "  • 1", "  • 2", "▶✓b", "• e", "", ""}));
}

TEST_F(marks, MarkingEveryShownEntryFollowsTheSearchOrTakesEverything) {
    const struct {
        std::string pattern; // searched for first; "" keeps the search as it is
        std::string keys;    // '\t' for Tab
        std::string marked;
        std::string status;
    } steps[] = {
        // Without a search every line counts, folded away or not; the
        // directories a, b and b/c only hold lines.
        {"", "v", "a/1 a/2 b/c/d e", "Marked 4 entries"},
        {"", "v", "", "Unmarked 4 entries"},
        // A name pattern: its matches at any depth.
        {"^[12]$", "v", "a/1 a/2", "Marked 2 entries"},
        // Some of them marked already: the rest are marked, none unmarked.
        {"^[1-9de]$", "v", "a/1 a/2 b/c/d e", "Marked 2 entries"},
        {"", "v", "", "Unmarked 4 entries"},
        // A directory marked by hand stays out of what v changes.
        {"", "g\tv", "a a/1 a/2 b/c/d e", "Marked 4 entries"},
        {"", "v", "a", "Unmarked 4 entries"},
        // Matches that are all made-up directories mark nothing.
        {"^[a-c]$", "v", "a", "Marked 0 entries"},
        // A pattern with the separator is tried against full paths.
        {"b/", "uv", "b/c/d", "Marked 1 entry"},
        {"zz", "v", "b/c/d", "Pattern not found"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.pattern + " " + step.keys);
        if (!step.pattern.empty()) search(step.pattern);
        for (const char c : step.keys)
            send(c == '\t' ? key(TB_KEY_TAB) : character(static_cast<unsigned char>(c)));
        EXPECT_EQ(status_text(), step.status);
        EXPECT_EQ(marked(), step.marked);
    }
}

// v needs the search's matches, which are counted between events: when the
// count is not through, the key returns at once and the marks come when it
// is. A key typed ahead lets them come first, for a while; after that the
// marking is given up and no mark changes.
TEST_F(marks, MarkingWaitsForTheCountBetweenEventsAndGivesWayToTheNextKey) {
    auto search_uncounted = [&](const char* pattern) {
        ASSERT_TRUE(v().search.compile(pattern, 1, '/').ok());
        restart_count(v());
    };
    search_uncounted("^[12]$");
    EXPECT_TRUE(dispatch_event(v(), character('v')).redraw);
    EXPECT_EQ(marked(), "");
    EXPECT_TRUE(work_pending(v()));
    ASSERT_TRUE(redraw(v()).ok());
    EXPECT_NE(screen_row(7).find("marking"), std::string::npos) << screen_row(7);
    while (work_pending(v())) run_work(v(), std::chrono::seconds(10));
    EXPECT_EQ(marked(), "a/1 a/2");
    EXPECT_EQ(status_text(), "Marked 2 entries");

    // Typed ahead: the marks come, then 'j' moves.
    send(character('u'));
    search_uncounted("^[12]$");
    dispatch_event(v(), character('v'));
    send(character('j'));
    EXPECT_EQ(marked(), "a/1 a/2");
    EXPECT_EQ(cursor(), 1);

    // Out of time: the count goes on, but nothing is marked.
    send(character('u'));
    search_uncounted("^[12]$");
    dispatch_event(v(), character('v'));
    settle_work(v(), std::chrono::milliseconds(0));
    EXPECT_FALSE(v().marking);
    while (work_pending(v())) run_work(v(), std::chrono::seconds(10));
    EXPECT_TRUE(v().counted.done);
    EXPECT_EQ(marked(), "");

    // Matches that are all made-up directories, and a pattern that matches
    // nothing, once counted.
    search_uncounted("^[a-c]$");
    dispatch_event(v(), character('v'));
    while (work_pending(v())) run_work(v(), std::chrono::seconds(10));
    EXPECT_EQ(status_text(), "Marked 0 entries");
    search_uncounted("zz");
    dispatch_event(v(), character('v'));
    while (work_pending(v())) run_work(v(), std::chrono::seconds(10));
    EXPECT_EQ(status_text(), "Pattern not found");
    EXPECT_EQ(marked(), "");
}

// A filter entered before its scan was through changes what v marks: v
// waits for it, not marking what the tree showed before.
TEST_F(marks, MarkingWaitsForAFilterEnteredToTakeEffect) {
    for (const char c : std::string("&^[1d]$")) dispatch_event(v(), character(static_cast<unsigned char>(c)));
    dispatch_event(v(), key(TB_KEY_ENTER));
    ASSERT_FALSE(v().filter.active());
    toggle_shown_marks(v());
    EXPECT_EQ(marked(), "");
    while (work_pending(v())) run_work(v(), std::chrono::seconds(10));
    EXPECT_TRUE(v().filter.active());
    EXPECT_EQ(marked(), "a/1 b/c/d");
    EXPECT_EQ(status_text(), "Marked 2 entries");
}

TEST_F(marks, CountsInTheMessageAreGroupedAsOnTheStatusRow) {
    tb_shutdown(); // the fixture opened a screen for its own tree
    std::string list;
    for (int i = 0; i < 1233; ++i) list += "d/" + std::to_string(i) + "\n";
    load(list, 60, 8);
    send(character('v'));
    EXPECT_EQ(status_text(), "Marked 1,233 entries");
    send(character('v'));
    EXPECT_EQ(status_text(), "Unmarked 1,233 entries");
}

TEST_F(marks, UnderAFilterMarkingEveryShownEntryTakesItsMatches) {
    search("^e$"); // a search in force does not count while a filter does
    send(character('g'));
    send(character('&'));
    type("^[1d]$");
    send(key(TB_KEY_ENTER));
    ASSERT_EQ(tree_area(), (std::vector<std::string>{"▼ a", "  • 1", "▼ b", "  ▼ c", "    • d", "", ""}));
    // The matches, not the directories shown to hold them.
    send(character('v'));
    EXPECT_EQ(status_text(), "Marked 2 entries");
    EXPECT_EQ(marked(), "a/1 b/c/d");
    // Tab marks what the cursor is on, shown because it holds a match.
    send(key(TB_KEY_TAB));
    EXPECT_EQ(marked(), "a a/1 b/c/d");
    send(character('v'));
    EXPECT_EQ(status_text(), "Unmarked 2 entries");
    EXPECT_EQ(marked(), "a");
    send(character('v'));
    // Marks outlive the filter, and the search counts again without it.
    send(character('&'));
    send(key(TB_KEY_ENTER));
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▼✓a", "  •✓1", "  • 2", "▼ b", "  ▼ c",
                                                      "    •✓d", "• e"}));
    send(character('v'));
    EXPECT_EQ(marked(), "a a/1 b/c/d e");
}

TEST_F(marks, ClearingTakesEveryMarkHiddenOrNot) {
    send(character('v'));
    send(key(TB_KEY_ENTER)); // a folds over two marked entries
    send(character('u'));
    EXPECT_TRUE(v().marks.empty());
    EXPECT_EQ(marked(), "");
    EXPECT_EQ(tree_area()[0], "▶ a");
}

TEST_F(marks, MarkedRowsShowASignInColourAndWithout) {
    // Row 0 the cursor's, row 1 a match, row 3 plain; all three marked.
    ASSERT_TRUE(v().search.compile("1", 1, '/').ok());
    for (const uint64_t row : {0u, 1u, 3u}) {
        move_cursor_to(v(), static_cast<int64_t>(row));
        toggle_mark_and_move(v(), 0);
    }
    move_cursor_to(v(), 0);
    struct expected {
        int x, y;
        uintattr_t fg, bg;
    };
    const struct {
        bool no_color;
        std::vector<expected> signs;
    } palettes[] = {
        {false,
         {{1, 0, TB_MAGENTA | TB_BOLD, TB_WHITE},
          {3, 1, TB_MAGENTA, TB_YELLOW},
          {1, 3, TB_MAGENTA, TB_DEFAULT}}},
        {true,
         {{1, 0, TB_REVERSE | TB_BOLD, TB_DEFAULT},
          {3, 1, TB_BOLD | TB_UNDERLINE, TB_DEFAULT},
          {1, 3, TB_BOLD, TB_DEFAULT}}},
    };
    for (const auto& palette : palettes) {
        SCOPED_TRACE(palette.no_color ? "attributes" : "colours");
        v().no_color = palette.no_color;
        ASSERT_TRUE(redraw(v()).ok());
        for (const expected& e : palette.signs) {
            SCOPED_TRACE(e.y);
            EXPECT_EQ(tb_memory_cell_text(e.x, e.y), "✓");
            EXPECT_EQ(tb_memory_cell(e.x, e.y).fg, e.fg);
            EXPECT_EQ(tb_memory_cell(e.x, e.y).bg, e.bg);
        }
        // Unmarked rows keep their blank.
        EXPECT_EQ(screen_row(2), "  • 2");
    }
}

TEST_F(marks, SignStaysBesideTheMarkerWhenScrolledSideways) {
    type("j");
    send(key(TB_KEY_TAB)); // a/1
    v().view.hscroll = 2;
    ASSERT_TRUE(redraw(v()).ok());
    EXPECT_EQ(screen_row(1), "•✓1");
    v().view.hscroll = 8; // the name is cut too: '<' covers the marker only
    ASSERT_TRUE(redraw(v()).ok());
    EXPECT_EQ(screen_row(1), "<✓");
}

// A status row of this width: the text at the left, and the right part
// ending one blank before the last column.
std::string status_of(const std::string& left, const std::string& right, int width) {
    std::string row = left;
    row.resize(static_cast<size_t>(width) - right.size() - 1, ' ');
    return row + right;
}

TEST_F(marks, CountStandsLeftOfTheCounterWhichKeepsItsPlace) {
    const struct {
        int width;
        uint64_t marks;
        std::string row; // the status row
    } cases[] = {
        {40, 0, status_of(" a", "1/7", 40)},
        {40, 1, status_of(" a", "marked 1     1/7", 40)},
        {40, 7, status_of(" a", "marked 7     1/7", 40)},
        // Just wide enough: the count covers the status text.
        {18, 3, " marked 3     1/7"},
        // Too narrow for the count: the counter alone, as without marks.
        {17, 3, status_of(" a", "1/7", 17)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        tb_shutdown();
        start(TREE, c.width, 8);
        v().marks.resize(v().tree.size());
        for (uint64_t i = 0; i < c.marks; ++i) v().marks.insert(i);
        ASSERT_TRUE(redraw(v()).ok());
        EXPECT_EQ(screen_row(7), c.row);
        EXPECT_EQ(tb_memory_cell(c.width - 8, 7).fg, TB_BLACK);
        EXPECT_EQ(tb_memory_cell(c.width - 8, 7).bg, TB_WHITE);
    }
    // At the prompt too, in the prompt's colours.
    tb_shutdown();
    start(TREE, 40, 8);
    send(key(TB_KEY_TAB));
    send(character('/'));
    EXPECT_EQ(screen_row(7), status_of(" /", "marked 1     2/7", 40));
    EXPECT_EQ(tb_memory_cell(40 - 12, 7).fg, TB_DEFAULT);
    EXPECT_EQ(tb_memory_cell(40 - 12, 7).bg, TB_DEFAULT);
}

// Reads everything a descriptor gives until its writer is done.
std::string drain(int fd) {
    std::string out;
    char buffer[65536];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<size_t>(n));
    return out;
}

std::string written(const viewer& v, char terminator) {
    FILE* file = tmpfile();
    EXPECT_NE(file, nullptr);
    const outcome done = write_picked(v, fileno(file), terminator);
    EXPECT_TRUE(done.ok()) << done.message();
    rewind(file);
    const std::string out = drain(fileno(file));
    fclose(file);
    return out;
}

TEST_F(marks, PickedPathsComeInTreeOrderOrTheCursorsAlone) {
    type("jj");
    EXPECT_EQ(picked_text(v()), "a/2");
    EXPECT_EQ(written(v(), '\n'), "a/2\n");
    EXPECT_EQ(written(v(), '\0'), std::string("a/2\0", 4));
    // Marked from the bottom up, handed on from the top down; folded or not.
    send(character('G'));
    send(key(TB_KEY_BACK_TAB)); // e
    send(key(TB_KEY_BACK_TAB)); // b/c/d
    send(character('g'));
    send(key(TB_KEY_TAB)); // a
    send(character('k'));
    send(key(TB_KEY_ENTER));
    EXPECT_EQ(picked_text(v()), "a\nb/c/d\ne");
    EXPECT_EQ(written(v(), '\n'), "a\nb/c/d\ne\n");
    EXPECT_EQ(written(v(), '\0'), std::string("a\0b/c/d\0e\0", 10));
}

TEST_F(marks, PathsLongerThanAWriteGoOutWhole) {
    // Two paths of 1.5 MB each, and many short ones between them: blocks
    // fill and are written at every kind of boundary.
    std::string list = std::string(1500000, 'x') + "\n" + std::string(1500000, 'z') + "\n";
    std::string expected = std::string(1500000, 'x') + "\n";
    for (int i = 0; i < 20000; ++i) {
        char line[32];
        snprintf(line, sizeof line, "y/%05d\n", i);
        list += line;
        expected += line;
    }
    expected = std::string(1500000, 'x') + "\n" + expected.substr(1500001) +
               std::string(1500000, 'z') + "\n";
    tb_shutdown();
    start(list, 40, 5);
    send(character('v'));
    const std::string out = written(v(), '\n');
    EXPECT_EQ(out.size(), expected.size());
    EXPECT_TRUE(out == expected);
}

TEST_F(marks, WriteFailureIsReported) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[1]);
    const outcome failed = write_picked(v(), fds[1], '\n');
    close(fds[0]);
    EXPECT_EQ(failed.message(), "failed to write the chosen path: Bad file descriptor");
}

} // namespace
