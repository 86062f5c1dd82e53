// Loading the list: reading it, splitting it into lines, sorting them and
// building the tree, on every core the machine lends. Helper threads exist
// only while a load runs and block every signal; the main thread keeps
// calling the caller back, so a quit or suspend request is seen while the
// list is still coming in.
#pragma once

#include <cstddef>
#include <string>

#include "base/outcome.hpp"
#include "load/load_options.hpp"
#include "tree/path_tree.hpp"

namespace korvel {

struct load_result {
    outcome status;
    bool cancelled = false;
};

// Loads the list from a descriptor: a regular file is read in pieces by
// every thread from where the descriptor stands, anything else read to its
// end first (a non-blocking descriptor is waited on). An empty input
// gives an empty tree (size 0) and success; a read error fails with "failed
// to read input: %s".
load_result load_fd(int fd, const load_options& options, load_progress& progress, path_tree& out);
// Loads a list already in memory (each path ended by a newline or a NUL
// byte) the same way, without copying it first; its memory is given back as
// it is used up.
load_result load_buffer(std::string&& bytes, const load_options& options, load_progress& progress,
                        path_tree& out);

} // namespace korvel
