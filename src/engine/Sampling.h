#pragma once

// One replicate's work: drawing a sample of n genotypes, the sample's own
// Hardy-Weinberg expectation, and the two test statistics.

#include <cstdint>

#include "core/Types.h"

namespace zyg {

// The sampler: n draws of the generator that starts at `seed` (the seed is
// left n steps further on). A draw u counts as A1A1 when u < c1, otherwise as
// A1A2 when u < c2, otherwise as A2A2. This is the reference that every faster
// kernel must reproduce exactly.
GenotypeCounts referenceSampler(std::uint32_t& seed, Extended c1, Extended c2, std::uint16_t n);

// Draws a sample from the program-wide generator with the thresholds
// c1 = f11 and c2 = f11 + f12; f22 is not read.
GenotypeCounts drawSample(const GenotypeFrequencies& frequencies, std::uint16_t n);

// The Hardy-Weinberg expectation of the sample's own allele frequency, times n.
// n = 0 raises "Invalid floating point operation".
ExpectedCounts sampleExpectedCounts(const GenotypeCounts& counts, std::uint16_t n);

// Pearson's X2, or kNotComputable when an expected count is 0 or less.
Extended pearsonX2(const GenotypeCounts& counts, const ExpectedCounts& expected);

// The log-likelihood ratio G, or kNotComputable when a genotype is missing from
// the sample or an expected count is 0 or less. A computed G is never below 0.
Extended likelihoodRatioG(const GenotypeCounts& counts, const ExpectedCounts& expected);

// G from twice its sum of o ln(o / e). A sample in exact Hardy-Weinberg
// proportions has a G of 0, but rounding can leave the sum a hair below 0
// (counts 64, 32, 4 give about -1.3e-17); such a sample is tested and fits,
// so its G is 0, never the -1 of a G that cannot be computed.
inline Extended computedG(Extended twiceSum) { return twiceSum < 0 ? 0 : twiceSum; }

}  // namespace zyg
