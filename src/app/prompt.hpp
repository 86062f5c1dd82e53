// The prompt on the bottom row: a search ('/' forwards, '?' backwards) or a
// filter ('&'), its previews while the text is typed, and the jumps between
// matches.
#pragma once

#include "app/viewer.hpp"

namespace korvel {

// Keys now edit the prompt's line; Escape will bring back the cursor, the
// folds, the window and the filter as they are now. A filter entered and
// still being found is given up.
void open_prompt(viewer& v, prompt_kind kind);
// One editing operation on the prompt's line; the preview follows the text.
void edit_prompt(viewer& v, rl_edit edit);
// Enter. A search: the prompt closes, the typed text (when there is any) is
// searched for from where the prompt opened, and goes into the history. A
// filter: the prompt closes and the filter stays (an empty text removes it);
// when its scan is not through, the scan goes on between events and the
// filter takes effect when it ends (see work.hpp).
void submit_prompt(viewer& v);
// The scan of a filter entered has come to its end: the filter is shown, or
// the bottom row says why not.
void finish_entered_filter(viewer& v);
// Escape: the prompt closes and everything is as it was when it opened.
void cancel_prompt(viewer& v);
// Moves to the next match in the search's direction, or against it, among
// the entries shown: starts the walk, which the loop runs (see work.hpp).
void search_next(viewer& v, bool reverse);
// The jump's walk has come to its end: the cursor moves, or the bottom row
// says why not.
void finish_jump(viewer& v);

// The previews' scans have come to their end: their results are shown.
void finish_search_preview(viewer& v);
void finish_filter_preview(viewer& v);

} // namespace korvel
