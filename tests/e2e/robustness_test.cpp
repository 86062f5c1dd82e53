// The viewer under rough handling: windows shrunk to nothing, every way of
// leaving checked against the terminal's modes, and inputs that are huge,
// deep, oddly separated or not text at all. Stopping and continuing over and
// over is the viewer tests' (ViewerSuspend).
#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.hpp"
#include "screen.hpp"

namespace {

using namespace e2e::screen;

// Sorted, this is the tree README, src, src/main.c, src/util.c.
const std::string LIST = "src/util.c\nREADME\nsrc/main.c\n";

constexpr int ROWS = 10;
constexpr int COLS = 60;

e2e::launch viewer(const std::string& list = LIST) { return korvel(list, ROWS, COLS); }

// The tree of LIST as drawn in a window wide enough for it.
void expect_tree(const e2e::session& s) {
    EXPECT_EQ(s.row_text(0), "• README") << s.dump();
    EXPECT_EQ(s.row_text(1), "▼ src") << s.dump();
    EXPECT_EQ(s.row_text(2), "  • main.c") << s.dump();
    EXPECT_EQ(s.row_text(3), "  • util.c") << s.dump();
}

// The terminal as the shell had it: no alternate screen, a cursor, no mouse.
void expect_terminal_handed_back(const e2e::session& s) {
    EXPECT_FALSE(s.alt_screen()) << s.dump();
    EXPECT_TRUE(s.cursor_visible()) << s.dump();
    EXPECT_FALSE(s.mouse_reporting()) << s.dump();
    // 1: the cursor keys' application mode, which would garble arrows in the shell.
    for (int mode : {1, 1000, 1002, 1003, 1006}) EXPECT_FALSE(s.private_mode(mode)) << mode;
}

// -- Window sizes ------------------------------------------------------------

TEST(Resize, DownToOneCellAndBackWhileKeysArrive) {
    // Enough rows that the view has somewhere to scroll.
    std::string list;
    for (int i = 0; i < 40; ++i) list += "dir/file" + std::to_string(100 + i) + "\n";
    e2e::session s(viewer(list));
    ASSERT_TRUE(wait_status(s, "dir")) << s.dump();
    s.send("jjjjjjjjjjjj");
    ASSERT_TRUE(wait_status(s, "dir/file111")) << s.dump();

    // Every key that moves, scrolls or centres, at each cramped size.
    const std::string keys = "jkGgjz\x04\x15\x06\x02\x05\x19lh" + e2e::KEY_DOWN + e2e::KEY_UP;
    const int sizes[][2] = {{1, 1}, {1, COLS}, {ROWS, 1}, {2, 2}, {1, 1}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]));
        s.resize(size[0], size[1]);
        s.settle();
        s.send(keys);
        s.settle();
        ASSERT_FALSE(s.exited()) << s.dump();
    }
    s.resize(ROWS, COLS);
    // The cursor row is drawn and the status row names the same entry.
    s.send("g");
    ASSERT_TRUE(wait_status(s, "dir")) << s.dump();
    s.send("jjj");
    ASSERT_TRUE(wait_status(s, "dir/file102")) << s.dump();
    bool cursor_row_seen = false;
    for (int row = 0; row < ROWS - 1; ++row) {
        if (s.row_text(row) == "  • file102") {
            cursor_row_seen = true;
            EXPECT_TRUE(s.cell_at(row, 4).bold) << s.dump();
        }
    }
    EXPECT_TRUE(cursor_row_seen) << s.dump();
    quit(s);
}

TEST(Resize, ShrinkingRightAfterStartAndGrowingBackRedrawsEverything) {
    e2e::session s(viewer());
    ASSERT_TRUE(wait_status(s, "README")) << s.dump();
    s.resize(1, 1);
    s.settle();
    s.resize(ROWS, COLS);
    ASSERT_TRUE(s.wait_for([&] {
        return s.row_text(3) == "  • util.c" && status_text(s) == "README";
    })) << s.dump();
    expect_tree(s);
    quit(s);
}

