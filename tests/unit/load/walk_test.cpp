#include "load/walk.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace korvel;

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAreArray;

namespace {

std::vector<std::string> split(const char* data, size_t size, char terminator) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == terminator) {
            out.emplace_back(data + start, i - start);
            start = i + 1;
        }
    }
    EXPECT_EQ(start, size) << "the list does not end with its terminator";
    return out;
}

struct walk_run {
    outcome status;
    walk_report report;
    std::vector<std::string> paths;
};

// Walks with '\0' as the terminator, so that names with newlines stay whole.
walk_run walk(const std::string& root, walk_options options = {}) {
    options.terminator = '\0';
    raw_array<char> list;
    walk_run run;
    run.status = walk_tree(root.c_str(), options, &list, &run.report);
    run.paths = split(list.data, list.size, options.terminator);
    return run;
}

// A fresh directory under /tmp, removed with everything in it afterwards.
class WalkTest : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/korvel-walk-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr) << strerror(errno);
        root = pattern;
    }
    void TearDown() override {
        // rm copes with trees deeper than PATH_MAX, which the library's
        // remove_all does not; tests hand permissions back before they end.
        const std::string command = "rm -rf '" + root + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }

    std::string at(const std::string& relative) const { return root + "/" + relative; }
    void make_dir(const std::string& relative) const {
        ASSERT_EQ(mkdir(at(relative).c_str(), 0755), 0) << relative << ": " << strerror(errno);
    }
    void make_file(const std::string& relative) const {
        const int fd = open(at(relative).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << relative << ": " << strerror(errno);
        close(fd);
    }
    void make_link(const std::string& target, const std::string& relative) const {
        ASSERT_EQ(symlink(target.c_str(), at(relative).c_str()), 0) << strerror(errno);
    }

    std::string root;
};

TEST_F(WalkTest, ListsEveryKindOfEntryOnceWithoutFollowingLinksOrEnteringVersionControl) {
    make_dir("src");
    make_dir("src/lib");
    make_file("src/main.c");
    make_file("src/lib/util.c");
    make_dir("a");
    make_link("..", "a/loop");         // a loop, were it followed
    make_link("../src", "a/src-link"); // a directory behind a link
    make_link("missing", "dangling");
    ASSERT_EQ(mkfifo(at("pipe").c_str(), 0644), 0);
    make_dir("empty");
    // Version control: the folders go, files that merely look alike stay.
    for (const char* vcs : {".git", "src/.hg", ".svn", ".bzr", "_darcs", "src/lib/CVS"}) {
        make_dir(vcs);
        make_file(std::string(vcs) + "/HEAD");
    }
    make_dir(".git/objects");
    make_file(".git/objects/ab");
    make_file(".gitignore");
    make_dir(".github");
    make_file("a/.git"); // a worktree's pointer file, not a folder
    make_dir("cvs");     // names are case-sensitive
    // Names are bytes: a newline, escape sequences, control bytes, invalid UTF-8.
    const std::string odd[] = {"new\nline",    "\x1b]52;c;aGk=\x07", "\x1b[2J\x1b[31mred",
                               "\x01\x7f\x9b", "\xff\xfe",           " lead",
                               "caf\xc3\xa9"};
    for (const std::string& name : odd)
        make_file("src/" + name);

    const walk_run run = walk(root);
    ASSERT_TRUE(run.status.ok()) << run.status.message();
    std::vector<std::string> expected = {
        "src",    "src/lib",  "src/main.c", "src/lib/util.c", "a",          "a/loop",  "a/src-link",
        "a/.git", "dangling", "pipe",       "empty",          ".gitignore", ".github", "cvs"};
    for (const std::string& name : odd)
        expected.push_back("src/" + name);
    EXPECT_THAT(run.paths, UnorderedElementsAreArray(expected));
    EXPECT_EQ(run.report.paths, expected.size());
    EXPECT_FALSE(run.report.cancelled);
    EXPECT_THAT(run.report.problems, IsEmpty());
}

TEST_F(WalkTest, EmptyRootListsNothing) {
    const walk_run run = walk(root);
    EXPECT_TRUE(run.status.ok());
    EXPECT_THAT(run.paths, IsEmpty());
    EXPECT_EQ(run.report.paths, 0u);
    EXPECT_THAT(run.report.problems, IsEmpty());
}

