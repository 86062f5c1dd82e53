// Mapped commands and the clipboard as a user meets them: a configuration
// file in a private HOME, the real binary in a pseudo-terminal, and fake
// clipboard programs in a folder that is all of PATH.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.hpp"
#include "screen.hpp"

namespace {

using e2e::temp_dir;

namespace fs = std::filesystem;
using namespace e2e::screen;

const std::string FIXTURES = TEST_SOURCE_DIR "/e2e/fixtures/commands";

// Sorted, this is the tree README, src, src/main.c, src/util.c.
const std::string LIST = "src/util.c\nREADME\nsrc/main.c\n";

constexpr int ROWS = 10;
constexpr int COLS = 60;

e2e::launch viewer(const std::string& config, const std::string& list = LIST) {
    e2e::launch how = korvel(list, ROWS, COLS);
    if (!config.empty()) how.home_files[".config/korvel/config"] = config;
    return how;
}

void expect_colors(const e2e::session& s, int fg, int bg) {
    const e2e::cell c = s.cell_at(s.rows() - 1, 1);
    EXPECT_EQ(c.fg, fg) << s.dump();
    EXPECT_EQ(c.bg, bg) << s.dump();
}

void start(e2e::session& s) {
    ASSERT_TRUE(wait_status(s, "README")) << s.dump();
    ASSERT_TRUE(s.wait_for_text("main.c")) << s.dump();
}

// The status row ends with the position counter, drawn after its text.
bool status_row_drawn(const e2e::session& s) {
    const std::string row = status_row(s);
    const size_t slash = row.rfind('/');
    return slash != std::string::npos && slash > 0 && slash + 1 < row.size() &&
           isdigit(static_cast<unsigned char>(row[slash - 1])) &&
           row.find_first_not_of("0123456789", slash + 1) == std::string::npos;
}

const std::string PRESS_ANY_KEY = "Press any key to go back";

// The command has ended and its output stays on the terminal until a key:
// the prompt is drawn, and the cursor stands right after it (the prompt of
// an earlier command may still be on the ordinary screen, a line above).
bool waiting_for_key(const e2e::session& s) {
    if (s.alt_screen()) return false;
    const std::string row = s.row_text(s.cursor_row());
    return row.ends_with(PRESS_ANY_KEY) && s.cursor_col() == static_cast<int>(row.size());
}

// Waits until the viewer has drawn its screen again, after it had entered
// it `before` times.
testing::AssertionResult back_in_viewer(e2e::session& s, size_t before) {
    if (s.wait_for(
            [&] { return screens_entered(s) > before && s.alt_screen() && status_row_drawn(s); }))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "not back in the viewer\n" << s.dump();
}

// Presses a mapped key and waits until the command has ended and the viewer
// has drawn its screen again; when the command waits for a key afterwards,
// as a failed one does, a key is pressed.
void run_mapped(e2e::session& s, const std::string& key) {
    const size_t before = screens_entered(s);
    s.send(key);
    ASSERT_TRUE(s.wait_for([&] {
        return (screens_entered(s) > before && s.alt_screen() && status_row_drawn(s)) ||
               waiting_for_key(s);
    })) << "after "
        << key << "\n"
        << s.dump();
    if (waiting_for_key(s)) s.send(" ");
    ASSERT_TRUE(back_in_viewer(s, before)) << "after " << key;
}

// What the shell says on its standard error for a command line.
std::string shell_error(const std::string& command_line) {
    const std::string script = "/bin/sh -c '" + command_line + "' 2>&1";
    FILE* pipe = popen(script.c_str(), "r");
    std::string text;
    char buffer[256];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    pclose(pipe);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

// A private folder to put on PATH, holding only the programs a case names,
// so that whatever the machine has installed cannot answer in their place.
class bin_dir : public temp_dir {
  public:
    bin_dir() {
        // The fakes need cat.
        for (const char* dir : {"/usr/bin", "/bin"}) {
            if (access((std::string(dir) + "/cat").c_str(), X_OK) == 0) {
                link("cat", std::string(dir) + "/cat");
                break;
            }
        }
    }
    void link(const std::string& name, const std::string& target) {
        fs::create_symlink(target, fs::path(path()) / name);
    }
    void fake(const std::string& name, const std::string& fixture) {
        link(name, FIXTURES + "/" + fixture);
    }
};

// -- Mapped commands --------------------------------------------------------

struct failure_case {
    std::string map;      // the command bound to x
    std::string expected; // the status row afterwards
};

TEST(MappedCommand, FailureShowsErrorOutputOrStatusInErrorColours) {
    const std::vector<failure_case> cases{
        {"printf '%s' \"$f\" >&2; exit 1", "src/main.c"},
        {"printf 'abc\\n' >&2; exit 2", "abc"},
        {"printf abc >&2; exit 2", "abc"},
        {"false", "false exited with status 1"},
        {"exit 7", "exit 7 exited with status 7"},
        {"no-such-korvel-command", shell_error("no-such-korvel-command")},
        // Only the last newline goes; control characters show as pictures.
        {"printf '\\033]0;t\\007l1\\nl2\\n' >&2; exit 1", "\u241B]0;t\u2407l1\u240Al2"},
    };
    for (const failure_case& c : cases) {
        SCOPED_TRACE(c.map);
        e2e::session s(viewer("map x " + c.map + "\n"));
        start(s);
        s.send("jj");
        ASSERT_TRUE(wait_status(s, "src/main.c")) << s.dump();
        run_mapped(s, "x");
        ASSERT_TRUE(wait_status(s, c.expected)) << s.dump();
        expect_colors(s, WHITE, RED);
        EXPECT_NE(s.screen_text().find("main.c"), std::string::npos) << s.dump();
        // The command's own error output reaches the terminal as it wrote
        // it, as its output does; the status row shows substitutes.
        const std::string& raw = s.raw_output();
        const size_t title = raw.find("\x1b]0;t");
        EXPECT_EQ(title == std::string::npos ? title : raw.find("\x1b]0;t", title + 1),
                  std::string::npos);
        // The next move shows the path again, in the message colours.
        s.send("k");
        ASSERT_TRUE(wait_status(s, "src")) << s.dump();
        expect_colors(s, BLACK, WHITE);
        quit(s);
    }
}

TEST(MappedCommand, SuccessOrDeathBySignalLeavesTheStatusRowAlone) {
    // The marker file says the command really ran.
    for (const std::string map : {"echo ran; echo noise >&2; exit 0", "echo ran; kill -9 $$",
                                  "echo ran; kill -TERM $$"}) {
        SCOPED_TRACE(map);
        e2e::session s(viewer("map x touch \"$HOME/ran\"; " + map + "\n"));
        start(s);
        run_mapped(s, "x");
        ASSERT_TRUE(s.wait_for([&] { return fs::exists(s.home() + "/ran"); })) << s.dump();
        ASSERT_TRUE(wait_status(s, "README")) << s.dump();
        expect_colors(s, BLACK, WHITE);
        quit(s);
        EXPECT_EQ(s.stdout_data(), "");
        EXPECT_EQ(s.stderr_data(), "");
    }
}

TEST(MappedCommand, BackgroundJobKeepingTheErrorOutputDoesNotHoldTheViewer) {
    // Like `map o xdg-open "$f" &`: the job outlives the command and holds
    // the pipe the viewer reads the command's error output from.
    e2e::session s(viewer("map x sleep 30 & echo $! > \"$HOME/job\"; printf late >&2; exit 4\n"));
    start(s);
    run_mapped(s, "x");
    ASSERT_TRUE(wait_status(s, "late")) << s.dump();
    const std::string job = read_file(s.home() + "/job");
    ASSERT_FALSE(job.empty());
    kill(static_cast<pid_t>(std::stol(job)), SIGKILL);
    quit(s);
}

TEST(MappedCommand, PathReachesTheCommandByteForByteRunAfterRun) {
    const std::string odd = "odd\xff dir/na\tme \"$(x)\"\r";
    e2e::session s(viewer("map f printf '%s' \"$f\" > \"$HOME/f\"\n"
                          "map c true\n",
                          odd + "\n"));
    ASSERT_TRUE(s.wait_for_text("na")) << s.dump();
    s.send("G");
    run_mapped(s, "f");
    EXPECT_EQ(read_file(s.home() + "/f"), odd);
    // The viewer's own descriptors, by number and kind, looked at while it
    // waits for keys: none may pile up over the runs.
    const auto descriptors = [&] {
        std::vector<std::string> fds;
        for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(s.pid()) + "/fd"))
            fds.push_back(entry.path().filename().string() + " " +
                          fs::read_symlink(entry.path()).string().substr(0, 5));
        std::sort(fds.begin(), fds.end());
        return fds;
    };
    run_mapped(s, "c");
    const std::vector<std::string> first = descriptors();
    for (int i = 0; i < 20; ++i) run_mapped(s, "c");
    EXPECT_EQ(descriptors(), first);
    quit(s);
}

