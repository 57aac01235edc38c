#pragma once

#include <cstdint>

#include "core/Types.h"

namespace zyg {

// The fitnesses of A1A1, A1A2 and A2A2 under natural selection.
struct Fitnesses {
    Extended w11 = 0, w12 = 0, w22 = 0;
};

// The genotype frequencies of a model. Reads only what the model needs (p and
// q always, var for Wahlund, f for inbreeding, the fitnesses for selection)
// and checks no input; the caller computes q as 1 - p. Must not be called for
// selection with all three fitnesses zero.
GenotypeFrequencies modelFrequencies(GenotypeModel model, Extended p, Extended q, Extended var,
                                     Extended f, const Fitnesses& w);

// e = f x n for each genotype, unrounded.
ExpectedCounts expectedCounts(const GenotypeFrequencies& frequencies, std::uint16_t n);

}  // namespace zyg
