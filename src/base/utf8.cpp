#include "base/utf8.hpp"

namespace korvel {

utf8_char utf8_at(std::string_view text, size_t at) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return {lead, 1};
    size_t length = 0;
    uint32_t code_point = 0;
    uint32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code_point = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code_point = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code_point = lead & 0x07, minimum = 0x10000;
    }
    const utf8_char invalid{utf8_char::INVALID, 1};
    if (length == 0 || text.size() - at < length) return invalid;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return invalid;
        code_point = (code_point << 6) | (byte(k) & 0x3F);
    }
    if (code_point < minimum || !utf8_encodable(code_point)) return invalid;
    return {code_point, length};
}

size_t utf8_encode(uint32_t c, char out[4]) {
    const auto put = [out](size_t k, uint32_t bits) { out[k] = static_cast<char>(bits); };
    if (c < 0x80) {
        put(0, c);
        return 1;
    }
    if (c < 0x800) {
        put(0, 0xC0 | (c >> 6));
        put(1, 0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        put(0, 0xE0 | (c >> 12));
        put(1, 0x80 | ((c >> 6) & 0x3F));
        put(2, 0x80 | (c & 0x3F));
        return 3;
    }
    put(0, 0xF0 | (c >> 18));
    put(1, 0x80 | ((c >> 12) & 0x3F));
    put(2, 0x80 | ((c >> 6) & 0x3F));
    put(3, 0x80 | (c & 0x3F));
    return 4;
}

} // namespace korvel
