#include "app/bindings.hpp"

#include <algorithm>

#include "app/action.hpp"

namespace korvel {

namespace {

bool applies(action_mode mode, action_mode now) {
    return mode == now || (mode == action_mode::ANY && now != action_mode::HELP);
}

} // namespace

key_bindings::key_bindings() {
    for (const action& a : all_actions())
        for (const trigger& t : a.triggers)
            if (t.kind != trigger::NONE) bindings_.push_back({a.mode, t, &a});
}

const action* key_bindings::find(action_mode now, const trigger& t) const {
    const auto first = [&](const trigger& wanted) -> const action* {
        for (const binding& b : bindings_)
            if (applies(b.mode, now) && b.on == wanted) return b.run;
        return nullptr;
    };
    if (const action* a = first(t)) return a;
    // Alt with a key runs only what was bound to exactly that.
    if (t.alt || t.kind == trigger::MOUSE) return nullptr;
    if (t.kind == trigger::CHARACTER) {
        if (const action* a = first(trigger::any_character())) return a;
    }
    return first(trigger::any_key());
}

void key_bindings::bind(const key_press& key, const action& a) {
    const trigger t = trigger::of(key);
    std::erase_if(bindings_, [&](const binding& b) { return b.mode == a.mode && b.on == t; });
    bindings_.push_back({a.mode, t, &a});
}

void key_bindings::unbind(const key_press& key) {
    const trigger t = trigger::of(key);
    std::erase_if(bindings_, [&](const binding& b) {
        return (b.mode == action_mode::NORMAL || b.mode == action_mode::ANY) && b.on == t;
    });
}

std::vector<trigger> key_bindings::triggers_of(const action& a) const {
    std::vector<trigger> out;
    for (const binding& b : bindings_)
        if (b.run == &a) out.push_back(b.on);
    return out;
}

} // namespace korvel
