// Times loading a list, in one of two ways:
//
//   load_bench [--fold] [--sort=lines|std|qsort] FILE
//       The plain steps on one thread: reading the lines, sorting them and
//       building the tree, each in processor seconds. With --sort=std or
//       --sort=qsort the lines are sorted by std::sort or qsort over
//       compare_lines instead, for comparison.
//
//   load_bench --loader [--fold] [--threads=N] FILE|-
//       The whole loader as the viewer runs it (load_fd on the file, or on
//       standard input for "-"), in wall-clock seconds: reading and
//       splitting into buckets, then sorting with the tree built alongside,
//       then the rest of the tree once every bucket is sorted, and the
//       processor time of every thread in each of them. The line is
//       printed as soon as the tree is there, before anything is freed, so a
//       caller can time the process from its start to that line.
//
// Output: one line of "name=value" fields, with the peak resident memory in
// kilobytes.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <utility>

#include "load.hpp"
#include "paths.hpp"
#include "plain_load.hpp"

namespace {

// Processor time of this process: less disturbed than the wall clock by
// whatever else the machine runs.
double cpu_seconds() {
    struct timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double wall_seconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

long peak_kb() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int usage() {
    fprintf(stderr, "usage: load_bench [--fold] [--sort=lines|std|qsort] FILE\n"
                    "       load_bench --loader [--fold] [--threads=N] FILE|-\n");
    return 2;
}

int run_steps(const char* file, bool fold, const char* sorter) {
    double start = cpu_seconds();
    FILE* input = fopen(file, "r");
    if (input == nullptr) {
        perror(file);
        return 1;
    }
    input_lines lines;
    const outcome read = get_lines(input, '/', lines);
    fclose(input);
    if (!read) {
        fprintf(stderr, "load_bench: %s\n", read.message().c_str());
        return 1;
    }
    double read_time = cpu_seconds() - start;

    const size_t arena_size = lines.arena_size;
    double sort_start = cpu_seconds();
    if (strcmp(sorter, "lines") == 0) {
        sort_lines(lines.items, lines.count, '/');
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
    const uint64_t count = lines.count;
    path_tree tree;
    const outcome built = build_path_tree(std::move(lines), '/', fold, tree);
    if (!built) {
        fprintf(stderr, "load_bench: %s\n", built.message().c_str());
        return 1;
    }
    double tree_time = cpu_seconds() - tree_start;
    double total = cpu_seconds() - start;

    printf("lines=%llu entries=%llu arena_bytes=%llu read=%.4f sort=%.4f tree=%.4f total=%.4f "
           "maxrss_kb=%ld\n",
           static_cast<unsigned long long>(count), static_cast<unsigned long long>(tree.size()),
           static_cast<unsigned long long>(arena_size), read_time, sort_time, tree_time, total,
           peak_kb());
    return tree.size() == 0 ? 1 : 0;
}

int run_loader(const char* file, bool fold, unsigned threads) {
    const double start = wall_seconds();
    int fd = strcmp(file, "-") == 0 ? 0 : open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        perror(file);
        return 1;
    }
    load_options options;
    options.fold_by_default = fold;
    options.threads = threads;
    options.tick = [](const load_progress&) { return true; };
    load_progress progress;

    // The phases as they change, seen from a thread that looks often, with
    // the processor time of the whole process (every thread) at each change.
    std::atomic<bool> done{false};
    double sorting = 0, building = 0, sorting_cpu = 0, building_cpu = 0;
    std::thread watcher([&] {
        while (!done.load()) {
            const load_phase phase = progress.phase.load();
            if (phase != load_phase::READING && sorting == 0) {
                sorting = wall_seconds();
                sorting_cpu = cpu_seconds();
            }
            if (phase == load_phase::BUILDING && building == 0) {
                building = wall_seconds();
                building_cpu = cpu_seconds();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const double start_cpu = cpu_seconds();
    path_tree tree;
    const load_result result = load_fd(fd, options, progress, tree);
    const double end = wall_seconds();
    const double end_cpu = cpu_seconds();
    done.store(true);
    watcher.join();
    if (!result.status) {
        fprintf(stderr, "load_bench: %s\n", result.status.message().c_str());
        return 1;
    }
    if (sorting == 0) sorting = end, sorting_cpu = end_cpu;
    if (building == 0) building = end, building_cpu = end_cpu;
    printf("lines=%llu entries=%llu read=%.4f sort=%.4f tree=%.4f total=%.4f read_cpu=%.4f "
           "sort_cpu=%.4f tree_cpu=%.4f maxrss_kb=%ld\n",
           static_cast<unsigned long long>(progress.lines.load()),
           static_cast<unsigned long long>(tree.size()), sorting - start, building - sorting,
           end - building, end - start, sorting_cpu - start_cpu, building_cpu - sorting_cpu,
           end_cpu - building_cpu, peak_kb());
    fflush(stdout);
    if (fd != 0) close(fd);
    return tree.size() == 0 ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    bool fold = false, loader = false;
    unsigned threads = 0;
    const char* sorter = "lines";
    const char* file = nullptr;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--fold") == 0)
            fold = true;
        else if (strcmp(argv[i], "--loader") == 0)
            loader = true;
        else if (strncmp(argv[i], "--threads=", 10) == 0)
            threads = static_cast<unsigned>(atoi(argv[i] + 10));
        else if (strncmp(argv[i], "--sort=", 7) == 0)
            sorter = argv[i] + 7;
        else if (file == nullptr)
            file = argv[i];
        else
            return usage();
    }
    if (file == nullptr) return usage();
    return loader ? run_loader(file, fold, threads) : run_steps(file, fold, sorter);
}