TEST(MappedCommand, MarkedPathsReachTheCommandInFx) {
    // f is the cursor's path; fx the marked paths one a line, or f itself
    // when nothing is marked.
    const std::string odd = "odd\xff dir/na\tme \"$(x)\"\r";
    e2e::session s(
        viewer("map x printf '%s' \"$f\" > \"$HOME/f\"; printf '%s' \"$fx\" > \"$HOME/fx\"\n",
               LIST + odd + "\n"));
    start(s);
    s.send("\t\tG"); // README and odd dir, which sort first
    ASSERT_TRUE(wait_status(s, "src/util.c")) << s.dump();
    run_mapped(s, "x");
    EXPECT_EQ(read_file(s.home() + "/f"), "src/util.c");
    EXPECT_EQ(escaped(read_file(s.home() + "/fx")), escaped("README\nodd\xff dir"));
    s.send("u");
    run_mapped(s, "x");
    EXPECT_EQ(read_file(s.home() + "/fx"), "src/util.c");
    s.send("k\t");
    run_mapped(s, "x");
    EXPECT_EQ(read_file(s.home() + "/fx"), "src/main.c");
    quit(s);
}

TEST(MappedCommand, MarksTooManyForOneVariableStillReachTheCommandAsArguments) {
    // Far more than the system lets one variable hold, and less than it
    // lets all the arguments hold: "$@" has every path, and $fx is unset
    // rather than cut.
    std::string list;
    for (int i = 0; i < 20000; ++i)
        list += "dir/file-with-a-long-name-" + std::to_string(i) + "\n";
    e2e::launch how =
        viewer("map x { echo $#; printf '%s\\n' \"$1\" \"${20000}\" \"${fx-unset}\"; } "
               "> \"$HOME/args\"\n",
               list);
    how.cols = 100;
    e2e::session s(how);
    ASSERT_TRUE(wait_status(s, "dir")) << s.dump();
    s.send("v");
    ASSERT_TRUE(wait_status(s, "Marked 20,000 entries")) << s.dump();
    run_mapped(s, "x");
    EXPECT_EQ(read_file(s.home() + "/args"),
              "20000\ndir/file-with-a-long-name-0\ndir/file-with-a-long-name-9999\nunset\n");
    quit(s);
}

TEST(MappedCommand, MarksTooManyForAllArgumentsAreReported) {
    // Past the limit on all arguments together (at most 6 MB on Linux,
    // whatever the stack): the command cannot start, and the row says why.
    std::string list;
    const std::string name(100, 'n');
    for (int i = 0; i < 70000; ++i)
        list += "d/" + name + std::to_string(i) + "\n";
    e2e::launch how = viewer("map x touch \"$HOME/ran\"\n", list);
    how.cols = 100;
    e2e::session s(how);
    ASSERT_TRUE(s.wait_for([&] { return status_text(s) == "d"; }, std::chrono::seconds(20)))
        << s.dump();
    s.send("v");
    ASSERT_TRUE(wait_status(s, "Marked 70,000 entries")) << s.dump();
    run_mapped(s, "x");
    ASSERT_TRUE(wait_status(s, "Failed to run command: Argument list too long")) << s.dump();
    expect_colors(s, WHITE, RED);
    EXPECT_FALSE(fs::exists(s.home() + "/ran"));
    quit(s);
}

