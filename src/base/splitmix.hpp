// A small, fast, deterministic source of pseudo-random numbers (splitmix64):
// good enough for picking samples and for fuzzing, and the same on every run.
#pragma once

#include <cstdint>

namespace korvel {

inline uint64_t next_random(uint64_t& state) {
    state += 0x9e3779b97f4a7c15u;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
}

} // namespace korvel
