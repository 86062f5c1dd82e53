#include "app/clipboard.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/child_process.hpp"
#include "base/digit_groups.hpp"
#include "app/osc52.hpp"
#include "app/picked.hpp"
#include "term/term.hpp"
#include "base/unique_fd.hpp"

namespace korvel {

namespace {

// The start of a clipboard program's error output: enough for its reason.
constexpr size_t KEPT_ERROR_OUTPUT = 255;

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

// Terminals cap what one OSC 52 sequence may carry, commonly around 100 kB
// of base64; above that the copy would be dropped (or cut) with no word.
constexpr size_t OSC52_MAX_BASE64 = 100000;

// The largest text whose base64 fits under the cap: 4 characters for each
// 3 bytes or fewer.
constexpr size_t OSC52_MAX_TEXT = OSC52_MAX_BASE64 / 4 * 3;

bool term_starts_with(std::string_view prefix) {
    const char* term = getenv("TERM");
    return term != nullptr && std::string_view(term).starts_with(prefix);
}

// How the sequence reaches the terminal in front of the user. tmux takes a
// plain OSC 52 into its own clipboard and hands it on with set-clipboard
// on, the setting users set for this; the passthrough it drops by default
// would be lost. screen knows no OSC 52 and passes it on only inside its
// DCS strings. TERM=screen without either variable (over ssh) may be tmux
// or screen: both forms go, each of which the other ignores.
std::vector<osc52_wrap> terminal_wraps() {
    if (is_set("TMUX")) return {osc52_wrap::NONE};
    if (is_set("STY")) return {osc52_wrap::SCREEN};
    if (term_starts_with("screen")) return {osc52_wrap::NONE, osc52_wrap::SCREEN};
    return {osc52_wrap::NONE};
}

// What the row says after the terminal took the text, or was to: korvel
// sends the sequence and cannot know whether the terminal accepted it.
// `failed` is what went wrong before, if anything, and leads the message.
void copy_through_terminal(viewer& v, const std::string& text, const std::string& failed) {
    const std::string lead = failed.empty() ? std::string() : failed + "; ";
    const status_style style = failed.empty() ? status_style::MESSAGE : status_style::ERROR;
    const uint64_t paths = std::max<uint64_t>(v.marks.count(), 1);
    if (text.size() > OSC52_MAX_TEXT) {
        const std::string what = paths > 1 ? grouped(paths) + " paths make" : "the path is";
        v.status.showf(status_style::ERROR, "%s%s: %s %s bytes, more than a terminal takes (%s)",
                       lead.c_str(), failed.empty() ? "Not copied" : "not copied either",
                       what.c_str(), grouped(text.size()).c_str(), grouped(OSC52_MAX_TEXT).c_str());
        return;
    }
    for (const osc52_wrap wrap : terminal_wraps()) {
        const std::string sequence = osc52_sequence(text, wrap);
        // Only the framing and the base64 of the path may reach the
        // terminal, whatever bytes the name holds.
        if (!osc52_is_safe(sequence, wrap)) {
            v.status.show_error(lead +
                                "Failed to copy: the clipboard sequence is not safe to send");
            return;
        }
        if (tb_send_sequence(sequence) != 0) {
            v.status.show_error(lead + "Failed to copy: write() failed");
            return;
        }
    }
    const char* sent = failed.empty() ? "Sent" : "sent";
    const char* instead = failed.empty() ? "" : " instead";
    if (paths > 1) {
        v.status.showf(style, "%s%s %s paths to the terminal's clipboard%s", lead.c_str(), sent,
                       grouped(paths).c_str(), instead);
    } else {
        v.status.showf(style, "%s%s to the terminal's clipboard%s: %s", lead.c_str(), sent, instead,
                       text.c_str());
    }
}

// How a clipboard program failed, in its own words when it said anything:
// the first line of its error output, without its name in front.
std::string program_failure(const char* name, const std::string& said, const std::string& end) {
    std::string reason = said.substr(0, said.find('\n'));
    reason.resize(std::min(reason.size(), reason.find('\0')));
    const std::string own = std::string(name) + ": ";
    if (reason.starts_with(own)) reason.erase(0, own.size());
    if (reason.empty()) reason = end;
    return "Failed to copy with " + std::string(name) + ": " + reason;
}

struct program_copy {
    enum result_t {
        DONE,      // the row says how it went
        NOT_FOUND, // none of them could be started after all
        FAILED,    // one started and failed, as `failure` says
    };
    result_t result = DONE;
    std::string failure;
};

// Tries the programs in order: one that vanished since it was found is
// passed over, as one never found is; the first that starts is the one.
program_copy copy_through_program(viewer& v, const std::string& text,
                                  const std::vector<found_program>& found) {
    // Its output goes nowhere: the screen is the viewer's. Its error output
    // is kept to say why it failed.
    const unique_fd null(open("/dev/null", O_WRONLY | O_CLOEXEC));
    const child_stream dropped =
        null.get() >= 0 ? child_stream::descriptor(null.get()) : child_stream::inherit();
    child_process child;
    const found_program* started = nullptr;
    for (const found_program& f : found) {
        child_spec spec;
        spec.path = f.path;
        spec.argv = {f.program->name};
        spec.argv.insert(spec.argv.end(), f.program->args.begin(), f.program->args.end());
        spec.input = child_stream::pipe();
        spec.output = dropped;
        spec.errors = child_stream::pipe();
        const start_failure failure = child.start(spec);
        if (failure == start_failure::NONE) {
            started = &f;
            break;
        }
        if (failure == start_failure::PIPE) {
            v.status.show_error("Failed to copy: pipe() failed");
            return {};
        }
        if (failure == start_failure::FORK) {
            v.status.show_error("Failed to copy: fork() failed");
            return {};
        }
        if (errno != ENOENT)
            return {program_copy::FAILED, program_failure(f.program->name, {}, strerror(errno))};
    }
    if (started == nullptr) return {program_copy::NOT_FOUND, {}};
    const char* name = started->program->name;

    // Exactly the bytes of the paths: no terminator, nothing cut short.
    const bool written = write_to_child(child.input().get(), text);
    child.input().reset();
    kept_output said(KEPT_ERROR_OUTPUT);
    wait_hooks hooks;
    hooks.sink = &said;
    const child_end end = child.wait(hooks);
    // The status of a shell that could not find what it was to run: a
    // wrapper whose program is missing leaves the copy to the terminal, as a
    // program not found at all does.
    if (end.state == child_end::ENDED && WIFEXITED(end.status) && WEXITSTATUS(end.status) == 127)
        return {program_copy::NOT_FOUND, {}};
    if (end.state != child_end::ENDED) {
        v.status.show_error("Failed to copy: waitpid() failed");
        return {};
    }
    // Killed before it could take the text, too: nothing was copied.
    if (!WIFEXITED(end.status) || WEXITSTATUS(end.status) != 0)
        return {program_copy::FAILED, program_failure(name, said.kept(), describe_end(end.status))};
    // Ended well without taking all of the text.
    if (!written) return {program_copy::FAILED, program_failure(name, {}, "write() failed")};
    const uint64_t paths = v.marks.count();
    if (paths > 1) {
        v.status.showf(status_style::MESSAGE, "Copied %s paths", grouped(paths).c_str());
    } else {
        v.status.showf(status_style::MESSAGE, "Copied: %s", text.c_str());
    }
    return {};
}

} // namespace

void copy_to_clipboard(viewer& v) {
    const std::string text = picked_text(v);
    // Over ssh a clipboard program would fill the remote machine's clipboard,
    // if it has one; a tmux or screen session outlives the display it was
    // started on and may now be attached from another. The terminal in front
    // of the user is the one whose clipboard is wanted.
    if (is_set("SSH_TTY") || is_set("TMUX") || is_set("STY")) {
        copy_through_terminal(v, text, {});
        return;
    }
    const std::vector<found_program> found = find_programs();
    if (found.empty()) {
        copy_through_terminal(v, text, {});
        return;
    }
    // A program that fails (xsel with no display to reach) is named with
    // its own words, and the terminal gets the text instead.
    const program_copy copied = copy_through_program(v, text, found);
    if (copied.result != program_copy::DONE) copy_through_terminal(v, text, copied.failure);
}

} // namespace korvel
