// While the list is still coming: a line on the terminal says how far
// loading has come once it takes a while, and Ctrl-C, a quit signal and
// Ctrl-Z act at once, leaving the terminal as it was found.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
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

} // namespace
