// Copying the selected path to the system clipboard through xsel or wl-copy.
#pragma once

void copy_to_clipboard();
