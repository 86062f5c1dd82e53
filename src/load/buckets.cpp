#include "load/buckets.hpp"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <new>

#include "base/check.hpp"
#include "base/splitmix.hpp"
#include "load/sort_key.hpp"
#include "load/sort_lines.hpp"

namespace korvel {

namespace {

// Longer samples would only make longer splitters: any text can separate
// two buckets, a cut one as well as a whole line.
constexpr size_t SAMPLE_MAX = 256;
// Enough that buckets come out within a factor of about two of each other;
// every sample is a fault at a random place of the input.
constexpr size_t SAMPLES_PER_BUCKET = 8;
// Lines searched in full after a wrong guess of the bucket.
constexpr unsigned GUESS_PAUSE = 32;

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

std::string final_text(const char* line, size_t length, char separator) {
    std::string text(line, length);
    if (length == 0 || line[length - 1] != separator) text += separator;
    return text;
}

// The text of a sample: collapsed as lines are, cut to a splitter's length,
// ended by the separator.
std::string sample_text(const char* start, size_t length, char separator) {
    std::string text(std::min(length, SAMPLE_MAX), '\0');
    text.resize(collapse_separators(text.data(), start, text.size(), separator));
    return final_text(text.data(), text.size(), separator);
}

constexpr size_t LOOK_BACK = 4096;

// Where a sample taken at p begins: the start of its line, or p itself when
// that lies far back in a long line (a sample need not be a whole line).
const char* sample_start(const char* begin, const char* p, bool nul_only) {
    const char* from = static_cast<size_t>(p - begin) > LOOK_BACK ? p - LOOK_BACK : begin;
    size_t n = static_cast<size_t>(p - from);
    const char* found = static_cast<const char*>(memrchr(from, '\0', n));
    if (!nul_only) {
        const char* newline = static_cast<const char*>(memrchr(from, '\n', n));
        if (found == nullptr || (newline != nullptr && newline > found)) found = newline;
    }
    if (found != nullptr) return found + 1;
    return from == begin ? begin : p;
}

// The sample at p, in the input from begin to end.
std::string sample_at(const char* begin, const char* p, const char* end,
                      const line_format& format) {
    const char* start = sample_start(begin, p, format.nul_only);
    const char* stop = line_end(start, std::min(end, start + SAMPLE_MAX + 1), format.nul_only);
    return sample_text(start, static_cast<size_t>(stop - start), format.separator);
}

// Where the k-th of `count` samples of `total` bytes is taken: a place in
// the k-th of `count` equal stretches.
size_t sample_place(size_t total, size_t count, size_t k) {
    uint64_t state = total + k;
    const size_t stretch = std::max<size_t>(1, total / count);
    return std::min(total - 1, (total / count) * k + next_random(state) % stretch);
}

} // namespace

bool read_file(const input_file& file, size_t at, size_t n, char* out) {
    for (size_t done = 0; done < n;) {
        ssize_t got =
            pread(file.fd, out + done, n - done, static_cast<off_t>(file.offset + at + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO; // the file is shorter than it was
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

const char* line_end(const char* p, const char* end, bool nul_only) {
    size_t n = static_cast<size_t>(end - p);
    const void* nul = memchr(p, '\0', n);
    const char* stop = nul != nullptr ? static_cast<const char*>(nul) : end;
    if (!nul_only) {
        const void* newline = memchr(p, '\n', static_cast<size_t>(stop - p));
        if (newline != nullptr) stop = static_cast<const char*>(newline);
    }
    return stop;
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

size_t sample_count(size_t buckets) {
    return buckets < 2 ? 0 : buckets * SAMPLES_PER_BUCKET;
}

void take_samples(const std::vector<input_part>& input, const line_format& format, size_t count,
                  size_t first, size_t last, std::vector<std::string>& out) {
    if (first >= last) return;
    size_t total = 0;
    for (const input_part& part : input)
        total += part.size;
    for (size_t k = first; k < last; k++) {
        size_t at = sample_place(total, count, k);
        size_t part = 0;
        while (part + 1 < input.size() && at >= input[part].size)
            at -= input[part++].size;
        const input_part& where = input[part];
        out[k] = sample_at(where.data, where.data + at, where.data + where.size, format);
    }
}

bool take_samples(const input_file& input, const line_format& format, size_t count, size_t first,
                  size_t last, std::vector<std::string>& out) {
    if (first >= last) return true;
    std::string window(LOOK_BACK + SAMPLE_MAX + 1, '\0');
    for (size_t k = first; k < last; k++) {
        // The sample's neighbourhood, read: as much as a sample in memory
        // would look at.
        size_t at = sample_place(input.size, count, k);
        size_t from = at > LOOK_BACK ? at - LOOK_BACK : 0;
        size_t to = std::min(input.size, at + SAMPLE_MAX + 1);
        if (!read_file(input, from, to - from, window.data())) return false;
        out[k] = sample_at(window.data(), window.data() + (at - from), window.data() + (to - from),
                           format);
    }
    return true;
}

splitter_set choose_splitters(std::vector<std::string> samples, size_t buckets, char separator) {
    if (buckets < 2 || samples.empty()) return {};
    std::sort(samples.begin(), samples.end(), [separator](const std::string& a, const std::string& b) {
        return compare_line_order(a.c_str(), b.c_str(), separator) < 0;
    });
    // Without their leading blanks the splitters keep every line on the
    // fast way but the few that have such blanks; any text splits as well.
    std::vector<std::string> chosen;
    for (size_t j = 1; j < buckets; j++) {
        const std::string& sample = samples[j * samples.size() / buckets];
        chosen.push_back(sample.substr(count_leading_blanks(sample.c_str(), separator)));
    }
    return splitter_set(std::move(chosen), separator);
}

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
