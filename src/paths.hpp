// The entry table (the tree in tree order), the visible rows, and folding.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "lines.hpp"
#include "mapping.hpp"
#include "outcome.hpp"

// Entry indices are stored in 32 bits: the table refuses more entries than
// that. NO_ENTRY marks a top-level entry's parent.
using entry_index = uint32_t;
inline constexpr entry_index NO_ENTRY = UINT32_MAX;
inline constexpr uint64_t MAX_ENTRIES = UINT32_MAX - 1;

struct path_entry {
    const char* name;        // the component, in the tree's own store of names; may be empty
    entry_index parent;      // NO_ENTRY for a top-level entry
    entry_index subtree_end; // one past the last descendant; children follow in tree order
    uint32_t nchildren;      // number of direct children
    uint32_t depth : 31;     // 0 for a top-level entry
    uint32_t folded : 1;
};

// The tree of one list: every entry in tree order (each entry followed by
// its descendants), their names, and the rows that are visible, in
// increasing entry order. After building only the folded flags and the rows
// change.
//
// A line's components are the texts between its separators. An empty one
// between two separators is skipped (`a//b` is a/b), as the system reads
// such paths; an empty first component (an absolute path, an empty line)
// is an entry with an empty name.
class path_tree {
  public:
    class builder;

    path_tree() = default;
    path_tree(path_tree&& other) noexcept;
    path_tree& operator=(path_tree&& other) noexcept;
    ~path_tree();

    // Builds the tree from sorted lines in one step; the lines are used up
    // (their texts may be rewritten) and released. Fails when the table
    // would hold more than max_entries entries or a path is too deep.
    static outcome build(input_lines&& lines, char separator, bool fold_by_default,
                         path_tree& out, uint64_t max_entries = MAX_ENTRIES);

    uint64_t size() const { return count_; }
    char separator() const { return separator_; }
    const path_entry& at(uint64_t index) const { return entries_[index]; }

    // The entry's full path: its ancestors' names each followed by the
    // separator, then its own name (the separator alone when that is empty).
    std::string full_path(uint64_t index) const;
    void append_full_path(uint64_t index, std::string& out) const;

    // Visible rows. row_entry(r) is the entry shown on row r.
    uint64_t row_count() const { return row_count_; }
    entry_index row_entry(uint64_t row) const { return rows_[row]; }
    // The row showing the entry, or -1 when it is not visible.
    int64_t row_of(uint64_t entry) const;

    // Folding, by row; each returns the rows removed or inserted. Works at
    // any depth without recursion. Rows at and above `row` never move.
    uint64_t fold_row(uint64_t row);
    uint64_t unfold_row(uint64_t row);
    // Unfolds every folded entry from the top level down to the entry
    // (itself included) and returns the entry's row.
    uint64_t reveal(uint64_t entry);

  private:
    void release();

    // The names, each ending with a NUL, in the order the entries were made.
    mapping names_;
    path_entry* entries_ = nullptr;
    uint64_t count_ = 0;
    // Room for one row per entry, so unfolding never allocates.
    entry_index* rows_ = nullptr;
    uint64_t row_count_ = 0;
    char separator_ = '/';
};

// Builds the table from sorted lines handed over in as many steps as
// wanted, each continuing the order of the one before (the loader hands
// over one sorted bucket at a time). Texts may be rewritten in place during
// their step; names are copied, and no text of a step is read after it, so
// the texts can go as soon as their step returns.
class path_tree::builder {
  public:
    // text_bytes: at least the bytes of all the texts to come, their NULs
    // included, which bounds the store of names.
    builder(char separator, bool fold_by_default, uint64_t expected_lines, uint64_t text_bytes,
            uint64_t max_entries = MAX_ENTRIES);
    builder(const builder&) = delete;
    builder& operator=(const builder&) = delete;
    ~builder();

    // Fails as build does; after a failure the builder takes nothing more.
    outcome add(char* const* lines, uint64_t count);
    uint64_t entries() const;
    // For other threads while one adds: takes the costly first touch of the
    // next pages the build will write (see touch_ahead.hpp); false when none
    // is within reach now.
    bool help();
    // The finished tree.
    void finish(path_tree& out);

  private:
    struct state;
    std::unique_ptr<state> state_;
};
