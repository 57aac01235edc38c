#include <gtest/gtest.h>
#include <quadmath.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/ObservedSample.h"
#include "engine/XLinked.h"

namespace zyg {
namespace {

using Quad = __float128;

// The exact p-value and mid-p from every outcome with the observed nA, each
// weight nm!/(mA! mB!) nf!/(fAA! fAB! fBB!) 2^fAB in 113-bit arithmetic from
// its own factorials (exact integers for the small samples), ties decided
// on those weights. Shares nothing with the engine's walk.
struct Reference {
    Quad p, midP;
};

Reference enumerate(const XSampleCounts& c) {
    const std::uint64_t nm = c.a + c.b, nf = c.aa + c.ab + c.bb, nA = c.a + 2 * c.aa + c.ab;
    std::vector<Quad> factorial(nm + 2 * nf + 2, 1);
    for (std::size_t i = 1; i < factorial.size(); ++i) factorial[i] = factorial[i - 1] * i;
    auto weight = [&](std::uint64_t m, std::uint64_t h) {
        const std::uint64_t af = nA - m, bf = 2 * nf - af;
        return factorial[nm] / (factorial[m] * factorial[nm - m]) * factorial[nf] /
               (factorial[(af - h) / 2] * factorial[h] * factorial[(bf - h) / 2]) *
               ldexpq(1, static_cast<int>(h));
    };
    const Quad observed = weight(c.a, c.ab);
    Quad total = 0, atMost = 0, tied = 0;
    for (std::uint64_t m = 0; m <= std::min(nm, nA); ++m) {
        if (nA - m > 2 * nf) continue;
        const std::uint64_t af = nA - m, bf = 2 * nf - af;
        for (std::uint64_t h = af % 2; h <= std::min(af, bf); h += 2) {
            const Quad w = weight(m, h);
            total += w;
            if (w <= observed * (1 + static_cast<Quad>(1e-7L))) {
                atMost += w;
                if (w >= observed * (1 - static_cast<Quad>(1e-7L))) tied += w;
            }
        }
    }
    return {atMost / total, (atMost - tied / 2) / total};
}

void expectNear(Extended value, Quad reference, double relative, const char* what,
                const XSampleCounts& c) {
    const Quad error = fabsq(static_cast<Quad>(value) - reference);
    EXPECT_LE(static_cast<double>(error / reference), relative)
        << what << " of females " << c.aa << " " << c.ab << " " << c.bb << " males " << c.a << " "
        << c.b << ": " << static_cast<double>(value) << " against "
        << static_cast<double>(reference);
}

void expectMatchesEnumeration(const XSampleCounts& c, double relative) {
    const auto p = xExactPValues(c);
    ASSERT_TRUE(p);
    const Reference r = enumerate(c);
    expectNear(p->pValue, r.p, relative, "p-value", c);
    expectNear(p->midP, r.midP, relative, "mid-p", c);
    EXPECT_LT(p->midP, p->pValue);
    EXPECT_GE(p->midP, p->pValue / 2 * (1 - 1e-12L));
}

// Every table of up to 9 females and 9 males, ties included (symmetric
// counts tie exactly).
TEST(XExact, EveryTableOfSmallSamplesMatchesTheEnumeration) {
    int tables = 0;
    for (std::uint64_t nf = 0; nf <= 9; ++nf)
        for (std::uint64_t nm = 0; nm <= 9; ++nm)
            for (std::uint64_t aa = 0; aa <= nf; ++aa)
                for (std::uint64_t ab = 0; aa + ab <= nf; ++ab)
                    for (std::uint64_t a = 0; a <= nm; ++a) {
                        const XSampleCounts c{aa, ab, nf - aa - ab, a, nm - a};
                        if (nf + nm == 0) continue;
                        if (!summarizeXSample(c).testable) {
                            EXPECT_FALSE(xExactPValues(c));
                            continue;
                        }
                        expectMatchesEnumeration(c, 1e-13);
                        ++tables;
                    }
    EXPECT_GT(tables, 10000);
}

// Larger samples, from the bulk (p-values near 1, where rows are summed
// around their modes) to the far tail (near 1e-100 and below), where the
// walk prunes rows and cells and sums the outer rows by their ratios.
TEST(XExact, LargerSamplesMatchTheEnumerationIntoTheFarTail) {
    const XSampleCounts samples[] = {
        {30, 40, 30, 45, 55},  {100, 0, 100, 50, 50},  {60, 70, 20, 80, 40}, {150, 0, 0, 0, 150},
        {0, 150, 0, 75, 75},   {10, 100, 40, 140, 10}, {149, 1, 0, 150, 0},  {1, 2, 147, 3, 147},
        {75, 0, 75, 0, 150},   {40, 70, 40, 75, 75},   {38, 75, 37, 75, 75}, {24, 72, 54, 60, 90},
        {2, 28, 120, 12, 138},
    };
    for (const XSampleCounts& c : samples) expectMatchesEnumeration(c, 1e-11);
}

// With no males x-exact is the autosomal exact test of the females.
TEST(XExact, WithoutMalesItIsTheAutosomalExactTest) {
    const SampleCounts females[] = {{30, 40, 30}, {100, 0, 100}, {1, 998, 1},
                                    {5, 10, 5},   {0, 1, 0},     {4000, 2000, 4000}};
    for (const SampleCounts& f : females) {
        const auto x = xExactPValues({f.aa, f.ab, f.bb, 0, 0});
        const GenotypeCounts g{static_cast<std::uint16_t>(f.aa), static_cast<std::uint16_t>(f.ab),
                               static_cast<std::uint16_t>(f.bb)};
        const auto exact = exactPValue(HweTest::Exact, g);
        const auto midP = exactPValue(HweTest::ExactMidP, g);
        ASSERT_TRUE(x && exact && midP);
        EXPECT_NEAR(static_cast<double>(x->pValue / *exact), 1, 1e-10) << f.aa << " " << f.ab;
        EXPECT_NEAR(static_cast<double>(x->midP / *midP), 1, 1e-10) << f.aa << " " << f.ab;
    }
}

// Relabelling the alleles changes nothing; at 10^5 of each sex this checks
// the far rows and the log-factorials beyond the table where no enumeration
// reaches. The p-values stay positive far below the double range.
TEST(XExact, LargeSamplesAreSymmetricAndNeverZero) {
    const XSampleCounts samples[] = {{25000, 50500, 24500, 50300, 49700},
                                     {20000, 40000, 40000, 60000, 40000},
                                     {100000, 0, 0, 0, 100000},
                                     {0, 100000, 0, 50000, 50000},
                                     {1, 0, 99999, 100000, 0}};
    for (const XSampleCounts& c : samples) {
        const auto p = xExactPValues(c);
        const auto swapped = xExactPValues({c.bb, c.ab, c.aa, c.b, c.a});
        ASSERT_TRUE(p && swapped);
        EXPECT_GT(p->pValue, 0);
        EXPECT_LE(p->pValue, 1);
        EXPECT_LE(p->midP, p->pValue);
        EXPECT_NEAR(static_cast<double>(p->pValue / swapped->pValue), 1, 1e-10);
        EXPECT_NEAR(static_cast<double>(p->midP / swapped->midP), 1, 1e-10);
    }
    EXPECT_FALSE(xExactPValues({1, 0, 0, 0, kMaxXExactAlleles}));
}

}  // namespace
}  // namespace zyg

