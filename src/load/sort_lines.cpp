#include "load/sort_lines.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "load/sort_key.hpp"

namespace korvel {

uint64_t count_leading_blanks(const char* text) {
    uint64_t i = 0;
    while (text[i] == ' ' || text[i] == '\t') i++;
    return text[i] == '\0' ? 0 : i;
}

int compare_line_order(const char* a, const char* b) {
    int order = strcmp(a + count_leading_blanks(a), b + count_leading_blanks(b));
    return order != 0 ? order : strcmp(a, b);
}

// Sorting. The lines are paths: long common prefixes, many of them. A
// multikey quicksort that caches eight bytes of every line at the current
// depth compares whole words in a sequential array and goes back to the
// line's text only once per eight bytes of depth.
namespace {

constexpr size_t INSERTION_SORT_MAX = 16;

// Where the compared text of a line begins. Blanks is false when no line of
// the set starts with a blank, which saves looking.
template <bool Blanks> inline const char* sort_text(const char* line) {
    if constexpr (Blanks) {
        if (is_blank(line[0])) return line + count_leading_blanks(line);
    }
    return line;
}

// Lines whose texts after the blanks are equal go by their whole texts. Without
// blanks in the set, such lines are identical and either order is the same.
template <bool Blanks> inline bool tie_less(const char* a, const char* b) {
    if constexpr (Blanks) return strcmp(a, b) < 0;
    return false;
}

template <bool Blanks> void fill_keys(char** items, uint64_t* keys, size_t n, size_t depth) {
    constexpr size_t AHEAD = 16;
    for (size_t i = 0; i < n; i++) {
        if (i + AHEAD < n) __builtin_prefetch(items[i + AHEAD] + depth);
        keys[i] = load_key(sort_text<Blanks>(items[i]) + depth);
    }
}

// Lines whose keys at depth are equal and do not end compare on from depth + 8.
template <bool Blanks>
inline bool line_less(uint64_t key_a, const char* a, uint64_t key_b, const char* b, size_t depth) {
    if (key_a != key_b) return key_a < key_b;
    if (key_ends_text(key_a)) return tie_less<Blanks>(a, b);
    int order = strcmp(sort_text<Blanks>(a) + depth + 8, sort_text<Blanks>(b) + depth + 8);
    return order != 0 ? order < 0 : tie_less<Blanks>(a, b);
}

template <bool Blanks> void insertion_sort(char** items, uint64_t* keys, size_t n, size_t depth) {
    for (size_t i = 1; i < n; i++) {
        uint64_t key = keys[i];
        char* line = items[i];
        size_t j = i;
        for (; j > 0 && line_less<Blanks>(key, line, keys[j - 1], items[j - 1], depth); j--) {
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

template <bool Blanks> void sort_from_depth(char** s, size_t n, size_t depth) {
    std::sort(s, s + n, [depth](const char* a, const char* b) {
        int order = strcmp(sort_text<Blanks>(a) + depth, sort_text<Blanks>(b) + depth);
        return order != 0 ? order < 0 : tie_less<Blanks>(a, b);
    });
}

// How much partitioning work passes between two questions to keep_going.
constexpr size_t CHECK_WORK = size_t{1} << 16;

// keys holds the bytes of every line at depth 0.
template <bool Blanks>
bool multikey_sort(char** items, uint64_t* keys, size_t count,
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
                insertion_sort<Blanks>(s, k, n, task.depth);
                break;
            }
            if (task.budget == 0) {
                sort_from_depth<Blanks>(s, n, task.depth);
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
            fill_keys<Blanks>(items + task.begin, keys + task.begin, equal, task.depth);
        }
    }
    return true;
}

} // namespace

bool sort_lines(char** items, uint64_t count, const std::function<bool()>& keep_going) {
    if (count < 2) return true;
    std::unique_ptr<uint64_t[]> keys(new uint64_t[count]);
    fill_keys<false>(items, keys.get(), count, 0);
    bool blanks = std::any_of(keys.get(), keys.get() + count, [](uint64_t key) {
        return is_blank(static_cast<char>(key >> 56));
    });
    if (!blanks) return multikey_sort<false>(items, keys.get(), count, keep_going);
    fill_keys<true>(items, keys.get(), count, 0);
    return multikey_sort<true>(items, keys.get(), count, keep_going);
}

} // namespace korvel
