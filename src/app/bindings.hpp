// Which key runs which built-in action, in each mode: the action table's own
// keys, changed by the configuration's `bind` lines.
#pragma once

#include <vector>

#include "app/action.hpp"
#include "term/key_notation.hpp"

namespace korvel {

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
