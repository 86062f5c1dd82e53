// The search prompt on the bottom row and the jumps between matches.
#pragma once

void draw_prompt();
// Puts the terminal cursor at the editing position on the bottom row.
void place_prompt_cursor();
// Moves to the next match in the search direction (reverse 0) or against it.
void search_next(int reverse);
