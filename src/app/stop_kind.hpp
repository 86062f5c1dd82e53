#pragma once

namespace korvel {

// What a key or a signal asks of the event loop once the event is handled.
enum stop_kind : int { STOP_NONE = 0, STOP_SUSPEND = 1, STOP_QUIT = 2 };

} // namespace korvel