namespace zyg {
namespace {

struct PowerCase {
    const char* name;
    XModelSetting model;
    XSampleSize size;
};

XModelSetting xModel(GenotypeModel model, double p, double pMale, double f = 0, double het = 0,
                     double hom = 0) {
    return {model, p, pMale, f, het, hom};
}

const PowerCase kPowerCases[] = {
    {"Hardy-Weinberg, sex difference", xModel(GenotypeModel::HardyWeinberg, 0.3, 0.45), {7, 5}},
    {"inbreeding", xModel(GenotypeModel::Inbreeding, 0.4, 0.4, 0.2), {15, 12}},
    {"lowest f", xModel(GenotypeModel::Inbreeding, 0.3, 0.3, -0.3 / 0.7), {12, 8}},
    {"f of 1", xModel(GenotypeModel::Inbreeding, 0.5, 0.6, 1), {10, 6}},
    {"genotyping error", xModel(GenotypeModel::Error, 0.25, 0.3, 0, 0.05, 0.01), {14, 10}},
    {"rare allele, testable below 1/2", xModel(GenotypeModel::HardyWeinberg, 0.01, 0.01), {15, 12}},
    {"no males", xModel(GenotypeModel::Inbreeding, 0.35, 0.5, 0.1), {16, 0}},
    {"no females", xModel(GenotypeModel::HardyWeinberg, 0.35, 0.5), {0, 9}},
};

// The probabilities the sampler draws the females' genotypes with.
GenotypeFrequencies femaleClasses(const XModelSetting& m) {
    const GenotypeFrequencies fr = frequenciesOf(femaleSetting(m));
    const long double c1 = std::clamp<long double>(fr.f11, 0, 1);
    const long double c2 = std::clamp<long double>(fr.f11 + fr.f12, c1, 1);
    return {c1, c2 - c1, 1 - c2};
}

long double powOrOne(long double x, int k) { return k == 0 ? 1 : std::pow(x, k); }

// Every sample of the size, with its probability, decided one by one by the
// observed-sample functions: no grouping, no pruning.
TEST(XPower, MatchesTheEnumerationOfEverySample) {
    const XTest xTests[] = {XTest::Exact, XTest::ExactMidP, XTest::X2, XTest::G};
    const HweTest femaleTests[] = {HweTest::Exact, HweTest::X2};
    const double levels[] = {0.05, 1e-3};
    for (const PowerCase& c : kPowerCases) {
        std::vector<XTestLevel> asked;
        for (XTest t : xTests)
            for (double level : levels) asked.push_back({t, level});
        std::vector<TestLevel> femaleAsked;
        for (HweTest t : femaleTests)
            for (double level : levels) femaleAsked.push_back({t, level});
        const std::vector<ExactPower> power = xExactPower(c.model, c.size, asked);
        const std::vector<ExactPower> females = femaleOnlyPower(c.model, c.size, femaleAsked);

        const GenotypeFrequencies g = femaleClasses(c.model);
        const int nf = static_cast<int>(c.size.females), nm = static_cast<int>(c.size.males);
        std::vector<long double> rejected(asked.size()), femaleRejected(femaleAsked.size());
        long double testable = 0, femalesTestable = 0;
        for (int aa = 0; aa <= nf; ++aa)
            for (int ab = 0; aa + ab <= nf; ++ab) {
                const int bb = nf - aa - ab;
                const long double pf = std::exp(std::lgamma(nf + 1.0L) - std::lgamma(aa + 1.0L) -
                                                std::lgamma(ab + 1.0L) - std::lgamma(bb + 1.0L)) *
                                       powOrOne(g.f11, aa) * powOrOne(g.f12, ab) *
                                       powOrOne(g.f22, bb);
                if (nf > 0 && 2 * aa + ab > 0 && 2 * bb + ab > 0) {
                    femalesTestable += pf;
                    const GenotypeCounts counts{static_cast<std::uint16_t>(aa),
                                                static_cast<std::uint16_t>(ab),
                                                static_cast<std::uint16_t>(bb)};
                    for (std::size_t i = 0; i < femaleAsked.size(); ++i)
                        if (rejects(femaleAsked[i].test, counts, femaleAsked[i].level)
                                .value_or(false))
                            femaleRejected[i] += pf;
                }
                for (int a = 0; a <= nm; ++a) {
                    const long double pm = std::exp(std::lgamma(nm + 1.0L) - std::lgamma(a + 1.0L) -
                                                    std::lgamma(nm - a + 1.0L)) *
                                           powOrOne(c.model.pMale, a) *
                                           powOrOne(1 - c.model.pMale, nm - a);
                    const XSampleCounts s{
                        static_cast<std::uint64_t>(aa), static_cast<std::uint64_t>(ab),
                        static_cast<std::uint64_t>(bb), static_cast<std::uint64_t>(a),
                        static_cast<std::uint64_t>(nm - a)};
                    const std::vector<XTestValue> v = testXSample(s, xTests);
                    if (!v[0].pValue) continue;
                    testable += pf * pm;
                    for (std::size_t i = 0; i < asked.size(); ++i) {
                        const Extended p = *v[i / 2].pValue;
                        if (p <= asked[i].level * (1 + 1e-9L)) rejected[i] += pf * pm;
                    }
                }
            }
        for (std::size_t i = 0; i < asked.size(); ++i) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::string(xTestName(asked[i].test)) +
                         " at " + std::to_string(asked[i].level));
            EXPECT_LE(power[i].massLeftOut, 1e-12);
            EXPECT_NEAR(power[i].testable, static_cast<double>(testable), 2e-12);
            EXPECT_NEAR(power[i].power, static_cast<double>(rejected[i]), 3e-12);
            if (testable > 0)
                EXPECT_NEAR(power[i].conditionalPower, static_cast<double>(rejected[i] / testable),
                            3e-12 * std::max(1.0L, rejected[i] / testable));
            else
                EXPECT_TRUE(std::isnan(power[i].conditionalPower));
        }
        for (std::size_t i = 0; i < femaleAsked.size(); ++i) {
            SCOPED_TRACE(std::string(c.name) + ", females alone, test " + std::to_string(i));
            EXPECT_NEAR(females[i].testable, static_cast<double>(femalesTestable), 3e-12);
            EXPECT_NEAR(females[i].power, static_cast<double>(femaleRejected[i]), 3e-12);
        }
    }
}

