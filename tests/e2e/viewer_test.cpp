// The viewer as a user meets it: the real binary in a pseudo-terminal, keys
// and mouse in, the screen read back cell by cell, the terminal handed back
// at the end, signals and suspension.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.hpp"
#include "screen.hpp"

namespace {

using namespace e2e::screen;

const std::string KORVEL = KORVEL_BINARY;
const std::string JOBSHELL = TEST_PROGRAMS_DIR "/jobshell";

// A small tree: README, src, main.c, util, str.c.
const std::string EXAMPLE = "README\nsrc/main.c\nsrc/util/str.c\n";

// Entries a, 1, 2, b, c, d, e: two directories, one nested, and leaves at
// every depth.
const std::string TREE = "a/1\na/2\nb/c/d\ne\n";
const std::vector<std::string> TREE_ROWS{"▼ a", "  • 1", "  • 2", "▼ b", "  ▼ c", "    • d", "• e"};

// f00 to f<n-1>, one flat entry each, in the order they sort.
std::string numbered(int n) {
    std::string list;
    for (int i = 0; i < n; ++i) {
        char line[16];
        snprintf(line, sizeof line, "f%02d\n", i);
        list += line;
    }
    return list;
}

std::vector<std::string> padded(std::vector<std::string> rows, int n) {
    rows.resize(static_cast<size_t>(n));
    return rows;
}

// Waits for a whole frame: the tree area from row 0 (rows not named are
// blank), the cursor drawn on `cursor_row` (-1: on none), and a status row
// that begins with `status`. A frame reaches the terminal in pieces, so
// every part of it is waited for, not just one.
testing::AssertionResult shows(e2e::session& s, const std::vector<std::string>& rows,
                               int cursor_row, const std::string& status = "") {
    const std::vector<std::string> want = padded(rows, s.rows() - 1);
    const auto matches = [&] {
        return tree_rows(s) == want && bold_row(s) == cursor_row &&
               status_row(s).rfind(status, 0) == 0;
    };
    if (s.wait_for(matches)) return testing::AssertionSuccess();
    std::string expected;
    for (size_t r = 0; r < want.size(); ++r) expected += std::to_string(r) + "|" + want[r] + "\n";
    return testing::AssertionFailure() << "want cursor on row " << cursor_row << ", status \""
                                       << status << "\", rows\n"
                                       << expected << "got " << s.dump();
}

// Checks that inputs change nothing, without trusting a quiet spell to mean
// they were handled: each input is followed by 'j', whose frame from the
// same state is measured first. Once the cursor stands on the next row,
// whatever the input made the program do has reached the terminal, and every
// byte since the input must be that frame. 'k' takes the cursor back after
// each step, so the caller finds the screen as it left it. The cursor needs
// an entry below it on the screen.
class nothing_drawn {
  public:
    explicit nothing_drawn(e2e::session& s) : s_(s) {
        // The frame before may still be on its way; it is the state to keep.
        s_.settle();
        rows_ = tree_rows(s_);
        cursor_ = bold_row(s_);
        status_ = status_row(s_);
        // Once there and back first, so that every measured 'j' starts from
        // the state a 'k' leaves.
        s_.send("j");
        calibrated_ = s_.wait_for([&] { return bold_row(s_) == cursor_ + 1; }) && back();
        const size_t before = s_.raw_output().size();
        s_.send("j");
        calibrated_ = calibrated_ && s_.wait_for([&] { return bold_row(s_) == cursor_ + 1; });
        s_.settle();
        frame_ = s_.raw_output().substr(before);
        moved_rows_ = tree_rows(s_);
        moved_status_ = status_row(s_);
        calibrated_ = calibrated_ && !frame_.empty() && back();
    }

    testing::AssertionResult operator()(const std::string& input) {
        if (!calibrated_)
            return testing::AssertionFailure() << "'j' and 'k' did not move the cursor\n"
                                               << s_.dump();
        const size_t before = s_.raw_output().size();
        s_.send(input);
        s_.send("j");
        const bool moved = s_.wait_for([&] {
            return bold_row(s_) == cursor_ + 1 && tree_rows(s_) == moved_rows_ &&
                   status_row(s_) == moved_status_;
        });
        s_.settle();
        if (s_.exited())
            return testing::AssertionFailure() << escaped(input) << " ended the program\n"
                                               << s_.dump();
        const std::string drawn = s_.raw_output().substr(before);
        if (!moved || drawn != frame_)
            return testing::AssertionFailure()
                   << escaped(input) << " then j drew " << escaped(drawn) << "\nwhere j alone draws "
                   << escaped(frame_) << "\n"
                   << s_.dump();
        if (!back())
            return testing::AssertionFailure() << "k after " << escaped(input)
                                               << " did not come back\n"
                                               << s_.dump();
        return testing::AssertionSuccess();
    }

  private:
    // 'k', and every byte of its frame in.
    bool back() {
        s_.send("k");
        const bool there = s_.wait_for([&] {
            return bold_row(s_) == cursor_ && tree_rows(s_) == rows_ && status_row(s_) == status_;
        });
        s_.settle();
        return there;
    }

    e2e::session& s_;
    std::vector<std::string> rows_;
    int cursor_ = -1;
    std::string status_;
    std::vector<std::string> moved_rows_;
    std::string moved_status_;
    std::string frame_;
    bool calibrated_ = false;
};

// The terminal as the program found it: main screen, cursor shown, no mouse.
testing::AssertionResult restored(const e2e::session& s) {
    if (!s.alt_screen() && s.cursor_visible() && !s.mouse_reporting() && !s.private_mode(1002) &&
        !s.private_mode(1006))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "terminal not restored\n" << s.dump();
}

std::vector<std::string> cells_of(const std::string& text) {
    std::vector<std::string> cells;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        cells.push_back(text.substr(i, n));
        i += n;
    }
    return cells;
}

struct look {
    int fg;
    int bg;
    bool bold;
};

// `text` stands at `col` of `row` in the given colours, with nothing but
// cleared cells before and after it.
void expect_drawn(const e2e::session& s, int row, int col, const std::string& text, look colours) {
    SCOPED_TRACE("row " + std::to_string(row) + " \"" + text + "\"");
    EXPECT_EQ(s.row_text(row), std::string(static_cast<size_t>(col), ' ') + text) << s.dump();
    const std::vector<std::string> cells = cells_of(text);
    for (int c = 0; c < s.cols(); ++c) {
        const e2e::cell got = s.cell_at(row, c);
        const bool inside = c >= col && c < col + static_cast<int>(cells.size());
        const look want = inside ? colours : look{DEFAULT, DEFAULT, false};
        if (!inside && got.bg == DEFAULT && !got.bold) continue; // blank, foreground unseen
        EXPECT_EQ(got.fg, want.fg) << "column " << c;
        EXPECT_EQ(got.bg, want.bg) << "column " << c;
        EXPECT_EQ(got.bold, want.bold) << "column " << c;
    }
}

// View of the numbered list: which entry heads the screen, which one the
// status row names, and where the cursor is drawn.
// Every tree row must agree with the top, or the frame is not complete.
std::string flat_view(const e2e::session& s) {
    int top = 0;
    bool found = false;
    bool ended = false; // only blank rows may follow the last entry
    for (int r = 0; r + 1 < s.rows(); ++r) {
        const std::string text = s.row_text(r);
        if (text.empty()) {
            ended = found;
            continue;
        }
        if (ended || text.rfind("• f", 0) != 0) return "row " + std::to_string(r) + " is " + text;
        const int at = std::stoi(text.substr(5)) - r;
        if (found && at != top) return "rows disagree at row " + std::to_string(r);
        top = at;
        found = true;
    }
    const std::string status = status_row(s);
    const int cursor = status.rfind(" f", 0) == 0 ? std::stoi(status.substr(2)) : -1;
    return "top " + (found ? std::to_string(top) : "?") + " cursor " + std::to_string(cursor) +
           " on row " + std::to_string(bold_row(s));
}

