#include "app/clipboard.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/child_process.hpp"
#include "app/osc52.hpp"
#include "app/picked.hpp"
#include "term/term.hpp"
#include "base/unique_fd.hpp"

namespace korvel {

namespace {

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

// Tries the programs in order: one that vanished since it was found is
// passed over, as one never found is; one that exists and cannot start ends
// the copy. False when none of them could be started after all, so that the
// terminal can take the path instead.
bool copy_through_program(viewer& v, const std::string& path,
                          const std::vector<found_program>& found) {
    // Its output goes nowhere: the screen is the viewer's.
    const unique_fd null(open("/dev/null", O_WRONLY | O_CLOEXEC));
    const child_stream dropped =
        null.get() >= 0 ? child_stream::descriptor(null.get()) : child_stream::inherit();
    child_process child;
    bool started = false;
    for (const found_program& f : found) {
        child_spec spec;
        spec.path = f.path;
        spec.argv = {f.program->name};
        spec.argv.insert(spec.argv.end(), f.program->args.begin(), f.program->args.end());
        spec.input = child_stream::pipe();
        spec.output = dropped;
        spec.errors = dropped;
        const start_failure failure = child.start(spec);
        if (failure == start_failure::NONE) {
            started = true;
            break;
        }
        if (failure == start_failure::PIPE) {
            v.status.show_error("Failed to copy: pipe() failed");
            return true;
        }
        if (failure == start_failure::FORK) {
            v.status.show_error("Failed to copy: fork() failed");
            return true;
        }
        if (errno != ENOENT) {
            // As a program that started and failed at once.
            v.status.show_error("Failed to copy: exited with code 1");
            return true;
        }
    }
    if (!started) return false;

    // Exactly the bytes of the paths: no terminator, nothing cut short.
    const bool written = write_to_child(child.input().get(), path);
    child.input().reset();
    const child_end end = child.wait({});
    // The status of a shell that could not find what it was to run: a
    // wrapper whose program is missing leaves the copy to the terminal, as a
    // program not found at all does.
    if (end.state == child_end::ENDED && WIFEXITED(end.status) && WEXITSTATUS(end.status) == 127)
        return false;
    const bool failed = end.state == child_end::ENDED &&
                        (!WIFEXITED(end.status) || WEXITSTATUS(end.status) != 0);
    // A program that failed before it took all of the text broke the pipe
    // too; how it ended says more than the write.
    if (!written && !failed) {
        v.status.show_error("Failed to copy: write() failed");
        return true;
    }
    if (end.state != child_end::ENDED) {
        v.status.show_error("Failed to copy: waitpid() failed");
        return true;
    }
    if (WIFEXITED(end.status) && WEXITSTATUS(end.status) == 0) {
        if (v.marks.count() > 1) {
            v.status.showf(status_style::MESSAGE, "Copied %" PRIu64 " paths", v.marks.count());
        } else {
            v.status.showf(status_style::MESSAGE, "Copied: %s", path.c_str());
        }
    } else {
        // Killed before it could take the text, too: nothing was copied.
        v.status.show_error("Failed to copy: " + describe_end(end.status));
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
