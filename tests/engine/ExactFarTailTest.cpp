// The exact power engine against references of its own: p-values from the
// conditional distribution summed in long double from log-factorials, the
// chi-square tail from the extended erfc, and powers summed over every
// allele count with those decisions. They reach where the engine's shortcuts
// (ratio walks, pruning, double weights) are most likely to break: levels
// down to 1e-300, tiny probabilities of a testable sample, ties.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "engine/ExactPower.h"
#include "support/ModelSettings.h"

using namespace zyg;

using namespace zyg::testing;

namespace {

using Real = long double;

GenotypeCounts counts(int n11, int h, int n22) {
    return {static_cast<std::uint16_t>(n11), static_cast<std::uint16_t>(h),
            static_cast<std::uint16_t>(n22)};
}

// The conditional distribution of h given a under Hardy-Weinberg, straight
// from its definition 2^h / (n11! h! n22!), relative to its largest weight.
struct ReferenceRow {
    int n = 0, a = 0, lo = 0;
    std::vector<Real> w;
    std::vector<Real> sortedPrefix, sorted;  // weights ascending and their running sums
    std::vector<Real> fromLeft, fromRight;   // w[0] + ... + w[i], w[i] + ... + w[last]
    Real total = 0;
};

ReferenceRow referenceRow(int n, int a) {
    ReferenceRow r;
    r.n = n;
    r.a = a;
    const int m = 2 * n - a;
    r.lo = a % 2;
    std::vector<Real> lw;
    for (int h = r.lo; h <= std::min(a, m); h += 2)
        lw.push_back(h * std::log(2.0L) - std::lgamma((a - h) / 2 + 1.0L) - std::lgamma(h + 1.0L) -
                     std::lgamma((m - h) / 2 + 1.0L));
    const Real top = *std::max_element(lw.begin(), lw.end());
    for (Real v : lw) r.w.push_back(std::exp(v - top));
    r.sorted = r.w;
    std::sort(r.sorted.begin(), r.sorted.end());
    Real sum = 0;
    r.sortedPrefix.push_back(0);
    for (Real v : r.sorted) r.sortedPrefix.push_back(sum += v);
    r.total = sum;
    Real left = 0;
    for (Real v : r.w) r.fromLeft.push_back(left += v);
    r.fromRight.resize(r.w.size());
    Real right = 0;
    for (std::size_t i = r.w.size(); i-- > 0;) r.fromRight[i] = right += r.w[i];
    return r;
}

// Every exact-family p-value by its definition; ties within a relative 1e-7.
Real referencePValue(HweTest test, const ReferenceRow& r, int h) {
    const std::size_t i = static_cast<std::size_t>((h - r.lo) / 2);
    const Real wi = r.w[i];
    auto atMost = [&](Real x) {
        return r.sortedPrefix[static_cast<std::size_t>(
            std::upper_bound(r.sorted.begin(), r.sorted.end(), x) - r.sorted.begin())];
    };
    auto below = [&](Real x) {
        return r.sortedPrefix[static_cast<std::size_t>(
            std::lower_bound(r.sorted.begin(), r.sorted.end(), x) - r.sorted.begin())];
    };
    const Real left = r.fromLeft[i] / r.total;
    const Real right = r.fromRight[i] / r.total;
    const Real here = wi / r.total;
    const Real noMore = atMost(wi * (1 + 1e-7L)) / r.total;  // as probable or less
    const Real less = below(wi / (1 + 1e-7L)) / r.total;     // less probable
    switch (test) {
        case HweTest::Exact: return std::min<Real>(noMore, 1);
        case HweTest::ExactMidP: return (noMore + less) / 2;
        case HweTest::ExactDost: return std::min<Real>(1, 2 * std::min(left, right));
        case HweTest::ExactDeficit: return left;
        case HweTest::ExactExcess: return right;
        case HweTest::ExactDeficitMidP: return left - here / 2;
        case HweTest::ExactExcessMidP: return right - here / 2;
        default: break;
    }
    ADD_FAILURE() << "no reference for " << hweTestName(test);
    return -1;
}

bool exactFamily(HweTest t) { return t != HweTest::X2 && t != HweTest::G && t != HweTest::X2cc; }

// The p-value of a test on a sample by its definition: the exact family's
// from the conditional distribution, the chi-square tail of the statistic for
// X2, G and X2cc; nothing when it cannot be tested.
std::optional<Real> referencePValue(HweTest test, const GenotypeCounts& c,
                                    const ReferenceRow& row) {
    if (exactFamily(test)) {
        const int n = c.o11 + c.o12 + c.o22, a = 2 * c.o11 + c.o12;
        if (a == 0 || a == 2 * n) return std::nullopt;
        return referencePValue(test, row, c.o12);
    }
    const Real s = testStatistic(test, c);
    if (s == kNotComputable) return std::nullopt;
    return std::erfc(std::sqrt(s / 2));
}

// A p-value at most the level rejects (the exact family up to a relative
// 1e-9, as the engine documents).
bool referenceRejects(HweTest test, Real pValue, Real level) {
    return exactFamily(test) ? pValue <= level * (1 + 1e-9L) : pValue <= level;
}

// The multinomial probability of a triple under genotype probabilities pr.
Real multinomial(int n, int n11, int h, int n22, const Real pr[3]) {
    auto term = [](int k, Real p) {
        return k == 0 ? 0.0L : (p == 0 ? -INFINITY : k * std::log(p));
    };
    return std::exp(std::lgamma(n + 1.0L) - std::lgamma(n11 + 1.0L) - std::lgamma(h + 1.0L) -
                    std::lgamma(n22 + 1.0L) + term(n11, pr[0]) + term(h, pr[1]) + term(n22, pr[2]));
}

struct ReferencePower {
    Real testable = 0, rejected = 0;
};

// Power by the reference decisions, over every cell of probability above
// 1e-40 (the rest, at most 1e-40 times the number of cells, is left out).
std::vector<ReferencePower> referencePower(const ModelSetting& s, int n,
                                           const std::vector<TestLevel>& tests) {
    const GenotypeFrequencies f = frequenciesOf(s);
    const Real c1 = std::clamp<Real>(f.f11, 0, 1), c2 = std::clamp<Real>(f.f11 + f.f12, c1, 1);
    const Real pr[3] = {c1, c2 - c1, 1 - c2};
    std::vector<ReferencePower> out(tests.size());
    for (int a = 0; a <= 2 * n; ++a) {
        const int m = 2 * n - a;
        ReferenceRow row;
        bool rowMade = false;
        for (int h = a % 2; h <= std::min(a, m); h += 2) {
            const Real p = multinomial(n, (a - h) / 2, h, (m - h) / 2, pr);
            if (!(p > 1e-40L)) continue;
            if (!rowMade) {
                row = referenceRow(n, a);
                rowMade = true;
            }
            const GenotypeCounts c = counts((a - h) / 2, h, (m - h) / 2);
            std::optional<Real> pValue;
            for (std::size_t i = 0; i < tests.size(); ++i) {
                if (i == 0 || tests[i].test != tests[i - 1].test)
                    pValue = referencePValue(tests[i].test, c, row);
                if (!pValue) continue;
                out[i].testable += p;
                if (referenceRejects(tests[i].test, *pValue, tests[i].level)) out[i].rejected += p;
            }
        }
    }
    return out;
}

std::string what(const TestLevel& t) {
    return std::string(hweTestName(t.test)) + " at " + std::to_string(t.level);
}

constexpr HweTest kChiSquareTests[] = {HweTest::X2, HweTest::G, HweTest::X2cc};
constexpr HweTest kExactTests[] = {
    HweTest::Exact,       HweTest::ExactMidP,        HweTest::ExactDost,      HweTest::ExactDeficit,
    HweTest::ExactExcess, HweTest::ExactDeficitMidP, HweTest::ExactExcessMidP};

}  // namespace

