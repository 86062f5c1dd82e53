// Where the tree and the preview pane go on the screen.
#pragma once

namespace korvel {

struct viewer;

// Where things go on the screen with the pane open or shut.
struct pane_layout {
    // The tree's columns and rows (the status row not counted).
    int tree_width = 0;
    int tree_rows = 0;
    bool shown = false;
    // The pane's area, its title row included.
    int x = 0, y = 0, width = 0, height = 0;
};

pane_layout layout_of(const viewer& v);

} // namespace korvel
