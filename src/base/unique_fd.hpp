// A file descriptor, and a FILE stream, that close themselves.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <utility>

namespace korvel {

class unique_fd {
  public:
    unique_fd() = default;
    explicit unique_fd(int fd) : fd_(fd) {}
    unique_fd(unique_fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    unique_fd& operator=(unique_fd&& other) noexcept {
        if (this != &other) reset(std::exchange(other.fd_, -1));
        return *this;
    }
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;
    ~unique_fd() { reset(); }

    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// Both ends of a pipe, closed on exec so that no other child inherits them.
struct pipe_pair {
    unique_fd read_end;
    unique_fd write_end;
};

// 0 and the pair, or -1 with errno set.
int open_pipe(pipe_pair* pair);

struct file_closer {
    void operator()(FILE* file) const { fclose(file); }
};
using unique_file = std::unique_ptr<FILE, file_closer>;

} // namespace korvel
