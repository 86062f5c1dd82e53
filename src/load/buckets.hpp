// Splitting the input into buckets of lines, so that sorting each bucket on
// its own sorts the whole list: every line of a bucket comes, in the order
// of sort_lines, before every line of the next one. The lines are copied into
// an arena on the way, each bucket's texts close together, so that they stay
// in the cache while it is sorted.
#pragma once

#include "load/bucket_writer.hpp"
#include "load/input_lines.hpp"
#include "load/sampling.hpp"
#include "load/splitter_set.hpp"
