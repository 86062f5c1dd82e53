// Repainting the whole screen from the viewer's state.
#pragma once

#include "app/viewer.hpp"
#include "base/outcome.hpp"

namespace korvel {

// Clears, draws the tree rows, the status row and the position counter, and
// presents the frame. A failure stops the frame ("failed to print path: ...").
outcome redraw(const viewer& v);

} // namespace korvel