TEST(FarTail, CriticalValuesInvertTheChiSquareTailDownTo1e300) {
    for (double level : {0.5, 0.3, 0.1, 0.001, 1e-10, 1e-50, 1e-99, 1e-100, 1e-101, 1e-150, 1e-200,
                         1e-250, 1e-299, 1e-300}) {
        const Extended c = criticalValue(level);
        ASSERT_TRUE(std::isfinite(c) && c > 0) << level;
        EXPECT_NEAR(static_cast<double>(chiSquareUpperTail(c) / level), 1.0, 1e-15) << level;
    }
    // The 1-df quantiles at 1e-100 and 1e-300 to 20 digits, from a
    // 50-digit bisection on erfc done by hand.
    EXPECT_NEAR(static_cast<double>(criticalValue(1e-100) / 453.94308223879897013L), 1, 1e-16);
    EXPECT_NEAR(static_cast<double>(criticalValue(1e-300) / 1373.8726312223941371L), 1, 1e-16);
    // The tail itself never becomes 0 or NaN in that range.
    EXPECT_GT(chiSquareUpperTail(1400), 0);
    EXPECT_EQ(chiSquareUpperTail(0), 1);
}

TEST(FarTail, EveryTestAgreesWithTheReferenceFromLevel1e300To05) {
    // At n 2000 and f 0.83 X2 lies near the critical value of 1e-300 (about
    // 1370) and exact p-values reach far below it: every level decides.
    const ModelSetting model = inbreeding(0.5, 0.83);
    const int n = 2000;
    // Grouped by test, so that the reference computes each p-value once.
    std::vector<TestLevel> tests;
    std::vector<HweTest> all(std::begin(kChiSquareTests), std::end(kChiSquareTests));
    all.insert(all.end(), std::begin(kExactTests), std::end(kExactTests));
    for (HweTest t : all)
        for (double level : {1e-300, 1e-250, 1e-200, 1e-150, 1e-100, 1e-60, 1e-20, 1e-5, 0.05, 0.5})
            tests.push_back({t, level});
    const auto got = exactPower(model, n, tests);
    const auto want = referencePower(model, n, tests);
    bool somewhereBetween = false;
    for (std::size_t i = 0; i < tests.size(); ++i) {
        EXPECT_NEAR(got[i].testable, static_cast<double>(want[i].testable), 1e-9) << what(tests[i]);
        EXPECT_NEAR(got[i].power, static_cast<double>(want[i].rejected), 1e-9) << what(tests[i]);
        if (tests[i].level == 1e-300 && got[i].power > 0.01 && got[i].power < 0.99)
            somewhereBetween = true;
    }
    EXPECT_TRUE(somewhereBetween) << "no test decides anything at 1e-300";
}

