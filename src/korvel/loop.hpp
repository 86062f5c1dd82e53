// The event loop: UI cycles, dispatch of keys and the mouse, suspend and
// resume. It waits without a time-out: a key, a resize, a signal or a
// message from another thread wakes it.
#pragma once

#include "config.hpp"
#include "korvel/session.hpp"
#include "korvel/viewer.hpp"
#include "outcome.hpp"
#include "term.hpp"

struct dispatch_result {
    bool redraw = false;
    // A mapped command the key runs; the loop runs it with the terminal
    // handed back.
    const command* mapped = nullptr;
};

// Acts on one event: in the tree a mapped key first, then the built-in
// actions; at the prompt its editing keys. A resize keeps the cursor on the
// screen and redraws; a drag acts only where it reaches another row.
dispatch_result dispatch_event(viewer& v, const tb_event& event);

// Takes the terminal over and runs until a quit is asked for or the
// terminal fails; the terminal is still held when it returns.
outcome run_viewer(viewer& v, session& s);
