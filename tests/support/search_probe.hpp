// Matching without the machinery the viewer keeps around it: one entry with
// no walker, and any text at all.
#pragma once

#include <cstdint>
#include <string_view>

#include "match/search.hpp"
#include "tree/path_tree.hpp"

namespace korvel {

// The entry's name or full path, as search_pattern::match gives it, with a
// walker of its own.
inline match_result match_entry(const search_pattern& pattern, const path_tree& tree,
                                uint64_t index) {
    full_path_walker walker(tree);
    return pattern.match(tree, index, walker);
}

struct search_pattern_probe {
    // One text, as the pattern matches a name or full path; NUL-terminated at
    // its size. Without an active pattern nothing matches.
    static match_result match_text(const search_pattern& pattern, std::string_view text) {
        if (!pattern.active()) return match_result::NO_MATCH;
        c_locale_scope in_c_locale;
        return pattern.match_subject(text.data(), text.size());
    }
};

} // namespace korvel