// Without males, x-exact and its mid-p are the autosomal exact test and
// mid-p on the females (x-x2 is not: it is referred to 2 df).
TEST(XPower, WithoutMalesTheExactTestsAreTheAutosomalOnes) {
    const XModelSetting models[] = {xModel(GenotypeModel::HardyWeinberg, 0.3, 0.5),
                                    xModel(GenotypeModel::Inbreeding, 0.2, 0.5, 0.15),
                                    xModel(GenotypeModel::Error, 0.4, 0.5, 0, 0.03, 0.005)};
    for (const XModelSetting& m : models)
        for (std::uint32_t nf : {40u, 400u})
            for (double level : {0.05, 1e-6}) {
                const XTestLevel x[] = {{XTest::Exact, level}, {XTest::ExactMidP, level}};
                const TestLevel autosomal[] = {{HweTest::Exact, level},
                                               {HweTest::ExactMidP, level}};
                const std::vector<ExactPower> a = xExactPower(m, {nf, 0}, x);
                const std::vector<ExactPower> b = exactPower(femaleSetting(m), nf, autosomal);
                for (int i = 0; i < 2; ++i) {
                    EXPECT_NEAR(a[i].power, b[i].power, 5e-12) << nf << " " << level;
                    EXPECT_NEAR(a[i].testable, b[i].testable, 5e-12) << nf << " " << level;
                }
            }
    // Far in the tail, where the power is small but not 0.
    const XModelSetting inbred = xModel(GenotypeModel::Inbreeding, 0.5, 0.5, 0.97);
    for (double level : {1e-250, 1e-300}) {
        const XTestLevel x[] = {{XTest::Exact, level}, {XTest::ExactMidP, level}};
        const TestLevel autosomal[] = {{HweTest::Exact, level}, {HweTest::ExactMidP, level}};
        const std::vector<ExactPower> a = xExactPower(inbred, {1500, 0}, x);
        const std::vector<ExactPower> b = exactPower(femaleSetting(inbred), 1500, autosomal);
        for (int i = 0; i < 2; ++i) {
            EXPECT_GT(b[i].power, 1e-6) << level;
            EXPECT_NEAR(a[i].power / b[i].power, 1, 1e-9) << level;
        }
    }
}

