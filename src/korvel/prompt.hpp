// The search prompt on the bottom row and the jumps between matches.
#pragma once

#include "korvel/viewer.hpp"

// '/' (direction 1) or '?' (-1): keys now edit the prompt's line.
void open_prompt(viewer& v, int direction);
// One editing operation on the prompt's line.
void edit_prompt(viewer& v, rl_edit edit);
// Enter: closes the prompt, searches for the typed text (when there is
// any), then enters the text into the history.
void submit_prompt(viewer& v);
// Escape: closes the prompt; the search in force stays.
void cancel_prompt(viewer& v);
// Moves to the next match in the search's direction, or against it.
void search_next(viewer& v, bool reverse);
