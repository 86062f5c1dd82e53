#include "lines.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "sort_key.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline bool leading_blank(char c, char separator) {
    return is_blank(c) && c != separator;
}

} // namespace

KORVEL_READS_PAST_TEXT bool has_separator_run(const char* line, size_t length, char separator) {
#if defined(__SSE2__)
    // Sixteen bytes at a time: a bit per separator, and a run is a bit next
    // to another, in a block or across two.
    const __m128i wanted = _mm_set1_epi8(separator);
    unsigned carry = 0;
    size_t i = 0;
    for (;; i += 16) {
        unsigned bits;
        if (i + 16 <= length || (i < length && block_within_page(line + i))) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + i));
            bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted)));
            // Bytes past the line's end belong to whatever follows it.
            if (i + 16 > length) bits &= (1u << (length - i)) - 1;
        } else {
            bits = 0;
            for (size_t j = i; j < length; j++)
                bits |= static_cast<unsigned>(line[j] == separator) << (j - i);
        }
        if ((bits & (bits >> 1)) != 0 || (bits & carry) != 0) return true;
        if (i + 16 >= length) return false;
        carry = bits >> 15;
    }
#else
    const char* end = line + length;
    for (const char* p = line; (p = static_cast<const char*>(memchr(p, separator, end - p))) &&
                               p + 1 < end;
         p++)
        if (p[1] == separator) return true;
    return false;
#endif
}

size_t collapse_separators(char* out, const char* line, size_t length, char separator) {
    size_t n = 0;
    for (size_t i = 0; i < length; i++)
        if (line[i] != separator || n == 0 || out[n - 1] != separator) out[n++] = line[i];
    return n;
}

uint64_t count_leading_blanks(const char* text, char separator) {
    uint64_t i = 0;
    while (leading_blank(text[i], separator)) i++;
    return i;
}

int compare_line_order(const char* a, const char* b, char separator) {
    const uint64_t blanks_a = count_leading_blanks(a, separator);
    const uint64_t blanks_b = count_leading_blanks(b, separator);
    const auto* x = reinterpret_cast<const unsigned char*>(a + blanks_a);
    const auto* y = reinterpret_cast<const unsigned char*>(b + blanks_b);
    size_t i = 0;
    while (x[i] == y[i] && x[i] != 0) i++;
    // Past a separator both share, the first components are the same but
    // for their blanks, which decide before the rest does.
    const bool same_first = memchr(x, separator, i) != nullptr;
    if (x[i] == y[i] ||
        (same_first && (blanks_a != blanks_b || memcmp(a, b, blanks_a) != 0))) {
        const int order = strcmp(a, b);
        return (order > 0) - (order < 0);
    }
    return x[i] < y[i] ? -1 : 1;
}

