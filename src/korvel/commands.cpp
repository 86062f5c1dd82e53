#include "korvel/commands.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

#include "korvel/app.hpp"
#include "korvel/startup.hpp"
#include "korvel/status.hpp"
#include "korvel/unique_fd.hpp"
#include "korvel/view.hpp"

namespace {

// The first bytes of the command's error output: all the status row can show.
constexpr size_t KEPT_OUTPUT = 255;
char command_output[KEPT_OUTPUT + 1];

[[noreturn]] void exec_shell(const command* cmd, pipe_pair& pipe, const std::string& path) {
    dup2(pipe.write_end.get(), STDERR_FILENO);
    int tty = open("/dev/tty", O_RDONLY);
    if (tty >= 0) {
        dup2(tty, STDIN_FILENO);
        close(tty);
    }
    setenv("f", path.c_str(), 1);
    execl("/bin/sh", "/bin/sh", "-c", cmd->text.c_str(), static_cast<char*>(nullptr));
    _exit(1);
}

// Reads what is there without blocking; false once the pipe is at its end or
// broken.
bool drain(int fd, size_t* kept, bool* read_failed) {
    char scratch[4096];
    for (;;) {
        ssize_t n = read(fd, scratch, sizeof scratch);
        if (n > 0) {
            size_t take = std::min(static_cast<size_t>(n), KEPT_OUTPUT - *kept);
            std::copy(scratch, scratch + take, command_output + *kept);
            *kept += take;
            continue;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return true;
        *read_failed = true;
        return false;
    }
}

// Like a shell job: when the command is stopped from the keyboard, the viewer
// stops with it, and when continued it sees the command continued too.
void stop_with_child(pid_t pid) {
    signal(SIGTSTP, SIG_DFL);
    raise(SIGTSTP);
    signal(SIGTSTP, on_suspend_signal);
    kill(pid, SIGCONT);
}

// Waits for the command while draining its error output, so that a chatty
// command never blocks on a full pipe. Returns waitpid's result.
pid_t wait_for_command(pid_t pid, int fd, int* status, size_t* kept, bool* read_failed) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    bool open = true;
    for (;;) {
        if (open) {
            pollfd watch{fd, POLLIN, 0};
            poll(&watch, 1, 20);
            open = drain(fd, kept, read_failed);
        }
        pid_t done = waitpid(pid, status, open ? WNOHANG | WUNTRACED : WUNTRACED);
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) return done;
        if (done == 0) continue;
        if (WIFSTOPPED(*status)) {
            stop_with_child(pid);
            continue;
        }
        if (open) drain(fd, kept, read_failed);
        return done;
    }
}

void report_failure(const command* cmd, int exit_code, size_t kept, bool read_failed) {
    if (read_failed) {
        show_error("Failed to run command: read() failed");
        return;
    }
    if (kept == 0) {
        show_errorf("%s exited with status %d", cmd->text.c_str(), exit_code);
        return;
    }
    if (command_output[kept - 1] == '\n') --kept;
    command_output[kept] = '\0';
    show_error(command_output);
}

} // namespace

void run_command(const command* cmd) {
    if (shutdown_ui() != 0) {
        show_error(get_error());
        return;
    }
    const std::string path = full_path(cursor_entry());

    pipe_pair pipe;
    if (open_pipe(&pipe) != 0) {
        show_error("Failed to run command: pipe() failed");
        init_ui();
        return;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        show_error("Failed to run command: fork() failed");
        init_ui();
        return;
    }
    if (pid == 0) exec_shell(cmd, pipe, path);
    pipe.write_end.reset();

    int status = 0;
    size_t kept = 0;
    bool read_failed = false;
    if (wait_for_command(pid, pipe.read_end.get(), &status, &kept, &read_failed) < 0) {
        show_error("Failed to run command: waitpid() failed");
    } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        report_failure(cmd, WEXITSTATUS(status), kept, read_failed);
    }
    init_ui();
}
