#include "korvel/startup.hpp"

#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "korvel/loop.hpp"
#include "korvel/status.hpp"
#include "lines.hpp"
#include "term.hpp"

options_t options;
uint64_t total_entries = 0;
unfolded_paths_t unfolded_paths;
key_map commands;
std::optional<line_editor> prompt_editor;
volatile sig_atomic_t stop_request = STOP_NONE;
std::optional<std::string> exit_path;

namespace {

FILE* input = stdin;
// Set while the list is read and the tree built, before any screen of ours.
volatile sig_atomic_t loading = 0;
bool input_is_file = false;
input_lines lines;

const char USAGE_TEXT[] = "Usage: korvel [OPTION...] [FILE]\n\n"
                          "Options:\n"
                          "       --fold, -f\n"
                          "              Fold directories by default.\n\n"
                          "       --separator=<C>, -s <C>\n"
                          "              Set directory separator to C.  / is the default value.\n\n"
                          "       --help, -h\n"
                          "              Print a help message and exit.\n\n"
                          "       --version, -v\n"
                          "              Display version information and exit.\n\n";

const char VERSION_TEXT[] = "korvel v" KORVEL_VERSION "\n"
                            "A terminal viewer and picker for lists of paths.";

struct handler_setup {
    int sig;
    void (*handler)(int);
    const char* failure;
};

const handler_setup HANDLERS[] = {
    {SIGABRT, on_fatal_signal, "failed to setup SIGABRT signal"},
    {SIGSEGV, on_fatal_signal, "failed to setup SIGSEGV signal"},
    {SIGINT, on_quit_signal, "failed to setup SIGINT signal"},
    {SIGTERM, on_quit_signal, "failed to setup SIGTERM signal"},
    {SIGTSTP, on_suspend_signal, "failed to setup SIGTSTP signal"},
};

int install_signal_handlers() {
    for (const handler_setup& h : HANDLERS) {
        if (signal(h.sig, h.handler) == SIG_ERR) {
            set_error(h.failure);
            return 1;
        }
    }
    // An ignored SIGCHLD, handed down by whoever started the viewer, would
    // have the kernel reap mapped commands and the clipboard program before
    // waitpid could report on them.
    signal(SIGCHLD, SIG_DFL);
    return 0;
}

int open_input(const char* path) {
    errno = 0;
    FILE* file = fopen(path, "re"); // not handed to mapped commands
    if (file == nullptr) {
        set_errorf("%s: %s", path, strerror(errno));
        return 1;
    }
    // fopen accepts a directory; say so now rather than fail at the first read.
    struct stat st;
    if (fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
        fclose(file);
        set_errorf("%s: %s", path, strerror(EISDIR));
        return 1;
    }
    input = file;
    input_is_file = true;
    return 0;
}

// Prints the path chosen with 'o'. A path that cannot be written is a
// failure, not a success: the caller of a picker must not get an empty answer
// with status 0.
int print_exit_path() {
    if (puts(exit_path->c_str()) == EOF || fflush(stdout) == EOF) {
        set_errorf("failed to write the chosen path: %s", strerror(errno));
        return 1;
    }
    return 0;
}

} // namespace

int parse_args(options_t* opts, int argc, char** argv) {
    static const option LONG_OPTIONS[] = {
        {"fold", no_argument, nullptr, 'f'},
        {"separator", required_argument, nullptr, 's'},
        {"version", no_argument, nullptr, 'v'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    for (;;) {
        int code = getopt_long(argc, argv, "fs:vh", LONG_OPTIONS, nullptr);
        switch (code) {
        case -1:
            if (optind < argc) opts->input_path = argv[optind];
            return 0;
        case 'f':
            opts->fold_by_default = 1;
            break;
        case 's':
            if (strlen(optarg) != 1) {
                set_error("directory separator must a single character");
                return 3;
            }
            opts->separator = optarg[0];
            break;
        case 'v':
            puts(VERSION_TEXT);
            return 1;
        case 'h':
            puts(USAGE_TEXT);
            return 1;
        case '?':
            return 2;
        case 0:
            break;
        default:
            fprintf(stderr, "getopt() returned invalid code: %d\n", code);
            abort();
        }
    }
}

int init_ui() {
    int rc = tb_init();
    if (rc != 0) {
        set_errorf("failed to init termbox: %s", tb_strerror(rc));
        return 1;
    }
    tb_set_input_mode(TB_INPUT_ESC | TB_INPUT_MOUSE);
    tb_hide_cursor();
    stop_request = STOP_NONE;
    return 0;
}

int shutdown_ui() {
    int rc = tb_shutdown();
    if (rc == 0 || rc == TB_ERR_NOT_INIT) return 0;
    set_errorf("failed to shutdown termbox: %s", tb_strerror(rc));
    return 1;
}

void cleanup() {
    shutdown_ui();
    free_paths(unfolded_paths.items);
    unfolded_paths.items = nullptr;
    unfolded_paths.len = 0;
    free_lines(&lines);
    if (input_is_file) {
        fclose(input);
        input = stdin;
        input_is_file = false;
    }
    prompt_editor.reset();
    commands = key_map();
}

void on_quit_signal(int) { stop_request = STOP_QUIT; }

void on_suspend_signal(int) {
    if (loading) {
        // Nothing of ours to put away yet: stop now, as the rest of the
        // pipeline does, or the shell would wait on a job that never stops
        // as a whole. (SIGTSTP itself is blocked inside its handler.)
        kill(getpid(), SIGSTOP);
        return;
    }
    stop_request = STOP_SUSPEND;
}

void on_fatal_signal(int sig) {
    // Only async-signal-safe calls here: whatever failed may have left ncurses
    // or the allocator half-way through a change.
    tb_shutdown_from_signal();
    // Die of the signal itself, so the parent sees what happened.
    signal(sig, SIG_DFL);
    raise(sig);
}

int korvel_main(int argc, char** argv) {
    program_name = argc >= 1 ? argv[0] : "korvel";

    switch (parse_args(&options, argc, argv)) {
    case 1:
        return 0;
    case 2:
        return 1;
    case 3:
        print_error(get_error());
        return 1;
    default:
        break;
    }
    if (options.input_path != nullptr && open_input(options.input_path) != 0) {
        print_error(get_error());
        return 1;
    }
    if (const outcome config = read_config(commands); !config) {
        print_error(config.message().c_str());
        return 1;
    }
    prompt_editor.emplace();
    loading = 1;
    if (install_signal_handlers() != 0) {
        print_error(get_error());
        return 1;
    }

    if (get_lines(input, options.separator, &lines) != 0) {
        print_error(get_error());
        cleanup();
        return 1;
    }
    if (lines.count == 0) {
        print_errorf("%s seems to be empty", input_is_file ? "file" : "input");
        cleanup();
        return 1;
    }
    sort_lines(lines.items, lines.count);
    total_entries =
        get_paths(&unfolded_paths, lines.items, lines.count, options.separator,
                  options.fold_by_default);
    if (total_entries == 0) {
        print_error(get_error());
        cleanup();
        return 1;
    }
    loading = 0;
    // Ctrl-C on a slow pipeline, or a SIGTERM, while the list was read: the
    // viewer's first cycle would wipe the request out and open anyway.
    if (stop_request == STOP_QUIT) {
        cleanup();
        return 0;
    }

    int result = run_event_loop();
    if (result == LOOP_INIT_FAILED) {
        print_error(get_error());
        cleanup();
        return 1;
    }
    if (exit_path) {
        shutdown_ui();
        if (print_exit_path() != 0) result = 1;
    }
    cleanup();
    if (result != 0) print_error(get_error());
    return result;
}
