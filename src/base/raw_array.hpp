// A growing array of plain values on malloc storage, for the loading steps.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace korvel {

// realloc that throws on failure, like the allocations of the standard
// containers. A count of zero may give back null.
template <typename T> T* checked_realloc(T* block, size_t count) {
    void* grown = realloc(block, count * sizeof(T));
    if (grown == nullptr && count != 0) throw std::bad_alloc();
    return static_cast<T*>(grown);
}

// Large arrays end up in their own mappings, which realloc grows without
// copying and whose untouched pages cost no memory, so generous reservations
// are cheap. The values are never constructed or destroyed: only for types
// that can live in raw bytes.
template <typename T> struct raw_array {
    T* data = nullptr;
    size_t size = 0;
    size_t capacity = 0;

    raw_array() = default;
    raw_array(const raw_array&) = delete;
    raw_array& operator=(const raw_array&) = delete;
    ~raw_array() { free(data); }

    // Exactly this much room, larger or smaller than before.
    void resize_storage(size_t wanted) {
        data = checked_realloc(data, wanted);
        capacity = wanted;
    }
    void reserve(size_t wanted) {
        if (wanted > capacity) resize_storage(wanted);
    }
    // Room for extra more values, doubling so that appends stay amortised.
    void grow_for(size_t extra) {
        if (size + extra > capacity) reserve(std::max(size + extra, capacity * 2));
    }
    // The slot is left for the caller to fill.
    T& push_back_slot() {
        if (size == capacity) resize_storage(std::max<size_t>(16, capacity * 2));
        return data[size++];
    }
    void push_back(T value) { push_back_slot() = value; }
    // Hands the storage to the caller, who frees it; the array becomes empty.
    T* release() {
        T* out = data;
        data = nullptr;
        size = capacity = 0;
        return out;
    }
};

} // namespace korvel
