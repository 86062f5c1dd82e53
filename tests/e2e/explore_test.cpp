// Finding one's way: the help screen, entry counts, compact chains, the keys
// users reach for, and the status row on a narrow terminal.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/actions.hpp"
#include "harness.hpp"
#include "screen.hpp"

namespace {

using namespace e2e::screen;
// The launcher, not the program's namespace, which actions.hpp brings in.
using e2e::screen::korvel;


// /, usr, usr/share, usr/share/doc, usr/share/doc/a, usr/share/doc/b,
// usr/share/man, usr/share/man/x: usr holds only share.
const std::string TREE = "/usr/share/doc/a\n/usr/share/doc/b\n/usr/share/man/x\n";

TEST(Help, ListsTheKeysAndTheMappedOnesAndAnyOtherKeyCloses) {
    e2e::launch how = korvel(TREE, 12, 80);
    how.home_files[".config/korvel/config"] = "map w wc -c \"$f\"\n";
    for (const std::string opener : {"\x1bOP" /* F1 */, "H"}) {
        e2e::session s(how);
        ASSERT_TRUE(ready(s));
        s.send(opener);
        ASSERT_TRUE(s.wait_for_text("In the tree")) << s.dump();
        EXPECT_TRUE(s.wait_for_text("j, Down, Ctrl-N")) << s.dump();
        // Taller than the terminal: it scrolls to the mapped keys at the end.
        s.send("G");
        ASSERT_TRUE(s.wait_for_text("wc -c \"$f\"")) << s.dump();
        // Any other key closes it, and only that: q does not quit here.
        s.send("q");
        ASSERT_TRUE(shows_tree(s, {"▼ /", "  ▼ usr", "    ▼ share", "      ▼ doc", "        • a",
                              "        • b", "      ▼ man", "        • x"},
                          " / "))
            << s.dump();
        EXPECT_FALSE(s.exited());
        quit(s);
    }
}

TEST(Help, ShowsEveryActionOfTheTableWithItsKeys) {
    e2e::session s(korvel(TREE, 100, 100));
    ASSERT_TRUE(ready(s));
    s.send("\x1bOP"); // F1
    // Every action has its one-line description and the name of each of its
    // keys on the screen, tall enough here for all of them at once.
    const auto everything_shown = [&] {
        const std::string shown = s.screen_text();
        for (const korvel::action& a : korvel::all_actions()) {
            if (shown.find(a.description) == std::string::npos) return false;
            for (const korvel::trigger& t : a.triggers)
                if (t.kind != korvel::trigger::NONE &&
                    shown.find(korvel::trigger_name(t)) == std::string::npos)
                    return false;
        }
        return true;
    };
    ASSERT_TRUE(s.wait_for(everything_shown)) << s.dump();
    s.send("q"); // closes the help
    ASSERT_TRUE(s.wait_for([&] { return s.screen_text().find("In the tree") == std::string::npos; }))
        << s.dump();
    quit(s);
}

// On a narrow terminal descriptions are wrapped at blanks: read across the
// rows, every one is there whole, no word cut in two.
TEST(Help, WrapsDescriptionsAtWordsOnANarrowTerminal) {
    // Tall enough for the whole help at once.
    e2e::session s(korvel(TREE, 200, 40));
    ASSERT_TRUE(ready(s));
    s.send("H");
    const auto flowing = [&] {
        std::string out;
        for (const char c : s.screen_text()) {
            const bool blank = c == ' ' || c == '\n';
            if (blank && (out.empty() || out.back() == ' ')) continue;
            out += blank ? ' ' : c;
        }
        return out;
    };
    const auto everything_shown = [&] {
        const std::string shown = flowing();
        for (const korvel::action& a : korvel::all_actions())
            if (shown.find(std::string(" ") + a.description + " ") == std::string::npos) return false;
        return true;
    };
    ASSERT_TRUE(s.wait_for(everything_shown)) << s.dump();
    s.send("q"); // closes the help
    ASSERT_TRUE(s.wait_for([&] { return s.screen_text().find("In the tree") == std::string::npos; }));
    quit(s);
}

TEST(Counts, EachDirectoryShowsHowManyEntriesLieBelowIt) {
    e2e::session s(korvel(TREE, 12, 40, {"--counts"}));
    ASSERT_TRUE(ready(s));
    ASSERT_TRUE(shows_tree(s, {"▼ /  7", "  ▼ usr  6", "    ▼ share  5", "      ▼ doc  2", "        • a",
                          "        • b", "      ▼ man  1", "        • x"},
                      " / "));
    // Folding keeps them; # hides and shows them again.
    s.send("jjj\r");
    ASSERT_TRUE(shows_tree(s, {"▼ /  7", "  ▼ usr  6", "    ▼ share  5", "      ▶ doc  2",
                          "      ▼ man  1", "        • x"},
                      " /usr/share/doc "));
    s.send("#");
    ASSERT_TRUE(shows_tree(s, {"▼ /", "  ▼ usr", "    ▼ share", "      ▶ doc", "      ▼ man",
                          "        • x"},
                      " /usr/share/doc "));
    quit(s);

    // Thousands are grouped; without colours the counts stand in brackets.
    std::string many;
    for (int i = 0; i < 1204; ++i) many += "d/f" + std::to_string(i) + "\n";
    e2e::launch plain = korvel(many, 6, 40, {"-c"});
    plain.env["NO_COLOR"] = "1";
    e2e::session p(plain);
    ASSERT_TRUE(p.wait_for([&] { return p.row_text(0) == "▼ d  [1,204]"; })) << p.dump();
    quit(p);
}

TEST(Compact, ChainsOfSingleDirectoriesAreOneRow) {
    e2e::session s(korvel(TREE, 12, 40, {"--compact"}));
    ASSERT_TRUE(ready(s));
    // / holds only usr, usr only share: one row, acting as share.
    ASSERT_TRUE(shows_tree(s, {"▼ /usr/share", "  ▼ doc", "    • a", "    • b", "  ▼ man", "    • x"},
                      " /usr/share "));
    EXPECT_TRUE(s.wait_for([&] { return status_row(s).ends_with("3/8"); })) << s.dump();
    // Folding the chain's row folds its last directory.
    s.send("\r");
    ASSERT_TRUE(shows_tree(s, {"▶ /usr/share"}, " /usr/share "));
    s.send("\r");
    // p from below goes to the chain's row, and from the chain's row to
    // nothing above it.
    s.send("jj");
    ASSERT_TRUE(shows_tree(s, {"▼ /usr/share", "  ▼ doc", "    • a", "    • b", "  ▼ man", "    • x"},
                      " /usr/share/doc/a "));
    s.send("pp");
    ASSERT_TRUE(shows_tree(s, {"▼ /usr/share", "  ▼ doc", "    • a", "    • b", "  ▼ man", "    • x"},
                      " /usr/share "));
    // A search that finds a directory inside the chain lands on its row.
    s.send("G/^usr$\r");
    ASSERT_TRUE(shows_tree(s, {"▼ /usr/share", "  ▼ doc", "    • a", "    • b", "  ▼ man", "    • x"},
                      " Pattern not found "));
    s.send("?^usr$\r");
    ASSERT_TRUE(shows_tree(s, {"▼ /usr/share", "  ▼ doc", "    • a", "    • b", "  ▼ man", "    • x"},
                      " /usr/share "));
    // = shows every directory again; o prints the chain's last directory.
    s.send("=");
    ASSERT_TRUE(shows_tree(s, {"▼ /", "  ▼ usr", "    ▼ share", "      ▼ doc", "        • a",
                          "        • b", "      ▼ man", "        • x"},
                      " /usr/share "));
    s.send("=o");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.stdout_data(), "/usr/share\n");
}

