// Copying the lines into their buckets, in an arena laid out bucket by bucket.
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
#include "load/input_lines.hpp"
#include "load/splitter_set.hpp"

namespace korvel {

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
