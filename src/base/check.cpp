#include "base/check.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace korvel {

void check_failed(const char* expression, const char* function, const char* file, int line) {
    // The name the program was started under, as the C library's own
    // assertions print it; a program started without one is korvel.
    const char* name = program_invocation_name;
    if (name == nullptr || *name == '\0') name = "korvel";
    fprintf(stderr, "%s: %s:%d: %s: Assertion `%s' failed.\n", name, file, line, function,
            expression);
    abort();
}

} // namespace korvel
