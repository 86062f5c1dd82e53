#include "check.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "term.hpp"

void check_failed(const char* expression, const char* function, const char* file, int line) {
    // The terminal first: a message printed on the viewer's screen would
    // vanish with it.
    (void)tb_shutdown_from_signal();
    // The name the program was started under, as the C library's own
    // assertions print it; a program started without one is korvel.
    const char* name = program_invocation_name;
    if (name == nullptr || *name == '\0') name = "korvel";
    fprintf(stderr, "%s: %s:%d: %s: Assertion `%s' failed.\n", name, file, line, function,
            expression);
    abort();
}
