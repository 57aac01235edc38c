#pragma once

// The size of a test under Hardy-Weinberg proportions given what a marker
// fixes: the probability that the test rejects at a level a sample of n
// genotypes with a copies of A1, drawn in Hardy-Weinberg proportions. Given
// a, the heterozygote count follows the exact tests' conditional
// distribution (engine/ConditionalWalk.h), and each count is decided as
// `rejects` (engine/ExactPower.h) decides that sample: the exact family
// through exactRejections, X2, G, X2cc and g-window by their statistics
// against criticalValue (testStatistic of the three counts, which beyond
// 65535 genotypes is the extended statistic exact power decides by). A sample a test cannot compute
// (one allele only; for g-window a zero count) is not rejected. For a rare marker the size is far
// below the level: few heterozygote counts are possible.
//
// On X, "given" means given the females nf, the males nm and the allele
// count nA over both sexes: the outcomes (male A count, female heterozygote
// count) follow the X tests' conditional distribution (engine/XLinked.h),
// each decided as testXSample decides it (p-value at most the level, X2 and
// G against the 2-df critical value, both up to a relative 1e-9). The
// autosomal tests on X see the females only, so their size is the
// autosomal size at n = nf given the females' own allele count.
//
// Accuracy: sizes are sums of the conditional probabilities of the rejected
// counts, in doubles while 1e-30 of the smallest level is a normal double
// (within a relative 1e-12 of the exact sums), in long double below. Counts whose weight lies below
// 1e-30 of the smallest level (relative to the most probable count) are left out first; when a size
// is not far above what was left out, the whole row is summed instead, so a size keeps its relative
// digits at every level down to 1e-300 and below. A rejected set whose probabilities all underflow
// the long double range (below about 1e-4930) gives the smallest normal long double, never 0: 0
// means that the test rejects no possible sample.

#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "core/Types.h"
#include "engine/ExactPower.h"
#include "engine/XLinked.h"

namespace zyg {

// The largest n of an autosomal null size: the largest sample exact power
// decides (biobank samples). A row is walked from its mode only as far as
// its cells weigh against the smallest level, so a size costs about the
// square root of n.
inline constexpr std::uint32_t kMaxNullSizeSample = kMaxPowerSampleSize;

// The largest nt = nm + 2 nf of an X null size: every outcome with mass is
// visited, so the work grows as nt^1.5.
inline constexpr std::uint64_t kMaxXNullSizeAlleles = 400000;

// A set of tests and levels whose null sizes are wanted together: the
// critical values are made once, and a row of the conditional distribution
// serves every request.
class NullSizePlan {
public:
    explicit NullSizePlan(std::span<const TestLevel> requests);
    std::span<const TestLevel> requests() const { return requests_; }

    // The size of every request, in their order, for samples of n genotypes
    // with a copies of A1; 0 for a = 0 or 2n (nothing is testable). Nothing
    // when n is 0 or above kMaxNullSizeSample, or a above 2n.
    std::optional<std::vector<Extended>> sizes(std::uint32_t n, std::uint32_t a) const;

private:
    std::vector<TestLevel> requests_;
    std::vector<Extended> critical_;    // X2, G, X2cc and g-window's critical values
    std::vector<std::size_t> byLevel_;  // their requests by test and increasing level
    Extended smallestLevel_ = 1;
};

// One request's size: NullSizePlan({test, level}).sizes(n, a).
std::optional<Extended> nullSize(HweTest test, std::uint32_t n, std::uint32_t a, double level);

// The sizes of a plan by (n, a), each pair computed once: panels repeat
// pairs. Not for use by several threads at once.
class NullSizeCache {
public:
    explicit NullSizeCache(std::span<const TestLevel> requests) : plan_(requests) {}
    const NullSizePlan& plan() const { return plan_; }
    // As NullSizePlan::sizes; the pointer stays valid as long as the cache.
    const std::vector<Extended>* sizes(std::uint32_t n, std::uint32_t a);
    std::size_t pairs() const { return cache_.size(); }

private:
    NullSizePlan plan_;
    std::unordered_map<std::uint64_t, std::optional<std::vector<Extended>>> cache_;
};

// One marker of a panel as the null sizes see it, with how many markers of
// the panel share it.
struct NullMarker {
    std::uint32_t n = 0, a = 0;
    std::uint64_t count = 1;
};

// The probability that the test's p-value is at most t (the share of the
// markers it rejects at level t) when every marker is in Hardy-Weinberg
// proportions: the markers' sizes at level t, weighted by their counts and
// divided by the total count. Markers outside NullSizePlan's range count as
// never rejected. 0 for no markers.
Extended nullPValueDistribution(HweTest test, std::span<const NullMarker> markers, double t);

// X tests: the size of every request for nf females and nm males with nA
// copies of A1 among their nm + 2 nf alleles; 0 when nA is 0 or all alleles
// (nothing is testable). Nothing when nobody is counted, nA exceeds the
// alleles or the alleles exceed kMaxXNullSizeAlleles.
std::optional<std::vector<Extended>> xNullSizes(XSampleSize size, std::uint64_t allelesA,
                                                std::span<const XTestLevel> requests);

}  // namespace zyg
