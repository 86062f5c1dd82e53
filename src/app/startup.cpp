#include "app/startup.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "app/actions.hpp"
#include "app/cli.hpp"
#include "app/default_list.hpp"
#include "app/loading_line.hpp"
#include "app/loop.hpp"
#include "app/picked.hpp"
#include "app/session.hpp"
#include "app/status.hpp"
#include "app/viewer.hpp"
#include "load/load.hpp"
#include "base/unique_fd.hpp"

namespace korvel {

namespace {

// Opens FILE, or finds it a directory to list: then file stays closed and
// directory is set.
outcome open_input(const char* path, unique_fd& file, bool& directory) {
    errno = 0;
    file.reset(open(path, O_RDONLY | O_CLOEXEC)); // not handed to mapped commands
    if (file.get() < 0) return outcome::failuref("%s: %s", path, strerror(errno));
    struct stat st;
    if (fstat(file.get(), &st) == 0 && S_ISDIR(st.st_mode)) {
        file.reset();
        directory = true;
    }
    return {};
}

// The file's `bind` lines, over the action table's own keys.
void apply_rebindings(const std::vector<key_rebinding>& rebindings, key_bindings& bindings) {
    for (const key_rebinding& r : rebindings) {
        if (r.action.empty()) {
            bindings.unbind(r.key);
        } else if (const action* a = action_named(r.action)) {
            bindings.bind(r.key, *a);
        }
    }
}

// What the bottom row says on the first frame: every notice, in order.
void add_notice(std::string& notices, const std::string& notice) {
    if (notice.empty()) return;
    if (!notices.empty()) notices += "; ";
    notices += notice;
}

// What the loader needs of the viewer's side: its options, the wake-up pipe
// that signals write to, and a tick that ends the load at a quit request
// and keeps the loading line up to date.
load_options loading_options(const options& opts, const settings& chosen, session& s,
                             loading_line& line, bool nul_only) {
    load_options load;
    load.separator = opts.separator;
    load.fold_by_default = chosen.fold.value_or(false);
    load.nul_only = nul_only;
    load.wake_fd = s.wake_fd();
    load.tick = [&s, &line](const load_progress& progress) {
        s.drain_wakeups();
        if (s.requested_stop() == STOP_QUIT) return false;
        line.update(progress);
        return true;
    };
    return load;
}

int run(const char* program, int argc, char** argv) {
    auto fail = [program](const outcome& failure) {
        print_error(program, failure.message());
        return 1;
    };

    options opts;
    outcome failure;
    switch (parse_args(opts, argc, argv, failure)) {
    case parse_result::DONE: return 0;
    case parse_result::REPORTED: return 1;
    case parse_result::FAILED: return fail(failure);
    case parse_result::RUN: break;
    }
    unique_fd file;
    bool list_directory = false;
    if (opts.input_path != nullptr) {
        if (outcome opened = open_input(opts.input_path, file, list_directory); !opened)
            return fail(opened);
    }

    viewer v;
    const char* no_color = getenv("NO_COLOR");
    v.no_color = no_color != nullptr && *no_color != '\0';
    config file_config;
    const auto is_action = [](std::string_view name) { return action_named(name) != nullptr; };
    if (outcome read = read_config(file_config, is_action); !read) return fail(read);
    v.keys = std::move(file_config.keys);
    apply_rebindings(file_config.rebindings, v.bindings);
    add_notice(v.start_notice, file_config.warning);
    // The command line wins over the file.
    settings chosen = file_config.chosen;
    chosen.override_with(opts.given);
    v.letter_case = chosen.letter_case.value_or(case_mode::SENSITIVE);
    const bool one_file_system = chosen.one_file_system.value_or(false);
    // Problems worth the whole list on standard error at the end.
    std::vector<std::string> details;
    session s;
    if (outcome installed = s.install_signal_handlers(); !installed) return fail(installed);

    // A quit without a pick, which scripts may ask to tell from one.
    const int cancelled = chosen.cancel_status.value_or(false) ? CANCEL_STATUS : 0;
    s.set_loading(true);
    const char* source = opts.input_path != nullptr ? "file" : "input";
    load_result loaded;
    {
        loading_line line;
        load_progress progress;
        if (list_directory || (opts.input_path == nullptr && isatty(STDIN_FILENO))) {
            // A directory to list, or nothing to read but the keyboard: list
            // the working directory.
            default_list own;
            const outcome made =
                list_directory
                    ? walk_directory(opts.input_path, one_file_system, s, line, own)
                    : make_default_list(opts.read0, one_file_system, s, line, own);
            if (!made) {
                // The message goes on a line of its own, not after the loading line.
                line.erase();
                return fail(made);
            }
            if (own.cancelled) return cancelled;
            source = own.source;
            add_notice(v.start_notice, own.notice);
            details = std::move(own.details);
            loaded = load_buffer(std::move(own.bytes),
                                 loading_options(opts, chosen, s, line, own.nul_only), progress,
                                 v.tree);
        } else {
            loaded = load_fd(file.get() >= 0 ? file.get() : STDIN_FILENO,
                             loading_options(opts, chosen, s, line, opts.read0), progress, v.tree);
        }
    }
    if (loaded.cancelled) return cancelled;
    if (!loaded.status) return fail(loaded.status);
    s.set_loading(false);
    if (v.tree.size() == 0) return fail(outcome::failuref("%s seems to be empty", source));
    // Ctrl-C on a slow pipeline, or a SIGTERM, while the list was read.
    if (s.requested_stop() == STOP_QUIT) return cancelled;
    file.reset();

    v.show_counts = chosen.counts.value_or(false);
    v.tree.set_compact(chosen.compact.value_or(false));
    v.pane.open = chosen.preview.value_or(false);
    const pane_place place = chosen.preview_window.value_or(pane_place{});
    v.pane.side = place.side;
    v.pane.percent = place.percent;
    v.pane.command = chosen.preview_command.value_or("");
    v.view.cursor = v.tree.row_entry(0);
    const outcome ran = run_viewer(v, s);
    (void)s.close_terminal();
    for (const std::string& detail : details) print_error(program, detail);
    if (!ran) return fail(ran);
    if (!v.chosen) return cancelled;
    // Paths that cannot be written are a failure, not a success: the caller
    // of a picker must not get an empty answer with status 0.
    if (outcome printed = write_picked(v, STDOUT_FILENO, opts.print0 ? '\0' : '\n'); !printed)
        return fail(printed);
    return 0;
}

} // namespace

int reporting_exceptions(const char* program, const std::function<int()>& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        print_error(program, strerror(ENOMEM));
    } catch (const std::exception& e) {
        print_error(program, e.what());
    } catch (...) {
        print_error(program, "unknown exception");
    }
    return 1;
}

int korvel_main(int argc, char** argv) {
    const char* program = argc >= 1 ? argv[0] : "korvel";
    return reporting_exceptions(program, [&] { return run(program, argc, argv); });
}

} // namespace korvel
