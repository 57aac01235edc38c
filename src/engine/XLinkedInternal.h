#pragma once

// What the X-linked p-values and the X-linked exact power share: the
// extended log-factorials and the five-class statistics.

#include <cmath>
#include <cstdint>

#include "core/Types.h"
#include "engine/XLinked.h"

namespace zyg::xlinked {

// ln k! as the extended lgamma gives it. Tabled up to kTabledLogFactorials
// in blocks made on first use (any thread); call prepareLogFactorials with
// the largest k a computation needs before reading logFactorial in a loop.
inline constexpr std::uint64_t kTabledLogFactorials = std::uint64_t{1} << 17;
void prepareLogFactorials(std::uint64_t largest);
extern Extended gLogFactorials[kTabledLogFactorials];
inline Extended logFactorial(std::uint64_t k) {
    return k < kTabledLogFactorials ? gLogFactorials[k] : std::lgamma(static_cast<Extended>(k) + 1);
}

// X2 and G of a sample whose counts are checked and testable (both alleles
// occur), in the order of operations xPearsonX2 and xLikelihoodRatioG use.
Extended pearsonX2Of(const XSampleCounts& c);
Extended likelihoodRatioGOf(const XSampleCounts& c);

}  // namespace zyg::xlinked
