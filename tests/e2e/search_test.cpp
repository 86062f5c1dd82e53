// Searching as a user meets it: the prompt on the bottom row, its line
// editor and history, the jumps with n and N, the highlight of matching
// rows, and the messages when there is nothing to find.
#include <regex.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.hpp"
#include "screen.hpp"

namespace {

using namespace e2e::screen;

// Entries a, a/x, b, b/x in this order.
const std::string AX = "a/x\nb/x\n";
const std::vector<std::string> AX_ROWS{"▼ a", "  • x", "▼ b", "  • x"};

// The colours of the status row, read at its second column (its first
// character).
struct colours {
    int fg;
    int bg;
    bool operator==(const colours&) const = default;
};
constexpr colours MESSAGE{BLACK, WHITE};
constexpr colours ERROR{WHITE, RED};
constexpr colours PROMPT{DEFAULT, DEFAULT}; // the terminal's own, as plain rows

colours status_colours(const e2e::session& s) {
    const e2e::cell c = s.cell_at(s.rows() - 1, 1);
    return {c.fg, c.bg};
}

// What the screen should come to after a key: the tree rows (those not
// named are blank), the cursor's row, the status text (a prefix, then
// blanks at least to the end of the word) and its colours.
struct frame {
    std::vector<std::string> rows;
    int cursor_row;
    std::string status;
    colours look;
};

// Waits for the whole frame: it reaches the terminal in pieces.
testing::AssertionResult shows(e2e::session& s, const frame& want) {
    std::vector<std::string> rows = want.rows;
    rows.resize(static_cast<size_t>(s.rows() - 1));
    const auto matches = [&] {
        return tree_rows(s) == rows && bold_row(s) == want.cursor_row &&
               status_row(s).rfind(want.status + " ", 0) == 0 && status_colours(s) == want.look;
    };
    if (s.wait_for(matches)) return testing::AssertionSuccess();
    const colours got = status_colours(s);
    return testing::AssertionFailure()
           << "want cursor on row " << want.cursor_row << ", status \"" << want.status
           << "\" in " << want.look.fg << " on " << want.look.bg << "; status colours are "
           << got.fg << " on " << got.bg << "\n"
           << s.dump();
}

// Waits for the open prompt: its text, and the terminal cursor at the
// editing position.
testing::AssertionResult prompt_shows(e2e::session& s, const std::string& text, int pos) {
    const int row = s.rows() - 1;
    const auto matches = [&] {
        return status_row(s).rfind(" " + text + " ", 0) == 0 && status_colours(s) == PROMPT &&
               s.cursor_visible() && s.cursor_row() == row && s.cursor_col() == pos + 2;
    };
    if (s.wait_for(matches)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "want prompt \"" << text << "\" with the cursor at column "
                                       << pos + 2 << "\n"
                                       << s.dump();
}

// The regular-expression library's own words for a pattern's error.
std::string regex_error(const char* pattern) {
    regex_t re;
    const int rc = regcomp(&re, pattern, REG_EXTENDED);
    char text[64] = "";
    regerror(rc, &re, text, sizeof text);
    if (rc == 0) regfree(&re);
    return text;
}

struct step {
    std::string keys;
    frame then;
};

struct scenario {
    const char* name;
    std::vector<step> steps;
};

TEST(SearchJumps, WalkBothWaysAndReportTheEnds) {
    const frame on_a{AX_ROWS, 0, " a", MESSAGE};
    const frame on_ax{AX_ROWS, 1, " a/x", MESSAGE};
    const frame on_bx{AX_ROWS, 3, " b/x", MESSAGE};
    const auto at = [](int row, const char* text, colours look) {
        return frame{AX_ROWS, row, text, look};
    };
    const std::vector<scenario> scenarios{
        {"forward",
         {{"/x\r", on_ax},
          {"n", on_bx},
          {"n", at(3, " Pattern not found", ERROR)}, // no wrapping round
          {"N", on_ax}}},
        {"backward",
         {{"G", on_bx},
          {"?x\r", on_ax},
          {"n", at(1, " Pattern not found", ERROR)}, // n goes on upwards
          {"N", on_bx}}},
        {"the cursor's own entry is never the result",
         {{"/a/x\r", on_ax}, // with the separator: matched against full paths
          {"n", at(1, " Pattern not found", ERROR)},
          {"N", at(1, " Pattern not found", ERROR)}}},
        {"before any pattern",
         {{"n", at(0, " Search query was not given", ERROR)},
          {"N", at(0, " Search query was not given", ERROR)},
          {"/\r", on_a}, // an empty prompt compiles nothing
          {"n", at(0, " Search query was not given", ERROR)},
          {"j", on_ax}}},
        {"escape after ? keeps the old direction",
         {{"/x\r", on_ax}, {"?", at(1, " ?", PROMPT)}, {"\x1b", on_ax}, {"n", on_bx}}},
        {"enter on an empty prompt keeps pattern and direction",
         {{"/x\r", on_ax}, {"?", at(1, " ?", PROMPT)}, {"\r", on_ax}, {"n", on_bx}}},
        {"a new pattern replaces the old",
         {{"/x\r", on_ax}, {"?^a$\r", on_a}, {"n", at(0, " Pattern not found", ERROR)}}},
    };
    for (const scenario& sc : scenarios) {
        SCOPED_TRACE(sc.name);
        e2e::session s(korvel(AX, 8, 40));
        ASSERT_TRUE(ready(s));
        for (const step& st : sc.steps) {
            s.send(st.keys);
            EXPECT_TRUE(shows(s, st.then)) << "after " << escaped(st.keys);
        }
    }
}

TEST(SearchJumps, MatchesAreHighlightedAndTheCursorRowIsNot) {
    e2e::session s(korvel(AX, 8, 30));
    ASSERT_TRUE(ready(s));
    s.send("/x\r");
    ASSERT_TRUE(shows(s, {AX_ROWS, 1, " a/x", MESSAGE}));
    const auto row_look = [&](int row) {
        const e2e::cell c = s.cell_at(row, s.row_text(row).find_first_not_of(' '));
        return colours{c.fg, c.bg};
    };
    EXPECT_EQ(row_look(3), (colours{BLACK, YELLOW})); // b/x
    EXPECT_EQ(row_look(1), (colours{BLACK, WHITE}));  // the cursor's colours win
    EXPECT_EQ(row_look(0), (colours{DEFAULT, DEFAULT}));
    EXPECT_EQ(row_look(2), (colours{DEFAULT, DEFAULT}));
    EXPECT_FALSE(s.cell_at(3, 2).bold);
    EXPECT_EQ(s.cell_at(3, 5).bg, DEFAULT); // the highlight ends with the text

    s.send("n");
    ASSERT_TRUE(shows(s, {AX_ROWS, 3, " b/x", MESSAGE}));
    EXPECT_TRUE(s.wait_for([&] { return row_look(1) == colours{BLACK, YELLOW}; })) << s.dump();
    EXPECT_EQ(row_look(3), (colours{BLACK, WHITE}));

    // A pattern with the separator is matched against full paths.
    s.send("/^b/\r");
    ASSERT_TRUE(shows(s, {AX_ROWS, 3, " Pattern not found", ERROR}));
    s.send("?\r");
    ASSERT_TRUE(shows(s, {AX_ROWS, 3, " b/x", MESSAGE}));
    s.send("g");
    ASSERT_TRUE(shows(s, {AX_ROWS, 0, " a", MESSAGE}));
    EXPECT_TRUE(s.wait_for([&] { return row_look(3) == colours{BLACK, YELLOW}; })) << s.dump();
    EXPECT_EQ(row_look(1), (colours{DEFAULT, DEFAULT}));
    EXPECT_EQ(row_look(2), (colours{DEFAULT, DEFAULT}));
}

TEST(SearchJumps, BadPatternReportsTheLibraryAndDropsTheOldOne) {
    e2e::session s(korvel(AX, 8, 60));
    ASSERT_TRUE(ready(s));
    s.send("/x\r");
    ASSERT_TRUE(shows(s, {AX_ROWS, 1, " a/x", MESSAGE}));
    ASSERT_TRUE(s.wait_for([&] { return s.cell_at(3, 2).bg == YELLOW; })) << s.dump();

    const std::string message = " regex failed: " + regex_error("(");
    ASSERT_NE(message, " regex failed: ");
    s.send("/(\r");
    ASSERT_TRUE(shows(s, {AX_ROWS, 1, message, ERROR}));
    EXPECT_TRUE(s.wait_for([&] { return s.cell_at(3, 2).bg == DEFAULT; })) << s.dump();
    s.send("n");
    ASSERT_TRUE(shows(s, {AX_ROWS, 1, " Search query was not given", ERROR}));
    // The failed pattern still went into the history.
    s.send("/");
    ASSERT_TRUE(prompt_shows(s, "/", 0));
    s.send(e2e::KEY_UP);
    ASSERT_TRUE(prompt_shows(s, "/(", 1));
    s.send(e2e::KEY_UP);
    ASSERT_TRUE(prompt_shows(s, "/x", 1));
}

TEST(SearchJumps, MatchInsideFoldedDirectoriesIsRevealed) {
    e2e::session s(korvel("c/d/e/hit\nc/d/other\nz\n", 10, 30, {"-f"}));
    ASSERT_TRUE(ready(s));
    ASSERT_TRUE(shows(s, {{"▶ c", "• z"}, 0, " c", MESSAGE}));
    s.send("/hit\r");
    ASSERT_TRUE(shows(s, {{"▼ c", "  ▼ d", "    ▼ e", "      • hit", "    • other", "• z"},
                          3,
                          " c/d/e/hit",
                          MESSAGE}));
    // Once counted, the match's rank among all matches stands left of the
    // position counter.
    EXPECT_TRUE(s.wait_for([&] { return status_row(s) == " c/d/e/hit  match 1/1     4/6"; }))
        << s.dump();
    // Fold the top again: the search still walks the folded entries, from
    // the cursor's place in the whole tree.
    s.send("gc");
    ASSERT_TRUE(shows(s, {{"▶ c", "• z"}, 0, " c", MESSAGE}));
    s.send("G?other\r");
    ASSERT_TRUE(shows(s, {{"▼ c", "  ▼ d", "    ▼ e", "      • hit", "    • other", "• z"},
                          4,
                          " c/d/other",
                          MESSAGE}));
}

TEST(SearchPrompt, DrawnOnTheBottomRowWithItsCursor) {
    e2e::session s(korvel(AX, 8, 30));
    ASSERT_TRUE(ready(s));
    EXPECT_FALSE(s.cursor_visible());
    s.send("/");
    ASSERT_TRUE(prompt_shows(s, "/", 0));
    // The whole row, the counter included, in the prompt's colours.
    EXPECT_EQ(status_row(s), " /" + std::string(21, ' ') + "   1/4");
    for (int c : {0, 1, 2, 26, 28, 29}) {
        EXPECT_EQ(s.cell_at(7, c).fg, DEFAULT) << c;
        EXPECT_EQ(s.cell_at(7, c).bg, DEFAULT) << c;
    }

    struct edit {
        std::string keys;
        std::string text;
        int pos;
    };
    for (const edit& e : {
             edit{"ab", "/ab", 2},
             edit{e2e::KEY_LEFT, "/ab", 1},
             edit{e2e::KEY_LEFT + e2e::KEY_LEFT + e2e::KEY_LEFT, "/ab", 0}, // not past 0
             edit{e2e::KEY_BACKSPACE, "/ab", 0},                           // nothing before
             edit{"q", "/qab", 1},                                         // text, not a key
             edit{e2e::KEY_DELETE, "/qb", 1},
             edit{e2e::KEY_RIGHT + e2e::KEY_RIGHT, "/qb", 2}, // not past the end
             edit{e2e::KEY_DELETE, "/qb", 2},                 // nothing under the cursor
             edit{e2e::KEY_BACKSPACE, "/q", 1},
             edit{"\t", "/q", 1},                             // no editing key
             edit{"\x03", "/q", 1},
         }) {
        s.send(e.keys);
        EXPECT_TRUE(prompt_shows(s, e.text, e.pos)) << "after " << escaped(e.keys);
    }
    // Escape closes it: the path again, no cursor.
    s.send(e2e::KEY_ESC);
    ASSERT_TRUE(shows(s, {AX_ROWS, 0, " a", MESSAGE}));
    EXPECT_TRUE(s.wait_for([&] { return !s.cursor_visible(); })) << s.dump();
    // '?' opens it backwards, empty again.
    s.send("?");
    ASSERT_TRUE(prompt_shows(s, "?", 0));
}

TEST(SearchPrompt, CharactersBeyondAsciiAreTypedWholeAndFound) {
    // Sorted: a, café, café/menu, zz, 中文, 中文/x.
    e2e::session s(korvel("a\ncafé/menu\n中文/x\nzz\n", 8, 40));
    ASSERT_TRUE(ready(s));
    s.send("/é");
    ASSERT_TRUE(prompt_shows(s, "/é", 1));
    s.send("中"); // two columns wide
    ASSERT_TRUE(prompt_shows(s, "/é中", 3));
    s.send(e2e::KEY_LEFT);
    ASSERT_TRUE(prompt_shows(s, "/é中", 1));
    s.send(e2e::KEY_BACKSPACE); // é goes whole, not a byte of it
    ASSERT_TRUE(prompt_shows(s, "/中", 0));
    s.send(e2e::KEY_DELETE);
    ASSERT_TRUE(prompt_shows(s, "/", 0));
    s.send("é\r");
    ASSERT_TRUE(wait_status(s, "café")) << s.dump();
    s.send("/文\r");
    ASSERT_TRUE(wait_status(s, "中文")) << s.dump();
    // The history keeps the characters whole.
    s.send("/" + e2e::KEY_UP + e2e::KEY_UP);
    ASSERT_TRUE(prompt_shows(s, "/é", 1));
    s.send(e2e::KEY_ESC);
    ASSERT_TRUE(wait_status(s, "中文")) << s.dump();
    quit(s);
}

TEST(SearchPrompt, LineHoldsSixtyThreeBytes) {
    e2e::session s(korvel(AX, 8, 80));
    ASSERT_TRUE(ready(s));
    const std::string full(63, 'y');
    s.send("/" + std::string(70, 'y'));
    ASSERT_TRUE(prompt_shows(s, "/" + full, 63));
    s.send(e2e::KEY_LEFT + "z");
    ASSERT_TRUE(prompt_shows(s, "/" + full, 62)); // a full line takes nothing more
    s.send(e2e::KEY_ENTER);
    ASSERT_TRUE(shows(s, {AX_ROWS, 0, " Pattern not found", ERROR}));
    s.send("/" + e2e::KEY_UP);
    ASSERT_TRUE(prompt_shows(s, "/" + full, 63));
}

TEST(SearchPrompt, LongTextScrollsOnANarrowTerminalAndTheCounterGivesWay) {
    // Entries the typed texts find, so that no "Pattern not found" joins
    // them. 20 columns: the counter "   N/6 " starts at column 13.
    const std::string text = "abcdefghijklmnopqrstuvwxyz0123"; // 30 columns
    const std::string wide = "中文中文中文中文中文中文";           // 24 columns
    e2e::session s(korvel("a/x\n" + text + "\nb/x\n" + wide + "\n", 8, 20));
    ASSERT_TRUE(ready(s));
    // The status row is row, or with a counter, row and then the counter.
    const auto at_cursor = [&](const std::string& row, int col, bool counter = false) {
        const auto matches = [&] {
            const std::string shown = status_row(s);
            const bool text_ok = counter ? shown.rfind(row + " ", 0) == 0 && shown.ends_with("/6")
                                         : shown == row;
            return text_ok && s.cursor_visible() && s.cursor_row() == 7 && s.cursor_col() == col;
        };
        if (s.wait_for(matches)) return testing::AssertionSuccess();
        return testing::AssertionFailure()
               << "want \"" << row << "\"" << (counter ? " and the counter" : "")
               << " with the cursor at column " << col << "\n"
               << s.dump();
    };
    // Short of the counter, both are there.
    s.send("/" + text.substr(0, 10));
    EXPECT_TRUE(at_cursor(" /abcdefghij", 12, true));
    // Reaching it, the counter goes; the text does not run under it.
    s.send(text.substr(10, 2));
    EXPECT_TRUE(at_cursor(" /abcdefghijkl", 14));
    // Past the edge, the text scrolls: the cursor on the last column, what
    // stands before it on the row, and '<' for what went off at the left.
    s.send(text.substr(12));
    EXPECT_TRUE(at_cursor("</" + text.substr(13), 19));
    // Back at the start (Ctrl-A) it is drawn from its first character
    // again; near the end (Ctrl-E, Left twice) the cursor is on the row's
    // last column with the text before it.
    s.send("\x01");
    EXPECT_TRUE(at_cursor(" /" + text.substr(0, 18), 2));
    s.send("\x05" + e2e::KEY_LEFT + e2e::KEY_LEFT);
    EXPECT_TRUE(at_cursor("</" + text.substr(11, 18), 19));
    // Wide characters go off whole: the cursor never lands on half of one.
    s.send(e2e::KEY_ESC);
    ASSERT_TRUE(s.wait_for([&] { return !s.cursor_visible(); })) << s.dump();
    s.send("/" + wide);
    EXPECT_TRUE(at_cursor("</中文中文中文中文", 18));
}

TEST(SearchPrompt, HistoryIsWalkedWithUpAndDown) {
    // Every pattern here finds nothing, so each Enter that searches says so
    // and one that does not search leaves the path on the status row.
    const frame not_found{AX_ROWS, 0, " Pattern not found", ERROR};
    const frame no_search{AX_ROWS, 0, " a", MESSAGE};
    struct history_step {
        std::string keys;
        std::string prompt; // the open prompt, or "" when closed
        int pos;
        const frame* closed;
    };
    const std::vector<history_step> steps{
        {"/ab\r", "", 0, &not_found},
        {"/cd\r", "", 0, &not_found},
        {"/" + e2e::KEY_UP, "/cd", 2, nullptr},
        {e2e::KEY_UP, "/ab", 2, nullptr},
        {e2e::KEY_UP + "x", "/abx", 3, nullptr}, // nothing older
        {e2e::KEY_DOWN, "/cd", 2, nullptr},
        {e2e::KEY_DOWN, "/", 0, nullptr},
        {e2e::KEY_DOWN, "/", 0, nullptr}, // nothing newer
        {e2e::KEY_UP + e2e::KEY_UP, "/abx", 3, nullptr},
        {"\r", "", 0, &not_found}, // searches for 'abx' and makes it the most recent
        {"/" + e2e::KEY_UP, "/abx", 3, nullptr},
        {e2e::KEY_UP, "/cd", 2, nullptr},
        {e2e::KEY_DOWN + e2e::KEY_BACKSPACE + e2e::KEY_BACKSPACE + e2e::KEY_BACKSPACE, "/", 0,
         nullptr},
        {"\r", "", 0, &no_search}, // an emptied entry leaves the history
        {"/z" + e2e::KEY_UP, "/cd", 2, nullptr},
        {e2e::KEY_UP, "/cd", 2, nullptr}, // 'abx' is gone
        {e2e::KEY_DOWN, "/z", 1, nullptr},
        {e2e::KEY_UP + "\r", "", 0, &not_found},
        {"/", "/z", 0, nullptr}, // the typed line survives, from its start
        {e2e::KEY_ESC, "", 0, &no_search},
        {"/", "/", 0, nullptr}, // Escape emptied it
        {e2e::KEY_UP, "/cd", 2, nullptr},
    };
    e2e::session s(korvel(AX, 8, 30));
    ASSERT_TRUE(ready(s));
    for (const history_step& st : steps) {
        s.send(st.keys);
        if (st.closed) {
            EXPECT_TRUE(shows(s, *st.closed)) << "after " << escaped(st.keys);
            EXPECT_TRUE(s.wait_for([&] { return !s.cursor_visible(); })) << s.dump();
        } else {
            EXPECT_TRUE(prompt_shows(s, st.prompt, st.pos)) << "after " << escaped(st.keys);
        }
    }
}

} // namespace

namespace {

// Long names, on which a pattern that backtracks would keep one match going
// for minutes: whatever is typed, the keys after it still act.
TEST(SearchPrompt, NoPatternKeepsTheKeysWaiting) {
    const std::string name62(62, 'a');
    std::string long_name;
    while (long_name.size() < 100000) long_name += "abcdefg";
    const std::string list = name62 + "\n" + name62 + "c\nlong/" + long_name + "\n";
    e2e::session s(korvel(list, 8, 100));
    ASSERT_TRUE(ready(s));
    const auto generous = std::chrono::seconds(30);
    // Back-references are refused as they are typed.
    s.send("/(.*)(.*)(.*)\\3\\2\\1b");
    ASSERT_TRUE(s.wait_for_text("Back-references are not supported", generous)) << s.dump();
    s.send(e2e::KEY_ESC);
    ASSERT_TRUE(s.wait_for([&] { return !s.cursor_visible(); }, generous)) << s.dump();
    // Patterns that the C library would try from every position of the
    // 100,000-byte name, as a search, then as a filter.
    for (const char* keys : {"/(a|b|c|d|e)*(.*)*z\r", "/long/(.*a){20}z\r", "&a.*z\r"}) {
        s.send(keys);
        ASSERT_TRUE(s.wait_for_text("Pattern not found", generous)) << escaped(keys) << "\n" << s.dump();
        s.send(e2e::KEY_DOWN);
        ASSERT_TRUE(s.wait_for([&] { return status_row(s).find("Pattern not found") == std::string::npos; },
                               generous))
            << s.dump();
    }
    s.send("q");
    ASSERT_TRUE(s.wait_exit(generous)) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
}

} // namespace
