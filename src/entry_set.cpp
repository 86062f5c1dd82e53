#include "entry_set.hpp"

#include <algorithm>
#include <bit>

#include "check.hpp"

namespace {

uint64_t words_for(uint64_t size) {
    return (size + 63) / 64;
}

uint64_t bit_of(uint64_t index) {
    return uint64_t{1} << (index % 64);
}

} // namespace

void entry_set::resize(uint64_t size) {
    // Made afresh at its exact size: a vector grown in place may keep up to
    // twice the room it needs, and the set promises a bit an entry.
    std::vector<uint64_t> words(words_for(size));
    std::copy_n(words_.begin(), std::min(words_.size(), words.size()), words.begin());
    if (size % 64 != 0 && !words.empty()) words.back() &= bit_of(size) - 1;
    words_.swap(words);
    size_ = size;
    count_ = 0;
    for (const uint64_t word : words_)
        count_ += static_cast<uint64_t>(std::popcount(word));
}

void entry_set::insert(uint64_t index) {
    KORVEL_CHECK(index < size_);
    uint64_t& word = words_[index / 64];
    if ((word & bit_of(index)) == 0) {
        word |= bit_of(index);
        count_++;
    }
}

void entry_set::flip(uint64_t index) {
    KORVEL_CHECK(index < size_);
    uint64_t& word = words_[index / 64];
    word ^= bit_of(index);
    if ((word & bit_of(index)) != 0) {
        count_++;
    } else {
        count_--;
    }
}

void entry_set::insert_everything() {
    for (uint64_t& word : words_)
        word = ~uint64_t{0};
    if (size_ % 64 != 0) words_.back() = bit_of(size_) - 1;
    count_ = size_;
}

void entry_set::clear() {
    for (uint64_t& word : words_)
        word = 0;
    count_ = 0;
}

uint64_t entry_set::next(uint64_t from) const {
    if (from >= size_) return NONE;
    uint64_t w = from / 64;
    // The bits below `from` in its word do not count.
    uint64_t word = words_[w] & ~(bit_of(from) - 1);
    for (;;) {
        if (word != 0) return w * 64 + static_cast<uint64_t>(std::countr_zero(word));
        if (++w == words_.size()) return NONE;
        word = words_[w];
    }
}

bool entry_set::includes(const entry_set& other) const {
    KORVEL_CHECK(other.size_ <= size_);
    for (size_t w = 0; w < other.words_.size(); ++w)
        if ((other.words_[w] & ~words_[w]) != 0) return false;
    return true;
}

uint64_t entry_set::insert_all(const entry_set& other) {
    KORVEL_CHECK(other.size_ <= size_);
    uint64_t added = 0;
    for (size_t w = 0; w < other.words_.size(); ++w) {
        added += static_cast<uint64_t>(std::popcount(other.words_[w] & ~words_[w]));
        words_[w] |= other.words_[w];
    }
    count_ += added;
    return added;
}

uint64_t entry_set::erase_all(const entry_set& other) {
    KORVEL_CHECK(other.size_ <= size_);
    uint64_t removed = 0;
    for (size_t w = 0; w < other.words_.size(); ++w) {
        removed += static_cast<uint64_t>(std::popcount(other.words_[w] & words_[w]));
        words_[w] &= ~other.words_[w];
    }
    count_ -= removed;
    return removed;
}
