// The full paths of a tree's entries, one after another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tree/path_tree.hpp"

namespace korvel {

// Full paths of entries visited one after another, kept in one buffer: moving
// to a nearby entry in tree order (either way) only cuts the buffer back to a
// common ancestor and appends the names below it, never starts from the top.
// The tree must not change while a walker is in use.
class full_path_walker {
  public:
    explicit full_path_walker(const path_tree& tree) : tree_(tree) {}
    // The entry's full path, NUL-terminated; valid until the next call.
    std::string_view path_of(uint64_t index);

  private:
    void restore_ancestors(uint64_t parent);
    void append_level(uint64_t index, const path_entry& entry);

    const path_tree& tree_;
    std::string buffer_;
    // ancestors_[d] is the entry at depth d above (or at) the last one visited;
    // prefix_lengths_[d] the length of the path above depth d, separator included.
    std::vector<uint64_t> ancestors_;
    std::vector<size_t> prefix_lengths_{0};
    std::vector<uint64_t> pending_;
};

} // namespace korvel
