#pragma once

#include <cstdint>

#include "core/Types.h"

namespace zyg {

// The fitnesses of A1A1, A1A2 and A2A2 under natural selection.
struct Fitnesses {
    Extended w11 = 0, w12 = 0, w22 = 0;
};

// The rates of the quality-control models: a true heterozygote called
// homozygous (either homozygote, half each), a true homozygote called
// heterozygous, and the frequency of a non-amplifying (null) allele.
struct GenotypingRates {
    Extended hetMiscall = 0, homMiscall = 0, nullFrequency = 0;
};

// The genotype frequencies of a model. Reads only what the model needs (p and
// q always, var for Wahlund, f for inbreeding, the fitnesses for selection)
// and checks no input; the caller computes q as 1 - p. Must not be called for
// selection with all three fitnesses zero. The error and null-allele models
// read `rates`; with every rate 0 they give Hardy-Weinberg's frequencies bit
// for bit.
GenotypeFrequencies modelFrequencies(GenotypeModel model, Extended p, Extended q, Extended var,
                                     Extended f, const Fitnesses& w,
                                     const GenotypingRates& rates = {});

// e = f x n for each genotype, unrounded.
ExpectedCounts expectedCounts(const GenotypeFrequencies& frequencies, std::uint16_t n);

}  // namespace zyg
