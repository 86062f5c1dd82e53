// Reading the list of paths and putting it in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string_view>

#include "outcome.hpp"

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
// holding newlines survive); every text gets the separator appended unless
// it ends with it.
outcome get_lines(FILE* input, char separator, input_lines& lines, bool nul_only = false);

// Spaces and tabs before the first other byte; 0 when there is no other byte.
uint64_t count_leading_blanks(const char* text);
// qsort comparator over two line handles: strcmp after the leading blanks.
int compare_lines(const void* a, const void* b);
// The order the lines are put in: compare_lines, then, for lines that differ
// only in their leading blanks, strcmp of the whole texts. Every way of
// loading the list gives the same sequence, whatever sort it uses.
int compare_line_order(const char* a, const char* b);
// Orders the lines by compare_line_order.
void sort_lines(char** items, uint64_t count);
// The same, asking keep_going now and then during a long sort; when it
// answers false the sort stops at once, leaves the lines in some order and
// returns false.
bool sort_lines(char** items, uint64_t count, const std::function<bool()>& keep_going);
