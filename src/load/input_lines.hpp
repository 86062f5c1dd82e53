// The input as the splitting into buckets sees it: parts in memory or a file,
// and the lines in them.
#pragma once

#include <cstddef>

namespace korvel {

// How the input's lines end, and the separator each text ends with.
struct line_format {
    char separator = '/';
    bool nul_only = false; // a line ends at a NUL byte only, not at a newline
};

// A part of the input in memory that holds whole lines; only the input's
// last part may end without a line end.
struct input_part {
    const char* data;
    size_t size;
};

// The input as a file read piece by piece (pread): the bytes from offset on,
// size of them. Reading costs less than mapping where the first touch of a
// page is dear.
struct input_file {
    int fd = -1;
    size_t offset = 0;
    size_t size = 0;
};

// Reads [at, at + n) of the file into out: false with errno set when it
// cannot (the file shrank, or reading failed).
bool read_file(const input_file& file, size_t at, size_t n, char* out);

// The end of the line that starts at p: its newline or NUL byte, or end.
const char* line_end(const char* p, const char* end, bool nul_only);

} // namespace korvel
