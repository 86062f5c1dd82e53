#include "base/memory_map.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace korvel {

size_t page_size() {
    static const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return page;
}

namespace {

size_t round_up(size_t n) {
    return (n + page_size() - 1) & ~(page_size() - 1);
}
size_t round_down(size_t n) {
    return n & ~(page_size() - 1);
}

} // namespace

memory_map::memory_map(memory_map&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

memory_map& memory_map::operator=(memory_map&& other) noexcept {
    if (this != &other) {
        unmap();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

memory_map::~memory_map() {
    unmap();
}

void memory_map::unmap() {
    if (data_ != nullptr) munmap(data_, round_up(size_ == 0 ? 1 : size_));
    data_ = nullptr;
    size_ = 0;
}

memory_map memory_map::anonymous(size_t size) {
    if (size == 0) size = 1;
    // Reserved generously by its users and touched only where used: the
    // reservation is not counted against the system's commit limit.
    void* data = mmap(nullptr, round_up(size), PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (data == MAP_FAILED) throw std::bad_alloc();
    return memory_map(static_cast<char*>(data), size);
}

void release_pages(const void* begin, const void* end) {
    size_t first = round_up(reinterpret_cast<uintptr_t>(begin));
    size_t last = round_down(reinterpret_cast<uintptr_t>(end));
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

void memory_map::trim(size_t size) {
    size_t kept = round_up(size == 0 ? 1 : size);
    size_t mapped = round_up(size_);
    if (kept >= mapped) return;
    munmap(data_ + kept, mapped - kept);
    size_ = size;
}

void populate_pages(void* begin, void* end) {
#ifdef MADV_POPULATE_WRITE
    size_t first = round_down(reinterpret_cast<uintptr_t>(begin));
    size_t last = round_up(reinterpret_cast<uintptr_t>(end));
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
    (void)begin;
    (void)end;
#endif
}

} // namespace korvel
