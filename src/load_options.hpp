// What a load is asked to do and how far it has come: shared by the loader
// and the pieces it drives (the reader of pipes, the pacer of the ticks).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "helper_threads.hpp"

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
    std::chrono::milliseconds tick_period{50}; // between ticks when nothing wakes the loader
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
    // Called on the main thread at least every tick period while loading
    // (also while waiting for a slow pipe or a terminal) and soon after
    // wake_fd becomes readable; false cancels: the helpers stop soon and the
    // load returns with `cancelled`.
    std::function<bool(const load_progress&)> tick;
    load_tuning tuning;
    // How helper threads are started; empty for std::thread. Tests make it
    // fail, as a process limit does.
    thread_starter start_thread;
};
