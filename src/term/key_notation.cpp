#include "term/key_notation.hpp"

#include <array>
#include <cstdio>

#include "base/utf8.hpp"

namespace korvel {

namespace {

struct named_key {
    const char* name;
    key_press press;
};

// The first name of a key is the one key_notation writes.
const named_key NAMED_KEYS[] = {
    {"enter", {TB_KEY_ENTER, 0, false}},     {"esc", {TB_KEY_ESC, 0, false}},
    {"tab", {TB_KEY_TAB, 0, false}},         {"s-tab", {TB_KEY_BACK_TAB, 0, false}},
    {"space", {0, ' ', false}},              {"bs", {TB_KEY_BACKSPACE2, 0, false}},
    {"backspace", {TB_KEY_BACKSPACE2, 0, false}},
    {"del", {TB_KEY_DELETE, 0, false}},      {"delete", {TB_KEY_DELETE, 0, false}},
    {"ins", {TB_KEY_INSERT, 0, false}},      {"insert", {TB_KEY_INSERT, 0, false}},
    {"home", {TB_KEY_HOME, 0, false}},       {"end", {TB_KEY_END, 0, false}},
    {"pgup", {TB_KEY_PGUP, 0, false}},       {"pgdn", {TB_KEY_PGDN, 0, false}},
    {"up", {TB_KEY_ARROW_UP, 0, false}},     {"down", {TB_KEY_ARROW_DOWN, 0, false}},
    {"left", {TB_KEY_ARROW_LEFT, 0, false}}, {"right", {TB_KEY_ARROW_RIGHT, 0, false}},
    {"lt", {0, '<', false}},
};

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_letters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// A typed character as the terminal reports it: control bytes arrive as
// keys, Backspace whichever byte the terminal sends for it.
key_press from_character(uint32_t c) {
    if (c == 0x0D) return {TB_KEY_ENTER, 0, false};
    if (c == 0x7F || c == 0x08) return {TB_KEY_BACKSPACE2, 0, false};
    if (c < 0x20) return {static_cast<uint16_t>(c), 0, false};
    return {0, c, false};
}

// One whole character, or nothing.
std::optional<uint32_t> single_character(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const utf8_char c = utf8_at(text, 0);
    if (c.code_point == utf8_char::INVALID || c.length != text.size() || c.code_point == 0)
        return std::nullopt;
    return c.code_point;
}

// What is inside the angle brackets, Alt aside.
std::optional<key_press> parse_inner(std::string_view name) {
    if (const auto c = single_character(name)) return from_character(*c);
    if (name.size() == 3 && same_letters(name.substr(0, 2), "c-")) {
        const char letter = lower(name[2]);
        if (letter >= 'a' && letter <= 'z')
            return from_character(static_cast<uint32_t>(letter - 'a' + 1));
        // Ctrl with [ \ ] ^ _ makes the codes past the letters'.
        if (letter >= '[' && letter <= '_') return from_character(static_cast<uint32_t>(letter - 0x40));
        return std::nullopt;
    }
    if ((name.size() == 2 || name.size() == 3) && lower(name[0]) == 'f') {
        int n = 0;
        for (char d : name.substr(1)) {
            if (d < '0' || d > '9') return std::nullopt;
            n = n * 10 + (d - '0');
        }
        if (n < 1 || n > 12) return std::nullopt;
        return key_press{static_cast<uint16_t>(TB_KEY_F1 - (n - 1)), 0, false};
    }
    for (const named_key& k : NAMED_KEYS)
        if (same_letters(name, k.name)) return k.press;
    return std::nullopt;
}

std::string inner_notation(const key_press& k) {
    if (k.key == 0) {
        if (k.ch == ' ') return "space";
        if (k.ch == '<') return "lt";
        std::string out;
        append_utf8(out, k.ch);
        return out;
    }
    for (const named_key& n : NAMED_KEYS)
        if (n.press.key == k.key && n.press.ch == k.ch) return n.name;
    char text[16];
    if (k.key >= TB_KEY_F12 && k.key <= TB_KEY_F1) {
        snprintf(text, sizeof text, "f%d", TB_KEY_F1 - k.key + 1);
    } else if (k.key > 0 && k.key < 0x20) {
        snprintf(text, sizeof text, "c-%c",
                 static_cast<char>(k.key <= 26 ? 'a' + k.key - 1 : k.key + 0x40));
    } else {
        snprintf(text, sizeof text, "key-%u", k.key);
    }
    return text;
}

} // namespace

key_press key_of(const tb_event& event) {
    return {event.key, event.key != 0 ? 0 : event.ch, (event.mod & TB_MOD_ALT) != 0};
}

bool looks_like_one_key(std::string_view token) {
    if (token.size() == 1 || single_character(token)) return true;
    return token.size() > 2 && token.front() == '<' && token.back() == '>';
}

std::optional<key_press> parse_key(std::string_view token) {
    if (const auto c = single_character(token)) return from_character(*c);
    if (token.size() <= 2 || token.front() != '<' || token.back() != '>') return std::nullopt;
    std::string_view name = token.substr(1, token.size() - 2);
    bool alt = false;
    if (name.size() > 2 && same_letters(name.substr(0, 2), "a-")) {
        alt = true;
        name.remove_prefix(2);
    }
    std::optional<key_press> k = parse_inner(name);
    if (k) k->alt = alt;
    return k;
}

std::string key_notation(const key_press& k) {
    const std::string inner = inner_notation(k);
    if (!k.alt && k.key == 0 && k.ch != ' ' && k.ch != '<') return inner;
    return std::string("<") + (k.alt ? "a-" : "") + inner + ">";
}

} // namespace korvel
