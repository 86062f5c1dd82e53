// The preview pane, end to end: what it shows of files, directories and
// missing paths, where it goes on wide and narrow screens, and a preview
// command's output (colours kept, other escapes shown, its process stopped
// and waited for whenever it is no longer wanted).
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.hpp"
#include "screen.hpp"

namespace fs = std::filesystem;
using namespace e2e::screen;

namespace {

using e2e::temp_dir;

const std::string JOBSHELL = TEST_PROGRAMS_DIR "/jobshell";

// The cells' text from column `from` to the end of the row, trailing blanks
// removed.
std::string cells(const e2e::session& s, int row, int from) {
    std::string out;
    for (int c = from; c < s.cols(); ++c) out += s.cell_at(row, c).text;
    out.erase(out.find_last_not_of(' ') + 1);
    return out;
}

// The tree's row drawn as the cursor's (the pane's title is bold too).
int cursor_in_tree(const e2e::session& s, int tree_width) {
    for (int r = 0; r + 1 < s.rows(); ++r)
        for (int c = 0; c < tree_width; ++c)
            if (s.cell_at(r, c).bold) return r;
    return -1;
}

// A process that is gone, not a zombie either: kill(pid, 0) fails only
// once it has been waited for.
bool gone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

std::vector<pid_t> pids_in(const std::string& file) {
    std::ifstream in(file);
    std::vector<pid_t> pids;
    for (pid_t pid; in >> pid;) pids.push_back(pid);
    return pids;
}

// In a 120-column screen the pane takes the right half: the border in
// column 59, the pane from column 60.
constexpr int WIDE = 120;
constexpr int PANE_X = 60;

const std::string LIST = "notes.txt\ndata.bin\nsrc/a.c\nsrc/b/c.h\nsrc/b/d.h\nmissing.txt\n";

class PreviewFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_.file("notes.txt", "first line\n\tindented\x01" "ctl\xff\nthird\n");
        dir_.file("data.bin", std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 11) + "rest");
    }
    e2e::launch run(int rows, int cols, std::vector<std::string> args = {"--preview"}) {
        e2e::launch how = korvel(LIST, rows, cols, std::move(args));
        how.cwd = dir_.path();
        return how;
    }
    temp_dir dir_;
};

TEST_F(PreviewFiles, ShowsWhatIsUnderTheCursor) {
    e2e::session s(run(24, WIDE));
    ASSERT_TRUE(ready(s));
    // data.bin: binary, its size and kind in one line.
    EXPECT_TRUE(s.wait_for([&] {
        return cells(s, 0, PANE_X) == " data.bin" &&
               cells(s, 1, PANE_X) == "binary file, 15 bytes, ELF executable or library";
    })) << s.dump();
    for (int r = 0; r < 23; ++r) EXPECT_EQ(s.cell_at(r, PANE_X - 1).text, "│") << r;

    s.send("j");
    EXPECT_TRUE(s.wait_for([&] {
        return cells(s, 0, PANE_X) == " missing.txt" && cells(s, 1, PANE_X) == "missing.txt" &&
               cells(s, 2, PANE_X) == "not on this machine (No such file or directory)" &&
               cells(s, 3, PANE_X) == "entry 2 of 8";
    })) << s.dump();

    // A text file: tabs expanded, a control byte and an invalid byte drawn
    // as the tree draws them.
    s.send("j");
    EXPECT_TRUE(s.wait_for([&] {
        return cells(s, 0, PANE_X) == " notes.txt" && cells(s, 1, PANE_X) == "first line" &&
               cells(s, 2, PANE_X) == "        indented\u2401ctl\ufffd" &&
               cells(s, 3, PANE_X) == "third" && cells(s, 4, PANE_X).empty();
    })) << s.dump();

    // A directory of the tree: its children, with what each holds.
    s.send("j");
    EXPECT_TRUE(s.wait_for([&] {
        return cells(s, 0, PANE_X) == " src" &&
               cells(s, 1, PANE_X) == "entry 4 of 8, 2 children, 4 entries below" &&
               cells(s, 2, PANE_X) == "a.c" && cells(s, 3, PANE_X) == "b/  2" &&
               cells(s, 4, PANE_X).empty() &&
               // The status row keeps its meaning.
               status_row(s).rfind(" src ", 0) == 0;
    })) << s.dump();
    EXPECT_TRUE(s.cell_at(3, PANE_X).bold);
}

