// Reading, ordering and the entry table with folding, over arbitrary lists,
// both the plain way (get_lines, sort_lines, build_path_tree) and through
// the loader with its buckets and threads.
//
// Input: byte 0 picks the separator ('/', '.', ' ', ':'), --fold, and
// whether a filler line comes first; byte 1 the number of folding
// operations; bytes 2 to 5 seed the generator that picks them; byte 6 the
// loader's ways: NUL bytes only as line ends, the size of its buckets and
// its number of threads; the rest is the list. The tree is checked against
// what the tree of the list must be (tree_oracle.hpp): each path of the list
// and each prefix once, under its prefix, siblings in order, exactly the
// given paths known as lines. The lines read must be the list's paths; the
// loader's table must be
// the plain way's, entry for entry; the visible list must follow the folded
// flags, which a model keeps as the operations define them.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.hpp"
#include "load.hpp"
#include "paths.hpp"
#include "plain_load.hpp"
#include "splitmix.hpp"
#include "tree_oracle.hpp"

namespace {

constexpr char SEPARATORS[] = {'/', '.', ' ', ':'};
constexpr size_t HEADER_SIZE = 7;
// get_lines reads in blocks of this size. A filler line puts the end of the
// first block up to 15 bytes into the list, so that lines, newlines and NUL
// bytes straddle it; short inputs would never reach it otherwise.
constexpr size_t READ_BLOCK = size_t{1} << 16;

struct checker {
    const path_tree& tree;
    std::vector<uint8_t> folded; // the flags as the operations define them

    bool shown(uint64_t e, std::vector<uint8_t>& visible) const {
        uint64_t parent = tree.at(e).parent;
        visible[e] = parent == NO_ENTRY || (visible[parent] && !folded[parent]);
        return visible[e];
    }

    void check_visible() const {
        uint64_t count = tree.size();
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

    // The texts read are the paths of the lines, each with the separator
    // after it, empty lines left out.
    const std::vector<std::string> given = split_lines(list, nul_only);
    std::vector<std::string> expected;
    for (const std::string& line : given) {
        std::string path = given_path(line, separator);
        if (path.empty()) continue;
        if (path.back() != separator) path += separator;
        expected.push_back(std::move(path));
    }
    FUZZ_CHECK(lines.count == expected.size());
    for (uint64_t k = 0; k < lines.count; k++)
        FUZZ_CHECK(lines.items[k] == expected[k]);

    sort_lines(lines.items, lines.count, separator);
    path_tree tree;
    FUZZ_CHECK(build_path_tree(std::move(lines), separator, fold, tree).ok());
    const std::string fault = tree_fault(tree, given, separator);
    if (!fault.empty()) {
        fprintf(stderr, "%s\n", fault.c_str());
        FUZZ_CHECK(fault.empty());
    }
    check_loader(list, header[6], separator, fold, nul_only, tree);
    if (tree.size() == 0) return 0;

    checker check{tree, std::vector<uint8_t>(tree.size(), fold ? 1 : 0)};
    check.check_visible();

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
            for (uint64_t e = entry; e != NO_ENTRY; e = tree.at(e).parent)
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
        check.check_visible();
    }
    return 0;
}
