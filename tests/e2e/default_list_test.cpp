// korvel started on a terminal with no FILE: it lists the working directory
// itself, or runs KORVEL_DEFAULT_COMMAND, instead of waiting on the
// keyboard for a list.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.hpp"
#include "screen.hpp"

namespace {

namespace fs = std::filesystem;
using namespace e2e::screen;

// Permission bits stop nobody, where they would not stop root.
constexpr uid_t NOBODY = 65534;
constexpr int ROWS = 24;
constexpr int COLS = 110;

// A fresh directory tree under /tmp that nobody may walk, removed with
// everything in it afterwards.
class DefaultList : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/korvel-default-list-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr) << strerror(errno);
        root = pattern;
        ASSERT_EQ(chmod(root.c_str(), 0755), 0);
    }
    void TearDown() override {
        for (const std::string& dir : locked)
            chmod(dir.c_str(), 0755);
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    std::string at(const std::string& relative) const { return root + "/" + relative; }
    void make_dir(const std::string& relative) { fs::create_directories(at(relative)); }
    void make_file(const std::string& relative) {
        fs::create_directories(fs::path(at(relative)).parent_path());
        std::ofstream(at(relative)) << relative;
    }
    void make_link(const std::string& target, const std::string& relative) {
        fs::create_symlink(target, at(relative));
    }
    // Hands the tree to nobody, then locks the directories named.
    void lock(const std::vector<std::string>& relatives) {
        if (geteuid() == 0) {
            for (const auto& entry : fs::recursive_directory_iterator(root))
                ASSERT_EQ(lchown(entry.path().c_str(), NOBODY, NOBODY), 0) << entry.path();
            ASSERT_EQ(lchown(root.c_str(), NOBODY, NOBODY), 0);
        }
        for (const std::string& relative : relatives) {
            locked.push_back(at(relative));
            ASSERT_EQ(chmod(at(relative).c_str(), 0), 0);
        }
    }

    // korvel with the terminal as its standard input, in the tree.
    e2e::launch on_terminal(std::map<std::string, std::string> env = {}) const {
        e2e::launch how;
        how.program = KORVEL_BINARY;
        how.rows = ROWS;
        how.cols = COLS;
        how.terminal_streams = e2e::launch::on_terminal::INPUT;
        how.cwd = root;
        how.user = NOBODY;
        how.env = std::move(env);
        return how;
    }

    std::string root;
    std::vector<std::string> locked;
};

// What a program prints on standard output, run in `dir` as nobody.
std::string output_as_nobody(const std::string& dir, const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return "!pipe";
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        close(out[0]);
        close(out[1]);
        if (chdir(dir.c_str()) != 0) _exit(126);
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(NOBODY) != 0 || setuid(NOBODY) != 0))
            _exit(126);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            text.append(buffer, static_cast<size_t>(n));
        else if (errno != EINTR)
            break;
    }
    close(out[0]);
    waitpid(pid, nullptr, 0);
    return text;
}