std::string flat_view(int rows, int top, int cursor) {
    const int row = cursor - top >= 0 && cursor - top < rows - 1 ? cursor - top : -1;
    return "top " + std::to_string(top) + " cursor " + std::to_string(cursor) + " on row " +
           std::to_string(row);
}

struct page_step {
    std::string keys;
    int top;
    int cursor;
};

// Each step from the state the one before left.
void run_page_steps(int rows, const std::vector<page_step>& steps) {
    e2e::session s(korvel(numbered(100), rows, 40));
    ASSERT_TRUE(ready(s));
    for (const page_step& step : steps) {
        const std::string want = flat_view(rows, step.top, step.cursor);
        s.send(step.keys);
        EXPECT_TRUE(s.wait_for([&] { return flat_view(s) == want; }))
            << rows << " rows, after " << escaped(step.keys) << ": " << flat_view(s)
            << ", want " << want << "\n"
            << s.dump();
    }
    s.send("q");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
}

TEST(ViewerScreen, TreeRowsColoursAndCounter) {
    e2e::session s(korvel(EXAMPLE, 6, 30));
    ASSERT_TRUE(ready(s));
    s.send("jjj");
    ASSERT_TRUE(shows(s, {"• README", "▼ src", "  • main.c", "  ▼ util", "    • str.c"}, 3,
                      " src/util" + std::string(14, ' ') + "   4/5"));

    const look plain{DEFAULT, DEFAULT, false}; // the terminal's own colours
    expect_drawn(s, 0, 0, "• README", plain);
    expect_drawn(s, 1, 0, "▼ src", plain);
    expect_drawn(s, 2, 2, "• main.c", plain);
    expect_drawn(s, 3, 2, "▼ util", look{BLACK, WHITE, true});
    expect_drawn(s, 4, 4, "• str.c", plain);
    // The status text, then the counter ending exactly at the last column,
    // all in the message colours.
    EXPECT_EQ(status_row(s), " src/util" + std::string(14, ' ') + "   4/5");
    for (int c = 0; c < 30; ++c) {
        const e2e::cell got = s.cell_at(5, c);
        EXPECT_EQ(got.fg, BLACK) << "column " << c;
        EXPECT_EQ(got.bg, WHITE) << "column " << c;
    }
    EXPECT_EQ(s.cell_at(5, 28).text, "5");
    EXPECT_FALSE(s.cursor_visible());

    // Folding changes the marker and drops the row; the counter stays.
    s.send(e2e::KEY_ENTER);
    ASSERT_TRUE(shows(s, {"• README", "▼ src", "  • main.c", "  ▶ util"}, 3,
                      " src/util" + std::string(14, ' ') + "   4/5"));
    expect_drawn(s, 3, 2, "▶ util", look{BLACK, WHITE, true});

    // Four columns sideways: indentation first, then the names' heads; the
    // marker stays and '<' covers it where a name was cut.
    s.send("l");
    ASSERT_TRUE(shows(s, {"< ME", "<", "< in.c", "< il"}, 3));
    for (int r = 0; r < 4; ++r) {
        const e2e::cell indicator = s.cell_at(r, 0);
        EXPECT_EQ(indicator.fg, BLACK) << "row " << r;
        EXPECT_EQ(indicator.bg, WHITE) << "row " << r;
        EXPECT_FALSE(indicator.bold) << "row " << r;
    }
    for (int c = 1; c < 4; ++c) EXPECT_TRUE(s.cell_at(3, c).bold) << "column " << c;
    EXPECT_EQ(s.cell_at(2, 2).bg, DEFAULT); // the rest of a plain row stays plain
}

TEST(ViewerScreen, RightIndicatorMarksExactlyTheRowsCutAtTheEdge) {
    // Twelve columns: a row of twelve fits, a row of thirteen is cut.
    e2e::session s(korvel("aaaaaaaaaa\nbbbbbbbbbbb\nd/eeeeeeee\nd/fffffffff\n漢字漢字漢\n"
                          "漢字漢字漢字\n",
                          9, 12));
    ASSERT_TRUE(ready(s));
    ASSERT_TRUE(shows(s,
                      {"• aaaaaaaaaa", "• bbbbbbbbb>", "▼ d", "  • eeeeeeee", "  • fffffff>",
                       "• 漢字漢字漢", "• 漢字漢字 >"},
                      0));
    EXPECT_EQ(s.cell_at(6, 11).bg, WHITE); // the indicator's colours
    EXPECT_EQ(s.cell_at(5, 11).text, "");  // the right half of a character that fits
    // Sideways, the tail of a cut row comes into view and its '>' goes. The
    // cut takes whole characters by column.
    s.send("l");
    ASSERT_TRUE(shows(s,
                      {"< aaaaaa", "< bbbbbbb", "<", "< eeeeee", "< fffffff", "< 漢字漢",
                       "< 漢字漢字"},
                      0));
    EXPECT_EQ(s.raw_output().find("\uFFFD"), std::string::npos);

    // A wide character that the cut would split goes whole, and a blank
    // keeps the columns after it where they were.
    e2e::session w(korvel("x漢字漢字\n", 4, 12));
    ASSERT_TRUE(ready(w));
    w.send("l");
    ASSERT_TRUE(shows(w, {"<  漢字"}, 0));
}

// Without colours, attributes alone show the cursor row, the status row and
// the matches; nothing is coloured.
TEST(ViewerScreen, WithoutColoursAttributesStandOut) {
    struct case_t {
        const char* name;
        std::map<std::string, std::string> env;
    };
    for (const case_t& c : {case_t{"NO_COLOR", {{"NO_COLOR", "1"}}},
                            case_t{"a terminal without colours", {{"TERM", "vt100"}}}}) {
        SCOPED_TRACE(c.name);
        e2e::launch how = korvel(TREE, 10, 30);
        how.env.insert(c.env.begin(), c.env.end());
        e2e::session s(how);
        ASSERT_TRUE(s.wait_for([&] { return status_row(s).rfind(" a ", 0) == 0; })) << s.dump();
        s.send("/e\r");
        ASSERT_TRUE(s.wait_for([&] { return status_row(s).rfind(" e ", 0) == 0; })) << s.dump();
        s.send("g");
        ASSERT_TRUE(s.wait_for([&] { return status_row(s).rfind(" a ", 0) == 0; })) << s.dump();
        for (int r = 0; r < s.rows(); ++r) {
            for (int col = 0; col < s.cols(); ++col) {
                EXPECT_EQ(s.cell_at(r, col).fg, DEFAULT) << r << "," << col;
                EXPECT_EQ(s.cell_at(r, col).bg, DEFAULT) << r << "," << col;
            }
        }
        EXPECT_TRUE(s.cell_at(0, 2).reverse) << s.dump();           // the cursor row
        EXPECT_TRUE(s.cell_at(s.rows() - 1, 1).reverse) << s.dump(); // the status row
        EXPECT_FALSE(s.cell_at(1, 4).reverse) << s.dump();          // a plain row
        EXPECT_TRUE(s.cell_at(6, 2).bold && s.cell_at(6, 2).underline) << s.dump(); // e matches
        EXPECT_FALSE(s.cell_at(1, 4).underline) << s.dump();
        s.send("q");
        ASSERT_TRUE(s.wait_exit()) << s.dump();
    }
}

