// Memory mapped from the system for the loading steps: anonymous pages that
// cost nothing until they are touched, or a file's bytes, read only.
#pragma once

#include <cstddef>

#include "outcome.hpp"

class mapping {
  public:
    mapping() = default;
    mapping(mapping&& other) noexcept;
    mapping& operator=(mapping&& other) noexcept;
    mapping(const mapping&) = delete;
    mapping& operator=(const mapping&) = delete;
    ~mapping();

    // Zero-filled, readable and writable; throws std::bad_alloc when the
    // system refuses. Only the pages touched take memory.
    static mapping anonymous(size_t size);
    // The first size bytes of the file, read only; fails with the system's
    // reason.
    static outcome of_file(int fd, size_t size, mapping& out);

    char* data() const { return data_; }
    size_t size() const { return size_; }

    // Gives the whole pages inside [begin, end) back to the system: they
    // read as zero again (anonymous) or as the file's bytes (a file).
    void release(size_t begin, size_t end);
    // Unmaps the whole pages past the first size bytes.
    void trim(size_t size);

  private:
    mapping(char* data, size_t size) : data_(data), size_(size) {}
    void unmap();

    char* data_ = nullptr;
    size_t size_ = 0;
};