// A simulation of samples decided by the observed-sample functions agrees
// within 4 standard errors, at a size the enumeration does not reach.
TEST(XPower, AgreesWithASimulation) {
    const XModelSetting model = xModel(GenotypeModel::Inbreeding, 0.3, 0.4, 0.1);
    const XSampleSize size{80, 60};
    const XTestLevel asked[] = {
        {XTest::Exact, 0.05}, {XTest::ExactMidP, 0.01}, {XTest::X2, 0.05}, {XTest::G, 0.01}};
    const std::vector<ExactPower> power = xExactPower(model, size, asked);
    const GenotypeFrequencies g = femaleClasses(model);
    std::mt19937_64 random(20261209);
    std::uniform_real_distribution<double> u(0, 1);
    std::binomial_distribution<int> males(static_cast<int>(size.males), model.pMale);
    const int draws = 20000;
    std::vector<int> hits(std::size(asked));
    const XTest xTests[] = {XTest::Exact, XTest::ExactMidP, XTest::X2, XTest::G};
    for (int d = 0; d < draws; ++d) {
        XSampleCounts s{};
        for (std::uint32_t i = 0; i < size.females; ++i) {
            const double x = u(random);
            (x < g.f11 ? s.aa : x < g.f11 + g.f12 ? s.ab : s.bb) += 1;
        }
        s.a = static_cast<std::uint64_t>(males(random));
        s.b = size.males - s.a;
        const std::vector<XTestValue> v = testXSample(s, xTests);
        for (std::size_t i = 0; i < std::size(asked); ++i)
            if (v[i].pValue && *v[i].pValue <= asked[i].level) ++hits[i];
    }
    for (std::size_t i = 0; i < std::size(asked); ++i) {
        const double share = static_cast<double>(hits[i]) / draws;
        const double se = std::sqrt(power[i].power * (1 - power[i].power) / draws);
        EXPECT_NEAR(share, power[i].power, 4 * se) << xTestName(asked[i].test);
    }
}

