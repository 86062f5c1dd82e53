// The marked entries of a tree: a bit an entry, with their number kept up to
// date as marks change, so that showing it costs nothing.
#pragma once

#include <cstdint>

#include "base/bit_set.hpp"

namespace korvel {

class mark_set {
  public:
    // Room for entries 0 to size - 1, at a bit each; marks at or past the new
    // size are dropped.
    void resize(uint64_t size);
    uint64_t size() const { return bits_.size(); }
    uint64_t count() const { return count_; }
    bool empty() const { return count_ == 0; }

    // Entries past the size are never marked.
    bool contains(uint64_t entry) const { return entry < bits_.size() && bits_.test(entry); }
    // The entry must lie within the size.
    void insert(uint64_t entry);
    void flip(uint64_t entry);
    void clear();

    // The first marked entry at or after `from`, or size() when there is none.
    uint64_t next(uint64_t from) const { return bits_.next(from); }

    // Whether each of the entries is marked. The set of entries may be
    // smaller than this one, never larger.
    bool includes(const bit_set& entries) const { return bits_.includes(entries); }
    // Each returns how many marks it made or took away.
    uint64_t insert_all(const bit_set& entries);
    uint64_t erase_all(const bit_set& entries);

    uint64_t storage_bytes() const { return bits_.storage_bytes(); }

  private:
    bit_set bits_;
    uint64_t count_ = 0;
};

} // namespace korvel
