#include "tree/full_path_walker.hpp"

#include <cstring>

#include "base/check.hpp"

namespace korvel {

std::string_view full_path_walker::path_of(uint64_t index) {
    const path_entry& entry = tree_.at(index);
    // Walking forwards the parent is always in the buffer already.
    bool parent_kept = entry.parent == NO_ENTRY || (entry.depth <= ancestors_.size() &&
                                                    ancestors_[entry.depth - 1] == entry.parent);
    if (!parent_kept) restore_ancestors(entry.parent);
    ancestors_.resize(entry.depth);
    prefix_lengths_.resize(entry.depth + 1);
    append_level(index, entry);
    return buffer_;
}

void full_path_walker::restore_ancestors(uint64_t parent) {
    // Climb to the deepest ancestor still in the buffer, then come back down.
    pending_.clear();
    uint64_t above = parent;
    while (above != NO_ENTRY) {
        const path_entry& entry = tree_.at(above);
        if (entry.depth < ancestors_.size() && ancestors_[entry.depth] == above) break;
        pending_.push_back(above);
        above = entry.parent;
    }
    size_t kept = above == NO_ENTRY ? 0 : tree_.at(above).depth + 1;
    ancestors_.resize(kept);
    prefix_lengths_.resize(kept + 1);
    for (auto it = pending_.rbegin(); it != pending_.rend(); ++it)
        append_level(*it, tree_.at(*it));
}

void full_path_walker::append_level(uint64_t index, const path_entry& entry) {
    size_t depth = ancestors_.size();
    KORVEL_CHECK(entry.depth == depth);
    size_t prefix = prefix_lengths_[depth];
    buffer_.resize(prefix);
    // The separator behind a parent is not kept while the parent's own path
    // is the one in the buffer.
    if (depth > 0) buffer_[prefix - 1] = tree_.separator();
    size_t name_length = strlen(entry.name);
    buffer_.append(entry.name, name_length);
    if (name_length == 0) buffer_.push_back(tree_.separator());
    ancestors_.push_back(index);
    prefix_lengths_.push_back(prefix + name_length + 1);
}

} // namespace korvel
