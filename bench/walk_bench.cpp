// Walks a directory as korvel does when it is started with no list, and
// writes the list to standard output, so that it can be timed beside
// `find . > /dev/null` doing the same work.
//
//   walk_bench [--print0] [DIR]
//
// The problems met go to standard error, one line each, as find reports them.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "load/walk.hpp"

using namespace korvel;

namespace {

bool write_all(const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(STDOUT_FILENO, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    walk_options options;
    const char* root = ".";
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--print0") == 0) {
            options.terminator = '\0';
        } else if (argv[i][0] != '-') {
            root = argv[i];
        } else {
            fprintf(stderr, "usage: walk_bench [--print0] [DIR]\n");
            return 2;
        }
    }

    raw_array<char> list;
    walk_report report;
    const outcome status = walk_tree(root, options, &list, &report);
    if (!status) {
        fprintf(stderr, "walk_bench: %s\n", status.message().c_str());
        return 1;
    }
    for (const walk_problem& problem : report.problems)
        fprintf(stderr, "walk_bench: %s\n", problem.message().c_str());
    if (!write_all(list.data, list.size)) {
        fprintf(stderr, "walk_bench: write: %s\n", strerror(errno));
        return 1;
    }
    return report.problems.empty() ? 0 : 1;
}
