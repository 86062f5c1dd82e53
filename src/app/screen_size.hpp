// The size of the screen the viewer is laid out on.
#pragma once

namespace korvel {

struct screen_size {
    int width = 0;
    int height = 0;
};

} // namespace korvel
