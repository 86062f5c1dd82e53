// One user action: what runs it by default, where it applies, what it does.
// The table of them is defined with the actions themselves (actions.cpp);
// the key bindings start from it without knowing the viewer.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "term/key_notation.hpp"
#include "term/term_types.hpp"

namespace korvel {

struct viewer;

// What makes an action run.
struct trigger {
    enum kind_t : uint8_t { NONE, KEY, CHARACTER, MOUSE, ANY_CHARACTER, ANY_KEY };
    kind_t kind = NONE;
    uint32_t code = 0; // a TB_KEY_* value (keys and mouse buttons) or a code point
    bool alt = false;

    static constexpr trigger key(uint16_t k) { return {KEY, k}; }
    static constexpr trigger character(uint32_t c) { return {CHARACTER, c}; }
    static constexpr trigger mouse(uint16_t button) { return {MOUSE, button}; }
    static constexpr trigger any_character() { return {ANY_CHARACTER, 0}; }
    // Any key or character that no other action of the mode takes.
    static constexpr trigger any_key() { return {ANY_KEY, 0}; }
    static trigger of(const key_press& k) {
        return k.key != 0 ? trigger{KEY, k.key, k.alt} : trigger{CHARACTER, k.ch, k.alt};
    }

    friend bool operator==(const trigger&, const trigger&) = default;
};

// Where an action applies: the tree, the open prompt, both of them, or the
// help screen, which takes every event while it is open.
enum class action_mode : uint8_t { NORMAL, PROMPT, ANY, HELP };

struct action {
    const char* name;
    action_mode mode;
    std::array<trigger, 3> triggers;
    const char* description;
    // Returns whether the screen must be drawn again.
    bool (*run)(viewer& v, const tb_event& event);
};

std::span<const action> all_actions();

} // namespace korvel