// Where the terminal has no alternate screen, the tree would stay behind
// under the shell's prompt: the screen is cleared when korvel leaves.
TEST(ViewerExit, TerminalWithoutAlternateScreenIsClearedOnTheWayOut) {
    for (const char* term : {"vt100", "linux"}) {
        SCOPED_TRACE(term);
        e2e::launch how = korvel(TREE, 10, 30);
        how.env["TERM"] = term;
        e2e::session s(how);
        ASSERT_TRUE(s.wait_for([&] { return status_row(s).rfind(" a ", 0) == 0; })) << s.dump();
        EXPECT_FALSE(s.alt_screen());
        s.send("jo");
        ASSERT_TRUE(s.wait_exit()) << s.dump();
        EXPECT_EQ(s.stdout_data(), "a/1\n");
        EXPECT_EQ(s.screen_text().find_first_not_of(" \n"), std::string::npos) << s.dump();
        EXPECT_EQ(s.cursor_row(), 0);
        EXPECT_EQ(s.cursor_col(), 0);
    }
}

TEST(ViewerScreen, StatusRowOnVeryWideAndVeryNarrowTerminals) {
    e2e::session s(korvel("b\n" + std::string(300, 'w') + "\n", 4, 300));
    ASSERT_TRUE(ready(s));
    // The status text holds 255 columns; beyond them the row stays cleared,
    // and the counter still ends at the last column.
    ASSERT_TRUE(shows(s, {"• b", "• " + std::string(297, 'w') + ">"}, 0,
                      " b" + std::string(291, ' ') + "   1/2"));
    for (int c : {0, 254, 293, 299}) EXPECT_EQ(s.cell_at(3, c).bg, WHITE) << c;
    for (int c : {255, 292}) EXPECT_EQ(s.cell_at(3, c).bg, DEFAULT) << c;
    // Narrower than the counter: none of it is drawn.
    s.resize(4, 5);
    ASSERT_TRUE(shows(s, {"• b", "• ww>"}, 0, " b"));
    EXPECT_EQ(status_row(s), " b");
}

TEST(ViewerKeys, LinesAndPagesOnTwentyFourRows) {
    // 23 tree rows: half a page is 11, a page 23, the last full page starts
    // at 77.
    run_page_steps(24, {
                           {"\x05", 1, 1},   // Ctrl-E
                           {"\x19", 0, 0},   // Ctrl-Y
                           {"\x19", 0, 0},   // nothing above
                           {"\x04", 11, 11}, // Ctrl-D
                           {"\x06", 34, 34}, // Ctrl-F
                           {"\x15", 23, 23}, // Ctrl-U
                           {"\x02", 0, 0},   // Ctrl-B
                           {"\x02", 0, 0},   // nothing above
                           {"j", 0, 1},
                           {e2e::KEY_DOWN, 0, 2},
                           {"k", 0, 1},
                           {e2e::KEY_UP, 0, 0},
                           {"k", 0, 0},        // refused at the first row
                           {"jjjjj", 0, 5},
                           {"\x06", 23, 28},   // the cursor keeps its screen row
                           {"G", 77, 99},
                           {"j", 77, 99},      // refused at the last row
                           {"\x05", 77, 99},   // neither the view nor the cursor can move
                           {"\x06", 77, 99},
                           {"k", 77, 98},
                           {"\x05", 77, 99},   // the view is at its end, the cursor is not
                           {"\x02", 54, 76},
                           {"\x06", 77, 99},   // the view stops at its end
                           {"g", 0, 0},
                       });
}

TEST(ViewerKeys, HalfPagesOnTwentyFiveRows) {
    run_page_steps(25, {
                           {"\x04", 12, 12},
                           {"\x04", 24, 24},
                           {"\x15", 12, 12},
                           {"\x06", 36, 36},
                           {"\x02", 12, 12},
                       });
}

TEST(ViewerKeys, RefusedMovesLeaveTheStatusRowAlone) {
    // An error stays on the status row until the cursor really moves.
    struct refused {
        std::string setup; // g or G
        std::string key;
    };
    e2e::session s(korvel(numbered(30), 10, 40));
    ASSERT_TRUE(ready(s));
    for (const refused& r : {refused{"g", "k"}, refused{"g", e2e::KEY_UP},
                             refused{"g", "\x19"}, refused{"g", "\x15"}, refused{"g", "\x02"},
                             refused{"G", "j"}, refused{"G", e2e::KEY_DOWN},
                             refused{"G", "\x05"}, refused{"G", "\x04"}, refused{"G", "\x06"}}) {
        const std::string path = r.setup == "g" ? " f00 " : " f29 ";
        s.send(r.setup);
        ASSERT_TRUE(s.wait_for([&] { return status_row(s).rfind(path, 0) == 0; })) << s.dump();
        s.send("n");
        ASSERT_TRUE(s.wait_for_text("Search query was not given")) << s.dump();
        const int row = bold_row(s);
        const std::vector<std::string> rows = tree_rows(s);
        s.send(r.key);
        s.settle();
        EXPECT_EQ(status_row(s).rfind(" Search query was not given", 0), 0u)
            << escaped(r.key) << "\n" << s.dump();
        EXPECT_EQ(s.cell_at(s.rows() - 1, 1).bg, 1) << escaped(r.key); // still the error colours
        EXPECT_EQ(bold_row(s), row) << escaped(r.key);
        EXPECT_EQ(tree_rows(s), rows) << escaped(r.key);
    }
    // A real move brings the path back in the message colours.
    s.send("k");
    ASSERT_TRUE(s.wait_for([&] { return status_row(s).rfind(" f28 ", 0) == 0; })) << s.dump();
    EXPECT_EQ(s.cell_at(s.rows() - 1, 1).bg, WHITE);
}

TEST(ViewerKeys, CentringLeavesBlankRowsAboveAndBelow) {
    e2e::session s(korvel(numbered(100), 24, 40));
    ASSERT_TRUE(ready(s));
    // Rows of the list from entry `first` on, below `blank` blank rows.
    const auto listing = [](int blank, int first, int count) {
        std::vector<std::string> rows(static_cast<size_t>(blank));
        for (int i = first; i < first + count; ++i) {
            char text[32];
            snprintf(text, sizeof text, "• f%02d", i);
            rows.push_back(text);
        }
        return rows;
    };
    // 23 tree rows: the cursor lands on row 11, eight blank rows above f00.
    s.send("jjjz");
    ASSERT_TRUE(shows(s, listing(8, 0, 15), 11, " f03 "));
    // Moving up does not lower a negative top.
    s.send("k");
    ASSERT_TRUE(shows(s, listing(8, 0, 15), 10, " f02 "));
    // A scroll floors it at 0.
    s.send("\x05");
    ASSERT_TRUE(shows(s, listing(0, 0, 23), 3, " f03 "));
    // At the end: blank rows after the last entry.
    s.send("Gz");
    ASSERT_TRUE(shows(s, listing(0, 88, 12), 11, " f99 "));
}

struct tree_step {
    std::string keys;
    std::vector<std::string> rows; // the tree area from row 0; rows not named are blank
    int cursor_row;
};

