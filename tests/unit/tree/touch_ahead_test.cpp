#include "tree/touch_ahead.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "base/memory_map.hpp"

using namespace korvel;

namespace {

// One thread fills an array while others touch it ahead; the filler's
// bytes are all there afterwards, whether it stops the helpers midway (as
// before the array moves) or not.
TEST(TouchAhead, HelpersNeverGetInTheFillersWay) {
    constexpr size_t SIZE = 40 * touch_ahead::SEGMENT + 123;
    for (bool stop_midway : {false, true}) {
        memory_map memory = memory_map::anonymous(SIZE);
        touch_ahead touch;
        touch.reset(memory.data(), SIZE, 8 * touch_ahead::SEGMENT);
        std::atomic<bool> filled{false};
        std::atomic<int> touched{0};
        std::vector<std::thread> helpers;
        for (int h = 0; h < 2; h++) {
            helpers.emplace_back([&] {
                while (!filled.load()) {
                    if (touch.touch_next())
                        touched++;
                    else
                        std::this_thread::yield();
                }
            });
        }
        for (size_t at = 0; at < SIZE; at += 97) {
            if (stop_midway && at >= SIZE / 3 && at < SIZE / 3 + 97) touch.stop();
            size_t n = std::min<size_t>(97, SIZE - at);
            touch.reach(memory.data() + at + n);
            memset(memory.data() + at, static_cast<int>('a' + at % 26), n);
        }
        filled = true;
        for (std::thread& helper : helpers)
            helper.join();
        for (size_t at = 0; at < SIZE; at += 97)
            ASSERT_EQ(memory.data()[at], static_cast<char>('a' + at % 26)) << at;
        EXPECT_LE(touched.load(), 41);
    }
}

TEST(TouchAhead, HelpersStayWithinTheirReach) {
    memory_map memory = memory_map::anonymous(100 * touch_ahead::SEGMENT);
    touch_ahead touch;
    touch.reset(memory.data(), memory.size(), 3 * touch_ahead::SEGMENT);
    int touched = 0;
    while (touch.touch_next())
        touched++;
    EXPECT_EQ(touched, 3);
    touch.reach(memory.data() + 10 * touch_ahead::SEGMENT);
    while (touch.touch_next())
        touched++;
    EXPECT_EQ(touched, 3 + 3);
    touch.stop();
    EXPECT_FALSE(touch.touch_next());
}

} // namespace
