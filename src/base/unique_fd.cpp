#include "base/unique_fd.hpp"

#include <fcntl.h>

namespace korvel {

int open_pipe(pipe_pair* pair) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    pair->read_end.reset(fds[0]);
    pair->write_end.reset(fds[1]);
    return 0;
}

} // namespace korvel
