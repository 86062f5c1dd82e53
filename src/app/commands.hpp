// Running the shell command bound to a key, on the ordinary screen.
#pragma once

#include "app/session.hpp"
#include "app/viewer.hpp"
#include "base/outcome.hpp"
#include "config/config.hpp"

namespace korvel {

// Hands the terminal back, runs the command through /bin/sh with the path
// under the cursor in $f and the picked paths in "$@" and $fx, shows a
// failure in the status row (and on the terminal, until a key), and takes
// the terminal back. Only a failure to take it back is returned: the viewer
// cannot go on without its screen.
outcome run_command(viewer& v, session& s, const command& cmd);

} // namespace korvel