TEST(ViewerKeys, ParentFoldAndToggleWalkTheTree) {
    const int rows = 10;
    e2e::session s(korvel(TREE, rows, 30));
    ASSERT_TRUE(ready(s));
    const std::vector<std::string> all{"▼ a", "  • 1", "  • 2", "▼ b", "  ▼ c", "    • d", "• e"};
    ASSERT_TRUE(shows(s, all, 0));

    // 'p' on a top-level entry has nothing to do and draws nothing.
    EXPECT_TRUE(nothing_drawn(s)("p"));

    const std::vector<tree_step> steps{
        {"Gk", all, 5},
        {"p", all, 4},
        {"p", all, 3},
        {"jjc", {"▼ a", "  • 1", "  • 2", "▼ b", "  ▶ c", "• e"}, 4},
        {"c", {"▼ a", "  • 1", "  • 2", "▶ b", "• e"}, 3},
        {e2e::KEY_ENTER, {"▼ a", "  • 1", "  • 2", "▼ b", "  ▶ c", "• e"}, 3},
        {"j" + e2e::KEY_ENTER, all, 4},
        {"gc", {"▶ a", "▼ b", "  ▼ c", "    • d", "• e"}, 0}, // no parent: folds itself
        {e2e::KEY_ENTER, all, 0},
        // Space folds and steps down; on a leaf it only steps.
        {" ", {"▶ a", "▼ b", "  ▼ c", "    • d", "• e"}, 1},
        {" ", {"▶ a", "▶ b", "• e"}, 2},
        {" ", {"▶ a", "▶ b", "• e"}, 2},
        {"k" + e2e::KEY_ENTER, {"▶ a", "▼ b", "  ▼ c", "    • d", "• e"}, 1},
    };
    for (const tree_step& step : steps) {
        s.send(step.keys);
        EXPECT_TRUE(shows(s, step.rows, step.cursor_row)) << "after " << escaped(step.keys);
    }
    // The counter names the entry's place in the whole tree, folded or not.
    EXPECT_TRUE(shows(s, steps.back().rows, 1, " b" + std::string(21, ' ') + "   4/7"));
}

TEST(ViewerKeys, SidewaysByFourColumns) {
    e2e::session s(korvel(EXAMPLE, 6, 30));
    ASSERT_TRUE(ready(s));
    const std::vector<std::string> home{"• README", "▼ src", "  • main.c", "  ▼ util", "    • str.c"};
    struct sideways {
        std::string key;
        std::vector<std::string> rows;
    };
    for (const sideways& step : {
             sideways{"l", {"< ME", "<", "< in.c", "< il", "• str.c"}},
             sideways{e2e::KEY_RIGHT, {"<", "<", "<", "<", "< c"}},
             sideways{e2e::KEY_LEFT, {"< ME", "<", "< in.c", "< il", "• str.c"}},
             sideways{"h", home},
             sideways{"h", home}, // never below 0
             sideways{e2e::KEY_LEFT, home},
             sideways{"lll", {"<", "<", "<", "<", "<"}}, // only '<' and the marker's blank
         }) {
        s.send(step.key);
        EXPECT_TRUE(shows(s, step.rows, 0)) << "after " << escaped(step.key);
    }
    EXPECT_EQ(s.cell_at(0, 1).text, " ");
    EXPECT_TRUE(s.cell_at(0, 1).bold); // the marker's blank in the cursor colours
}

TEST(ViewerKeys, UnboundKeysDoNothing) {
    e2e::session s(korvel(TREE, 10, 30));
    ASSERT_TRUE(ready(s));
    s.send("j");
    ASSERT_TRUE(shows(s, {"▼ a", "  • 1", "  • 2", "▼ b", "  ▼ c", "    • d", "• e"}, 1, " a/1 "));
    nothing_drawn ignored(s);
    for (const std::string key : {"\x03", "\x7f", "x", "\x1b[2~", "\x1b[15~"})
        EXPECT_TRUE(ignored(key));
    EXPECT_EQ(bold_row(s), 1);
}

struct ending {
    std::string keys;
    std::string out;
};

TEST(ViewerKeys, AltKeysNeitherQuitNorLeaveThePrompt) {
    e2e::session s(korvel(TREE, 10, 30));
    ASSERT_TRUE(ready(s));
    // Escape with a key straight behind it is that key with Alt, bound to
    // nothing: Alt-x, and Escape pressed twice in a row.
    for (const std::string keys : {"\x1bx", "\x1b\x1b", "\x1b\r"}) {
        s.send(keys);
        s.settle();
        ASSERT_FALSE(s.exited()) << escaped(keys) << "\n" << s.dump();
        EXPECT_EQ(status_row(s).rfind(" a ", 0), 0u) << s.dump();
    }
    s.send("/ab");
    ASSERT_TRUE(s.wait_for([&] { return status_row(s).rfind(" /ab ", 0) == 0; })) << s.dump();
    s.send("\x1b\x1b");
    s.settle();
    EXPECT_EQ(status_row(s).rfind(" /ab ", 0), 0u) << s.dump(); // still open, nothing typed
    // A lone Escape still leaves the prompt, and another one quits.
    s.send(e2e::KEY_ESC);
    ASSERT_TRUE(s.wait_for([&] { return status_row(s).rfind(" a ", 0) == 0; })) << s.dump();
    s.send(e2e::KEY_ESC);
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
}

TEST(ViewerExit, QuitKeysAndChoosingAPath) {
    for (const ending& e : {ending{"jjjo", "src/util\n"}, ending{"o", "README\n"},
                            ending{"jjjq", ""}, ending{"jjj" + e2e::KEY_ESC, ""}}) {
        e2e::session s(korvel(EXAMPLE, 6, 30));
        ASSERT_TRUE(ready(s));
        s.send(e.keys);
        ASSERT_TRUE(s.wait_exit()) << escaped(e.keys) << "\n" << s.dump();
        EXPECT_EQ(s.exit_status(), 0) << escaped(e.keys);
        EXPECT_EQ(s.stdout_data(), e.out) << escaped(e.keys);
        EXPECT_EQ(s.stderr_data(), "") << escaped(e.keys);
        EXPECT_TRUE(restored(s)) << escaped(e.keys);
    }
}

TEST(ViewerExit, ChosenPathComesAfterTheTerminalIsHandedBack) {
    // Standard output on the terminal itself shows the order of the bytes.
    e2e::launch how = korvel(EXAMPLE, 6, 30);
    how.program = "/bin/sh";
    how.args = {"-c", "exec \"$0\" >/dev/tty", KORVEL};
    e2e::session s(how);
    ASSERT_TRUE(ready(s));
    s.send("jjjo");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
    const std::string& raw = s.raw_output();
    const size_t path = raw.rfind("src/util\r\n");
    ASSERT_NE(path, std::string::npos) << escaped(raw);
    for (const std::string restore : {"\x1b[?1049l", "\x1b[?25h", "\x1b[?1002l"}) {
        const size_t at = raw.rfind(restore);
        EXPECT_TRUE(at != std::string::npos && at < path)
            << escaped(restore) << " in " << escaped(raw.substr(raw.size() - std::min<size_t>(raw.size(), 200)));
    }
    EXPECT_TRUE(restored(s));
    // On the main screen, where the shell's user will see it.
    EXPECT_NE(s.screen_text().find("src/util"), std::string::npos) << s.dump();
}

