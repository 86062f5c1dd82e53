// Counting what the search matches among what is shown, by row.
#pragma once

#include <cstdint>

#include "app/viewer.hpp"

namespace korvel {

// Counts the active search's matches anew, a slice at a time (see sliced_scans.hpp).
void restart_count(viewer& v);
// Takes the finished count's matches and counts them by row.
void finish_count(viewer& v);
// Counts the matches by row again after compact chains were turned on or off.
void recount_rows(viewer& v);
// The rank of the cursor's row among the rows that hold a match (1 for the
// first), or 0 when it holds none or the count is not done.
uint64_t cursor_rank(const viewer& v);

} // namespace korvel
