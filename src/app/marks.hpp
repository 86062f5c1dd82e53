// Marking entries: the one under the cursor, every entry the view picks out,
// or none. Marks belong to entries, not rows, so folding, searching and
// moving never change them.
#pragma once

#include <cstdint>

#include "app/viewer.hpp"
#include "base/bit_set.hpp"
#include "base/outcome.hpp"

namespace korvel {

// Marks or unmarks the entry under the cursor (unmarking a compact chain's
// row unmarks each of its directories), then moves one row by `step` (+1
// down, -1 up), a move that is refused at either end like any other.
void toggle_mark_and_move(viewer& v, int32_t step);

// The entries that marking them all acts on, shown or folded away: those the
// filter picks out (not the directories shown only to hold them); without a
// filter, the active search's matches; with neither, every entry; and of
// those only the lines of the input, never a directory the tree made up to
// hold them. This is the one place that decides it. Fails when matching
// failed. Known only when marking_ready; `any_picked` (when given) says
// whether the filter or search picked any entry at all, a line or not.
outcome shown_entries(const viewer& v, bit_set& shown, bool* any_picked = nullptr);

// Marks every shown entry, or unmarks them all when each is marked already,
// and says how many changed. When the entries are not known yet (a filter
// entered, or the search's matches, still being found), it waits for them
// between events (see work.hpp) and the key returns at once.
void toggle_shown_marks(viewer& v);
// Whether the entries that marking acts on are known: no filter entered
// still being found, and the search's matches counted when they decide.
bool marking_ready(const viewer& v);
// Marks or unmarks them, now that they are known.
void finish_marking(viewer& v);

// Unmarks every entry and says how many were marked.
void clear_marks(viewer& v);

} // namespace korvel