TEST(FarTail, ExactTestsAtTinyLevelsDecideEveryCountAsItsPValue) {
    // Rows whose smallest p-values lie far below 1e-300 (a = n = 1500: about
    // 1e-450) and rows that are all small counts.
    for (const auto& [n, a] : {std::pair{1500, 1500}, {1500, 40}, {1500, 2999}, {700, 700}}) {
        const ReferenceRow row = referenceRow(n, a);
        for (double level : {1e-300, 1e-290, 1e-200, 1e-30})
            for (HweTest t : kExactTests) {
                const auto bounds = exactRejection(t, n, a, level);
                ASSERT_TRUE(bounds);
                for (int h = a % 2; h <= std::min(a, 2 * n - a); h += 2) {
                    const bool want = referencePValue(t, row, h) <= level * (1 + 1e-9L);
                    EXPECT_EQ(h <= bounds->low || h >= bounds->high, want)
                        << hweTestName(t) << " n " << n << " a " << a << " h " << h << " level "
                        << level;
                }
            }
    }
}

TEST(FarTail, PValuesBelowTheRangeOfDoublesAreNeverZero) {
    // 5000 A1A1 and 5000 A2A2: P(H = 0 | a = 10000) is about 1e-3000.
    const auto p = exactTestPValue(counts(5000, 0, 5000));
    ASSERT_TRUE(p);
    EXPECT_GT(*p, 0);
    const Real want = referencePValue(HweTest::Exact, referenceRow(10000, 10000), 0);
    EXPECT_NEAR(static_cast<double>(std::log(*p) / std::log(want)), 1.0, 1e-12);
    EXPECT_EQ(rejects(HweTest::Exact, counts(5000, 0, 5000), 1e-300), std::optional<bool>(true));
    // X2 = 10000 there, far beyond every critical value.
    EXPECT_EQ(rejects(HweTest::X2, counts(5000, 0, 5000), 1e-300), std::optional<bool>(true));
}