// A compact chain's row stands for every directory in it: a match of any
// of them is a match of the row, counted, highlighted and ranked once.
TEST(Compact, MatchInsideAChainIsTheRowsMatch) {
    e2e::session s(korvel("0\na/b/c/d/file1\nz\n", 8, 40, {"-C"}));
    ASSERT_TRUE(ready(s));
    ASSERT_TRUE(shows_tree(s, {"• 0", "▼ a/b/c/d", "  • file1", "• z"}, " 0 "));
    s.send("/^c$\r");
    ASSERT_TRUE(s.wait_for([&] { return status_row(s).find("match 1/1") != std::string::npos; }))
        << s.dump();
    EXPECT_EQ(status_text(s), "a/b/c/d");
    EXPECT_EQ(bold_row(s), 1) << s.dump();
    // Off the cursor, the row is drawn as a match.
    s.send("j");
    ASSERT_TRUE(s.wait_for([&] { return bold_row(s) == 2; })) << s.dump();
    EXPECT_EQ(s.cell_at(1, 4).bg, YELLOW) << s.dump();
    EXPECT_NE(s.cell_at(3, 2).bg, YELLOW) << s.dump();
    // Two directories of one chain matching make one row to step to, and
    // the count says so.
    s.send("g/^[bc]$\r");
    ASSERT_TRUE(s.wait_for([&] { return status_row(s).find("match 1/1") != std::string::npos; }))
        << s.dump();
    s.send("n");
    ASSERT_TRUE(wait_status(s, "Pattern not found")) << s.dump();
    quit(s);
}

