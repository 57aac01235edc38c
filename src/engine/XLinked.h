#pragma once

// X-linked markers: females carry two alleles (AA, AB, BB), males one (A, B).
// The tests of Hardy-Weinberg proportions that count the males, on one
// observed sample and as exact power under the X-linked models. No window,
// no Qt.
//
// Counts. nf = AA + AB + BB females, nm = A + B males; nA = A + 2 AA + AB
// copies of A among nt = nm + 2 nf alleles, nB = nt - nA, p = nA / nt.
//
// The tests:
//   x-exact       conditional on nA, an outcome (mA, fAA, fAB, fBB) has
//                 probability nm!/(mA! mB!) x nf!/(fAA! fAB! fBB!) x 2^fAB
//                 x nA! nB! / nt!; the p-value is the probability of the
//                 outcomes no more probable than the observed one, where
//                 outcomes within a relative 1e-7 of each other are equally
//                 probable ("tied"), as in the autosomal exact tests.
//   x-exact-midp  the probability of the outcomes less probable plus half
//                 of those tied with the observed one.
//   x-x2, x-g     Pearson's X2 and the likelihood ratio G over the five
//                 classes A, B, AA, AB, BB against nm p, nm q, nf p^2,
//                 2 nf p q, nf q^2 (G with 0 ln 0 = 0), referred to the
//                 chi-square with 2 degrees of freedom, whose upper tail is
//                 exp(-x / 2). A class of a sex with nobody in it adds
//                 nothing.
// Every X test is testable when both alleles occur among all alleles. The
// autosomal tests apply to the females alone (SampleCounts{AA, AB, BB} with
// testSample of engine/ObservedSample.h, femaleOnlyPower below); they need
// both alleles among the females.
//
// Special cases: with no males, x-exact and x-exact-midp are the autosomal
// exact test and its mid-p on the females; x-x2 is then the females' own X2
// (the two male classes add nothing) but referred to 2 degrees of freedom,
// so its p-value is not the 1-df one. With no females the outcome is fixed
// by nA: x-exact gives 1 and its mid-p 0.5, X2 and G are 0.
//
// Every p-value is an extended (long double) number: X2 and G reach
// 1e-4900 before their tail underflows, and the exact p-values of samples of
// a few thousand people already lie far below the double range. A p-value
// below the smallest normal long double (about 3.4e-4932) comes back as that
// number, never as 0 or NaN.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/Types.h"
#include "engine/ExactPower.h"