TEST_F(WalkTest, AppendsAfterWhatTheListHeldWithTheChosenTerminator) {
    make_dir("d");
    make_file("d/f");
    for (const char terminator : {'\n', '\0'}) {
        SCOPED_TRACE(static_cast<int>(terminator));
        raw_array<char> list;
        list.push_back('x');
        walk_report report;
        walk_options options;
        options.terminator = terminator;
        ASSERT_TRUE(walk_tree(root.c_str(), options, &list, &report).ok());
        const std::string text(list.data, list.size);
        const std::string t(1, terminator);
        EXPECT_TRUE(text == "x" + ("d" + t) + ("d/f" + t) || text == "x" + ("d/f" + t) + ("d" + t))
            << text;
    }
}

TEST_F(WalkTest, RootsThatCannotBeListedFail) {
    make_file("file");
    struct root_case {
        std::string root;
        int error;
    };
    const root_case cases[] = {{at("missing"), ENOENT}, {at("file"), ENOTDIR}};
    for (const root_case& c : cases) {
        SCOPED_TRACE(c.root);
        raw_array<char> list;
        walk_report report;
        const outcome status = walk_tree(c.root.c_str(), {}, &list, &report);
        EXPECT_FALSE(status.ok());
        EXPECT_EQ(status.message(), c.root + ": " + strerror(c.error));
        EXPECT_EQ(list.size, 0u);
    }
}

TEST_F(WalkTest, ARootThatIsALinkIsFollowed) {
    make_dir("real");
    make_file("real/f");
    make_link("real", "link");
    EXPECT_THAT(walk(at("link")).paths, ElementsAre("f"));
}

