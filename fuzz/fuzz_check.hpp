// A check that holds in every build type: a fuzz target must stop on the
// first wrong result, with the place and the expression, even where NDEBUG
// has turned assert() off.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(expression)                                                                     \
    do {                                                                                           \
        if (!(expression)) {                                                                       \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #expression);         \
            abort();                                                                               \
        }                                                                                          \
    } while (0)
