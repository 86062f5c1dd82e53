// The command line.
#pragma once

#include "config/config.hpp"
#include "base/outcome.hpp"
#include "match/search.hpp"

namespace korvel {

struct options {
    // The first operand; further operands are ignored.
    const char* input_path = nullptr;
    char separator = '/';
    // What the options chose of what `set` lines can choose too: these win
    // over the configuration file's.
    settings given;
    // Only a NUL byte ends an input line, so names may hold newlines.
    bool read0 = false;
    // Printed paths end with a NUL byte instead of a newline.
    bool print0 = false;
};

// The status of a quit without a pick under --cancel-status, as fzf and a
// shell's Ctrl-C give.
inline constexpr int CANCEL_STATUS = 130;

enum class parse_result {
    RUN,        // go on with these options
    DONE,       // the help or version text was printed: exit 0
    REPORTED,   // getopt_long has reported a bad option: exit 1
    FAILED,     // exit 1 after printing the failure
};

// Options act in the order given, and the first -h or -v ends the parsing.
parse_result parse_args(options& opts, int argc, char** argv, outcome& failure);

} // namespace korvel
