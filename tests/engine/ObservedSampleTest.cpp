#include <gtest/gtest.h>
#include <quadmath.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/ExactPower.h"
#include "engine/ObservedSample.h"

namespace zyg {
namespace {

// The p-values from the whole conditional distribution, each weight
// 2^k / (AA! k! BB!) from its own factorials in long double: an enumeration
// that shares nothing with the walk from the observed count.
struct Reference {
    long double exact, midP, deficit, excess, deficitMidP, excessMidP, dost, atH;
};

Reference enumerate(std::uint64_t aa, std::uint64_t ab, std::uint64_t bb) {
    const std::uint64_t n = aa + ab + bb, a = 2 * aa + ab;
    std::vector<long double> factorial(2 * n + 2, 1);
    for (std::size_t i = 1; i < factorial.size(); ++i) factorial[i] = factorial[i - 1] * i;
    std::vector<std::pair<std::uint64_t, long double>> w;
    for (std::uint64_t k = a % 2; k <= std::min(a, 2 * n - a); k += 2)
        w.push_back(
            {k, std::ldexp(1.0L, static_cast<int>(k)) /
                    (factorial[(a - k) / 2] * factorial[k] * factorial[(2 * n - a - k) / 2])});
    long double total = 0, observed = 0;
    for (auto [k, v] : w) {
        total += v;
        if (k == ab) observed = v;
    }
    long double atMost = 0, tied = 0, le = 0, ge = 0;
    for (auto [k, v] : w) {
        if (v <= observed * (1 + 1e-7L)) atMost += v;
        if (v <= observed * (1 + 1e-7L) && v >= observed * (1 - 1e-7L)) tied += v;
        if (k <= ab) le += v;
        if (k >= ab) ge += v;
    }
    Reference r;
    r.exact = atMost / total;
    r.midP = (atMost - tied / 2) / total;
    r.deficit = le / total;
    r.excess = ge / total;
    r.atH = observed / total;
    r.deficitMidP = r.deficit - r.atH / 2;
    r.excessMidP = r.excess - r.atH / 2;
    r.dost = std::min(1.0L, 2 * std::min(r.deficit, r.excess));
    return r;
}

void expectClose(double value, long double reference, double relative, const char* what,
                 const SampleCounts& c) {
    const long double tolerance = relative * std::fabs(reference) + 1e-300L;
    EXPECT_LE(std::fabs(value - reference), tolerance)
        << what << " of " << c.aa << "/" << c.ab << "/" << c.bb << ": " << value << " against "
        << static_cast<double>(reference);
}

TEST(ExactPValues, EqualTheWholeDistributionOnEveryTableUpTo60) {
    int tables = 0, singleCount = 0, ties = 0;
    for (std::uint64_t n = 1; n <= 60; ++n)
        for (std::uint64_t aa = 0; aa <= n; ++aa)
            for (std::uint64_t ab = 0; aa + ab <= n; ++ab) {
                const SampleCounts c{aa, ab, n - aa - ab};
                const auto p = exactPValues(c);
                const std::uint64_t a = 2 * aa + ab;
                if (a == 0 || a == 2 * n) {
                    EXPECT_FALSE(p) << aa << "/" << ab;
                    continue;
                }
                ASSERT_TRUE(p);
                const Reference r = enumerate(c.aa, c.ab, c.bb);
                expectClose(p->twoSided, r.exact, 1e-12, "exact", c);
                expectClose(p->midP, r.midP, 1e-12, "mid-p", c);
                expectClose(p->deficit, r.deficit, 1e-12, "deficit", c);
                expectClose(p->excess, r.excess, 1e-12, "excess", c);
                expectClose(p->deficitMidP, r.deficitMidP, 1e-12, "deficit mid-p", c);
                expectClose(p->excessMidP, r.excessMidP, 1e-12, "excess mid-p", c);
                expectClose(p->dost, r.dost, 1e-12, "dost", c);
                // The one-sided tails overlap in h alone; mid-p never exceeds p.
                EXPECT_NEAR(p->deficit + p->excess, 1 + r.atH, 1e-14);
                EXPECT_NEAR(p->deficitMidP + p->excessMidP, 1, 1e-14);
                EXPECT_LT(p->midP, p->twoSided);
                if (std::min(a, 2 * n - a) < 2) {
                    ++singleCount;
                    EXPECT_EQ(p->midP, 0.5);
                    EXPECT_EQ(p->twoSided, 1);
                }
                if (r.exact - r.atH > 0 && r.midP < r.exact - r.atH / 2 - 1e-15) ++ties;
                ++tables;
            }
    EXPECT_GT(tables, 35000);
    EXPECT_GT(singleCount, 60);  // a single A1 or A2: one possible heterozygote count
}

TEST(ExactPValues, CountEqualWeightsAsTies) {
    // n = 6 with 4 copies of A1: the weights 2^k / (AA! k! BB!) are 1/48,
    // 1/3 and 1/3 for k = 0, 2, 4, so h = 2 and h = 4 are equally probable
    // and mid-p halves both: (1/48 + 2/3 / 2) / (33/48) = 17/33.
    for (const SampleCounts& c : {SampleCounts{1, 2, 3}, SampleCounts{0, 4, 2}}) {
        const auto p = exactPValues(c);
        ASSERT_TRUE(p);
        EXPECT_DOUBLE_EQ(p->twoSided, 1);
        EXPECT_DOUBLE_EQ(p->midP, 17.0 / 33);
    }
    EXPECT_DOUBLE_EQ(exactPValues({1, 2, 3})->excess, 32.0 / 33);
    EXPECT_DOUBLE_EQ(exactPValues({1, 2, 3})->deficitMidP, 17.0 / 33 - 8.0 / 33);
    // One possible heterozygote count: a single copy of A2.
    const auto single = exactPValues({40, 1, 0});
    EXPECT_EQ(single->midP, 0.5);
    EXPECT_EQ(single->twoSided, 1);
    EXPECT_EQ(single->deficitMidP, 0.5);
}

using Quad = __float128;
const Quad kQuadInfinity = static_cast<Quad>(std::numeric_limits<double>::infinity());

// log P(H = k) of the conditional distribution in quadruple precision, the
// normalising sum over every count of the support.
struct QuadDistribution {
    std::uint64_t n, a;
    std::vector<Quad> logWeight;  // by k / 2 from a % 2
    Quad logTotal;

