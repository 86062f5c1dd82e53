#include "check.hpp"

#include <cstdio>
#include <cstdlib>

#include "korvel/status.hpp"

void check_failed(const char* expression, const char* function, const char* file, int line) {
    fprintf(stderr, "%s: %s:%d: %s: Assertion `%s' failed.\n", program_name, file, line, function,
            expression);
    abort();
}