namespace zyg {

// One X-linked sample: female genotype counts and male allele counts. Each
// count at most kMaxSampleGenotypeCount (engine/ObservedSample.h), not all
// zero; the functions below throw std::invalid_argument otherwise.
struct XSampleCounts {
    std::uint64_t aa = 0, ab = 0, bb = 0;  // females
    std::uint64_t a = 0, b = 0;            // males
};

// The figures printed beside the p-values.
struct XSampleSummary {
    std::uint64_t females = 0, males = 0;  // nf, nm
    std::uint64_t allelesA = 0;            // nA
    std::uint64_t alleles = 0;             // nt = nm + 2 nf
    std::optional<double> pFemale;         // (2 AA + AB) / 2nf; nothing without females
    std::optional<double> pMale;           // A / nm; nothing without males
    double p = 0;                          // nA / nt
    // F of the females against their own allele frequency,
    // 1 - AB / (2 nf pf qf); nothing when the females lack an allele.
    std::optional<double> fFemale;
    bool testable = false;         // both alleles among all alleles: the X tests apply
    bool femalesTestable = false;  // both alleles among the females: the autosomal tests apply
};
XSampleSummary summarizeXSample(const XSampleCounts& counts);

// The tests that count the males.
enum class XTest { Exact, ExactMidP, X2, G };
inline constexpr XTest kXTests[] = {XTest::Exact, XTest::ExactMidP, XTest::X2, XTest::G};

// "x-exact", "x-exact-midp", "x-x2", "x-g".
std::string_view xTestName(XTest test);
std::optional<XTest> parseXTest(std::string_view name);
// X2 and G report a statistic beside the p-value.
bool xTestHasStatistic(XTest test);

// The largest allele count nt = nm + 2 nf that x-exact takes: the work grows
// as nt and the accuracy below holds up to it (more than 10^6 people of each
// sex).
inline constexpr std::uint64_t kMaxXExactAlleles = 5'000'000;

// The p-values of x-exact and x-exact-midp, or nothing when the sample is not
// testable or nt is above kMaxXExactAlleles.
//
// Method: given nA the outcomes are the pairs (mA, fAB); for each mA the
// female part is the autosomal conditional distribution of the heterozygote
// count given the female allele count nA - mA, which is unimodal. For every
// male count the outcomes no more probable than the observed one are a run
// at each end of that row, found by binary search on the logarithm of the
// probability (tabled extended log-factorials) and summed by walking out of
// the run by exact ratios; a row whose most probable outcome lies below the
// observed one counts whole (nm!/(mA! mB!) x (2nf)!/(fA! fB!)). The rows are
// visited from the most probable male count outwards, and a walk or a run of
// rows stops when a geometric bound (the distributions are log-concave) puts
// the rest below 1e-18 of the sum so far.
//
// Accuracy: the log-probabilities carry at most about 20 roundings of the
// largest log-factorial, 1.1e-18 nt ln(nt) in all (4e-12 at 10^5 people of
// each sex, 9e-11 at nt = kMaxXExactAlleles); the walks add a few hundred
// roundings of 2^-53 and what they leave out is below 2.2e-18 times the
// number of rows visited, at most 1e-11 of the p-value. So both p-values are
// within a relative 1e-10 of the exact sums at every nt up to
// kMaxXExactAlleles, however small, down to the smallest normal long double,
// below which they come back as that number. Ties are decided on the same
// log-probabilities, far inside the 1e-7 that defines them.
struct XExactPValues {
    Extended pValue = 1, midP = 0.5;
};
std::optional<XExactPValues> xExactPValues(const XSampleCounts& counts);

// X2 and G over the five classes (see above), or nothing when the sample is
// not testable. Deviations o - e come from integer numerators in 128 bits,
// so they never cancel; each statistic is within a few roundings of 2^-64
// relative to its largest term.
std::optional<Extended> xPearsonX2(const XSampleCounts& counts);
std::optional<Extended> xLikelihoodRatioG(const XSampleCounts& counts);

// The 2-df chi-square upper tail, exp(-statistic / 2): 1 for a statistic of
// 0 or less, never below the smallest normal long double.
Extended chiSquare2UpperTail(Extended statistic);

// One X test on one sample: the statistic (X2 and G only) and the p-value,
// both nothing when the test does not apply (see xExactPValues).
struct XTestValue {
    std::optional<Extended> statistic;
    std::optional<Extended> pValue;
};
// The tests asked for, in their order; the exact p-values are computed once
// for both exact tests.
std::vector<XTestValue> testXSample(const XSampleCounts& counts, std::span<const XTest> tests);

// ---------------------------------------------------------------------------
// Exact power on X.

// The models that have an X-linked form: Hardy-Weinberg, inbreeding and
// genotyping error. The females follow the model as the autosomal genotype
// frequencies do (frequenciesOf of engine/ExactPower.h, at p and f or the
// miscall rates); the males carry A with probability pMale and are not
// affected by inbreeding or by the heterozygote miscalls.
bool hasXForm(GenotypeModel model);

// An X-linked model is a model setting on X: the females follow p, f and
// the miscall rates, the males pMale; the numbers of each sex are given apart
// (XSampleSize), so its `males` share is not read.
using XModelSetting = ModelSetting;

// The females' model in autosomal terms: the same setting, autosomal.
ModelSetting femaleSetting(const XModelSetting& setting);

struct XSampleSize {
    std::uint32_t females = 0, males = 0;
};

struct XTestLevel {
    XTest test = XTest::Exact;
    double level = 0.05;
};

// The exact power of every X test and level asked for (levels in
// [1e-300, 0.5]) at nf females and nm males (nf + nm at least 1), for a model
// with an X form; nothing is checked here.
//
// Method: the female genotype counts (multinomial) and the male count
// (binomial) are independent; the cells of each are kept where their
// probability is at least 5e-13 divided by their number (the females'
// (nf + 1)(nf + 2) / 2 triples, the males' nm + 1 counts), so the pairs left
// out hold below 1e-12 of the probability; massLeftOut reports 1 minus the
// mass kept. When the testable probability T is below 1/2 the cuts are
// lowered by 2T (down to 1e-270), so that the conditional power keeps its
// digits. Within a pair of male count and female allele count the female
// heterozygote count decides the test, and the rejected counts are a run at
// each end (the statistics are convex in it; the conditional probability of
// x-exact is unimodal), whose probabilities come from prefix sums of the
// female row. x-exact and its mid-p are decided per nA: the largest
// conditional probability whose p-value is at most the level is found by
// bisection over the rows' sorted tails of the null conditional distribution,
// so every outcome is decided as xExactPValues decides it (up to p-values
// within a relative 1e-9 of the level, which count as equal to it). X2 and
// G are decided by the statistics of xPearsonX2 and xLikelihoodRatioG
// against the 2-df critical value -2 ln(level).
//
// Error bound: every probability returned is within 3e-12 of the sum over
// all outcomes decided one by one (within a relative 3e-12 of it when
// T < 1/2), plus massLeftOut for the power.
//
// Cost: the pairs of male count and female row that hold mass grow as n, and
// so does the memory (16 bytes per kept female cell: about 6 MB at n 20000,
// 60 MB at n 200000). x-exact and its mid-p also make one null distribution
// per nA: about 0.25 s at n 2000 (half males) against 0.2 s for X2 and G at
// n 20000, on one core of a 2-core AMD EPYC virtual machine.
std::vector<ExactPower> xExactPower(const XModelSetting& setting, XSampleSize size,
                                    std::span<const XTestLevel> tests);

// The power of the autosomal tests applied to the females alone: exactPower
// at n = nf on the females' model (testable: both alleles among the
// females). With no females nothing is testable: testable and power 0,
// conditional power NaN.
std::vector<ExactPower> femaleOnlyPower(const XModelSetting& setting, XSampleSize size,
                                        std::span<const TestLevel> tests);

}  // namespace zyg
