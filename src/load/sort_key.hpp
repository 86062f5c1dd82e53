// Eight bytes of a text as a number that orders like the text: the sort and
// the split into buckets compare lines through these keys.
#pragma once

#include <bit>
#include <cstdint>

#include "base/word_at_a_time.hpp"

namespace korvel {

// Eight bytes from p as a big-endian number, zero from the terminating NUL
// on: the numbers order like the texts, and a number whose lowest byte is
// zero holds the end of its text. Reads a whole word when that cannot leave
// the page; the bytes past the NUL are masked off.
KORVEL_READS_PAST_TEXT inline uint64_t load_key(const char* p) {
    if constexpr (std::endian::native == std::endian::little) {
        if (word_within_page(p)) {
            uint64_t word = load_word(p);
            uint64_t zero = zero_byte_mask(word);
            if (zero != 0) {
                int kept_bits = std::countr_zero(zero) - 7;
                word &= kept_bits == 0 ? 0 : ~uint64_t{0} >> (64 - kept_bits);
            }
            return __builtin_bswap64(word);
        }
    }
    uint64_t key = 0;
    for (int i = 0; i < 8; i++) {
        auto byte = static_cast<unsigned char>(p[i]);
        key |= uint64_t{byte} << (56 - 8 * i);
        if (byte == 0) break;
    }
    return key;
}

inline bool key_ends_text(uint64_t key) {
    return (key & 0xff) == 0;
}

inline bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace korvel
