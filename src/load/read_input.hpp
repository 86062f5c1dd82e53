// Reading a descriptor that cannot be mapped (a pipe, a terminal, a device)
// to its end, in large reads, into blocks that each hold whole lines.
#pragma once

#include <cstddef>
#include <vector>

#include "base/memory_map.hpp"
#include "base/outcome.hpp"
#include "base/unique_fd.hpp"
#include "load/buckets.hpp"
#include "load/load_options.hpp"
#include "load/tick_pacer.hpp"

namespace korvel {

struct read_blocks {
    std::vector<memory_map> blocks;
    std::vector<input_part> parts; // the lines in each block
};

// Reads fd to its end. It waits for input in poll, never past the next
// tick, so the tick keeps coming whatever the writer does; a non-blocking
// descriptor is waited on the same way. Counts the bytes and lines read into
// progress. A cancelled load stops reading (the pacer tells) and returns
// success. Fails with "failed to read input: %s".
outcome read_input(int fd, const line_format& format, size_t block_size, tick_pacer& pacer,
                   load_progress& progress, read_blocks& out);

// The input moved into a memory file.
struct memory_file_input {
    unique_fd file;
    size_t size = 0;
};

// Reads fd to its end like read_input, into a memory file: splice moves a
// pipe's pages there without passing them through this process, where
// fresh memory of its own costs a fault per page. A helper thread counts the
// lines behind the reading. Sets `available` false, reading nothing, where
// the system has no memory files; then read_input is the way.
outcome read_into_memory_file(int fd, const line_format& format, tick_pacer& pacer,
                              load_progress& progress, memory_file_input& out, bool& available);

// The line ends among n bytes: newlines and NUL bytes, or NUL bytes only.
size_t count_line_ends(const char* p, size_t n, bool nul_only);

} // namespace korvel
