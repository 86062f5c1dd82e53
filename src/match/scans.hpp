// Scans of a tree with a search pattern, a slice at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "base/bit_set.hpp"
#include "base/outcome.hpp"
#include "match/search_pattern.hpp"
#include "tree/full_path_walker.hpp"
#include "tree/path_tree.hpp"

namespace korvel {

// Every entry a pattern matches, found a slice at a time so that a long scan
// can give way to the keyboard. The tree, the pattern and the candidates
// must outlive the scan and stay as they are.
class match_scan {
  public:
    // Over every entry, or only over the members of `candidates` (the
    // matches of a pattern this one narrows, or the entries a filter shows).
    // With `keep_ancestors`, each match's ancestors are gathered as it is
    // found, for a filter to show (see kept()).
    match_scan(const path_tree& tree, const search_pattern& pattern,
               const bit_set* candidates = nullptr, bool keep_ancestors = false);

    // Tests up to `limit` entries; true once the scan is complete (or failed).
    bool step(uint64_t limit);
    bool done() const { return done_; }
    // Set when matching failed ("regex failed: ..."); the matches are partial.
    const outcome& failure() const { return failure_; }

    const bit_set& matches() const { return matches_; }
    bit_set take_matches() { return std::move(matches_); }
    uint64_t count() const { return count_; }
    // With keep_ancestors: the matches and all their ancestors, and the
    // ancestors that were folded when the scan met them.
    bit_set take_kept() { return std::move(kept_); }
    std::vector<entry_index> take_folded_ancestors() { return std::move(folded_ancestors_); }

  private:
    void keep(uint64_t match);

    const path_tree& tree_;
    const search_pattern& pattern_;
    const bit_set* candidates_;
    full_path_walker walker_;
    bit_set matches_;
    bool keep_ancestors_;
    bit_set kept_;
    std::vector<entry_index> folded_ancestors_;
    uint64_t next_ = 0;
    uint64_t count_ = 0;
    bool done_ = false;
    outcome failure_;
};

// The next match after (or before) an entry, as search_pattern::find walks,
// a slice at a time.
class find_scan {
  public:
    find_scan(const path_tree& tree, const search_pattern& pattern, int64_t from, bool reverse,
              const bit_set* among = nullptr);

    bool step(uint64_t limit);
    bool done() const { return done_; }
    const outcome& failure() const { return failure_; }
    // The match, or -1 when there is none.
    int64_t found() const { return found_; }

  private:
    const path_tree& tree_;
    const search_pattern& pattern_;
    const bit_set* among_;
    full_path_walker walker_;
    int64_t next_ = 0;
    int64_t step_;
    int64_t found_ = -1;
    bool done_ = false;
    outcome failure_;
};

} // namespace korvel
