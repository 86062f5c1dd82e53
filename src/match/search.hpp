// The search pattern and matching the entries of a tree against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <locale.h>
#include <memory>
#include <regex.h>
#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.hpp"
#include "tree/path_tree.hpp"

namespace korvel {

// Full paths of entries visited one after another, kept in one buffer: moving
// to a nearby entry in tree order (either way) only cuts the buffer back to a
// common ancestor and appends the names below it, never starts from the top.
// The tree must not change while a walker is in use.
class full_path_walker {
  public:
    explicit full_path_walker(const path_tree& tree) : tree_(tree) {}
    // The entry's full path, NUL-terminated; valid until the next call.
    std::string_view path_of(uint64_t index);

  private:
    void restore_ancestors(uint64_t parent);
    void append_level(uint64_t index, const path_entry& entry);

    const path_tree& tree_;
    std::string buffer_;
    // ancestors_[d] is the entry at depth d above (or at) the last one visited;
    // prefix_lengths_[d] the length of the path above depth d, separator included.
    std::vector<uint64_t> ancestors_;
    std::vector<size_t> prefix_lengths_{0};
    std::vector<uint64_t> pending_;
};

enum class match_result { MATCH, NO_MATCH, FAILED };

// Patterns are compiled and run in the C locale, so that they match bytes
// the same way whatever locale the terminal needs. Held around many matches,
// one scope saves switching for each.
class c_locale_scope {
  public:
    c_locale_scope();
    ~c_locale_scope();
    c_locale_scope(const c_locale_scope&) = delete;
    c_locale_scope& operator=(const c_locale_scope&) = delete;

  private:
    locale_t previous_;
};

// How letters' case counts: exactly, not at all, or not at all unless the
// pattern holds an upper-case letter (as the best-known searchers do).
enum class case_mode { SENSITIVE, IGNORE, SMART };

// One compiled POSIX extended expression. A pattern that holds the
// separator is matched against full paths, any other against names, so that
// a plain word finds components at any depth. Patterns are compiled and run
// in the C locale: they match bytes the same way on every machine.
class search_pattern {
  public:
    search_pattern() = default;
    search_pattern(const search_pattern&) = delete;
    search_pattern& operator=(const search_pattern&) = delete;
    ~search_pattern() { clear(); }

    // Makes the query the active pattern; the old one is gone either way.
    // Fails with "regex failed: %s", leaving no pattern. Ignoring case
    // covers ASCII letters in every pattern, and any letter the C library
    // knows in a pattern of plain characters.
    outcome compile(const char* query, int direction, char separator,
                    case_mode mode = case_mode::SENSITIVE);
    void clear();
    // The same pattern compiled anew (none when this one is not active).
    std::unique_ptr<search_pattern> copy() const;

    bool active() const { return active_; }
    const char* query() const { return query_.c_str(); }
    // +1 searches towards later entries, -1 towards earlier ones.
    int direction() const { return direction_; }
    bool matches_full_paths() const { return full_paths_; }
    bool ignores_case() const { return ignore_case_; }
    // Plain characters throughout (no expression): every subject that holds
    // a longer plain pattern beginning with this one also holds this one.
    bool is_plain_substring() const { return literal_ == literal_kind::SUBSTRING; }

    // Without an active pattern nothing matches.
    match_result match(const path_tree& tree, uint64_t index, full_path_walker& walker) const;
    // As match, for a caller that holds a c_locale_scope.
    match_result match_in_c_locale(const path_tree& tree, uint64_t index,
                                   full_path_walker& walker) const;
    // The message of the last FAILED match.
    outcome failure() const;

    // Walks the tree from `from` (exclusive) in the search direction, or
    // against it when reverse, among the entries of `among` when given;
    // `found` is the match or -1. Fails when there is no pattern ("Search
    // query was not given") or matching failed.
    outcome find(const path_tree& tree, int64_t from, bool reverse, int64_t& found,
                 const bit_set* among = nullptr) const;

  private:
    enum class literal_kind { NONE, SUBSTRING, PREFIX, SUFFIX, WHOLE };

    static constexpr size_t UNKNOWN_LENGTH = SIZE_MAX;
    match_result match_subject(const char* subject, size_t length) const;
    bool contains(const char* subject, const char* part) const;

    bool active_ = false;
    bool ignore_case_ = false;
    char separator_ = '/';
    // Ignoring case beyond ASCII: the pattern's characters, lower-cased.
    std::u32string folded_;
    regex_t regex_{};
    std::string query_;
    int direction_ = 1;
    bool full_paths_ = false;
    // Patterns of ordinary characters, perhaps anchored, are compared as
    // bytes; the text is the query less its anchors.
    literal_kind literal_ = literal_kind::NONE;
    std::string_view literal_text_;
    // Text that every match of the expression contains, so that a subject
    // without it is ruled out before the expression runs; empty when unknown.
    std::string required_;
    mutable int last_error_ = 0;

    // Tests hold the matching of any text up against the plain expression,
    // texts no entry of a tree can be (a newline, the separator in a name).
    friend struct search_pattern_probe;
};

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
