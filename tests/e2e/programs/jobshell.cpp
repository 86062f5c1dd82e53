// A job-control shell in miniature, for tests of suspension.
//
//   JOBSHELL_LOG=<file> jobshell <program> [args...]
//
// The test harness starts its child in a new session, so the child's process
// group has no parent in the same session. Such an orphaned group is not
// allowed to stop on SIGTSTP. This program stands where an interactive shell
// would: it runs <program> in a process group of its own, makes that group
// the terminal's foreground group, and waits for it, so the program can stop
// and be continued like any job. Standard input, output and error pass
// through unchanged.
//
// The log file gets one line per event, each written in one piece:
//   pid <n>             once the program has started
//   stopped <signal>    each time it stops
//   continued           each time it is continued
//   exited <code>       or   signaled <signal>   at the end
// The shell then ends the same way the program did.
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

    const pid_t child = fork();
    if (child < 0) {
        fprintf(stderr, "jobshell: fork: %s\n", strerror(errno));
        return 2;
    }
    if (child == 0) {
        // Die with the shell: a test that gives up kills the shell's group,
        // which this job is no longer part of.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() == 1) _exit(2);
        setpgid(0, 0);
        give_terminal_to(tty, getpgrp());
        close(tty);
        execv(argv[1], argv + 1);
        fprintf(stderr, "jobshell: %s: %s\n", argv[1], strerror(errno));
        _exit(127);
    }
    // Both sides set the group, so neither the exec nor the tcsetpgrp below
    // races the other.
    setpgid(child, child);
    give_terminal_to(tty, child);
    log_line("pid " + std::to_string(child));

    for (;;) {
        int status = 0;
        const pid_t got = waitpid(child, &status, WUNTRACED | WCONTINUED);
        if (got < 0) {
            if (errno == EINTR) continue;
            fprintf(stderr, "jobshell: waitpid: %s\n", strerror(errno));
            return 2;
        }
        if (WIFSTOPPED(status)) {
            // The job keeps the terminal while it is stopped: the test
            // continues it with a plain SIGCONT, as `fg` would after handing
            // the terminal back.
            log_line("stopped " + std::to_string(WSTOPSIG(status)));
        } else if (WIFCONTINUED(status)) {
            log_line("continued");
        } else if (WIFEXITED(status)) {
            log_line("exited " + std::to_string(WEXITSTATUS(status)));
            return WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            const int sig = WTERMSIG(status);
            log_line("signaled " + std::to_string(sig));
            signal(sig, SIG_DFL);
            raise(sig);
            return 128 + sig;
        }
    }
}
