// The plain one-thread way of loading a list: reading every line, sorting
// them, building the tree in one step. The loader (load.hpp) does the same
// work split across threads; this is the reference it is checked against,
// and the baseline the benchmarks compare it with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "lines.hpp"
#include "outcome.hpp"
#include "paths.hpp"

// The lines of the input. Each item points at one NUL-terminated text that
// ends with the separator; the texts live in one arena owned by the record.
struct input_lines {
    char** items = nullptr;
    uint64_t count = 0;
    char* arena = nullptr;
    size_t arena_size = 0;

    input_lines() = default;
    input_lines(input_lines&& other) noexcept;
    input_lines& operator=(input_lines&& other) noexcept;
    ~input_lines();

    // The texts stay; the array of items goes (the tree keeps the texts).
    void release_items();
};

// Reads the whole stream. A line ends at a newline, a NUL byte or the end of
// the input (with nul_only, at a NUL byte or the end only, so that names
// holding newlines survive); an empty line is skipped, runs of separators
// become one, and every text gets the separator appended unless it ends
// with it.
outcome get_lines(FILE* input, char separator, input_lines& lines, bool nul_only = false);

// qsort comparator over two line handles: compare_line_order for lists
// split at '/'.
int compare_lines(const void* a, const void* b);

// Orders the lines by compare_line_order, in one go.
void sort_lines(char** items, uint64_t count, char separator);

// Builds the tree from sorted lines in one step; the lines are used up
// (their texts may be rewritten) and released. Fails when the table would
// hold more than max_entries entries or a path is too deep.
outcome build_path_tree(input_lines&& lines, char separator, bool fold_by_default, path_tree& out,
                        uint64_t max_entries = MAX_ENTRIES);