TEST(X2cc, TheCorrectionNeverIncreasesATerm) {
    // Every table up to n 40: the corrected terms by their definition, each
    // at most the uncorrected one, and their sum is the engine's statistic.
    for (int n = 1; n <= 40; ++n)
        for (int n11 = 0; n11 <= n; ++n11)
            for (int h = 0; n11 + h <= n; ++h) {
                const int n22 = n - n11 - h;
                const GenotypeCounts c = counts(n11, h, n22);
                const Real p = (n11 + h / 2.0L) / n, q = 1 - p;
                const Real o[3] = {Real(n11), Real(h), Real(n22)};
                const Real e[3] = {p * p * n, 2 * p * q * n, q * q * n};
                if (!(e[0] > 0 && e[1] > 0 && e[2] > 0)) {
                    EXPECT_EQ(testStatistic(HweTest::X2cc, c), kNotComputable);
                    continue;
                }
                Real sum = 0;
                for (int k = 0; k < 3; ++k) {
                    const Real d = std::fabs(o[k] - e[k]);
                    const Real corrected = std::max<Real>(0, d - 0.5L);
                    EXPECT_LE(corrected * corrected / e[k], d * d / e[k]);
                    sum += corrected * corrected / e[k];
                }
                EXPECT_NEAR(static_cast<double>(testStatistic(HweTest::X2cc, c)),
                            static_cast<double>(sum), 1e-12 * static_cast<double>(sum) + 1e-15)
                    << n11 << " " << h << " " << n22;
                EXPECT_LE(testStatistic(HweTest::X2cc, c),
                          testStatistic(HweTest::X2, c) * (1 + 1e-15L));
            }
    // The most Hardy-Weinberg-like sample of a rare allele: every count within
    // 0.5 of its expectation, so X2cc is 0 and nothing rejects it.
    EXPECT_EQ(testStatistic(HweTest::X2cc, counts(0, 1, 99)), 0);
    EXPECT_EQ(rejects(HweTest::X2cc, counts(0, 1, 99), 0.5), std::optional<bool>(false));
}

TEST(X2cc, SizeUnderHardyWeinbergStaysAtOrBelowTheLevelForRareAlleles) {
    const std::vector<TestLevel> tests{{HweTest::X2cc, 0.05}, {HweTest::X2cc, 0.01}};
    for (const auto& [p, n] :
         {std::pair{0.01, 200u}, {0.1, 5u}, {0.05, 30u}, {0.02, 100u}, {0.01, 1000u}, {0.2, 20u}}) {
        const auto e = exactPower(hw(p), n, tests);
        EXPECT_LE(e[0].conditionalPower, 0.05) << p << " " << n;
        EXPECT_LE(e[1].conditionalPower, 0.01) << p << " " << n;
    }
}

TEST(ConditionalPower, KeepsItsDigitsWhenATestableSampleIsRare) {
    // G needs all three genotypes; with a nearly lethal A1A1 a testable
    // sample has probability 1e-8 to 1e-6, and the conditional power must
    // still hold its digits (pruning at an absolute 1e-12 lost all of them).
    std::vector<TestLevel> tests;
    for (HweTest t : kChiSquareTests) tests.push_back({t, 0.05});
    for (HweTest t : kExactTests) tests.push_back({t, 0.05});
    // Strong overdominance puts nearly all of a group on the counts without
    // a homozygote, and near-complete inbreeding on those without
    // heterozygotes, which G cannot test.
    for (const ModelSetting& s :
         {selection(0.01, 0.0001, 1, 1), selection(0.01, 0.001, 1, 1),
          selection(0.02, 0.01, 0.01, 1), hw(0.01), selection(0.5, 1e-6, 1, 1e-6),
          selection(0.3, 1e-5, 1, 1e-4), inbreeding(0.5, 0.999999), inbreeding(0.2, 1 - 1e-9)})
        for (int n : {5, 8, 12, 20}) {
            const auto got = exactPower(s, static_cast<std::uint32_t>(n), tests);
            const auto want = referencePower(s, n, tests);
            for (std::size_t i = 0; i < tests.size(); ++i) {
                if (want[i].testable == 0) continue;
                const Real ratio = want[i].rejected / want[i].testable;
                EXPECT_NEAR(got[i].testable / static_cast<double>(want[i].testable), 1, 1e-10)
                    << what(tests[i]) << " n " << n;
                EXPECT_NEAR(got[i].conditionalPower, static_cast<double>(ratio),
                            1e-10 * static_cast<double>(ratio) + 1e-11)
                    << what(tests[i]) << " n " << n << " w11 " << s.w11 << " testable "
                    << static_cast<double>(want[i].testable);
            }
        }
}

