#include "lines.hpp"

#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "raw_array.hpp"
#include "sort_key.hpp"

namespace {

// Input is read in blocks of this size into a buffer that stays in cache;
// the lines are then copied into the arena with their separator added.
constexpr size_t READ_BLOCK = size_t{1} << 16;

// The reader's state between blocks: the arena holds the finished lines and
// the bytes of the line being read, which starts at line_start.
struct line_reader {
    char separator;
    bool nul_only;
    raw_array<char> arena;
    // Offsets of the line starts, stored in pointer-sized slots so that the
    // array becomes the items array once the arena has stopped moving.
    raw_array<char*> starts;
    size_t line_start = 0;

    void finish_line() {
        char* text = arena.data + line_start;
        size_t end = arena.size;
        if (end == line_start || text[end - line_start - 1] != separator) arena.data[end++] = separator;
        arena.data[end++] = '\0';
        arena.size = end;
        starts.grow_for(1);
        starts.data[starts.size++] = reinterpret_cast<char*>(static_cast<uintptr_t>(line_start));
        line_start = end;
    }

    // Lines end at a newline or a NUL byte; a line may continue into the next
    // block. Each terminator becomes the separator (when missing) and a NUL,
    // so a block of n bytes grows the arena by up to 2n bytes: an empty line
    // turns its one byte into two. The two bytes reserved beyond that let the
    // last line be ended when the input stops without a terminator.
    void add_block(const char* block, size_t n) {
        arena.grow_for(2 * n + 2);
        const char* end = block + n;
        const char* pos = block;
        // Without newlines as line ends, the next one is never found.
        const char* newline = nul_only ? end : nullptr;
        const char* nul = nullptr;
        while (pos < end) {
            if (newline < pos) {
                newline = static_cast<const char*>(memchr(pos, '\n', static_cast<size_t>(end - pos)));
                if (newline == nullptr) newline = end;
            }
            if (nul < pos) {
                nul = static_cast<const char*>(memchr(pos, '\0', static_cast<size_t>(end - pos)));
                if (nul == nullptr) nul = end;
            }
            const char* stop = std::min(newline, nul);
            size_t length = static_cast<size_t>(stop - pos);
            memcpy(arena.data + arena.size, pos, length);
            arena.size += length;
            if (stop == end) break;
            finish_line();
            pos = stop + 1;
        }
    }
};

// A descriptor left non-blocking by whoever opened it fails with EAGAIN
// while the writer is slow: wait until there is more, as a blocking one would.
bool wait_for_input(FILE* input) {
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    int fd = fileno(input);
    if (fd < 0) return false;
    struct pollfd waiting {fd, POLLIN, 0};
    while (poll(&waiting, 1, -1) < 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

size_t expected_input_size(FILE* input) {
    struct stat info;
    int fd = fileno(input);
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return 0;
    return static_cast<size_t>(info.st_size);
}

} // namespace

outcome get_lines(FILE* input, char separator, input_lines& lines, bool nul_only) {
    lines = {};
    line_reader reader{separator, nul_only, {}, {}, 0};
    // A file's size is known: reserve for it and a separator on most lines,
    // so the arena rarely moves. Anything else starts at one megabyte.
    size_t expected = expected_input_size(input);
    reader.arena.reserve(expected != 0 ? expected + expected / 8 + 2 * READ_BLOCK + 64
                                       : size_t{1} << 20);
    reader.starts.reserve(expected != 0 ? expected / 32 + 1024 : size_t{1} << 16);

    std::unique_ptr<char[]> block(new char[READ_BLOCK]);
    for (;;) {
        size_t n = fread(block.get(), 1, READ_BLOCK, input);
        if (n > 0) reader.add_block(block.get(), n);
        if (n == READ_BLOCK) continue;
        if (ferror(input)) {
            if (errno == EINTR || wait_for_input(input)) {
                clearerr(input);
                continue;
            }
            return outcome::failuref("failed to read input: %s", strerror(errno));
        }
        if (feof(input)) break;
    }
    if (reader.arena.size > reader.line_start) reader.finish_line();
    if (reader.starts.size == 0) return {};

    reader.arena.shrink_to_fit();
    reader.starts.shrink_to_fit();
    char* arena = reader.arena.data;
    char** items = reader.starts.data;
    for (size_t i = 0; i < reader.starts.size; i++)
        items[i] = arena + reinterpret_cast<uintptr_t>(items[i]);

    lines.count = reader.starts.size;
    lines.arena_size = reader.arena.size;
    lines.items = reader.starts.release();
    lines.arena = reader.arena.release();
    return {};
}

input_lines::input_lines(input_lines&& other) noexcept
    : items(std::exchange(other.items, nullptr)), count(std::exchange(other.count, 0)),
      arena(std::exchange(other.arena, nullptr)), arena_size(std::exchange(other.arena_size, 0)) {}

input_lines& input_lines::operator=(input_lines&& other) noexcept {
    if (this != &other) {
        free(items);
        free(arena);
        items = std::exchange(other.items, nullptr);
        count = std::exchange(other.count, 0);
        arena = std::exchange(other.arena, nullptr);
        arena_size = std::exchange(other.arena_size, 0);
    }
    return *this;
}

input_lines::~input_lines() {
    free(items);
    free(arena);
}

void input_lines::release_items() {
    free(items);
    items = nullptr;
    count = 0;
}

uint64_t count_leading_blanks(const char* text) {
    uint64_t i = 0;
    while (text[i] == ' ' || text[i] == '\t') i++;
    return text[i] == '\0' ? 0 : i;
}

int compare_lines(const void* a, const void* b) {
    const char* x = *static_cast<char* const*>(a);
    const char* y = *static_cast<char* const*>(b);
    return strcmp(x + count_leading_blanks(x), y + count_leading_blanks(y));
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

void sort_lines(char** items, uint64_t count) { sort_lines(items, count, {}); }
