// The filter and the search as a user types them: the tree narrowing as the
// pattern grows, Escape going back, the count of matches, and letter case.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.hpp"
#include "screen.hpp"

namespace {

using namespace e2e::screen;

// Sorted, with their numbers in the position counter: 1 docs, 2 docs/api,
// 3 docs/api/index.md, 4 docs/guide.md, 5 notes.md, 6 src, 7 src/main.c,
// 8 src/util, 9 src/util/README.md, 10 src/util/str.c.
const std::string LIST = "src/main.c\nsrc/util/str.c\nsrc/util/README.md\ndocs/guide.md\n"
                         "docs/api/index.md\nnotes.md\n";


bool status_ends(e2e::session& s, const std::string& end) {
    return s.wait_for([&] { return status_row(s).ends_with(end); });
}

TEST(Filter, NarrowsAsThePatternIsTypedKeepingEveryAncestor) {
    e2e::session s(korvel(LIST, 14, 60));
    ASSERT_TRUE(ready(s));
    s.send("&st");
    // The cursor's entry is not shown: it moves to the next that is.
    ASSERT_TRUE(shows_tree(s, {"▼ src", "  ▼ util", "    • str.c"}, " &st "));
    EXPECT_TRUE(status_ends(s, "filter 1     6/10")) << s.dump();
    // The match is highlighted as a search match is; its ancestors are not.
    EXPECT_TRUE(s.wait_for([&] { return s.cell_at(2, 6).bg == YELLOW; })) << s.dump();
    EXPECT_NE(s.cell_at(1, 4).bg, YELLOW);
    // Back to a shorter word: more matches come back. A directory that
    // matches but shows nothing below it is drawn as a leaf of this tree.
    s.send(e2e::KEY_BACKSPACE);
    ASSERT_TRUE(shows_tree(s, {"• docs", "• notes.md", "▼ src", "  ▼ util", "    • str.c"}, " &s "));
    s.send(e2e::KEY_BACKSPACE + "md");
    ASSERT_TRUE(shows_tree(s,
                      {"▼ docs", "  ▼ api", "    • index.md", "  • guide.md", "• notes.md", "▼ src",
                       "  ▼ util", "    • README.md"},
                      " &md "));
    EXPECT_TRUE(status_ends(s, "filter 4     6/10")) << s.dump();
    // A pattern holding the separator is matched against full paths.
    s.send(e2e::KEY_BACKSPACE + e2e::KEY_BACKSPACE + "/R");
    ASSERT_TRUE(shows_tree(s, {"▼ src", "  ▼ util", "    • README.md"}, " &/R "));
    s.send(e2e::KEY_ENTER);
    ASSERT_TRUE(shows_tree(s, {"▼ src", "  ▼ util", "    • README.md"}, " src "));
    EXPECT_TRUE(status_ends(s, "filter 1     6/10")) << s.dump();
}

TEST(Filter, EveryKeyWorksOnTheNarrowedTreeAndOPrintsFromIt) {
    const std::vector<std::string> narrowed{"▼ docs",     "  ▼ api", "    • index.md",
                                            "  • guide.md", "• notes.md", "▼ src",
                                            "  ▼ util",   "    • README.md"};
    e2e::session s(korvel(LIST, 14, 60));
    ASSERT_TRUE(ready(s));
    s.send("&md\r");
    ASSERT_TRUE(shows_tree(s, narrowed, " docs "));
    // Moving and folding among the rows shown.
    s.send("jj");
    ASSERT_TRUE(shows_tree(s, narrowed, " docs/api/index.md "));
    s.send("p\r");
    ASSERT_TRUE(shows_tree(s, {"▼ docs", "  ▶ api", "  • guide.md", "• notes.md", "▼ src", "  ▼ util",
                          "    • README.md"},
                      " docs/api "));
    // n and N go only to entries that are shown: never to main.c.
    s.send("/i\r");
    ASSERT_TRUE(shows_tree(s, narrowed, " docs/api/index.md "));
    s.send("n");
    ASSERT_TRUE(shows_tree(s, narrowed, " docs/guide.md "));
    s.send("n");
    ASSERT_TRUE(shows_tree(s, narrowed, " src/util "));
    s.send("n");
    ASSERT_TRUE(shows_tree(s, narrowed, " Pattern not found "));
    s.send("Go");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
    EXPECT_EQ(s.stdout_data(), "src/util/README.md\n");
}

TEST(Filter, EscapeRestoresWhatWasThereAndAnEmptyTextRemovesIt) {
    e2e::session s(korvel(LIST, 14, 60, {"-f"}));
    ASSERT_TRUE(ready(s));
    ASSERT_TRUE(shows_tree(s, {"▶ docs", "• notes.md", "▶ src"}, " docs "));
    s.send("&guide");
    ASSERT_TRUE(shows_tree(s, {"▼ docs", "  • guide.md"}, " &guide "));
    s.send(e2e::KEY_ESC);
    ASSERT_TRUE(shows_tree(s, {"▶ docs", "• notes.md", "▶ src"}, " docs "));
    EXPECT_TRUE(s.wait_for([&] { return status_row(s).find("filter") == std::string::npos; }))
        << s.dump();

    // Kept with Enter, then removed with an empty one: the cursor stays on
    // its entry, shown in the whole tree.
    s.send("&str\r");
    ASSERT_TRUE(shows_tree(s, {"▼ src", "  ▼ util", "    • str.c"}, " src "));
    s.send("G&\r");
    ASSERT_TRUE(shows_tree(s, {"▶ docs", "• notes.md", "▼ src", "  • main.c", "  ▼ util",
                          "    • README.md", "    • str.c"},
                      " src/util/str.c "));
    EXPECT_TRUE(status_ends(s, "   10/10")) << s.dump();
    // Escape also brings back a filter that was there before.
    s.send("&str\r&main");
    ASSERT_TRUE(shows_tree(s, {"▼ src", "  • main.c"}, " &main "));
    s.send(e2e::KEY_ESC);
    ASSERT_TRUE(shows_tree(s, {"▼ src", "  ▼ util", "    • str.c"}, " src/util/str.c "));
    quit(s);
}

// At the prompt a 'q' is text: Escape first, and once the prompt has gone
// (a key straight after Escape would be an Alt-key), q.
void leave_prompt_and_quit(e2e::session& s) {
    s.send(e2e::KEY_ESC);
    ASSERT_TRUE(s.wait_for([&] { return !s.cursor_visible(); })) << s.dump();
    quit(s);
}

TEST(Filter, AnInvalidPatternKeepsTheLastFilterAndSaysWhy) {
    e2e::session s(korvel(LIST, 14, 70));
    ASSERT_TRUE(ready(s));
    s.send("&(str");
    ASSERT_TRUE(s.wait_for([&] {
        return status_row(s).rfind(" &(str  regex failed: ", 0) == 0;
    })) << s.dump();
    // Nothing was filtered yet: the whole tree stays.
    EXPECT_EQ(filled_rows(s).size(), 10u) << s.dump();
    s.send(")");
    ASSERT_TRUE(shows_tree(s, {"▼ src", "  ▼ util", "    • str.c"}, " &(str) "));
    s.send("|(");
    ASSERT_TRUE(s.wait_for([&] {
        return status_row(s).rfind(" &(str)|(  regex failed: ", 0) == 0;
    })) << s.dump();
    EXPECT_EQ(filled_rows(s), (std::vector<std::string>{"▼ src", "  ▼ util", "    • str.c"}));
    // No match at all: the last filter stays too.
    s.send(e2e::KEY_BACKSPACE + e2e::KEY_BACKSPACE + "zz");
    ASSERT_TRUE(s.wait_for([&] {
        return status_row(s).rfind(" &(str)zz  Pattern not found", 0) == 0;
    })) << s.dump();
    EXPECT_EQ(filled_rows(s), (std::vector<std::string>{"▼ src", "  ▼ util", "    • str.c"}));
    // Enter keeps the filter that is shown and says why the typed one is not.
    s.send(e2e::KEY_ENTER);
    ASSERT_TRUE(s.wait_for([&] { return status_row(s).rfind(" Pattern not found", 0) == 0; }))
        << s.dump();
    EXPECT_EQ(filled_rows(s), (std::vector<std::string>{"▼ src", "  ▼ util", "    • str.c"}));
    quit(s);
}

TEST(SearchAsYouType, EachEditGoesToTheMatchAndEscapeGoesBack) {
    e2e::session s(korvel(LIST, 14, 60, {"-f"}));
    ASSERT_TRUE(ready(s));
    s.send("/m");
    // The first match after the cursor, revealed.
    ASSERT_TRUE(shows_tree(s, {"▼ docs", "  ▼ api", "    • index.md", "  • guide.md", "• notes.md",
                          "▶ src"},
                      " /m "));
    EXPECT_TRUE(s.wait_for([&] { return bold_row(s) == 2; })) << s.dump();
    // Another match: what the last one opened is folded again.
    s.send("a");
    ASSERT_TRUE(shows_tree(s, {"▶ docs", "• notes.md", "▼ src", "  • main.c", "  ▶ util"}, " /ma "));
    EXPECT_TRUE(s.wait_for([&] { return bold_row(s) == 3; })) << s.dump();
    s.send("x");
    ASSERT_TRUE(shows_tree(s, {"▶ docs", "• notes.md", "▶ src"}, " /max  Pattern not found"));
    EXPECT_TRUE(s.wait_for([&] { return bold_row(s) == 0; })) << s.dump(); // back where the search started
    s.send(e2e::KEY_BACKSPACE);
    ASSERT_TRUE(shows_tree(s, {"▶ docs", "• notes.md", "▼ src", "  • main.c", "  ▶ util"}, " /ma "));
    s.send(e2e::KEY_ESC);
    ASSERT_TRUE(shows_tree(s, {"▶ docs", "• notes.md", "▶ src"}, " docs "));
    EXPECT_TRUE(s.wait_for([&] { return bold_row(s) == 0; })) << s.dump();

    // Enter confirms as the preview showed; the rank of each match follows.
    s.send("/md\r");
    ASSERT_TRUE(shows_tree(s, {"▼ docs", "  ▼ api", "    • index.md", "  • guide.md", "• notes.md",
                          "▶ src"},
                      " docs/api/index.md "));
    EXPECT_TRUE(status_ends(s, "match 1/4     3/10")) << s.dump();
    s.send("n");
    EXPECT_TRUE(status_ends(s, "match 2/4     4/10")) << s.dump();
    s.send("nn");
    EXPECT_TRUE(status_ends(s, "match 4/4     9/10")) << s.dump();
    s.send("g");
    ASSERT_TRUE(shows_tree(s, {"▼ docs", "  ▼ api", "    • index.md", "  • guide.md", "• notes.md",
                          "▼ src", "  • main.c", "  ▼ util", "    • README.md", "    • str.c"},
                      " docs "));
    // Off the matches, no rank (the frame may still be on its way).
    EXPECT_TRUE(s.wait_for([&] { return status_row(s).find("match") == std::string::npos; }))
        << s.dump();
    quit(s);
}

TEST(LetterCase, IgnoredOnRequestOrUnlessThePatternHoldsACapital) {
    struct case_t {
        std::vector<std::string> args;
        std::string typed;
        size_t rows; // in the filtered tree; 0 for none found
    };
    const std::vector<case_t> cases{
        {{}, "readme", 0}, // case counts by default
        {{"-i"}, "readme", 3},
        {{"--ignore-case"}, "README", 3},
        {{"-S"}, "readme", 3}, // no capital: case is ignored
        {{"--smart-case"}, "README", 3},
        {{"-S"}, "Readme", 0}, // a capital: case counts
        {{"-i"}, "ÉTÉ", 1},    // letters beyond ASCII too
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.typed);
        e2e::session s(korvel(LIST + "été\n", 16, 60, c.args));
        ASSERT_TRUE(ready(s));
        s.send("&" + c.typed);
        if (c.rows == 0) {
            ASSERT_TRUE(s.wait_for([&] {
                return status_row(s).find("Pattern not found") != std::string::npos;
            })) << s.dump();
        } else {
            ASSERT_TRUE(s.wait_for([&] {
                return filled_rows(s).size() == c.rows && status_row(s).find("filter 1") != std::string::npos;
            })) << s.dump();
        }
        leave_prompt_and_quit(s);
    }
}

} // namespace
