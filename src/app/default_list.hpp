// The list korvel makes for itself when it is started on a terminal with no
// FILE to read: the files and directories below the working directory, from
// its own walker or from the command the user put in KORVEL_DEFAULT_COMMAND.
#pragma once

#include <string>
#include <vector>

#include "app/loading_line.hpp"
#include "app/session.hpp"
#include "base/outcome.hpp"

namespace korvel {

struct default_list {
    // The paths, each ended by a NUL byte (the walker's, which keeps names
    // whole whatever they hold) or by a newline or NUL (a command's).
    std::string bytes;
    bool nul_only = false;
    // What went wrong without stopping the listing (directories that could
    // not be read, a command that failed after some output), for the first
    // frame's status row; empty when nothing did.
    std::string notice;
    // Every problem the notice could only count, one a line, for standard
    // error once the terminal is given back.
    std::vector<std::string> details;
    // Names the list in "%s seems to be empty".
    const char* source = "directory";
    // A quit came before the list was complete.
    bool cancelled = false;
};

// KORVEL_DEFAULT_COMMAND, when set and not empty, runs through /bin/sh with
// /dev/null as its input (the terminal belongs to the viewer) and its output
// is the list, split at newlines and NUL bytes (at NUL bytes only with
// `read0`); a command that fails and lists nothing is a failure
// ("KORVEL_DEFAULT_COMMAND exited with code %d"). Otherwise the walker lists
// ".", its paths kept whole whatever bytes their names hold, telling the
// loading line how far it has come. Either way a quit request ends the
// listing at once.
outcome make_default_list(bool read0, bool one_file_system, session& s, loading_line& line,
                          default_list& out);

// The walker's list of everything below dir, each path with dir in front
// ("src/main.c" for "src", "/etc/hosts" for "/") so that a pick is a path
// from the working directory; "." lists paths as they are below it.
outcome walk_directory(const char* dir, bool one_file_system, session& s, loading_line& line,
                       default_list& out);

} // namespace korvel
