// The search prompt on the bottom row and the jumps between matches.
#pragma once

#include <cstdint>

// '/' (direction 1) or '?' (-1): keys now edit the prompt's line.
void open_prompt(int direction);
// One editing operation on the line, then the prompt drawn anew.
void edit_prompt(int32_t op, uint32_t ch = 0);
// Enter: closes the prompt, searches for the typed text (when there is
// any), then enters the text into the history.
void submit_prompt();
// Escape: closes the prompt; the search in force stays.
void cancel_prompt();

void draw_prompt();
// Puts the terminal cursor at the editing position on the bottom row.
void place_prompt_cursor();
// Moves to the next match in the search direction (reverse 0) or against it.
void search_next(int reverse);
