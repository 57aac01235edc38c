#include <gtest/gtest.h>
#include <quadmath.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/NullSize.h"

namespace zyg {
namespace {

using Quad = __float128;

const double kLevels[] = {0.5, 0.05, 1e-3, 1e-8, 1e-30, 1e-300};

// P(h | a) under Hardy-Weinberg from its log-factorials in 113-bit
// arithmetic, each count decided by `rejects` on its own sample.
Quad enumeratedSize(HweTest test, std::uint32_t n, std::uint32_t a, double level) {
    const std::uint32_t m = 2 * n - a;
    Quad size = 0;
    for (std::uint32_t h = a % 2; h <= std::min(a, m); h += 2) {
        const std::uint32_t n11 = (a - h) / 2, n22 = (m - h) / 2;
        const Quad logP = lgammaq(n + 1) - lgammaq(n11 + 1) - lgammaq(h + 1) - lgammaq(n22 + 1) +
                          h * logq(2) + lgammaq(a + 1) + lgammaq(m + 1) - lgammaq(2 * n + 1);
        const GenotypeCounts c{static_cast<std::uint16_t>(n11), static_cast<std::uint16_t>(h),
                               static_cast<std::uint16_t>(n22)};
        if (rejects(test, c, level).value_or(false)) size += expq(logP);
    }
    return size;
}

void expectClose(Extended got, Quad want, const char* what) {
    if (want == 0) {
        EXPECT_EQ(got, 0) << what;
        return;
    }
    EXPECT_GT(got, 0) << what;
    EXPECT_LT(fabsq(Quad(got) / want - 1), 1e-10)
        << what << " got " << double(got) << " want " << double(want);
}

// Every test and level on every allele count of small samples (ties among
// them: rows whose mode ratio is exactly 1), and on a few rows of 1000 where
// the sizes at 1e-300 lie far in the tail.
TEST(NullSize, EqualsTheEnumeratedConditionalSizes) {
    std::vector<TestLevel> requests;
    for (const HweTest test : kHweTests)
        for (const double level : kLevels) requests.push_back({test, level});
    const NullSizePlan plan(requests);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
    for (std::uint32_t n = 1; n <= 16; ++n)
        for (std::uint32_t a = 0; a <= 2 * n; ++a) pairs.emplace_back(n, a);
    for (const std::uint32_t a : {1u, 2u, 40u, 999u}) pairs.emplace_back(1000, a);
    for (const auto& [n, a] : pairs) {
        const auto sizes = plan.sizes(n, a);
        ASSERT_TRUE(sizes);
        for (std::size_t i = 0; i < requests.size(); ++i) {
            const std::string what = std::string(hweTestName(requests[i].test)) + " n " +
                                     std::to_string(n) + " a " + std::to_string(a) + " level " +
                                     std::to_string(requests[i].level);
            expectClose((*sizes)[i], enumeratedSize(requests[i].test, n, a, requests[i].level),
                        what.c_str());
        }
    }
}

TEST(NullSize, TailSizesAreNeverNaNOrASilentZero) {
    // All heterozygotes at n 1500 (X2 rejects at 1e-300, with a probability
    // near 1e-450) and the exact test's extreme counts at n 20000.
    const auto x2 = nullSize(HweTest::X2, 1500, 1500, 1e-300);
    ASSERT_TRUE(x2);
    expectClose(*x2, enumeratedSize(HweTest::X2, 1500, 1500, 1e-300), "x2 n 1500");
    for (const HweTest test : {HweTest::Exact, HweTest::ExactMidP, HweTest::G}) {
        const auto s = nullSize(test, 20000, 20000, 1e-300);
        ASSERT_TRUE(s);
        EXPECT_TRUE(std::isfinite(*s) && *s > 0) << hweTestName(test);
    }
    EXPECT_FALSE(nullSize(HweTest::Exact, 0, 0, 0.05));
    EXPECT_FALSE(nullSize(HweTest::Exact, kMaxNullSizeSample + 1, 3, 0.05));
    EXPECT_FALSE(nullSize(HweTest::Exact, 10, 21, 0.05));
}

TEST(NullSize, CacheAndPanelDistributionWeighTheMarkers) {
    const TestLevel request{HweTest::Exact, 1e-3};
    NullSizeCache cache({&request, 1});
    const NullMarker markers[] = {{200, 30, 3}, {200, 200, 1}, {200, 0, 2}, {90000, 5, 1}};
    Extended weighted = 0;
    for (const NullMarker& m : markers)
        if (const auto* s = cache.sizes(m.n, m.a)) weighted += s->front() * m.count;
    EXPECT_EQ(cache.pairs(), 4u);
    cache.sizes(200, 30);
    EXPECT_EQ(cache.pairs(), 4u);
    const Extended want = weighted / 7;
    EXPECT_NEAR(nullPValueDistribution(HweTest::Exact, markers, 1e-3) / want, 1, 1e-15);
    EXPECT_EQ(nullPValueDistribution(HweTest::Exact, {}, 1e-3), 0);
}

// The X outcomes (mA, fAB) given nA from their own factorials, each decided
// as testXSample decides it.
Quad enumeratedXSize(XTest test, XSampleSize size, std::uint64_t nA, double level) {
    const std::uint64_t nf = size.females, nm = size.males, nt = nm + 2 * nf;
    Quad total = 0, rejected = 0;
    for (std::uint64_t m = 0; m <= std::min(nm, nA); ++m) {
        if (nA - m > 2 * nf) continue;
        const std::uint64_t af = nA - m, bf = 2 * nf - af;
        for (std::uint64_t h = af % 2; h <= std::min(af, bf); h += 2) {
            const Quad w = expq(lgammaq(nm + 1) - lgammaq(m + 1) - lgammaq(nm - m + 1) +
                                lgammaq(nf + 1) - lgammaq((af - h) / 2 + 1) - lgammaq(h + 1) -
                                lgammaq((bf - h) / 2 + 1) + h * logq(2));
            total += w;
            const XSampleCounts c{(af - h) / 2, h, (bf - h) / 2, m, nm - m};
            const auto v = testXSample(c, std::vector<XTest>{test});
            if (!v[0].pValue) continue;
            const Extended target = Extended(level) * (1 + 1e-9L);
            const bool rejects = test == XTest::Exact || test == XTest::ExactMidP
                                     ? *v[0].pValue <= target
                                     : *v[0].statistic >= -2 * std::log(target);
            if (rejects) rejected += w;
        }
    }
    (void)nt;
    return rejected / total;
}

// Beyond 65535 genotypes (biobank markers): each count of the row decided by
// its own p-value from the sorted probabilities (exact, mid-p) or by the
// statistic of exact power (X2, G), summed in 113-bit arithmetic.
TEST(NullSize, LargeSamplesEqualTheEnumeratedConditionalSizes) {
    const std::uint32_t n = 100000;
    std::vector<TestLevel> requests;
    for (const HweTest test : {HweTest::Exact, HweTest::ExactMidP, HweTest::X2, HweTest::G})
        for (const double level : {1e-3, 1e-8, 1e-30}) requests.push_back({test, level});
    const NullSizePlan plan(requests);
    for (const std::uint32_t a : {3u, 2001u, 100000u}) {
        std::vector<std::pair<Quad, std::uint32_t>> cells;  // probability, h
        for (std::uint32_t h = a % 2; h <= std::min(a, 2 * n - a); h += 2) {
            const std::uint32_t n11 = (a - h) / 2, n22 = (2 * n - a - h) / 2;
            cells.emplace_back(
                expq(lgammaq(n + 1) - lgammaq(n11 + 1) - lgammaq(h + 1) - lgammaq(n22 + 1) +
                     h * logq(2) + lgammaq(a + 1) + lgammaq(2 * n - a + 1) - lgammaq(2 * n + 1)),
                h);
        }
        std::sort(cells.begin(), cells.end());
        std::vector<Quad> below(cells.size() + 1, 0);
        for (std::size_t k = 0; k < cells.size(); ++k) below[k + 1] = below[k] + cells[k].first;
        const auto sizes = plan.sizes(n, a);
        ASSERT_TRUE(sizes);
        for (std::size_t i = 0; i < requests.size(); ++i) {
            const TestLevel& r = requests[i];
            Quad want = 0;
            for (std::size_t k = 0; k < cells.size(); ++k) {
                const auto [prob, h] = cells[k];
                bool rejected;
                if (isExactFamily(r.test)) {
                    const Quad p = r.test == HweTest::Exact ? below[k + 1] : below[k] + prob / 2;
                    rejected = p <= r.level * (1 + 1e-9);
                } else {
                    const Extended x = testStatistic(r.test, (a - h) / 2, h, (2 * n - a - h) / 2);
                    rejected = x > criticalValue(r.level);
                }
                if (rejected) want += prob;
            }
            const std::string what = std::string(hweTestName(r.test)) + " a " + std::to_string(a) +
                                     " level " + std::to_string(r.level);
            expectClose((*sizes)[i], want, what.c_str());
        }
    }
}

TEST(NullSize, XSizesEqualTheEnumeratedOutcomes) {
    const XSampleSize sizes[] = {{0, 7}, {6, 0}, {5, 4}, {12, 9}, {16, 13}};
    std::vector<XTestLevel> requests;
    for (const XTest test : kXTests)
        for (const double level : {0.5, 0.05, 1e-3, 1e-8, 1e-30}) requests.push_back({test, level});
    for (const XSampleSize& s : sizes) {
        const std::uint64_t nt = s.males + 2 * std::uint64_t{s.females};
        for (std::uint64_t nA = 0; nA <= nt; ++nA) {
            const auto got = xNullSizes(s, nA, requests);
            ASSERT_TRUE(got);
            for (std::size_t i = 0; i < requests.size(); ++i) {
                const std::string what = std::string(xTestName(requests[i].test)) + " nf " +
                                         std::to_string(s.females) + " nm " +
                                         std::to_string(s.males) + " nA " + std::to_string(nA) +
                                         " level " + std::to_string(requests[i].level);
                const Quad want = nA == 0 || nA == nt
                                      ? 0
                                      : enumeratedXSize(requests[i].test, s, nA, requests[i].level);
                expectClose((*got)[i], want, what.c_str());
            }
        }
    }
    EXPECT_FALSE(xNullSizes({0, 0}, 0, requests));
    EXPECT_FALSE(xNullSizes({3, 3}, 10, requests));
}

}  // namespace
}  // namespace zyg
