#include "base/outcome.hpp"

#include <cstdarg>
#include <cstdio>

namespace korvel {

outcome outcome::failuref(const char* format, ...) {
    char text[MESSAGE_MAX + 1];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return outcome(text);
}

} // namespace korvel
