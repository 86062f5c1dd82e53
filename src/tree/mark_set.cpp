#include "tree/mark_set.hpp"

#include <algorithm>
#include <utility>

#include "base/check.hpp"

namespace korvel {

void mark_set::resize(uint64_t size) {
    // Made afresh at its exact size: a vector grown in place may keep up to
    // twice the room it needs.
    bit_set bits(size);
    count_ = 0;
    const uint64_t kept = std::min(size, bits_.size());
    for (uint64_t e = bits_.next(0); e < kept; e = bits_.next(e + 1)) {
        bits.set(e);
        count_++;
    }
    bits_ = std::move(bits);
}

void mark_set::insert(uint64_t entry) {
    KORVEL_CHECK(entry < bits_.size());
    if (!bits_.test(entry)) {
        bits_.set(entry);
        count_++;
    }
}

void mark_set::flip(uint64_t entry) {
    KORVEL_CHECK(entry < bits_.size());
    bits_.flip(entry);
    if (bits_.test(entry)) {
        count_++;
    } else {
        count_--;
    }
}

void mark_set::clear() {
    bits_.clear();
    count_ = 0;
}

uint64_t mark_set::insert_all(const bit_set& entries) {
    KORVEL_CHECK(entries.size() <= bits_.size());
    const uint64_t added = bits_.unite(entries);
    count_ += added;
    return added;
}

uint64_t mark_set::erase_all(const bit_set& entries) {
    KORVEL_CHECK(entries.size() <= bits_.size());
    const uint64_t removed = bits_.subtract(entries);
    count_ -= removed;
    return removed;
}

} // namespace korvel
