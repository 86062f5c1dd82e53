// The help screen, drawn over the tree until a key closes it: the lines the
// action table gave when it opened, scrolled within the rows there are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/viewer.hpp"
#include "base/outcome.hpp"
#include "term/term.hpp"
#include "term/term_cells.hpp"

namespace korvel {

// The help's rows on screen, its first line shown at the end, and scrolling
// by a number of lines within them.
int64_t help_page(const viewer& v);
int64_t help_last_top(const viewer& v);
void scroll_help(viewer& v, int64_t delta);
outcome draw_help(const viewer& v, term_cells::grid& frame);

} // namespace korvel
