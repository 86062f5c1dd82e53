// The search pattern and matching entries against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <regex.h>
#include <string>
#include <string_view>
#include <vector>

struct path_entry;

struct search_ctx {
    regex_t regex;
    char* query;
    int32_t direction;
    int32_t match_full_path;
    int32_t init;
};

// Compiles the pattern (POSIX extended) and makes it the active one; the old
// pattern is gone either way. Returns 0, or 1 with "regex failed: %s".
int init_search_ctx(const char* query, int direction);
void deinit_search_ctx();
// Whether a pattern is active.
bool search_active();
class full_path_walker;

// 0 the entry matches, 1 it does not (or no pattern), 2 matching failed.
int path_matches(uint64_t index);
// The same, building full paths in the caller's walker: entries asked for
// in tree order then cost only their own names.
int path_matches(uint64_t index, full_path_walker& walker);
// Walks the table from `from` (exclusive) in the search direction, against it
// when reverse is non-zero. 0 with *out the match or -1; 1 on failure.
int find_match(int64_t* out, int64_t from, int reverse);

// The context as it stands, for inspection.
const search_ctx& search_context();
// Matches one text against the active pattern, as path_matches does with the
// entry's name or full path; the text must be NUL-terminated at its size.
int match_text(std::string_view text);

// Full paths of entries visited one after another, kept in one buffer: moving
// to a nearby entry in tree order (either way) only cuts the buffer back to a
// common ancestor and appends the names below it, never starts from the top.
// The table must not change while a walker is in use.
class full_path_walker {
  public:
    // The entry's full path, NUL-terminated; valid until the next call.
    std::string_view path_of(uint64_t index);

  private:
    void restore_ancestors(uint64_t parent);
    void append_level(uint64_t index, const path_entry& entry);

    std::string buffer_;
    // ancestors_[d] is the entry at depth d above (or at) the last one visited;
    // prefix_lengths_[d] the length of the path above depth d, separator included.
    std::vector<uint64_t> ancestors_;
    std::vector<size_t> prefix_lengths_{0};
    std::vector<uint64_t> pending_;
};
