// The search pattern and matching the entries of a tree against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <regex.h>
#include <string>
#include <string_view>
#include <vector>

#include "outcome.hpp"
#include "paths.hpp"

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
    // Fails with "regex failed: %s", leaving no pattern.
    outcome compile(const char* query, int direction, char separator);
    void clear();

    bool active() const { return active_; }
    const char* query() const { return query_.c_str(); }
    // +1 searches towards later entries, -1 towards earlier ones.
    int direction() const { return direction_; }
    bool matches_full_paths() const { return full_paths_; }

    // Without an active pattern nothing matches.
    match_result match(const path_tree& tree, uint64_t index, full_path_walker& walker) const;
    match_result match(const path_tree& tree, uint64_t index) const;
    // One text, as match does with a name or full path; NUL-terminated at its size.
    match_result match_text(std::string_view text) const;
    // The message of the last FAILED match.
    outcome failure() const;

    // Walks the tree from `from` (exclusive) in the search direction, or
    // against it when reverse; `found` is the match or -1. Fails when there
    // is no pattern ("Search query was not given") or matching failed.
    outcome find(const path_tree& tree, int64_t from, bool reverse, int64_t& found) const;

  private:
    enum class literal_kind { NONE, SUBSTRING, PREFIX, SUFFIX, WHOLE };

    match_result match_subject(std::string_view subject) const;

    bool active_ = false;
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
};
