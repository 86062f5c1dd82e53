// Marking entries: the one under the cursor, every entry the view picks out,
// or none. Marks belong to entries, not rows, so folding, searching and
// moving never change them.
#pragma once

#include <cstdint>

#include "entry_set.hpp"
#include "korvel/viewer.hpp"
#include "outcome.hpp"

// Marks or unmarks the entry under the cursor, then moves one row by `step`
// (+1 down, -1 up), a move that is refused at either end like any other.
void toggle_mark_and_move(viewer& v, int32_t step);

// The entries that marking them all acts on: those the active search
// matches, or every entry when there is no search. Whatever narrows what the
// view shows decides here and nowhere else. Fails when matching fails.
outcome shown_entries(const viewer& v, entry_set& shown);

// Marks every shown entry, or unmarks them all when each is marked already,
// and says how many changed.
void toggle_shown_marks(viewer& v);

void clear_marks(viewer& v);
