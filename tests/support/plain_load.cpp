#include "plain_load.hpp"

#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "raw_array.hpp"

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

    // An empty line is no line; a line's runs of separators become one.
    void finish_line() {
        char* text = arena.data + line_start;
        size_t end = arena.size;
        if (end == line_start) return;
        end = line_start + collapse_separators(text, text, end - line_start, separator);
        if (text[end - line_start - 1] != separator) arena.data[end++] = separator;
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
                newline =
                    static_cast<const char*>(memchr(pos, '\n', static_cast<size_t>(end - pos)));
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
    struct pollfd waiting {
        fd, POLLIN, 0
    };
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

    // The one-thread path gives back the room it reserved, as it always did.
    if (reader.arena.size != reader.arena.capacity) reader.arena.resize_storage(reader.arena.size);
    if (reader.starts.size != reader.starts.capacity) reader.starts.resize_storage(reader.starts.size);
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

int compare_lines(const void* a, const void* b) {
    return compare_line_order(*static_cast<char* const*>(a), *static_cast<char* const*>(b), '/');
}

void sort_lines(char** items, uint64_t count, char separator) {
    sort_lines(items, count, separator, {});
}

outcome build_path_tree(input_lines&& lines, char separator, bool fold_by_default, path_tree& out,
                        uint64_t max_entries) {
    input_lines used = std::move(lines);
    out = path_tree();
    path_tree::builder tree(separator, fold_by_default, used.count, used.arena_size, max_entries);
    const outcome added = tree.add(used.items, used.count);
    if (!added) return added;
    tree.finish(out);
    return {};
}
