#include "app/cli.hpp"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "app/shell_scripts.hpp"

namespace korvel {

namespace {

const char USAGE_TEXT[] = "Usage: korvel [OPTION...] [FILE]\n\n"
                          "Options:\n"
                          "       --fold, -f\n"
                          "              Fold directories by default.\n\n"
                          "       --separator=<C>, -s <C>\n"
                          "              Set directory separator to C.  / is the default value.\n\n"
                          "       --help, -h\n"
                          "              Print a help message and exit.\n\n"
                          "       --version, -v\n"
                          "              Display version information and exit.\n\n"
                          "       --ignore-case, -i\n"
                          "              Match search and filter patterns regardless of case.\n\n"
                          "       --smart-case, -S\n"
                          "              Ignore case unless the pattern holds an upper-case letter.\n\n"
                          "       --counts, -c\n"
                          "              Show the number of entries below each directory.\n\n"
                          "       --compact, -C\n"
                          "              Show directories that hold one directory as one row.\n\n"
                          "       --shell=<SHELL>\n"
                          "              Print the key bindings for SHELL (bash, zsh or fish) and exit.\n\n"
                          "       --read0, -z\n"
                          "              Split the input at NUL bytes only, so names may hold "
                          "newlines.\n\n"
                          "       --print0, -0\n"
                          "              End each printed path with a NUL byte instead of a "
                          "newline.\n\n"
                          "       --cancel-status, -E\n"
                          "              Exit with status 130 when quitting without picking a "
                          "path.\n\n"
                          "       --one-file-system, -x\n"
                          "              List a directory without entering other file systems.\n\n"
                          "       --preview, -p\n"
                          "              Show the preview pane from the start (P shows or hides "
                          "it).\n\n"
                          "       --preview-window=<right|bottom>[:<SIZE>%]\n"
                          "              Put the preview pane beside or below the tree, SIZE per "
                          "cent of the screen.\n\n"
                          "       --preview-command=<CMD>\n"
                          "              Preview with the output of CMD, run by /bin/sh with the "
                          "path in $f.\n\n";

const char VERSION_TEXT[] = "korvel v" KORVEL_VERSION "\n"
                            "A terminal viewer and picker for lists of paths.";

// --shell has no short form: -s and -S are taken, and it is typed once, in
// a start-up file.
constexpr int SHELL_OPTION = 256;
constexpr int PREVIEW_WINDOW_OPTION = 257;
constexpr int PREVIEW_COMMAND_OPTION = 258;

// What `eval "$(korvel --shell bash)"` runs: a script cut short by a
// failed write must not pass for a whole one.
parse_result print_shell_script(const char* shell, outcome& failure) {
    const std::string_view script = shell_script(shell);
    if (script.empty()) {
        failure = outcome::failuref("unknown shell: %s (bash, zsh or fish)", shell);
        return parse_result::FAILED;
    }
    if (fwrite(script.data(), 1, script.size(), stdout) != script.size() || fflush(stdout) == EOF) {
        failure = outcome::failuref("failed to write the shell script: %s", strerror(errno));
        return parse_result::FAILED;
    }
    return parse_result::DONE;
}

} // namespace

parse_result parse_args(options& opts, int argc, char** argv, outcome& failure) {
    static const option LONG_OPTIONS[] = {
        {"fold", no_argument, nullptr, 'f'},
        {"separator", required_argument, nullptr, 's'},
        {"version", no_argument, nullptr, 'v'},
        {"help", no_argument, nullptr, 'h'},
        {"ignore-case", no_argument, nullptr, 'i'},
        {"smart-case", no_argument, nullptr, 'S'},
        {"counts", no_argument, nullptr, 'c'},
        {"compact", no_argument, nullptr, 'C'},
        {"shell", required_argument, nullptr, SHELL_OPTION},
        {"read0", no_argument, nullptr, 'z'},
        {"print0", no_argument, nullptr, '0'},
        {"cancel-status", no_argument, nullptr, 'E'},
        {"one-file-system", no_argument, nullptr, 'x'},
        {"preview", no_argument, nullptr, 'p'},
        {"preview-window", required_argument, nullptr, PREVIEW_WINDOW_OPTION},
        {"preview-command", required_argument, nullptr, PREVIEW_COMMAND_OPTION},
        {nullptr, 0, nullptr, 0},
    };
    for (;;) {
        const int code = getopt_long(argc, argv, "fs:vhiScCz0Exp", LONG_OPTIONS, nullptr);
        switch (code) {
        case -1:
            if (optind < argc) opts.input_path = argv[optind];
            return parse_result::RUN;
        case 'f':
            opts.given.fold = true;
            break;
        case 's':
            if (strlen(optarg) != 1) {
                failure = outcome::failure("directory separator must a single character");
                return parse_result::FAILED;
            }
            opts.separator = optarg[0];
            break;
        case 'i':
            opts.given.letter_case = case_mode::IGNORE;
            break;
        case 'S':
            opts.given.letter_case = case_mode::SMART;
            break;
        case 'c':
            opts.given.counts = true;
            break;
        case 'C':
            opts.given.compact = true;
            break;
        case 'v':
            puts(VERSION_TEXT);
            return parse_result::DONE;
        case 'h':
            puts(USAGE_TEXT);
            return parse_result::DONE;
        case SHELL_OPTION:
            return print_shell_script(optarg, failure);
        case 'z':
            opts.read0 = true;
            break;
        case '0':
            opts.print0 = true;
            break;
        case 'E':
            opts.given.cancel_status = true;
            break;
        case 'x':
            opts.given.one_file_system = true;
            break;
        case 'p':
            opts.given.preview = true;
            break;
        case PREVIEW_WINDOW_OPTION:
            opts.given.preview_window = parse_preview_window(optarg);
            if (!opts.given.preview_window) {
                failure = outcome::failuref(
                    "invalid preview window: %s (right or bottom, then :SIZE%% if you like)", optarg);
                return parse_result::FAILED;
            }
            break;
        case PREVIEW_COMMAND_OPTION:
            opts.given.preview_command = optarg;
            opts.given.preview = true;
            break;
        case '?':
            return parse_result::REPORTED;
        case 0:
            break;
        default:
            fprintf(stderr, "getopt() returned invalid code: %d\n", code);
            abort();
        }
    }
}

} // namespace korvel
