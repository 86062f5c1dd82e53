// Splitting the input into buckets of lines, so that sorting each bucket on
// its own sorts the whole list: every line of a bucket comes, in the order
// of sort_lines, before every line of the next one. The lines are copied into
// an arena on the way, each bucket's texts close together, so that they stay
// in the cache while it is sorted.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/memory_map.hpp"
#include "base/raw_array.hpp"

namespace korvel {

// How the input's lines end, and the separator each text ends with.
struct line_format {
    char separator = '/';
    bool nul_only = false; // a line ends at a NUL byte only, not at a newline
};

// A part of the input in memory that holds whole lines; only the input's
// last part may end without a line end.
struct input_part {
    const char* data;
    size_t size;
};

// The input as a file read piece by piece (pread): the bytes from offset on,
// size of them. Reading costs less than mapping where the first touch of a
// page is dear.
struct input_file {
    int fd = -1;
    size_t offset = 0;
    size_t size = 0;
};

// Reads [at, at + n) of the file into out: false with errno set when it
// cannot (the file shrank, or reading failed).
bool read_file(const input_file& file, size_t at, size_t n, char* out);

// The end of the line that starts at p: its newline or NUL byte, or end.
const char* line_end(const char* p, const char* end, bool nul_only);

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

// Splitters for about `buckets` buckets of equal size come from lines
// picked at evenly spread random places of the input: sample_count of them,
// taken by one or more threads, each taking some with take_samples (into
// out[first] .. out[last - 1]), then handed to choose_splitters.
size_t sample_count(size_t buckets);
void take_samples(const std::vector<input_part>& input, const line_format& format, size_t count,
                  size_t first, size_t last, std::vector<std::string>& out);
// The same from a file; false with errno set when reading failed.
bool take_samples(const input_file& input, const line_format& format, size_t count, size_t first,
                  size_t last, std::vector<std::string>& out);
splitter_set choose_splitters(std::vector<std::string> samples, size_t buckets, char separator);

// The memory the texts are copied into. Each bucket part (the lines of one
// bucket that one writer copies) has a home of its own with room for several
// times its expected share, and the homes lie in bucket order, so that the
// buckets built so far free one stretch of memory; a part that outgrows its
// home goes on in chunks taken after all the homes. Only the pages written
// take memory.
class bucket_arena {
  public:
    static constexpr size_t CHUNK = size_t{1} << 16;

    bucket_arena(size_t input_bytes, size_t buckets, unsigned writers);

    char* home(size_t bucket, unsigned writer) const {
        return memory_.data() + (bucket * writers_ + writer) * home_size_;
    }
    size_t home_size() const { return home_size_; }
    // Where the homes of the buckets before this one end.
    char* homes_end(size_t bucket) const { return home(bucket, 0); }
    // At least `bytes` bytes after the homes, a whole number of chunks, for
    // any thread.
    char* take(size_t bytes);
    // An upper bound of the bytes written.
    size_t used() const {
        return buckets_ * writers_ * home_size_ + overflow_used_.load(std::memory_order_relaxed);
    }

  private:
    memory_map memory_;
    size_t buckets_;
    unsigned writers_;
    size_t home_size_;
    size_t overflow_begin_;
    std::atomic<size_t> overflow_used_{0};
};

// The lines of one bucket that one writer copied.
struct bucket_part {
    raw_array<char*> lines;
    // The chunks taken when the home was full.
    std::vector<std::pair<char*, size_t>> chunks;
    char* cursor = nullptr;
    char* end = nullptr;
    // Pages up to here are mapped (see populate_pages).
    char* populated = nullptr;
};

// Copies lines into their buckets: one per thread.
class bucket_writer {
  public:
    bucket_writer(const splitter_set& splitters, bucket_arena& arena, const line_format& format,
                  size_t expected_lines_per_part, unsigned writer);

    // Every this many bytes of input, write() reports how far it has come.
    static constexpr size_t PACE_BYTES = size_t{1} << 18;

    // Copies every line of [begin, end), which starts at a line's start
    // and ends after a line end or at the end of the input, with its runs
    // of separators collapsed; an empty line is counted, not copied. Now
    // and then it
    // calls pace with the end of the input used up and the lines so far;
    // when pace answers false it stops and returns false.
    bool write(const char* begin, const char* end,
               const std::function<bool(const char* done, uint64_t lines)>& pace);

    std::vector<bucket_part>& parts() { return parts_; }
    uint64_t lines() const { return lines_; }

  private:
    void make_room(bucket_part& part, size_t need);
    // Places one line (not empty, runs collapsed) and copies it there.
    void copy_line(const char* line, size_t length, bool single);

    const splitter_set& splitters_;
    bucket_arena& arena_;
    line_format format_;
    std::vector<bucket_part> parts_;
    uint64_t lines_ = 0;
    // A line with a run of separators, collapsed before it is placed.
    std::string collapsed_;
    // The bucket of the line before, tried first while it keeps being
    // right, as in an input that comes in order.
    size_t last_bucket_ = 0;
    unsigned misses_ = 0;
};

} // namespace korvel
