// Writing a whole buffer to a descriptor, the one way every module does it.
#pragma once

#include <cstddef>
#include <string_view>

namespace korvel {

// Writes every byte, going on after a short write and after a signal
// interrupted the call. True when all went; otherwise false with errno set
// (a write that takes nothing at all counts as EIO). Only write() is
// called, so a signal handler may use it too.
bool write_all(int fd, const void* data, size_t size);

inline bool write_all(int fd, std::string_view bytes) {
    return write_all(fd, bytes.data(), bytes.size());
}

} // namespace korvel
