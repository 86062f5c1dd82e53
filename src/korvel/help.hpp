// The help screen: every action of the table with its keys, then the keys
// the configuration maps, drawn over the tree until a key closes it.
#pragma once

#include <string>
#include <vector>

#include "korvel/viewer.hpp"
#include "outcome.hpp"
#include "term.hpp"

// The screen's lines, made from the action table and the key map.
std::vector<std::string> help_lines(const viewer& v);
// Scrolls by the key, or closes the help for any other; true when it drew.
bool help_key(viewer& v, const tb_event& event);
outcome draw_help(const viewer& v);