TEST(MappedCommand, ChattyErrorOutputNeverBlocksAndItsFirstBytesAreShown) {
    // Far more than a pipe holds; the status row shows the first 254 bytes.
    e2e::launch how =
        viewer("map x { printf flood-start; head -c 100000 /dev/zero | tr '\\0' x; } >&2; exit 1\n");
    how.cols = 300;
    e2e::session s(how);
    start(s);
    run_mapped(s, "x");
    ASSERT_TRUE(wait_status(s, "flood-start" + std::string(254 - 11, 'x'))) << s.dump();
    expect_colors(s, WHITE, RED);
    quit(s);
}

TEST(MappedCommand, InputAndOutputBelongToTheTerminal) {
    // The list came on standard input, yet read gets the keyboard; and what
    // the command prints reaches the screen, never the picked result.
    e2e::session s(viewer("map e echo \"out:$f\"\n"
                          "map r echo reading; read line; printf '%s' \"got:$line\" >&2; exit 3\n"));
    start(s);
    s.send("j");
    run_mapped(s, "e");
    ASSERT_TRUE(s.wait_for([&] { return s.raw_output().find("out:src\r\n") != std::string::npos; }))
        << s.dump();
    ASSERT_TRUE(wait_status(s, "src")) << s.dump();

    const size_t before = screens_entered(s);
    s.send("r");
    // The terminal is the user's again while the command runs.
    ASSERT_TRUE(s.wait_for([&] { return !s.alt_screen(); })) << s.dump();
    EXPECT_TRUE(s.cursor_visible()) << s.dump();
    EXPECT_FALSE(s.mouse_reporting()) << s.dump();
    // Typed once the command reads: keys typed before the terminal has left
    // raw mode would arrive without their line end.
    ASSERT_TRUE(s.wait_for_text("reading")) << s.dump();
    s.send("typed words\r");
    // It failed: its error output stays on the terminal until a key.
    ASSERT_TRUE(s.wait_for([&] { return waiting_for_key(s); })) << s.dump();
    EXPECT_NE(s.screen_text().find("got:typed words"), std::string::npos) << s.dump();
    s.settle();
    EXPECT_EQ(screens_entered(s), before) << s.dump();
    s.send("\x1b[A"); // any key, this one in several bytes, none of them left over
    ASSERT_TRUE(back_in_viewer(s, before));
    ASSERT_TRUE(wait_status(s, "got:typed words")) << s.dump();
    // The tree is back, and the viewer goes on.
    EXPECT_EQ(s.row_text(0), "• README") << s.dump();
    EXPECT_FALSE(s.cursor_visible()) << s.dump();
    EXPECT_TRUE(s.mouse_reporting()) << s.dump();
    s.send("G");
    ASSERT_TRUE(wait_status(s, "src/util.c")) << s.dump();
    s.send("o");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
    EXPECT_EQ(s.stdout_data(), "src/util.c\n");
}

TEST(MappedCommand, MappingReplacesTheBuiltInKeyAndTheLastLineWins) {
    e2e::session s(viewer("map x printf first >&2; exit 1\n"
                          "map q printf mapped-q >&2; exit 1\n"
                          "map \u00e9 printf e-acute >&2; exit 1\n"
                          "map x printf second >&2; exit 1\n"));
    start(s);
    run_mapped(s, "x");
    ASSERT_TRUE(wait_status(s, "second")) << s.dump();
    // A character whose low byte is a mapped key is not that key.
    const size_t before = screens_entered(s);
    s.send("\u0178");
    s.settle();
    EXPECT_EQ(screens_entered(s), before) << s.dump();
    // A character of two bytes is a key like any other.
    run_mapped(s, "\u00e9");
    ASSERT_TRUE(wait_status(s, "e-acute")) << s.dump();
    run_mapped(s, "q");
    ASSERT_TRUE(wait_status(s, "mapped-q")) << s.dump();
    EXPECT_FALSE(s.exited());
    // Escape still quits.
    s.send(e2e::KEY_ESC);
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
    EXPECT_EQ(s.stdout_data(), "");
}

TEST(MappedCommand, MappedCharacterTypedIntoThePromptIsText) {
    e2e::session s(viewer("map x echo ran\nmap m echo ran\n"));
    start(s);
    s.send("/");
    ASSERT_TRUE(s.wait_for([&] { return status_text(s).rfind("/", 0) == 0; })) << s.dump();
    const size_t before = screens_entered(s);
    s.send("xm");
    ASSERT_TRUE(s.wait_for([&] { return status_text(s).rfind("/xm", 0) == 0; })) << s.dump();
    s.send(e2e::KEY_BACKSPACE + e2e::KEY_BACKSPACE + "ma" + e2e::KEY_ENTER);
    ASSERT_TRUE(wait_status(s, "src/main.c")) << s.dump();
    EXPECT_EQ(screens_entered(s), before);
    quit(s);
    EXPECT_EQ(s.stdout_data(), "");
}

// After a command that was cut short: the viewer has drawn its screen again
// (it had entered it `before` times), stays, and goes on taking keys.
void back_and_going_on(e2e::session& s, size_t before) {
    ASSERT_TRUE(s.wait_for([&] { return screens_entered(s) > before; })) << s.dump();
    ASSERT_TRUE(wait_status(s, "README")) << s.dump();
    s.settle();
    EXPECT_FALSE(s.exited()) << s.dump();
    s.send("j");
    ASSERT_TRUE(wait_status(s, "src")) << s.dump();
    quit(s);
}

TEST(MappedCommand, InterruptFromTheKeyboardEndsOnlyTheCommand) {
    e2e::session s(viewer("map s echo started; exec sleep 30\n"));
    start(s);
    const size_t before = screens_entered(s);
    s.send("s");
    ASSERT_TRUE(s.wait_for_text("started")) << s.dump();
    s.send("\x03"); // Ctrl-C, on a terminal that is not raw now
    back_and_going_on(s, before);
}

TEST(MappedCommand, QuitSignalWhileACommandRunsEndsTheViewerWhenItReturns) {
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        e2e::session s(viewer("map r echo started; read line; exit 0\n"));
        start(s);
        const size_t before = screens_entered(s);
        s.send("r");
        ASSERT_TRUE(s.wait_for_text("started")) << s.dump();
        s.send_signal(sig);
        // The command is not cut short by the viewer's signal.
        s.settle();
        ASSERT_FALSE(s.exited()) << s.dump();
        s.send("\r");
        ASSERT_TRUE(s.wait_exit()) << s.dump();
        EXPECT_EQ(s.exit_status(), 0);
        EXPECT_EQ(s.stdout_data(), "");
        EXPECT_EQ(s.stderr_data(), "");
        EXPECT_FALSE(s.alt_screen());
        EXPECT_TRUE(s.cursor_visible());
        // Ended without taking the screen again first.
        EXPECT_EQ(screens_entered(s), before) << s.dump();
    }
}

