// The terminal layer on a real pseudo-terminal: what reaches the screen,
// how input is decoded, and that the terminal is handed back as found. The
// probe program runs the layer from its command line and logs each result
// and event on standard output.
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.hpp"
#include "term/term.hpp"

using namespace korvel;

namespace {

const std::string PROBE = TEST_PROGRAMS_DIR "/term_probe";

e2e::launch probe(std::vector<std::string> args, int rows = 8, int cols = 20) {
    e2e::launch how;
    how.program = PROBE;
    how.args = std::move(args);
    how.rows = rows;
    how.cols = cols;
    return how;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::string hex(unsigned value) {
    char text[16];
    snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// The probe's log line for an event.
std::string key_line(uint16_t key, uint32_t ch = 0, int mod = 0) {
    return "key " + hex(key) + " ch " + hex(ch) + " mod " + std::to_string(mod);
}
std::string mouse_line(uint16_t key, int x, int y, int mod = 0) {
    return "mouse " + hex(key) + " x " + std::to_string(x) + " y " + std::to_string(y) + " mod " +
           std::to_string(mod);
}

// The probe's log so far, after `ready`.
std::vector<std::string> events_logged(const e2e::session& s) {
    const std::string& out = s.stdout_data();
    const size_t ready = out.find("ready\n");
    return ready == std::string::npos ? std::vector<std::string>{}
                                      : lines_of(out.substr(ready + 6));
}

// Sends input and waits for the probe to log one more event.
std::string next_event(e2e::session& s, const std::string& input) {
    const size_t before = events_logged(s).size();
    s.send(input);
    if (!s.wait_for([&] { return events_logged(s).size() > before; }))
        return "(no event) " + s.dump();
    return events_logged(s)[before];
}

// Sends input and waits for the probe to log `count` more events.
std::vector<std::string> next_events(e2e::session& s, const std::string& input, size_t count) {
    const size_t before = events_logged(s).size();
    s.send(input);
    if (!s.wait_for([&] { return events_logged(s).size() >= before + count; }))
        return {"(missing events) " + s.dump()};
    const std::vector<std::string> all = events_logged(s);
    return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
}

void finish(e2e::session& s) {
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0) << s.dump();
}

TEST(TermScreen, TextColoursAndCursorLandWhereDrawn) {
    e2e::session s(
        probe({"init", "print",  "0", "0",    "2",       "0",     "red",    "print", "4",
               "2",    "0x101",  "8", "bold", "cell",    "19",    "7",      "3e",    "1",
               "8",    "cursor", "3", "5",    "present", "ready", "events", "1",     "shutdown"}));
    ASSERT_TRUE(s.wait_for_stdout("ready")) << s.dump();
    ASSERT_TRUE(s.wait_for_text("bold")) << s.dump();

    EXPECT_EQ(s.row_text(0), "red");
    const e2e::cell red = s.cell_at(0, 0);
    EXPECT_EQ(red.fg, 1); // palette index of TB_RED
    EXPECT_EQ(red.bg, -1);
    EXPECT_FALSE(red.bold);
    EXPECT_EQ(s.row_text(2), "    bold");
    const e2e::cell bold = s.cell_at(2, 4);
    EXPECT_EQ(bold.fg, 0);
    EXPECT_EQ(bold.bg, 7);
    EXPECT_TRUE(bold.bold);
    EXPECT_EQ(s.cell_at(2, 8).bg, -1);     // the colours end with the text
    EXPECT_EQ(s.cell_at(7, 19).text, ">"); // the bottom-right corner is drawn too
    EXPECT_EQ(s.cell_at(7, 19).bg, 7);
    EXPECT_TRUE(s.cursor_visible());
    EXPECT_EQ(s.cursor_row(), 5);
    EXPECT_EQ(s.cursor_col(), 3);

    s.send("q");
    finish(s);
}

struct clip_case {
    int x;
    int y;
    std::string text;
    int rc;
    std::string row; // the screen row afterwards (y, or unchanged row 0)
};

TEST(TermScreen, ClippedTextIsCutAtEveryEdgeAndReported) {
    const int rows = 9;
    const std::vector<clip_case> cases{
        {0, 0, "0123456789abcdefghij", 0, "0123456789abcdefghij"}, // exactly the width
        {1, 1, "0123456789abcdefghij", TB_ERR_OUT_OF_BOUNDS, " 0123456789abcdefghi"},
        {-3, 2, "abcdef", TB_ERR_OUT_OF_BOUNDS, "def"},
        {16, 3, "漢字", 0, "                漢字"},
        {17, 4, "漢字", TB_ERR_OUT_OF_BOUNDS, "                 漢"},
        {0, 5, "x漢字y", 0, "x漢字y"},
        {0, 7, "e\u0301x\u0308", 0, "e\u0301x\u0308"}, // marks stay on their character
        {0, rows, "off", TB_ERR_OUT_OF_BOUNDS, ""},
        {0, -1, "off", TB_ERR_OUT_OF_BOUNDS, ""},
    };
    std::vector<std::string> args{"init"};
    for (const clip_case& c : cases)
        args.insert(args.end(),
                    {"print", std::to_string(c.x), std::to_string(c.y), "0", "0", c.text});
    args.insert(args.end(),
                {"long", "0", "6", "10000", "present", "ready", "events", "1", "shutdown"});
    e2e::session s(probe(args, rows, 20));
    ASSERT_TRUE(s.wait_for_stdout("ready")) << s.dump();
    ASSERT_TRUE(s.wait_for_text("|---------|")) << s.dump();

    const std::vector<std::string> log = lines_of(s.stdout_data());
    ASSERT_GE(log.size(), cases.size() + 3) << s.stdout_data();
    for (size_t i = 0; i < cases.size(); ++i) {
        const clip_case& c = cases[i];
        EXPECT_EQ(log[i + 2], "print " + std::to_string(c.rc))
            << c.x << "," << c.y << " " << c.text;
        if (c.y >= 0 && c.y < rows) {
            EXPECT_EQ(s.row_text(c.y), c.row) << c.text;
        }
    }
    EXPECT_EQ(log[cases.size() + 2], "long " + std::to_string(TB_ERR_OUT_OF_BOUNDS));
    EXPECT_EQ(s.row_text(6), "|---------|---------");
    EXPECT_EQ(s.cell_at(7, 0).text, "e\u0301");
    EXPECT_EQ(s.row_text(8), ""); // nothing spilled over

    s.send("q");
    finish(s);
}

TEST(TermScreen, HostileNamesShowAsSubstitutesAndNeverReachTheTerminal) {
    const std::string title = "\x1b]0;pwned\x07";
    const std::string clear = "\x1b[2Jgone";
    const std::string colour = "\x1b[31mRED";
    const std::string c1 = "\xc2\x9b"
                           "1m|\x9b|\xff";
    e2e::session s(probe(
        {"init", "print",   "0",     "0",      "0", "0",       title,  "print", "0", "1", "0",  "0",
         clear,  "printf",  "0",     "2",      "0", "0",       colour, "print", "0", "3", "0",  "0",
         c1,     "cell",    "0",     "4",      "7", "0",       "0",    "cell",  "1", "4", "7f", "0",
         "0",    "present", "ready", "events", "1", "shutdown"}));
    ASSERT_TRUE(s.wait_for_stdout("ready")) << s.dump();
    ASSERT_TRUE(s.wait_for_text("RED")) << s.dump();

    EXPECT_EQ(s.row_text(0), "\u241B]0;pwned\u2407");
    EXPECT_EQ(s.row_text(1), "\u241B[2Jgone");
    EXPECT_EQ(s.row_text(2), "\u241B[31mRED");
    EXPECT_EQ(s.cell_at(2, 5).fg, -1); // not red
    EXPECT_EQ(s.row_text(3), "\uFFFD1m|\uFFFD|\uFFFD");
    EXPECT_EQ(s.row_text(4), "\u2407\u2421");
    for (const std::string& injected :
         {title, clear, colour, std::string("\xc2\x9b"), std::string("\x07")}) {
        const size_t at = s.raw_output().find(injected);
        EXPECT_EQ(at, std::string::npos)
            << s.raw_output().substr(at == std::string::npos ? 0 : at - 20, 40);
    }

    s.send("q");
    finish(s);
}

struct key_case {
    std::string bytes;
    std::string logged;
};

TEST(TermInput, KeysAreDecoded) {
    const std::vector<key_case> cases{
        {"a", key_line(0, 'a')},
        {"Z", key_line(0, 'Z')},
        {"é", key_line(0, 0xE9)},
        {"漢", key_line(0, 0x6F22)},
        {"\x02", key_line(TB_KEY_CTRL_B)},
        {"\x03", key_line(TB_KEY_CTRL_C)}, // a key, not SIGINT
        {"\x04", key_line(TB_KEY_CTRL_D)},
        {"\x05", key_line(TB_KEY_CTRL_E)},
        {"\x06", key_line(TB_KEY_CTRL_F)},
        {"\x15", key_line(TB_KEY_CTRL_U)},
        {"\x19", key_line(TB_KEY_CTRL_Y)},
        {"\x1a", key_line(TB_KEY_CTRL_Z)}, // a key, not SIGTSTP
        {"\t", key_line(TB_KEY_TAB)},
        {e2e::KEY_ENTER, key_line(TB_KEY_ENTER)},
        {e2e::KEY_ESC, key_line(TB_KEY_ESC)}, // alone, after the escape delay
        {"\x1b[A", key_line(TB_KEY_ARROW_UP)},
        {"\x1b[B", key_line(TB_KEY_ARROW_DOWN)},
        {"\x1b[C", key_line(TB_KEY_ARROW_RIGHT)},
        {"\x1b[D", key_line(TB_KEY_ARROW_LEFT)},
        {"\x1bOA", key_line(TB_KEY_ARROW_UP)},
        {"\x1bOB", key_line(TB_KEY_ARROW_DOWN)},
        {"\x1bOC", key_line(TB_KEY_ARROW_RIGHT)},
        {"\x1bOD", key_line(TB_KEY_ARROW_LEFT)},
        {e2e::KEY_DELETE, key_line(TB_KEY_DELETE)},
        {"\x7f", key_line(TB_KEY_BACKSPACE2)},
        {"\x08", key_line(TB_KEY_BACKSPACE2)},
        {"\x1b[H", key_line(TB_KEY_HOME)},
        {"\x1b[F", key_line(TB_KEY_END)},
        {"\x1b[5~", key_line(TB_KEY_PGUP)},
        {"\x1b[6~", key_line(TB_KEY_PGDN)},
    };
    e2e::session s(
        probe({"init", "wait", "20", "ready", "events", std::to_string(cases.size()), "shutdown"}));
    ASSERT_TRUE(s.wait_for_stdout("ready")) << s.dump();
    EXPECT_NE(s.stdout_data().find("wait " + std::to_string(TB_ERR_NO_EVENT) + "\nready"),
              std::string::npos); // a wait with nothing to read times out
    for (const key_case& c : cases)
        EXPECT_EQ(next_event(s, c.bytes), c.logged);
    finish(s);
    EXPECT_EQ(s.term_signal(), 0);
}

TEST(TermInput, AltModeJoinsEscapeAndTheNextKey) {
    e2e::session s(probe({"init", "alt", "ready", "events", "7", "shutdown"}));
    ASSERT_TRUE(s.wait_for_stdout("ready")) << s.dump();
    EXPECT_EQ(next_event(s, "\x1bx"), key_line(0, 'x', TB_MOD_ALT));
    EXPECT_EQ(next_event(s, "\x1b\xc3\xa9"), key_line(0, 0xE9, TB_MOD_ALT));
    // A second Escape, a control key and an arrow join it as well.
    EXPECT_EQ(next_event(s, "\x1b\x1b"), key_line(TB_KEY_ESC, 0, TB_MOD_ALT));
    EXPECT_EQ(next_event(s, "\x1b\x03"), key_line(TB_KEY_CTRL_C, 0, TB_MOD_ALT));
    EXPECT_EQ(next_event(s, "\x1b\r"), key_line(TB_KEY_ENTER, 0, TB_MOD_ALT));
    EXPECT_EQ(next_event(s, "\x1b\x1b[A"), key_line(TB_KEY_ARROW_UP, 0, TB_MOD_ALT));
    EXPECT_EQ(next_event(s, e2e::KEY_ESC), key_line(TB_KEY_ESC));
    finish(s);
}

TEST(TermInput, MouseClicksDragsAndWheelAreDecoded) {
    e2e::session s(probe({"init", "mouse", "ready", "events", "14", "shutdown"}, 10, 40));
    ASSERT_TRUE(s.wait_for_stdout("ready")) << s.dump();
    ASSERT_TRUE(s.wait_for([&] { return s.mouse_drag_reporting(); })) << s.raw_output();
    EXPECT_TRUE(s.private_mode(1006)); // reports come in the SGR form

    using e2e::mouse;
    EXPECT_EQ(next_event(s, s.encode_mouse(mouse::left_press, 2, 5)),
              mouse_line(TB_KEY_MOUSE_LEFT, 5, 2));
    EXPECT_EQ(next_event(s, s.encode_mouse(mouse::left_drag, 3, 5)),
              mouse_line(TB_KEY_MOUSE_LEFT, 5, 3, TB_MOD_MOTION));
    EXPECT_EQ(next_event(s, s.encode_mouse(mouse::left_drag, 7, 39)),
              mouse_line(TB_KEY_MOUSE_LEFT, 39, 7, TB_MOD_MOTION));
    EXPECT_EQ(next_event(s, s.encode_mouse(mouse::left_release, 7, 39)),
              mouse_line(TB_KEY_MOUSE_RELEASE, 39, 7));
    // Motion with no button held is not a drag: the wheel comes next.
    EXPECT_EQ(next_event(s, "\x1b[<35;2;2M" + s.encode_mouse(mouse::wheel_up, 0, 0)),
              mouse_line(TB_KEY_MOUSE_WHEEL_UP, 0, 0));
    EXPECT_EQ(next_event(s, s.encode_mouse(mouse::wheel_down, 9, 1)),
              mouse_line(TB_KEY_MOUSE_WHEEL_DOWN, 1, 9));
    EXPECT_EQ(next_event(s, s.encode_mouse(mouse::right_press, 1, 1)),
              mouse_line(TB_KEY_MOUSE_RIGHT, 1, 1));
    EXPECT_EQ(next_event(s, s.encode_mouse(mouse::middle_press, 1, 2)),
              mouse_line(TB_KEY_MOUSE_MIDDLE, 2, 1));
    // Reports that reach the program together all come through, in order
    // (ncurses hands a run of them out newest first).
    const std::string burst =
        s.encode_mouse(mouse::left_press, 4, 4) + s.encode_mouse(mouse::left_drag, 5, 4) +
        s.encode_mouse(mouse::left_release, 5, 4) + s.encode_mouse(mouse::wheel_down, 5, 4) +
        s.encode_mouse(mouse::wheel_down, 6, 4);
    EXPECT_EQ(next_events(s, burst, 5),
              (std::vector<std::string>{mouse_line(TB_KEY_MOUSE_LEFT, 4, 4),
                                        mouse_line(TB_KEY_MOUSE_LEFT, 4, 5, TB_MOD_MOTION),
                                        mouse_line(TB_KEY_MOUSE_RELEASE, 4, 5),
                                        mouse_line(TB_KEY_MOUSE_WHEEL_DOWN, 4, 5),
                                        mouse_line(TB_KEY_MOUSE_WHEEL_DOWN, 4, 6)}));
    EXPECT_EQ(next_event(s, "k"), key_line(0, 'k'));
    finish(s);
    EXPECT_FALSE(s.mouse_reporting());
}

TEST(TermInput, ResizeIsReportedWithTheNewSize) {
    e2e::session s(probe({"init", "ready", "events", "2", "print", "0", "29", "0", "0", "bottom",
                          "present", "ready", "events", "1", "shutdown"}));
    ASSERT_TRUE(s.wait_for_stdout("ready")) << s.dump();
    s.resize(30, 100);
    ASSERT_TRUE(s.wait_for_stdout("resize 100x30")) << s.dump();
    EXPECT_EQ(next_event(s, "x"), key_line(0, 'x'));
    // Drawing uses the new size at once.
    ASSERT_TRUE(s.wait_for_text("bottom")) << s.dump();
    EXPECT_EQ(s.row_text(29), "bottom");
    s.send("q");
    finish(s);
}

TEST(TermInput, InterruptedWaitIsReportedNotRetried) {
    e2e::session s(probe({"sigusr1", "init", "ready", "events", "1", "shutdown"}));
    ASSERT_TRUE(s.wait_for_stdout("ready")) << s.dump();
    // The wait is interrupted only while it is under way; keep signalling
    // until one lands there.
    ASSERT_TRUE(s.wait_for([&] {
        s.send_signal(SIGUSR1);
        return s.stdout_data().find("poll EINTR") != std::string::npos;
    })) << s.dump();
    s.send("x"); // and the caller's next wait goes on as usual
    EXPECT_TRUE(s.wait_for_stdout(key_line(0, 'x'))) << s.dump();
    finish(s);
}

TEST(TermLifecycle, ShutdownRestoresTheTerminalAndInitWorksAgain) {
    e2e::session s(probe({"termios-save",
                          "init",
                          "mouse",
                          "cursor",
                          "1",
                          "1",
                          "print",
                          "0",
                          "0",
                          "0",
                          "0",
                          "first",
                          "present",
                          "ready",
                          "events",
                          "1",
                          "shutdown",
                          "termios-check",
                          "init",
                          "mouse",
                          "print",
                          "0",
                          "0",
                          "0",
                          "0",
                          "second",
                          "present",
                          "events",
                          "1",
                          "shutdown",
                          "termios-check",
                          "shutdown"}));
    ASSERT_TRUE(s.wait_for_stdout("ready")) << s.dump();
    ASSERT_TRUE(s.wait_for_text("first")) << s.dump();
    EXPECT_TRUE(s.alt_screen());
    EXPECT_TRUE(s.mouse_drag_reporting());
    EXPECT_TRUE(s.private_mode(1)); // application cursor keys

    s.send("x");
    ASSERT_TRUE(s.wait_for_text("second")) << s.dump();
    EXPECT_TRUE(s.alt_screen());
    EXPECT_TRUE(s.mouse_drag_reporting());
    EXPECT_FALSE(s.cursor_visible());
    s.send("y");
    finish(s);

    EXPECT_EQ(lines_of(s.stdout_data()),
              (std::vector<std::string>{"termios saved",
                                        "init 0",
                                        "size 20x8",
                                        "mode 0",
                                        "cursor 0",
                                        "print 0",
                                        "present 0",
                                        "ready",
                                        key_line(0, 'x'),
                                        "shutdown 0",
                                        "termios same",
                                        "init 0",
                                        "size 20x8",
                                        "mode 0",
                                        "print 0",
                                        "present 0",
                                        key_line(0, 'y'),
                                        "shutdown 0",
                                        "termios same",
                                        "shutdown " + std::to_string(TB_ERR_NOT_INIT),
                                        "done"}));
    EXPECT_FALSE(s.alt_screen());
    EXPECT_TRUE(s.cursor_visible());
    EXPECT_FALSE(s.mouse_reporting());
    for (int mode : {1, 1002, 1006, 1000, 1049})
        EXPECT_FALSE(s.private_mode(mode)) << mode;
    EXPECT_EQ(s.stderr_data(), "");
}

TEST(TermLifecycle, SignalsStayTheCallersToHandle) {
    // The probe leaves SIGTERM at its default; ncurses would otherwise catch
    // it on its own and exit in its own way.
    e2e::session s(probe({"init", "ready", "events", "1"}));
    ASSERT_TRUE(s.wait_for_stdout("ready")) << s.dump();
    s.send_signal(SIGTERM);
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.term_signal(), SIGTERM) << s.dump();
    EXPECT_EQ(s.exit_status(), 128 + SIGTERM);
}

struct failure_case {
    const char* name;
    e2e::launch how;
    int rc;
};

TEST(TermLifecycle, InitFailsWithACodeAndPrintsNothing) {
    e2e::launch unknown = probe({"init", "ready"});
    unknown.env["TERM"] = "no-such-terminal";
    e2e::launch unset = probe({"init", "ready"});
    unset.unset_env = {"TERM"};
    e2e::launch dumb = probe({"init", "ready"}); // no cursor addressing
    dumb.env["TERM"] = "dumb";
    // setsid -w runs the probe in a session of its own, with no terminal.
    e2e::launch detached = probe({"-w", PROBE, "init", "ready"});
    detached.program = "/usr/bin/setsid";

    for (const failure_case& c : {failure_case{"unknown TERM", unknown, TB_ERR_NO_TERM},
                                  failure_case{"no TERM", unset, TB_ERR_NO_TERM},
                                  failure_case{"dumb terminal", dumb, TB_ERR_NO_TERM},
                                  failure_case{"no terminal", detached, TB_ERR_INIT_OPEN}}) {
        e2e::session s(c.how);
        ASSERT_TRUE(s.wait_exit()) << c.name << "\n" << s.dump();
        EXPECT_EQ(s.exit_status(), 0) << c.name;
        EXPECT_EQ(s.stdout_data(), "init " + std::to_string(c.rc) + "\nready\ndone\n") << c.name;
        EXPECT_EQ(s.stderr_data(), "") << c.name;
        EXPECT_EQ(s.raw_output(), "") << c.name;
    }
}

// The harness itself, driven with small shell programs.
e2e::launch shell(const std::string& script) {
    e2e::launch how;
    how.program = "/bin/sh";
    how.args = {"-c", script};
    return how;
}

TEST(Harness, LargeInputAndOutputFlowWithoutDeadlock) {
    std::string big;
    for (int i = 0; big.size() < (1 << 20); ++i)
        big += "line " + std::to_string(i) + "\n";

    e2e::launch piped = shell("cat");
    piped.stdin_data = big;
    e2e::session s(piped);
    ASSERT_TRUE(s.wait_exit()) << s.stdout_data().size();
    EXPECT_EQ(s.stdout_data(), big);

    const e2e::temp_file file(big);
    e2e::launch from_file = shell("cat >&2");
    from_file.stdin_file = file.path();
    e2e::session t(from_file);
    ASSERT_TRUE(t.wait_exit());
    EXPECT_EQ(t.stderr_data(), big);
    EXPECT_EQ(t.stdout_data(), "");

    e2e::session u(shell("cat; echo end")); // no input given: /dev/null
    ASSERT_TRUE(u.wait_exit());
    EXPECT_EQ(u.stdout_data(), "end\n");
}

TEST(Harness, ChildGetsACleanPrivateEnvironmentAndATerminal) {
    setenv("KORVEL_HARNESS_NOT_PASSED", "1", 1);
    e2e::launch how =
        shell("printf '%s|' \"$TERM\" \"$HOME\" \"$XDG_CONFIG_PATH\" \"$EXTRA\" "
              "\"${GONE-unset}\" \"${KORVEL_HARNESS_NOT_PASSED-unset}\" \"$0\"; "
              "cat \"$HOME/.config/korvel/config\"; exec 3</dev/tty && echo has-terminal");
    how.argv0 = "named";
    how.env = {{"EXTRA", "yes"}, {"GONE", "x"}};
    how.unset_env = {"GONE"};
    how.home_files = {{".config/korvel/config", "map x true\n"}};
    std::string home;
    {
        e2e::session s(how);
        home = s.home();
        ASSERT_TRUE(s.wait_exit());
        EXPECT_EQ(s.stdout_data(), "xterm-256color|" + home + "|" + home +
                                       "/.config|yes|unset|unset|named|map x true\nhas-terminal\n");
        EXPECT_EQ(s.stderr_data(), "");
    }
    unsetenv("KORVEL_HARNESS_NOT_PASSED");
    EXPECT_FALSE(std::filesystem::exists(home)); // removed with the session
}

struct exit_case {
    std::string script;
    int status;
    int signal;
};

TEST(Harness, ExitStatusIsTheCodeOrSignalPlus128) {
    for (const exit_case& c : {exit_case{"exit 0", 0, 0}, exit_case{"exit 3", 3, 0},
                               exit_case{"kill -TERM $$", 128 + SIGTERM, SIGTERM},
                               exit_case{"kill -KILL $$", 128 + SIGKILL, SIGKILL}}) {
        e2e::session s(shell(c.script));
        ASSERT_TRUE(s.wait_exit()) << c.script;
        EXPECT_TRUE(s.exited());
        EXPECT_EQ(s.exit_status(), c.status) << c.script;
        EXPECT_EQ(s.term_signal(), c.signal) << c.script;
    }
}

TEST(Harness, MouseReportsFollowTheModesTheProgramSet) {
    using e2e::mouse;
    // Standard output is a pipe; the terminal is /dev/tty.
    e2e::session s(shell("exec 1>/dev/tty </dev/tty; printf '\\033[?1000h'; read a; "
                         "printf '\\033[?1002h\\033[?1006h'; read b; "
                         "printf '\\033[?1006l\\033[?1002l'"));
    EXPECT_EQ(s.encode_mouse(mouse::left_press, 2, 5), ""); // nothing asked for yet
    ASSERT_TRUE(s.wait_for([&] { return s.mouse_reporting(); })) << s.raw_output();
    // Press and release only, in the X10 form: button, column, row, each + 32.
    EXPECT_EQ(s.encode_mouse(mouse::left_press, 2, 5), "\x1b[M &#");
    EXPECT_EQ(s.encode_mouse(mouse::left_release, 2, 5), "\x1b[M#&#");
    EXPECT_EQ(s.encode_mouse(mouse::wheel_up, 2, 5), "\x1b[M`&#");
    EXPECT_EQ(s.encode_mouse(mouse::left_drag, 2, 5), "");

    s.send("\n");
    ASSERT_TRUE(s.wait_for([&] { return s.mouse_drag_reporting() && s.private_mode(1006); }));
    EXPECT_EQ(s.encode_mouse(mouse::left_press, 2, 5), e2e::mouse_press(2, 5));
    EXPECT_EQ(s.encode_mouse(mouse::left_press, 2, 5), "\x1b[<0;6;3M");
    EXPECT_EQ(s.encode_mouse(mouse::left_release, 2, 5), "\x1b[<0;6;3m");
    EXPECT_EQ(s.encode_mouse(mouse::left_drag, 2, 5), "\x1b[<32;6;3M");
    EXPECT_EQ(s.encode_mouse(mouse::wheel_down, 2, 5), e2e::wheel_down(2, 5));
    EXPECT_EQ(s.encode_mouse(mouse::right_press, 2, 5), "\x1b[<2;6;3M");

    s.send("\n");
    ASSERT_TRUE(s.wait_exit());
    EXPECT_FALSE(s.mouse_reporting());
    EXPECT_FALSE(s.private_mode(1006));
}

TEST(Harness, AnswersTheProgramsTerminalQueries) {
    e2e::session s(probe({"cursor-report"}));
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.stdout_data(), "report ^[[3;5R\ndone\n");
}

// Not a test: the cost of a full-screen redraw on a 200x60 terminal. Run
// with --gtest_also_run_disabled_tests --gtest_filter='*Redraw*'.
TEST(TermBenchmark, DISABLED_FullScreenRedraw) {
    e2e::session s(probe({"init", "bench", "1000", "shutdown"}, 60, 200));
    ASSERT_TRUE(s.wait_exit(std::chrono::seconds(120))) << s.dump();
    std::printf("%s", s.stdout_data().c_str());
}

} // namespace
