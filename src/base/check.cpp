#include "base/check.hpp"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace korvel {

namespace {

std::atomic<void (*)()> failure_hook{nullptr};

} // namespace

void set_check_failure_hook(void (*hook)()) { failure_hook = hook; }

void check_failed(const char* expression, const char* function, const char* file, int line) {
    // The terminal first: a message printed on the viewer's screen would
    // vanish with it.
    if (void (*hook)() = failure_hook.load()) hook();
    // The name the program was started under, as the C library's own
    // assertions print it; a program started without one is korvel.
    const char* name = program_invocation_name;
    if (name == nullptr || *name == '\0') name = "korvel";
    fprintf(stderr, "%s: %s:%d: %s: Assertion `%s' failed.\n", name, file, line, function,
            expression);
    abort();
}

} // namespace korvel