// How many lines of jobshell's log begin with `word`.
size_t log_count(const std::string& log, const std::string& word) {
    size_t n = 0;
    std::istringstream lines(read_file(log));
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(word, 0) == 0) ++n;
    return n;
}

pid_t logged_pid(const std::string& log) {
    std::istringstream lines(read_file(log));
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("pid ", 0) == 0) return static_cast<pid_t>(std::stol(line.substr(4)));
    return -1;
}

// Under a job-control shell, so that a stop really stops.
TEST(MappedCommand, StoppedCommandStopsTheViewerWhichThenWaitsOnForIt) {
    temp_dir dir;
    const std::string log = dir.path() + "/jobs.log";
    e2e::launch how = viewer("map r echo started; read line; printf '%s' \"got:$line\" >&2; exit 1\n");
    how.program = TEST_PROGRAMS_DIR "/jobshell";
    how.args = {KORVEL_BINARY};
    how.env["JOBSHELL_LOG"] = log;
    e2e::session s(how);
    start(s);
    const pid_t pid = logged_pid(log);
    ASSERT_GT(pid, 0) << read_file(log);

    const size_t before = screens_entered(s);
    s.send("r");
    ASSERT_TRUE(s.wait_for_text("started")) << s.dump();
    s.send("\x1a"); // Ctrl-Z: the whole job stops, the viewer with it
    ASSERT_TRUE(s.wait_for([&] { return log_count(log, "stopped") == 1; })) << read_file(log);
    EXPECT_EQ(process_state(pid), 'T');

    kill(-pid, SIGCONT); // as fg would
    ASSERT_TRUE(s.wait_for([&] { return log_count(log, "continued") == 1; })) << read_file(log);
    // The command still runs, and the viewer waits for it.
    s.settle();
    EXPECT_EQ(screens_entered(s), before) << s.dump();
    EXPECT_FALSE(s.alt_screen()) << s.dump();

    s.send("after stop\r");
    ASSERT_TRUE(s.wait_for([&] { return waiting_for_key(s); })) << s.dump();
    s.send("x");
    ASSERT_TRUE(wait_status(s, "got:after stop")) << s.dump();
    EXPECT_EQ(screens_entered(s), before + 1) << s.dump();
    s.send("j");
    ASSERT_TRUE(wait_status(s, "src")) << s.dump();
    quit(s);
    EXPECT_EQ(log_count(log, "stopped"), 1u) << read_file(log);
    EXPECT_EQ(log_count(log, "exited 0"), 1u) << read_file(log);
}

TEST(MappedCommand, ConfigurationFileIsTakenFromWhereTheEnvironmentPoints) {
    temp_dir xdg;
    fs::create_directories(xdg.path() + "/korvel");
    std::ofstream(xdg.path() + "/korvel/config") << "map x printf xdg >&2; exit 1\n";
    struct location_case {
        std::string name;
        std::map<std::string, std::string> env;
        std::vector<std::string> unset;
        std::string ran; // which file's mapping x runs; "" for none
    };
    const std::vector<location_case> cases{
        {"XDG_CONFIG_PATH first", {{"XDG_CONFIG_PATH", xdg.path()}}, {}, "xdg"},
        {"then HOME", {}, {"XDG_CONFIG_PATH"}, "home"},
        {"XDG_CONFIG_PATH empty", {{"XDG_CONFIG_PATH", ""}}, {}, ""},
        {"then XDG_CONFIG_HOME", {{"XDG_CONFIG_HOME", xdg.path()}}, {"XDG_CONFIG_PATH"}, "xdg"},
        {"XDG_CONFIG_PATH before XDG_CONFIG_HOME",
         {{"XDG_CONFIG_PATH", xdg.path() + "/none"}, {"XDG_CONFIG_HOME", xdg.path()}}, {}, ""},
        {"XDG_CONFIG_HOME empty", {{"XDG_CONFIG_HOME", ""}}, {"XDG_CONFIG_PATH"}, "home"},
        {"neither", {}, {"XDG_CONFIG_PATH", "HOME"}, ""},
    };
    for (const location_case& c : cases) {
        SCOPED_TRACE(c.name);
        e2e::launch how = viewer("map x printf home >&2; exit 1\n");
        how.env.insert(c.env.begin(), c.env.end());
        how.unset_env = c.unset;
        e2e::session s(how);
        start(s);
        if (c.ran.empty()) {
            // x has no built-in meaning either.
            const size_t before = screens_entered(s);
            s.send("x");
            s.settle();
            EXPECT_EQ(screens_entered(s), before) << s.dump();
            EXPECT_EQ(status_text(s), "README") << s.dump();
        } else {
            run_mapped(s, "x");
            EXPECT_TRUE(wait_status(s, c.ran)) << s.dump();
        }
        quit(s);
    }

    // A path that cannot be formed is a failure, not a missing file.
    e2e::launch how = viewer("map x printf home >&2; exit 1\n");
    how.env["XDG_CONFIG_PATH"] = "/" + std::string(2000, 'x');
    e2e::session s(how);
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 1);
    // The message whole, then as much of the file's name as fits.
    const std::string message = "Failed to read config: File name too long (in /xxx";
    EXPECT_EQ(s.stderr_data().rfind(std::string(KORVEL_BINARY) + ": " + message, 0), 0u)
        << s.stderr_data();
    EXPECT_EQ(screens_entered(s), 0u);
}

TEST(MappedCommand, LongConfigurationLinesAreOneLineEach) {
    // A comment far longer than any read buffer, then a binding: the
    // comment's tail is still comment, and the binding counts from the
    // file's own line numbers.
    const std::string comment = "# " + std::string(400, 'c') + " map x printf wrong >&2\n";
    e2e::session s(viewer(comment + "map x printf right >&2; exit 1\n"));
    start(s);
    run_mapped(s, "x");
    ASSERT_TRUE(wait_status(s, "right")) << s.dump();
    quit(s);

    e2e::session bad(viewer(comment + "nmap x ls\n"));
    ASSERT_TRUE(bad.wait_exit()) << bad.dump();
    EXPECT_EQ(bad.exit_status(), 1);
    EXPECT_EQ(bad.stderr_data(), std::string(KORVEL_BINARY) +
                                     ": Failed to read config: line 2: unknown command nmap (in " +
                                     bad.home() + "/.config/korvel/config)\n");
}

