// Putting the lines of the list in order.
#pragma once

#include <cstdint>
#include <functional>

namespace korvel {

// Spaces and tabs before the first other byte; 0 when there is no other byte.
uint64_t count_leading_blanks(const char* text);
// The order the lines are put in: strcmp after the leading blanks, then, for
// lines that differ only in their leading blanks, strcmp of the whole texts.
// Every way of loading the list gives the same sequence, whatever sort it
// uses.
int compare_line_order(const char* a, const char* b);
// Orders the lines by compare_line_order, asking keep_going now and then
// during a long sort; when it answers false the sort stops at once, leaves
// the lines in some order and returns false.
bool sort_lines(char** items, uint64_t count, const std::function<bool()>& keep_going);

} // namespace korvel