// Makes `depth` directories called `name`, each inside the one before,
// below the directory open as `dir`, with a file in each; at_level may add
// more beside the way down. The paths made go to *made, under `prefix`.
using level_hook = std::function<void(int dir, const std::string& prefix, int level)>;
void make_chain(int dir, const std::string& prefix, const char* name, int depth,
                std::vector<std::string>* made, const level_hook& at_level = {}) {
    int fd = dup(dir);
    std::string path = prefix;
    for (int level = 0; level < depth && fd >= 0; ++level) {
        if (at_level) at_level(fd, path, level);
        const int file = openat(fd, "file", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        EXPECT_GE(file, 0) << strerror(errno);
        close(file);
        made->push_back(path + "file");
        EXPECT_EQ(mkdirat(fd, name, 0755), 0) << strerror(errno);
        made->push_back(path + name);
        path += std::string(name) + "/";
        const int next = openat(fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = next;
    }
    EXPECT_GE(fd, 0) << strerror(errno);
    close(fd);
}

// Deeper than the walk keeps descriptors for, with paths longer than
// PATH_MAX. Every hundred levels a second chain, itself too deep to keep
// every descriptor, leaves the way down: whichever of the two the walk takes
// first, it enters the other below a directory whose descriptor it closed.
TEST_F(WalkTest, DeepTreesAreWalkedWholeWithFewDescriptors) {
    std::vector<std::string> expected;
    const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    make_chain(fd, "", "level-dir", 400, &expected, // 400 * 10 bytes
               [&](int dir, const std::string& prefix, int level) {
                   if (level % 100 != 50) return;
                   EXPECT_EQ(mkdirat(dir, "branch", 0755), 0) << strerror(errno);
                   expected.push_back(prefix + "branch");
                   const int branch = openat(dir, "branch", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                   make_chain(branch, prefix + "branch/", "b", 50, &expected);
                   close(branch);
               });
    close(fd);
    ASSERT_FALSE(HasFailure());

    // Descriptors open in this process, counted at every entry.
    const auto open_descriptors = [] {
        int count = 0;
        DIR* dir = opendir("/proc/self/fd");
        while (dir != nullptr && readdir(dir) != nullptr)
            ++count;
        if (dir != nullptr) closedir(dir);
        return count;
    };
    const int before = open_descriptors();
    int most = before;
    walk_options options;
    options.progress_interval = 1;
    options.on_progress = [&](const walk_progress&) { most = std::max(most, open_descriptors()); };

    const walk_run run = walk(root, options);
    ASSERT_TRUE(run.status.ok());
    EXPECT_THAT(run.report.problems, IsEmpty());
    EXPECT_THAT(run.paths, UnorderedElementsAreArray(expected));
    EXPECT_LE(most - before, 40) << "descriptors held at once";
}

TEST_F(WalkTest, ProgressComesEveryIntervalWithTheBytesListedSoFar) {
    for (const char* name : {"a", "b", "c", "d", "e", "f", "g"})
        make_file(name);
    make_dir("sub");
    make_file("sub/leaf");
    std::vector<walk_progress> calls;
    walk_options options;
    options.progress_interval = 3;
    raw_array<char> list;
    walk_report report;
    options.on_progress = [&](const walk_progress& p) {
        calls.push_back(p);
        EXPECT_EQ(p.bytes, list.size) << "the bytes of the entries listed, no more";
    };
    ASSERT_TRUE(walk_tree(root.c_str(), options, &list, &report).ok());
    ASSERT_EQ(report.paths, 9u);
    ASSERT_EQ(calls.size(), 3u);
    const std::vector<std::string> paths = split(list.data, list.size, '\n');
    uint64_t bytes = 0;
    for (size_t i = 0; i < paths.size(); ++i) {
        bytes += paths[i].size() + 1;
        if ((i + 1) % 3 == 0) {
            EXPECT_EQ(calls[i / 3].paths, i + 1);
            EXPECT_EQ(calls[i / 3].bytes, bytes);
        }
    }
}

TEST_F(WalkTest, AStopFlagSetBeforeTheStartListsNothing) {
    make_dir("d");
    make_file("d/f");
    volatile sig_atomic_t stop = 1;
    walk_options options;
    options.stop = &stop;
    const walk_run run = walk(root, options);
    EXPECT_TRUE(run.status.ok());
    EXPECT_TRUE(run.report.cancelled);
    EXPECT_THAT(run.paths, IsEmpty());
}

TEST_F(WalkTest, AStopFlagSetDuringTheWalkEndsItAtOnce) {
    std::vector<std::string> all;
    for (int d = 0; d < 20; ++d) {
        const std::string dir = "d" + std::to_string(d);
        make_dir(dir);
        all.push_back(dir);
        for (int f = 0; f < 20; ++f) {
            make_file(dir + "/f" + std::to_string(f));
            all.push_back(dir + "/f" + std::to_string(f));
        }
    }
    volatile sig_atomic_t stop = 0;
    walk_options options;
    options.stop = &stop;
    options.progress_interval = 50;
    int calls = 0;
    options.on_progress = [&](const walk_progress&) {
        ++calls;
        stop = 1; // as a quit signal's handler would
    };
    const walk_run run = walk(root, options);
    EXPECT_TRUE(run.status.ok());
    EXPECT_TRUE(run.report.cancelled);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(run.report.paths, 50u) << "not one entry after the flag was seen";
    EXPECT_EQ(run.paths.size(), 50u);
    for (const std::string& path : run.paths)
        EXPECT_NE(std::find(all.begin(), all.end(), path), all.end()) << path;
}

// The walk of `root` as a user whom permission bits stop. Root passes every
// such check, so a root test process walks in a child that hands the tree to
// nobody (uid and gid 65534) and becomes nobody; anyone else walks in the
// child as themselves. The child sends back the problems, one "path\terrno\n"
// each, after a line with the listed paths joined by '|'.
struct child_walk {
    std::string failure; // why the child could not report, or empty
    std::vector<std::string> paths;
    std::vector<walk_problem> problems;
};

child_walk walk_unprivileged(const std::string& root) {
    constexpr uid_t NOBODY = 65534;
    child_walk result;
    int fds[2];
    if (pipe(fds) != 0) return {std::string("pipe: ") + strerror(errno), {}, {}};
    const pid_t child = fork();
    if (child < 0) {
        const int error = errno;
        close(fds[0]);
        close(fds[1]);
        return {std::string("fork: ") + strerror(error), {}, {}};
    }
    if (child == 0) {
        close(fds[0]);
        std::string report;
        if (geteuid() == 0) {
            const std::string command = "chown -hR 65534:65534 '" + root + "'";
            if (std::system(command.c_str()) != 0 || setgroups(0, nullptr) != 0 ||
                setgid(NOBODY) != 0 || setuid(NOBODY) != 0)
                report = "!becoming nobody failed";
        }
        if (report.empty()) {
            raw_array<char> list;
            walk_report walked;
            walk_options options;
            options.terminator = '|';
            if (!walk_tree(root.c_str(), options, &list, &walked).ok())
                report = "!the root could not be opened";
            else
                report = std::string(list.data, list.size) + "\n";
            for (const walk_problem& p : walked.problems)
                report += p.path + "\t" + std::to_string(p.error) + "\n";
        }
        const bool sent =
            write(fds[1], report.data(), report.size()) == static_cast<ssize_t>(report.size());
        _exit(sent ? 0 : 1);
    }
    close(fds[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            text.append(buffer, static_cast<size_t>(n));
        else if (errno != EINTR)
            break;
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.empty() || text[0] == '!')
        return {"the child ended with status " + std::to_string(status) + ": " + text, {}, {}};
    const size_t end = text.find('\n');
    result.paths = split(text.data(), end, '|');
    for (size_t at = end + 1; at < text.size();) {
        const size_t tab = text.find('\t', at);
        const size_t line_end = text.find('\n', tab);
        result.problems.push_back(
            {text.substr(at, tab - at), std::stoi(text.substr(tab + 1, line_end - tab - 1))});
        at = line_end + 1;
    }
    return result;
}

TEST_F(WalkTest, UnreadableDirectoriesAreReportedAndTheWalkGoesOn) {
    make_dir("secret");
    make_file("secret/hidden");
    make_dir("open");
    make_file("open/file");
    make_dir("open/locked");
    make_dir("open/locked/deeper");
    ASSERT_EQ(chmod(at("secret").c_str(), 0), 0);
    ASSERT_EQ(chmod(at("open/locked").c_str(), 0), 0);

    const child_walk run = walk_unprivileged(root);
    chmod(at("secret").c_str(), 0755);
    chmod(at("open/locked").c_str(), 0755);
    ASSERT_THAT(run.failure, IsEmpty());

    EXPECT_THAT(run.paths,
                UnorderedElementsAreArray({"secret", "open", "open/file", "open/locked"}));
    std::vector<std::string> messages;
    for (const walk_problem& p : run.problems)
        messages.push_back(p.message());
    EXPECT_THAT(messages, UnorderedElementsAreArray(
                              {"secret: Permission denied", "open/locked: Permission denied"}));
}

// With prefix_root every path starts with the root as given, one '/' after
// it, so that it names the file from where the walk was asked for.
TEST_F(WalkTest, PrefixedPathsStartWithTheRoot) {
    make_dir("d");
    make_dir("d/sub");
    make_file("d/sub/f");
    struct prefix_case {
        std::string root;
        std::vector<std::string> expected;
    };
    const std::string d = at("d");
    const std::vector<prefix_case> cases = {
        {d, {d + "/sub", d + "/sub/f"}},
        {d + "/", {d + "/sub", d + "/sub/f"}},
        {d + "//", {d + "/sub", d + "/sub/f"}},
    };
    walk_options options;
    options.prefix_root = true;
    for (const prefix_case& c : cases) {
        SCOPED_TRACE(c.root);
        const walk_run run = walk(c.root, options);
        ASSERT_TRUE(run.status.ok()) << run.status.message();
        EXPECT_THAT(run.paths, UnorderedElementsAreArray(c.expected));
    }
    // "." stays as it always was: paths relative to it.
    const std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(d);
    const walk_run here = walk(".", options);
    std::filesystem::current_path(cwd);
    EXPECT_THAT(here.paths, UnorderedElementsAreArray({"sub", "sub/f"}));
}

// /dev holds other file systems (devpts, a tmpfs for shm) on most systems.
TEST(Walk, OneFileSystemListsMountPointsWithoutEnteringThem) {
    struct stat dev {}, pts {};
    if (stat("/dev", &dev) != 0 || stat("/dev/pts", &pts) != 0 || dev.st_dev == pts.st_dev)
        GTEST_SKIP() << "/dev/pts is no mount point here";
    walk_options options;
    options.prefix_root = true;
    const walk_run all = walk("/dev", options);
    options.one_file_system = true;
    const walk_run one = walk("/dev", options);
    const auto below_pts = [](const std::vector<std::string>& paths) {
        return std::count_if(paths.begin(), paths.end(),
                             [](const std::string& p) { return p.rfind("/dev/pts/", 0) == 0; });
    };
    EXPECT_GT(below_pts(all.paths), 0);
    EXPECT_EQ(below_pts(one.paths), 0);
    EXPECT_NE(std::find(one.paths.begin(), one.paths.end(), "/dev/pts"), one.paths.end());
}

TEST(WalkProblem, MessageNamesThePathAndTheReason) {
    struct message_case {
        walk_problem problem;
        const char* expected;
    };
    const message_case cases[] = {
        {{"secret", EACCES}, "secret: Permission denied"},
        {{".", EIO}, ".: Input/output error"},
        {{"a/b", 0}, "a/b: moved during the walk"},
    };
    for (const message_case& c : cases)
        EXPECT_EQ(c.problem.message(), c.expected);
}

} // namespace
