#include "korvel/startup.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "korvel/cli.hpp"
#include "korvel/default_list.hpp"
#include "korvel/loop.hpp"
#include "korvel/picked.hpp"
#include "korvel/session.hpp"
#include "korvel/status.hpp"
#include "korvel/viewer.hpp"
#include "lines.hpp"

namespace {

struct file_closer {
    void operator()(FILE* file) const { fclose(file); }
};
using file_handle = std::unique_ptr<FILE, file_closer>;

outcome open_input(const char* path, file_handle& file) {
    errno = 0;
    file.reset(fopen(path, "re")); // not handed to mapped commands
    if (!file) return outcome::failuref("%s: %s", path, strerror(errno));
    // fopen accepts a directory; say so now rather than fail at the first read.
    struct stat st;
    if (fstat(fileno(file.get()), &st) == 0 && S_ISDIR(st.st_mode)) {
        file.reset();
        return outcome::failuref("%s: %s", path, strerror(EISDIR));
    }
    return {};
}

// Sorts and builds the tree; an empty list leaves it empty.
outcome build_tree(input_lines&& lines, const options& opts, path_tree& tree) {
    if (lines.count == 0) return {};
    sort_lines(lines.items, lines.count);
    return path_tree::build(std::move(lines), opts.separator, opts.fold_by_default, tree);
}

// Reads, sorts and builds the tree. A failure, or an empty input, ends the
// run; `empty` tells the two apart.
outcome load_tree(FILE* input, const options& opts, path_tree& tree) {
    input_lines lines;
    if (outcome read = get_lines(input, opts.separator, lines, opts.read0); !read) return read;
    return build_tree(std::move(lines), opts, tree);
}

} // namespace

int korvel_main(int argc, char** argv) {
    const char* program = argc >= 1 ? argv[0] : "korvel";
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
    file_handle file;
    if (opts.input_path != nullptr) {
        if (outcome opened = open_input(opts.input_path, file); !opened) return fail(opened);
    }
    FILE* input = file ? file.get() : stdin;

    viewer v;
    v.letter_case = opts.letter_case;
    const char* no_color = getenv("NO_COLOR");
    v.no_color = no_color != nullptr && *no_color != '\0';
    if (outcome read = read_config(v.keys); !read) return fail(read);
    session s;
    if (outcome installed = s.install_signal_handlers(); !installed) return fail(installed);

    // A quit without a pick, which scripts may ask to tell from one.
    const int cancelled = opts.cancel_status ? CANCEL_STATUS : 0;
    s.set_loading(true);
    const char* source = file ? "file" : "input";
    if (!file && isatty(STDIN_FILENO)) {
        // Nothing to read but the keyboard: list the working directory.
        default_list own;
        if (outcome made = make_default_list(opts.separator, s, own); !made) return fail(made);
        if (own.cancelled) return cancelled;
        source = own.source;
        v.start_notice = std::move(own.notice);
        if (outcome built = build_tree(std::move(own.lines), opts, v.tree); !built)
            return fail(built);
    } else if (outcome loaded = load_tree(input, opts, v.tree); !loaded) {
        return fail(loaded);
    }
    s.set_loading(false);
    if (v.tree.size() == 0) return fail(outcome::failuref("%s seems to be empty", source));
    // Ctrl-C on a slow pipeline, or a SIGTERM, while the list was read.
    if (s.requested_stop() == STOP_QUIT) return cancelled;
    file.reset();

    v.show_counts = opts.counts;
    v.tree.set_compact(opts.compact);
    v.view.cursor = v.tree.row_entry(0);
    const outcome ran = run_viewer(v, s);
    (void)s.close_terminal();
    if (!ran) return fail(ran);
    if (!v.chosen) return cancelled;
    // Paths that cannot be written are a failure, not a success: the caller
    // of a picker must not get an empty answer with status 0.
    if (outcome printed = write_picked(v, STDOUT_FILENO, opts.print0 ? '\0' : '\n'); !printed)
        return fail(printed);
    return 0;
}