TEST(ViewerExit, PathsComeBackWithTheirOwnSeparator) {
    struct separated {
        std::vector<std::string> args;
        std::string list;
        std::vector<std::string> rows;
        std::string keys;
        std::string out;
    };
    for (const separated& c : {
             separated{{}, "/usr/bin\n/usr/lib\n", {"▼ /", "  ▼ usr", "    • bin", "    • lib"},
                       "jjo", "/usr/bin\n"},
             separated{{"-s", "."},
                       "com.example.Foo\ncom.example.Bar\n.hidden.x\n",
                       {"▼ .", "  ▼ hidden", "    • x", "▼ com", "  ▼ example", "    • Bar",
                        "    • Foo"},
                       "Go",
                       "com.example.Foo\n"},
             // A pattern with the separator in it is tried against full paths.
             separated{{"-s", "."},
                       "com.example.Foo\ncom.example.Bar\n.hidden.x\n",
                       {"▼ .", "  ▼ hidden", "    • x", "▼ com", "  ▼ example", "    • Bar",
                        "    • Foo"},
                       "/e.B\ro",
                       "com.example.Bar\n"},
             // An empty component between two separators is skipped, as the
             // system reads a//b as a/b: no line loses its entries.
             separated{{},
                       "/usr//bin/ls\na//c\n//srv/share\n",
                       {"▼ /", "  ▼ srv", "    • share", "  ▼ usr", "    ▼ bin", "      • ls",
                        "▼ a", "  • c"},
                       "jjjjjo",
                       "/usr/bin/ls\n"},
             separated{{},
                       "/usr//bin/ls\na//c\n//srv/share\n",
                       {"▼ /", "  ▼ srv", "    • share", "  ▼ usr", "    ▼ bin", "      • ls",
                        "▼ a", "  • c"},
                       "jjo",
                       "/srv/share\n"},
             separated{{"-s", " "},
                       "x  y\nx y z\n",
                       {"▼ x", "  ▼ y", "    • z"},
                       "Go",
                       "x y z\n"},
         }) {
        e2e::session s(korvel(c.list, 10, 30, c.args));
        ASSERT_TRUE(ready(s));
        EXPECT_TRUE(shows(s, c.rows, 0)) << c.list;
        s.send(c.keys);
        ASSERT_TRUE(s.wait_exit()) << s.dump();
        EXPECT_EQ(s.stdout_data(), c.out);
    }
}

TEST(ViewerExit, TermAndIntFromOutsideQuitCleanly) {
    for (int sig : {SIGTERM, SIGINT}) {
        e2e::session s(korvel(TREE, 10, 30));
        ASSERT_TRUE(ready(s));
        s.send_signal(sig);
        ASSERT_TRUE(s.wait_exit()) << sig << "\n" << s.dump();
        EXPECT_EQ(s.exit_status(), 0) << sig;
        EXPECT_EQ(s.term_signal(), 0) << sig;
        EXPECT_EQ(s.stdout_data(), "") << sig;
        EXPECT_EQ(s.stderr_data(), "") << sig;
        EXPECT_TRUE(restored(s)) << sig;
    }
}

TEST(ViewerMouse, ClicksWheelAndDrag) {
    using e2e::mouse;
    e2e::session s(korvel(TREE, 6, 30)); // five tree rows over seven entries
    ASSERT_TRUE(ready(s));
    ASSERT_TRUE(s.wait_for([&] { return s.mouse_drag_reporting(); })) << s.dump();

    struct mouse_step {
        mouse what;
        int row;
        int col;
        std::vector<std::string> rows;
        int cursor_row;
    };
    const std::vector<mouse_step> steps{
        // The wheel moves the view and the cursor together.
        {mouse::wheel_down, 2, 5, {"  • 1", "  • 2", "▼ b", "  ▼ c", "    • d"}, 0},
        {mouse::wheel_down, 0, 0, {"  • 2", "▼ b", "  ▼ c", "    • d", "• e"}, 0},
        {mouse::wheel_down, 4, 29, {"  • 2", "▼ b", "  ▼ c", "    • d", "• e"}, 1},
        {mouse::wheel_up, 1, 1, {"  • 1", "  • 2", "▼ b", "  ▼ c", "    • d"}, 1},
        {mouse::wheel_up, 1, 1, {"▼ a", "  • 1", "  • 2", "▼ b", "  ▼ c"}, 1},
        // A click anywhere on a row selects it and toggles it.
        {mouse::left_press, 3, 25, {"▼ a", "  • 1", "  • 2", "▶ b", "• e"}, 3},
        {mouse::left_release, 3, 25, {"▼ a", "  • 1", "  • 2", "▶ b", "• e"}, 3},
        {mouse::left_press, 3, 0, {"▼ a", "  • 1", "  • 2", "▼ b", "  ▼ c"}, 3},
        {mouse::left_press, 2, 3, {"▼ a", "  • 1", "  • 2", "▼ b", "  ▼ c"}, 2},
        // A drag acts as a click on each row it reaches.
        {mouse::left_press, 0, 1, {"▶ a", "▼ b", "  ▼ c", "    • d", "• e"}, 0},
        {mouse::left_drag, 1, 1, {"▶ a", "▶ b", "• e"}, 1},
        {mouse::left_drag, 0, 1, {"▼ a", "  • 1", "  • 2", "▶ b", "• e"}, 0},
        {mouse::left_release, 0, 1, {"▼ a", "  • 1", "  • 2", "▶ b", "• e"}, 0},
    };
    for (const mouse_step& step : steps) {
        const std::string report = s.encode_mouse(step.what, step.row, step.col);
        ASSERT_FALSE(report.empty());
        s.send(report);
        EXPECT_TRUE(shows(s, step.rows, step.cursor_row)) << "after " << escaped(report);
    }

    // Below the last entry, on the status row, with other buttons: nothing.
    s.send(e2e::KEY_ENTER); // fold a, to leave blank rows below the last entry
    ASSERT_TRUE(shows(s, {"▶ a", "▶ b", "• e"}, 0));
    nothing_drawn ignored(s);
    for (const std::string& report :
         {s.encode_mouse(mouse::left_press, 3, 2), s.encode_mouse(mouse::left_press, 4, 0),
          s.encode_mouse(mouse::left_press, 5, 3), s.encode_mouse(mouse::left_drag, 5, 0),
          s.encode_mouse(mouse::right_press, 0, 2), s.encode_mouse(mouse::middle_press, 1, 2)})
        EXPECT_TRUE(ignored(report));

    // Blank rows above the first entry after centring: nothing either.
    s.send("gz");
    ASSERT_TRUE(shows(s, {"", "", "▶ a", "▶ b", "• e"}, 2));
    nothing_drawn above(s);
    for (int row : {0, 1}) EXPECT_TRUE(above(s.encode_mouse(mouse::left_press, row, 2)));
    // The rows below still count from the shifted top.
    s.send_mouse(mouse::left_press, 3, 2);
    ASSERT_TRUE(shows(s, {"", "", "▶ a", "▼ b", "  ▼ c"}, 3, " b "));
}

TEST(ViewerMouse, ClickWhosePointerSlipsAlongTheRowTogglesOnce) {
    using e2e::mouse;
    e2e::session s(korvel(TREE, 6, 30));
    ASSERT_TRUE(ready(s));
    ASSERT_TRUE(s.wait_for([&] { return s.mouse_drag_reporting(); })) << s.dump();
    s.send(s.encode_mouse(mouse::left_press, 3, 2) + s.encode_mouse(mouse::left_drag, 3, 3) +
           s.encode_mouse(mouse::left_release, 3, 3));
    ASSERT_TRUE(shows(s, {"▼ a", "  • 1", "  • 2", "▶ b", "• e"}, 3, " b ")) << s.dump();
    // Nothing more comes of it: b stays folded.
    s.settle();
    EXPECT_TRUE(shows(s, {"▼ a", "  • 1", "  • 2", "▶ b", "• e"}, 3, " b ")) << s.dump();
}

TEST(ViewerMouse, ActsWhileThePromptIsOpen) {
    using e2e::mouse;
    e2e::session s(korvel(TREE, 6, 30));
    ASSERT_TRUE(ready(s));
    // The search as typed has gone to b already.
    s.send("/b");
    ASSERT_TRUE(shows(s, {"▼ a", "  • 1", "  • 2", "▼ b", "  ▼ c"}, 3, " /b "));

    // The wheel moves the cursor and a click folds, while the prompt keeps
    // its row, its text and its cursor.
    s.send_mouse(mouse::wheel_down, 1, 1);
    ASSERT_TRUE(shows(s, {"  • 1", "  • 2", "▼ b", "  ▼ c", "    • d"}, 3, " /b "));
    s.send_mouse(mouse::left_press, 1, 4); // 2: selected
    ASSERT_TRUE(shows(s, {"  • 1", "  • 2", "▼ b", "  ▼ c", "    • d"}, 1, " /b "));
    ASSERT_TRUE(s.wait_for([&] { return s.cursor_row() == 5 && s.cursor_col() == 3; }))
        << s.dump();
    EXPECT_TRUE(s.cursor_visible());

    // The prompt is still open: typing edits it, and Enter searches from
    // where the prompt was opened, as the preview did.
    s.send("x");
    ASSERT_TRUE(s.wait_for([&] { return status_row(s).rfind(" /bx ", 0) == 0; })) << s.dump();
    s.send(e2e::KEY_BACKSPACE + e2e::KEY_BACKSPACE + "e" + e2e::KEY_ENTER);
    ASSERT_TRUE(s.wait_for([&] { return status_row(s).rfind(" e ", 0) == 0; })) << s.dump();
}

