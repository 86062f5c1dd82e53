#include "load/sampling.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/check.hpp"
#include "base/splitmix.hpp"
#include "load/sort_lines.hpp"

namespace korvel {

namespace {

// Longer samples would only make longer splitters: any text can separate
// two buckets, a cut one as well as a whole line.
constexpr size_t SAMPLE_MAX = 256;
// Enough that buckets come out within a factor of about two of each other;
// every sample is a fault at a random place of the input.
constexpr size_t SAMPLES_PER_BUCKET = 8;

// The text of a sample: collapsed as lines are, cut to a splitter's length,
// ended by the separator.
std::string sample_text(const char* start, size_t length, char separator) {
    std::string text(std::min(length, SAMPLE_MAX), '\0');
    text.resize(collapse_separators(text.data(), start, text.size(), separator));
    return final_text(text.data(), text.size(), separator);
}

constexpr size_t LOOK_BACK = 4096;

// Where a sample taken at p begins: the start of its line, or p itself when
// that lies far back in a long line (a sample need not be a whole line).
const char* sample_start(const char* begin, const char* p, bool nul_only) {
    const char* from = static_cast<size_t>(p - begin) > LOOK_BACK ? p - LOOK_BACK : begin;
    size_t n = static_cast<size_t>(p - from);
    const char* found = static_cast<const char*>(memrchr(from, '\0', n));
    if (!nul_only) {
        const char* newline = static_cast<const char*>(memrchr(from, '\n', n));
        if (found == nullptr || (newline != nullptr && newline > found)) found = newline;
    }
    if (found != nullptr) return found + 1;
    return from == begin ? begin : p;
}

// The sample at p, in the input from begin to end.
std::string sample_at(const char* begin, const char* p, const char* end,
                      const line_format& format) {
    const char* start = sample_start(begin, p, format.nul_only);
    const char* stop = line_end(start, std::min(end, start + SAMPLE_MAX + 1), format.nul_only);
    return sample_text(start, static_cast<size_t>(stop - start), format.separator);
}

// Where the k-th of `count` samples of `total` bytes is taken: a place in
// the k-th of `count` equal stretches.
size_t sample_place(size_t total, size_t count, size_t k) {
    uint64_t state = total + k;
    const size_t stretch = std::max<size_t>(1, total / count);
    return std::min(total - 1, (total / count) * k + next_random(state) % stretch);
}

} // namespace

size_t sample_count(size_t buckets) {
    return buckets < 2 ? 0 : buckets * SAMPLES_PER_BUCKET;
}

void take_samples(const std::vector<input_part>& input, const line_format& format, size_t count,
                  size_t first, size_t last, std::vector<std::string>& out) {
    if (first >= last) return;
    size_t total = 0;
    for (const input_part& part : input)
        total += part.size;
    for (size_t k = first; k < last; k++) {
        size_t at = sample_place(total, count, k);
        size_t part = 0;
        while (part + 1 < input.size() && at >= input[part].size)
            at -= input[part++].size;
        const input_part& where = input[part];
        out[k] = sample_at(where.data, where.data + at, where.data + where.size, format);
    }
}

bool take_samples(const input_file& input, const line_format& format, size_t count, size_t first,
                  size_t last, std::vector<std::string>& out) {
    if (first >= last) return true;
    std::string window(LOOK_BACK + SAMPLE_MAX + 1, '\0');
    for (size_t k = first; k < last; k++) {
        // The sample's neighbourhood, read: as much as a sample in memory
        // would look at.
        size_t at = sample_place(input.size, count, k);
        size_t from = at > LOOK_BACK ? at - LOOK_BACK : 0;
        size_t to = std::min(input.size, at + SAMPLE_MAX + 1);
        if (!read_file(input, from, to - from, window.data())) return false;
        out[k] = sample_at(window.data(), window.data() + (at - from), window.data() + (to - from),
                           format);
    }
    return true;
}

splitter_set choose_splitters(std::vector<std::string> samples, size_t buckets, char separator) {
    if (buckets < 2 || samples.empty()) return {};
    std::sort(samples.begin(), samples.end(), [separator](const std::string& a, const std::string& b) {
        return compare_line_order(a.c_str(), b.c_str(), separator) < 0;
    });
    // Without their leading blanks the splitters keep every line on the
    // fast way but the few that have such blanks; any text splits as well.
    std::vector<std::string> chosen;
    for (size_t j = 1; j < buckets; j++) {
        const std::string& sample = samples[j * samples.size() / buckets];
        chosen.push_back(sample.substr(count_leading_blanks(sample.c_str(), separator)));
    }
    return splitter_set(std::move(chosen), separator);
}

} // namespace korvel
