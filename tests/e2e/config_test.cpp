// The configuration file as a user writes it: set lines for defaults, bind
// lines for the built-in keys, map and bind with keys beyond one ASCII
// character; and korvel DIR, which lists a directory with its own walker.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "harness.hpp"
#include "screen.hpp"

namespace {

using namespace e2e::screen;
namespace fs = std::filesystem;

constexpr int ROWS = 12;
constexpr int COLS = 60;

const std::string LIST = "a/b/c\na/b/d\nx\n";

e2e::launch with_config(const std::string& config, std::vector<std::string> args = {},
                        const std::string& list = LIST) {
    e2e::launch how = korvel(list, ROWS, COLS, std::move(args));
    how.home_files[".config/korvel/config"] = config;
    return how;
}

bool shows_row(const e2e::session& s, const std::string& row) {
    for (const std::string& r : tree_rows(s))
        if (r == row) return true;
    return false;
}

// set lines choose the defaults; an option on the command line wins.
TEST(ConfigFile, SetLinesChooseDefaultsAndTheCommandLineWins) {
    {
        e2e::session s(with_config("set fold on\nset counts on\nset cancel-status on\n"));
        ASSERT_TRUE(ready(s));
        // Folded, with counts: only the top entries, a count after a.
        ASSERT_TRUE(s.wait_for([&] { return filled_rows(s).size() == 2; })) << s.dump();
        EXPECT_NE(filled_rows(s)[0].find("a"), std::string::npos);
        EXPECT_EQ(filled_rows(s)[0], "\u25b6 a  3") << s.dump();
        s.send("q");
        ASSERT_TRUE(s.wait_exit());
        EXPECT_EQ(s.exit_status(), 130);
    }
    {
        e2e::session s(with_config("set compact on\nset fold off\n", {"--fold"}));
        ASSERT_TRUE(ready(s));
        // --fold wins over the file; compact comes from the file.
        ASSERT_TRUE(s.wait_for([&] { return filled_rows(s).size() == 2; })) << s.dump();
        EXPECT_NE(filled_rows(s)[0].find("a/b"), std::string::npos) << s.dump();
        quit(s);
        EXPECT_EQ(s.exit_status(), 0);
    }
    {
        // Letter case: the file's smart case, replaced by --ignore-case.
        e2e::session s(with_config("set smart-case on\n", {"-i"}, "Big\nsmall\n"));
        ASSERT_TRUE(ready(s));
        s.send("&BIG\r");
        ASSERT_TRUE(s.wait_for([&] { return filled_rows(s).size() == 1; })) << s.dump();
        quit(s);
    }
}

// The preview's settings: the file opens the pane, places it and names its
// command; the command line's options win over each of them.
TEST(ConfigFile, PreviewSettingsAndTheCommandLineWins) {
    const std::string config = "set preview on\nset preview-window right:50%\n"
                               "set preview-command printf 'file:%s' \"$f\"\n";
    // The column where text starts on the screen, or -1.
    const auto column_of = [](const e2e::session& s, const std::string& text) {
        for (int r = 0; r < s.rows() - 1; ++r) {
            const size_t at = s.row_text(r).find(text);
            if (at != std::string::npos) return static_cast<int>(at);
        }
        return -1;
    };
    {
        // Beside the tree, though 60 columns would put it below.
        e2e::session s(with_config(config));
        ASSERT_TRUE(ready(s));
        ASSERT_TRUE(s.wait_for([&] { return column_of(s, "file:a") >= COLS / 2; })) << s.dump();
        quit(s);
    }
    {
        e2e::session s(with_config(config, {"--preview-window=bottom",
                                            "--preview-command=printf 'line:%s' \"$f\""}));
        ASSERT_TRUE(ready(s));
        ASSERT_TRUE(s.wait_for([&] { return column_of(s, "line:a") == 0; })) << s.dump();
        EXPECT_EQ(column_of(s, "file:"), -1) << s.dump();
        quit(s);
    }
    {
        // The file keeps the pane shut; -p opens it, with the file's command.
        e2e::session s(with_config("set preview off\nset preview-command printf 'file:%s' \"$f\"\n",
                                   {"-p"}));
        ASSERT_TRUE(ready(s));
        ASSERT_TRUE(s.wait_for([&] { return column_of(s, "file:a") == 0; })) << s.dump();
        quit(s);
    }
}

TEST(ConfigFile, ErrorsNameTheFileAndTheLine) {
    e2e::session s(with_config("set fold on\nset folding on\n"));
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 1);
    EXPECT_EQ(s.stderr_data(), std::string(KORVEL_BINARY) +
                                   ": Failed to read config: line 2: unknown setting folding (in " +
                                   s.home() + "/.config/korvel/config)\n");
}