    QuadDistribution(std::uint64_t n_, std::uint64_t a_) : n(n_), a(a_) {
        const std::uint64_t last = std::min(a, 2 * n - a);
        Quad top = -kQuadInfinity;
        for (std::uint64_t k = a % 2; k <= last; k += 2) {
            const Quad w = k * logq(Quad(2)) - lgammaq((a - k) / 2 + Quad(1)) -
                           lgammaq(k + Quad(1)) - lgammaq((2 * n - a - k) / 2 + Quad(1));
            logWeight.push_back(w);
            if (w > top) top = w;
        }
        Quad sum = 0;
        for (Quad w : logWeight) sum += expq(w - top);
        logTotal = top + logq(sum);
    }
    Quad weight(std::uint64_t k) const { return logWeight[(k - a % 2) / 2]; }
    // log of the sum of P(H = k) over the counts k that `take` accepts.
    template <class Take>
    Quad logSum(Take take) const {
        Quad top = -kQuadInfinity;
        for (std::size_t i = 0; i < logWeight.size(); ++i)
            if (take(a % 2 + 2 * i, logWeight[i]) && logWeight[i] > top) top = logWeight[i];
        Quad sum = 0;
        for (std::size_t i = 0; i < logWeight.size(); ++i)
            if (take(a % 2 + 2 * i, logWeight[i])) sum += expq(logWeight[i] - top);
        return top + logq(sum) - logTotal;
    }
};

// A p-value against its logarithm: within `relative` from 1e-300 up, as
// close as a subnormal double can be below that, and 0 only when it rounds
// to 0.
void expectLogClose(double value, Quad logReference, double relative, const char* what,
                    const SampleCounts& c) {
    const long double reference = expl(static_cast<long double>(logReference));
    const std::string sample =
        std::to_string(c.aa) + "/" + std::to_string(c.ab) + "/" + std::to_string(c.bb) + " " + what;
    ASSERT_FALSE(std::isnan(value)) << sample;
    if (reference >= 1e-300L) {
        EXPECT_LE(std::fabs(value / reference - 1), relative)
            << sample << ": " << value << " against " << static_cast<double>(reference);
    } else {
        // Below the normal range the double holds the reference rounded.
        EXPECT_LE(std::fabs(value - static_cast<double>(reference)),
                  std::numeric_limits<double>::denorm_min() + 1e-6 * static_cast<double>(reference))
            << sample;
    }
}

TEST(ExactPValues, HoldTheirRelativeAccuracyInTheFarTails) {
    // A balanced sample of 2000 with fewer and fewer heterozygotes: the
    // p-values fall through 1e-300 into the subnormal range and below it.
    int belowRange = 0, subnormal = 0, far = 0;
    const QuadDistribution d(2000, 2000);
    for (std::uint64_t ab = 0; ab <= 700; ab += 2) {
        const std::uint64_t aa = (2000 - ab) / 2;
        const SampleCounts c{aa, ab, aa};
        const auto p = exactPValues(c);
        ASSERT_TRUE(p);
        const Quad wh = d.weight(ab);
        const Quad logDeficit = d.logSum([&](std::uint64_t k, Quad) { return k <= ab; });
        const Quad logExact =
            d.logSum([&](std::uint64_t, Quad w) { return w <= wh + logq(1 + Quad(1e-7L)); });
        expectLogClose(p->deficit, logDeficit, 1e-11, "deficit", c);
        expectLogClose(p->twoSided, logExact, 1e-11, "exact", c);
        expectLogClose(p->dost, logDeficit + logq(Quad(2)), 1e-11, "dost", c);
        const long double deficit = expl(static_cast<long double>(logDeficit));
        if (deficit < std::numeric_limits<double>::denorm_min() / 2.0L) {
            EXPECT_EQ(p->deficit, 0);
            ++belowRange;
        } else if (deficit < std::numeric_limits<double>::min()) {
            EXPECT_GT(p->deficit, 0);
            ++subnormal;
        } else if (deficit < 1e-250L) {
            ++far;
        }
        EXPECT_EQ(p->excess, 1);
    }
    EXPECT_GT(belowRange, 0);
    EXPECT_GT(subnormal, 0);
    EXPECT_GT(far, 0);
}

TEST(ExactPValues, AgreeWithQuadruplePrecisionForLargeSamples) {
    // n from 10^6 to 10^9 with 2 10^5 copies of the rarer allele: the
    // reference sums all 10^5 counts of the support in quadruple precision
    // from lgammaq, far more than a walk visits.
    const SampleCounts samples[] = {
        {10000, 180000, 810000},            // n = 10^6, p = 0.1, near the expectation
        {10500, 179000, 810500},            // a deficit of heterozygotes
        {10, 199980, 999800010},            // n = 10^9, p = 10^-4
        {200, 199600, 999800200},           // too few heterozygotes
        {0, 200000, 999800000},             // none of the rare homozygotes
        {249990000, 500030000, 249980000},  // balanced: too wide to enumerate
    };
    for (const SampleCounts& c : samples) {
        const std::uint64_t n = c.aa + c.ab + c.bb, a = 2 * c.aa + c.ab;
        if (std::min(a, 2 * n - a) > 1200000) {
            // Too wide to enumerate: check the relations between the tails.
            const auto p = exactPValues(c);
            ASSERT_TRUE(p);
            EXPECT_GT(p->deficit + p->excess, 1);
            EXPECT_NEAR(p->deficitMidP + p->excessMidP, 1, 1e-12);
            EXPECT_LT(p->midP, p->twoSided);
            continue;
        }
        const QuadDistribution d(n, a);
        const auto p = exactPValues(c);
        ASSERT_TRUE(p);
        const Quad wh = d.weight(c.ab);
        expectLogClose(p->deficit, d.logSum([&](std::uint64_t k, Quad) { return k <= c.ab; }),
                       1e-11, "deficit", c);
        expectLogClose(p->excess, d.logSum([&](std::uint64_t k, Quad) { return k >= c.ab; }), 1e-11,
                       "excess", c);
        expectLogClose(p->twoSided, d.logSum([&](std::uint64_t, Quad w) {
            return w <= wh + logq(1 + Quad(1e-7L));
        }),
                       1e-11, "exact", c);
    }
}

TEST(ExactPValues, StayFinitePastTheLongDoubleRangeOfTheWalk) {
    // No heterozygote in 10^9 diploids with both alleles common: P(H = 0)
    // lies far below e^-800; every tail made of such counts is 0 and the other
    // one 1, never NaN.
    const auto p = exactPValues({500000000, 0, 500000000});
    ASSERT_TRUE(p);
    EXPECT_EQ(p->twoSided, 0);
    EXPECT_EQ(p->deficit, 0);
    EXPECT_EQ(p->excess, 1);
    EXPECT_EQ(p->excessMidP, 1);
    const auto all = exactPValues({0, 1000000000, 0});
    ASSERT_TRUE(all);
    EXPECT_EQ(all->twoSided, 0);
    EXPECT_EQ(all->deficit, 1);
    EXPECT_EQ(all->excess, 0);
}

// X2, G and the corrected X2 as their definitions write them, in long double.
struct Statistics {
    long double x2, g, x2cc;
};
Statistics direct(const SampleCounts& c) {
    const long double n = c.aa + c.ab + c.bb;
    const long double p = (2.0L * c.aa + c.ab) / (2 * n), q = 1 - p;
    const long double o[3] = {static_cast<long double>(c.aa), static_cast<long double>(c.ab),
                              static_cast<long double>(c.bb)};
    const long double e[3] = {n * p * p, 2 * n * p * q, n * q * q};
    Statistics s{0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        s.x2 += (o[i] - e[i]) * (o[i] - e[i]) / e[i];
        if (o[i] > 0) s.g += 2 * o[i] * std::log(o[i] / e[i]);
        const long double d = std::max(0.0L, std::fabs(o[i] - e[i]) - 0.5L);
        s.x2cc += d * d / e[i];
    }
    return s;
}

TEST(SampleStatistics, FollowTheirDefinitions) {
    const std::vector<HweTest> tests = {HweTest::X2, HweTest::G, HweTest::X2cc};
    for (std::uint64_t n = 2; n <= 40; ++n)
        for (std::uint64_t aa = 0; aa <= n; ++aa)
            for (std::uint64_t ab = 0; aa + ab <= n; ++ab) {
                const SampleCounts c{aa, ab, n - aa - ab};
                const auto v = testSample(c, tests);
                if (2 * aa + ab == 0 || 2 * aa + ab == 2 * n) {
                    for (const auto& t : v) EXPECT_FALSE(t.statistic || t.pValue);
                    continue;
                }
                const Statistics s = direct(c);
                EXPECT_NEAR(*v[0].statistic, s.x2, 1e-12 * (1 + s.x2));
                EXPECT_NEAR(*v[1].statistic, s.g, 1e-12 * (1 + s.g));
                EXPECT_NEAR(*v[2].statistic, s.x2cc, 1e-12 * (1 + s.x2cc));
                EXPECT_LE(*v[2].statistic, *v[0].statistic);  // the correction never adds
                EXPECT_NEAR(*v[0].pValue, std::erfc(std::sqrt(s.x2 / 2)), 1e-13);
            }
}

TEST(SampleStatistics, KnownSamples) {
    // 21/61/18: p = 0.515, expected 26.5225/49.955/23.5225, F = -0.2211.
    const SampleSummary s = summarizeSample({21, 61, 18});
    EXPECT_EQ(s.n, 100u);
    EXPECT_DOUBLE_EQ(s.p, 0.515);
    EXPECT_DOUBLE_EQ(s.expectedAA, 26.5225);
    EXPECT_DOUBLE_EQ(s.expectedAB, 49.955);
    EXPECT_NEAR(*s.f, 1 - 61 / 49.955, 1e-15);
    // A zero count still has a G (0 ln 0 = 0); a monomorphic sample has no F.
    const HweTest g[] = {HweTest::G};
    EXPECT_TRUE(testSample({0, 30, 70}, g)[0].pValue);
    EXPECT_FALSE(summarizeSample({0, 0, 70}).f);
    EXPECT_FALSE(summarizeSample({0, 0, 70}).polymorphic);
    EXPECT_EQ(summarizeSample({0, 0, 70}).p, 0);
}

TEST(ChiSquareUpperTail, FollowsTheAsymptoticSeriesIntoSubnormals) {
    // erfc(z) = e^-z^2 / (z sqrt(pi)) (1 - 1/(2z^2) + 3/(4z^4) - 15/(8z^6)
    // + 105/(16z^8) - ...), to 1e-13 for z above 19.
    for (double x = 800; x <= 1500; x += 7.25) {
        const Quad z = sqrtq(Quad(x) / 2), z2 = z * z;
        const Quad series = 1 - 1 / (2 * z2) + 3 / (4 * z2 * z2) - 15 / (8 * z2 * z2 * z2) +
                            105 / (16 * z2 * z2 * z2 * z2) - 945 / (32 * z2 * z2 * z2 * z2 * z2);
        const Quad logTail = -z2 - logq(z * sqrtq(4 * atanq(Quad(1)))) + logq(series);
        expectLogClose(chiSquareUpperTail(x), logTail, 1e-13, "chi-square", {0, 0, 0});
    }
    // Either side of the change from double to extended erfc.
    for (long double x : {0.5L, 3.84L, 20.0L, 49.99L, 50.0L, 50.01L, 120.0L, 700.0L}) {
        const long double reference = std::erfc(std::sqrt(x / 2));
        EXPECT_LE(std::fabs(chiSquareUpperTail(x) / reference - 1), 1e-14L)
            << static_cast<double>(x);
    }
    EXPECT_EQ(chiSquareUpperTail(0), 1);
    EXPECT_EQ(chiSquareUpperTail(-1), 1);
    EXPECT_EQ(chiSquareUpperTail(1e6), 0);
    EXPECT_NEAR(chiSquareUpperTail(3.841458820694124), 0.05, 1e-15);
}

TEST(ObservedSample, RefuseCountsOutsideTheirRange) {
    EXPECT_THROW(summarizeSample({0, 0, 0}), std::invalid_argument);
    EXPECT_THROW(exactPValues({kMaxSampleGenotypeCount + 1, 1, 1}), std::invalid_argument);
    EXPECT_NO_THROW(
        exactPValues({kMaxSampleGenotypeCount, kMaxSampleGenotypeCount, kMaxSampleGenotypeCount}));
}

}  // namespace
}  // namespace zyg
