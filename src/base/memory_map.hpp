// Memory mapped from the system for the loading steps: anonymous pages that
// cost nothing until they are touched.
#pragma once

#include <cstddef>

#include "base/outcome.hpp"

namespace korvel {

size_t page_size();

// Gives the whole pages inside [begin, end) of memory this process owns back
// to the system, for input that has been used up: they read as zero again.
void release_pages(const void* begin, const void* end);

// Maps the pages of [begin, end), memory this process owns, before they are
// first written: one call for many pages costs much less than a fault for
// each. Does nothing where the system cannot.
void populate_pages(void* begin, void* end);

class memory_map {
  public:
    memory_map() = default;
    memory_map(memory_map&& other) noexcept;
    memory_map& operator=(memory_map&& other) noexcept;
    memory_map(const memory_map&) = delete;
    memory_map& operator=(const memory_map&) = delete;
    ~memory_map();

    // Zero-filled, readable and writable; throws std::bad_alloc when the
    // system refuses. Only the pages touched take memory.
    static memory_map anonymous(size_t size);

    char* data() const { return data_; }
    size_t size() const { return size_; }

    // release_pages over [begin, end) of the mapping.
    void release(size_t begin, size_t end) { release_pages(data_ + begin, data_ + end); }
    // Unmaps the whole pages past the first size bytes.
    void trim(size_t size);

  private:
    memory_map(char* data, size_t size) : data_(data), size_(size) {}
    void unmap();

    char* data_ = nullptr;
    size_t size_ = 0;
};

} // namespace korvel
