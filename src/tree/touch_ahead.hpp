// The first access to each new page of memory is costly on some machines
// (under some hypervisors it costs more than writing the page). One thread
// fills an array from its start; other threads may take those first
// accesses ahead of it, a segment at a time, without ever touching a
// segment the filler has reached.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace korvel {

class touch_ahead {
  public:
    static constexpr size_t SEGMENT = size_t{1} << 16;

    // The array [begin, begin + size); helpers stay within `lookahead` bytes
    // of the filler. Not while helpers may call touch_next.
    void reset(char* begin, size_t size, size_t lookahead);

    // Filler: about to write below `end`. Waits for a helper that is
    // touching the segment, and maps the segments no helper has taken.
    void reach(const char* end) {
        if (reinterpret_cast<uintptr_t>(end) > reached_) reach_slow(end);
    }
    // Filler: no helper touches the array from now on (before it moves).
    void stop();

    // Helper: maps and reads the next segment that nobody has taken; false
    // when there is none within reach.
    bool touch_next();

  private:
    void reach_slow(const char* end);
    void wait_touched(size_t from, size_t to) const;

    char* begin_ = nullptr;
    size_t size_ = 0;
    size_t segments_ = 0;
    size_t lookahead_ = 0; // in segments
    std::unique_ptr<std::atomic<bool>[]> touched_;
    // Segments below are taken, by a helper or by the filler.
    std::atomic<size_t> claimed_{0};
    // The segment the filler is in.
    std::atomic<size_t> filler_{0};
    // The filler's own: it may write below this address.
    uintptr_t reached_ = 0;
};

} // namespace korvel
