// A job-control shell in miniature, for tests of suspension.
//
//   JOBSHELL_LOG=<file> [JOBSHELL_PIPE_TO=<reader>] jobshell <program> [args...]
//
// The test harness starts its child in a new session, so the child's process
// group has no parent in the same session. Such an orphaned group is not
// allowed to stop on SIGTSTP. This program stands where an interactive shell
// would: it runs <program> in a process group of its own, makes that group
// the terminal's foreground group, and waits for it, so the program can stop
// and be continued like any job. Standard input, output and error pass
// through unchanged.
//
// With JOBSHELL_PIPE_TO the job is a pipeline, `program | reader`: the
// reader (run without arguments) gets the program's standard output, in the
// same process group, and its own output is the shell's.
//
// The log file gets one line per event, each written in one piece:
//   pid <n>             once the program has started
//   stopped <signal>    each time it stops
//   continued           each time it is continued
//   exited <code>       or   signaled <signal>   at the end
// and the same for the reader, each line after "reader " (with its pid).
// The shell ends, once both have, the same way the program did.
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int log_fd = -1;

void log_line(const std::string& line) {
    if (log_fd < 0) return;
    const std::string text = line + "\n";
    [[maybe_unused]] const ssize_t n = write(log_fd, text.data(), text.size());
}

// The terminal refuses a change of foreground group to a background caller
// unless SIGTTOU is ignored around it.
void give_terminal_to(int tty, pid_t group) {
    void (*previous)(int) = signal(SIGTTOU, SIG_IGN);
    tcsetpgrp(tty, group);
    signal(SIGTTOU, previous);
}

// Starts argv[0] in the process group `group` (a new one of its own when 0)
// with the terminal given to that group; `end` of the pipe, when there is
// one, becomes its descriptor `as`. The child's pid, or -1.
pid_t start(char** argv, int tty, pid_t group, const int pipe_fds[2], int as) {
    const pid_t child = fork();
    if (child < 0) {
        fprintf(stderr, "jobshell: fork: %s\n", strerror(errno));
        return -1;
    }
    if (child == 0) {
        // Die with the shell: a test that gives up kills the shell's group,
        // which this job is no longer part of.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() == 1) _exit(2);
        setpgid(0, group);
        give_terminal_to(tty, getpgrp());
        close(tty);
        if (pipe_fds[0] >= 0) {
            dup2(pipe_fds[as == STDIN_FILENO ? 0 : 1], as);
            close(pipe_fds[0]);
            close(pipe_fds[1]);
        }
        execv(argv[0], argv);
        fprintf(stderr, "jobshell: %s: %s\n", argv[0], strerror(errno));
        _exit(127);
    }
    // Both sides set the group, so neither the exec nor the tcsetpgrp below
    // races the other.
    setpgid(child, group == 0 ? child : group);
    give_terminal_to(tty, group == 0 ? child : group);
    return child;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: jobshell <program> [args...]\n");
        return 2;
    }
    if (const char* path = getenv("JOBSHELL_LOG")) {
        log_fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (log_fd < 0) {
            fprintf(stderr, "jobshell: %s: %s\n", path, strerror(errno));
            return 2;
        }
    }
    const int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0) {
        fprintf(stderr, "jobshell: /dev/tty: %s\n", strerror(errno));
        return 2;
    }

    int pipe_fds[2] = {-1, -1};
    const char* reader = getenv("JOBSHELL_PIPE_TO");
    if (reader != nullptr && pipe(pipe_fds) != 0) {
        fprintf(stderr, "jobshell: pipe: %s\n", strerror(errno));
        return 2;
    }
    const pid_t child = start(argv + 1, tty, 0, pipe_fds, STDOUT_FILENO);
    if (child < 0) return 2;
    log_line("pid " + std::to_string(child));
    pid_t reader_pid = -1;
    if (reader != nullptr) {
        char* reader_argv[] = {const_cast<char*>(reader), nullptr};
        reader_pid = start(reader_argv, tty, child, pipe_fds, STDIN_FILENO);
        if (reader_pid < 0) return 2;
        log_line("reader pid " + std::to_string(reader_pid));
        close(pipe_fds[0]);
        close(pipe_fds[1]);
    }

    int running = reader_pid > 0 ? 2 : 1;
    int program_status = 0;
    while (running > 0) {
        int status = 0;
        const pid_t got = waitpid(-child, &status, WUNTRACED | WCONTINUED);
        if (got < 0) {
            if (errno == EINTR) continue;
            fprintf(stderr, "jobshell: waitpid: %s\n", strerror(errno));
            return 2;
        }
        const std::string who = got == child ? "" : "reader ";
        if (WIFSTOPPED(status)) {
            // The job keeps the terminal while it is stopped: the test
            // continues it with a plain SIGCONT, as `fg` would after handing
            // the terminal back.
            log_line(who + "stopped " + std::to_string(WSTOPSIG(status)));
        } else if (WIFCONTINUED(status)) {
            log_line(who + "continued");
        } else if (WIFEXITED(status) || WIFSIGNALED(status)) {
            log_line(who + (WIFEXITED(status) ? "exited " + std::to_string(WEXITSTATUS(status))
                                              : "signaled " + std::to_string(WTERMSIG(status))));
            if (got == child) program_status = status;
            --running;
        }
    }
    if (WIFSIGNALED(program_status)) {
        const int sig = WTERMSIG(program_status);
        signal(sig, SIG_DFL);
        raise(sig);
        return 128 + sig;
    }
    return WEXITSTATUS(program_status);
}