// Its own walk shows the tree that find's list shows: links listed and not
// followed (a loop among them), version-control folders left out, and a
// directory it cannot read listed without its contents and reported on the
// first frame, where the list would otherwise show the path.
TEST_F(DefaultList, WalkShowsWhatFindListsAndTellsWhatItCouldNotRead) {
    make_file("src/main.c");
    make_file("src/lib/util.c");
    make_link("..", "src/loop");
    make_link("lib", "src/lib-link");
    make_link("missing", "dangling");
    make_file(".git/HEAD");
    make_file(".git/objects/ab");
    make_file("src/lib/.hg/store");
    make_file(".github/ci.yml");
    make_file("docs/a b.txt");
    make_file("secret/hidden");
    make_file("deep/er/locked/inside");
    make_dir("empty");
    lock({"secret", "deep/er/locked"});

    e2e::session walked(on_terminal());
    // The walk's own order, either way round.
    const std::string secret = "secret: Permission denied";
    const std::string locked = "deep/er/locked: Permission denied";
    // The bottom row has room for the count and the first of them only.
    ASSERT_TRUE(walked.wait_for([&] {
        const std::string text = status_text(walked);
        return text == "cannot read 2 directories, first " + secret + " (all listed on exit)" ||
               text == "cannot read 2 directories, first " + locked + " (all listed on exit)";
    })) << walked.dump();
    EXPECT_EQ(walked.cell_at(ROWS - 1, 1).bg, RED) << walked.dump();

    const std::string found =
        output_as_nobody(root, {"find", ".", "-mindepth", "1", "(", "-name", ".git", "-o", "-name",
                                ".hg", ")", "-type", "d", "-prune", "-o", "-print"});
    ASSERT_NE(found.find("./src/loop\n"), std::string::npos) << found;
    std::string list;
    for (size_t at = 0; at < found.size();) {
        const size_t end = found.find('\n', at);
        list += found.substr(at + 2, end - at - 2) + "\n"; // without "./"
        at = end + 1;
    }
    e2e::session piped(korvel(list, ROWS, COLS));
    // The position counter is the last thing a frame draws.
    const std::string counter = "1/" + std::to_string(std::count(list.begin(), list.end(), '\n'));
    const auto framed = [&](const e2e::session& s) {
        const std::string row = status_row(s);
        return row.size() > counter.size() && row.substr(row.size() - counter.size()) == counter;
    };
    ASSERT_TRUE(piped.wait_for([&] { return framed(piped); })) << piped.dump();
    ASSERT_TRUE(walked.wait_for([&] { return framed(walked); })) << walked.dump();
    EXPECT_EQ(tree_rows(walked), tree_rows(piped)) << walked.dump() << piped.dump();
    // Every one of them, on standard error once the terminal is restored.
    walked.send("j");
    quit(walked);
    const std::string err = walked.stderr_data();
    EXPECT_NE(err.find(": cannot read " + secret + "\n"), std::string::npos) << err;
    EXPECT_NE(err.find(": cannot read " + locked + "\n"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
    quit(piped);
}

// The walk keeps each name whole, newline and all, and a pick is printed
// as it was listed, relative to the working directory.
TEST_F(DefaultList, NamesAreKeptWholeAndPickedRelativeToTheWorkingDirectory) {
    make_file("new\nline");
    make_file("plain");
    lock({});
    e2e::session s(on_terminal());
    ASSERT_TRUE(wait_status(s, "new\u240aline")) << s.dump();
    EXPECT_EQ(tree_rows(s)[1], "\u2022 plain");
    s.send("o");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
    EXPECT_EQ(s.stdout_data(), "new\nline\n");
}

// The command's output is the list, read as standard input would be; the
// terminal is not its input. A failure after some output is told on the
// first frame; one with no output, or nothing to list at all, ends the run.
TEST_F(DefaultList, DefaultCommandListsInsteadOfTheWalk) {
    make_file("walked");
    lock({});
    struct command_case {
        std::string command;
        std::vector<std::string> rows; // the tree, when it opens
        std::string status;            // its first status row
        std::string error;             // standard error, when the run ends at once
    };
    const std::string program = KORVEL_BINARY;
    const std::vector<command_case> cases{
        {"test -t 0 && echo terminal || echo no-terminal; printf 'a/b\\0c\\n'",
         {"\u25bc a", "  \u2022 b", "\u2022 c", "\u2022 no-terminal"},
         "a",
         ""},
        {"echo listed; exit 3", {"\u2022 listed"}, "KORVEL_DEFAULT_COMMAND exited with code 3", ""},
        {"exit 4", {}, "", program + ": KORVEL_DEFAULT_COMMAND exited with code 4\n"},
        {"kill -9 $$", {}, "", program + ": KORVEL_DEFAULT_COMMAND killed by SIGKILL\n"},
        {"true", {}, "", program + ": command output seems to be empty\n"},
        // Empty is as good as unset.
        {"", {"\u2022 walked"}, "walked", ""},
    };
    for (const command_case& c : cases) {
        SCOPED_TRACE(c.command);
        e2e::session s(on_terminal({{"KORVEL_DEFAULT_COMMAND", c.command}}));
        if (!c.error.empty()) {
            ASSERT_TRUE(s.wait_exit()) << s.dump();
            EXPECT_EQ(s.exit_status(), 1);
            EXPECT_EQ(s.stderr_data(), c.error);
            EXPECT_EQ(screens_entered(s), 0u);
            continue;
        }
        ASSERT_TRUE(wait_status(s, c.status)) << s.dump();
        std::vector<std::string> rows = tree_rows(s);
        rows.resize(c.rows.size());
        EXPECT_EQ(rows, c.rows) << s.dump();
        quit(s);
    }
}

TEST_F(DefaultList, EmptyDirectoryIsReportedAsSuch) {
    lock({});
    e2e::session s(on_terminal());
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 1);
    EXPECT_EQ(s.stderr_data(), std::string(KORVEL_BINARY) + ": directory seems to be empty\n");
}

// A quit while the list is still being made ends korvel at once, and the
// command with it, whether it comes as a signal or as Ctrl-C on the terminal
// that is not yet the viewer's.
TEST_F(DefaultList, QuitWhileListingEndsKorvelAndTheCommand) {
    lock({});
    for (const bool typed : {false, true}) {
        SCOPED_TRACE(typed ? "Ctrl-C typed" : "SIGTERM");
        const std::string pid_file = root + (typed ? "/typed.pid" : "/signal.pid");
        e2e::session s(
            on_terminal({{"KORVEL_DEFAULT_COMMAND", "echo $$ > " + pid_file + "; exec sleep 60"}}));
        ASSERT_TRUE(s.wait_for([&] { return fs::exists(pid_file) && fs::file_size(pid_file) > 0; }))
            << s.dump();
        const pid_t command = std::stoi(read_file(pid_file));
        if (typed) {
            s.send("\x03");
        } else {
            s.send_signal(SIGTERM);
        }
        ASSERT_TRUE(s.wait_exit()) << s.dump();
        EXPECT_EQ(s.term_signal(), 0);
        EXPECT_EQ(s.exit_status(), 0);
        EXPECT_EQ(s.stderr_data(), "");
        EXPECT_EQ(screens_entered(s), 0u);
        // Gone, or a zombie waiting for init.
        ASSERT_TRUE(s.wait_for([&] {
            const char state = process_state(command);
            return state == '?' || state == 'Z';
        })) << process_state(command);
    }
}

} // namespace
