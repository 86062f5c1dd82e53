#include "thread_state.hpp"
#include "config.hpp"

#include <gtest/gtest.h>

#include <grp.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "korvel/status.hpp"

namespace {

using binding = std::pair<char, std::string>;

// The records from the head of the list, so the last binding in the file first.
std::vector<binding> bindings_of(const command* head) {
    std::vector<binding> out;
    for (; head != nullptr; head = head->next)
        out.emplace_back(head->key, head->text);
    return out;
}

struct command_list {
    command* head = nullptr;
    ~command_list() { free_commands(head); }
};

struct file_closer {
    void operator()(FILE* file) const { fclose(file); }
};
using file_handle = std::unique_ptr<FILE, file_closer>;

struct parse_result {
    int status;
    std::string error;
    std::vector<binding> bindings;
};

parse_result parse_text(const std::string& text) {
    set_error("");
    command_list list;
    file_handle file(text.empty() ? fopen("/dev/null", "r")
                                  : fmemopen(const_cast<char*>(text.data()), text.size(), "r"));
    EXPECT_NE(file, nullptr);
    int status = read_config_stream(file.get(), &list.head);
    return {status, get_error(), bindings_of(list.head)};
}

TEST(NextToken, SplitsAtSpaceTabAndNewlineOnly) {
    struct token_case {
        const char* text;
        const char* expected; // nullptr: no token
    };
    const token_case cases[] = {
        {"", nullptr},          {" \t\n ", nullptr},        {"ab cd", "ab"},
        {"  \t\nab\tcd", "ab"}, {"ab\ncd", "ab"},           {"\r\n", "\r"},
        {"a\"b c", "a\"b"},     {"\x01\xff x", "\x01\xff"}, {"\v\f y", "\v\f"},
    };
    for (const token_case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
        int length = -1;
        const char* token = next_token(&length, c.text);
        if (c.expected == nullptr) {
            EXPECT_EQ(token, nullptr);
            EXPECT_EQ(length, 0);
        } else {
            ASSERT_NE(token, nullptr);
            EXPECT_EQ(std::string(token, length), c.expected);
        }
    }
}

struct config_case {
    const char* name;
    std::string text;
    int expected_status;
    std::string expected_error; // only checked on failure
    std::vector<binding> expected_bindings;
};

// Listed by name: the default printer would dump the object's bytes, heap
// addresses included.
void PrintTo(const config_case& c, std::ostream* out) {
    *out << c.name;
}

class ConfigTextTest : public testing::TestWithParam<config_case> {};

TEST_P(ConfigTextTest, ParsesLikeTheFile) {
    const config_case& c = GetParam();
    parse_result result = parse_text(c.text);
    EXPECT_EQ(result.status, c.expected_status);
    if (c.expected_status != 0) {
        EXPECT_EQ(result.error, c.expected_error);
    }
    EXPECT_EQ(result.bindings, c.expected_bindings);
}

const std::string prefix = "Failed to read config: ";

INSTANTIATE_TEST_SUITE_P(
    Accepted, ConfigTextTest,
    testing::Values(
        config_case{"Empty", "", 0, "", {}},
        config_case{"BlanksAndComments",
                    "\n   \n\t\n# comment\n\"map x y\n  #indented\n#map x y\n",
                    0,
                    "",
                    {}},
        config_case{"OneBinding", "map x echo hi\n", 0, "", {{'x', "echo hi"}}},
        config_case{
            "BlanksInsideAndAtEndKept", "  map \t x   ls -l  \n", 0, "", {{'x', "ls -l  "}}},
        config_case{"TabsSeparate", "map\tx\tls\n", 0, "", {{'x', "ls"}}},
        config_case{
            "LastLineWithoutNewline", "map a one\nmap x ls", 0, "", {{'x', "ls"}, {'a', "one"}}},
        config_case{"LaterBindingFirstInList",
                    "map x one\nmap x two\n",
                    0,
                    "",
                    {{'x', "two"}, {'x', "one"}}},
        config_case{"HashAfterBindingIsCommand",
                    "map x echo # not a comment\n",
                    0,
                    "",
                    {{'x', "echo # not a comment"}}},
        config_case{"CarriageReturnStaysInCommand", "map x ls\r\n", 0, "", {{'x', "ls\r"}}},
        config_case{"KeyMayBeAnyByte",
                    "map \xe9 a\nmap # b\nmap \" c\n",
                    0,
                    "",
                    {{'"', "c"}, {'#', "b"}, {'\xe9', "a"}}},
        config_case{"Command126BytesWithNewline",
                    "map x " + std::string(126, 'c') + "\n",
                    0,
                    "",
                    {{'x', std::string(126, 'c')}}},
        config_case{"Command127BytesAtEndOfFile",
                    "map x " + std::string(127, 'c'),
                    0,
                    "",
                    {{'x', std::string(127, 'c')}}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Refused, ConfigTextTest,
    testing::Values(
        config_case{"KeyOfTwoBytes",
                    "map xy ls\n",
                    1,
                    prefix + "line 1: mapping cannot consist of multiple characters: xy",
                    {}},
        config_case{"NoKey", "map\n", 1, prefix + "line 1: map requires two arguments", {}},
        config_case{
            "NoCommand", "map x   \n", 1, prefix + "line 1: map requires two arguments", {}},
        config_case{
            "NoCommandAtEndOfFile", "map x", 1, prefix + "line 1: map requires two arguments", {}},
        config_case{"LongerWord", "maps x ls\n", 1, prefix + "line 1: unknown command maps", {}},
        config_case{"OtherWord", "nmap x ls\n", 1, prefix + "line 1: unknown command nmap", {}},
        config_case{"ShortenedWordM", "m x ls\n", 1, prefix + "line 1: unknown command m", {}},
        config_case{"ShortenedWordMa", "ma x ls\n", 1, prefix + "line 1: unknown command ma", {}},
        config_case{"CaseMatters", "MAP x ls\n", 1, prefix + "line 1: unknown command MAP", {}},
        config_case{"LineOfCarriageReturn", "\r\n", 1, prefix + "line 1: unknown command \r", {}},
        config_case{"Command127BytesWithNewline",
                    "map x " + std::string(127, 'c') + "\n",
                    1,
                    prefix + "line 1: command length cannot be longer than or equal to 128",
                    {}},
        config_case{"Command128BytesAtEndOfFile",
                    "map x " + std::string(128, 'c'),
                    1,
                    prefix + "line 1: command length cannot be longer than or equal to 128",
                    {}},
        config_case{"LineNumberCountsBlanksAndComments",
                    "\n# comment\nmap xy z\n",
                    1,
                    prefix + "line 3: mapping cannot consist of multiple characters: xy",
                    {}},
        config_case{"EarlierBindingsStay",
                    "map a one\nmap b two\nbad\nmap c three\n",
                    1,
                    prefix + "line 3: unknown command bad",
                    {{'b', "two"}, {'a', "one"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// A 250-byte line is read in two pieces: the second is parsed as a line of
// its own and every later line number is one higher than the file's.
TEST(ConfigText, LongLineCountsAsTwo) {
    std::string first_piece = "# " + std::string(189, 'c');
    ASSERT_EQ(first_piece.size(), 191u);
    std::string long_line = first_piece + " map y second";
    ASSERT_GT(long_line.size(), 200u);
    parse_result result = parse_text(long_line + "\nmap\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.error, prefix + "line 3: map requires two arguments");
    EXPECT_EQ(result.bindings, (std::vector<binding>{{'y', "second"}}));

    // Its second piece fails like any line would, with its own number.
    result = parse_text("map x " + std::string(244, 'c') + "\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.error,
              prefix + "line 1: command length cannot be longer than or equal to 128");
    result = parse_text("#" + std::string(249, 'c') + "\n");
    EXPECT_EQ(result.error, prefix + "line 2: unknown command " + std::string(59, 'c'));
}

// A command cut at the end of a 191-byte piece is kept as far as it goes.
TEST(ConfigText, BindingCutAtPieceEndKeepsItsStart) {
    std::string line = "map x" + std::string(100, ' ') + std::string(120, 'c') + "\n";
    parse_result result = parse_text(line);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.error, prefix + "line 2: unknown command " + std::string(34, 'c'));
    EXPECT_EQ(result.bindings, (std::vector<binding>{{'x', std::string(86, 'c')}}));
}

std::atomic<int> signals_caught{0};
void count_signal(int) {
    ++signals_caught;
}

TEST(ConfigText, ReadInterruptedBySignalIsRepeated) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = count_signal; // no SA_RESTART: the blocked read fails with EINTR
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    file_handle reader(fdopen(fds[0], "r"));
    ASSERT_NE(reader, nullptr);
    pthread_t parser_thread = pthread_self();
    pid_t parser_tid = gettid();
    std::thread writer([&] {
        EXPECT_EQ(write(fds[1], "map a one\nmap b", 15), 15);
        for (int i = 0; i < 3; ++i) {
            while (!thread_sleeping(parser_tid))
                std::this_thread::yield();
            int before = signals_caught;
            pthread_kill(parser_thread, SIGUSR1);
            while (signals_caught == before)
                std::this_thread::yield();
        }
        EXPECT_EQ(write(fds[1], " two\nmap c three", 16), 16);
        close(fds[1]);
    });
    command_list list;
    int status = read_config_stream(reader.get(), &list.head);
    writer.join();
    sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_EQ(status, 0);
    EXPECT_EQ(signals_caught, 3);
    EXPECT_EQ(bindings_of(list.head),
              (std::vector<binding>{{'c', "three"}, {'b', "two"}, {'a', "one"}}));
}

// read_config as a user whom permission bits stop. Root passes every such
// check, so a root test process runs it in a child that hands `dir` over to
// nobody (uid and gid 65534) and then becomes nobody; any other user runs it
// in a child too, as itself. The child sends back the status, a newline and
// the error text; when it cannot, the status is -1 and the error says why.
struct read_outcome {
    int status;
    std::string error;
};

read_outcome read_config_unprivileged(const std::string& dir) {
    constexpr uid_t NOBODY = 65534;
    int fds[2];
    if (pipe(fds) != 0) return {-1, std::string("pipe: ") + strerror(errno)};
    const pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        return {-1, std::string("fork: ") + strerror(errno)};
    }
    if (child == 0) {
        close(fds[0]);
        std::string report;
        const auto fail = [&](const char* what) {
            report = "-1\n" + std::string(what) + ": " + strerror(errno);
        };
        std::error_code error;
        if (geteuid() == 0) {
            if (lchown(dir.c_str(), NOBODY, NOBODY) != 0) fail("chown");
            for (auto it = std::filesystem::recursive_directory_iterator(dir, error);
                 report.empty() && !error && it != std::filesystem::recursive_directory_iterator();
                 it.increment(error))
                if (lchown(it->path().c_str(), NOBODY, NOBODY) != 0) fail("chown");
            if (error) report = "-1\nlisting " + dir + ": " + error.message();
            if (report.empty() && setgroups(0, nullptr) != 0) fail("setgroups");
            if (report.empty() && setgid(NOBODY) != 0) fail("setgid");
            if (report.empty() && setuid(NOBODY) != 0) fail("setuid");
        }
        if (report.empty()) {
            command* head = nullptr;
            const int status = read_config(&head);
            report = std::to_string(status) + "\n" + get_error();
        }
        const bool sent = write(fds[1], report.data(), report.size()) ==
                          static_cast<ssize_t>(report.size());
        _exit(sent ? 0 : 1);
    }
    close(fds[1]);
    std::string report;
    char buffer[256];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0) {
            report.append(buffer, static_cast<size_t>(n));
        } else if (errno != EINTR) {
            break;
        }
    }
    close(fds[0]);
    int wait_status = 0;
    while (waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
    }
    const size_t newline = report.find('\n');
    if (!WIFEXITED(wait_status) || WEXITSTATUS(wait_status) != 0 || newline == std::string::npos)
        return {-1, "the child ended with wait status " + std::to_string(wait_status) +
                        " after sending \"" + report + "\""};
    return {std::stoi(report.substr(0, newline)), report.substr(newline + 1)};
}

// read_config finds its file through the environment; each test gets its own
// directory and the variables are put back afterwards.
class ConfigFileTest : public testing::Test {
  protected:
    void SetUp() override {
        saved_xdg = saved("XDG_CONFIG_PATH");
        saved_home = saved("HOME");
        char pattern[] = "/tmp/korvel-config-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        unsetenv("XDG_CONFIG_PATH");
        unsetenv("HOME");
        set_error("");
    }
    void TearDown() override {
        restore("XDG_CONFIG_PATH", saved_xdg);
        restore("HOME", saved_home);
        // Tests take permissions away from the directory and the one inside.
        std::error_code ignored;
        for (const std::string& path : {dir, dir + "/korvel"})
            std::filesystem::permissions(path, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(dir);
        free_commands(list.head);
        list.head = nullptr;
    }

    static std::optional<std::string> saved(const char* name) {
        const char* value = getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    static void restore(const char* name, const std::optional<std::string>& value) {
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }

    // Writes text to dir/relative, creating the directories on the way.
    std::string write_file(const std::string& relative, const std::string& text) {
        std::filesystem::path path = dir + "/" + relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    std::string dir;
    std::optional<std::string> saved_xdg, saved_home;
    command_list list;
};

TEST_F(ConfigFileTest, ReadsFromXdgConfigPath) {
    std::string path = write_file("xdg/korvel/config", "map x echo hi\n");
    write_file("home/.config/korvel/config", "map h home\n");
    setenv("XDG_CONFIG_PATH", (dir + "/xdg").c_str(), 1);
    setenv("HOME", (dir + "/home").c_str(), 1);
    EXPECT_EQ(read_config(&list.head), 0);
    EXPECT_EQ(config_path(), path);
    EXPECT_EQ(bindings_of(list.head), (std::vector<binding>{{'x', "echo hi"}}));
}

TEST_F(ConfigFileTest, ReadsFromHomeWithoutXdg) {
    std::string path = write_file("home/.config/korvel/config", "map h home\n");
    setenv("HOME", (dir + "/home").c_str(), 1);
    EXPECT_EQ(read_config(&list.head), 0);
    EXPECT_EQ(config_path(), path);
    EXPECT_EQ(bindings_of(list.head), (std::vector<binding>{{'h', "home"}}));
}

TEST_F(ConfigFileTest, MissingFileUnderXdgDoesNotFallBackToHome) {
    write_file("home/.config/korvel/config", "map h home\n");
    setenv("XDG_CONFIG_PATH", (dir + "/xdg").c_str(), 1);
    setenv("HOME", (dir + "/home").c_str(), 1);
    EXPECT_EQ(read_config(&list.head), 0);
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(std::string(get_error()), "");
}

TEST_F(ConfigFileTest, EmptyXdgLooksAtTheRoot) {
    if (std::filesystem::exists("/korvel/config")) GTEST_SKIP() << "/korvel/config exists here";
    write_file("home/.config/korvel/config", "map h home\n");
    setenv("XDG_CONFIG_PATH", "", 1);
    setenv("HOME", (dir + "/home").c_str(), 1);
    EXPECT_EQ(read_config(&list.head), 0);
    EXPECT_STREQ(config_path(), "/korvel/config");
    EXPECT_EQ(list.head, nullptr);
}

TEST_F(ConfigFileTest, NeitherVariableMeansNoFile) {
    EXPECT_EQ(read_config(&list.head), 0);
    EXPECT_STREQ(config_path(), "");
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(std::string(get_error()), "");
}

TEST_F(ConfigFileTest, PathMustFitTheBuffer) {
    // "/korvel/config" adds 14 bytes; 1023 bytes fit with the terminator.
    std::string base = dir + "/absent";
    while (base.size() < 1023 - 14)
        base += "/d";
    base.resize(1023 - 14);
    setenv("XDG_CONFIG_PATH", base.c_str(), 1);
    EXPECT_EQ(read_config(&list.head), 0);
    EXPECT_EQ(std::string(config_path()).size(), 1023u);

    setenv("XDG_CONFIG_PATH", (base + "d").c_str(), 1);
    EXPECT_EQ(read_config(&list.head), 1);
    EXPECT_EQ(std::string(get_error()), prefix + strerror(ENAMETOOLONG));

    unsetenv("XDG_CONFIG_PATH");
    setenv("HOME", std::string(1023 - 22, 'h').c_str(), 1); // "/.config/korvel/config"
    EXPECT_EQ(read_config(&list.head), 1);
    EXPECT_EQ(std::string(get_error()), prefix + strerror(ENAMETOOLONG));
}

TEST_F(ConfigFileTest, DirectoryInPlaceOfFileFails) {
    std::filesystem::create_directories(dir + "/korvel/config");
    setenv("XDG_CONFIG_PATH", dir.c_str(), 1);
    EXPECT_EQ(read_config(&list.head), 1);
    EXPECT_EQ(std::string(get_error()), prefix + strerror(EISDIR));
}

TEST_F(ConfigFileTest, UnreadableFileFails) {
    std::string path = write_file("korvel/config", "map x ls\n");
    chmod(path.c_str(), 0);
    setenv("XDG_CONFIG_PATH", dir.c_str(), 1);
    const read_outcome result = read_config_unprivileged(dir);
    EXPECT_EQ(result.status, 1) << result.error;
    EXPECT_EQ(result.error, prefix + strerror(EACCES));
}

TEST_F(ConfigFileTest, UntraversableDirectoryFails) {
    write_file("korvel/config", "map x ls\n");
    chmod((dir + "/korvel").c_str(), 0);
    setenv("XDG_CONFIG_PATH", dir.c_str(), 1);
    const read_outcome result = read_config_unprivileged(dir);
    EXPECT_EQ(result.status, 1) << result.error;
    EXPECT_EQ(result.error, prefix + strerror(EACCES));
}

TEST_F(ConfigFileTest, ParseErrorNamesTheLine) {
    write_file("korvel/config", "map a one\n\n# c\nmap\n");
    setenv("XDG_CONFIG_PATH", dir.c_str(), 1);
    EXPECT_EQ(read_config(&list.head), 1);
    EXPECT_EQ(std::string(get_error()), prefix + "line 4: map requires two arguments");
    EXPECT_EQ(bindings_of(list.head), (std::vector<binding>{{'a', "one"}}));
}

TEST_F(ConfigFileTest, RecordTextIsZeroFilled) {
    write_file("korvel/config", "map x ls");
    setenv("XDG_CONFIG_PATH", dir.c_str(), 1);
    ASSERT_EQ(read_config(&list.head), 0);
    ASSERT_NE(list.head, nullptr);
    for (size_t i = 2; i < sizeof list.head->text; ++i)
        EXPECT_EQ(list.head->text[i], '\0');
}

using ConfigFileDeathTest = ConfigFileTest;

TEST_F(ConfigFileDeathTest, ListMustBeEmptyOnEntry) {
    command existing{};
    command* head = &existing;
    EXPECT_DEATH(read_config(&head), "read_config: Assertion `\\*cmd == NULL' failed");
}

} // namespace
