// The command line as a shell user meets it: exit status, standard output
// and standard error of the real binary, run without a terminal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "screen.hpp"

// The cases name only the options they set.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using e2e::temp_dir;

namespace fs = std::filesystem;
using e2e::screen::catches;

struct outcome {
    int status = -1; // exit code, or 128 + signal
    std::string out;
    std::string err;
};

struct run_options {
    std::vector<std::string> args;
    std::string input;          // written to standard input, then closed
    bool keep_input_open = false; // standard input stays open and empty
    std::string stdin_path;     // standard input from this file instead
    std::string config_dir;     // XDG_CONFIG_PATH
};

// Runs korvel in a new session, so it has no controlling terminal: anything
// that reaches the viewer fails to open the terminal instead of drawing.
outcome run_korvel(const run_options& how) {
    int in[2], out[2], err[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(err), 0);
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        if (!how.stdin_path.empty()) {
            int fd = open(how.stdin_path.c_str(), O_RDONLY);
            dup2(fd, 0);
        } else {
            dup2(in[0], 0);
        }
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        if (!how.config_dir.empty()) setenv("XDG_CONFIG_PATH", how.config_dir.c_str(), 1);
        else setenv("XDG_CONFIG_PATH", "/nonexistent-korvel-config", 1);
        std::vector<char*> argv{const_cast<char*>("korvel")};
        for (const std::string& a : how.args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(KORVEL_BINARY, argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);
    size_t written = 0;
    if (how.input.empty() && !how.keep_input_open) {
        close(in[1]);
        in[1] = -1;
    }
    outcome result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool out_open = true, err_open = true;
    while ((out_open || err_open) && std::chrono::steady_clock::now() < deadline) {
        std::vector<pollfd> fds;
        if (out_open) fds.push_back({out[0], POLLIN, 0});
        if (err_open) fds.push_back({err[0], POLLIN, 0});
        if (in[1] >= 0 && written < how.input.size()) fds.push_back({in[1], POLLOUT, 0});
        poll(fds.data(), fds.size(), 100);
        for (const pollfd& p : fds) {
            if (p.revents == 0) continue;
            if (p.fd == in[1]) {
                ssize_t n = write(in[1], how.input.data() + written,
                                  std::min<size_t>(65536, how.input.size() - written));
                if (n > 0) written += static_cast<size_t>(n);
                if (n < 0 || written == how.input.size()) {
                    close(in[1]);
                    in[1] = -1;
                }
                continue;
            }
            char buffer[65536];
            ssize_t n = read(p.fd, buffer, sizeof buffer);
            std::string& sink = p.fd == out[0] ? result.out : result.err;
            if (n > 0) sink.append(buffer, static_cast<size_t>(n));
            else (p.fd == out[0] ? out_open : err_open) = false;
        }
    }
    if (in[1] >= 0) close(in[1]);
    close(out[0]);
    close(err[0]);
    int status = 0;
    if (out_open || err_open) kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// The usage text begins with the original options, byte for byte; the
// options added since follow in the same layout.
const std::string USAGE_START =
    "Usage: korvel [OPTION...] [FILE]\n\nOptions:\n       --fold, -f\n"
    "              Fold directories by default.\n\n       --separator=<C>, -s <C>\n"
    "              Set directory separator to C.  / is the default value.\n\n"
    "       --help, -h\n              Print a help message and exit.\n\n"
    "       --version, -v\n              Display version information and exit.\n\n";

// Whether the text is the usage: its start as above, then entries of a
// line naming the option and an indented line saying what it does, then
// the one newline puts adds.
testing::AssertionResult is_usage(const std::string& out) {
    if (out.rfind(USAGE_START, 0) != 0) return testing::AssertionFailure() << "starts\n" << out;
    std::istringstream rest(out.substr(USAGE_START.size()));
    std::string name, text, blank;
    while (std::getline(rest, name) && !name.empty()) {
        std::getline(rest, text);
        std::getline(rest, blank);
        if (name.rfind("       --", 0) != 0 || text.rfind("              ", 0) != 0 ||
            text.size() <= 14 || text[14] == ' ' || !blank.empty())
            return testing::AssertionFailure() << "entry \"" << name << "\" / \"" << text << "\"";
    }
    if (!out.ends_with("\n\n\n")) return testing::AssertionFailure() << "ends\n" << out;
    return testing::AssertionSuccess();
}

const std::string BAD_SEPARATOR = "korvel: directory separator must a single character\n";

TEST(CommandLine, HelpAndVersionEndAtOnceWithStatusZero) {
    const std::vector<std::vector<std::string>> cases{
        {"-h"}, {"--help"}, {"-f", "-h"}, {"-h", "-s", "ab"}, {"-h", "--bogus"},
        // Later options are known in both their forms.
        {"-z0E", "--read0", "--print0", "--cancel-status", "-h"},
        {"-p", "--preview", "--preview-window=bottom:30%", "--preview-command=cat \"$f\"", "-h"},
    };
    std::string first;
    for (const auto& args : cases) {
        outcome r = run_korvel({.args = args, .keep_input_open = true});
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_TRUE(is_usage(r.out));
        if (first.empty()) first = r.out;
        EXPECT_EQ(r.out, first); // whatever came before or after the -h
        EXPECT_EQ(r.err, "");
    }
    for (const char* flag : {"-v", "--version"}) {
        outcome r = run_korvel({.args = {flag}, .keep_input_open = true});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("korvel v1.0.1\n", 0), 0u) << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
        EXPECT_EQ(r.err, "");
    }
}

// The script for a shell is the file in shell/ byte for byte, printed
// without reading any input; a shell without one is an error.
TEST(CommandLine, ShellPrintsThatShellsScriptAndEnds) {
    for (const char* shell : {"bash", "zsh", "fish"}) {
        const std::string script =
            e2e::screen::read_file(TEST_SOURCE_DIR "/../shell/korvel." + std::string(shell));
        ASSERT_FALSE(script.empty()) << shell;
        for (const std::vector<std::string>& args :
             std::vector<std::vector<std::string>>{{"--shell", shell},
                                                   {std::string("--shell=") + shell},
                                                   {"-f", "--shell", shell, "-s", "ab"}}) {
            outcome r = run_korvel({.args = args, .keep_input_open = true});
            EXPECT_EQ(r.status, 0) << args[0] << " " << shell;
            EXPECT_TRUE(r.out == script) << args[0] << " " << shell;
            EXPECT_EQ(r.err, "");
        }
    }
    // Listed in the usage text after the specified options.
    const outcome help = run_korvel({.args = {"-h"}, .keep_input_open = true});
    EXPECT_NE(help.out.find("\n\n       --shell=<SHELL>\n"
                            "              Print the key bindings for SHELL (bash, zsh or fish) "
                            "and exit.\n\n"),
              std::string::npos)
        << help.out;
    for (const char* shell : {"ksh", "", "Bash"}) {
        outcome r = run_korvel({.args = {"--shell", shell}, .keep_input_open = true});
        EXPECT_EQ(r.status, 1) << shell;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "korvel: unknown shell: " + std::string(shell) + " (bash, zsh or fish)\n");
    }
}

