// Which key runs which built-in action, in each mode: the action table's own
// keys, changed by the configuration's `bind` lines.
#pragma once

#include <cstdint>
#include <vector>

#include "term/key_notation.hpp"

namespace korvel {

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

struct action;

class key_bindings {
  public:
    struct binding {
        action_mode mode;
        trigger on;
        const action* run;
    };

    // The action table's own keys.
    key_bindings();

    // The action that the trigger runs in mode now: an action of that mode,
    // or of both the tree and the prompt when now is one of them.
    const action* find(action_mode now, const trigger& t) const;
    // Key runs a in a's mode, in place of what it ran there before.
    void bind(const key_press& key, const action& a);
    // Key runs no built-in action in the tree.
    void unbind(const key_press& key);
    // What runs a, in the table's order, then in the order bound.
    std::vector<trigger> triggers_of(const action& a) const;

  private:
    std::vector<binding> bindings_;
};

} // namespace korvel
