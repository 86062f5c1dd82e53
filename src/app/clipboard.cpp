#include "app/clipboard.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "app/osc52.hpp"
#include "app/picked.hpp"
#include "term/term.hpp"
#include "base/unique_fd.hpp"

namespace korvel {

namespace {

// What the child reports when none of the programs could be started.
constexpr int NOT_FOUND = 127;

struct clipboard_program {
    const char* name;
    std::vector<const char*> args; // after the name
};

// In the order they are tried. Each is tried only when it is on PATH, so a
// machine with none of them goes straight to the terminal's clipboard.
const clipboard_program PROGRAMS[] = {
    {"xsel", {"--clipboard"}},
    {"wl-copy", {}},
    {"xclip", {"-selection", "clipboard"}},
    {"pbcopy", {}},
};

struct found_program {
    const clipboard_program* program;
    std::string path;
};

bool is_set(const char* name) {
    const char* value = getenv(name);
    return value != nullptr && *value != '\0';
}

// The executable file `name` in a folder of PATH, as execvp would find it
// (an empty entry is the working directory), or "".
std::string find_on_path(const char* name) {
    const char* path = getenv("PATH");
    std::string_view folders = path != nullptr ? path : "/bin:/usr/bin";
    for (;;) {
        const size_t colon = folders.find(':');
        const std::string_view folder = folders.substr(0, colon);
        std::string candidate = folder.empty() ? "." : std::string(folder);
        candidate += '/';
        candidate += name;
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos) return {};
        folders.remove_prefix(colon + 1);
    }
}

std::vector<found_program> find_programs() {
    std::vector<found_program> found;
    for (const clipboard_program& program : PROGRAMS) {
        std::string path = find_on_path(program.name);
        if (!path.empty()) found.push_back({&program, std::move(path)});
    }
    return found;
}

// The argument vectors are built before fork: the child only execs.
struct prepared_exec {
    std::string path;
    std::vector<char*> argv;
};

std::vector<prepared_exec> prepare(const std::vector<found_program>& found) {
    std::vector<prepared_exec> execs;
    for (const found_program& f : found) {
        prepared_exec e{f.path, {const_cast<char*>(f.program->name)}};
        for (const char* arg : f.program->args)
            e.argv.push_back(const_cast<char*>(arg));
        e.argv.push_back(nullptr);
        execs.push_back(std::move(e));
    }
    return execs;
}

// A program that vanished since it was found is passed over, as one never
// found is; one that exists and cannot start ends the copy.
[[noreturn]] void exec_clipboard_program(pipe_pair& pipe, const std::vector<prepared_exec>& execs) {
    pipe.write_end.reset();
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        close(null);
    }
    dup2(pipe.read_end.get(), STDIN_FILENO);
    for (const prepared_exec& e : execs) {
        execv(e.path.c_str(), e.argv.data());
        if (errno != ENOENT) _exit(1);
    }
    _exit(NOT_FOUND);
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

// OSC 52 travels inside the passthrough of the multiplexer the viewer runs
// in, if any; tmux is taken to be the inner one when both are named.
osc52_wrap terminal_wrap() {
    if (is_set("TMUX")) return osc52_wrap::TMUX;
    if (is_set("STY")) return osc52_wrap::SCREEN;
    return osc52_wrap::NONE;
}

void copy_through_terminal(viewer& v, const std::string& path) {
    const osc52_wrap wrap = terminal_wrap();
    const std::string sequence = osc52_sequence(path, wrap);
    // Only the framing and the base64 of the path may reach the terminal,
    // whatever bytes the name holds.
    if (!osc52_is_safe(sequence, wrap)) {
        v.status.show_error("Failed to copy: the clipboard sequence is not safe to send");
        return;
    }
    if (tb_send_sequence(sequence) != 0) {
        v.status.show_error("Failed to copy: write() failed");
        return;
    }
    if (v.marks.count() > 1) {
        v.status.showf(status_style::MESSAGE, "Copied %" PRIu64 " paths through the terminal",
                       v.marks.count());
    } else {
        v.status.showf(status_style::MESSAGE, "Copied through the terminal: %s", path.c_str());
    }
}

// False when none of the programs could be started after all, so that the
// terminal can take the path instead.
bool copy_through_program(viewer& v, const std::string& path,
                          const std::vector<found_program>& found) {
    const std::vector<prepared_exec> execs = prepare(found);
    pipe_pair pipe;
    if (open_pipe(&pipe) != 0) {
        v.status.show_error("Failed to copy: pipe() failed");
        return true;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        v.status.show_error("Failed to copy: fork() failed");
        return true;
    }
    if (pid == 0) exec_clipboard_program(pipe, execs);
    pipe.read_end.reset();

    // Exactly the bytes of the paths: no terminator, nothing cut short.
    int status = 0;
    if (!write_all(pipe.write_end.get(), path)) {
        pipe.write_end.reset();
        // A child that could start no program has usually gone before the
        // write; that is the more useful thing to know.
        if (wait_for(pid, &status) == pid && WIFEXITED(status) && WEXITSTATUS(status) == NOT_FOUND)
            return false;
        v.status.show_error("Failed to copy: write() failed");
        return true;
    }
    pipe.write_end.reset();
    if (wait_for(pid, &status) < 0) {
        v.status.show_error("Failed to copy: waitpid() failed");
        return true;
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
        return false;
    } else {
        v.status.showf(status_style::ERROR, "Failed to copy: exited with code %d",
                       WEXITSTATUS(status));
    }
    return true;
}

} // namespace

void copy_to_clipboard(viewer& v) {
    const std::string path = picked_text(v);
    // Over ssh a clipboard program would fill the remote machine's clipboard,
    // if it has one; a tmux or screen session outlives the display it was
    // started on and may now be attached from another. The terminal in front
    // of the user is the one whose clipboard is wanted.
    if (is_set("SSH_TTY") || is_set("TMUX") || is_set("STY")) {
        copy_through_terminal(v, path);
        return;
    }
    const std::vector<found_program> found = find_programs();
    if (found.empty() || !copy_through_program(v, path, found)) copy_through_terminal(v, path);
}

} // namespace korvel