TEST(CommandLine, SeparatorMustBeOneByte) {
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"-s", "ab"}, {"-s", ""}, {"--separator=ab"}, {"-s", "é"}, {"-s", "ab", "-h"}}) {
        outcome r = run_korvel({.args = args, .keep_input_open = true});
        EXPECT_EQ(r.status, 1) << args[0] << args[1 % args.size()];
        EXPECT_EQ(r.err, BAD_SEPARATOR);
        EXPECT_EQ(r.out, "");
    }
}

TEST(CommandLine, UnknownOptionGivesOnlyGetoptsDiagnostic) {
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{"--bogus"}, {"-X"}, {"-s"}}) {
        outcome r = run_korvel({.args = args, .keep_input_open = true});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        ASSERT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("korvel: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find("separator must"), std::string::npos);
    }
}

TEST(CommandLine, FileThatCannotBeReadIsReportedBeforeTheConfiguration) {
    temp_dir dir;
    // A broken configuration would be reported if it were read first.
    dir.file("korvel/config", "bogus line\n");
    const std::string missing = dir.path() + "/missing";
    outcome r = run_korvel({.args = {missing}, .config_dir = dir.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "korvel: " + missing + ": No such file or directory\n");
}

TEST(CommandLine, EmptyInputNamesItsSource) {
    temp_dir dir;
    const std::string empty = dir.file("empty", "");
    outcome r = run_korvel({.args = {empty}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "korvel: file seems to be empty\n");

    r = run_korvel({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "korvel: input seems to be empty\n");

    // Empty lines are no paths: not even `/` to pick.
    for (const std::string& input : {std::string("\n"), std::string("\n\n\n"), std::string(3, '\0')}) {
        r = run_korvel({.args = {"-E"}, .input = input});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "korvel: input seems to be empty\n");
        EXPECT_EQ(r.out, "");
    }
    r = run_korvel({.args = {dir.file("empty lines", "\n\n")}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "korvel: file seems to be empty\n");
}

TEST(CommandLine, OnlyTheFirstOperandIsReadAndDashIsAFileName) {
    temp_dir dir;
    const std::string empty = dir.file("-", "");
    const std::string full = dir.file("full", "a\n");
    // The first operand is empty: the second, with content, is ignored.
    outcome r = run_korvel({.args = {empty, full}, .input = "x\n"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "korvel: file seems to be empty\n");

    // '-' names the empty file, not standard input (which has a line).
    std::string cwd = fs::current_path();
    fs::current_path(dir.path());
    r = run_korvel({.args = {"-"}, .input = "x\n"});
    fs::current_path(cwd);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "korvel: file seems to be empty\n");
}

TEST(CommandLine, ConfigurationErrorEndsTheProgramBeforeInputIsRead) {
    temp_dir dir;
    dir.file("korvel/config", "\n# a comment\nnmap x ls\n");
    // Standard input stays open: a program that read it would never end.
    outcome r = run_korvel({.keep_input_open = true, .config_dir = dir.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "korvel: Failed to read config: line 3: unknown command nmap (in " +
                         dir.path() + "/korvel/config)\n");
}

TEST(CommandLine, ReadErrorOnTheInputIsReportedOnOneLine) {
    outcome r = run_korvel({.stdin_path = "/"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("korvel: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

// Interrupting a pipeline while korvel still reads it ends korvel too, with
// the status of a quit, instead of opening the viewer on what was read.
TEST(CommandLine, QuitSignalWhileReadingEndsWithoutTheViewer) {
    struct interruption {
        int sig;
        const char* option; // nullptr for none
        int status;
    };
    for (const interruption c :
         {interruption{SIGINT, nullptr, 0}, interruption{SIGTERM, nullptr, 0},
          interruption{SIGINT, "--cancel-status", 130}}) {
        const int sig = c.sig;
        int in[2], err[2];
        ASSERT_EQ(pipe(in), 0);
        ASSERT_EQ(pipe(err), 0);
        pid_t pid = fork();
        if (pid == 0) {
            setsid();
            dup2(in[0], 0);
            dup2(err[1], 2);
            for (int fd : {in[0], in[1], err[0], err[1]}) close(fd);
            setenv("XDG_CONFIG_PATH", "/nonexistent-korvel-config", 1);
            execl(KORVEL_BINARY, "korvel", c.option, static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(err[1]);
        ASSERT_EQ(write(in[1], "a/b\n", 4), 4);
        // The handlers are in place before the list is read.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!catches(pid, sig) && std::chrono::steady_clock::now() < deadline) usleep(1000);
        ASSERT_TRUE(catches(pid, sig));
        kill(pid, sig);
        close(in[1]); // the rest of the pipeline has gone
        std::string errors;
        char buffer[256];
        for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;) errors.append(buffer, n);
        close(err[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << sig;
        EXPECT_EQ(WEXITSTATUS(status), c.status) << sig;
        EXPECT_EQ(errors, "") << sig;
    }
}

// Hostile input is read and sorted without harm; with no terminal to draw on,
// the viewer then fails cleanly.
TEST(CommandLine, HostileInputReachesTheViewerWithoutACrash) {
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 7919) & 0xFF));
    const std::string inputs[] = {
        binary,
        std::string("a\0b\0c", 5),
        std::string(3 << 20, 'x') + "\n" + std::string(1 << 20, '/') + "\n",
        "\r\n\r\n\x1b]0;pwned\x07\n\x1b[2J\n",
    };
    for (const std::string& input : inputs) {
        outcome r = run_korvel({.input = input});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("korvel: failed to init termbox: ", 0), 0u) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

} // namespace
