#include "load/bucket_writer.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "base/check.hpp"
#include "load/sort_lines.hpp"

namespace korvel {

namespace {

// Lines searched in full after a wrong guess of the bucket.
constexpr unsigned GUESS_PAUSE = 32;

} // namespace

bucket_arena::bucket_arena(size_t input_bytes, size_t buckets, unsigned writers)
    : buckets_(buckets), writers_(writers) {
    // A text takes at most one byte more than its line with its line end,
    // so the texts take at most twice the input. Homes have room for four
    // times a part's share, which the sampled splitters make likely to be
    // enough; a chunk is left behind only with less room than the next text
    // needs, and one for a long text is rounded up by less than the text, so
    // the chunks waste less than they hold.
    const size_t page = page_size();
    size_t share = input_bytes / (buckets * writers) + 1;
    const size_t texts = 2 * input_bytes + 2;
    const size_t chunks = (buckets * writers + 1) * CHUNK;
    // Under an address-space limit (ulimit -v) so large a reservation may be
    // refused though little of it is ever touched: smaller homes and less
    // room for overflow then, down to about the texts' worst case, and a
    // load that outgrows that fails cleanly in take().
    // A larger size is taken only when what the load maps after it still
    // fits beside it: the tree's names (at most the texts), its entries and
    // rows (less than the input), and the helpers' stacks and heaps. Else the
    // first reservation could take the room the later ones need, and a load
    // that fits under a lower limit would fail under a higher one.
    const size_t later = texts + input_bytes + (size_t{64} << 20);
    struct sizes {
        size_t home_shares, overflow_halves;
    };
    for (const sizes& tried : {sizes{4, 6}, sizes{2, 2}, sizes{1, 1}}) {
        home_size_ = (tried.home_shares * share + CHUNK + page - 1) / page * page;
        overflow_begin_ = buckets * writers * home_size_;
        const bool last = tried.home_shares == 1;
        try {
            memory_ = memory_map::anonymous(overflow_begin_ + tried.overflow_halves * texts / 2 + chunks);
            if (!last) (void)memory_map::anonymous(later);
            return;
        } catch (const std::bad_alloc&) {
            memory_ = {};
            if (last) throw;
        }
    }
}

char* bucket_arena::take(size_t bytes) {
    size_t size = (bytes + CHUNK - 1) / CHUNK * CHUNK;
    size_t at = overflow_begin_ + overflow_used_.fetch_add(size, std::memory_order_relaxed);
    // Only with the smallest reservation can the overflow run out.
    if (at + size > memory_.size()) throw std::bad_alloc();
    char* chunk = memory_.data() + at;
    populate_pages(chunk, chunk + size);
    return chunk;
}

bucket_writer::bucket_writer(const splitter_set& splitters, bucket_arena& arena,
                             const line_format& format, size_t expected_lines_per_part,
                             unsigned writer)
    : splitters_(splitters), arena_(arena), format_(format), parts_(splitters.bucket_count()) {
    for (size_t b = 0; b < parts_.size(); b++) {
        bucket_part& part = parts_[b];
        part.cursor = part.populated = arena.home(b, writer);
        part.end = part.cursor + arena.home_size();
        part.lines.reserve(expected_lines_per_part);
        populate_pages(part.lines.data, part.lines.data + part.lines.capacity);
    }
}

void bucket_writer::make_room(bucket_part& part, size_t need) {
    if (static_cast<size_t>(part.end - part.cursor) < need) {
        char* chunk = arena_.take(need);
        size_t size = (need + bucket_arena::CHUNK - 1) / bucket_arena::CHUNK * bucket_arena::CHUNK;
        part.chunks.emplace_back(chunk, size);
        part.cursor = chunk;
        part.end = part.populated = chunk + size;
        return;
    }
    // The home is mapped a chunk ahead of the texts.
    char* want = std::min(part.end, part.cursor + need + bucket_arena::CHUNK);
    populate_pages(part.populated, want);
    part.populated = want;
}

void bucket_writer::copy_line(const char* line, size_t length, bool single) {
    const char separator = format_.separator;
    bool add_separator = line[length - 1] != separator;
    size_t need = length + add_separator + 1;
    size_t bucket = 0;
    if (!single) {
        // After a miss the guess waits a while: in shuffled input it
        // would only cost.
        if (misses_ == 0 && splitters_.holds(last_bucket_, line, length)) {
            bucket = last_bucket_;
        } else {
            bucket = splitters_.bucket_of(line, length);
            misses_ = bucket == last_bucket_ ? 0 : misses_ == 0 ? GUESS_PAUSE : misses_ - 1;
            last_bucket_ = bucket;
        }
    }
    bucket_part& part = parts_[bucket];
    if (static_cast<size_t>(part.populated - part.cursor) < need) make_room(part, need);
    char* text = part.cursor;
    memcpy(text, line, length);
    if (add_separator) text[length++] = separator;
    text[length] = '\0';
    part.cursor += need;
    part.lines.push_back(text);
}

bool bucket_writer::write(const char* begin, const char* end,
                          const std::function<bool(const char* done, uint64_t lines)>& pace) {
    const char separator = format_.separator;
    const bool single = splitters_.bucket_count() == 1;
    // The next NUL byte and the next newline, each found once and kept until
    // passed: NUL bytes are rare, and so is a search that runs to the end.
    const char* nul = nullptr;
    const char* newline = format_.nul_only ? end : nullptr;
    const char* next_pace = begin + PACE_BYTES;
    const char* pos = begin;
    while (pos < end) {
        if (nul < pos) {
            const void* found = memchr(pos, '\0', static_cast<size_t>(end - pos));
            nul = found != nullptr ? static_cast<const char*>(found) : end;
        }
        if (newline < pos) {
            const void* found = memchr(pos, '\n', static_cast<size_t>(end - pos));
            newline = found != nullptr ? static_cast<const char*>(found) : end;
        }
        const char* stop = std::min(nul, newline);
        size_t length = static_cast<size_t>(stop - pos);
        if (length != 0) {
            const char* line = pos;
            if (has_separator_run(pos, length, separator)) {
                collapsed_.resize(length);
                length = collapse_separators(collapsed_.data(), pos, length, separator);
                line = collapsed_.data();
            }
            copy_line(line, length, single);
        }
        lines_++;
        if (stop == end) break;
        pos = stop + 1;
        if (pos >= next_pace && pos < end) {
            next_pace = pos + PACE_BYTES;
            if (!pace(pos, lines_)) return false;
        }
    }
    return pace(end, lines_);
}

} // namespace korvel