TEST(Compact, BackwardSearchLeavesTheChainsRow) {
    // Rows: share1, x, y, usr/share/doc, a, b, var/share, x.
    e2e::session s(korvel("share1/x\nshare1/y\nusr/share/doc/a\nusr/share/doc/b\nvar/share/x\n",
                          12, 40, {"-C"}));
    ASSERT_TRUE(ready(s));
    s.send("/share\r");
    ASSERT_TRUE(s.wait_for([&] {
        return status_text(s) == "usr/share/doc" &&
               status_row(s).find("match 2/3") != std::string::npos;
    })) << s.dump();
    s.send("n");
    ASSERT_TRUE(s.wait_for([&] {
        return status_text(s) == "var/share" && status_row(s).find("match 3/3") != std::string::npos;
    })) << s.dump();
    s.send("N");
    ASSERT_TRUE(s.wait_for([&] {
        return status_text(s) == "usr/share/doc" &&
               status_row(s).find("match 2/3") != std::string::npos;
    })) << s.dump();
    s.send("N");
    ASSERT_TRUE(s.wait_for([&] {
        return status_text(s) == "share1" && status_row(s).find("match 1/3") != std::string::npos;
    })) << s.dump();
    // A backward search typed at the prompt starts before the chain too.
    s.send("G?share\r");
    ASSERT_TRUE(wait_status(s, "var/share")) << s.dump();
    s.send("n");
    ASSERT_TRUE(wait_status(s, "usr/share/doc")) << s.dump();
    s.send("n");
    ASSERT_TRUE(wait_status(s, "share1")) << s.dump();
    quit(s);
}

TEST(Compact, MarkOnAnyDirectoryOfAChainShowsOnItsRow) {
    e2e::session s(korvel("a/b/c/d/file1\nz\n", 10, 40));
    ASSERT_TRUE(ready(s));
    // b marked while every directory has a row of its own.
    s.send("j\t");
    ASSERT_TRUE(s.wait_for([&] { return s.row_text(1) == "  ▼✓b"; })) << s.dump();
    s.send("=");
    ASSERT_TRUE(shows_tree(s, {"▼✓a/b/c/d", "  • file1", "• z"}, " a/b/c/d ")) << s.dump();
    // Tab on the row takes its sign off: nothing of the chain stays marked,
    // and o prints the row's own path.
    s.send("g\t");
    ASSERT_TRUE(shows_tree(s, {"▼ a/b/c/d", "  • file1", "• z"}, " a/b/c/d/file1 ")) << s.dump();
    s.send("go");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.stdout_data(), "a/b/c/d\n");

    // Marked in the chain's row, the mark is the row's own entry's.
    e2e::session t(korvel("a/b/c/d/file1\nz\n", 10, 40, {"-C"}));
    ASSERT_TRUE(ready(t));
    t.send("\tjj\t");
    ASSERT_TRUE(shows_tree(t, {"▼✓a/b/c/d", "  • file1", "•✓z"}, " z ")) << t.dump();
    t.send("o");
    ASSERT_TRUE(t.wait_exit()) << t.dump();
    EXPECT_EQ(t.stdout_data(), "a/b/c/d\nz\n");
}

std::string numbered(int n) {
    std::string list;
    for (int i = 0; i < n; ++i) {
        char line[16];
        snprintf(line, sizeof line, "e%03d\n", i);
        list += line;
    }
    return list;
}

TEST(Keys, PagesEndsAndTheControlKeysOfOtherTools) {
    e2e::session s(korvel(numbered(100), 12, 40)); // eleven tree rows
    ASSERT_TRUE(ready(s));
    const struct {
        std::string keys;
        std::string status;
    } steps[] = {
        {"\x1b[6~", " e011 "}, // PgDn: a page, as Ctrl-F
        {"\x1b[5~", " e000 "}, // PgUp
        {"\x1b[F", " e099 "},  // End, as G
        {"\x1b[H", " e000 "},  // Home, as g
        {"\x0e\x0e", " e002 "}, // Ctrl-N twice
        {"\x10", " e001 "},     // Ctrl-P
    };
    for (const auto& step : steps) {
        s.send(step.keys);
        ASSERT_TRUE(s.wait_for([&] { return status_row(s).rfind(step.status, 0) == 0; }))
            << escaped(step.keys) << "\n" << s.dump();
    }
    quit(s);
}