TEST(ViewerResize, KeepsTheCursorOnTheScreenAndFillsTheRows) {
    e2e::session s(korvel(numbered(100), 24, 40));
    ASSERT_TRUE(ready(s));
    s.send(std::string(15, 'j'));
    ASSERT_TRUE(s.wait_for([&] { return flat_view(s) == flat_view(24, 0, 15); })) << s.dump();

    s.resize(30, 60);
    ASSERT_TRUE(s.wait_for([&] {
        return s.row_text(28) == "• f28" && flat_view(s) == flat_view(30, 0, 15) &&
               status_row(s) == " f15" + std::string(46, ' ') + "   16/100";
    })) << s.dump();

    // Shrunk below the cursor's row: the window follows it at once.
    s.resize(10, 20);
    ASSERT_TRUE(shows(s, {"• f07", "• f08", "• f09", "• f10", "• f11", "• f12", "• f13", "• f14",
                          "• f15"},
                      8, " f15" + std::string(9, ' ') + "16/100"));
    s.send("k");
    ASSERT_TRUE(s.wait_for([&] { return flat_view(s) == flat_view(10, 7, 14); })) << s.dump();

    // Grown at the end of the list: the window comes up to fill the screen
    // rather than leave rows blank below the last entry.
    s.send("G");
    ASSERT_TRUE(s.wait_for([&] { return flat_view(s) == flat_view(10, 91, 99); })) << s.dump();
    s.resize(24, 40);
    ASSERT_TRUE(s.wait_for([&] { return flat_view(s) == flat_view(24, 77, 99); })) << s.dump();
    // Near the top, a window centred above the first row stays as it is.
    s.send("gjz");
    ASSERT_TRUE(s.wait_for([&] { return s.row_text(11) == "• f01"; })) << s.dump();
    s.resize(12, 40);
    ASSERT_TRUE(s.wait_for([&] { return s.row_text(10) == "• f01" && s.row_text(9) == "• f00"; }))
        << s.dump();
    EXPECT_EQ(bold_row(s), 10) << s.dump();
}

TEST(ViewerResize, OneRowAndBackTheCursorComesIntoView) {
    e2e::session s(korvel(EXAMPLE, 6, 30));
    ASSERT_TRUE(ready(s));
    // With no tree rows, the moves and scrolls still run; here they leave the
    // window starting past the last entry.
    s.resize(1, 30);
    ASSERT_TRUE(s.wait_for([&] { return s.row_text(0).rfind(" README ", 0) == 0; })) << s.dump();
    s.send("G\x05\x06");
    s.send("k");
    ASSERT_TRUE(s.wait_for([&] { return s.row_text(0).rfind(" src/util ", 0) == 0; }))
        << s.dump();
    // Back to six rows, the window comes back to the list, the cursor on it.
    s.resize(6, 30);
    EXPECT_TRUE(shows(s, {"• README", "▼ src", "  • main.c", "  ▼ util", "    • str.c"}, 3,
                      " src/util "));
    s.send("k");
    EXPECT_TRUE(shows(s, {"• README", "▼ src", "  • main.c", "  ▼ util", "    • str.c"}, 2,
                      " src/main.c "));
    s.send("g");
    EXPECT_TRUE(shows(s, {"• README", "▼ src", "  • main.c", "  ▼ util", "    • str.c"}, 0,
                      " README "));
}

TEST(ViewerResize, PromptCursorFollowsTheBottomRow) {
    e2e::session s(korvel(TREE, 8, 30));
    ASSERT_TRUE(ready(s));
    s.send("/ab");
    for (const auto& [rows, cols] : {std::pair{12, 30}, std::pair{5, 20}, std::pair{8, 30}}) {
        s.resize(rows, cols);
        EXPECT_TRUE(s.wait_for([&] {
            return status_row(s).rfind(" /ab ", 0) == 0 && s.cursor_visible() &&
                   s.cursor_row() == rows - 1 && s.cursor_col() == 4;
        })) << rows << "x" << cols << "\n" << s.dump();
    }
    // And editing goes on where it was.
    s.send(e2e::KEY_LEFT + "x");
    EXPECT_TRUE(s.wait_for([&] {
        return status_row(s).rfind(" /axb ", 0) == 0 && s.cursor_row() == 7 && s.cursor_col() == 4;
    })) << s.dump();
}

// Suspension needs a parent that does job control; see programs/jobshell.cpp.
class job {
  public:
    // With a `reader`, the job is the pipeline `korvel | reader`.
    job(const std::string& list, int rows, int cols, const std::string& stdin_file = "",
        const std::string& reader = "")
        : log_(""), s_(launch(list, rows, cols, stdin_file, reader)) {}

    e2e::session& session() { return s_; }