TEST(ExactFamily, EveryPValueEqualsTheConditionalDistributionOnEveryTableUpTo30) {
    for (int n = 1; n <= 30; ++n)
        for (int a = 1; a < 2 * n; ++a) {
            const ReferenceRow row = referenceRow(n, a);
            const int m = 2 * n - a;
            for (int h = a % 2; h <= std::min(a, m); h += 2) {
                const GenotypeCounts c = counts((a - h) / 2, h, (m - h) / 2);
                Real got[std::size(kExactTests)];
                for (std::size_t k = 0; k < std::size(kExactTests); ++k) {
                    const HweTest t = kExactTests[k];
                    const auto p = exactPValue(t, c);
                    ASSERT_TRUE(p);
                    got[k] = *p;
                    const Real want = referencePValue(t, row, h);
                    EXPECT_NEAR(static_cast<double>(*p), static_cast<double>(want),
                                1e-13 * static_cast<double>(want))
                        << hweTestName(t) << " " << c.o11 << " " << h << " " << c.o22;
                }
                const Real exact = got[0], midp = got[1], deficit = got[3], excess = got[4],
                           deficitMidp = got[5], excessMidp = got[6];
                const Real here = row.w[static_cast<std::size_t>((h - row.lo) / 2)] / row.total;
                // The one-sided p-values overlap in h itself.
                EXPECT_NEAR(static_cast<double>(deficit + excess), static_cast<double>(1 + here),
                            1e-14);
                EXPECT_NEAR(static_cast<double>(deficitMidp + excessMidp), 1, 1e-14);
                EXPECT_LT(midp, exact);
                EXPECT_LT(deficitMidp, deficit);
                EXPECT_LT(excessMidp, excess);
            }
        }
}

TEST(ExactFamily, TiesAndSingleCountRowsByHand) {
    // n 6 with 4 copies of A1: weights 1/48, 1/3, 1/3 at h 0, 2, 4 (total
    // 33/48), so h 2 and 4 are tied.
    EXPECT_NEAR(static_cast<double>(*exactPValue(HweTest::Exact, counts(1, 2, 3))), 1, 1e-15);
    EXPECT_NEAR(static_cast<double>(*exactPValue(HweTest::ExactMidP, counts(1, 2, 3))), 17.0 / 33,
                1e-15);
    EXPECT_NEAR(static_cast<double>(*exactPValue(HweTest::ExactMidP, counts(0, 4, 2))), 17.0 / 33,
                1e-15);
    EXPECT_NEAR(static_cast<double>(*exactPValue(HweTest::ExactMidP, counts(2, 0, 4))), 0.5 / 33,
                1e-15);
    EXPECT_NEAR(static_cast<double>(*exactPValue(HweTest::ExactDeficit, counts(1, 2, 3))),
                17.0 / 33, 1e-15);
    EXPECT_NEAR(static_cast<double>(*exactPValue(HweTest::ExactDost, counts(2, 0, 4))), 2.0 / 33,
                1e-15);
    // One heterozygote and nothing else possible (n 1, a 1): mid-p 0.5, the
    // others 1; mid-p rejects it at 0.5 and not below.
    for (HweTest t : kExactTests)
        EXPECT_NEAR(static_cast<double>(*exactPValue(t, counts(0, 1, 0))),
                    t == HweTest::ExactMidP || t == HweTest::ExactDeficitMidP ||
                            t == HweTest::ExactExcessMidP
                        ? 0.5
                        : 1.0,
                    1e-15)
            << hweTestName(t);
    EXPECT_EQ(rejects(HweTest::ExactMidP, counts(0, 1, 0), 0.5), std::optional<bool>(true));
    EXPECT_EQ(rejects(HweTest::ExactMidP, counts(0, 1, 0), 0.4999), std::optional<bool>(false));
    const auto bounds = exactRejection(HweTest::ExactMidP, 1, 1, 0.5);
    ASSERT_TRUE(bounds);
    EXPECT_TRUE(1 <= bounds->low || 1 >= bounds->high);
    // Not testable without both alleles; not an exact-family test.
    EXPECT_FALSE(exactPValue(HweTest::ExactDost, counts(3, 0, 0)));
    EXPECT_FALSE(exactPValue(HweTest::X2, counts(3, 2, 1)));
    EXPECT_FALSE(exactRejection(HweTest::G, 10, 5, 0.05));
    // Beyond the window's 16-bit sample sizes nothing is computed.
    EXPECT_FALSE(exactPValue(HweTest::Exact, counts(30000, 10000, 30000)));
    EXPECT_FALSE(exactRejection(HweTest::Exact, 70000, 70000, 0.05));
}

TEST(ExactFamily, OneSidedTestsRejectOnTheirOwnSideOnly) {
    for (double level : {0.5, 0.05, 1e-6}) {
        const auto deficit = exactRejection(HweTest::ExactDeficit, 200, 200, level);
        const auto excess = exactRejection(HweTest::ExactExcessMidP, 200, 200, level);
        ASSERT_TRUE(deficit && excess);
        EXPECT_EQ(deficit->high, std::numeric_limits<int>::max());
        EXPECT_LT(deficit->low, 100);  // below the expected 100 heterozygotes
        EXPECT_EQ(excess->low, -1);
        EXPECT_GT(excess->high, 100);
    }
}
