// Picking several paths as a user does: marks made with Tab and Shift-Tab
// across folds and with the search, the sign and the count on the screen in
// colour and without, what comes out on standard output byte for byte, and
// the exit status that tells a pick from a cancel.
#include <csignal>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.hpp"
#include "screen.hpp"

namespace {

using namespace e2e::screen;

// Entries a, 1, 2, b, c, d, e: two directories, one nested, and leaves at
// every depth.
const std::string TREE = "a/1\na/2\nb/c/d\ne\n";

const std::string BACK_TAB = "\x1b[Z";

// Waits until the tree area reads `rows` from the top (the rest blank).
testing::AssertionResult shows(e2e::session& s, std::vector<std::string> rows) {
    rows.resize(static_cast<size_t>(s.rows() - 1));
    if (s.wait_for([&] { return tree_rows(s) == rows; })) return testing::AssertionSuccess();
    std::string want;
    for (const std::string& row : rows)
        want += row + "\n";
    return testing::AssertionFailure() << "want\n" << want << "got " << s.dump();
}

// The status row ends with the count of marks, then the position counter.
testing::AssertionResult counts(e2e::session& s, const std::string& tail) {
    if (s.wait_for([&] {
            const std::string row = status_row(s);
            return row.size() >= tail.size() &&
                   row.compare(row.size() - tail.size(), tail.size(), tail) == 0;
        }))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "status row not ending in \"" << tail << "\"\n"
                                       << s.dump();
}

// Where the sign of a marked row can be told: by its colour, or without
// colours by its weight.
struct look {
    std::string name;
    std::map<std::string, std::string> env;
    bool colors;
};

TEST(Marks, TabAndShiftTabMarkAcrossFoldsInColourAndWithout) {
    for (const look& l : {look{"colours", {}, true}, look{"NO_COLOR", {{"NO_COLOR", "1"}}, false},
                          look{"vt100", {{"TERM", "vt100"}}, false}}) {
        SCOPED_TRACE(l.name);
        e2e::launch how = korvel(TREE, 10, 40);
        how.env = l.env;
        e2e::session s(how);
        ASSERT_TRUE(shows(s, {"▼ a", "  • 1", "  • 2", "▼ b", "  ▼ c", "    • d", "• e"}));
        // a and 1 marked going down; 2 going up, which comes back to 1.
        s.send("\t\t" + BACK_TAB);
        ASSERT_TRUE(shows(s, {"▼✓a", "  •✓1", "  •✓2", "▼ b", "  ▼ c", "    • d", "• e"}));
        ASSERT_TRUE(counts(s, "  marked 3     2/7"));
        const e2e::cell sign = s.cell_at(2, 3);
        const e2e::cell blank = s.cell_at(3, 1);
        if (l.colors) {
            EXPECT_EQ(sign.fg, 5) << s.dump(); // magenta
        } else {
            EXPECT_TRUE(sign.bold) << s.dump();
            EXPECT_FALSE(blank.bold) << s.dump();
        }
        // Unmarking 1; then a folds over the marked 2 and unfolds again.
        s.send("\tg\r");
        ASSERT_TRUE(shows(s, {"▶✓a", "▼ b", "  ▼ c", "    • d", "• e"}));
        ASSERT_TRUE(counts(s, "  marked 2     1/7"));
        s.send("\r");
        ASSERT_TRUE(shows(s, {"▼✓a", "  • 1", "  •✓2", "▼ b", "  ▼ c", "    • d", "• e"}));
        s.send("o");
        ASSERT_TRUE(s.wait_exit()) << s.dump();
        EXPECT_EQ(s.exit_status(), 0);
        EXPECT_EQ(s.stdout_data(), "a\na/2\n");
    }
}

struct pick_case {
    std::string name;
    std::vector<std::string> args;
    std::string keys;
    std::string out;
};

TEST(Marks, ChoosingPrintsTheMarkedPathsInTreeOrderOrTheCursors) {
    const std::vector<pick_case> cases{
        {"no marks", {}, "jjo", "a/2\n"},
        {"no marks, NUL", {"-0"}, "jjo", std::string("a/2\0", 4)},
        // Marked from the bottom up, printed from the top down.
        {"two marks", {}, "G" + BACK_TAB + "gj\to", "a/1\ne\n"},
        {"two marks, NUL", {"--print0"}, "G" + BACK_TAB + "gj\to", std::string("a/1\0e\0", 6)},
        // A folded directory is one path, not its contents.
        {"folded directory", {"-f"}, "j\to", "b\n"},
        // Every match of the search, hidden in folds or not.
        {"search matches", {"-f"}, "/^[12d]$\rvo", "a/1\na/2\nb/c/d\n"},
        // Every line of the input; a, b and b/c only hold lines.
        {"every line", {}, "vo", "a/1\na/2\nb/c/d\ne\n"},
        // A directory the tree made up is marked by hand only.
        {"every line and a directory", {}, "v\to", "a\na/1\na/2\nb/c/d\ne\n"},
        // Under a filter: its matches, not the directories that hold them.
        {"filter matches", {}, "&^[1d]$\rvo", "a/1\nb/c/d\n"},
        // Marks made before, under and after a filter all stay.
        {"across a filter", {}, "\t&^[1d]$\rG" + BACK_TAB + "&\rGo", "a\nb/c/d\n"},
        {"marked and unmarked", {}, "vvo", "a\n"},
        {"cleared", {}, "\t\t\tuo", "b\n"},
    };
    for (const pick_case& c : cases) {
        SCOPED_TRACE(c.name);
        e2e::session s(korvel(TREE, 10, 40, c.args));
        ASSERT_TRUE(ready(s));
        s.send(c.keys);
        ASSERT_TRUE(s.wait_exit()) << s.dump();
        EXPECT_EQ(s.exit_status(), 0);
        EXPECT_EQ(escaped(s.stdout_data()), escaped(c.out));
        EXPECT_EQ(s.stderr_data(), "");
    }
}

// Names holding every kind of awkward byte come back out exactly as they
// went in, when the list is split at NUL bytes only.
TEST(Marks, OddNamesComeOutByteForByte) {
    const std::vector<std::string> names{
        "with space/and 'quotes\" $(x)",
        "new\nline/inside\n",
        "esc\x1b]0;t\x07\x1b[2J\x9b",
        "bad\xff\xfe utf8",
        "tab\there\r",
    };
    std::string list;
    for (const std::string& name : names)
        list += name + '\0';
    // Tree order: the names sorted by their bytes, each directory before
    // what it holds; `new\nline` and `with space` only hold lines.
    const std::vector<std::string> paths{
        "bad\xff\xfe utf8",
        "esc\x1b]0;t\x07\x1b[2J\x9b",
        "new\nline/inside\n",
        "tab\there\r",
        "with space/and 'quotes\" $(x)",
    };
    struct form {
        std::vector<std::string> args;
        char terminator;
    };
    for (const form& f :
         {form{{"--read0", "--print0"}, '\0'}, form{{"-z0"}, '\0'}, form{{"-z"}, '\n'}}) {
        SCOPED_TRACE(f.args[0]);
        e2e::session s(korvel(list, 12, 60, f.args));
        ASSERT_TRUE(ready(s));
        ASSERT_TRUE(s.wait_for_text("inside")) << s.dump();
        s.send("vo");
        ASSERT_TRUE(s.wait_exit()) << s.dump();
        EXPECT_EQ(s.exit_status(), 0);
        std::string expected;
        for (const std::string& path : paths)
            expected += path + f.terminator;
        EXPECT_EQ(escaped(s.stdout_data()), escaped(expected));
        // The escape sequences never reached the terminal.
        EXPECT_EQ(s.raw_output().find("\x1b]0;t"), std::string::npos);
    }
    // Without --read0 a newline ends a line as a NUL does.
    e2e::session s(korvel(std::string("x\ny\0z", 5), 8, 40, {"-0"}));
    ASSERT_TRUE(shows(s, {"• x", "• y", "• z"}));
    s.send("vo");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(escaped(s.stdout_data()), escaped(std::string("x\0y\0z\0", 6)));
}

// `v o` hands a command that deletes or stages what it gets exactly the
// lines it was given: never the directories made up to hold them, nor the
// root of absolute paths, nor `/` for an empty line; a directory that was a
// line itself is one. Runs of separators and leading blanks make no second
// directory for `v` to mark.
TEST(Marks, MarkingAllPicksOnlyTheGivenLines) {
    struct given_case {
        std::string name;
        std::string list;
        std::vector<std::string> args;
        std::string out;
    };
    const std::vector<given_case> cases{
        {"find output", "./build/x.o\n./src/y.o\n./src/z.o\n", {}, "./build/x.o\n./src/y.o\n./src/z.o\n"},
        {"absolute paths", "/usr/lib/a\n/usr\n/etc/b\n", {}, "/etc/b\n/usr\n/usr/lib/a\n"},
        {"the root given", "/\n/x\n", {}, "/\n/x\n"},
        {"empty lines", "\na/b\n\n\nc\n", {"-0"}, std::string("a/b\0c\0", 6)},
        {"NUL-separated", std::string("src/a.c\0docs/b\0", 15), {"--read0", "--print0"},
         std::string("docs/b\0src/a.c\0", 15)},
        {"doubled separators", "a//b/x\na/a\na/b/y\n", {}, "a/a\na/b/x\na/b/y\n"},
        {"leading blanks", " a/b\na/c\n a/d\n", {}, " a/b\n a/d\na/c\n"},
    };
    for (const given_case& c : cases) {
        SCOPED_TRACE(c.name);
        e2e::session s(korvel(c.list, 10, 40, c.args));
        ASSERT_TRUE(ready(s));
        s.send("vo");
        ASSERT_TRUE(s.wait_exit()) << s.dump();
        EXPECT_EQ(s.exit_status(), 0);
        EXPECT_EQ(escaped(s.stdout_data()), escaped(c.out));
    }
}

// The tree shows each directory once, and no row for an empty line.
TEST(Marks, EachDirectoryIsOneRow) {
    struct rows_case {
        std::string list;
        std::vector<std::string> rows;
    };
    const std::vector<rows_case> cases{
        {"a//b/x\na/a\na/b/y\n", {"▼ a", "  • a", "  ▼ b", "    • x", "    • y"}},
        {" a/b\na/c\n a/d\n", {"▼  a", "  • b", "  • d", "▼ a", "  • c"}},
        {"a\n\nb\n", {"• a", "• b"}},
    };
    for (const rows_case& c : cases) {
        SCOPED_TRACE(c.list);
        e2e::session s(korvel(c.list, 8, 40));
        ASSERT_TRUE(shows(s, c.rows));
    }
}

struct ending {
    std::string name;
    std::vector<std::string> args;
    std::string keys; // typed, or empty when a signal ends the run
    int sig;
    int status;
    std::string out;
};

TEST(Marks, CancelStatusTellsAPickFromAQuit) {
    const std::vector<ending> cases{
        {"q", {}, "q", 0, 0, ""},
        {"SIGINT", {}, "", SIGINT, 0, ""},
        {"q, -E", {"-E"}, "q", 0, 130, ""},
        {"Esc, --cancel-status", {"--cancel-status"}, e2e::KEY_ESC, 0, 130, ""},
        {"SIGINT, -E", {"-E"}, "", SIGINT, 130, ""},
        {"SIGTERM, -E", {"-E"}, "", SIGTERM, 130, ""},
        {"SIGHUP, -E", {"-E"}, "", SIGHUP, 130, ""},
        {"marks then q, -E", {"-E"}, "\t\tq", 0, 130, ""},
        {"o, -E", {"-E"}, "jo", 0, 0, "a/1\n"},
        {"marks then o, -E", {"-E"}, "\t\to", 0, 0, "a\na/1\n"},
    };
    for (const ending& c : cases) {
        SCOPED_TRACE(c.name);
        e2e::session s(korvel(TREE, 10, 40, c.args));
        ASSERT_TRUE(ready(s));
        if (c.sig != 0)
            s.send_signal(c.sig);
        else
            s.send(c.keys);
        ASSERT_TRUE(s.wait_exit()) << s.dump();
        EXPECT_EQ(s.term_signal(), 0);
        EXPECT_EQ(s.exit_status(), c.status);
        EXPECT_EQ(s.stdout_data(), c.out);
        EXPECT_EQ(s.stderr_data(), "");
        EXPECT_FALSE(s.alt_screen());
    }
}

} // namespace
