// While the list is still coming: a line on the terminal says how far
// loading has come once it takes a while, and Ctrl-C, a quit signal and
// Ctrl-Z act at once, leaving the terminal as it was found.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "harness.hpp"
#include "screen.hpp"

namespace {

using namespace e2e::screen;

// A named pipe that korvel reads its list from, held open for writing by
// the test, so that the list stalls until the test says it has ended.
class slow_list {
  public:
    slow_list() {
        char dir[] = "/tmp/korvel-slow-XXXXXX";
        if (mkdtemp(dir) != nullptr) dir_ = dir;
        path_ = dir_ + "/list";
        mkfifo(path_.c_str(), 0600);
        // Opened for reading too, so that neither side waits for the other.
        fd_ = open(path_.c_str(), O_RDWR);
    }
    ~slow_list() {
        finish();
        unlink(path_.c_str());
        rmdir(dir_.c_str());
    }
    slow_list(const slow_list&) = delete;
    slow_list& operator=(const slow_list&) = delete;

    const std::string& path() const { return path_; }
    bool write_text(const std::string& text) {
        return write(fd_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    void finish() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

  private:
    std::string dir_;
    std::string path_;
    int fd_ = -1;
};

e2e::launch korvel_on(const slow_list& list) {
    e2e::launch how = korvel("", 10, 60);
    how.stdin_data.reset();
    how.stdin_file = list.path();
    return how;
}

bool line_shows(const e2e::session& s, const std::string& text) {
    return s.screen_text().find(text) != std::string::npos;
}

TEST(LoadingLine, SaysHowFarReadingHasComeAndGoesBeforeTheViewer) {
    slow_list list;
    e2e::session s(korvel_on(list));
    ASSERT_TRUE(list.write_text("a/1\nb/2\n"));
    ASSERT_TRUE(s.wait_for([&] { return line_shows(s, "korvel: reading 2 paths, 8 bytes"); }))
        << s.dump();
    EXPECT_FALSE(s.alt_screen());
    ASSERT_TRUE(list.write_text("c/3\n"));
    ASSERT_TRUE(s.wait_for([&] { return line_shows(s, "korvel: reading 3 paths, 12 bytes"); }))
        << s.dump();
    list.finish();
    ASSERT_TRUE(ready(s));
    quit(s);
    // Erased before the viewer took over: nothing of it is left.
    EXPECT_FALSE(line_shows(s, "korvel")) << s.dump();
    EXPECT_EQ(s.stdout_data(), "");
    EXPECT_EQ(s.stderr_data(), "");
}

TEST(LoadingLine, AQuickLoadShowsNothing) {
    e2e::session s(korvel("a/1\nb/2\n", 10, 60));
    ASSERT_TRUE(ready(s));
    quit(s);
    EXPECT_EQ(s.raw_output().find("korvel: "), std::string::npos);
}

// Ctrl-C typed at the terminal and a quit signal from elsewhere end korvel at
// once, though the list has not ended and no read has returned.
TEST(LoadingLine, QuitWhileTheListStallsEndsAtOnce) {
    struct quit_case {
        const char* name;
        int sig; // 0: Ctrl-C typed
    };
    for (const quit_case c : {quit_case{"Ctrl-C", 0}, quit_case{"SIGTERM", SIGTERM},
                              quit_case{"SIGHUP", SIGHUP}}) {
        SCOPED_TRACE(c.name);
        slow_list list;
        e2e::session s(korvel_on(list));
        ASSERT_TRUE(list.write_text("a/1\n"));
        ASSERT_TRUE(s.wait_for([&] { return line_shows(s, "korvel: reading 1 path, 4 bytes"); }))
            << s.dump();
        if (c.sig == 0) {
            s.send("\x03");
        } else {
            s.send_signal(c.sig);
        }
        ASSERT_TRUE(s.wait_exit(std::chrono::seconds(2))) << s.dump();
        EXPECT_EQ(s.exit_status(), 0);
        EXPECT_EQ(s.stdout_data(), "");
        EXPECT_EQ(s.stderr_data(), "");
        EXPECT_FALSE(line_shows(s, "korvel")) << s.dump(); // the line was erased
        EXPECT_EQ(screens_entered(s), 0u);
    }
}

TEST(LoadingLine, QuitWhileReadingATerminalEndsAtOnce) {
    // A terminal as the input, named as the FILE: korvel reads it as a list
    // (it does not list the directory), and Ctrl-C ends it.
    e2e::launch how = korvel("", 10, 60, {"/dev/tty"});
    e2e::session s(how);
    ASSERT_TRUE(s.wait_for([&] { return catches(s.pid(), SIGINT); })) << s.dump();
    s.send("\x03");
    ASSERT_TRUE(s.wait_exit(std::chrono::seconds(2))) << s.dump();
    EXPECT_EQ(s.exit_status(), 0);
    EXPECT_EQ(s.stderr_data(), "");
}

// Under a limit on the address space (ulimit -v, or the like in a
// container) korvel either loads or says in one line that it cannot, with
// status 1: never a signal, never an abort. A load that fits under a limit
// fits under every higher one. Run without sanitizers, whose shadow memory
// alone is far beyond these limits.
TEST(LoadingUnderALimit, LoadsOrSaysItCannotInOneLine) {
    char dir[] = "/tmp/korvel-limit-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/list";
    {
        // 30 MB, much like a real listing.
        std::string list;
        for (int i = 0; i < 400000; ++i) {
            char line[112];
            snprintf(line, sizeof line,
                     "project%02d/module%03d/src/component_%05d/file_%06d_with_a_longer_name.txt\n",
                     i % 7, i % 113, i % 4999, i);
            list += line;
        }
        FILE* out = fopen(path.c_str(), "w");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(fwrite(list.data(), 1, list.size(), out), list.size());
        ASSERT_EQ(fclose(out), 0);
    }
    const auto generous = std::chrono::seconds(60);
    bool loaded_below = false;
    // From far too little for the list to plenty, in steps small enough to
    // meet a limit where the first reservations leave too little room for
    // the later ones.
    for (const uint64_t megabytes : {48, 100, 150, 200, 250, 300, 350, 400, 450, 500, 600, 800, 1024}) {
        SCOPED_TRACE(std::to_string(megabytes) + " MB");
        e2e::launch how = korvel("", 10, 60, {path});
        how.program = KORVEL_PLAIN_BINARY;
        how.stdin_data.reset();
        how.address_space_limit = megabytes << 20;
        e2e::session s(how);
        ASSERT_TRUE(s.wait_for([&] { return s.exited() || (s.alt_screen() && !status_row(s).empty()); },
                               generous))
            << s.dump();
        if (!s.exited()) {
            // The frame reaches the terminal in pieces: its counter may come last.
            EXPECT_TRUE(s.wait_for([&] { return status_row(s).find("1/") != std::string::npos; }))
                << s.dump();
            s.send("q");
        }
        ASSERT_TRUE(s.wait_exit(generous)) << s.dump();
        EXPECT_EQ(s.term_signal(), 0) << s.dump();
        const bool loaded = s.exit_status() == 0;
        if (!loaded) {
            EXPECT_EQ(s.exit_status(), 1) << s.dump();
            const std::string& error = s.stderr_data();
            EXPECT_EQ(error.find('\n'), error.size() - 1) << error;
            EXPECT_EQ(error.rfind(std::string(KORVEL_PLAIN_BINARY) + ": ", 0), 0u) << error;
        }
        // Too little is said so; plenty loads; so does every limit above one
        // that loaded.
        if (megabytes == 48) {
            EXPECT_FALSE(loaded) << s.dump();
        }
        if (megabytes == 1024 || loaded_below) {
            EXPECT_TRUE(loaded) << s.dump();
        }
        loaded_below = loaded_below || loaded;
    }
    unlink(path.c_str());
    rmdir(dir);
}

} // namespace

namespace {

// A producer that writes to the terminal while korvel loads its list (find
// with "Permission denied"): its line stands on a row of its own, not run
// on after the loading line, and the loading line comes back after it.
TEST(LoadingLine, ProducersOwnLinesStandOnTheirOwnRows) {
    char dir_template[] = "/tmp/korvel-e2e-producer-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string dir = dir_template;
    // One gate for each wait, so that no write can reach an earlier read.
    const std::string gate[3] = {dir + "/gate0", dir + "/gate1", dir + "/gate2"};
    for (const std::string& g : gate) ASSERT_EQ(mkfifo(g.c_str(), 0600), 0);
    const std::string complaint = "find: '/somewhere/rather/long/and/locked': Permission denied";
    e2e::launch how;
    how.program = "/bin/sh";
    // The producer writes a line, waits for the test, complains on the
    // terminal, waits again, and writes another line.
    how.args = {"-c", "{ printf 'a/1\\n'; read x < " + gate[0] + "; echo \"" + complaint +
                          "\" >&2; read x < " + gate[1] + "; printf 'b/2\\n'; read x < " +
                          gate[2] + "; } | " + KORVEL_BINARY};
    how.rows = 10;
    how.cols = 80;
    how.terminal_streams = e2e::launch::on_terminal::ALL;
    e2e::session s(how);
    int released = 0;
    const auto release = [&] {
        const int fd = open(gate[released++].c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, "\n", 1), 1);
        close(fd);
    };
    ASSERT_TRUE(s.wait_for([&] { return line_shows(s, "korvel: reading 1 path, 4 bytes"); }))
        << s.dump();
    release();
    release();
    ASSERT_TRUE(s.wait_for([&] { return line_shows(s, "korvel: reading 2 paths, 8 bytes"); }))
        << s.dump();
    int complaint_row = -1, loading_row = -1;
    for (int r = 0; r < s.rows(); ++r) {
        if (s.row_text(r) == complaint) complaint_row = r;
        if (s.row_text(r).rfind("korvel: reading", 0) == 0) loading_row = r;
    }
    EXPECT_GE(complaint_row, 0) << s.dump();
    EXPECT_GT(loading_row, complaint_row) << s.dump();
    release();
    ASSERT_TRUE(ready(s));
    quit(s);
    for (const std::string& g : gate) unlink(g.c_str());
    rmdir(dir.c_str());
}

} // namespace
