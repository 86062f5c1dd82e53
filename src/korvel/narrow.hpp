// Narrowing the tree to what a filter matches, and counting what the search
// matches among what is shown.
#pragma once

#include <memory>

#include "korvel/viewer.hpp"

// Shows only the matches and their ancestors (`kept`), the directories on the
// way that were folded opened; the cursor moves to a shown entry when its
// own is not.
void apply_filter(viewer& v, std::unique_ptr<search_pattern> pattern, match_scan& scan);
// The whole tree again, the cursor on its entry.
void remove_filter(viewer& v);
// The entries n and N, the count and the highlights stay among: the shown
// ones under a filter, else all (null).
const bit_set* searched_entries(const viewer& v);

// Counts the active search's matches anew, a slice at a time (see work.hpp).
void restart_count(viewer& v);
// Takes the finished count's matches and counts them by row.
void finish_count(viewer& v);
// Counts the matches by row again after compact chains were turned on or off.
void recount_rows(viewer& v);
// The rank of the cursor's row among the rows that hold a match (1 for the
// first), or 0 when it holds none or the count is not done.
uint64_t cursor_rank(const viewer& v);

// Folds or unfolds every directory; a cursor hidden by folding moves to the
// ancestor that still shows.
void fold_everything(viewer& v, bool folded);
// Puts the cursor on a shown entry when its own no longer is: the nearest
// ancestor that shows, else the next shown row, else the last.
void keep_cursor_visible(viewer& v);
