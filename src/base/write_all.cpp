#include "base/write_all.hpp"

#include <unistd.h>

#include <cerrno>

namespace korvel {

bool write_all(int fd, const void* data, size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, next, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        // Only a zero-length write may take nothing; going round again would
        // never end.
        if (n == 0) {
            errno = EIO;
            return false;
        }
        next += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace korvel
