// UTF-8 a character at a time, one way for every part of the program: what
// the screen draws, what the prompt edits and what a search compares are
// the same characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvel {

struct utf8_char {
    uint32_t code_point; // INVALID for a byte that starts no character
    size_t length;       // in bytes, at least 1

    static constexpr uint32_t INVALID = UINT32_MAX;
};

// The character that starts at text[at]. A byte that starts no well-formed
// sequence (a stray continuation byte, a sequence cut short, an overlong
// form, a surrogate, a value past U+10FFFF) is a character of one byte whose
// code point is INVALID.
utf8_char utf8_at(std::string_view text, size_t at);

// Whether UTF-8 can carry the code point: not a surrogate, not past U+10FFFF.
inline bool utf8_encodable(uint32_t code_point) {
    return code_point <= 0x10FFFF && (code_point < 0xD800 || code_point > 0xDFFF);
}

// The code point's bytes (which must be encodable) into out; how many.
size_t utf8_encode(uint32_t code_point, char out[4]);

inline void append_utf8(std::string& out, uint32_t code_point) {
    char bytes[4];
    out.append(bytes, utf8_encode(code_point, bytes));
}

} // namespace korvel
