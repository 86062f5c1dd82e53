// The key bindings of korvel --shell as a user meets them: the real bash,
// zsh and fish in a pseudo-terminal, each loading the script from korvel on
// PATH in its start-up file; a key typed at the prompt, a path picked in
// korvel, then the command line run or the directory the shell is in.
#include <unistd.h>

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
using e2e::KEY_ENTER;

constexpr int ROWS = 24;
constexpr int COLS = 120;

const std::string ALT_I = "\x1bi";
const std::string ALT_M = "\x1bm";

struct shell_setup {
    std::string name;
    std::string rc_file; // under HOME
    // Sets the prompt to "[working directory]> " and loads the bindings.
    std::string rc;
};

const shell_setup SHELLS[] = {
    {"bash", ".bashrc", "PS1='[$PWD]> '\neval \"$(korvel --shell bash)\"\n"},
    {"zsh", ".zshrc", "PROMPT='[%/]> '\neval \"$(korvel --shell zsh)\"\n"},
    {"fish", ".config/fish/config.fish",
     "set -g fish_greeting\n"
     "function fish_prompt; printf '[%s]> ' $PWD; end\n"
     "korvel --shell fish | source\n"},
};

std::string shell_name(const testing::TestParamInfo<shell_setup>& info) {
    return info.param.name;
}

void PrintTo(const shell_setup& setup, std::ostream* out) {
    *out << setup.name;
}

// Names that a careless quote would break: blanks, a quote, a newline, an
// escape sequence, a leading dash.
class ShellBindings : public testing::TestWithParam<shell_setup> {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/korvel-shell-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr) << strerror(errno);
        root = pattern;
        for (const char* file : {"dir one/sub/file", "it's", "new\nline", "esc\x1b[31mred", "-rf",
                                 "src/main.c", "odd\ndir/x"}) {
            const fs::path path = fs::path(root) / file;
            fs::create_directories(path.parent_path());
            std::ofstream(path) << file;
        }
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    e2e::launch shell() const {
        const shell_setup& setup = GetParam();
        e2e::launch how;
        how.program = "/usr/bin/env";
        how.args = {setup.name, "-i"};
        how.rows = ROWS;
        how.cols = COLS;
        how.terminal_streams = e2e::launch::on_terminal::ALL;
        how.cwd = root;
        const char* path = getenv("PATH");
        how.env["PATH"] = fs::path(KORVEL_BINARY).parent_path().string() + ":" +
                          (path != nullptr ? path : "/usr/bin:/bin");
        how.env["LANG"] = "C.UTF-8";
        how.home_files[setup.rc_file] = setup.rc;
        return how;
    }

    // The prompt in a directory below the root, as the screen shows it
    // (without its trailing blank), with the rest of the row after it.
    std::string prompt(const std::string& dir = "") const { return "[" + root + dir + "]>"; }
    // The cursor is on a fresh prompt in that directory.
    bool wait_prompt(e2e::session& s, const std::string& dir = "",
                     const std::string& typed = "") const {
        return s.wait_for(
            [&] { return s.row_text(s.cursor_row()).rfind(prompt(dir) + typed, 0) == 0; });
    }

    std::string root;
};

// Presses the key, waits for korvel, moves to the first entry the search
// finds (no pattern: stays on the first row), ends korvel with `end` ('o'
// picks, 'q' picks nothing) and waits until it has given the terminal back.
void pick(e2e::session& s, const std::string& key, const std::string& pattern,
          const std::string& end = "o") {
    s.send(key);
    ASSERT_TRUE(ready(s)) << "no korvel after the key";
    if (!pattern.empty()) s.send("/" + pattern + KEY_ENTER);
    s.send(end);
    ASSERT_TRUE(s.wait_for([&] { return !s.alt_screen(); })) << s.dump();
}

// Waits until the file holds as many bytes as `expected` and returns it.
std::string wait_file(e2e::session& s, const std::string& path, const std::string& expected) {
    s.wait_for([&] {
        std::error_code error;
        return fs::file_size(path, error) == expected.size() && !error;
    });
    return read_file(path);
}

TEST_P(ShellBindings, InsertKeyPutsEachPickedPathQuotedAtTheCursor) {
    e2e::session s(shell());
    ASSERT_TRUE(wait_prompt(s)) << s.dump();
    s.send("/usr/bin/printf '%s\\0' ");
    pick(s, ALT_I, "", "q"); // nothing picked, nothing inserted
    pick(s, ALT_I, "");      // the first row: -rf
    pick(s, ALT_I, "^new");
    pick(s, ALT_I, "red$");
    pick(s, ALT_I, "^it");
    pick(s, ALT_I, "^sub$");
    const std::string args = s.home() + "/args";
    s.send("> " + args + KEY_ENTER);
    using namespace std::string_literals;
    const std::string expected = "./-rf\0new\nline\0esc\x1b[31mred\0it's\0dir one/sub\0"s;
    EXPECT_EQ(escaped(wait_file(s, args, expected)), escaped(expected)) << s.dump();
}

TEST_P(ShellBindings, InsertKeyPutsEveryMarkedPathAtOnce) {
    e2e::session s(shell());
    ASSERT_TRUE(wait_prompt(s)) << s.dump();
    s.send("/usr/bin/printf '%s\\0' ");
    s.send(ALT_I);
    ASSERT_TRUE(ready(s)) << "no korvel after the key";
    // Marked from the bottom up, they come in tree order all the same.
    s.send("/^main" + KEY_ENTER + "\t" + "?red$" + KEY_ENTER + "\t" + "o");
    ASSERT_TRUE(s.wait_for([&] { return !s.alt_screen(); })) << s.dump();
    const std::string args = s.home() + "/args";
    s.send("> " + args + KEY_ENTER);
    using namespace std::string_literals;
    const std::string expected = "esc\x1b[31mred\0src/main.c\0"s;
    EXPECT_EQ(escaped(wait_file(s, args, expected)), escaped(expected)) << s.dump();
}

TEST_P(ShellBindings, CdKeyGoesToThePickedDirectoryAndKeepsTheLine) {
    e2e::session s(shell());
    ASSERT_TRUE(wait_prompt(s)) << s.dump();
    struct cd_case {
        std::string pattern; // finds the entry picked
        std::string end;     // the key that ends korvel
        std::string dir;     // where the shell is then, below the root
    };
    const std::vector<cd_case> cases{
        {"^sub$", "o", "/dir one/sub"},
        {"", "q", "/dir one/sub"}, // nothing picked: nothing changes
        {"^odd", "o", "/odd\ndir"},
        {"^main", "o", "/src"}, // a file: its directory
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const cd_case& c = cases[i];
        SCOPED_TRACE(c.pattern + c.end);
        if (i != 0 && cases[i - 1].dir != c.dir) {
            s.send("cd " + root + KEY_ENTER);
            ASSERT_TRUE(wait_prompt(s)) << s.dump();
        }
        // Half a command line, which waits through the pick.
        s.send("pwd > ");
        pick(s, ALT_M, c.pattern, c.end);
        if (c.dir.find('\n') == std::string::npos) {
            ASSERT_TRUE(wait_prompt(s, c.dir, " pwd >")) << s.dump();
        }
        const std::string out = s.home() + "/pwd" + std::to_string(i);
        s.send(out + KEY_ENTER);
        const std::string expected = root + c.dir + "\n";
        EXPECT_EQ(escaped(wait_file(s, out, expected)), escaped(expected)) << s.dump();
    }
}

INSTANTIATE_TEST_SUITE_P(Shells, ShellBindings, testing::ValuesIn(SHELLS), shell_name);

} // namespace