    std::vector<std::string> log() const {
        std::ifstream in(log_.path());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    int count(const std::string& line) const {
        const auto lines = log();
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }
    // The viewer's process id, once the shell has started it.
    pid_t pid() {
        if (pid_ == 0) {
            s_.wait_for([&] { return !log().empty(); });
            const auto lines = log();
            if (!lines.empty() && lines[0].rfind("pid ", 0) == 0) pid_ = std::stoi(lines[0].substr(4));
        }
        return pid_;
    }
    char state() { return process_state(pid()); }

  private:
    e2e::launch launch(const std::string& list, int rows, int cols, const std::string& stdin_file,
                       const std::string& reader) {
        e2e::launch how = korvel(list, rows, cols);
        if (!stdin_file.empty()) {
            how.stdin_data.reset();
            how.stdin_file = stdin_file;
        }
        how.program = JOBSHELL;
        how.args = {KORVEL};
        how.env["JOBSHELL_LOG"] = log_.path();
        if (!reader.empty()) how.env["JOBSHELL_PIPE_TO"] = reader;
        return how;
    }
    e2e::temp_file log_;
    e2e::session s_;
    pid_t pid_ = 0;
};

// Ctrl-Z while a slow producer still feeds the list stops korvel with the
// rest of the pipeline, so the shell sees the whole job stopped.
TEST(ViewerSuspend, StopsWhileTheListIsStillComing) {
    char fifo_dir[] = "/tmp/korvel-fifo-XXXXXX";
    ASSERT_NE(mkdtemp(fifo_dir), nullptr);
    const std::string fifo = std::string(fifo_dir) + "/list";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Opened for reading too, so that neither side waits for the other.
    int producer = open(fifo.c_str(), O_RDWR);
    ASSERT_GE(producer, 0);

    job j("", 10, 30, fifo);
    e2e::session& s = j.session();
    ASSERT_GT(j.pid(), 0) << s.dump();
    ASSERT_EQ(write(producer, "a/1\n", 4), 4);
    ASSERT_TRUE(s.wait_for([&] { return catches(j.pid(), SIGTSTP); })) << s.dump();
    const auto loading_shows = [&] {
        return s.screen_text().find("korvel: reading 1 path") != std::string::npos;
    };
    ASSERT_TRUE(s.wait_for(loading_shows)) << s.dump();

    // Stopped, the loading line is gone; continued, it comes back.
    kill(j.pid(), SIGTSTP);
    EXPECT_TRUE(s.wait_for([&] { return j.state() == 'T'; })) << s.dump();
    EXPECT_TRUE(s.wait_for([&] { return !loading_shows(); })) << s.dump();
    kill(j.pid(), SIGCONT);
    EXPECT_TRUE(s.wait_for(loading_shows)) << s.dump();
    ASSERT_EQ(write(producer, "b/2\n", 4), 4);
    close(producer);
    // Both lines arrived: the stop lost nothing.
    EXPECT_TRUE(s.wait_for([&] {
        const std::vector<std::string> rows = tree_rows(s);
        return rows.size() >= 4 && std::vector<std::string>(rows.begin(), rows.begin() + 4) ==
                                       std::vector<std::string>{"▼ a", "  • 1", "▼ b", "  • 2"};
    })) << s.dump();
    s.send("q");
    EXPECT_TRUE(s.wait_exit()) << s.dump();
    unlink(fifo.c_str());
    rmdir(fifo_dir);
}

TEST(ViewerSuspend, StopsWithTheTerminalRestoredAndComesBackDrawn) {
    job j(TREE, 10, 30);
    e2e::session& s = j.session();
    ASSERT_TRUE(ready(s));
    ASSERT_GT(j.pid(), 0) << s.dump();
    s.send("jj");
    ASSERT_TRUE(shows(s, TREE_ROWS, 2));

    // Ctrl-Z and SIGTSTP from outside, alternately, several times over.
    for (int cycle = 1; cycle <= 4; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        if (cycle % 2 == 1) {
            s.send("\x1a");
        } else {
            kill(j.pid(), SIGTSTP);
        }
        ASSERT_TRUE(s.wait_for([&] { return j.count("stopped " + std::to_string(SIGTSTP)) == cycle; }))
            << s.dump();
        EXPECT_EQ(j.state(), 'T');
        EXPECT_TRUE(s.wait_for([&] { return !s.alt_screen(); })) << s.dump();
        EXPECT_TRUE(restored(s));

        kill(j.pid(), SIGCONT);
        ASSERT_TRUE(shows(s, TREE_ROWS, cycle + 1));
        EXPECT_TRUE(s.alt_screen());
        EXPECT_TRUE(s.wait_for([&] { return s.mouse_drag_reporting(); })) << s.dump();
        EXPECT_FALSE(s.cursor_visible());
        // And it works on.
        s.send("j");
        ASSERT_TRUE(shows(s, TREE_ROWS, cycle + 2));
    }
    s.send("q");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
    EXPECT_EQ(j.count("exited 0"), 1);
    EXPECT_TRUE(restored(s));
}

// `korvel | cat`: Ctrl-Z stops the whole pipeline, so the shell sees the job
// stopped and gets its prompt back; `fg` continues the group and the screen
// comes back.
TEST(ViewerSuspend, CtrlZStopsTheWholePipeline) {
    job j(TREE, 10, 30, "", "/bin/cat");
    e2e::session& s = j.session();
    ASSERT_TRUE(ready(s));
    ASSERT_GT(j.pid(), 0) << s.dump();
    const std::string stopped = "stopped " + std::to_string(SIGTSTP);
    for (int cycle = 1; cycle <= 2; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        s.send("\x1a");
        ASSERT_TRUE(s.wait_for([&] { return j.count(stopped) == cycle && j.count("reader " + stopped) == cycle; }))
            << s.dump();
        EXPECT_TRUE(s.wait_for([&] { return restored(s); })) << s.dump();
        // What `fg` does: SIGCONT to the job's group.
        kill(-j.pid(), SIGCONT);
        ASSERT_TRUE(shows(s, TREE_ROWS, 0));
        EXPECT_TRUE(s.wait_for([&] { return j.count("reader continued") == cycle; })) << s.dump();
    }
    // The pick still goes through the pipe.
    s.send("jo");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
    EXPECT_EQ(s.stdout_data(), "a/1\n");
    EXPECT_EQ(j.count("exited 0"), 1);
    EXPECT_EQ(j.count("reader exited 0"), 1);
}

// Under a parent without job control (the harness starts korvel in a session
// of its own, as `tmux new-session korvel` does) nobody could continue a
// stopped korvel: Ctrl-Z and SIGTSTP are ignored, while the list loads as in
// the viewer.
TEST(ViewerSuspend, IgnoredWhereNobodyCouldContinueIt) {
    char fifo_dir[] = "/tmp/korvel-fifo-XXXXXX";
    ASSERT_NE(mkdtemp(fifo_dir), nullptr);
    const std::string fifo = std::string(fifo_dir) + "/list";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int producer = open(fifo.c_str(), O_RDWR);
    ASSERT_GE(producer, 0);
    e2e::launch how = korvel("", 10, 30);
    how.stdin_data.reset();
    how.stdin_file = fifo;
    e2e::session s(how);
    ASSERT_EQ(write(producer, "a/1\n", 4), 4);
    ASSERT_TRUE(s.wait_for([&] { return catches(s.pid(), SIGTSTP); })) << s.dump();
    ASSERT_TRUE(s.wait_for_text("korvel: reading 1 path")) << s.dump();

    s.send("\x1a");
    kill(s.pid(), SIGTSTP);
    ASSERT_EQ(write(producer, "a/2\nb/c/d\ne\n", 12), 12);
    close(producer);
    ASSERT_TRUE(shows(s, TREE_ROWS, 0));
    s.send("\x1a");
    kill(s.pid(), SIGTSTP);
    s.send("j");
    ASSERT_TRUE(shows(s, TREE_ROWS, 1));
    s.send("q");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
    unlink(fifo.c_str());
    rmdir(fifo_dir);
}

TEST(ViewerSuspend, QuitSignalWhileStoppedEndsItWhenContinued) {
    // What `kill %1` does to a stopped job: the signal, then SIGCONT.
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(sig);
        job j(TREE, 10, 30);
        e2e::session& s = j.session();
        ASSERT_TRUE(ready(s));
        ASSERT_GT(j.pid(), 0) << s.dump();
        s.send("\x1a");
        ASSERT_TRUE(s.wait_for([&] { return j.count("stopped " + std::to_string(SIGTSTP)) == 1; }))
            << s.dump();
        ASSERT_TRUE(s.wait_for([&] { return restored(s); })) << s.dump();
        const size_t stopped_at = s.raw_output().size();
        kill(j.pid(), sig);
        kill(j.pid(), SIGCONT);
        ASSERT_TRUE(s.wait_exit()) << s.dump();
        EXPECT_EQ(s.exit_status(), 0);
        EXPECT_EQ(j.count("exited 0"), 1);
        EXPECT_EQ(s.stderr_data(), "");
        EXPECT_TRUE(restored(s));
        // It went without taking the screen back first.
        EXPECT_EQ(s.raw_output().find("\x1b[?1049h", stopped_at), std::string::npos)
            << escaped(s.raw_output().substr(stopped_at));
    }
}

TEST(ViewerSuspend, ResizedWhileStoppedComesBackAtTheNewSize) {
    job j(numbered(40), 10, 30);
    e2e::session& s = j.session();
    ASSERT_TRUE(ready(s));
    ASSERT_GT(j.pid(), 0) << s.dump();
    s.send("G");
    ASSERT_TRUE(s.wait_for([&] { return flat_view(s) == flat_view(10, 31, 39); })) << s.dump();
    s.send("\x1a");
    ASSERT_TRUE(s.wait_for([&] { return j.count("stopped " + std::to_string(SIGTSTP)) == 1; }))
        << s.dump();
    s.resize(14, 40);
    kill(j.pid(), SIGCONT);
    // The same cursor, the window come up to fill the larger screen.
    ASSERT_TRUE(s.wait_for([&] {
        return s.alt_screen() && flat_view(s) == flat_view(14, 27, 39) &&
               status_row(s) == " f39" + std::string(27, ' ') + "   40/40";
    })) << s.dump();
    s.send("q");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
}

