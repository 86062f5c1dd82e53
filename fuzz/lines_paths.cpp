// Reading, ordering and the entry table with folding, over arbitrary lists,
// both the plain way (get_lines, sort_lines, build_path_tree) and through
// the loader with its buckets and threads.
//
// Input: byte 0 picks the separator ('/', '.', ' ', ':'), --fold, and
// whether a filler line comes first; byte 1 the number of folding
// operations; bytes 2 to 5 seed the generator that picks them; byte 6 the
// loader's ways: NUL bytes only as line ends, the size of its buckets and
// its number of threads; the rest is the list. Every stage is compared with
// a plain version of it: the lines as split by hand, the order (a plain key,
// then the whole text), the table built component by component with a branch
// of names, the full paths joined from names and parents, and the visible
// list derived from the folded flags, which a model keeps as the operations
// define them. The loader's table must be the plain way's, entry for entry.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/splitmix.hpp"
#include "fuzz_check.hpp"
#include "load/load.hpp"
#include "plain_load.hpp"
#include "tree/path_tree.hpp"

using namespace korvel;

namespace {

constexpr char SEPARATORS[] = {'/', '.', ' ', ':'};
constexpr size_t HEADER_SIZE = 7;
// get_lines reads in blocks of this size. A filler line puts the end of the
// first block up to 15 bytes into the list, so that lines, newlines and NUL
// bytes straddle it; short inputs would never reach it otherwise.
constexpr size_t READ_BLOCK = size_t{1} << 16;

struct ref_entry {
    std::string name;
    uint64_t parent; // NO_ENTRY at the top level
    uint64_t depth;
};

// The input split at newlines and NUL bytes (or NUL bytes only), each text
// ending with the separator; text after the last line end is one more line.
std::vector<std::string> expected_lines(const std::string& input, char separator, bool nul_only) {
    std::vector<std::string> out;
    // Found with memchr and kept until passed: a byte-by-byte loop here
    // would be traced by the coverage instrumentation and slow every run.
    size_t newline = nul_only ? std::string::npos : input.find('\n'), nul = input.find('\0');
    size_t pos = 0;
    while (pos < input.size()) {
        if (newline < pos && !nul_only) newline = input.find('\n', pos);
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

// The order: the key, then the whole text for lines that differ only in
// their blanks.
bool order_less(const std::string& a, const std::string& b) {
    std::string key_a = sort_key(a.c_str()), key_b = sort_key(b.c_str());
    return key_a != key_b ? key_a < key_b : a < b;
}

// The table built from the sorted texts one component at a time: element d
// of the branch is the entry at depth d of the path built last, and it is
// cut only where a new entry is made. Empty components after the first are
// skipped.
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
            if (component.empty() && pos > 0) {
                if (stop == text.size()) break;
                pos = stop + 1;
                continue;
            }
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

struct checker {
    const std::vector<ref_entry>& table;
    char separator;
    std::vector<uint8_t> folded; // the flags as the operations define them

    bool shown(uint64_t e, std::vector<uint8_t>& visible) const {
        uint64_t parent = table[e].parent;
        visible[e] = parent == NO_ENTRY || (visible[parent] && !folded[parent]);
        return visible[e];
    }

    void check_structure(const path_tree& tree) const {
        uint64_t count = table.size();
        FUZZ_CHECK(tree.size() == count);
        std::vector<uint64_t> children(count, 0);
        for (uint64_t e = 0; e < count; e++) {
            const path_entry& entry = tree.at(e);
            FUZZ_CHECK(entry.name == table[e].name);
            FUZZ_CHECK(entry.parent == table[e].parent);
            FUZZ_CHECK(entry.depth == table[e].depth);
            if (entry.parent != NO_ENTRY) {
                FUZZ_CHECK(entry.parent < e);
                children[entry.parent]++;
            }
        }
        for (uint64_t e = 0; e < count; e++) {
            const path_entry& entry = tree.at(e);
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
            FUZZ_CHECK(tree.full_path(e) == expected);
        }
    }

    void check_visible(const path_tree& tree) const {
        uint64_t count = table.size();
        FUZZ_CHECK(tree.row_count() <= count);
        std::vector<uint8_t> visible(count, 0);
        uint64_t r = 0;
        for (uint64_t e = 0; e < count; e++) {
            FUZZ_CHECK(tree.at(e).folded == folded[e]);
            if (!shown(e, visible)) continue;
            FUZZ_CHECK(r < tree.row_count());
            FUZZ_CHECK(tree.row_entry(r) == e);
            r++;
        }
        FUZZ_CHECK(r == tree.row_count());
    }
};

// The loader's tree from the same list must be the plain way's, entry for
// entry and row for row.
void check_loader(const std::string& list, const uint8_t knobs, char separator, bool fold,
                  bool nul_only, const path_tree& expected) {
    load_options options;
    options.separator = separator;
    options.fold_by_default = fold;
    options.nul_only = nul_only;
    options.threads = 1 + ((knobs >> 3) & 3);
    // Buckets of a few lines each, a few hundred at most.
    options.tuning.bucket_bytes = std::max(size_t{16} << (2 * ((knobs >> 1) & 3)), list.size() / 256);
    options.tuning.thread_bytes = 1;
    load_progress progress;
    path_tree tree;
    const load_result result = load_buffer(std::string(list), options, progress, tree);
    FUZZ_CHECK(result.status.ok());
    FUZZ_CHECK(!result.cancelled);
    FUZZ_CHECK(tree.size() == expected.size());
    FUZZ_CHECK(progress.bytes.load() == list.size());
    for (uint64_t e = 0; e < tree.size(); e++) {
        const path_entry& a = tree.at(e);
        const path_entry& b = expected.at(e);
        FUZZ_CHECK(strcmp(a.name, b.name) == 0);
        FUZZ_CHECK(a.parent == b.parent && a.subtree_end == b.subtree_end);
        FUZZ_CHECK(a.nchildren == b.nchildren && a.depth == b.depth && a.folded == b.folded);
    }
    FUZZ_CHECK(tree.row_count() == expected.row_count());
    for (uint64_t r = 0; r < tree.row_count(); r++)
        FUZZ_CHECK(tree.row_entry(r) == expected.row_entry(r));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t header[HEADER_SIZE] = {};
    memcpy(header, data, size < HEADER_SIZE ? size : HEADER_SIZE);
    const char separator = SEPARATORS[header[0] & 3];
    const bool fold = (header[0] >> 2) & 1;
    const unsigned operations = header[1] & 63;
    uint64_t state = uint64_t{header[2]} | uint64_t{header[3]} << 8 | uint64_t{header[4]} << 16 |
                     uint64_t{header[5]} << 24;
    const bool nul_only = header[6] & 1;
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
    const outcome read = get_lines(stream, separator, lines, nul_only);
    fclose(stream);
    FUZZ_CHECK(read.ok());

    std::vector<std::string> expected = expected_lines(list, separator, nul_only);
    FUZZ_CHECK(lines.count == expected.size());
    for (uint64_t k = 0; k < lines.count; k++)
        FUZZ_CHECK(lines.items[k] == expected[k]);

    // One order for every sort: the plain model's, exactly.
    sort_lines(lines.items, lines.count);
    std::vector<std::string> sorted(lines.items, lines.items + lines.count);
    std::sort(expected.begin(), expected.end(), order_less);
    FUZZ_CHECK(sorted == expected);

    std::vector<ref_entry> table = expected_table(sorted, separator);
    path_tree tree;
    FUZZ_CHECK(build_path_tree(std::move(lines), separator, fold, tree).ok());
    FUZZ_CHECK(tree.size() == table.size());
    check_loader(list, header[6], separator, fold, nul_only, tree);
    if (tree.size() == 0) return 0;

    checker check{table, separator, std::vector<uint8_t>(tree.size(), fold ? 1 : 0)};
    check.check_structure(tree);
    check.check_visible(tree);

    for (unsigned step = 0; step < operations; step++) {
        uint64_t random = next_random(state);
        const uint64_t len = tree.row_count();
        std::vector<entry_index> old_rows;
        for (uint64_t r = 0; r < len; r++) old_rows.push_back(tree.row_entry(r));
        uint64_t row = (random >> 8) % len;
        switch (random % 4) {
        case 0: { // fold, as the fold key does it and as a toggle does it
            uint64_t removed = tree.fold_row(row);
            FUZZ_CHECK(removed == len - tree.row_count());
            check.folded[old_rows[row]] = 1;
            break;
        }
        case 1: { // unfold, only where the entry is folded, as the callers do
            uint64_t k = 0;
            while (k < len && !tree.at(old_rows[(row + k) % len]).folded)
                k++;
            if (k == len) break;
            row = (row + k) % len;
            uint64_t added = tree.unfold_row(row);
            FUZZ_CHECK(added == tree.row_count() - len);
            check.folded[old_rows[row]] = 0;
            break;
        }
        case 2:
        case 3: { // reveal any entry, as the search does
            uint64_t entry = (random >> 8) % tree.size();
            uint64_t found = tree.reveal(entry);
            for (uint64_t e = entry; e != NO_ENTRY; e = table[e].parent)
                check.folded[e] = 0;
            FUZZ_CHECK(found < tree.row_count());
            FUZZ_CHECK(tree.row_entry(found) == entry);
            row = 0;
            break;
        }
        }
        // The rows at and above the one acted on never move (for the reveal,
        // only the first row is sure to stay).
        for (uint64_t r = 0; r <= row && r < old_rows.size(); r++) {
            FUZZ_CHECK(r < tree.row_count());
            FUZZ_CHECK(tree.row_entry(r) == old_rows[r]);
        }
        check.check_visible(tree);
    }
    return 0;
}
