#include "app/pane.hpp"

#include <fcntl.h>
#include <poll.h>

#include <chrono>
#include <tuple>

#include "app_fixture.hpp"
#include "app/draw.hpp"
#include "base/unique_fd.hpp"

using namespace korvel;

namespace {

class PaneTest : public app_fixture {
  protected:
    void open_with(const std::string& command) {
        load("a/b\na/c\nd\n", 120, 20);
        ASSERT_EQ(open_pipe(&wake_), 0);
        ASSERT_EQ(fcntl(wake_.read_end.get(), F_SETFL, O_NONBLOCK), 0);
        ASSERT_EQ(fcntl(wake_.write_end.get(), F_SETFL, O_NONBLOCK), 0);
        v().pane.open = true;
        v().pane.command = command;
        v().pane.wake_fd = wake_.write_end.get();
    }
    // What the loop does: sleep as long as the pane allows (or until the
    // reader wakes it), then let the pane act; until `done` or a deadline.
    template <typename Done> bool run_until(Done done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            const int wait = pane_wait_ms(v());
            pollfd wake{wake_.read_end.get(), POLLIN, 0};
            poll(&wake, 1, wait < 0 ? 100 : wait);
            char drain[64];
            while (read(wake_.read_end.get(), drain, sizeof drain) > 0) {
            }
            pane_tick(v());
        }
        return done();
    }
    pipe_pair wake_;
};

// Idle with a finished preview, the loop sleeps without a time-out; the
// pane asks for one only while a command waits to start or runs silent.
TEST_F(PaneTest, NoDeadlineOnceTheCommandHasEnded) {
    open_with("echo hi");
    EXPECT_EQ(pane_wait_ms(v()), -1);
    pane_follow_cursor(v());
    const int settle = pane_wait_ms(v());
    EXPECT_GE(settle, 0);
    EXPECT_LE(settle, 100);
    ASSERT_TRUE(run_until([&] { return v().pane.output && v().pane.output->finished() && !v().pane.job; }));
    ASSERT_GE(v().pane.output->lines().size(), 1u);
    EXPECT_EQ(v().pane.output->lines()[0].runs.at(0).text, "hi");
    EXPECT_EQ(pane_wait_ms(v()), -1);
}

TEST_F(PaneTest, BuiltInPreviewHasNoDeadline) {
    open_with("");
    pane_follow_cursor(v());
    EXPECT_EQ(pane_wait_ms(v()), -1);
    EXPECT_FALSE(v().pane.lines.empty());
}

// The cursor moving on drops the old text at once, and the command starts
// only when the cursor has rested.
TEST_F(PaneTest, MovingOnDropsTheOldText) {
    open_with("printf '%s\\n' \"$f\"; exec sleep 100");
    pane_follow_cursor(v());
    ASSERT_TRUE(run_until([&] { return v().pane.output && !v().pane.output->lines()[0].runs.empty(); }));
    EXPECT_EQ(v().pane.output->lines()[0].runs[0].text, "a");
    move_cursor(v(), 1);
    pane_follow_cursor(v());
    EXPECT_FALSE(v().pane.job);
    EXPECT_FALSE(v().pane.output);
    EXPECT_TRUE(v().pane.waiting);
    ASSERT_TRUE(run_until([&] { return v().pane.output && !v().pane.output->lines()[0].runs.empty(); }));
    EXPECT_EQ(v().pane.output->lines()[0].runs[0].text, "a/b");
    pane_stop(v());
    EXPECT_FALSE(v().pane.job);
    EXPECT_EQ(pane_wait_ms(v()), -1);
}

// Beside the tree on a wide screen, below it on a narrow one; too small a
// screen has no room for it and the tree keeps the whole area.
TEST_F(PaneTest, Layout) {
    open_with("");
    struct size_case {
        int width, height;
        pane_side side;
        int percent;
        pane_layout want;
    };
    const size_case cases[] = {
        {120, 20, pane_side::AUTO, 50, {59, 19, true, 60, 0, 60, 19}},
        {99, 20, pane_side::AUTO, 50, {99, 10, true, 0, 10, 99, 9}},
        {99, 20, pane_side::RIGHT, 30, {69, 19, true, 70, 0, 29, 19}},
        {120, 21, pane_side::BOTTOM, 25, {120, 15, true, 0, 15, 120, 5}},
        {120, 2, pane_side::AUTO, 50, {120, 1, false, 0, 0, 0, 0}},
        {80, 3, pane_side::AUTO, 50, {80, 2, false, 0, 0, 0, 0}},
        {2, 20, pane_side::RIGHT, 50, {2, 19, false, 0, 0, 0, 0}},
    };
    for (const size_case& c : cases) {
        tb_shutdown();
        ASSERT_EQ(tb_init_memory(c.width, c.height), 0);
        v().screen = {c.width, c.height};
        v().pane.side = c.side;
        v().pane.percent = c.percent;
        const pane_layout l = layout_of(v());
        const pane_layout& w = c.want;
        EXPECT_EQ(std::tie(l.tree_width, l.tree_rows, l.shown, l.x, l.y, l.width, l.height),
                  std::tie(w.tree_width, w.tree_rows, w.shown, w.x, w.y, w.width, w.height))
            << c.width << "x" << c.height;
    }
}

} // namespace
