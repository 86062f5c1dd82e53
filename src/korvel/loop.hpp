// The event loop: UI cycles, key and mouse dispatch, suspend and resume.
#pragma once

#include "term.hpp"

enum loop_result : int {
    LOOP_OK = 0,
    LOOP_FAILED = 1,      // the message is in the error text
    LOOP_INIT_FAILED = 2, // a UI cycle could not start
};

int run_event_loop();

// Acts on one event; true when the screen must be drawn again.
bool dispatch_event(const tb_event& event);