TEST(ViewerSuspend, PromptStaysOpenAcrossAStopAndIgnoresCtrlZ) {
    job j(TREE, 10, 30);
    e2e::session& s = j.session();
    ASSERT_TRUE(ready(s));
    ASSERT_GT(j.pid(), 0) << s.dump();
    s.send("j/ab");
    ASSERT_TRUE(s.wait_for([&] {
        return status_row(s).rfind(" /ab ", 0) == 0 && s.cursor_visible() && s.cursor_col() == 4;
    })) << s.dump();

    // Ctrl-Z and Ctrl-C are no editing keys: they do nothing at the prompt.
    // Each is followed by a character typed into it and taken out again:
    // once the prompt shows it, the key before it has been handled.
    for (const std::string key : {"\x1a", "\x03"}) {
        s.send(key);
        s.send("x");
        EXPECT_TRUE(s.wait_for([&] {
            return status_row(s).rfind(" /abx ", 0) == 0 && s.cursor_visible() &&
                   s.cursor_col() == 5;
        })) << escaped(key) << "\n" << s.dump();
        s.send(e2e::KEY_BACKSPACE);
        EXPECT_TRUE(s.wait_for([&] {
            return status_row(s).rfind(" /ab ", 0) == 0 && s.cursor_col() == 4;
        })) << s.dump();
        EXPECT_EQ(j.count("stopped " + std::to_string(SIGTSTP)), 0);
        EXPECT_TRUE(s.alt_screen());
        EXPECT_EQ(status_row(s).rfind(" /ab ", 0), 0u) << s.dump();
        EXPECT_TRUE(s.cursor_visible());
        EXPECT_EQ(s.cursor_col(), 4);
    }

    kill(j.pid(), SIGTSTP);
    ASSERT_TRUE(s.wait_for([&] { return j.count("stopped " + std::to_string(SIGTSTP)) == 1; }))
        << s.dump();
    EXPECT_TRUE(s.wait_for([&] { return !s.alt_screen(); })) << s.dump();
    EXPECT_TRUE(restored(s));
    kill(j.pid(), SIGCONT);
    // Back with the prompt as it was, its cursor where it was.
    ASSERT_TRUE(shows(s, TREE_ROWS, 1, " /ab "));
    EXPECT_TRUE(s.alt_screen());
    EXPECT_TRUE(s.cursor_visible());
    EXPECT_EQ(s.cursor_col(), 4);
    s.send("c");
    ASSERT_TRUE(s.wait_for([&] {
        return status_row(s).rfind(" /abc ", 0) == 0 && s.cursor_visible() &&
               s.cursor_row() == 9 && s.cursor_col() == 5;
    })) << s.dump();
    s.send(e2e::KEY_ESC);
    ASSERT_TRUE(s.wait_for([&] { return status_row(s).rfind(" a/1 ", 0) == 0; })) << s.dump();
    s.send("q");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
}

TEST(ViewerHostile, LongNameIsClippedAndChosenWhole) {
    const std::string name(5000, 'n');
    e2e::session s(korvel(name + "/leaf\nshort\n", 8, 40));
    ASSERT_TRUE(ready(s));
    // The row runs past the right edge: cut there, with '>' in the last column.
    ASSERT_TRUE(shows(s, {"▼ " + std::string(37, 'n') + ">", "  • leaf", "• short"}, 0));
    EXPECT_EQ(s.cell_at(0, 39).fg, BLACK);
    EXPECT_EQ(s.cell_at(0, 39).bg, WHITE);
    // Sideways, cut at both ends.
    s.send("l");
    ASSERT_TRUE(shows(s, {"< " + std::string(37, 'n') + ">", "< af", "< t"}, 0));
    // The whole path comes out, byte for byte.
    s.send("jo");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
    EXPECT_EQ(s.stdout_data(), name + "/leaf\n");
    EXPECT_EQ(s.stderr_data(), "");
}

TEST(ViewerHostile, ControlBytesAreShownNotObeyed) {
    struct hostile {
        std::string name;
        std::string shown;
        std::string never_sent; // what must not reach the terminal
    };
    const std::vector<hostile> names{
        {"title\x1b]0;pwned\x07", "title␛]0;pwned␇", "\x1b]0;pwned"},
        {"clear\x1b[2Jgone", "clear␛[2Jgone", "\x1b[2Jgone"},
        {"red\x1b[31mred", "red␛[31mred", "\x1b[31mred"},
        {"clip\x1b]52;c;cHduZWQ=\x07", "clip␛]52;c;cHduZWQ=␇", "\x1b]52;"},
        {"cone\xc2\x9b" "31mx", "cone\uFFFD31mx", "\xc2\x9b"},
        {"del\x7f" "bell\x07", "del␡bell␇", "bell\x07"},
        {"bad\xff\xfe.", "bad\uFFFD\uFFFD.", "\xff"},
        {"tab\tcr\r", "tab␉cr␍", "tab\t"},
    };
    std::string list;
    for (const hostile& h : names) list += h.name + "\n";
    e2e::session s(korvel(list, 12, 40));
    ASSERT_TRUE(ready(s));
    // Each name stands on a row of its own, in byte order.
    std::vector<hostile> sorted = names;
    std::sort(sorted.begin(), sorted.end(),
              [](const hostile& a, const hostile& b) { return a.name < b.name; });
    std::vector<std::string> rows;
    for (const hostile& h : sorted) rows.push_back("• " + h.shown);
    ASSERT_TRUE(shows(s, rows, 0, " " + sorted[0].shown + " "));
    EXPECT_TRUE(s.alt_screen());
    for (const hostile& h : names)
        EXPECT_EQ(s.raw_output().find(h.never_sent), std::string::npos) << escaped(h.name);
    // The red name's tail is not red.
    for (size_t i = 0; i < sorted.size(); ++i) {
        if (sorted[i].name.rfind("red", 0) == 0) {
            EXPECT_EQ(s.cell_at(static_cast<int>(i), 11).fg, DEFAULT) << s.dump();
        }
    }
    // Walk them all with the status row showing each one.
    for (size_t i = 1; i < sorted.size(); ++i) {
        s.send("j");
        EXPECT_TRUE(shows(s, rows, static_cast<int>(i), " " + sorted[i].shown + " "));
    }
    for (const hostile& h : names)
        EXPECT_EQ(s.raw_output().find(h.never_sent), std::string::npos) << escaped(h.name);
    s.send("q");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.stderr_data(), "");
}

TEST(ViewerHostile, ChosenPathKeepsEveryByte) {
    const std::string nasty = "all\x1b]0;t\x07\x1b[2J\x1b[31m\xc2\x9b\x7f\xff\t\r|";
    for (const std::string& chosen : {nasty, std::string("dir\x1b[1m/leaf\x9b")}) {
        e2e::session s(korvel("0first\n" + chosen + "\n", 8, 40));
        ASSERT_TRUE(ready(s));
        s.send("G");
        ASSERT_TRUE(s.wait_for([&] { return bold_row(s) > 0; })) << s.dump();
        s.send("o");
        ASSERT_TRUE(s.wait_exit()) << s.dump();
        EXPECT_EQ(s.exit_status(), 0);
        EXPECT_EQ(escaped(s.stdout_data()), escaped(chosen + "\n"));
        EXPECT_TRUE(restored(s));
    }
}

} // namespace