// A FIFO in the list must not stall the pane: nothing is read from it.
TEST_F(PreviewFiles, FifoIsNotRead) {
    ASSERT_EQ(mkfifo((dir_.path() + "/pipe").c_str(), 0600), 0);
    e2e::launch how = korvel("pipe\n", 10, WIDE, {"--preview"});
    how.cwd = dir_.path();
    e2e::session s(how);
    ASSERT_TRUE(ready(s));
    EXPECT_TRUE(s.wait_for([&] { return cells(s, 2, PANE_X) == "a FIFO on this machine"; }))
        << s.dump();
    s.send("q");
    EXPECT_TRUE(s.wait_exit()) << s.dump();
}

// A mapped command may change the file shown: the preview is made anew.
TEST_F(PreviewFiles, MadeAnewAfterAMappedCommand) {
    e2e::launch how = run(24, WIDE);
    how.home_files[".config/korvel/config"] = "map x echo changed > \"$f\"\n";
    e2e::session s(how);
    ASSERT_TRUE(ready(s));
    s.send("jj");
    ASSERT_TRUE(s.wait_for([&] { return cells(s, 1, PANE_X) == "first line"; })) << s.dump();
    s.send("x");
    EXPECT_TRUE(s.wait_for([&] {
        return cells(s, 0, PANE_X) == " notes.txt" && cells(s, 1, PANE_X) == "changed" &&
               cells(s, 2, PANE_X).empty();
    })) << s.dump();
}

TEST_F(PreviewFiles, ToggledByPAndPlacedByOption) {
    e2e::session s(run(24, WIDE, {}));
    ASSERT_TRUE(ready(s));
    EXPECT_EQ(cells(s, 0, PANE_X), "");
    s.send("P");
    EXPECT_TRUE(s.wait_for([&] { return cells(s, 0, PANE_X - 1) == "│ data.bin"; })) << s.dump();
    s.send("P");
    EXPECT_TRUE(s.wait_for([&] { return cells(s, 0, PANE_X - 1).empty(); })) << s.dump();

    // Below, 30% of the tree area's 23 rows: 6 rows, the title first.
    e2e::session b(run(24, WIDE, {"--preview-window=bottom:30%", "-p"}));
    ASSERT_TRUE(ready(b));
    EXPECT_TRUE(b.wait_for([&] {
        return cells(b, 17, 0) == " data.bin" && cells(b, 18, 0).rfind("binary file", 0) == 0;
    })) << b.dump();
}

TEST(PreviewOptions, BadWindowIsRefused) {
    for (const char* bad : {"left", "right:", "right:0%", "bottom:100%", "bottom:50", "right:x%"}) {
        e2e::session s(korvel("a\n", 10, 40, {std::string("--preview-window=") + bad}));
        ASSERT_TRUE(s.wait_exit()) << bad;
        EXPECT_EQ(s.exit_status(), 1) << bad;
        EXPECT_NE(s.stderr_data().find("invalid preview window"), std::string::npos) << bad;
    }
}

// Under 100 columns the pane goes below the tree: 80x24 leaves 23 rows, 11
// of them the pane's. The cursor never goes under it.
TEST(PreviewLayout, NarrowScreenPutsThePaneBelow) {
    std::string list;
    for (int i = 0; i < 30; ++i) list += "f" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "\n";
    e2e::session s(korvel(list, 24, 80, {"-p"}));
    ASSERT_TRUE(ready(s));
    EXPECT_TRUE(s.wait_for([&] {
        return cells(s, 12, 0) == " f00" && cells(s, 13, 0).rfind("f00", 0) == 0 &&
               s.row_text(11) == "• f11";
    })) << s.dump();
    for (int i = 0; i < 20; ++i) s.send("j");
    EXPECT_TRUE(s.wait_for([&] {
        return status_row(s).rfind(" f20 ", 0) == 0 && bold_row(s) == 11 &&
               s.row_text(11) == "• f20" && cells(s, 12, 0) == " f20";
    })) << s.dump();

    // Wider, the pane goes beside, and the cursor's row still shows.
    s.resize(24, WIDE);
    EXPECT_TRUE(s.wait_for([&] {
        const int row = cursor_in_tree(s, PANE_X - 1);
        return cells(s, 0, PANE_X - 1) == "│ f20" && row >= 0 && s.row_text(row).rfind("• f20", 0) == 0;
    })) << s.dump();
    // Narrow and short again.
    s.resize(10, 40);
    EXPECT_TRUE(s.wait_for([&] {
        return cells(s, 5, 0) == " f20" && bold_row(s) >= 0 && bold_row(s) < 5 &&
               s.row_text(bold_row(s)) == "• f20";
    })) << s.dump();
}

