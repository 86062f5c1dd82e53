// Every user action in one table: its name, the keys (or mouse buttons)
// that run it by default, a line that says what it does, and the function
// behind it. Dispatch, the help and the documentation all read this table.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/viewer.hpp"
#include "term/term.hpp"

namespace korvel {

// What makes an action run.
struct trigger {
    enum kind_t : uint8_t { NONE, KEY, CHARACTER, MOUSE, ANY_CHARACTER, ANY_KEY };
    kind_t kind = NONE;
    uint32_t code = 0; // a TB_KEY_* value (keys and mouse buttons) or a code point

    static constexpr trigger key(uint16_t k) { return {KEY, k}; }
    static constexpr trigger character(uint32_t c) { return {CHARACTER, c}; }
    static constexpr trigger mouse(uint16_t button) { return {MOUSE, button}; }
    static constexpr trigger any_character() { return {ANY_CHARACTER, 0}; }
    // Any key or character that no other action of the mode takes.
    static constexpr trigger any_key() { return {ANY_KEY, 0}; }
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

// The action the event runs in the viewer's present mode, or nullptr.
// Special keys are looked up before characters.
const action* action_for(const viewer& v, const tb_event& event);

// How a trigger is written for people: "Ctrl-B", "Enter", "j", "wheel up".
std::string trigger_name(const trigger& t);

// The help screen's lines: every action of the table with its keys, then
// the keys the configuration maps.
std::vector<std::string> help_listing(const viewer& v);

} // namespace korvel
