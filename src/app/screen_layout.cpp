#include "app/screen_layout.hpp"

#include <algorithm>

#include "app/viewer.hpp"

namespace korvel {

namespace {

// Below this many columns the pane goes under the tree rather than beside.
constexpr int WIDE_SCREEN = 100;

} // namespace

pane_layout layout_of(const viewer& v) {
    const int width = v.screen.width;
    const int area = std::max(0, v.screen.height - 1);
    pane_layout l{width, area, false, 0, 0, 0, 0};
    if (!v.pane.open) return l;
    const pane_side side = v.pane.side != pane_side::AUTO ? v.pane.side
                           : width >= WIDE_SCREEN         ? pane_side::RIGHT
                                                          : pane_side::BOTTOM;
    if (side == pane_side::RIGHT) {
        const int pane_width = width * v.pane.percent / 100;
        // The tree keeps a column at least, and a border stands between.
        if (pane_width < 2 || width - pane_width - 1 < 1 || area < 2) return l;
        l.tree_width = width - pane_width - 1;
        l.x = width - pane_width;
        l.width = pane_width;
        l.height = area;
    } else {
        const int pane_rows = area * v.pane.percent / 100;
        if (pane_rows < 2 || area - pane_rows < 1) return l;
        l.tree_rows = area - pane_rows;
        l.y = l.tree_rows;
        l.width = width;
        l.height = pane_rows;
    }
    l.shown = true;
    return l;
}

} // namespace korvel
