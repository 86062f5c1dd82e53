// One bit per entry: which entries a filter keeps, which match, which are
// marked. Packed in words, so a set over millions of entries is a few
// hundred kilobytes and walking its members skips empty words whole.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

class bit_set {
  public:
    bit_set() = default;
    explicit bit_set(uint64_t size) : words_((size + 63) / 64), size_(size) {}

    uint64_t size() const { return size_; }
    bool test(uint64_t i) const { return (words_[i / 64] >> (i % 64)) & 1; }
    void set(uint64_t i) { words_[i / 64] |= uint64_t{1} << (i % 64); }
    void reset(uint64_t i) { words_[i / 64] &= ~(uint64_t{1} << (i % 64)); }
    void clear() { std::fill(words_.begin(), words_.end(), 0); }
    // Indices from the old size up to the new one come in as non-members;
    // those past a smaller one go.
    void resize(uint64_t size) {
        words_.resize((size + 63) / 64);
        size_ = size;
        if (size_ % 64 != 0) words_.back() &= (uint64_t{1} << (size_ % 64)) - 1;
    }
    void reserve(uint64_t size) { words_.reserve((size + 63) / 64); }
    void flip(uint64_t i) { words_[i / 64] ^= uint64_t{1} << (i % 64); }
    // Every index below size() becomes a member.
    void fill() {
        std::fill(words_.begin(), words_.end(), ~uint64_t{0});
        if (size_ % 64 != 0) words_.back() = (uint64_t{1} << (size_ % 64)) - 1;
    }

    uint64_t count() const {
        uint64_t n = 0;
        for (uint64_t w : words_) n += static_cast<uint64_t>(std::popcount(w));
        return n;
    }
    // Members below i.
    uint64_t count_before(uint64_t i) const {
        uint64_t n = 0;
        for (uint64_t w = 0; w < i / 64; ++w) n += static_cast<uint64_t>(std::popcount(words_[w]));
        if (i % 64 != 0) n += static_cast<uint64_t>(std::popcount(words_[i / 64] & ((uint64_t{1} << (i % 64)) - 1)));
        return n;
    }
    // The first member at or after i, or size() when there is none.
    uint64_t next(uint64_t i) const {
        if (i >= size_) return size_;
        uint64_t w = i / 64;
        uint64_t bits = words_[w] & (~uint64_t{0} << (i % 64));
        while (bits == 0) {
            if (++w == words_.size()) return size_;
            bits = words_[w];
        }
        return w * 64 + static_cast<uint64_t>(std::countr_zero(bits));
    }

    // Whole sets at a word a step. `other` may be smaller, never larger.
    bool includes(const bit_set& other) const {
        for (size_t w = 0; w < other.words_.size(); ++w)
            if ((other.words_[w] & ~words_[w]) != 0) return false;
        return true;
    }
    // Each returns how many members it added or took away.
    uint64_t unite(const bit_set& other) {
        uint64_t added = 0;
        for (size_t w = 0; w < other.words_.size(); ++w) {
            added += static_cast<uint64_t>(std::popcount(other.words_[w] & ~words_[w]));
            words_[w] |= other.words_[w];
        }
        return added;
    }
    uint64_t subtract(const bit_set& other) {
        uint64_t removed = 0;
        for (size_t w = 0; w < other.words_.size(); ++w) {
            removed += static_cast<uint64_t>(std::popcount(other.words_[w] & words_[w]));
            words_[w] &= ~other.words_[w];
        }
        return removed;
    }

    // Keeps only the members that `other` holds too.
    void intersect(const bit_set& other) {
        for (size_t w = 0; w < words_.size(); ++w)
            words_[w] &= w < other.words_.size() ? other.words_[w] : 0;
    }

    // The memory the members take.
    uint64_t storage_bytes() const { return words_.capacity() * sizeof(uint64_t); }

    bool operator==(const bit_set&) const = default;

  private:
    std::vector<uint64_t> words_;
    uint64_t size_ = 0;
};
