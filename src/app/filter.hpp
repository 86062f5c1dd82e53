// Narrowing the tree to what a filter matches.
#pragma once

#include <memory>

#include "app/viewer.hpp"

namespace korvel {

// Shows only the matches and their ancestors (`kept`), the directories on the
// way that were folded opened; the cursor moves to a shown entry when its
// own is not.
void apply_filter(viewer& v, std::unique_ptr<search_pattern> pattern, match_scan& scan);
// The whole tree again, the cursor on its entry.
void remove_filter(viewer& v);

} // namespace korvel
