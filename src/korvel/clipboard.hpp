// Copying the selected path to the system clipboard through xsel or wl-copy.
#pragma once

#include "korvel/viewer.hpp"

void copy_to_clipboard(viewer& v);
