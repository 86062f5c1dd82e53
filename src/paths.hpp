// The entry table (the tree in tree order), the visible list, and folding.
#pragma once

#include <cstdint>
#include <string>

// Entry indices are stored in 32 bits: the table refuses more entries than
// that. NO_ENTRY marks a top-level entry's parent.
using entry_index = uint32_t;
inline constexpr entry_index NO_ENTRY = UINT32_MAX;
inline constexpr uint64_t MAX_ENTRIES = UINT32_MAX - 1;

struct path_entry {
    const char* name;       // the component, inside the line arena; may be empty
    entry_index parent;     // NO_ENTRY for a top-level entry
    entry_index subtree_end; // one past the last descendant; children follow in tree order
    uint32_t nchildren;     // number of direct children
    uint32_t depth : 31;    // 0 for a top-level entry
    uint32_t folded : 1;
};

// Visible rows: items[r] is the entry shown on row r. The storage always has
// room for one index per entry.
struct unfolded_paths_t {
    entry_index* items = nullptr;
    uint64_t len = 0;
};

extern char path_separator;

// Builds the table from the sorted lines (splitting them in place) and fills
// the visible list. Returns the number of entries, or 0 with the error text
// set when the table would hold more than MAX_ENTRIES. The array of lines is
// used up: its memory is handed back as the table grows, and its slots may
// read as null afterwards (it is still released as usual).
uint64_t get_paths(unfolded_paths_t* unfolded_paths, char** lines, uint64_t count,
                   char separator, int fold_by_default);
// get_paths with a lower ceiling on the number of entries, so that running
// out of entries can be tried without billions of lines.
uint64_t get_paths_with_limit(unfolded_paths_t* unfolded_paths, char** lines, uint64_t count,
                              char separator, int fold_by_default, uint64_t max_entries);
path_entry& path_at(uint64_t index);
uint64_t path_count();
// Releases the table, the given visible-list storage and the search pattern.
void free_paths(entry_index* items);

// The entry's full path: its ancestors' names each followed by the
// separator, then its own name (the separator alone when that is empty).
std::string full_path(uint64_t index);
void append_full_path(uint64_t index, std::string& out);

// Folding. Rows are visible-list positions; each returns the rows removed or
// inserted. Works at any depth without recursion.
uint64_t fold_path(unfolded_paths_t* unfolded_paths, uint64_t i);
uint64_t unfold_path(unfolded_paths_t* unfolded_paths, uint64_t i);
// Unfolds every folded entry from the top level down to the entry (itself
// included) and stores the entry's row in *row when row is given.
void unfold_nested_path(unfolded_paths_t* unfolded_paths, uint64_t entry, uint64_t* row);
// The row showing the entry, or -1 when it is not visible.
int64_t row_of_entry(const unfolded_paths_t* unfolded_paths, uint64_t entry);
