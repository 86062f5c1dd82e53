// Listing every entry below a directory, for when korvel is started on a
// terminal with no list to read: the walk produces the list that a pipe from
// find would have carried.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/outcome.hpp"
#include "base/raw_array.hpp"

namespace korvel {

// A directory that could not be read, or not wholly. Its own entry is listed;
// what is below it is not.
struct walk_problem {
    std::string path; // relative to the root ("." for the root), bytes as stored
    int error;        // errno; 0 when the directory moved away during the walk
    // "secret: Permission denied". The path's bytes are passed on unchanged:
    // whoever shows the message must make them safe for the terminal.
    std::string message() const;
};

struct walk_progress {
    uint64_t paths; // entries listed so far
    uint64_t bytes; // bytes appended to the list so far
};

struct walk_options {
    // Ends every path. '\n' for a newline-separated list; '\0' keeps a name
    // that holds a newline in one piece.
    char terminator = '\n';
    // Polled before every entry and every directory read; the walk returns as
    // soon as it is non-zero. Meant for the flag a quit signal's handler sets.
    const volatile sig_atomic_t* stop = nullptr;
    // Called on the walking thread after every progress_interval entries, so
    // a loading line can be refreshed without a clock read per entry.
    std::function<void(const walk_progress&)> on_progress;
    uint64_t progress_interval = 4096;
    // Paths start with the root ("src/main.c" below "src", "/etc" below
    // "/") instead of being relative to it; below "." they stay relative.
    bool prefix_root = false;
    // Directories on other file systems than the root's are listed but not
    // entered, as find -xdev does.
    bool one_file_system = false;
};

// How a walk went, besides the list itself.
struct walk_report {
    bool cancelled = false;             // stopped through options.stop
    uint64_t paths = 0;                 // entries appended
    std::vector<walk_problem> problems; // in the order they were met
};

// Appends the path of every file, directory, symbolic link and other entry
// below root to *list, relative to root ("src", "src/main.c"), each followed
// by the terminator. Symbolic links are listed, never followed; the folders
// of version-control systems (.git, .hg, .svn, .bzr, _darcs, CVS) are
// neither listed nor entered. Names are copied byte for byte. The order is
// the walk's own, neither sorted nor stable. The kernel's own folders (proc
// and sysfs mounts) are listed but not entered, unless one is the root.
//
// A directory that cannot be read is a problem in the report and the walk
// goes on; only a root that cannot be opened is a failure ("ROOT: text"), and
// then nothing is appended. A cancelled walk leaves what it listed so far.
// The list is appended to, never cleared, so a caller can hand its storage
// on (raw_array::release) without a copy.
outcome walk_tree(const char* root, const walk_options& options, raw_array<char>* list,
                  walk_report* report);

} // namespace korvel
