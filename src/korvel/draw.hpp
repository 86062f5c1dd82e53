// Repainting the whole screen from the view, the tree, the search and the
// status line.
#pragma once

// 0, or 1 with the message in the error text.
int redraw();
int draw_paths();