// The tree's rows are cut at its own edge, and say so.
TEST(PreviewLayout, RowsCutAtTheTreeEdgeShowTheIndicator) {
    const std::string name(80, 'x');
    e2e::session s(korvel("short\n" + name + "\n", 10, WIDE, {"-p"}));
    ASSERT_TRUE(ready(s));
    EXPECT_TRUE(s.wait_for([&] { return s.cell_at(1, PANE_X - 2).text == ">"; })) << s.dump();
    EXPECT_EQ(s.cell_at(0, PANE_X - 2).text, " ");
    EXPECT_EQ(s.cell_at(1, PANE_X - 1).text, "│");
    // Nothing of the long name spills into the pane.
    EXPECT_EQ(s.screen_text().find("xxxxx│"), std::string::npos);
    EXPECT_EQ(cells(s, 1, PANE_X).find('x'), std::string::npos);
    // Scrolled sideways, '<' as before.
    s.send("l");
    EXPECT_TRUE(s.wait_for([&] { return s.cell_at(1, 0).text == "<"; })) << s.dump();
}

TEST_F(PreviewFiles, ScrollsWithoutMovingTheCursor) {
    std::string text;
    for (int i = 1; i <= 100; ++i) text += "line " + std::to_string(i) + "\n";
    dir_.file("notes.txt", text);
    e2e::session s(run(24, WIDE));
    ASSERT_TRUE(ready(s));
    s.send("jj");
    ASSERT_TRUE(s.wait_for([&] { return cells(s, 1, PANE_X) == "line 1"; })) << s.dump();
    s.send("J");
    EXPECT_TRUE(s.wait_for([&] { return cells(s, 1, PANE_X) == "line 2"; })) << s.dump();
    s.send("]");
    EXPECT_TRUE(s.wait_for([&] { return cells(s, 1, PANE_X) == "line 24"; })) << s.dump();
    s.send("K[");
    EXPECT_TRUE(s.wait_for([&] { return cells(s, 1, PANE_X) == "line 1"; })) << s.dump();
    // The wheel over the pane scrolls the pane, over the tree the tree.
    s.send_mouse(e2e::mouse::wheel_down, 5, PANE_X + 5);
    EXPECT_TRUE(s.wait_for([&] { return cells(s, 1, PANE_X) == "line 2"; })) << s.dump();
    s.settle();
    EXPECT_EQ(status_row(s).rfind(" notes.txt ", 0), 0u) << s.dump();
    EXPECT_EQ(cursor_in_tree(s, PANE_X - 1), 2);
    // A click in the pane picks no tree row.
    s.send_mouse(e2e::mouse::left_press, 0, PANE_X + 5);
    s.send_mouse(e2e::mouse::left_release, 0, PANE_X + 5);
    s.settle();
    EXPECT_EQ(cursor_in_tree(s, PANE_X - 1), 2) << s.dump();
}

