// Every user action in one table: its name, the keys (or mouse buttons)
// that run it by default, a line that says what it does, and the function
// behind it. Dispatch, the help and the documentation all read this table.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/action.hpp"
#include "app/viewer.hpp"
#include "term/term.hpp"

namespace korvel {

// The action the event runs in the viewer's present mode, or nullptr.
// Special keys are looked up before characters.
const action* action_for(const viewer& v, const tb_event& event);

// The action of that name, or nullptr.
const action* action_named(std::string_view name);

// How a trigger is written for people: "Ctrl-B", "Enter", "j", "wheel up".
std::string trigger_name(const trigger& t);

// The help screen's lines: every action of the table with its keys, then
// the keys the configuration maps.
std::vector<std::string> help_listing(const viewer& v);

} // namespace korvel
