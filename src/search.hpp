// The search pattern and matching entries against it.
#pragma once

#include <cstdint>
#include <regex.h>

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
// 0 the entry matches, 1 it does not (or no pattern), 2 matching failed.
int path_matches(uint64_t index);
// Walks the table from `from` (exclusive) in the search direction, against it
// when reverse is non-zero. 0 with *out the match or -1; 1 on failure.
int find_match(int64_t* out, int64_t from, int reverse);