// Far levels: power falls with the level and never turns into NaN.
TEST(XPower, HoldsAtFarLevels) {
    const XModelSetting model = xModel(GenotypeModel::Inbreeding, 0.5, 0.5, 0.9);
    const double levels[] = {1e-10, 1e-100, 1e-300};
    for (XTest t : kXTests) {
        double previous = 1;
        for (double level : levels) {
            const XTestLevel asked[] = {{t, level}};
            const ExactPower p = xExactPower(model, {300, 200}, asked)[0];
            EXPECT_FALSE(std::isnan(p.power)) << xTestName(t) << " " << level;
            EXPECT_LE(p.power, previous) << xTestName(t) << " " << level;
            previous = p.power;
        }
    }
}

}  // namespace
}  // namespace zyg

namespace zyg {
namespace {

// The summary, X2 and G from their definitions, term by term in long
// double (classes of an absent sex left out).
TEST(XSample, SummaryAndStatisticsFollowTheirDefinitions) {
    const XSampleCounts samples[] = {{30, 40, 30, 45, 55}, {100, 0, 100, 50, 50},
                                     {10, 20, 30, 0, 0},   {0, 0, 0, 30, 10},
                                     {5, 0, 0, 0, 7},      {0, 1, 999, 3, 997}};
    const XTest tests[] = {XTest::X2, XTest::G};
    for (const XSampleCounts& c : samples) {
        const long double nf = c.aa + c.ab + c.bb, nm = c.a + c.b, nt = nm + 2 * nf;
        const long double p = (c.a + 2 * c.aa + c.ab) / nt, q = 1 - p;
        const long double o[] = {static_cast<long double>(c.a), static_cast<long double>(c.b),
                                 static_cast<long double>(c.aa), static_cast<long double>(c.ab),
                                 static_cast<long double>(c.bb)};
        const long double e[] = {nm * p, nm * q, nf * p * p, 2 * nf * p * q, nf * q * q};
        long double x2 = 0, g = 0;
        for (int i = 0; i < 5; ++i) {
            if (e[i] == 0) continue;
            x2 += (o[i] - e[i]) * (o[i] - e[i]) / e[i];
            if (o[i] > 0) g += 2 * o[i] * std::log(o[i] / e[i]);
        }
        const std::vector<XTestValue> v = testXSample(c, tests);
        ASSERT_TRUE(v[0].statistic && v[1].statistic);
        EXPECT_NEAR(static_cast<double>(*v[0].statistic), static_cast<double>(x2),
                    1e-12 * static_cast<double>(x2) + 1e-12);
        EXPECT_NEAR(static_cast<double>(*v[1].statistic), static_cast<double>(g),
                    1e-12 * static_cast<double>(g) + 1e-12);
        EXPECT_EQ(*v[0].pValue, chiSquare2UpperTail(*v[0].statistic));

        const XSampleSummary s = summarizeXSample(c);
        EXPECT_EQ(s.females, static_cast<std::uint64_t>(nf));
        EXPECT_EQ(s.males, static_cast<std::uint64_t>(nm));
        EXPECT_DOUBLE_EQ(s.p, static_cast<double>(p));
        EXPECT_EQ(s.pMale.has_value(), nm > 0);
        if (nm > 0) {
            EXPECT_DOUBLE_EQ(*s.pMale, c.a / static_cast<double>(nm));
        }
        EXPECT_EQ(s.pFemale.has_value(), nf > 0);
        if (s.femalesTestable) {
            const double pf = (2 * c.aa + c.ab) / (2 * static_cast<double>(nf));
            EXPECT_NEAR(*s.fFemale, 1 - c.ab / (2 * static_cast<double>(nf) * pf * (1 - pf)),
                        1e-14);
        }
        if (nm == 0) {
            // The females' own X2, but referred to 2 degrees of freedom.
            const HweTest x2Test[] = {HweTest::X2};
            const SampleTestValue autosomal = testSample({c.aa, c.ab, c.bb}, x2Test)[0];
            EXPECT_NEAR(static_cast<double>(*v[0].statistic), *autosomal.statistic, 1e-12);
        }
    }
}

TEST(XSample, UntestableAndBadSamples) {
    const XSampleCounts monomorphic{10, 0, 0, 5, 0};
    for (const XTestValue& v : testXSample(monomorphic, kXTests)) {
        EXPECT_FALSE(v.pValue);
        EXPECT_FALSE(v.statistic);
    }
    EXPECT_FALSE(summarizeXSample(monomorphic).testable);
    // Both alleles occur only through the males: the X tests apply, the
    // autosomal ones on the females do not.
    const XSampleSummary s = summarizeXSample({10, 0, 0, 5, 5});
    EXPECT_TRUE(s.testable);
    EXPECT_FALSE(s.femalesTestable);
    EXPECT_FALSE(s.fFemale);
    EXPECT_THROW(summarizeXSample({}), std::invalid_argument);
    EXPECT_THROW(xExactPValues({0, 0, 0, kMaxSampleGenotypeCount + 1, 0}), std::invalid_argument);
    for (XTest t : kXTests) EXPECT_EQ(parseXTest(xTestName(t)), t);
    EXPECT_FALSE(parseXTest("exact"));
}

}  // namespace
}  // namespace zyg