TEST(Keys, CtrlLDrawsEverythingAnewAfterAnotherProgramWroteOverIt) {
    e2e::launch how = korvel(numbered(5), 8, 40);
    // A job the command leaves behind writes over the screen once korvel has
    // taken it back.
    how.home_files[".config/korvel/config"] =
        "map x (sleep 0.3; printf '\\033[2;3HGARBAGE' > /dev/tty) &\n";
    e2e::session s(how);
    ASSERT_TRUE(ready(s));
    s.send("x");
    ASSERT_TRUE(s.wait_for_text("GARBAGE")) << s.dump();
    s.send("\x0c"); // Ctrl-L
    ASSERT_TRUE(s.wait_for([&] {
        return s.screen_text().find("GARBAGE") == std::string::npos && s.row_text(1) == "• e001";
    })) << s.dump();
    quit(s);
}

TEST(Keys, ThePromptsLineKeys) {
    e2e::session s(korvel(numbered(5), 8, 40));
    ASSERT_TRUE(ready(s));
    const struct {
        std::string keys;
        std::string line; // the prompt afterwards
        int column;       // of the terminal cursor
    } steps[] = {
        {"/ab cd ef", " /ab cd ef ", 10},
        {"\x01", " /ab cd ef ", 2},              // Ctrl-A
        {"\x05", " /ab cd ef ", 10},             // Ctrl-E
        {"\x1b[H", " /ab cd ef ", 2},            // Home
        {"\x1b[F", " /ab cd ef ", 10},           // End
        {"\x17", " /ab cd  ", 8},                // Ctrl-W: the word before the cursor
        {"\x1b[D\x1b[D\x1b[D\x0b", " /ab ", 5}, // Ctrl-K: to the end
        {"\x1b[D\x15", " /  ", 2},               // Ctrl-U: to the start
    };
    for (const auto& step : steps) {
        s.send(step.keys);
        ASSERT_TRUE(s.wait_for([&] {
            return status_row(s).rfind(step.line, 0) == 0 && s.cursor_col() == step.column;
        })) << escaped(step.keys) << "\n" << s.dump();
    }
}

TEST(StatusRow, APathTooLongForTheRowKeepsItsName) {
    const std::string deep = "very/long/directory/names/that/go/on/and/on/file.txt";
    e2e::session s(korvel(deep + "\n", 4, 30));
    ASSERT_TRUE(ready(s));
    s.send("G");
    // The row holds the path's end, behind an ellipsis, and the counter.
    ASSERT_TRUE(s.wait_for([&] { return status_row(s) == " …/on/and/on/file.txt   10/10"; }))
        << s.dump();
    quit(s);
}

TEST(StatusRow, APathLongerThanTheRowsBytesKeepsItsNameOnAWideTerminal) {
    std::string deep;
    for (int i = 0; i < 29; ++i) deep += "directory/";
    deep += "file-name.txt";
    e2e::session s(korvel(deep + "\n", 4, 320));
    ASSERT_TRUE(ready(s));
    s.send("G");
    ASSERT_TRUE(s.wait_for([&] {
        const std::string row = status_row(s);
        // Cut at the row's byte limit, the start goes and the name stays.
        return row.rfind(" …rectory/directory/", 0) == 0 && row.find("/file-name.txt ") != std::string::npos &&
               row.size() > 5 && row.substr(row.size() - 5) == "30/30";
    })) << s.dump();
    quit(s);

    // Cut between a letter and its accent, the accent goes with the letter
    // rather than onto the ellipsis.
    std::string accented = "dir/";
    for (int i = 0; i < 100; ++i) accented += "e\u0301";
    e2e::session t(korvel(accented + "\n", 4, 320));
    ASSERT_TRUE(ready(t));
    t.send("G");
    ASSERT_TRUE(t.wait_for([&] {
        const std::string row = status_row(t);
        return row.rfind(" …e\u0301e\u0301", 0) == 0 && row.substr(row.size() - 3) == "2/2";
    })) << t.dump();
    quit(t);
}

} // namespace