TEST(Resize, PromptSurvivesAResizeAndStillSearches) {
    e2e::session s(viewer());
    ASSERT_TRUE(wait_status(s, "README")) << s.dump();
    s.send("/ma");
    ASSERT_TRUE(wait_status_prefix(s, "/ma")) << s.dump();
    s.resize(4, 20);
    ASSERT_TRUE(s.wait_for([&] { return s.row_text(3).rfind(" /ma", 0) == 0; })) << s.dump();
    s.resize(1, 1);
    s.settle();
    s.send("i");
    s.resize(ROWS, COLS);
    s.send("n");
    ASSERT_TRUE(wait_status_prefix(s, "/main")) << s.dump();
    s.send(e2e::KEY_ENTER);
    ASSERT_TRUE(wait_status(s, "src/main.c")) << s.dump();
    expect_tree(s);
    quit(s);
}

TEST(Resize, WindowResizedWhileACommandRunsIsDrawnAtItsNewSize) {
    e2e::launch how = viewer();
    how.home_files[".config/korvel/config"] = "map r echo reading; read line\n";
    e2e::session s(how);
    ASSERT_TRUE(wait_status(s, "README")) << s.dump();
    const size_t before = screens_entered(s);
    s.send("r");
    ASSERT_TRUE(s.wait_for_text("reading")) << s.dump();
    s.resize(6, 30);
    s.send("\r");
    ASSERT_TRUE(s.wait_for([&] {
        return screens_entered(s) > before && s.row_text(3) == "  • util.c" &&
               s.row_text(5).rfind(" README", 0) == 0 && s.row_text(5).size() == 29;
    })) << s.dump();
    expect_tree(s);
    EXPECT_EQ(s.row_text(5), " README" + std::string(19, ' ') + "1/4") << s.dump();
    quit(s);
}

// -- Leaving -----------------------------------------------------------------

struct leaving_case {
    std::string name;
    std::function<void(e2e::launch&)> prepare;
    std::function<void(e2e::session&, pid_t)> act; // how it is made to leave
    int status;
    std::string out;      // korvel's own standard output
    std::string err_head; // the start of its standard error
};

// The guard reports the viewer's pid first and the terminal's modes last.
pid_t guard_pid(const e2e::session& s) {
    const std::string& out = s.stdout_data();
    if (out.rfind("guard: pid ", 0) != 0 || out.find('\n') == std::string::npos) return -1;
    return static_cast<pid_t>(std::stol(out.substr(11)));
}

void open_viewer(e2e::session& s) {
    ASSERT_TRUE(s.wait_for_text("util.c")) << s.dump();
}

