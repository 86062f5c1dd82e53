// Reading, ordering and the entry table with folding, over arbitrary lists.
//
// Input: byte 0 picks the separator ('/', '.', ' ', ':'), --fold, and
// whether a filler line comes first; byte 1 the number of folding
// operations; bytes 2 to 5 seed the generator that picks them; the rest is
// the list. Every stage is compared with a plain version of it: the lines as
// split by hand, the order (under compare_lines and under a plain key), the
// table built component by component with a branch of names, the full paths
// joined from names and parents, and the visible list derived from the
// folded flags, which a model keeps as the operations define them.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.hpp"
#include "lines.hpp"
#include "paths.hpp"

namespace {

constexpr char SEPARATORS[] = {'/', '.', ' ', ':'};
constexpr size_t HEADER_SIZE = 6;
// get_lines reads in blocks of this size. A filler line puts the end of the
// first block up to 15 bytes into the list, so that lines, newlines and NUL
// bytes straddle it; short inputs would never reach it otherwise.
constexpr size_t READ_BLOCK = size_t{1} << 16;

struct ref_entry {
    std::string name;
    uint64_t parent; // NO_ENTRY at the top level
    uint64_t depth;
};

// The input split at newlines and NUL bytes, each text ending with the
// separator; text after the last line end is one more line.
std::vector<std::string> expected_lines(const std::string& input, char separator) {
    std::vector<std::string> out;
    // Found with memchr and kept until passed: a byte-by-byte loop here
    // would be traced by the coverage instrumentation and slow every run.
    size_t newline = input.find('\n'), nul = input.find('\0');
    size_t pos = 0;
    while (pos < input.size()) {
        if (newline < pos) newline = input.find('\n', pos);
        if (nul < pos) nul = input.find('\0', pos);
        size_t stop = std::min({newline, nul, input.size()});
        std::string line = input.substr(pos, stop - pos);
        if (line.empty() || line.back() != separator) line += separator;
        out.push_back(std::move(line));
        pos = stop + 1;
    }
    return out;
}

// What the order compares: the text after its leading spaces and tabs, or
// the whole text when it holds nothing else. std::string compares its bytes
// as unsigned values, as strcmp does.
std::string sort_key(const char* text) {
    std::string key(text);
    size_t blanks = key.find_first_not_of(" \t");
    return blanks == std::string::npos ? key : key.substr(blanks);
}

// The table built from the sorted texts one component at a time: element d
// of the branch is the entry at depth d of the path built last, and it is
// cut only where a new entry is made.
std::vector<ref_entry> expected_table(const std::vector<std::string>& texts, char separator) {
    std::vector<ref_entry> table;
    std::vector<uint64_t> branch;
    for (const std::string& text : texts) {
        size_t pos = 0;
        uint64_t d = 0;
        for (;;) {
            size_t stop = text.find(separator, pos);
            if (stop == std::string::npos) stop = text.size();
            std::string component = text.substr(pos, stop - pos);
            if (component.empty() && d > 0) break;
            if (d < branch.size() && table[branch[d]].name == component) {
                d++;
            } else {
                branch.resize(d);
                uint64_t parent = branch.empty() ? NO_ENTRY : branch.back();
                branch.push_back(table.size());
                table.push_back({component, parent, d});
                d++;
            }
            if (stop == text.size()) break;
            pos = stop + 1;
        }
    }
    return table;
}

uint64_t next_random(uint64_t& state) {
    state += 0x9e3779b97f4a7c15u;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
}

struct checker {
    const std::vector<ref_entry>& table;
    char separator;
    std::vector<uint8_t> folded; // the flags as the operations define them

    bool shown(uint64_t e, std::vector<uint8_t>& visible) const {
        uint64_t parent = table[e].parent;
        visible[e] = parent == NO_ENTRY || (visible[parent] && !folded[parent]);
        return visible[e];
    }

    void check_structure() const {
        uint64_t count = table.size();
        FUZZ_CHECK(path_count() == count);
        std::vector<uint64_t> children(count, 0);
        for (uint64_t e = 0; e < count; e++) {
            const path_entry& entry = path_at(e);
            FUZZ_CHECK(entry.name == table[e].name);
            FUZZ_CHECK(entry.parent == table[e].parent);
            FUZZ_CHECK(entry.depth == table[e].depth);
            if (entry.parent != NO_ENTRY) {
                FUZZ_CHECK(entry.parent < e);
                children[entry.parent]++;
            }
        }
        for (uint64_t e = 0; e < count; e++) {
            const path_entry& entry = path_at(e);
            FUZZ_CHECK(entry.nchildren == children[e]);
            // The descendants follow the entry directly.
            uint64_t end = e + 1;
            while (end < count && table[end].depth > table[e].depth)
                end++;
            FUZZ_CHECK(entry.subtree_end == end);
        }
        // Full paths: the ancestors' names each followed by the separator,
        // then the entry's own name, or the separator when it is empty.
        std::vector<std::string> prefix(count);
        for (uint64_t e = 0; e < count; e++) {
            const ref_entry& entry = table[e];
            std::string above = entry.parent == NO_ENTRY ? std::string() : prefix[entry.parent];
            prefix[e] = above + entry.name + separator;
            std::string expected =
                above + (entry.name.empty() ? std::string(1, separator) : entry.name);
            FUZZ_CHECK(full_path(e) == expected);
        }
    }

