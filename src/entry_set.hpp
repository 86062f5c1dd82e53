// A set of entries of one tree, one bit per entry, with the number of members
// kept up to date as they change so that asking for it costs nothing.
#pragma once

#include <cstdint>
#include <vector>

class entry_set {
  public:
    // Returned by next() when no member is left.
    static constexpr uint64_t NONE = UINT64_MAX;

    entry_set() = default;
    explicit entry_set(uint64_t size) { resize(size); }

    // Room for entries 0 to size - 1, exactly (never more than a bit each);
    // members at or past the new size are dropped.
    void resize(uint64_t size);
    uint64_t size() const { return size_; }
    uint64_t count() const { return count_; }
    bool empty() const { return count_ == 0; }
    // The memory the members take.
    uint64_t storage_bytes() const { return words_.capacity() * sizeof(uint64_t); }

    // Entries past the size are never members.
    bool contains(uint64_t index) const {
        return index < size_ && (words_[index / 64] >> (index % 64) & 1) != 0;
    }
    // The entry must lie within the size.
    void insert(uint64_t index);
    void flip(uint64_t index);
    // Every entry within the size becomes a member.
    void insert_everything();
    void clear();

    // The first member at or after `from`, or NONE.
    uint64_t next(uint64_t from) const;

    // Whether every member of `other` is a member here.
    bool includes(const entry_set& other) const;
    // Each returns how many members it added or removed. `other` must not be
    // larger than this set.
    uint64_t insert_all(const entry_set& other);
    uint64_t erase_all(const entry_set& other);

  private:
    std::vector<uint64_t> words_;
    uint64_t size_ = 0;
    uint64_t count_ = 0;
};