TEST(Leaving, EveryWayOutLeavesTheTerminalModesAsTheyWere) {
    const auto key = [](const std::string& keys) {
        return [keys](e2e::session& s, pid_t) {
            open_viewer(s);
            s.send(keys);
        };
    };
    const auto signal_to = [](int sig) {
        return [sig](e2e::session& s, pid_t pid) {
            open_viewer(s);
            kill(pid, sig);
        };
    };
    const auto nothing = [](e2e::session&, pid_t) {};
    const auto after_command = [](e2e::session& s, pid_t) {
        open_viewer(s);
        const size_t before = screens_entered(s);
        s.send("x");
        ASSERT_TRUE(s.wait_for([&] { return screens_entered(s) > before && s.alt_screen(); }))
            << s.dump();
        ASSERT_TRUE(s.wait_for_text("util.c")) << s.dump();
        s.send("q");
    };
    const auto plain = [](e2e::launch&) {};
    const auto config = [](const std::string& text) {
        return [text](e2e::launch& how) { how.home_files[".config/korvel/config"] = text; };
    };
    const std::string name = KORVEL_BINARY;
    const std::vector<leaving_case> cases{
        {"q", plain, key("q"), 0, "", ""},
        {"Escape", plain, key(e2e::KEY_ESC), 0, "", ""},
        {"o", plain, key("jjjo"), 0, "src/util.c\n", ""},
        {"SIGTERM", plain, signal_to(SIGTERM), 0, "", ""},
        {"SIGINT", plain, signal_to(SIGINT), 0, "", ""},
        // A crash hands the terminal back and still dies of its signal.
        {"SIGSEGV", plain, signal_to(SIGSEGV), 128 + SIGSEGV, "", ""},
        {"SIGABRT", plain, signal_to(SIGABRT), 128 + SIGABRT, "", ""},
        {"SIGBUS", plain, signal_to(SIGBUS), 128 + SIGBUS, "", ""},
        {"SIGQUIT", plain, signal_to(SIGQUIT), 128 + SIGQUIT, "", ""},
        {"after a command", config("map x echo ran\n"), after_command, 0, "", ""},
        {"SIGHUP", plain, signal_to(SIGHUP), 0, "", ""},
        {"configuration error", config("nmap x ls\n"), nothing, 1, "",
         name + ": Failed to read config: line 1: unknown command nmap (in "},
        {"empty input", [](e2e::launch& how) { how.stdin_data = ""; }, nothing, 1, "",
         name + ": input seems to be empty\n"},
        {"unknown terminal", [](e2e::launch& how) { how.env["TERM"] = "korvel-no-such-term"; },
         nothing, 1, "", name + ": failed to init termbox: "},
    };
    for (const leaving_case& c : cases) {
        SCOPED_TRACE(c.name);
        e2e::launch how = viewer();
        how.program = TEST_PROGRAMS_DIR "/stty_guard";
        how.args = {KORVEL_BINARY};
        c.prepare(how);
        e2e::session s(how);
        ASSERT_TRUE(s.wait_for([&] { return guard_pid(s) > 0; })) << s.dump();
        c.act(s, guard_pid(s));
        ASSERT_TRUE(s.wait_exit()) << s.dump();
        EXPECT_EQ(s.exit_status(), c.status) << s.dump();
        const std::string& out = s.stdout_data();
        const size_t first_line = out.find('\n') + 1;
        EXPECT_EQ(out.substr(first_line), c.out + "guard: modes kept\n");
        if (c.err_head.empty()) {
            EXPECT_EQ(s.stderr_data(), "");
        } else {
            EXPECT_EQ(s.stderr_data().substr(0, c.err_head.size()), c.err_head);
        }
        expect_terminal_handed_back(s);
    }
}

