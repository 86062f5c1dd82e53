// Numbers as people read them on the screen.
#pragma once

#include <cstdint>
#include <string>

namespace korvel {

// 1204 as "1,204": counts of millions read at a glance.
inline std::string grouped(uint64_t n) {
    char digits[32];
    int at = sizeof digits;
    int in_group = 0;
    do {
        if (in_group == 3) {
            digits[--at] = ',';
            in_group = 0;
        }
        digits[--at] = static_cast<char>('0' + n % 10);
        n /= 10;
        ++in_group;
    } while (n != 0);
    return std::string(digits + at, sizeof digits - static_cast<size_t>(at));
}

} // namespace korvel