// Colours and attributes pass as cell attributes; a title change and an
// OSC 52 clipboard write are shown, never sent.
TEST(PreviewCommand, KeepsColoursAndShowsOtherEscapes) {
    const std::string command =
        "printf '\\033[31mred\\033[0m \\033[1;4mbu\\033[0m \\033[7mrv\\033[0m\\n'; "
        "printf '\\033]0;owned\\007\\033]52;c;aGk=\\007\\033[2Jx\\n'; printf '%s|%s\\n' \"$f\" \"$#\"";
    e2e::session s(korvel("a/b\n", 10, WIDE, {"--preview-command=" + command}));
    ASSERT_TRUE(ready(s));
    ASSERT_TRUE(s.wait_for([&] {
        return cells(s, 1, PANE_X) == "red bu rv" && cells(s, 3, PANE_X) == "a|1";
    })) << s.dump();
    EXPECT_EQ(s.cell_at(1, PANE_X).fg, RED);
    EXPECT_FALSE(s.cell_at(1, PANE_X).bold);
    EXPECT_EQ(s.cell_at(1, PANE_X + 3).fg, DEFAULT);
    EXPECT_TRUE(s.cell_at(1, PANE_X + 4).bold);
    EXPECT_TRUE(s.cell_at(1, PANE_X + 4).underline);
    EXPECT_TRUE(s.cell_at(1, PANE_X + 7).reverse);
    EXPECT_EQ(cells(s, 2, PANE_X), "\u241b]0;owned\u2407\u241b]52;c;aGk=\u2407\u241b[2Jx");
    EXPECT_EQ(cells(s, 3, PANE_X), "a|1");
    EXPECT_EQ(s.raw_output().find("\x1b]0;owned"), std::string::npos);
    EXPECT_EQ(s.raw_output().find("\x1b]52;c;aGk="), std::string::npos);
    // The tree is untouched by what the command wrote.
    EXPECT_EQ(s.row_text(0).substr(0, 5), "▼ a");
}

// A command that never ends is killed and waited for when the cursor
// moves, on a quit, and before a mapped command.
TEST(PreviewCommand, NeverEndingCommandIsStopped) {
    e2e::launch how = korvel("one\ntwo\nthree\n", 10, WIDE);
    const std::string pids = "pids";
    how.args = {"--preview-command=echo $$ >> \"$HOME/pids\"; echo \"started $f\"; exec sleep 1000"};
    e2e::session s(how);
    const std::string file = s.home() + "/" + pids;
    ASSERT_TRUE(ready(s));
    ASSERT_TRUE(s.wait_for([&] { return cells(s, 1, PANE_X) == "started one"; })) << s.dump();
    // Still running after half a second: the pane says it is loading.
    EXPECT_TRUE(s.wait_for([&] { return cells(s, 0, PANE_X).find("loading…") != std::string::npos; }))
        << s.dump();
    ASSERT_EQ(pids_in(file).size(), 1u);
    const pid_t first = pids_in(file)[0];
    EXPECT_FALSE(gone(first));

    s.send("j");
    // The old text goes with the old name: under the new one the pane is
    // empty until the new command writes.
    EXPECT_TRUE(s.wait_for([&] {
        return cells(s, 0, PANE_X).rfind(" three", 0) == 0 &&
               (cells(s, 1, PANE_X).empty() || cells(s, 1, PANE_X) == "started three");
    })) << s.dump();
    EXPECT_TRUE(s.wait_for([&] { return cells(s, 1, PANE_X) == "started three"; })) << s.dump();
    EXPECT_TRUE(s.wait_for([&] { return gone(first); })) << "pid " << first;

    // Held down, j starts no process per row; in the end one runs, for the
    // entry under the cursor, and every other has been waited for.
    s.send("jkjkjkjkjkjkjkjkjkjkj");
    auto one_left = [&] {
        const std::vector<pid_t> pids = pids_in(file);
        int running = 0;
        for (const pid_t pid : pids) running += gone(pid) ? 0 : 1;
        return running == 1 && !gone(pids.back()) && cells(s, 1, PANE_X) == "started two";
    };
    EXPECT_TRUE(s.wait_for(one_left)) << s.dump();
    s.settle();
    EXPECT_TRUE(one_left());
    EXPECT_LT(pids_in(file).size(), 10u);
    s.send("q");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
    for (const pid_t pid : pids_in(file)) EXPECT_TRUE(gone(pid)) << "pid " << pid;
}

