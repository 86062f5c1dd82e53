// The entry table (the tree in tree order), the visible rows, and folding.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/bit_set.hpp"
#include "base/memory_map.hpp"
#include "base/outcome.hpp"

namespace korvel {

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
// A line's components are the texts between its separators; the texts come
// with every run of separators collapsed into one (`a//b` is a/b, as the
// system reads such paths). An empty first component (an absolute path) is
// an entry with an empty name. Each entry knows whether it was a line of
// the input or only holds lines, so that picking many at once never picks
// a path that was not given.
class path_tree {
  public:
    class builder;

    path_tree() = default;
    path_tree(path_tree&& other) noexcept;
    path_tree& operator=(path_tree&& other) noexcept;
    ~path_tree();

    uint64_t size() const { return count_; }
    char separator() const { return separator_; }
    const path_entry& at(uint64_t index) const { return entries_[index]; }
    // Whether the entry's path was a line of the input (`a/b` and `a/b/`
    // both give a/b), not only a directory made up to hold lines.
    bool is_line(uint64_t index) const { return lines_.test(index); }
    const bit_set& line_entries() const { return lines_; }

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
    // (itself included) and returns the entry's row. The entries it unfolds
    // are added to `unfolded` when given, so that they can be folded again.
    uint64_t reveal(uint64_t entry, std::vector<entry_index>* unfolded = nullptr);

    // Narrowing the tree: only the entries in `shown` can be rows (a filter
    // keeps each match and its ancestors, so every shown entry's parent is
    // shown); null shows every entry. The set must outlive its use here.
    // The rows are computed anew.
    void set_shown(const bit_set* shown);
    bool is_shown(uint64_t entry) const { return shown_ == nullptr || shown_->test(entry); }

    // Compact chains: a directory that holds exactly one directory (and
    // nothing else) shares its row with it, so that a chain of such
    // directories is one row, the last one's. The rows are computed anew.
    void set_compact(bool compact);
    bool compact() const { return compact_; }
    // Whether the entry stands in the row of the one directory it holds.
    bool absorbed(uint64_t entry) const {
        const path_entry& e = entries_[entry];
        return compact_ && e.nchildren == 1 && entries_[entry + 1].nchildren != 0 &&
               is_shown(entry + 1);
    }
    // The entry whose row shows this one: itself, or the last directory of
    // its chain.
    uint64_t row_owner(uint64_t entry) const {
        while (absorbed(entry)) ++entry;
        return entry;
    }
    // The first entry of the chain that a row shows.
    uint64_t chain_start(uint64_t entry) const {
        while (entries_[entry].parent != NO_ENTRY && absorbed(entries_[entry].parent))
            entry = entries_[entry].parent;
        return entry;
    }

    // Folded flags set wholesale, the rows computed anew: every directory,
    // or each entry as a saved set says.
    void fold_all(bool folded);
    bit_set folded_flags() const;
    void set_folded_flags(const bit_set& flags);
    // One entry's flag (rows unchanged: for callers that rebuild them, or
    // whose change hides nothing that shows).
    void set_folded(uint64_t entry, bool folded) { entries_[entry].folded = folded ? 1 : 0; }
    // Computes the rows from the folded flags and the shown set.
    void rebuild_rows();

  private:
    void release();
    // The next entry to consider after e in a walk of the rows in tree
    // order. A chain's inner directories are open whatever their flag: the
    // chain's row is the last one's.
    entry_index next_row_candidate(entry_index e) const {
        return entries_[e].folded && !absorbed(e) ? entries_[e].subtree_end : e + 1;
    }

    // The names, each ending with a NUL, in the order the entries were made.
    memory_map names_;
    bit_set lines_;
    path_entry* entries_ = nullptr;
    uint64_t count_ = 0;
    // Room for one row per entry, so unfolding never allocates.
    entry_index* rows_ = nullptr;
    uint64_t row_count_ = 0;
    char separator_ = '/';
    const bit_set* shown_ = nullptr;
    bool compact_ = false;
};

// Builds the table from sorted lines handed over in as many steps as
// wanted, each continuing the order of the one before (the loader hands
// over one sorted bucket at a time). The texts hold no run of separators
// (the readers collapse them), and an empty text is skipped. Names are
// copied, and no text of a step is read after it, so the texts can go as
// soon as their step returns.
class path_tree::builder {
  public:
    // text_bytes: at least the bytes of all the texts to come, their NULs
    // included, which bounds the store of names.
    builder(char separator, bool fold_by_default, uint64_t expected_lines, uint64_t text_bytes,
            uint64_t max_entries = MAX_ENTRIES);
    builder(const builder&) = delete;
    builder& operator=(const builder&) = delete;
    ~builder();

    // Fails when the table would hold more than max_entries entries or a
    // path is too deep; after a failure the builder takes nothing more.
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

} // namespace korvel