// A failed check or an exception while the screen is ours: the terminal is
// handed back first, so that the message stays on the screen the user
// returns to (standard error is that terminal here).
TEST(Leaving, FatalErrorIsPrintedAfterTheTerminalIsHandedBack) {
    const std::string probe = TEST_PROGRAMS_DIR "/fatal_probe";
    const struct {
        const char* how;
        int status;
        std::string message;
    } cases[] = {
        {"check", 128 + SIGABRT, "Assertion `how != \"check\"' failed."},
        {"throw", 1, probe + ": the core threw"},
        {"bad_alloc", 1, probe + ": Cannot allocate memory"},
        // Nothing catches it there: the terminate handler hands the terminal
        // back before it prints, and the abort follows.
        {"thread_throw", 128 + SIGABRT, probe + ": uncaught exception: a helper thread threw"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        e2e::launch how;
        how.program = probe;
        how.args = {c.how};
        how.rows = ROWS;
        how.cols = 200;
        how.terminal_streams = e2e::launch::on_terminal::ALL;
        e2e::session s(how);
        ASSERT_TRUE(s.wait_exit()) << s.dump();
        EXPECT_EQ(s.exit_status(), c.status) << s.dump();
        // The screen went away, its line with it; the message came after.
        EXPECT_NE(s.screen_text().find(c.message), std::string::npos) << s.dump();
        EXPECT_EQ(s.screen_text().find("the viewer's screen"), std::string::npos) << s.dump();
        EXPECT_NE(s.raw_output().find("the viewer's screen"), std::string::npos);
        // One line: the C++ library's own two-line report is not printed.
        EXPECT_EQ(s.raw_output().find("terminate called"), std::string::npos) << s.dump();
        expect_terminal_handed_back(s);
    }
}

// -- Inputs ------------------------------------------------------------------

struct input_case {
    std::string name;
    std::string input;
    std::string shown;   // a piece of the screen, as drawn
    std::string search;  // typed after '/'
    std::string status;  // the start of the status row once found; for a path
                         // too long for it, "…" and the path's end
    std::string chosen;  // what 'o' prints then, newline included
};

std::string deep_line() {
    std::string line;
    for (int i = 0; i < 100000; ++i) line += (i ? "/d" : "d") + std::to_string(i);
    return line;
}

TEST(Inputs, OddInputsDrawNavigateSearchAndComeBackByteForByte) {
    const std::string huge(1000000, 'h');
    const std::string deep = deep_line();
    const std::vector<input_case> cases{
        {"NUL-separated", std::string("zeta/one\0alpha/two\0alpha/three\0", 31), "  • three",
         "one", "zeta/one", "zeta/one\n"},
        {"CRLF", "dir/a\r\ndir/b\r\n", "  • b\u240D", "b", "dir/b\u240D", "dir/b\r\n"},
        {"1 MB line", "big/" + huge + "\nbig/small\n", "  • hhhh", "h{8}", "…hhhhhhhh",
         "big/" + huge + "\n"},
        {"100,000 components", deep + "\n", "▼ d0", "^d99999$", "…/d99998/d99999",
         deep + "\n"},
        {"wide characters", "日本/語.txt\n日本/x\nemoji/🎉party\n", "  • 語.txt", "txt",
         "日本/語.txt", "日本/語.txt\n"},
        {"combining characters", "cafe\u0301/the\u0301\ncafe/x\n", "  • the\u0301", "^th",
         "cafe\u0301/the\u0301", "cafe\u0301/the\u0301\n"},
        {"invalid UTF-8", "bad\xff/na\xc3me\nbad\xff/z\xe2\x82\n", "  • na\uFFFDme", "na",
         "bad\uFFFD/na\uFFFDme", "bad\xff/na\xc3me\n"},
        {"escape sequences", "evil\x1b]0;title\x07/x\x1b[2J\n", "  • x\u241B[2J", "x",
         "evil\u241B]0;title\u2407/x\u241B[2J", "evil\x1b]0;title\x07/x\x1b[2J\n"},
    };
    for (const input_case& c : cases) {
        SCOPED_TRACE(c.name);
        e2e::session s(viewer(c.input));
        ASSERT_TRUE(s.wait_for_text(c.shown)) << s.dump();
        // Round the tree and back to the top.
        s.send("Glhjkz\x04\x15 \r" + e2e::KEY_RIGHT + e2e::KEY_LEFT + "g");
        s.send("/" + c.search + e2e::KEY_ENTER);
        if (c.status.starts_with("…")) {
            ASSERT_TRUE(s.wait_for([&] {
                const std::string text = status_text(s);
                return text.starts_with("…") && text.ends_with(c.status.substr(3));
            })) << s.dump();
        } else {
            ASSERT_TRUE(wait_status_prefix(s, c.status)) << s.dump();
        }
        s.send("o");
        ASSERT_TRUE(s.wait_exit(std::chrono::seconds(20))) << s.dump();
        EXPECT_EQ(s.exit_status(), 0) << s.dump();
        EXPECT_TRUE(s.stdout_data() == c.chosen)
            << "printed " << s.stdout_data().size() << " bytes: "
            << s.stdout_data().substr(0, 200);
        EXPECT_EQ(s.stderr_data(), "");
        // Nothing of a name ever reaches the terminal as a control sequence.
        EXPECT_EQ(s.raw_output().find("\x1b]0;title"), std::string::npos);
    }
}

} // namespace
