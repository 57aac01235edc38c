#include <gtest/gtest.h>
#include <quadmath.h>

#include <cmath>
#include <limits>
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
        << what << " of females " << c.aa << " " << c.ab << " " << c.bb << " males " << c.a
        << " " << c.b << ": " << static_cast<double>(value) << " against "
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

// Larger samples, from the bulk to the far tail (p-values near 1e-100 and
// below), where the walk prunes rows and cells.
TEST(XExact, LargerSamplesMatchTheEnumerationIntoTheFarTail) {
    const XSampleCounts samples[] = {
        {30, 40, 30, 45, 55},   {100, 0, 100, 50, 50}, {60, 70, 20, 80, 40},
        {150, 0, 0, 0, 150},    {0, 150, 0, 75, 75},   {10, 100, 40, 140, 10},
        {149, 1, 0, 150, 0},    {1, 2, 147, 3, 147},   {75, 0, 75, 0, 150},
        {40, 70, 40, 75, 75},
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
