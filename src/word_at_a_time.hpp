// Reading NUL-terminated texts eight bytes at a time.
#pragma once

#include <cstdint>

// Whether eight bytes from p lie in one page. Such a read cannot fault even
// when the text ends before the eighth byte, since pages are mapped whole; the
// smallest page size is assumed so that the check holds on every system.
inline bool word_within_page(const char* p) {
    return (reinterpret_cast<uintptr_t>(p) & 4095) <= 4096 - 8;
}

// Whether sixteen bytes from p lie in one page, for a read of a block.
inline bool block_within_page(const char* p) {
    return (reinterpret_cast<uintptr_t>(p) & 4095) <= 4096 - 16;
}

// Functions that read whole words past the end of a text (bytes that may
// belong to freed or foreign memory, never to another page) and only ever
// mask those bytes off: the sanitizers would report the reads although they
// are harmless.
#define KORVEL_READS_PAST_TEXT __attribute__((no_sanitize_address, no_sanitize("thread")))

// The eight bytes from p as one word, at any alignment. The caller has
// checked word_within_page: the read may pass the end of the text.
KORVEL_READS_PAST_TEXT inline uint64_t load_word(const char* p) {
    // A typedef, not using: clang ignores aligned(1) on an alias declaration
    // and would take the word to be 8-byte aligned.
    typedef uint64_t unaligned_word __attribute__((may_alias, aligned(1)));
    return *reinterpret_cast<const unaligned_word*>(p);
}

// The top bit of the first zero byte of a word read on a little-endian
// machine is the lowest bit set, and none is set when no byte is zero. Bits
// above it may be set for bytes that are not zero (a borrow runs through), so
// only the lowest one means anything.
inline uint64_t zero_byte_mask(uint64_t word) {
    return (word - 0x0101010101010101u) & ~word & 0x8080808080808080u;
}