// 100 MB of output: the pane keeps a few pages or 1 MB, the command is
// killed, and the viewer answers keys all along.
TEST(PreviewCommand, HugeOutputIsBounded) {
    struct kind {
        const char* name;
        const char* produce;
        const char* note;
    };
    for (const kind& k : {kind{"lines", "yes line | head -c 100000000", "stopped after 88 lines"},
                          kind{"one line", "head -c 100000000 /dev/zero | tr '\\0' a",
                               "stopped after 1,024 kB"}}) {
        SCOPED_TRACE(k.name);
        e2e::session s(korvel("one\ntwo\n", 24, WIDE,
                              {std::string("--preview-command=echo $$ > \"$HOME/pid\"; ") + k.produce}));
        ASSERT_TRUE(ready(s));
        ASSERT_TRUE(s.wait_for([&] { return cells(s, 0, PANE_X).find(k.note) != std::string::npos; }))
            << s.dump();
        const std::vector<pid_t> pid = pids_in(s.home() + "/pid");
        ASSERT_EQ(pid.size(), 1u);
        EXPECT_TRUE(s.wait_for([&] { return gone(pid[0]); }));
        s.send("j");
        EXPECT_TRUE(s.wait_for([&] { return status_row(s).rfind(" two ", 0) == 0; })) << s.dump();
        s.send("q");
        EXPECT_TRUE(s.wait_exit()) << s.dump();
    }
}

// Ctrl-Z stops the preview's command with the viewer (its group is its own,
// so it is killed); `fg` brings the viewer back and the preview anew.
TEST(PreviewCommand, SuspendStopsItAndResumeStartsItAgain) {
    e2e::temp_file log("");
    e2e::launch how = korvel("one\ntwo\n", 10, WIDE);
    how.program = JOBSHELL;
    how.args = {KORVEL_BINARY,
                "--preview-command=echo $$ >> \"$HOME/pids\"; echo \"started $f\"; exec sleep 1000"};
    how.env["JOBSHELL_LOG"] = log.path();
    e2e::session s(how);
    ASSERT_TRUE(ready(s));
    const std::string file = s.home() + "/pids";
    ASSERT_TRUE(s.wait_for([&] { return cells(s, 1, PANE_X) == "started one"; })) << s.dump();
    const pid_t first = pids_in(file).at(0);

    auto logged = [&](const std::string& want) {
        std::ifstream in(log.path());
        for (std::string line; std::getline(in, line);)
            if (line.rfind(want, 0) == 0) return line;
        return std::string();
    };
    s.send("\x1a");
    // Stopped indeed before `fg`, or the continue would come first.
    EXPECT_TRUE(s.wait_for([&] { return !logged("stopped ").empty(); })) << s.dump();
    EXPECT_TRUE(s.wait_for([&] { return gone(first); })) << "pid " << first;

    const std::string started = logged("pid ");
    ASSERT_FALSE(started.empty());
    const pid_t viewer = std::stoi(started.substr(4));
    kill(-viewer, SIGCONT);
    EXPECT_TRUE(s.wait_for([&] { return cells(s, 1, PANE_X) == "started one" && pids_in(file).size() == 2; }))
        << s.dump();
    s.send("q");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    for (const pid_t pid : pids_in(file)) EXPECT_TRUE(gone(pid)) << "pid " << pid;
}

// A mapped command has the terminal to itself: the preview's command is
// stopped first, and started again after.
TEST(PreviewCommand, MappedCommandStopsIt) {
    e2e::launch how = korvel("one\ntwo\n", 10, WIDE);
    how.args = {"--preview-command=echo $$ >> \"$HOME/pids\"; echo \"started $f\"; exec sleep 1000"};
    how.home_files[".config/korvel/config"] = "map x cat \"$HOME/pids\" > \"$HOME/seen\"\n";
    e2e::session s(how);
    ASSERT_TRUE(ready(s));
    const std::string file = s.home() + "/pids";
    ASSERT_TRUE(s.wait_for([&] { return cells(s, 1, PANE_X) == "started one"; })) << s.dump();
    const pid_t first = pids_in(file).at(0);
    s.send("x");
    EXPECT_TRUE(s.wait_for([&] { return pids_in(file).size() == 2; })) << s.dump();
    EXPECT_TRUE(gone(first));
    s.send("q");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    for (const pid_t pid : pids_in(file)) EXPECT_TRUE(gone(pid)) << "pid " << pid;
}

} // namespace
