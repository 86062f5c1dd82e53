#include "load/input_lines.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace korvel {

bool read_file(const input_file& file, size_t at, size_t n, char* out) {
    for (size_t done = 0; done < n;) {
        ssize_t got =
            pread(file.fd, out + done, n - done, static_cast<off_t>(file.offset + at + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO; // the file is shorter than it was
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

const char* line_end(const char* p, const char* end, bool nul_only) {
    size_t n = static_cast<size_t>(end - p);
    const void* nul = memchr(p, '\0', n);
    const char* stop = nul != nullptr ? static_cast<const char*>(nul) : end;
    if (!nul_only) {
        const void* newline = memchr(p, '\n', static_cast<size_t>(stop - p));
        if (newline != nullptr) stop = static_cast<const char*>(newline);
    }
    return stop;
}

} // namespace korvel
