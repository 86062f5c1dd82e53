// Repainting the whole screen from the viewer's state.
#pragma once

#include "app/viewer.hpp"
#include "base/outcome.hpp"
#include "term/term_cells.hpp"

namespace korvel {

// Paints the tree rows (or the help), the pane, the status row and the
// position counter into `frame`, which is cleared and of the viewer's screen
// size; places the cursor. A failure stops the frame ("failed to print
// path: ...").
outcome paint_frame(const viewer& v, term_cells::grid& frame);
// Clears the terminal's frame, paints it and presents it.
outcome redraw(const viewer& v);

} // namespace korvel
