#include "app/picked.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "base/write_all.hpp"

namespace korvel {


namespace {

// Large enough that a million paths take a few hundred writes.
constexpr size_t WRITE_BLOCK = size_t{1} << 20;

} // namespace

std::string picked_text(const viewer& v) {
    std::string text;
    bool first = true;
    for_each_picked_path(v, [&](std::string_view path) {
        if (!first) text += '\n';
        text += path;
        first = false;
    });
    return text;
}

std::string as_argument(std::string_view path, char separator) {
    std::string argument;
    if (separator == '/' && !path.empty() && (path[0] == '-' || path[0] == '+')) argument = "./";
    argument += path;
    return argument;
}

std::vector<std::string> picked_arguments(const viewer& v) {
    std::vector<std::string> arguments;
    const char separator = v.tree.separator();
    for_each_picked_path(
        v, [&](std::string_view path) { arguments.push_back(as_argument(path, separator)); });
    return arguments;
}

outcome write_picked(const viewer& v, int fd, char terminator) {
    std::unique_ptr<char[]> block(new char[WRITE_BLOCK]);
    size_t used = 0;
    int error = 0;
    auto flush = [&] {
        if (error == 0 && !write_all(fd, block.get(), used)) error = errno;
        used = 0;
    };
    // A path longer than the room left goes out in pieces; only a full
    // block is written.
    auto put = [&](const char* data, size_t size) {
        while (error == 0 && size > 0) {
            const size_t n = std::min(size, WRITE_BLOCK - used);
            memcpy(block.get() + used, data, n);
            used += n;
            data += n;
            size -= n;
            if (used == WRITE_BLOCK) flush();
        }
    };
    for_each_picked_path(v, [&](std::string_view path) {
        put(path.data(), path.size());
        put(&terminator, 1);
    });
    if (used > 0) flush();
    if (error != 0)
        return outcome::failuref("failed to write the chosen path: %s", strerror(error));
    return {};
}

} // namespace korvel
