#include "app/osc52.hpp"

#include <cstdint>

namespace korvel {

namespace {

constexpr char BASE64_ALPHABET[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::string_view OSC52_START = "\x1b]52;c;";
constexpr std::string_view BEL = "\x07";
constexpr std::string_view ST = "\x1b\\";
constexpr std::string_view DCS_START = "\x1bP";

// screen has kept a string sequence in 256 bytes (768 since 4.2.1); each DCS
// spends four of them on its own ESC P and ESC \.
constexpr size_t SCREEN_CHUNK = 256 - 4;

bool is_base64_character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

// Whole groups of four, with '=' only as the padding of the last group.
bool is_base64(std::string_view text) {
    if (text.size() % 4 != 0) return false;
    size_t padding = 0;
    if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
    for (size_t i = 0; i < text.size() - padding; ++i)
        if (!is_base64_character(text[i])) return false;
    return true;
}

std::string_view terminator(osc52_end end) {
    return end == osc52_end::ST ? ST : BEL;
}

bool is_bare_sequence(std::string_view sequence, osc52_end end) {
    const std::string_view last = terminator(end);
    if (sequence.size() < OSC52_START.size() + last.size()) return false;
    if (sequence.substr(0, OSC52_START.size()) != OSC52_START) return false;
    if (sequence.substr(sequence.size() - last.size()) != last) return false;
    return is_base64(
        sequence.substr(OSC52_START.size(), sequence.size() - OSC52_START.size() - last.size()));
}

// Joins the contents of consecutive ESC P ... ESC \ strings, each at most one
// chunk long; false when anything stands outside them.
bool join_screen_chunks(std::string_view sequence, std::string* out) {
    if (sequence.empty()) return false;
    while (!sequence.empty()) {
        if (sequence.substr(0, DCS_START.size()) != DCS_START) return false;
        sequence.remove_prefix(DCS_START.size());
        const size_t end = sequence.find(ST);
        if (end == std::string_view::npos || end == 0 || end > SCREEN_CHUNK) return false;
        out->append(sequence.substr(0, end));
        sequence.remove_prefix(end + ST.size());
    }
    return true;
}

} // namespace

std::string base64_encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    const auto at = [&](size_t k) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[k])); };
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t group = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
        out += BASE64_ALPHABET[group >> 18 & 63];
        out += BASE64_ALPHABET[group >> 12 & 63];
        out += BASE64_ALPHABET[group >> 6 & 63];
        out += BASE64_ALPHABET[group & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest != 0) {
        const uint32_t group = at(i) << 16 | (rest == 2 ? at(i + 1) << 8 : 0);
        out += BASE64_ALPHABET[group >> 18 & 63];
        out += BASE64_ALPHABET[group >> 12 & 63];
        out += rest == 2 ? BASE64_ALPHABET[group >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

std::string osc52_sequence(std::string_view text, osc52_wrap wrap, osc52_end end) {
    if (wrap == osc52_wrap::SCREEN) end = osc52_end::BEL;
    std::string bare(OSC52_START);
    bare += base64_encode(text);
    bare += terminator(end);

    std::string out;
    switch (wrap) {
    case osc52_wrap::NONE:
        return bare;
    case osc52_wrap::SCREEN:
        for (size_t at = 0; at < bare.size(); at += SCREEN_CHUNK) {
            out += DCS_START;
            out += std::string_view(bare).substr(at, SCREEN_CHUNK);
            out += ST;
        }
        return out;
    }
    return bare;
}

bool osc52_is_safe(std::string_view sequence, osc52_wrap wrap, osc52_end end) {
    std::string inner;
    switch (wrap) {
    case osc52_wrap::NONE:
        return is_bare_sequence(sequence, end);
    case osc52_wrap::SCREEN:
        return join_screen_chunks(sequence, &inner) && is_bare_sequence(inner, osc52_end::BEL);
    }
    return false;
}

} // namespace korvel
