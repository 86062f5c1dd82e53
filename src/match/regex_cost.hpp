// Telling, before the C library compiles a regular expression, whether
// compiling it could take more than a moment.
#pragma once

#include <string_view>

namespace korvel {

// The C library compiles a repeated part by writing it out once per copy,
// and some patterns of a few bytes make that take seconds or minutes and
// gigabytes: many optional copies (`a{1,30000}`), parts that can match
// nothing repeated over and over (`^a*+++++`), assertions repeated
// (`(\b){1,40}`). True for such a pattern (POSIX extended syntax, as the C
// library reads it); the patterns people type stay far inside the limits.
bool too_costly_to_compile(std::string_view pattern);

} // namespace korvel