// A folder on the way to the file that cannot be searched: korvel starts
// without the file and says so on the first frame.
TEST(ConfigFile, UnsearchableFolderIsAWarningNotAFailure) {
    char dir_template[] = "/tmp/korvel-e2e-locked-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string dir = dir_template;
    fs::create_directories(dir + "/korvel");
    std::ofstream(dir + "/korvel/config") << "map x echo\n";
    chmod(dir.c_str(), 0);
    e2e::launch how = korvel(LIST, ROWS, 120);
    // Root searches every folder; nobody does not.
    if (geteuid() == 0) how.user = 65534;
    how.env["XDG_CONFIG_PATH"] = dir;
    e2e::session s(how);
    ASSERT_TRUE(wait_status(s, "config not read: " + dir + "/korvel/config: Permission denied"))
        << s.dump();
    quit(s);
    EXPECT_EQ(s.exit_status(), 0);
    chmod(dir.c_str(), 0700);
    fs::remove_all(dir);
}

// bind gives a built-in action another key, takes one away, and the help
// shows the keys as bound.
TEST(ConfigFile, BindRebindsAndUnbindsBuiltInKeys) {
    e2e::session s(with_config("bind J cursor-down\nbind <c-e> quit\nbind q\nbind <a-k> cursor-up\n"));
    ASSERT_TRUE(ready(s));
    const std::string first = status_text(s);
    s.send("J");
    ASSERT_TRUE(s.wait_for([&] { return status_text(s) != first; })) << s.dump();
    const std::string second = status_text(s);
    s.send("\x1bk"); // Alt-k
    ASSERT_TRUE(wait_status(s, first)) << s.dump();
    // q no longer quits.
    s.send("q");
    s.settle();
    EXPECT_FALSE(s.exited());
    s.send("H");
    ASSERT_TRUE(s.wait_for_text("j, Down, Ctrl-N, J")) << s.dump();
    s.send("x");
    ASSERT_TRUE(s.wait_for([&] { return s.screen_text().find("Ctrl-N, J") == std::string::npos; }));
    s.send("\x05"); // Ctrl-E
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
    (void)second;
}

// map with a character of two bytes, a control key, an Alt key and a
// function key: each runs its command.
TEST(ConfigFile, MapTakesMultiByteControlAltAndFunctionKeys) {
    const std::string out = "/tmp/korvel-e2e-keys-" + std::to_string(getpid());
    e2e::session s(with_config("map é printf e >> " + out + "\n" +
                               "map <c-t> printf t >> " + out + "\n" +
                               "map <a-x> printf x >> " + out + "\n" +
                               "map <f5> printf 5 >> " + out + "\n"));
    ASSERT_TRUE(ready(s));
    const auto wrote = [&](const std::string& text) {
        return s.wait_for([&] { return read_file(out) == text; });
    };
    s.send("\u00e9");
    ASSERT_TRUE(wrote("e")) << read_file(out);
    s.send("\x14");
    ASSERT_TRUE(wrote("et")) << read_file(out);
    s.send("\x1bx");
    ASSERT_TRUE(wrote("etx")) << read_file(out);
    s.send("\x1b[15~");
    ASSERT_TRUE(wrote("etx5")) << read_file(out);
    // A plain x is not Alt-x: it does nothing here.
    s.send("x");
    s.settle();
    EXPECT_EQ(read_file(out), "etx5");
    quit(s);
    unlink(out.c_str());
}

// korvel DIR lists DIR with its own walker; a pick is a path from where
// korvel was started.
TEST(DirectoryOperand, ListsTheDirectoryWithItsPathsFromTheWorkingDirectory) {
    char dir_template[] = "/tmp/korvel-e2e-dir-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string root = dir_template;
    fs::create_directories(root + "/tree/sub");
    std::ofstream(root + "/tree/sub/file") << "x";
    std::ofstream(root + "/tree/top") << "x";
    for (const std::string& operand : {std::string("tree"), std::string("tree/")}) {
        SCOPED_TRACE(operand);
        e2e::launch how = korvel("", ROWS, COLS, {operand});
        how.stdin_data.reset();
        how.cwd = root;
        e2e::session s(how);
        ASSERT_TRUE(ready(s));
        ASSERT_TRUE(s.wait_for([&] { return shows_row(s, "  • top") || shows_row(s, "  ▼ sub"); }))
            << s.dump();
        s.send("G");
        s.send("o");
        ASSERT_TRUE(s.wait_exit()) << s.dump();
        EXPECT_EQ(s.exit_status(), 0);
        const std::string picked = s.stdout_data();
        ASSERT_EQ(picked.rfind("tree/", 0), 0u) << picked;
        EXPECT_TRUE(fs::exists(root + "/" + picked.substr(0, picked.size() - 1))) << picked;
    }
    fs::remove_all(root);
}

} // namespace
