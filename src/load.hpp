// Loading the list: reading it, splitting it into lines, sorting them and
// building the tree, on every core the machine lends. Helper threads exist
// only while a load runs and block every signal; the main thread keeps
// calling the caller back, so a quit or suspend request is seen while the
// list is still coming in.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "outcome.hpp"
#include "paths.hpp"

enum class load_phase { READING, SORTING, BUILDING };

// How far the load has come: written by the loader, read by the main
// thread's tick. Lines and bytes count the input read so far, and hold the
// totals from SORTING on.
struct load_progress {
    std::atomic<uint64_t> lines{0};
    std::atomic<uint64_t> bytes{0};
    std::atomic<load_phase> phase{load_phase::READING};
};

// The sizes the loader works with; tests make them small to reach every
// edge with small inputs.
struct load_tuning {
    size_t bucket_bytes = size_t{1} << 20; // input per bucket
    size_t thread_bytes = size_t{1} << 20; // the least input worth one more thread
    size_t read_block = size_t{64} << 20;  // blocks a pipe is read into without memory files
};

struct load_options {
    char separator = '/';
    bool fold_by_default = false;
    bool nul_only = false; // split at NUL bytes only
    // 0: one per core the process may run on; helper threads are threads - 1.
    unsigned threads = 0;
    // Readable when the main thread should call tick at once (the signal
    // handlers write to it); tick is expected to drain it.
    int wake_fd = -1;
    // Called on the main thread at least every 50 ms or so while loading
    // (also while waiting for a slow pipe or a terminal) and soon after
    // wake_fd becomes readable; false cancels: the helpers stop soon and the
    // load returns with `cancelled`.
    std::function<bool(const load_progress&)> tick;
    load_tuning tuning;
};

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
