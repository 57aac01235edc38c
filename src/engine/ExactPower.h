#pragma once

// Exact power of the tests of Hardy-Weinberg proportions: for a generating
// model, a sample size, a test and a level, the probabilities that a sample of
// n genotypes can be tested and that it is rejected, summed over the
// multinomial distribution of the genotype counts instead of simulated.
//
// X2 and G are decided with the window's own extended-precision statistics, so
// a sample that the window counts as significant is rejected here too.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Types.h"

namespace zyg {

// The tests of Hardy-Weinberg proportions.
enum class HweTest {
    X2,                // Pearson's X2 against the sample's own expectation, no correction
    G,                 // the likelihood-ratio G
    X2cc,              // X2 with the continuity correction 0.5
    Exact,             // the exact test, conditional on the allele count
    ExactMidP,         // "exact-midp"
    ExactDost,         // "exact-dost"
    ExactDeficit,      // "exact-deficit"
    ExactExcess,       // "exact-excess"
    ExactDeficitMidP,  // "exact-deficit-midp"
    ExactExcessMidP,   // "exact-excess-midp"
};

// "x2", "g", "x2cc", "exact".
std::string_view hweTestName(HweTest test);
std::optional<HweTest> parseHweTest(std::string_view name);
// Every test, in the order of the enumeration.
std::vector<HweTest> allHweTests();
// Whether exactPower computes the test's power.
bool exactPowerComputes(HweTest test);

// A generating model and its parameters, in the window's terms. Only the
// parameters of the chosen model are read.
struct ModelSetting {
    GenotypeModel model = GenotypeModel::HardyWeinberg;
    double p = 0.5;
    double var = 0;                    // Wahlund: the variance of p among subpopulations
    double f = 0;                      // inbreeding coefficient
    double w11 = 1, w12 = 1, w22 = 1;  // fitnesses of A1A1, A1A2, A2A2
};

inline constexpr std::uint32_t kMaxPowerSampleSize = 10000;

// Checks the parameters against the window's limits (p 0.01 to 0.99, var 0 to
// p*q, f 0 to 1, fitnesses 0 to 10 and not all zero). Returns the empty text
// when they hold, otherwise one sentence naming the parameter, the value and
// what is allowed.
std::string checkModel(const ModelSetting& setting);

// The model's genotype frequencies, computed as the window computes them.
GenotypeFrequencies frequenciesOf(const ModelSetting& setting);

// The critical value of X2 and G at a level in (0, 0.5]: the window's
// 3.841459 and 6.634907 at 0.05 and 0.01, the 1-df chi-square quantile at any
// other level.
Extended criticalValue(double level);

// The two-sided p-value of the exact test of the sample, or nothing when both
// alleles do not occur.
std::optional<double> exactTestPValue(const GenotypeCounts& counts);

// The heterozygote counts h that the exact test rejects at a level among the
// samples of n genotypes with a copies of A1: h <= low and h >= high. The
// same decisions as `rejects`, up to sums that differ in their last bits, at
// the cost of one conditional distribution for every sample of that allele
// count. Nothing when a is 0 or 2n (not testable).
struct ExactRejection {
    int low = -1, high = 0;
};
std::optional<ExactRejection> exactRejection(std::uint32_t n, std::uint32_t a, double level);

// The test's decision on one sample at a level: true when rejected, false when
// not, nothing when the test cannot be computed for it.
std::optional<bool> rejects(HweTest test, const GenotypeCounts& counts, double level);

struct TestLevel {
    HweTest test = HweTest::X2;
    double level = 0.05;
};

struct ExactPower {
    double testable = 0;          // P(the test can be computed)
    double power = 0;             // P(testable and rejected)
    double conditionalPower = 0;  // power / testable; NaN when testable is 0
    double massLeftOut = 0;       // probability of the samples not enumerated
};

// The exact power at sample size n (1 to kMaxPowerSampleSize) of every test
// and level asked for, in their order. The model must pass checkModel, the
// levels must lie in (0, 0.5]; otherwise std::invalid_argument.
//
// Error bound: the genotype-count triples are grouped by allele count, and
// within a group the probabilities follow from the most probable triple (an
// extended exp of extended log-factorials) by their ratios, in doubles. A
// triple is left out only when its probability is below
// 1e-12 / ((n + 1)(n + 2) / 2), so the mass left out is below 1e-12; it is
// reported as 1 minus the mass summed. The ratios and sums add a relative
// error below 1e-12 (at most a few thousand roundings of 2^-53 in a group),
// so every probability returned is within 2e-12 of the sum over all triples,
// each decided by `rejects`. The genotype probabilities are those the sampler
// draws with: f11, then f12 (none when f11 + f12 lies below f11), then the
// rest.
//
// The exact test rejects when its p-value is at most the level (up to a
// relative 1e-9, so that a p-value equal to the level is rejected whatever
// its last bits); heterozygote counts whose conditional probabilities differ
// by less than a relative 1e-7 count as equally probable.
std::vector<ExactPower> exactPower(const ModelSetting& setting, std::uint32_t n,
                                   std::span<const TestLevel> tests);

}  // namespace zyg