TEST(MappedCommand, CrLfConfigurationRunsTheCommandWithoutTheCr) {
    // As a Windows editor saves it: every line, the blank one too, ends in CR LF.
    temp_dir dir;
    e2e::launch how = viewer("# made elsewhere\r\n\r\nmap e touch x\r\n");
    how.cwd = dir.path();
    e2e::session s(how);
    start(s);
    run_mapped(s, "e");
    quit(s);
    EXPECT_TRUE(fs::exists(fs::path(dir.path()) / "x"));
    EXPECT_FALSE(fs::exists(fs::path(dir.path()) / "x\r"));
}

// Started by a parent that ignores SIGCHLD, which exec passes on: the
// kernel would reap the children before the viewer could wait for them.
e2e::launch with_child_signal_ignored(e2e::launch how) {
    how.args.insert(how.args.begin(),
                    {"-e", "$SIG{CHLD} = 'IGNORE'; exec @ARGV or die", how.program});
    how.program = "/usr/bin/perl";
    return how;
}

TEST(MappedCommand, ParentIgnoringChildSignalsChangesNothing) {
    bin_dir bin;
    bin.fake("xsel", "xsel");
    e2e::launch how = viewer("map x printf err >&2; exit 3\nmap t true\n");
    how.env["PATH"] = bin.path();
    e2e::session s(with_child_signal_ignored(how));
    start(s);
    run_mapped(s, "t");
    ASSERT_TRUE(wait_status(s, "README")) << s.dump();
    expect_colors(s, BLACK, WHITE);
    run_mapped(s, "x");
    ASSERT_TRUE(wait_status(s, "err")) << s.dump();
    s.send("y");
    ASSERT_TRUE(wait_status(s, "Copied: README")) << s.dump();
    EXPECT_EQ(read_file(s.home() + "/xsel.in"), "README");
    quit(s);
}

TEST(MappedCommand, ConfigurationErrorEndsBeforeTheViewer) {
    e2e::session s(viewer("# keys\nmap xy ls\n"));
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 1);
    EXPECT_EQ(s.stderr_data(), std::string(KORVEL_BINARY) +
                                   ": Failed to read config: line 2: mapping cannot consist "
                                   "of multiple characters: xy (in " +
                                   s.home() + "/.config/korvel/config)\n");
    EXPECT_EQ(s.stdout_data(), "");
    EXPECT_EQ(screens_entered(s), 0u) << s.raw_output();
}

// The bytes of a file, cut at each NUL.
std::vector<std::string> nul_separated(const std::string& text) {
    std::vector<std::string> parts;
    size_t at = 0;
    for (size_t end; (end = text.find('\0', at)) != std::string::npos; at = end + 1)
        parts.push_back(text.substr(at, end - at));
    return parts;
}

TEST(MappedCommand, PicksArePositionalParametersAndNoNameIsAnOption) {
    // Read NUL-separated, so that a name can hold a newline. A relative name
    // starting with '-' or '+' gets "./" in front in $f, "$@" and $fx; an
    // absolute one and any other stays as it is.
    const std::string list = std::string("+:!touch PWNED\0-rf\0/-abs\0a\nb/-c\0plain\0", 39);
    e2e::launch how =
        viewer("map x printf '%s\\0' \"$@\" > \"$HOME/args\"; "
               "printf '%s' \"$f\" > \"$HOME/f\"; printf '%s' \"$fx\" > \"$HOME/fx\"\n",
               list);
    how.args = {"--read0"};
    e2e::session s(how);
    ASSERT_TRUE(s.wait_for([&] { return s.alt_screen() && !status_text(s).empty(); })) << s.dump();
    // The first row is the first name in byte order.
    ASSERT_TRUE(wait_status(s, "+:!touch PWNED")) << s.dump();
    run_mapped(s, "x");
    EXPECT_EQ(read_file(s.home() + "/f"), "./+:!touch PWNED");
    EXPECT_EQ(nul_separated(read_file(s.home() + "/args")),
              std::vector<std::string>{"./+:!touch PWNED"});
    EXPECT_EQ(read_file(s.home() + "/fx"), "./+:!touch PWNED");

    // Every name of the list, not the folders the tree made up to hold them.
    s.send("\t\tj\tj\t\t");
    ASSERT_TRUE(s.wait_for([&] { return status_row(s).find("marked 5") != std::string::npos; }))
        << s.dump();
    run_mapped(s, "x");
    std::vector<std::string> args = nul_separated(read_file(s.home() + "/args"));
    // $fx is the same paths, one a line, in the same order.
    std::string lines;
    for (const std::string& arg : args)
        lines += (lines.empty() ? "" : "\n") + arg;
    EXPECT_EQ(escaped(read_file(s.home() + "/fx")), escaped(lines));
    std::sort(args.begin(), args.end());
    EXPECT_EQ(args,
              (std::vector<std::string>{"./+:!touch PWNED", "./-rf", "/-abs", "a\nb/-c", "plain"}));
    EXPECT_FALSE(fs::exists("PWNED"));
    quit(s);
}

TEST(MappedCommand, QuestionOnStandardErrorIsSeenAndAnswered) {
    // rm -i asks on its standard error and reads the answer: the question
    // must be on the screen before the answer is typed.
    temp_dir dir;
    const std::string keep = dir.path() + "/keep";
    const std::string victim = dir.path() + "/victim";
    std::ofstream(keep) << "k";
    std::ofstream(victim) << "v";
    e2e::launch how = viewer("map D rm -i -- \"$@\"\n", keep + "\n" + victim + "\n");
    how.cols = 200;
    e2e::session s(how);
    ASSERT_TRUE(s.wait_for([&] { return s.alt_screen() && !status_text(s).empty(); })) << s.dump();
    s.send("G");
    ASSERT_TRUE(wait_status(s, victim)) << s.dump();
    const size_t before = screens_entered(s);
    s.send("D");
    ASSERT_TRUE(s.wait_for_text("rm: remove regular file '" + victim + "'?")) << s.dump();
    s.send("y\r");
    ASSERT_TRUE(back_in_viewer(s, before));
    EXPECT_FALSE(fs::exists(victim));
    EXPECT_TRUE(fs::exists(keep));
    expect_colors(s, BLACK, WHITE);
    quit(s);
}

