#include "tree/touch_ahead.hpp"

#include <algorithm>
#include <thread>

#include "base/memory_map.hpp"

namespace korvel {

namespace {

// Far past any segment: a claim there touches nothing.
constexpr size_t STOPPED = SIZE_MAX / 2;

} // namespace

void touch_ahead::reset(char* begin, size_t size, size_t lookahead) {
    begin_ = begin;
    size_ = size;
    segments_ = (size + SEGMENT - 1) / SEGMENT;
    lookahead_ = std::max<size_t>(1, lookahead / SEGMENT);
    touched_.reset(new std::atomic<bool>[segments_]);
    for (size_t k = 0; k < segments_; k++)
        touched_[k].store(false, std::memory_order_relaxed);
    claimed_.store(0, std::memory_order_relaxed);
    filler_.store(0, std::memory_order_relaxed);
    reached_ = reinterpret_cast<uintptr_t>(begin);
}

void touch_ahead::wait_touched(size_t from, size_t to) const {
    for (size_t k = from; k < to && k < segments_; k++)
        while (!touched_[k].load(std::memory_order_acquire))
            std::this_thread::yield();
}

void touch_ahead::reach_slow(const char* end) {
    const auto begin = reinterpret_cast<uintptr_t>(begin_);
    size_t from = (reached_ - begin) / SEGMENT;
    size_t want = std::min(segments_, (reinterpret_cast<uintptr_t>(end) - begin - 1) / SEGMENT + 1);
    filler_.store(want, std::memory_order_relaxed);
    size_t claimed = claimed_.load(std::memory_order_relaxed);
    while (claimed < want && !claimed_.compare_exchange_weak(claimed, want)) {
    }
    // Below `claimed` a helper took each segment the filler had not.
    wait_touched(from, std::min(claimed, want));
    if (claimed < want) populate_pages(begin_ + claimed * SEGMENT, begin_ + want * SEGMENT);
    reached_ = want == segments_ ? UINTPTR_MAX : begin + want * SEGMENT;
}

void touch_ahead::stop() {
    if (segments_ == 0) return;
    size_t from = std::min(segments_, (reached_ - reinterpret_cast<uintptr_t>(begin_)) / SEGMENT);
    size_t claimed = claimed_.exchange(STOPPED);
    if (claimed < STOPPED) wait_touched(from, claimed);
    reached_ = UINTPTR_MAX;
}

bool touch_ahead::touch_next() {
    size_t k = claimed_.load(std::memory_order_relaxed);
    do {
        if (k >= segments_ || k >= filler_.load(std::memory_order_relaxed) + lookahead_)
            return false;
    } while (!claimed_.compare_exchange_weak(k, k + 1));
    // Mapped in one call, then read once a page from user space, which is
    // what costs; only bytes of this segment are read, which the filler
    // leaves alone until it sees the segment touched.
    char* begin = begin_ + k * SEGMENT;
    char* end = begin_ + std::min((k + 1) * SEGMENT, size_);
    populate_pages(begin, end);
    const size_t page = page_size();
    volatile const char* p = begin;
    [[maybe_unused]] char sink = *p;
    for (uintptr_t at = (reinterpret_cast<uintptr_t>(begin) / page + 1) * page;
         at < reinterpret_cast<uintptr_t>(end); at += page)
        sink = *reinterpret_cast<volatile const char*>(at);
    touched_[k].store(true, std::memory_order_release);
    return true;
}

} // namespace korvel
