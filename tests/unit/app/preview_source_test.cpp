#include "app/preview_source.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tree_fixture.hpp"
#include "base/unique_fd.hpp"

using namespace korvel;

namespace {

namespace fs = std::filesystem;

std::string text_of(const styled_line& line) {
    std::string text;
    for (const styled_run& run : line.runs) text += run.text;
    return text;
}

std::vector<std::string> texts(const std::vector<styled_line>& lines) {
    std::vector<std::string> out;
    for (const styled_line& line : lines) out.push_back(text_of(line));
    return out;
}

entry_index entry_named(const path_tree& tree, const std::string& path) {
    for (entry_index e = 0; e < tree.size(); ++e)
        if (tree.full_path(e) == path) return e;
    ADD_FAILURE() << "no entry " << path;
    return 0;
}

TEST(BuiltinPreview, DirectoryOfTheTreeListsItsChildren) {
    const path_tree tree = tree_of("x/a\nx/b/1\nx/b/2\nx/c/d/e\ny\n");
    EXPECT_EQ(texts(builtin_preview(tree, entry_named(tree, "x"), 100)),
              (std::vector<std::string>{"entry 1 of 9, 3 children, 7 entries below", "a", "b/  2",
                                        "c/  2"}));
    EXPECT_EQ(texts(builtin_preview(tree, entry_named(tree, "x/c"), 1)),
              (std::vector<std::string>{"entry 6 of 9, 1 child, 2 entries below"}));
    EXPECT_EQ(texts(builtin_preview(tree, entry_named(tree, "x/c/d"), 1)),
              (std::vector<std::string>{"entry 7 of 9, 1 child, 1 entry below"}));
    // No more lines than asked for, whatever the directory holds.
    EXPECT_EQ(builtin_preview(tree, entry_named(tree, "x"), 2).size(), 2u);
}

class BuiltinPreviewFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "korvel-preview-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::vector<std::string> preview_of(const std::string& name, size_t max_lines = 100) {
        const path_tree tree = tree_of(dir_ + "/" + name + "\n");
        return texts(builtin_preview(tree, entry_named(tree, dir_ + "/" + name), max_lines));
    }
    std::string dir_;
};

TEST_F(BuiltinPreviewFiles, KindsOfPath) {
    std::ofstream(dir_ + "/text") << "one\ntwo\n";
    std::ofstream(dir_ + "/empty");
    std::ofstream(dir_ + "/zip", std::ios::binary) << std::string("PK\x03\x04\0\0", 6);
    ASSERT_EQ(mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
    fs::create_directory(dir_ + "/dir");

    EXPECT_EQ(preview_of("text"), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(preview_of("empty"), (std::vector<std::string>{"empty file"}));
    EXPECT_EQ(preview_of("zip"), (std::vector<std::string>{"binary file, 6 bytes, zip archive"}));
    EXPECT_EQ(preview_of("fifo").at(1), "a FIFO on this machine");
    EXPECT_EQ(preview_of("dir").at(1), "a directory on this machine");
    EXPECT_EQ(preview_of("nothing").at(1), "not on this machine (No such file or directory)");
}

// Only the first 64 kB are read: a file of lines longer than that shows
// what fits, and a NUL byte past the first block does not make it binary.
TEST_F(BuiltinPreviewFiles, ReadsABoundedHead) {
    std::string big(PREVIEW_FILE_BYTES * 4, 'a');
    for (size_t i = 99; i < big.size(); i += 100) big[i] = '\n';
    big[20000] = '\0';
    std::ofstream(dir_ + "/big", std::ios::binary) << big;
    const std::vector<std::string> lines = preview_of("big", 10'000);
    EXPECT_EQ(lines.size(), PREVIEW_FILE_BYTES / 100 + 1);
    EXPECT_EQ(lines.front(), std::string(99, 'a'));
    EXPECT_EQ(preview_of("big", 3).size(), 3u);
}

// A command and its reader, run until it ends or the deadline passes.
struct run_result {
    std::string output;
    bool capped = false;
};

run_result run_to_end(preview_command& job, int wake_fd) {
    run_result r;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (bool over = false; !over && std::chrono::steady_clock::now() < deadline;) {
        pollfd wake{wake_fd, POLLIN, 0};
        poll(&wake, 1, 100);
        char drain[256];
        while (read(wake_fd, drain, sizeof drain) > 0) {
        }
        r.output += job.take(over);
    }
    r.capped = job.capped();
    return r;
}

class PreviewCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(open_pipe(&wake_), 0);
        ASSERT_EQ(fcntl(wake_.read_end.get(), F_SETFL, O_NONBLOCK), 0);
        ASSERT_EQ(fcntl(wake_.write_end.get(), F_SETFL, O_NONBLOCK), 0);
    }
    std::unique_ptr<preview_command> start(const std::string& text,
                                           const std::vector<std::string>& picked = {}) {
        std::string failure;
        auto job = preview_command::start(text, "the/path", picked, wake_.write_end.get(), failure);
        EXPECT_NE(job, nullptr) << failure;
        return job;
    }
    pipe_pair wake_;
};

TEST_F(PreviewCommand, OutputAndErrorsInOrderWithThePaths) {
    auto job = start("printf '%s\\n' \"$f\"; echo err >&2; printf '%s|' \"$@\"", {"a b", "c"});
    ASSERT_NE(job, nullptr);
    const run_result r = run_to_end(*job, wake_.read_end.get());
    EXPECT_EQ(r.output, "the/path\nerr\na b|c|");
    EXPECT_FALSE(r.capped);
}

TEST_F(PreviewCommand, OutputIsCappedAndTheCommandKilled) {
    auto job = start("echo $$ > /dev/null; exec cat /dev/zero");
    ASSERT_NE(job, nullptr);
    const run_result r = run_to_end(*job, wake_.read_end.get());
    EXPECT_TRUE(r.capped);
    EXPECT_EQ(r.output.size(), PREVIEW_COMMAND_BYTES);
    job->kill();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!job->ended() && std::chrono::steady_clock::now() < deadline) poll(nullptr, 0, 10);
    EXPECT_TRUE(job->ended());
}

// Going away, a job kills the command's whole group and waits for it.
TEST_F(PreviewCommand, DroppedJobLeavesNoProcess) {
    auto job = start("sleep 100 & echo $!; exec sleep 100");
    ASSERT_NE(job, nullptr);
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool over = false;
    while (output.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd wake{wake_.read_end.get(), POLLIN, 0};
        poll(&wake, 1, 100);
        output += job->take(over);
    }
    const pid_t background = std::stoi(output);
    job.reset();
    // The shell has been waited for; the one in the background was killed
    // with it (its parent, init or a subreaper, reaps it).
    bool gone = false;
    while (!gone && std::chrono::steady_clock::now() < deadline) {
        std::ifstream status("/proc/" + std::to_string(background) + "/stat");
        std::string stat_line;
        std::getline(status, stat_line);
        const size_t close = stat_line.rfind(')');
        gone = !status || close == std::string::npos || stat_line.substr(close + 2, 1) == "Z";
        if (!gone) poll(nullptr, 0, 10);
    }
    EXPECT_TRUE(gone);
}

} // namespace
