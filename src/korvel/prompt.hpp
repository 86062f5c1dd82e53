// The search prompt on the bottom row and the jumps between matches.
#pragma once

void draw_prompt();
// Moves to the next match in the search direction (reverse 0) or against it.
void search_next(int reverse);