// Sorting. The lines are paths: long common prefixes, many of them. A
// multikey quicksort that caches eight bytes of every line at the current
// depth compares whole words in a sequential array and goes back to the
// line's text only once per eight bytes of depth.
namespace {

constexpr size_t INSERTION_SORT_MAX = 16;

// Where the compared text of a line begins. Blanks is false when no line of
// the set starts with a blank, which saves looking.
template <bool Blanks> inline const char* sort_text(const char* line, char separator) {
    if constexpr (Blanks) {
        if (leading_blank(line[0], separator)) return line + count_leading_blanks(line, separator);
    }
    return line;
}

// Lines whose texts after the blanks are equal go by their whole texts. Without
// blanks in the set, such lines are identical and either order is the same.
template <bool Blanks> inline bool tie_less(const char* a, const char* b) {
    if constexpr (Blanks) return strcmp(a, b) < 0;
    return false;
}

template <bool Blanks>
void fill_keys(char** items, uint64_t* keys, size_t n, size_t depth, char separator) {
    constexpr size_t AHEAD = 16;
    for (size_t i = 0; i < n; i++) {
        if (i + AHEAD < n) __builtin_prefetch(items[i + AHEAD] + depth);
        keys[i] = load_key(sort_text<Blanks>(items[i], separator) + depth);
    }
}

// Lines whose keys at depth are equal and do not end compare on from depth + 8.
template <bool Blanks>
inline bool line_less(uint64_t key_a, const char* a, uint64_t key_b, const char* b, size_t depth,
                      char separator) {
    if (key_a != key_b) return key_a < key_b;
    if (key_ends_text(key_a)) return tie_less<Blanks>(a, b);
    int order = strcmp(sort_text<Blanks>(a, separator) + depth + 8,
                       sort_text<Blanks>(b, separator) + depth + 8);
    return order != 0 ? order < 0 : tie_less<Blanks>(a, b);
}

template <bool Blanks>
void insertion_sort(char** items, uint64_t* keys, size_t n, size_t depth, char separator) {
    for (size_t i = 1; i < n; i++) {
        uint64_t key = keys[i];
        char* line = items[i];
        size_t j = i;
        for (; j > 0 && line_less<Blanks>(key, line, keys[j - 1], items[j - 1], depth, separator); j--) {
            keys[j] = keys[j - 1];
            items[j] = items[j - 1];
        }
        keys[j] = key;
        items[j] = line;
    }
}

inline uint64_t median_of_three(uint64_t a, uint64_t b, uint64_t c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

uint64_t choose_pivot(const uint64_t* keys, size_t n) {
    if (n < 1024) return median_of_three(keys[0], keys[n / 2], keys[n - 1]);
    size_t step = n / 8;
    return median_of_three(median_of_three(keys[0], keys[step], keys[2 * step]),
                           median_of_three(keys[3 * step], keys[4 * step], keys[5 * step]),
                           median_of_three(keys[6 * step], keys[7 * step], keys[n - 1]));
}

struct sort_task {
    size_t begin;
    size_t n;
    size_t depth;    // the keys of the range hold the bytes at this depth
    unsigned budget; // partitions left at this depth before giving up on pivots
};

// A range still being partitioned at the same depth after this many rounds
// (unlucky pivots, or an input made to defeat them) goes to a sort with a
// guaranteed bound.
unsigned partition_budget(size_t n) { return 2 * static_cast<unsigned>(std::bit_width(n)) + 4; }

template <bool Blanks> void sort_from_depth(char** s, size_t n, size_t depth, char separator) {
    std::sort(s, s + n, [depth, separator](const char* a, const char* b) {
        int order =
            strcmp(sort_text<Blanks>(a, separator) + depth, sort_text<Blanks>(b, separator) + depth);
        return order != 0 ? order < 0 : tie_less<Blanks>(a, b);
    });
}

// How much partitioning work passes between two questions to keep_going.
constexpr size_t CHECK_WORK = size_t{1} << 16;

// keys holds the bytes of every line at depth 0.
template <bool Blanks>
bool multikey_sort(char** items, uint64_t* keys, size_t count, char separator,
                   const std::function<bool()>& keep_going) {
    // An explicit stack: the depth of the work follows the length of the
    // common prefixes, which has no bound.
    std::vector<sort_task> pending{{0, count, 0, partition_budget(count)}};
    size_t work = 0;
    while (!pending.empty()) {
        if (work >= CHECK_WORK && keep_going) {
            work = 0;
            if (!keep_going()) return false;
        }
        sort_task task = pending.back();
        pending.pop_back();
        for (;;) {
            char** s = items + task.begin;
            uint64_t* k = keys + task.begin;
            size_t n = task.n;
            if (n <= INSERTION_SORT_MAX) {
                insertion_sort<Blanks>(s, k, n, task.depth, separator);
                break;
            }
            if (task.budget == 0) {
                sort_from_depth<Blanks>(s, n, task.depth, separator);
                break;
            }
            work += n;
            uint64_t pivot = choose_pivot(k, n);
            size_t lt = 0, i = 0, gt = n;
            while (i < gt) {
                if (k[i] < pivot) {
                    std::swap(k[i], k[lt]);
                    std::swap(s[i], s[lt]);
                    lt++;
                    i++;
                } else if (k[i] > pivot) {
                    gt--;
                    std::swap(k[i], k[gt]);
                    std::swap(s[i], s[gt]);
                } else {
                    i++;
                }
            }
            if (lt > 1) pending.push_back({task.begin, lt, task.depth, task.budget - 1});
            if (n - gt > 1) pending.push_back({task.begin + gt, n - gt, task.depth, task.budget - 1});
            size_t equal = gt - lt;
            if (equal < 2) break;
            if (key_ends_text(pivot)) {
                if constexpr (Blanks) std::sort(s + lt, s + gt, tie_less<Blanks>);
                break;
            }
            task = {task.begin + lt, equal, task.depth + 8, partition_budget(equal)};
            fill_keys<Blanks>(items + task.begin, keys + task.begin, equal, task.depth, separator);
        }
    }
    return true;
}

// Sorted by their texts after the leading blanks, lines whose first
// components differ only in those blanks lie together (the text up to the
// first separator is a prefix), ordered by what follows. Where such a run
// holds a line with blanks, the whole first components come first: a
// stable sort by them keeps the order of the rest.
void order_first_components(char** items, size_t count, char separator) {
    const auto first_length = [separator](const char* text) {
        return static_cast<size_t>(strchrnul(text, separator) - text);
    };
    for (size_t i = 0; i < count;) {
        const char* bare = sort_text<true>(items[i], separator);
        const size_t length = first_length(bare);
        bool blanks = bare != items[i];
        size_t j = i + 1;
        for (; j < count; j++) {
            const char* other = sort_text<true>(items[j], separator);
            if (strncmp(other, bare, length) != 0 || other[length] != bare[length]) break;
            blanks = blanks || other != items[j];
        }
        if (blanks)
            std::stable_sort(items + i, items + j, [separator, &first_length](const char* a,
                                                                              const char* b) {
                const size_t n = std::min(first_length(a), first_length(b)) + 1;
                return memcmp(a, b, n) < 0;
            });
        i = j;
    }
}

} // namespace

bool sort_lines(char** items, uint64_t count, char separator,
                const std::function<bool()>& keep_going) {
    if (count < 2) return true;
    std::unique_ptr<uint64_t[]> keys(new uint64_t[count]);
    fill_keys<false>(items, keys.get(), count, 0, separator);
    bool blanks = std::any_of(keys.get(), keys.get() + count, [separator](uint64_t key) {
        return leading_blank(static_cast<char>(key >> 56), separator);
    });
    if (!blanks) return multikey_sort<false>(items, keys.get(), count, separator, keep_going);
    fill_keys<true>(items, keys.get(), count, 0, separator);
    if (!multikey_sort<true>(items, keys.get(), count, separator, keep_going)) return false;
    order_first_components(items, count, separator);
    return true;
}
