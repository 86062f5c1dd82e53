// Times the loading steps of start-up on one file: reading the lines, sorting
// them and building the tree, and reports the peak resident memory. With
// --sort=std or --sort=qsort the lines are sorted by std::sort or qsort over
// compare_lines instead, for comparison.
//
//   load_bench [--fold] [--sort=lines|std|qsort] FILE
//
// Output: one line of "name=value" fields: processor seconds of each step
// (user and system), and kilobytes.

#include <sys/resource.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lines.hpp"
#include "paths.hpp"
#include "korvel/status.hpp"

namespace {

// Processor time of this process: less disturbed than the wall clock by
// whatever else the machine runs.
double cpu_seconds() {
    struct timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

int usage() {
    fprintf(stderr, "usage: load_bench [--fold] [--sort=lines|std|qsort] FILE\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    int fold = 0;
    const char* sorter = "lines";
    const char* file = nullptr;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--fold") == 0)
            fold = 1;
        else if (strncmp(argv[i], "--sort=", 7) == 0)
            sorter = argv[i] + 7;
        else if (file == nullptr)
            file = argv[i];
        else
            return usage();
    }
    if (file == nullptr) return usage();

    double start = cpu_seconds();
    FILE* input = fopen(file, "r");
    if (input == nullptr) {
        perror(file);
        return 1;
    }
    input_lines lines;
    if (get_lines(input, '/', &lines) != 0) {
        fprintf(stderr, "load_bench: %s\n", get_error());
        return 1;
    }
    double read_time = cpu_seconds() - start;

    double sort_start = cpu_seconds();
    if (strcmp(sorter, "lines") == 0) {
        sort_lines(lines.items, lines.count);
    } else if (strcmp(sorter, "std") == 0) {
        std::sort(lines.items, lines.items + lines.count, [](const char* a, const char* b) {
            return compare_lines(&a, &b) < 0;
        });
    } else if (strcmp(sorter, "qsort") == 0) {
        qsort(lines.items, lines.count, sizeof *lines.items, compare_lines);
    } else {
        return usage();
    }
    double sort_time = cpu_seconds() - sort_start;

    double tree_start = cpu_seconds();
    unfolded_paths_t unfolded;
    uint64_t entries = get_paths(&unfolded, lines.items, lines.count, '/', fold);
    double tree_time = cpu_seconds() - tree_start;
    double total = cpu_seconds() - start;

    struct rusage usage_now;
    getrusage(RUSAGE_SELF, &usage_now);
    printf("lines=%llu entries=%llu arena_bytes=%llu read=%.4f sort=%.4f tree=%.4f total=%.4f "
           "maxrss_kb=%ld\n",
           static_cast<unsigned long long>(lines.count), static_cast<unsigned long long>(entries),
           static_cast<unsigned long long>(lines.arena_size), read_time, sort_time,
           tree_time, total, usage_now.ru_maxrss);
    free_paths(unfolded.items);
    free_lines(&lines);
    fclose(input);
    return entries == 0 ? 1 : 0;
}
