// The texts that cut the sorted order into buckets, and finding a line's
// bucket among them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvel {

// The texts that separate the buckets, in the order of sort_lines. A line
// goes into the bucket after the last splitter that sorts before it or
// equals it. Splitters are compared eight bytes at a time, level by level:
// the ones whose first eight bytes equal the line's narrow the search for the
// next eight.
//
// bucket_of walks a tree of those keys: each node holds the distinct keys,
// at one level, of the splitters that share every key before it, side by
// side, and a line takes one search of them per level, halving with
// conditional moves, since shuffled lines defeat the branch predictor; once
// a single splitter is left, the rest of its keys are compared in a row. On
// shuffled input, where every line pays for the whole search, that takes
// two thirds of the time of searching the splitters' own keys (two searches
// per level, through scattered words).
// The text a line is compared as: the line, ended by the separator.
std::string final_text(const char* line, size_t length, char separator);

class splitter_set {
  public:
    splitter_set() = default; // one bucket
    // Texts that end with the separator and hold no NUL byte, in any order.
    // The loader's have no leading blanks: a line with them, or any line
    // when a splitter has them, is placed by a plain search of the texts.
    splitter_set(std::vector<std::string> texts, char separator);

    size_t bucket_count() const { return texts_.size() + 1; }
    // The bucket of an input line: its bytes without the line end, runs of
    // separators collapsed, as the text it becomes once the separator is
    // appended.
    size_t bucket_of(const char* line, size_t length) const;
    // Whether the line belongs in the bucket: two comparisons, cheaper than
    // a search when lines come in order.
    bool holds(size_t bucket, const char* line, size_t length) const;

  private:
    uint64_t word(size_t splitter, size_t level) const { return words_[first_[splitter] + level]; }
    // Whether the splitter sorts before the line or equals it.
    bool at_or_below(size_t splitter, const char* line, size_t length) const;
    // Whether the line is placed by a search of the texts, not by their keys.
    bool searched(const char* line, size_t length) const;
    // The number of splitters at or below the line, by searching the texts.
    size_t search_texts(const char* line, size_t length) const;

    char separator_ = '/';
    // Whether a splitter begins with a blank that is not the separator.
    bool blank_splitters_ = false;
    std::vector<std::string> texts_; // sorted
    // The keys of each splitter's compared text, eight bytes each, up to and
    // including the one that holds its end.
    std::vector<uint64_t> words_;
    std::vector<uint32_t> first_;

    // Whether the splitter sorts before the line or equals it, given that
    // their first `level` keys are equal.
    bool at_or_below_from(size_t splitter, size_t level, const char* line, size_t length,
                          bool add_separator) const;

    // A node of the tree: its entries are first .. first + count, one more
    // than its keys.
    struct node {
        uint32_t first = 0;
        uint32_t count = 0; // none: no node
    };
    // Adds the node for the splitters in [lo, hi), which share their first
    // `level` keys and all have a key at this level.
    node add_node(size_t lo, size_t hi, size_t level);

    node root_;
    // Per entry: the key; the first splitter with that key (the entry after
    // a node's keys holds the end of its splitters, so that an entry's group
    // ends where the next one begins); the node of the next level. A group
    // of one splitter has no node: the line is compared with the rest of
    // that splitter's keys, which lie side by side. Nor does a key that ends
    // the texts. The key of the entry after a node's keys is never compared.
    std::vector<uint64_t> keys_;
    std::vector<uint32_t> group_begin_;
    std::vector<node> child_;
};

} // namespace korvel
