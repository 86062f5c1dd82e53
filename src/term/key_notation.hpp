// Keys as the configuration names them and as the terminal reports them:
// "j", "é", "<c-e>", "<a-x>", "<f5>", "<enter>".
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "term/term_types.hpp"

namespace korvel {

// One key press: a special or control key, or a character, maybe with Alt.
struct key_press {
    uint16_t key = 0; // a TB_KEY_* value; 0 for a character
    uint32_t ch = 0;  // the character's code point when key is 0
    bool alt = false;

    friend auto operator<=>(const key_press&, const key_press&) = default;
};

// The key of a key event, as a key_press compares; modifiers other than Alt
// do not count.
key_press key_of(const tb_event& event);

// The key a configuration token names, or nothing. A token is one character
// (a control byte is its control key), or a name in angle brackets, letters
// in any case: <c-X> for a letter X (or [ \\ ] ^ _), <a-K> for Alt with any key K written
// without its brackets ("<a-x>", "<a-c-e>", "<a-up>"), <f1> to <f12>,
// <enter>, <esc>, <tab>, <s-tab>, <space>, <bs>, <del>, <ins>, <home>,
// <end>, <pgup>, <pgdn>, <up>, <down>, <left>, <right>, and <lt> for '<'.
std::optional<key_press> parse_key(std::string_view token);

// A token that is meant as one key: one character, or a name in angle
// brackets; it may still name no key.
bool looks_like_one_key(std::string_view token);

// How the configuration writes the key; parse_key reads it back.
std::string key_notation(const key_press& k);

} // namespace korvel
