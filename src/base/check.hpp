// Checks of internal invariants that stay on in every build type: a broken
// one ends the program like a failed assertion, naming the function and the
// expression.
#pragma once

namespace korvel {

// Called by a failed check before it prints, with only async-signal-safe
// calls: whoever holds the terminal hands it back here, or the message would
// vanish with the viewer's screen. Null for none.
void set_check_failure_hook(void (*hook)());

[[noreturn]] void check_failed(const char* expression, const char* function, const char* file,
                               int line);

#define KORVEL_CHECK(expression)                                                               \
    ((expression) ? static_cast<void>(0)                                                       \
                  : ::korvel::check_failed(#expression, __func__, __FILE__, __LINE__))

} // namespace korvel
