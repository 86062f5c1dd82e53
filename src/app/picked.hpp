// What a pick hands on: the full paths of the marked entries in tree order,
// or the path under the cursor when nothing is marked. 'o' prints them, 'y'
// copies them and a mapped command finds them in $fx.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/viewer.hpp"
#include "base/outcome.hpp"
#include "match/search.hpp"

namespace korvel {

// Hands each picked path to take(std::string_view), valid for that call only.
template <typename Take> void for_each_picked_path(const viewer& v, Take&& take) {
    if (v.marks.empty()) {
        const std::string path = v.tree.full_path(v.view.cursor);
        take(std::string_view(path));
        return;
    }
    // One buffer for every path: each is cut back to the common ancestor
    // with the one before and built on from there, never from the top.
    full_path_walker walker(v.tree);
    // Names lie in the order the lines were read: fetch those of the marks a
    // few ahead, so that building a path does not wait on each one.
    constexpr int PREFETCH_MARKS = 8;
    const uint64_t end = v.marks.size();
    uint64_t ahead = v.marks.next(0);
    for (int i = 0; i < PREFETCH_MARKS && ahead < end; ++i) ahead = v.marks.next(ahead + 1);
    for (uint64_t e = v.marks.next(0); e < end; e = v.marks.next(e + 1)) {
        if (ahead < end) {
            __builtin_prefetch(v.tree.at(ahead).name);
            ahead = v.marks.next(ahead + 1);
        }
        take(walker.path_of(e));
    }
}

// The picked paths joined by newlines, without one after the last.
std::string picked_text(const viewer& v);

// A path as a command line takes it: a relative file name that starts with
// '-' or '+' gets "./" in front, the same file, so that no program reads it
// as an option (or, as vi and less read '+', as a command to run). Names
// joined by another separator than '/' are no file names and stay as they
// are.
std::string as_argument(std::string_view path, char separator);

// The picked paths, each as_argument: a mapped command's "$@".
std::vector<std::string> picked_arguments(const viewer& v);

// Writes every picked path followed by the terminator, in large writes.
// Fails with "failed to write the chosen path: %s".
outcome write_picked(const viewer& v, int fd, char terminator);

} // namespace korvel
