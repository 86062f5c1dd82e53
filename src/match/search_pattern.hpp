// The search pattern: a POSIX expression, with plain comparisons of bytes
// for the patterns that need no expression.
#pragma once

#include <cstddef>
#include <cstdint>
#include <locale.h>
#include <memory>
#include <regex.h>
#include <string>
#include <string_view>

#include "base/bit_set.hpp"
#include "base/outcome.hpp"
#include "tree/full_path_walker.hpp"
#include "tree/path_tree.hpp"

namespace korvel {

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

} // namespace korvel
