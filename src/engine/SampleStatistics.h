#pragma once

// X2 and G of one sample in a single pass: the same extended operations, in
// the same order, as sampleExpectedCounts, pearsonX2 and likelihoodRatioG, so
// the same values to the last bit, without their intermediate results passing
// through memory. A statistic that cannot be computed is known to be -1 before
// any logarithm is taken, so none is.

#include <cstdint>

#include "core/Types.h"

namespace zyg {

// n is the size the counts were drawn with and must be at least 1. Each
// statistic is written only when asked for.
void sampleStatistics(const GenotypeCounts& counts, std::uint16_t n, bool x2On, bool gOn,
                      Extended& x2, Extended& g);

}  // namespace zyg