TEST(MappedCommand, BangCommandWaitsForAKeyAndAFailureWaitsAnyway) {
    temp_dir dir;
    const std::string file = dir.path() + "/-listed";
    std::ofstream(file) << "12345";
    struct wait_case {
        std::string map;
        bool waits;
        std::string on_terminal; // before the key
        std::string status;      // afterwards
    };
    const std::vector<wait_case> cases{
        {"!ls -ld -- \"$f\"", true, file, file},
        {"!wc -c < \"$f\"", true, "5", file},
        // Failed: the whole message stays on the terminal until a key.
        {"printf 'first\\nsecond\\n' >&2; exit 2", true, "first\nsecond", "first\u240Asecond"},
        {"ls -ld -- \"$f\"", false, "", file},
        // The shell's negation, a word of its own, keeps its meaning.
        {"! false", false, "", file},
        {"! true", true, "", "! true exited with status 1"},
    };
    for (const wait_case& c : cases) {
        SCOPED_TRACE(c.map);
        e2e::launch how = viewer("map i " + c.map + "\n", file + "\n");
        how.cols = 120;
        e2e::session s(how);
        ASSERT_TRUE(s.wait_for([&] { return s.alt_screen() && !status_text(s).empty(); }))
            << s.dump();
        s.send("G");
        ASSERT_TRUE(wait_status(s, file)) << s.dump();
        const size_t before = screens_entered(s);
        s.send("i");
        if (c.waits) {
            ASSERT_TRUE(s.wait_for([&] { return waiting_for_key(s); })) << s.dump();
            EXPECT_NE(s.screen_text().find(c.on_terminal), std::string::npos) << s.dump();
            s.settle();
            EXPECT_EQ(screens_entered(s), before) << s.dump();
            s.send("q"); // taken by the wait, not by the viewer
        }
        ASSERT_TRUE(back_in_viewer(s, before));
        ASSERT_TRUE(wait_status(s, c.status)) << s.dump();
        EXPECT_FALSE(s.exited());
        quit(s);
    }
}

TEST(MappedCommand, QuitSignalWhileWaitingForAKeyEndsTheViewer) {
    e2e::session s(viewer("map i !echo shown\n"));
    start(s);
    const size_t before = screens_entered(s);
    s.send("i");
    ASSERT_TRUE(s.wait_for([&] { return waiting_for_key(s); })) << s.dump();
    s.send_signal(SIGTERM);
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
    EXPECT_EQ(screens_entered(s), before);
    EXPECT_EQ(s.stdout_data(), "");
}

TEST(MappedCommand, NewActionReplacesTheMessageOfAnEarlierOne) {
    e2e::session s(viewer("map x printf broken >&2; exit 1\nmap t true\n"));
    start(s);
    run_mapped(s, "x");
    ASSERT_TRUE(wait_status(s, "broken")) << s.dump();
    expect_colors(s, WHITE, RED);
    // A later command that succeeds shows the path again.
    run_mapped(s, "t");
    ASSERT_TRUE(wait_status(s, "README")) << s.dump();
    expect_colors(s, BLACK, WHITE);
    // Unmarking everything says so, in place of the mark's count.
    s.send("v");
    ASSERT_TRUE(wait_status(s, "Marked 3 entries")) << s.dump();
    s.send("u");
    ASSERT_TRUE(wait_status(s, "Unmarked 3 entries")) << s.dump();
    // With nothing marked, the path.
    run_mapped(s, "x");
    ASSERT_TRUE(wait_status(s, "broken")) << s.dump();
    s.send("u");
    ASSERT_TRUE(wait_status(s, "README")) << s.dump();
    quit(s);
}

// -- Clipboard ---------------------------------------------------------------

e2e::launch clipboard_viewer(const bin_dir& bin, const std::string& config = "",
                             const std::string& list = LIST) {
    e2e::launch how = viewer(config, list);
    how.env["PATH"] = bin.path();
    return how;
}

TEST(Clipboard, XselGetsExactlyThePathBytes) {
    bin_dir bin;
    bin.fake("xsel", "xsel");
    bin.fake("wl-copy", "wl-copy");
    e2e::session s(clipboard_viewer(bin));
    start(s);
    s.send("jj");
    s.send("y");
    ASSERT_TRUE(wait_status(s, "Copied: src/main.c")) << s.dump();
    expect_colors(s, BLACK, WHITE);
    EXPECT_EQ(read_file(s.home() + "/xsel.in"), "src/main.c");
    EXPECT_EQ(read_file(s.home() + "/xsel.args"), "1\n--clipboard\n");
    EXPECT_FALSE(fs::exists(s.home() + "/wl-copy.in"));
    quit(s);
    EXPECT_EQ(s.stdout_data(), "");
}

TEST(Clipboard, MarkedPathsAreCopiedOneALine) {
    bin_dir bin;
    bin.fake("xsel", "xsel");
    struct copy_case {
        std::string keys;
        std::string copied;
        std::string status;
    };
    // The cursor ends on src/util.c each time.
    for (const copy_case& c : {
             copy_case{"\tj\tG", "README\nsrc/main.c", "Copied 2 paths"},
             // One mark is copied even though the cursor is elsewhere.
             copy_case{"jj\tG", "src/main.c", "Copied: src/main.c"},
             copy_case{"vvG", "src/util.c", "Copied: src/util.c"},
         }) {
        SCOPED_TRACE(c.keys);
        e2e::session s(clipboard_viewer(bin));
        start(s);
        s.send(c.keys);
        ASSERT_TRUE(wait_status(s, "src/util.c")) << s.dump();
        s.send("y");
        ASSERT_TRUE(wait_status(s, c.status)) << s.dump();
        expect_colors(s, BLACK, WHITE);
        EXPECT_EQ(read_file(s.home() + "/xsel.in"), c.copied);
        quit(s);
    }
}

