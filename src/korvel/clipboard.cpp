#include "korvel/clipboard.hpp"

#include <fcntl.h>
#include <sys/wait.h>

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstring>
#include <ctime>
#include <string>

#include "korvel/picked.hpp"
#include "unique_fd.hpp"

namespace {

// What the child reports when neither program exists.
constexpr int NOT_FOUND = 127;

[[noreturn]] void exec_clipboard_program(pipe_pair& pipe) {
    pipe.write_end.reset();
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        close(null);
    }
    dup2(pipe.read_end.get(), STDIN_FILENO);
    char* const xsel[] = {const_cast<char*>("xsel"), const_cast<char*>("--clipboard"), nullptr};
    execvp(xsel[0], xsel);
    if (errno != ENOENT) _exit(1);
    char* const wl_copy[] = {const_cast<char*>("wl-copy"), nullptr};
    execvp(wl_copy[0], wl_copy);
    _exit(errno == ENOENT ? NOT_FOUND : 1);
}

// Writes every byte, and turns a reader that has gone away into an error
// rather than a SIGPIPE that would end the viewer.
bool write_all(int fd, const std::string& data) {
    sigset_t pipe_signal;
    sigset_t old_mask;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &old_mask);

    bool ok = true;
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (!ok && errno == EPIPE) {
        // Take the pending signal away before unblocking it.
        const timespec no_wait{0, 0};
        sigtimedwait(&pipe_signal, nullptr, &no_wait);
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    return ok;
}

pid_t wait_for(pid_t pid, int* status) {
    pid_t done;
    do {
        done = waitpid(pid, status, 0);
    } while (done < 0 && errno == EINTR);
    return done;
}

} // namespace

void copy_to_clipboard(viewer& v) {
    pipe_pair pipe;
    if (open_pipe(&pipe) != 0) {
        v.status.show_error("Failed to copy: pipe() failed");
        return;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        v.status.show_error("Failed to copy: fork() failed");
        return;
    }
    if (pid == 0) exec_clipboard_program(pipe);
    pipe.read_end.reset();

    // Exactly the bytes of the paths: no terminator, nothing cut short.
    const std::string path = picked_text(v);
    int status = 0;
    if (!write_all(pipe.write_end.get(), path)) {
        pipe.write_end.reset();
        // A child that found no program at all has usually gone before the
        // write; that is the more useful thing to tell.
        if (wait_for(pid, &status) == pid && WIFEXITED(status) &&
            WEXITSTATUS(status) == NOT_FOUND) {
            v.status.show_error("Failed to copy: neither xsel nor wl-copy were found");
        } else {
            v.status.show_error("Failed to copy: write() failed");
        }
        return;
    }
    pipe.write_end.reset();
    if (wait_for(pid, &status) < 0) {
        v.status.show_error("Failed to copy: waitpid() failed");
        return;
    }
    if (WIFSIGNALED(status)) {
        // Killed before it could take the text: nothing was copied.
        const char* name = sigabbrev_np(WTERMSIG(status));
        v.status.showf(status_style::ERROR, "Failed to copy: killed by SIG%s",
                       name != nullptr ? name : "?");
    } else if (WEXITSTATUS(status) == 0 && v.marks.count() > 1) {
        v.status.showf(status_style::MESSAGE, "Copied %" PRIu64 " paths", v.marks.count());
    } else if (WEXITSTATUS(status) == 0) {
        v.status.showf(status_style::MESSAGE, "Copied: %s", path.c_str());
    } else if (WEXITSTATUS(status) == NOT_FOUND) {
        v.status.show_error("Failed to copy: neither xsel nor wl-copy were found");
    } else {
        v.status.showf(status_style::ERROR, "Failed to copy: exited with code %d", WEXITSTATUS(status));
    }
}
