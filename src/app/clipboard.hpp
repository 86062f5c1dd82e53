// Copying the selected path to the clipboard: through the first of xsel,
// wl-copy, xclip and pbcopy found on PATH, or through the terminal itself
// (OSC 52) over ssh, inside tmux or screen, and where none is found.
#pragma once

#include "app/viewer.hpp"

namespace korvel {

void copy_to_clipboard(viewer& v);

} // namespace korvel
