// What the tree of a list must be, worked out from the list alone, without
// the loader's or the builder's way of getting there: every path the input
// gives (runs of separators read as one, empty lines skipped) and every
// prefix of those, each exactly once, each under its own prefix, siblings
// in the order of the list, and exactly the given paths known as lines.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "paths.hpp"

// The lines of an input: a newline or a NUL byte ends one (with nul_only, a
// NUL byte only); text after the last line end is one more line.
std::vector<std::string> split_lines(const std::string& input, bool nul_only);

// The path a line gives: each run of separators read as one separator, the
// final one dropped unless nothing else is left; empty for an empty line,
// which gives none.
std::string given_path(const std::string& line, char separator);

// The paths the lines give.
std::set<std::string> given_paths(const std::vector<std::string>& lines, char separator);

// Whether `a` comes before `b` as siblings of one parent at `depth`: a
// name is compared with the separator after it, and at the top level by
// the name without its leading blanks first (blanks that are not the
// separator), then by the whole name.
bool sibling_before(const std::string& a, const std::string& b, char separator, uint32_t depth);

// The first way in which the tree is not the tree of those lines, or empty
// when it is.
std::string tree_fault(const path_tree& tree, const std::vector<std::string>& lines,
                       char separator);
