// Randomness drawn once per process for the physics hash tables, so that
// chosen handles or coordinates cannot steer their layout.
#pragma once

#include <cstdint>

namespace core {

// splitmix64: advances `state` and returns a well-mixed 64-bit value.
inline uint64_t splitmix64(uint64_t& state) noexcept {
    uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// A value that differs from process to process (entropy source and clock).
uint64_t process_seed() noexcept;

}  // namespace core