TEST(Clipboard, OddLongAndSeparatedPathsArriveAsWritten) {
    bin_dir bin;
    bin.fake("xsel", "xsel");
    struct path_case {
        std::vector<std::string> args;
        std::string path; // the one line of the list, and what is copied
    };
    const std::vector<path_case> cases{
        {{}, "odd\xff/na\tme\r"},
        {{}, "long/" + std::string(200000, 'L')},
        // Joined with the separator the user chose.
        {{"-s", "."}, "com.example.Foo"},
    };
    for (const path_case& c : cases) {
        SCOPED_TRACE(c.path.substr(0, 20));
        e2e::launch how = clipboard_viewer(bin, "", c.path + "\n");
        how.args = c.args;
        e2e::session s(how);
        ASSERT_TRUE(s.wait_for([&] { return s.alt_screen() && !status_text(s).empty(); }))
            << s.dump();
        s.send("G");
        s.send("y");
        ASSERT_TRUE(s.wait_for([&] { return status_text(s).rfind("Copied: ", 0) == 0; }))
            << s.dump();
        const std::string copied = read_file(s.home() + "/xsel.in");
        EXPECT_TRUE(copied == c.path) << copied.size() << " bytes: " << copied.substr(0, 40);
        quit(s);
    }
}

TEST(Clipboard, WlCopyIsUsedWhenThereIsNoXsel) {
    bin_dir bin;
    bin.fake("wl-copy", "wl-copy");
    e2e::session s(clipboard_viewer(bin));
    start(s);
    s.send("G");
    s.send("y");
    ASSERT_TRUE(wait_status(s, "Copied: src/util.c")) << s.dump();
    EXPECT_EQ(read_file(s.home() + "/wl-copy.in"), "src/util.c");
    EXPECT_EQ(read_file(s.home() + "/wl-copy.args"), "0\n");
    quit(s);
}

// OSC 52 of "README", as it reaches a terminal with no multiplexer.
const std::string README_OSC52 = "\x1b]52;c;UkVBRE1F\x07";

// A clipboard program that starts and fails is named with its own words
// (or how it ended), and the terminal takes the path instead; wl-copy is
// not tried.
TEST(Clipboard, FailingProgramIsNamedAndTheTerminalTakesThePath) {
    struct failing_case {
        std::string fixture;
        std::string reason;
    };
    const std::vector<failing_case> cases{
        {"xsel-fails", "Can't open display: (null)"},
        {"xsel-fails-silently", "exited with code 1"},
        {"xsel-killed", "killed by SIGTERM"},
    };
    for (const failing_case& c : cases) {
        SCOPED_TRACE(c.fixture);
        bin_dir bin;
        bin.fake("xsel", c.fixture);
        bin.fake("wl-copy", "wl-copy");
        e2e::launch how = clipboard_viewer(bin);
        how.cols = 200;
        e2e::session s(how);
        start(s);
        s.send("y");
        ASSERT_TRUE(wait_status(s, "Failed to copy with xsel: " + c.reason +
                                       "; sent to the terminal's clipboard instead: README"))
            << s.dump();
        expect_colors(s, WHITE, RED);
        EXPECT_NE(s.raw_output().find(README_OSC52), std::string::npos);
        EXPECT_FALSE(fs::exists(s.home() + "/wl-copy.in"));
        quit(s);
    }
}

TEST(Clipboard, CountsAreGrouped) {
    bin_dir bin;
    bin.fake("xsel", "xsel");
    std::string list;
    std::string copied;
    for (int i = 1000; i < 2000; ++i) {
        list += "d/f" + std::to_string(i) + "\n";
        copied += (copied.empty() ? "d/f" : "\nd/f") + std::to_string(i);
    }
    e2e::launch how = clipboard_viewer(bin, "", list);
    e2e::session s(how);
    ASSERT_TRUE(wait_status(s, "d")) << s.dump();
    s.send("j" + std::string(1000, '\t'));
    ASSERT_TRUE(s.wait_for([&] { return status_row(s).find("marked 1,000") != std::string::npos; }))
        << s.dump();
    s.send("y");
    ASSERT_TRUE(wait_status(s, "Copied 1,000 paths")) << s.dump();
    EXPECT_EQ(read_file(s.home() + "/xsel.in"), copied);
    quit(s);
}

// After xsel and wl-copy, xclip and then pbcopy, each with its own
// arguments, when those before it are not on PATH.
TEST(Clipboard, XclipThenPbcopyFollowWhenTheOthersAreMissing) {
    struct program_case {
        std::vector<std::string> installed;
        std::string used;
        std::string args; // as the program saw them: their number, then each
    };
    const std::vector<program_case> cases{
        {{"xclip", "pbcopy"}, "xclip", "2\n-selection\nclipboard\n"},
        {{"pbcopy"}, "pbcopy", "0\n"},
    };
    for (const program_case& c : cases) {
        SCOPED_TRACE(c.used);
        bin_dir bin;
        for (const std::string& name : c.installed)
            bin.fake(name, "clipboard-program");
        e2e::session s(clipboard_viewer(bin));
        start(s);
        s.send("jj");
        s.send("y");
        ASSERT_TRUE(wait_status(s, "Copied: src/main.c")) << s.dump();
        EXPECT_EQ(read_file(s.home() + "/" + c.used + ".in"), "src/main.c");
        EXPECT_EQ(read_file(s.home() + "/" + c.used + ".args"), c.args);
        for (const std::string& name : c.installed) {
            if (name != c.used) {
                EXPECT_FALSE(fs::exists(s.home() + "/" + name + ".in")) << name;
            }
        }
        quit(s);
    }
}

