#pragma once

// The tests of Hardy-Weinberg proportions on one observed sample: its allele
// frequency, expectation and inbreeding coefficient, the X2, G and corrected
// X2 statistics with their chi-square p-values, and the p-values of the exact
// tests from the distribution of the heterozygote count given the allele
// count. No window, no Qt.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/Types.h"
#include "engine/TestCatalogue.h"

namespace zyg {

// The largest genotype count a sample may hold, per genotype.
inline constexpr std::uint64_t kMaxSampleGenotypeCount = 1'000'000'000;

// Genotype counts of one sample. On an autosome aa, ab and bb are everyone's
// genotypes (A1A1, A1A2, A2A2) and there are no hemizygotes. On the X
// chromosome they are the females' genotypes, and maleA and maleB the males'
// hemizygotes (A1, A2).
struct SampleCounts {
    std::uint64_t aa = 0, ab = 0, bb = 0;
    std::uint64_t maleA = 0, maleB = 0;
    LocusKind locus = LocusKind::Autosomal;
};

struct SampleSummary {
    std::uint64_t n = 0;
    double p = 0;                                           // frequency of A1, (2 AA + AB) / 2n
    double expectedAA = 0, expectedAB = 0, expectedBB = 0;  // n p^2, 2npq, n q^2
    // 1 - observed / expected heterozygotes; nothing when one allele is absent.
    std::optional<double> f;
    bool polymorphic = false;  // both alleles occur: the sample can be tested
};

// Every function below tests an autosomal locus: it takes counts of at most
// kMaxSampleGenotypeCount each, not all zero, without hemizygotes, and throws
// std::invalid_argument otherwise.
SampleSummary summarizeSample(const SampleCounts& counts);

// The p-values of the exact tests, conditional on the allele count, for the
// observed heterozygote count h:
//   twoSided     P(counts no more probable than h), ties within a relative 1e-7
//   midP         P(counts less probable) + P(counts as probable) / 2
//   deficit      P(H <= h)             excess       P(H >= h)
//   deficitMidP  P(H <= h) - P(h) / 2  excessMidP   P(H >= h) - P(h) / 2
//   dost         min(1, 2 min(deficit, excess))
//
// Accuracy: the weights are walked from h by their exact ratios until the
// rest of a tail is below 1e-17 of P(h), a geometric bound that the
// log-concave distribution guarantees; a walk that rises e^800 above P(h)
// shows every p-value made of counts no more probable than h to lie below
// 1e-338, which double rounds to 0. Each step rounds twice: in doubles for
// 2n up to 2^22 (at most about 2 10^4 steps) and in extended precision
// beyond (at most about 10^6 steps for n up to 3 10^9). The relative error of
// every p-value is therefore below 1e-11 wherever it is at least 1e-300;
// smaller ones are correct to the bits a subnormal double holds, and a
// p-value is 0 only when it lies below half the smallest subnormal double.
// Nothing when one allele is absent.
struct ExactPValues {
    double twoSided = 1, midP = 0.5, dost = 1;
    double deficit = 1, excess = 1, deficitMidP = 0.5, excessMidP = 0.5;
};
std::optional<ExactPValues> exactPValues(const SampleCounts& counts);

// One test on one sample: the statistic (the tests with hasStatistic only)
// and the p-value, both nothing when one allele is absent (g-window: when a
// count is 0).
struct SampleTestValue {
    std::optional<double> statistic;
    std::optional<double> pValue;
};

// The tests asked for, in their order; the exact p-values are computed once
// for all the exact tests among them.
std::vector<SampleTestValue> testSample(const SampleCounts& counts, std::span<const HweTest> tests);

// The statistic of X2, G or the corrected X2 in extended precision, as
// testSample computes it: kNotComputable when one allele is absent or the
// test has no statistic, and for g-window also when a count is 0.
Extended sampleStatistic(HweTest test, const SampleCounts& counts);

}  // namespace zyg
