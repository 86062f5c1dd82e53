// The search pattern and matching the entries of a tree against it.
#pragma once

#include "match/scans.hpp"
#include "match/search_pattern.hpp"
#include "tree/full_path_walker.hpp"
