#pragma once

// Exact power of the tests of Hardy-Weinberg proportions: for a generating
// model, a sample size, a test and a level, the probabilities that a sample of
// n genotypes can be tested and that it is rejected, summed over the
// multinomial distribution of the genotype counts instead of simulated.
//
// X2 and g-window are decided with the window's own extended-precision
// statistics, so a sample that the window counts as significant is rejected
// here too; G (0 ln 0 = 0) with the G an observed sample gets (ObservedSample.h),
// so that its power is that of the G test zygomet-test applies. Every
// test works at every level in (0, 0.5]: critical values and p-values hold
// their accuracy in the far tail (1e-300 and below), and a p-value is never
// 0 or NaN.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/Types.h"
#include "engine/TestCatalogue.h"

namespace zyg {

// A generating model and its parameters, in the window's terms. Only the
// parameters of the chosen model are read.
struct ModelSetting {
    GenotypeModel model = GenotypeModel::HardyWeinberg;
    double p = 0.5;
    double var = 0;                    // Wahlund: the variance of p among subpopulations
    double f = 0;                      // inbreeding coefficient
    double w11 = 1, w12 = 1, w22 = 1;  // fitnesses of A1A1, A1A2, A2A2
    double hetMiscall = 0;             // error: P(true heterozygote called homozygous)
    double homMiscall = 0;             // error: P(true homozygote called heterozygous)
    double nullFrequency = 0;          // null: frequency of the non-amplifying allele
    // On X the fields above describe the females; `males` is the share of the
    // n people who are male and pMale their frequency of A1. An autosomal
    // setting ignores the three.
    LocusKind locus = LocusKind::Autosomal;
    double males = 0.5;
    double pMale = 0.5;
};

// The largest n of exact power: biobank samples.
inline constexpr std::uint32_t kMaxPowerSampleSize = 1000000;

// The model's genotype frequencies, computed as the window computes them; a
// homozygote frequency that rounding leaves below 0 at the lowest f is 0.
GenotypeFrequencies frequenciesOf(const ModelSetting& setting);

// The critical value of X2, G and X2cc at a level in (0, 0.5]: the window's
// 3.841459 and 6.634907 at 0.05 and 0.01, the 1-df chi-square quantile of
// the level as given at any other level, within a relative 1e-17 (Newton's
// method on the log of the extended erfc, which holds its accuracy in the far
// tail; checked down to 1e-300).
Extended criticalValue(double level);

// The 1-df chi-square upper tail P(X2 > statistic), in extended precision:
// it reaches below 1e-4900 before it underflows to 0 (at a statistic above
// about 22600). 1 for a statistic of 0 or less.
Extended chiSquareUpperTail(Extended statistic);

// The statistic of X2, G or X2cc on one sample (X2cc sums
// max(0, |o - e| - 0.5)^2 / e, so the correction never increases a term), or
// kNotComputable when the test cannot compute it or is not one of these.
Extended testStatistic(HweTest test, const GenotypeCounts& counts);
// The same for counts of any size up to kMaxPowerSampleSize genotypes, as
// exact power decides them: testStatistic above up to 65535 genotypes, the
// extended statistic beyond (G: the field's G of an observed sample).
Extended testStatistic(HweTest test, std::uint32_t n11, std::uint32_t n12, std::uint32_t n22);
// Whether X2, G, X2cc or g-window rejects the counts against a critical
// value, decided as exact power decides it: by the statistic in doubles where
// it lies off the critical value by more than 1e-9 of it, by testStatistic
// otherwise.
bool statisticRejects(HweTest test, std::uint32_t n11, std::uint32_t n12, std::uint32_t n22,
                      Extended critical);

// The p-value of an exact-family test of one sample (see HweTest), or
// nothing when both alleles do not occur, the sample has more than 65535
// genotypes (as `rejects`) or the test is not of that family.
// Computed in long double from the conditional distribution without pruning;
// each weight is k ratios from the mode, each with two reciprocals rounded to
// doubles, so the p-value is within a relative (3k + 2) 2^-53 of the exact
// sum, k <= n / 2 (2e-12 at n = 10000). It is never 0 nor NaN: a p-value
// below the smallest normal long double (3.4e-4932, reachable only beyond n
// of about 15000) comes back as that value.
std::optional<Extended> exactPValue(HweTest test, const GenotypeCounts& counts);
// The two-sided exact test's p-value, exactPValue(HweTest::Exact, counts).
std::optional<Extended> exactTestPValue(const GenotypeCounts& counts);

// The heterozygote counts h that an exact-family test rejects at a level
// among the samples of n genotypes with a copies of A1: h <= low and
// h >= high. A one-sided test rejects on its own side only: low is -1 for
// the excess tests, high is INT_MAX for the deficit tests. The same
// decisions as `rejects`, up to sums that differ in their last bits, at the
// cost of one conditional distribution for every sample of that allele count.
// Nothing when a is 0 or 2n (not testable), n is above 65535 or the test is
// not exact-family.
struct TestLevel {
    HweTest test = HweTest::X2;
    double level = 0.05;
};

struct ExactRejection {
    int low = -1, high = 0;
};
std::optional<ExactRejection> exactRejection(HweTest test, std::uint32_t n, std::uint32_t a,
                                             double level);
// The two-sided exact test's bounds, exactRejection(HweTest::Exact, ...).
std::optional<ExactRejection> exactRejection(std::uint32_t n, std::uint32_t a, double level);
// exactRejection for several exact-family tests and levels at once, in their
// order, from one conditional distribution made for the smallest level, at
// any n up to kMaxPowerSampleSize; empty when a is 0 or 2n, n is 0 or larger,
// or a request is not exact-family.
std::vector<ExactRejection> exactRejections(std::uint32_t n, std::uint32_t a,
                                            std::span<const TestLevel> requests);

// The test's decision on one sample at a level: true when rejected, false when
// not, nothing when the test cannot be computed for it.
std::optional<bool> rejects(HweTest test, const GenotypeCounts& counts, double level);

struct ExactPower {
    double testable = 0;          // P(the test can be computed)
    double power = 0;             // P(testable and rejected)
    double conditionalPower = 0;  // power / testable; NaN when testable is 0
    double massLeftOut = 0;       // probability of the samples not enumerated
};

// The exact power at sample size n (1 to kMaxPowerSampleSize) of every test
// and level asked for, in their order. The arguments are those of a study
// that checkStudy (power/StudyRequest.h) accepts: nothing is checked here.
//
// Error bound: the genotype-count triples are grouped by allele count, and
// within a group the probabilities follow from the most probable triple (an
// extended exp of extended log-factorials) by their ratios, in doubles. A
// triple is left out only when its probability is below a cut of
// 1e-12 / ((n + 1)(n + 2) / 2), so the mass left out is below 1e-12; it is
// reported as 1 minus the mass summed. When a request's testable probability
// T is below 1/2, the sum is made again with the cut lowered by 2T, so the
// mass left out is below 1e-12 min(1, 2T) for every request (down to T of
// about 1e-270, where the cut would leave the range of doubles; requests
// that can never be tested, such as g-window with a genotype of probability 0, do
// not count). The ratios and sums add a relative error below 4e-13 in a
// group (at most a few thousand roundings of 2^-53) up to n = 10000, so
// every probability returned is within 2e-12 of the sum over all triples,
// each decided by `rejects`, and within a relative 3e-12 when T < 1/2. The
// cells a group keeps grow as sqrt(n) (about 1600 on each side of the top at
// n = 10^6), and with them the roundings: below 1.3e-12 relative in a group
// at n = 10^6, so every probability is within 3e-12 there (the mass left
// out stays below 1e-12 at every n, as the cut is made for it); the conditional
// power, power / testable, is within 1e-11 of the ratio of the exact sums
// (|P'/T' - P/T| <= (|P' - P| + (P/T) |T' - T|) / T'). The genotype
// probabilities are those the sampler draws with: f11, then f12 (none when
// f11 + f12 lies below f11), then the rest.
//
// The exact-family decisions come from the conditional distribution of each
// allele count in doubles (long double when the smallest exact level is below
// 1e-280), pruned at 1e-20 times that level relative to its mode: their
// p-values are within a relative 1e-12 of the exact sums, so that the level
// tolerance below decides every sample as `rejects` does. X2, G and X2cc are
// decided against criticalValue, which holds its accuracy at every level in
// (0, 0.5].
//
// The exact test rejects when its p-value is at most the level (up to a
// relative 1e-9, so that a p-value equal to the level is rejected whatever
// its last bits); heterozygote counts whose conditional probabilities differ
// by less than a relative 1e-7 count as equally probable.
std::vector<ExactPower> exactPower(const ModelSetting& setting, std::uint32_t n,
                                   std::span<const TestLevel> tests);

// The power of every test and level asked for among the samples of n
// genotypes with exactly a copies of A1 (0 to 2n), under any model: testable
// and power are shares of those samples, conditionalPower = power / testable
// (NaN when none is testable), massLeftOut the bound on the share left out.
// Given a, the model enters only through theta = P12^2 / (P11 P22): the
// heterozygote count has P(h | a) proportional to
// theta^(h/2) / (n11! h! n22!); a genotype of probability 0 pins the count it
// fixes, and an allele count the model cannot produce (e.g. odd a without
// heterozygotes) gives testable and power 0. Same arguments, checks and error
// bound as exactPower, relative to the group; weighted by the probabilities
// of the allele counts and summed over a, these give exactPower.
std::vector<ExactPower> exactPowerGivenAlleleCount(const ModelSetting& setting, std::uint32_t n,
                                                   std::uint32_t a,
                                                   std::span<const TestLevel> tests);

}  // namespace zyg
