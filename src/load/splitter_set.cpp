#include "load/splitter_set.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "base/check.hpp"
#include "base/word_at_a_time.hpp"
#include "load/sort_key.hpp"
#include "load/sort_lines.hpp"

namespace korvel {

namespace {

// The key (see load_key) at offset `at` of the text a line becomes: its
// bytes, the separator when it is added, then the NUL.
KORVEL_READS_PAST_TEXT inline uint64_t line_key(const char* line, size_t length, size_t at,
                                                bool add_separator, char separator) {
    if constexpr (std::endian::native == std::endian::little) {
        if (at + 8 <= length) return __builtin_bswap64(load_word(line + at));
        size_t rest = at < length ? length - at : 0;
        uint64_t word = 0;
        if (rest > 0) {
            // Past the line's last byte lie other bytes of the input, or of
            // its last page: masked off.
            if (word_within_page(line + at))
                word = load_word(line + at) & ((uint64_t{1} << (8 * rest)) - 1);
            else
                memcpy(&word, line + at, rest);
        }
        if (add_separator && at <= length)
            word |= uint64_t{static_cast<unsigned char>(separator)} << (8 * rest);
        return __builtin_bswap64(word);
    }
    uint64_t key = 0;
    for (size_t i = 0; i < 8; i++) {
        size_t p = at + i;
        unsigned char byte = p < length                     ? static_cast<unsigned char>(line[p])
                             : p == length && add_separator ? static_cast<unsigned char>(separator)
                                                            : 0;
        key |= uint64_t{byte} << (56 - 8 * i);
    }
    return key;
}

} // namespace

std::string final_text(const char* line, size_t length, char separator) {
    std::string text(line, length);
    if (length == 0 || line[length - 1] != separator) text += separator;
    return text;
}

splitter_set::splitter_set(std::vector<std::string> texts, char separator)
    : separator_(separator), texts_(std::move(texts)) {
    std::sort(texts_.begin(), texts_.end(), [separator](const std::string& a, const std::string& b) {
        return compare_line_order(a.c_str(), b.c_str(), separator) < 0;
    });
    for (const std::string& text : texts_)
        blank_splitters_ = blank_splitters_ || count_leading_blanks(text.c_str(), separator) > 0;
    // Without leading blanks the order is that of the bytes, which the keys
    // follow; with them every line is searched for.
    if (blank_splitters_) return;
    for (const std::string& text : texts_) {
        first_.push_back(static_cast<uint32_t>(words_.size()));
        // The text padded with NUL bytes, so that every key read stays inside.
        std::string padded = text;
        padded.append(8, '\0');
        for (size_t at = 0;; at += 8) {
            uint64_t key = 0;
            for (size_t i = 0; i < 8; i++)
                key |= uint64_t{static_cast<unsigned char>(padded[at + i])} << (56 - 8 * i);
            words_.push_back(key);
            if (key_ends_text(key)) break;
        }
    }
    if (!texts_.empty()) root_ = add_node(0, texts_.size(), 0);
}

splitter_set::node splitter_set::add_node(size_t lo, size_t hi, size_t level) {
    // The splitters are sorted by their keys, so those with one key at this
    // level lie together: the node's entries first, then their children.
    std::vector<size_t> begins;
    for (size_t i = lo; i < hi; i++)
        if (i == lo || word(i, level) != word(i - 1, level)) begins.push_back(i);
    const node added{static_cast<uint32_t>(keys_.size()), static_cast<uint32_t>(begins.size())};
    for (size_t begin : begins) {
        keys_.push_back(word(begin, level));
        group_begin_.push_back(static_cast<uint32_t>(begin));
        child_.emplace_back();
    }
    keys_.push_back(0);
    group_begin_.push_back(static_cast<uint32_t>(hi));
    child_.emplace_back();
    for (size_t g = 0; g < begins.size(); g++) {
        const size_t end = g + 1 < begins.size() ? begins[g + 1] : hi;
        if (end - begins[g] > 1 && !key_ends_text(word(begins[g], level))) {
            const node child = add_node(begins[g], end, level + 1);
            child_[added.first + g] = child;
        }
    }
    return added;
}

bool splitter_set::searched(const char* line, size_t length) const {
    return blank_splitters_ || (length > 0 && is_blank(line[0]) && line[0] != separator_);
}

size_t splitter_set::search_texts(const char* line, size_t length) const {
    const std::string text = final_text(line, length, separator_);
    return static_cast<size_t>(
        std::partition_point(texts_.begin(), texts_.end(),
                             [&](const std::string& splitter) {
                                 return compare_line_order(splitter.c_str(), text.c_str(),
                                                           separator_) <= 0;
                             }) -
        texts_.begin());
}

size_t splitter_set::bucket_of(const char* line, size_t length) const {
    if (texts_.empty()) return 0;
    if (searched(line, length)) return search_texts(line, length);
    const char separator = separator_;
    const bool add_separator = length == 0 || line[length - 1] != separator;
    const uint64_t* keys = keys_.data();
    node here = root_;
    for (size_t level = 0;; level++) {
        const uint64_t key = line_key(line, length, 8 * level, add_separator, separator);
        // The first of the node's keys not below the line's, or the entry
        // after them: halving with a conditional move, so that the branch
        // predictor has nothing to guess but the node's size.
        const uint64_t* base = keys + here.first;
        for (uint32_t count = here.count; count > 1;) {
            const uint32_t half = count / 2;
            base = base[half] < key ? base + half : base;
            count -= half;
        }
        base += *base < key;
        const auto entry = static_cast<size_t>(base - keys);
        // Most lines fall between two groups of splitters at the first key
        // that differs.
        if (entry == here.first + here.count || *base != key) return group_begin_[entry];
        const size_t group = group_begin_[entry];
        // The same text: every splitter of the group is at or below it.
        if (key_ends_text(key)) return group_begin_[entry + 1];
        here = child_[entry];
        // A group of one splitter: nothing left to search.
        if (here.count == 0)
            return group + at_or_below_from(group, level + 1, line, length, add_separator);
    }
}

bool splitter_set::at_or_below(size_t splitter, const char* line, size_t length) const {
    if (searched(line, length)) {
        const std::string text = final_text(line, length, separator_);
        return compare_line_order(texts_[splitter].c_str(), text.c_str(), separator_) <= 0;
    }
    const bool add_separator = length == 0 || line[length - 1] != separator_;
    return at_or_below_from(splitter, 0, line, length, add_separator);
}

bool splitter_set::at_or_below_from(size_t splitter, size_t level, const char* line, size_t length,
                                    bool add_separator) const {
    for (;; level++) {
        const uint64_t key = line_key(line, length, 8 * level, add_separator, separator_);
        const uint64_t bound = word(splitter, level);
        if (key != bound) return bound < key;
        if (key_ends_text(key)) return true;
    }
}

bool splitter_set::holds(size_t bucket, const char* line, size_t length) const {
    return (bucket == 0 || at_or_below(bucket - 1, line, length)) &&
           (bucket == texts_.size() || !at_or_below(bucket, line, length));
}

} // namespace korvel
