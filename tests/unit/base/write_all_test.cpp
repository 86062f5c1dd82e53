#include "base/write_all.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <string>
#include <thread>

#include "base/child_process.hpp"
#include "base/unique_fd.hpp"

using namespace korvel;

namespace {

void on_signal(int) {}

// A handler installed without SA_RESTART, so that a write it interrupts
// returns early: with EINTR before any byte went, short after some did.
class interrupting_signal {
  public:
    interrupting_signal() {
        struct sigaction action {};
        action.sa_handler = on_signal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR1, &action, &previous_);
    }
    ~interrupting_signal() { sigaction(SIGUSR1, &previous_, nullptr); }

  private:
    struct sigaction previous_ {};
};

std::string pattern(size_t size) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
    return text;
}

// A writer held up by a slow reader on the smallest pipe, its write
// interrupted again and again: every byte still arrives, in order.
TEST(WriteAll, InterruptedAndShortWritesGoOnToTheEnd) {
    const interrupting_signal signal;
    pipe_pair pipe;
    ASSERT_EQ(open_pipe(&pipe), 0);
    fcntl(pipe.write_end.get(), F_SETPIPE_SZ, 4096);
    const std::string sent = pattern(1 << 20);

    std::atomic<bool> done{false};
    bool ok = false;
    int error = 0;
    std::thread writer([&] {
        ok = write_all(pipe.write_end.get(), sent);
        error = errno;
        pipe.write_end.reset();
        done = true;
    });
    std::string received;
    char buffer[1000];
    for (;;) {
        if (!done) pthread_kill(writer.native_handle(), SIGUSR1);
        const ssize_t n = read(pipe.read_end.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        ASSERT_GE(n, 0) << strerror(errno);
        if (n == 0) break;
        received.append(buffer, static_cast<size_t>(n));
    }
    writer.join();
    EXPECT_TRUE(ok) << strerror(error);
    EXPECT_EQ(received.size(), sent.size());
    EXPECT_TRUE(received == sent);
}

// A reader that has gone: write_all reports it with errno; write_to_child
// does so without the SIGPIPE that would end the process, and leaves none
// pending.
TEST(WriteAll, ReaderGoneIsReportedAsEpipe) {
    const std::string text = pattern(100000);
    for (bool to_child : {false, true}) {
        SCOPED_TRACE(to_child ? "write_to_child" : "write_all");
        pipe_pair pipe;
        ASSERT_EQ(open_pipe(&pipe), 0);
        pipe.read_end.reset();
        sigset_t pipe_signal, old;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        if (!to_child) pthread_sigmask(SIG_BLOCK, &pipe_signal, &old);
        errno = 0;
        const bool ok = to_child ? write_to_child(pipe.write_end.get(), text)
                                 : write_all(pipe.write_end.get(), text);
        const int error = errno;
        if (!to_child) {
            const timespec no_wait{0, 0};
            sigtimedwait(&pipe_signal, nullptr, &no_wait);
            pthread_sigmask(SIG_SETMASK, &old, nullptr);
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, EPIPE);
        sigset_t pending;
        sigpending(&pending);
        EXPECT_FALSE(sigismember(&pending, SIGPIPE));
    }
}

} // namespace