    void check_visible(const unfolded_paths_t& rows) const {
        uint64_t count = table.size();
        FUZZ_CHECK(rows.len <= count);
        std::vector<uint8_t> visible(count, 0);
        uint64_t r = 0;
        for (uint64_t e = 0; e < count; e++) {
            FUZZ_CHECK(path_at(e).folded == folded[e]);
            if (!shown(e, visible)) continue;
            FUZZ_CHECK(r < rows.len);
            FUZZ_CHECK(rows.items[r] == e);
            r++;
        }
        FUZZ_CHECK(r == rows.len);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t header[HEADER_SIZE] = {};
    memcpy(header, data, size < HEADER_SIZE ? size : HEADER_SIZE);
    const char separator = SEPARATORS[header[0] & 3];
    const int fold = (header[0] >> 2) & 1;
    const unsigned operations = header[1] & 63;
    uint64_t state = uint64_t{header[2]} | uint64_t{header[3]} << 8 | uint64_t{header[4]} << 16 |
                     uint64_t{header[5]} << 24;
    size_t list_size = size > HEADER_SIZE ? size - HEADER_SIZE : 0;
    std::string list;
    if (header[0] & 8) {
        list.assign(READ_BLOCK - 1 - (header[0] >> 4), 'z');
        list += '\n';
    }
    list.append(reinterpret_cast<const char*>(data) + (size - list_size), list_size);

    FILE* stream = fmemopen(list.data(), list.size(), "r");
    FUZZ_CHECK(stream != nullptr);
    input_lines lines;
    int read = get_lines(stream, separator, &lines);
    fclose(stream);
    FUZZ_CHECK(read == 0);

    std::vector<std::string> expected = expected_lines(list, separator);
    FUZZ_CHECK(lines.count == expected.size());
    for (uint64_t k = 0; k < lines.count; k++)
        FUZZ_CHECK(lines.items[k] == expected[k]);
    if (lines.count == 0) {
        free_lines(&lines);
        return 0;
    }

    sort_lines(lines.items, lines.count);
    std::vector<std::string> sorted;
    for (uint64_t k = 0; k < lines.count; k++) {
        if (k > 0) {
            FUZZ_CHECK(compare_lines(&lines.items[k - 1], &lines.items[k]) <= 0);
            FUZZ_CHECK(sort_key(lines.items[k - 1]) <= sort_key(lines.items[k]));
        }
        sorted.emplace_back(lines.items[k]);
    }
    // The same texts, only in another order.
    std::vector<std::string> before = expected, after = sorted;
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    FUZZ_CHECK(before == after);

    std::vector<ref_entry> table = expected_table(sorted, separator);
    unfolded_paths_t rows;
    uint64_t count = get_paths(&rows, lines.items, lines.count, separator, fold);
    FUZZ_CHECK(count == table.size());

    checker check{table, separator, std::vector<uint8_t>(count, static_cast<uint8_t>(fold))};
    check.check_structure();
    check.check_visible(rows);

    for (unsigned step = 0; step < operations; step++) {
        uint64_t random = next_random(state);
        std::vector<entry_index> old_rows(rows.items, rows.items + rows.len);
        uint64_t row = (random >> 8) % rows.len;
        switch (random % 4) {
        case 0: { // fold, as the fold key does it and as a toggle does it
            uint64_t removed = fold_path(&rows, row);
            FUZZ_CHECK(removed == old_rows.size() - rows.len);
            check.folded[old_rows[row]] = 1;
            break;
        }
        case 1: { // unfold, only where the entry is folded, as the callers do
            uint64_t k = 0;
            while (k < rows.len && !path_at(rows.items[(row + k) % rows.len]).folded)
                k++;
            if (k == rows.len) break;
            row = (row + k) % rows.len;
            uint64_t added = unfold_path(&rows, row);
            FUZZ_CHECK(added == rows.len - old_rows.size());
            check.folded[old_rows[row]] = 0;
            break;
        }
        case 2:
        case 3: { // reveal any entry, as the search does
            uint64_t entry = (random >> 8) % count;
            uint64_t found = UINT64_MAX;
            unfold_nested_path(&rows, entry, random % 4 == 2 ? &found : nullptr);
            for (uint64_t e = entry; e != NO_ENTRY; e = table[e].parent)
                check.folded[e] = 0;
            if (random % 4 == 2) {
                FUZZ_CHECK(found < rows.len);
                FUZZ_CHECK(rows.items[found] == entry);
            }
            row = 0;
            break;
        }
        }
        // The rows at and above the one acted on never move (for the reveal,
        // only the first row is sure to stay).
        for (uint64_t r = 0; r <= row && r < old_rows.size(); r++) {
            FUZZ_CHECK(r < rows.len);
            FUZZ_CHECK(rows.items[r] == old_rows[r]);
        }
        check.check_visible(rows);
    }

    free_paths(rows.items);
    free_lines(&lines);
    return 0;
}