// With no program to be found, and over ssh or inside tmux or screen
// whatever is installed, the path goes to the terminal's own clipboard: the
// OSC 52 sequence, plain for tmux (which takes it with set-clipboard on and
// drops a passthrough by default), inside DCS strings for screen, holding
// nothing but the base64 of the path, however hostile the name.
TEST(Clipboard, TerminalTakesThePathAsOsc52) {
    const std::string hostile = "evil/\x1b]52;c;aGk=\x07\x1b[2J\x1b[31mred\x9b\x07\xff";
    const std::string hostile_base64 = "ZXZpbC8bXTUyO2M7YUdrPQcbWzJKG1szMW1yZWSbB/8=";
    // 70000 bytes: more than a pipe or a terminal's input buffer holds, and
    // less than a terminal takes.
    const std::string long_name(70000, 'n');
    std::string long_base64;
    for (int i = 0; i < 23333; ++i)
        long_base64 += "bm5u"; // "nnn"
    long_base64 += "bg==";     // the last "n"

    struct terminal_case {
        const char* name;
        std::map<std::string, std::string> env;
        bool xsel_installed;
        std::string path;
        std::string sequence; // exactly what reaches the terminal
    };
    const std::string bare = "\x1b]52;c;" + hostile_base64 + "\x07";
    const std::string screen = "\x1bP" + bare + "\x1b\\";
    const std::vector<terminal_case> cases{
        {"no program", {}, false, hostile, bare},
        {"no program, long name", {}, false, long_name, "\x1b]52;c;" + long_base64 + "\x07"},
        {"over ssh", {{"SSH_TTY", "/dev/pts/7"}}, true, hostile, bare},
        {"inside tmux",
         {{"TMUX", "/tmp/tmux-0/default,1,0"}, {"TERM", "screen-256color"}},
         true,
         hostile,
         bare},
        {"tmux over ssh",
         {{"SSH_TTY", "/dev/pts/7"}, {"TERM", "tmux-256color"}},
         true,
         hostile,
         bare},
        {"inside screen", {{"STY", "1.pts-0.host"}, {"TERM", "screen"}}, true, hostile, screen},
        // tmux or screen, over ssh: both forms, each of which the other drops.
        {"screen or tmux over ssh",
         {{"SSH_TTY", "/dev/pts/7"}, {"TERM", "screen"}},
         true,
         hostile,
         bare + screen},
    };
    for (const terminal_case& c : cases) {
        SCOPED_TRACE(c.name);
        bin_dir bin;
        if (c.xsel_installed) bin.fake("xsel", "xsel");
        e2e::launch how = clipboard_viewer(bin, "", c.path + "\n");
        for (const auto& [name, value] : c.env)
            how.env[name] = value;
        e2e::session s(how);
        ASSERT_TRUE(s.wait_for([&] { return s.alt_screen() && !status_text(s).empty(); }))
            << s.dump();
        s.send("G");
        s.send("y");
        ASSERT_TRUE(
            wait_status_prefix(s, "Sent to the terminal's clipboard: " + c.path.substr(0, 5)))
            << s.dump();
        expect_colors(s, BLACK, WHITE);
        const std::string& raw = s.raw_output();
        const size_t at = raw.find(c.sequence);
        const size_t osc = raw.find("]52;");
        ASSERT_NE(at, std::string::npos)
            << (osc == std::string::npos ? "no OSC 52" : escaped(raw.substr(osc - 8, 120)));
        EXPECT_EQ(raw.find(c.sequence, at + 1), std::string::npos) << "sent twice";
        EXPECT_EQ(raw.find("\x1bPtmux;"), std::string::npos);
        // The name's own escape sequences were drawn as substitutes only.
        EXPECT_EQ(raw.find("\x1b]52;c;aGk="), std::string::npos);
        EXPECT_EQ(raw.find("\x1b[31mred"), std::string::npos);
        EXPECT_FALSE(fs::exists(s.home() + "/xsel.in"));
        quit(s);
    }
}

// Terminals cap what one OSC 52 carries: above the cap nothing is sent, and
// the row says what was not copied.
TEST(Clipboard, TooMuchForTheTerminalIsNotCopiedAndSaysSo) {
    struct cap_case {
        std::string list;
        std::string keys;
        std::string status;
    };
    std::string many;
    for (int i = 1000; i < 2000; ++i)
        many += "d/" + std::string(100, 'n') + std::to_string(i) + "\n";
    const std::vector<cap_case> cases{
        {std::string(75000, 'n') + "\n", "", "Sent to the terminal's clipboard: nnn"},
        {std::string(75001, 'n') + "\n", "",
         "Not copied: the path is 75,001 bytes, more than a terminal takes (75,000)"},
        {many, "j" + std::string(1000, '\t'),
         "Not copied: 1,000 paths make 106,999 bytes, more than a terminal takes (75,000)"},
    };
    for (const cap_case& c : cases) {
        SCOPED_TRACE(c.status);
        bin_dir bin;
        e2e::launch how = clipboard_viewer(bin, "", c.list);
        how.cols = 200;
        e2e::session s(how);
        ASSERT_TRUE(s.wait_for([&] { return s.alt_screen() && !status_text(s).empty(); }))
            << s.dump();
        s.send(c.keys + "y");
        ASSERT_TRUE(wait_status_prefix(s, c.status)) << s.dump();
        const bool sent = c.status.starts_with("Sent");
        expect_colors(s, sent ? BLACK : WHITE, sent ? WHITE : RED);
        EXPECT_EQ(s.raw_output().find("]52;") != std::string::npos, sent);
        quit(s);
    }
}

TEST(Clipboard, ReaderThatLeavesEarlyIsAFailureNotABrokenPipe) {
    bin_dir bin;
    bin.fake("xsel", "xsel-gone");
    const std::string long_name(70000, 'n');
    e2e::launch how = clipboard_viewer(bin, "", long_name + "\n");
    how.cols = 200;
    e2e::session s(how);
    ASSERT_TRUE(s.wait_for([&] { return s.alt_screen() && !status_text(s).empty(); }))
        << s.dump();
    s.send("y");
    ASSERT_TRUE(wait_status_prefix(s, "Failed to copy with xsel: write() failed; sent to the "
                                      "terminal's clipboard instead: nnn"))
        << s.dump();
    expect_colors(s, WHITE, RED);
    s.send("o");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.term_signal(), 0);
    EXPECT_EQ(s.exit_status(), 0);
    EXPECT_EQ(s.stdout_data(), long_name + "\n");
}

TEST(Clipboard, MappingOfYReplacesTheCopy) {
    bin_dir bin;
    bin.fake("xsel", "xsel");
    e2e::session s(clipboard_viewer(bin, "map y printf 'mapped:%s' \"$f\" >&2; exit 1\n"));
    start(s);
    run_mapped(s, "y");
    ASSERT_TRUE(wait_status(s, "mapped:README")) << s.dump();
    EXPECT_FALSE(fs::exists(s.home() + "/xsel.in"));
    quit(s);
}

} // namespace
