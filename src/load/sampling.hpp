// Choosing the splitters from samples of the input.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "load/input_lines.hpp"
#include "load/splitter_set.hpp"

namespace korvel {

// Splitters for about `buckets` buckets of equal size come from lines
// picked at evenly spread random places of the input: sample_count of them,
// taken by one or more threads, each taking some with take_samples (into
// out[first] .. out[last - 1]), then handed to choose_splitters.
size_t sample_count(size_t buckets);
void take_samples(const std::vector<input_part>& input, const line_format& format, size_t count,
                  size_t first, size_t last, std::vector<std::string>& out);
// The same from a file; false with errno set when reading failed.
bool take_samples(const input_file& input, const line_format& format, size_t count, size_t first,
                  size_t last, std::vector<std::string>& out);
splitter_set choose_splitters(std::vector<std::string> samples, size_t buckets, char separator);

} // namespace korvel
