// Putting the lines of the list in order, and the one form a line's text
// takes before it is compared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// Whether the bytes hold two separators in a row. Cheap enough for every
// line of the input: such runs are rare, and only then is a line copied
// with collapse_separators first.
bool has_separator_run(const char* line, size_t length, char separator);
// Copies the line to out with every run of separators made one, so that
// a//b and a/b are the same text and sort as one; the bytes written.
size_t collapse_separators(char* out, const char* line, size_t length, char separator);

// Spaces and tabs (other than the separator) before the first other byte of
// the text: blanks that lead a line do not count for the order.
uint64_t count_leading_blanks(const char* text, char separator);
// The order the lines are put in, for texts that end with the separator:
// their first components without the leading blanks, then (for first
// components that differ only in those blanks) the whole first components,
// then the rest; each compared with the separator after it, byte by byte.
// So lines with the same first component lie together, as their entries in
// the tree do, while blanks alone never move a line among the others.
// Every way of loading the list gives the same sequence, whatever sort it
// uses.
int compare_line_order(const char* a, const char* b, char separator);
// Orders the lines by compare_line_order, asking keep_going now and then
// during a long sort; when it answers false the sort stops at once, leaves
// the lines in some order and returns false.
bool sort_lines(char** items, uint64_t count, char separator,
                const std::function<bool()>& keep_going);
