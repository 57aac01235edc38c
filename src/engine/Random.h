#pragma once

// The program's only source of random numbers: a 32-bit linear congruential
// generator, seed <- seed * 134775813 + 1 (mod 2^32), whose values are the new
// seed times 2^-32.

#include <cstdint>

#include "core/Types.h"

namespace zyg {

inline constexpr std::uint32_t kRandomMultiplier = 134775813u;  // 0x08088405
inline constexpr std::uint32_t kRandomIncrement = 1u;
inline constexpr Extended kTwoToMinus32 = 0x1p-32L;

// The one program-wide seed; 0 when the program starts.
std::uint32_t randomSeed();
void setRandomSeed(std::uint32_t seed);

// Seeds the generator with the milliseconds since midnight UTC of the clock.
void randomize();

// Advances the seed by one step and returns the new seed times 2^-32, a value
// in [0, 1).
Extended nextRandom();

inline constexpr std::uint32_t stepSeed(std::uint32_t seed) {
    return seed * kRandomMultiplier + kRandomIncrement;
}

}  // namespace zyg
