// Telling, before the C library compiles a regular expression, whether
// compiling it or matching it could take more than a moment, and the form of
// it that matches a long subject in one pass.
#pragma once

#include <string>
#include <string_view>

// The C library compiles a repeated part by writing it out once per copy,
// and some patterns of a few bytes make that take seconds or minutes and
// gigabytes: many optional copies (`a{1,30000}`), parts that can match
// nothing repeated over and over (`^a*+++++`), assertions repeated
// (`(\b){1,40}`). True for such a pattern (POSIX extended syntax, as the C
// library reads it); the patterns people type stay far inside the limits.
bool too_costly_to_compile(std::string_view pattern);

// True when the pattern refers back to a group (`\1` to `\9`). Extended
// expressions do not define back-references; the C library takes them, and
// matching one backtracks without bound: `(.*)\1b` spends a minute on one
// path of 2000 bytes, and nothing can interrupt it.
bool has_back_reference(std::string_view pattern);

// `^.*(pattern)`, which matches exactly where the pattern does. The C library
// tries an unanchored pattern from every position of the subject in turn, so
// a failing match of `a.*z` on a path of 100,000 bytes takes seconds; anchored
// and compiled without sub-matches it is one pass. A ')' that closes nothing,
// which the C library reads as an ordinary character, is escaped so that it
// stays one. The pattern must compile as it is.
std::string single_pass_form(std::string_view pattern);
