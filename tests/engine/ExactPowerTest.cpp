#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/ExactPower.h"
#include "engine/ObservedSample.h"
#include "engine/Random.h"
#include "engine/Sampling.h"
#include "engine/Simulation.h"
#include "support/ModelSettings.h"

using namespace zyg;

using namespace zyg::testing;

namespace {

// The autosomal engine's tests.
const std::vector<HweTest> kAllTests = locusTests(LocusKind::Autosomal);

std::vector<TestLevel> everyTestAt(std::initializer_list<double> levels) {
    std::vector<TestLevel> out;
    for (HweTest t : kAllTests)
        for (double level : levels) out.push_back({t, level});
    return out;
}

ModelSetting miscalls(double p, double het, double hom) {
    ModelSetting s{GenotypeModel::Error, p};
    s.hetMiscall = het;
    s.homMiscall = hom;
    return s;
}
ModelSetting nullAllele(double p, double r) {
    ModelSetting s{GenotypeModel::NullAllele, p};
    s.nullFrequency = r;
    return s;
}

// Models that cover the interior and every edge where a genotype has
// probability 0 (no heterozygotes, no A1A1, only A2A2).
std::vector<ModelSetting> models() {
    return {hw(0.4),
            hw(0.05),
            wahlund(0.3, 0.1),
            wahlund(0.5, 0.25),
            inbreeding(0.4, 0.05),
            inbreeding(0.7, 1),
            selection(0.4, 1.1, 1, 0.91),
            selection(0.6, 0, 1, 2),
            selection(0.5, 1, 0, 1),
            selection(0.3, 0, 0, 0.0001),
            inbreeding(0.4, -0.3),
            inbreeding(0.4, -0.4 / 0.6),  // the lowest f: no A1A1
            inbreeding(0.5, -1),          // only heterozygotes
            miscalls(0.3, 0.05, 0),
            miscalls(0.2, 0.01, 0.03),
            miscalls(0.5, 1, 0),  // every heterozygote lost
            miscalls(0.4, 0, 1),  // every sample heterozygous
            nullAllele(0.4, 0.1),
            nullAllele(0.15, 0.99)};
}

// The sampler's probabilities of the three genotypes.
struct Probabilities {
    long double p11, p12, p22;
};
Probabilities probabilitiesOf(const ModelSetting& setting) {
    const GenotypeFrequencies f = frequenciesOf(setting);
    const long double c1 = std::clamp<long double>(f.f11, 0, 1);
    const long double c2 = std::clamp<long double>(f.f11 + f.f12, c1, 1);
    return {c1, c2 - c1, 1 - c2};
}

long double multinomial(std::uint32_t n, std::uint32_t a, std::uint32_t b, std::uint32_t c,
                        const Probabilities& pr) {
    auto term = [](std::uint32_t k, long double p) {
        return k == 0 ? 0.0L : (p == 0 ? -INFINITY : k * std::log(p));
    };
    const long double lp = std::lgamma(n + 1.0L) - std::lgamma(a + 1.0L) - std::lgamma(b + 1.0L) -
                           std::lgamma(c + 1.0L) + term(a, pr.p11) + term(b, pr.p12) +
                           term(c, pr.p22);
    return std::exp(lp);
}

// Every genotype-count triple of size n, with no pruning: the reference
// that the exact power must reproduce. X2, G and X2cc decide by `rejects`;
// the exact family by the bounds of its allele count (exactRejection, one
// conditional distribution per allele count, which
// RejectionBoundsDecideEverySampleAsItsPValue checks against `rejects`).
std::vector<ExactPower> enumerateAll(const ModelSetting& setting, std::uint32_t n,
                                     const std::vector<TestLevel>& tests) {
    const Probabilities pr = probabilitiesOf(setting);
    std::map<std::pair<std::uint32_t, std::size_t>, std::optional<ExactRejection>> bounds;
    auto decide = [&](std::size_t i, const GenotypeCounts& c) -> std::optional<bool> {
        if (!isExactFamily(tests[i].test)) return rejects(tests[i].test, c, tests[i].level);
        const std::uint32_t a = 2 * std::uint32_t{c.o11} + c.o12;
        auto it = bounds.find({a, i});
        if (it == bounds.end())
            it =
                bounds.emplace(std::pair{a, i}, exactRejection(tests[i].test, n, a, tests[i].level))
                    .first;
        if (!it->second) return std::nullopt;
        return c.o12 <= it->second->low || c.o12 >= it->second->high;
    };
    std::vector<long double> testable(tests.size()), rejected(tests.size());
    for (std::uint32_t a = 0; a <= n; ++a)
        for (std::uint32_t b = 0; a + b <= n; ++b) {
            const std::uint32_t c = n - a - b;
            const long double prob = multinomial(n, a, b, c, pr);
            if (prob == 0) continue;
            const GenotypeCounts counts{static_cast<std::uint16_t>(a),
                                        static_cast<std::uint16_t>(b),
                                        static_cast<std::uint16_t>(c)};
            for (std::size_t i = 0; i < tests.size(); ++i) {
                const auto decision = decide(i, counts);
                if (!decision) continue;
                testable[i] += prob;
                if (*decision) rejected[i] += prob;
            }
        }
    std::vector<ExactPower> out(tests.size());
    for (std::size_t i = 0; i < tests.size(); ++i) {
        out[i].testable = static_cast<double>(testable[i]);
        out[i].power = static_cast<double>(rejected[i]);
    }
    return out;
}

void expectSamePowers(const std::vector<ExactPower>& got, const std::vector<ExactPower>& want,
                      const std::vector<TestLevel>& tests, double tolerance,
                      const std::string& where) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        const std::string what = where + " " + std::string(hweTestName(tests[i].test)) + " at " +
                                 std::to_string(tests[i].level);
        EXPECT_NEAR(got[i].testable, want[i].testable, tolerance) << what;
        EXPECT_NEAR(got[i].power, want[i].power, tolerance) << what;
        if (want[i].testable > 0)
            EXPECT_NEAR(got[i].conditionalPower, want[i].power / want[i].testable,
                        tolerance / want[i].testable)
                << what;
        else
            EXPECT_TRUE(std::isnan(got[i].conditionalPower)) << what;
    }
}

std::string describe(const ModelSetting& s, std::uint32_t n) {
    return "model " + std::to_string(static_cast<int>(s.model)) + " p " + std::to_string(s.p) +
           " var " + std::to_string(s.var) + " f " + std::to_string(s.f) + " w " +
           std::to_string(s.w11) + "/" + std::to_string(s.w12) + "/" + std::to_string(s.w22) +
           " n " + std::to_string(n);
}

// The exact test's p-value straight from its definition: the conditional
// probabilities of every heterozygote count from factorials.
double directPValue(const GenotypeCounts& c) {
    const int n = c.o11 + c.o12 + c.o22;
    const int a = 2 * c.o11 + c.o12;
    const int m = 2 * n - a;
    auto logWeight = [&](int h) {
        const int n11 = (a - h) / 2, n22 = (m - h) / 2;
        return h * std::log(2.0L) - std::lgamma(n11 + 1.0L) - std::lgamma(h + 1.0L) -
               std::lgamma(n22 + 1.0L);
    };
    const long double observed = logWeight(c.o12);
    long double total = 0, tail = 0;
    for (int h = a % 2; h <= std::min(a, m); h += 2) {
        const long double w = std::exp(logWeight(h) - observed);
        total += w;
        if (w <= 1 + 1e-7L) tail += w;
    }
    return static_cast<double>(tail / total);
}

}  // namespace

TEST(ExactPower, EqualsTheCompleteEnumerationForSmallSamples) {
    const auto tests = everyTestAt({0.05, 0.01, 0.2, 0.001});
    for (const ModelSetting& setting : models())
        for (std::uint32_t n : {1u, 2u, 3u, 4u, 7u, 12u, 25u, 60u}) {
            const auto got = exactPower(setting, n, tests);
            expectSamePowers(got, enumerateAll(setting, n, tests), tests, 1e-12,
                             describe(setting, n));
            for (const ExactPower& e : got) EXPECT_LE(e.massLeftOut, 1e-12);
        }
}

// g is the G an observed sample gets (0 ln 0 = 0, testable when both alleles
// occur) and g-window the same G on the samples the window tests (every
// genotype present): the exact power of each is the probability of the
// samples whose observed-sample p-value lies at or below the level, counted
// over every triple. The models give samples with a zero count much weight.
TEST(ExactPower, GIsTheObservedSamplesGAndGWindowTheWindowsRule) {
    const std::vector<TestLevel> tests{
        {HweTest::G, 0.05}, {HweTest::G, 1e-6}, {HweTest::GWindow, 0.05}, {HweTest::GWindow, 0.01}};
    const HweTest g[] = {HweTest::G};
    for (const ModelSetting& setting :
         {hw(0.1), hw(0.5), inbreeding(0.5, 1), inbreeding(0.3, 0.3), selection(0.05, 1, 0, 1)})
        for (std::uint32_t n : {2u, 5u, 10u, 40u, 150u}) {
            const Probabilities pr = probabilitiesOf(setting);
            std::vector<long double> testable(tests.size()), rejected(tests.size());
            for (std::uint32_t a = 0; a <= n; ++a)
                for (std::uint32_t b = 0; a + b <= n; ++b) {
                    const std::uint32_t c = n - a - b;
                    const long double prob = multinomial(n, a, b, c, pr);
                    const auto value = testSample(SampleCounts{a, b, c}, g)[0];
                    if (prob == 0 || !value.pValue) continue;
                    for (std::size_t i = 0; i < tests.size(); ++i) {
                        if (tests[i].test == HweTest::GWindow && (a == 0 || b == 0 || c == 0))
                            continue;
                        testable[i] += prob;
                        if (*value.pValue <= tests[i].level) rejected[i] += prob;
                    }
                }
            const auto got = exactPower(setting, n, tests);
            for (std::size_t i = 0; i < tests.size(); ++i) {
                EXPECT_NEAR(got[i].testable, static_cast<double>(testable[i]), 1e-12)
                    << describe(setting, n) << " " << hweTestName(tests[i].test);
                EXPECT_NEAR(got[i].power, static_cast<double>(rejected[i]), 1e-12)
                    << describe(setting, n) << " " << hweTestName(tests[i].test) << " "
                    << tests[i].level;
            }
        }
    // All homozygotes (f = 1): the window never tests such a sample, G tests
    // every one in which both alleles occur and rejects nearly all of them.
    const auto f1 = exactPower(inbreeding(0.5, 1), 10, tests);
    EXPECT_EQ(f1[2].testable, 0);
    EXPECT_NEAR(f1[0].testable, 1 - 2 * std::pow(0.5, 10), 1e-15);
    EXPECT_NEAR(f1[0].power, f1[0].testable, 1e-15);
}

TEST(ExactPower, PruningLeavesOutLessThanItMayAtLargerSamples) {
    const auto tests = everyTestAt({0.05, 0.01});
    for (const ModelSetting& setting : {inbreeding(0.4, 0.05), wahlund(0.2, 0.02), hw(0.03)}) {
        const auto got = exactPower(setting, 400, tests);
        expectSamePowers(got, enumerateAll(setting, 400, tests), tests, 2e-12,
                         describe(setting, 400));
    }
    const std::vector<TestLevel> x2AndG{{HweTest::X2, 0.05}, {HweTest::G, 0.01}};
    const ModelSetting setting = selection(0.35, 0.9, 1, 0.8);
    expectSamePowers(exactPower(setting, 1000, x2AndG), enumerateAll(setting, 1000, x2AndG), x2AndG,
                     2e-12, describe(setting, 1000));
}

TEST(ExactPower, ReportsTheMassItLeavesOutAtTheLargestSample) {
    const auto tests = everyTestAt({0.05, 0.01});
    for (const ModelSetting& setting : {hw(0.5), inbreeding(0.4, 0.05), selection(0.02, 1, 1, 1)}) {
        const auto got = exactPower(setting, kMaxPowerSampleSize, tests);
        for (const ExactPower& e : got) {
            EXPECT_GE(e.massLeftOut, 0);
            EXPECT_LE(e.massLeftOut, 1e-12);
            EXPECT_LE(e.testable, 1);
            EXPECT_GE(e.power, 0);
            EXPECT_LE(e.power, e.testable);
        }
    }
    // Every test can test almost every sample of 10000 at p = 0.5; the
    // window's G misses those without A1A1 at p = 0.02,
    // (1 - 0.0004)^10000 = 0.0183, while G tests every sample in which both
    // alleles occur.
    for (const ExactPower& e : exactPower(hw(0.5), 10000, tests)) EXPECT_NEAR(e.testable, 1, 1e-12);
    const std::vector<TestLevel> g{{HweTest::GWindow, 0.05}, {HweTest::G, 0.05}};
    const auto rare = exactPower(selection(0.02, 1, 1, 1), 10000, g);
    EXPECT_NEAR(rare[0].testable, 1 - std::pow(1 - 0.0004, 10000), 1e-6);
    EXPECT_NEAR(rare[1].testable, 1, 1e-12);
    // A large heterozygote deficit is found almost surely by every test but
    // those that look for an excess, which never find it.
    const auto strong = exactPower(inbreeding(0.4, 0.2), 10000, tests);
    for (std::size_t i = 0; i < tests.size(); ++i) {
        const bool excess =
            tests[i].test == HweTest::ExactExcess || tests[i].test == HweTest::ExactExcessMidP;
        if (excess)
            EXPECT_LT(strong[i].power, 1e-9) << hweTestName(tests[i].test);
        else
            EXPECT_GT(strong[i].power, 1 - 1e-9) << hweTestName(tests[i].test);
    }
}

TEST(ExactPower, AgreesWithTheWindowsSamplerWithinFourStandardErrors) {
    std::mt19937 random(20261208);
    std::uniform_real_distribution<double> unit(0, 1);
    const auto tests = everyTestAt({0.05, 0.01});
    constexpr int kReplicates = 3000;
    for (int round = 0; round < 30; ++round) {
        const double p = round % 6 == 0 ? 0.02 + 0.03 * unit(random) : 0.01 + 0.98 * unit(random);
        ModelSetting setting;
        switch (round % 6) {
            case 0: setting = hw(p); break;
            case 1: setting = wahlund(p, p * (1 - p) * unit(random)); break;
            case 2: {
                // From the lowest f (heterozygote excess) to 1.
                const double lowest = -std::min(p, 1 - p) / std::max(p, 1 - p);
                setting = inbreeding(p, lowest + (1 - lowest) * unit(random));
                break;
            }
            case 3:
                setting = selection(p, 2 * unit(random), 2 * unit(random), 2 * unit(random));
                break;
            case 4: setting = miscalls(p, 0.2 * unit(random), 0.2 * unit(random)); break;
            default: setting = nullAllele(p, 0.5 * unit(random));
        }
        const auto n = static_cast<std::uint32_t>(1 + (round * 53) % 300);
        const auto exact = exactPower(setting, n, tests);

        std::vector<int> testable(tests.size()), rejected(tests.size());
        const GenotypeFrequencies frequencies = frequenciesOf(setting);
        setRandomSeed(static_cast<std::uint32_t>(1000 + round));
        for (int r = 0; r < kReplicates; ++r) {
            const GenotypeCounts c = drawSample(frequencies, static_cast<std::uint16_t>(n));
            for (std::size_t i = 0; i < tests.size(); ++i)
                if (const auto d = rejects(tests[i].test, c, tests[i].level)) {
                    ++testable[i];
                    rejected[i] += *d;
                }
        }
        for (std::size_t i = 0; i < tests.size(); ++i) {
            auto within4se = [&](double estimate, double truth) {
                const double var = std::max(truth * (1 - truth), 1.0 / kReplicates) / kReplicates;
                return std::fabs(estimate - truth) <= 4 * std::sqrt(var);
            };
            EXPECT_TRUE(within4se(double(testable[i]) / kReplicates, exact[i].testable))
                << describe(setting, n) << " testable " << hweTestName(tests[i].test);
            EXPECT_TRUE(within4se(double(rejected[i]) / kReplicates, exact[i].power))
                << describe(setting, n) << " power " << hweTestName(tests[i].test) << " "
                << tests[i].level << ": " << double(rejected[i]) / kReplicates << " vs "
                << exact[i].power;
        }
    }
}

TEST(ExactTest, PValuesOfTheSmallestRowByHand) {
    // n = 2 with two A1 alleles: (1, 0, 1) has weight 1, (0, 2, 0) weight 2.
    EXPECT_NEAR(*exactTestPValue({1, 0, 1}), 1.0 / 3, 1e-15);
    EXPECT_NEAR(*exactTestPValue({0, 2, 0}), 1.0, 1e-15);
    EXPECT_FALSE(exactTestPValue({5, 0, 0}));
    EXPECT_FALSE(exactTestPValue({0, 0, 9}));
    EXPECT_FALSE(rejects(HweTest::Exact, {0, 0, 9}, 0.05));
    EXPECT_FALSE(rejects(HweTest::Exact, {0, 0, 0}, 0.05));
    EXPECT_EQ(rejects(HweTest::Exact, {1, 0, 1}, 0.5), std::optional<bool>(true));
    EXPECT_EQ(rejects(HweTest::Exact, {1, 0, 1}, 0.3), std::optional<bool>(false));
}

TEST(ExactTest, PValuesEqualTheDirectConditionalSum) {
    std::mt19937 random(7);
    for (int i = 0; i < 400; ++i) {
        const int n = 1 + static_cast<int>(random() % 150);
        const int a = static_cast<int>(random() % (n + 1));
        const int b = static_cast<int>(random() % (n - a + 1));
        const GenotypeCounts c{static_cast<std::uint16_t>(a), static_cast<std::uint16_t>(b),
                               static_cast<std::uint16_t>(n - a - b)};
        const auto p = exactTestPValue(c);
        if (2 * a + b == 0 || 2 * a + b == 2 * n) {
            EXPECT_FALSE(p);
            continue;
        }
        ASSERT_TRUE(p);
        const double want = directPValue(c);
        EXPECT_NEAR(*p, want, 1e-12 * std::max(want, 1e-300) + 1e-300)
            << a << " " << b << " " << n - a - b;
    }
}

TEST(ExactTest, RejectionBoundsDecideEverySampleAsItsPValue) {
    for (HweTest test : kAllTests) {
        if (!isExactFamily(test)) continue;
        for (std::uint32_t n : {1u, 2u, 7u, 30u, 151u})
            for (double level : {0.05, 0.01, 0.3, 0.5})
                for (std::uint32_t a = 0; a <= 2 * n; ++a) {
                    const auto bounds = exactRejection(test, n, a, level);
                    EXPECT_EQ(bounds.has_value(), a > 0 && a < 2 * n);
                    for (std::uint32_t h = a % 2; h <= std::min(a, 2 * n - a); h += 2) {
                        const GenotypeCounts c{static_cast<std::uint16_t>((a - h) / 2),
                                               static_cast<std::uint16_t>(h),
                                               static_cast<std::uint16_t>((2 * n - a - h) / 2)};
                        const auto d = rejects(test, c, level);
                        ASSERT_EQ(d.has_value(), bounds.has_value());
                        if (d) {
                            EXPECT_EQ(*d, int(h) <= bounds->low || int(h) >= bounds->high)
                                << hweTestName(test) << " " << n << " " << a << " " << h << " "
                                << level;
                        }
                    }
                }
    }
}

// Many tests and levels at once, in no order, give each one's bounds: those
// of the single search at small n, and at biobank n those of the same row
// searched for that level alone.
TEST(ExactTest, ManyLevelsAtOnceGiveEachLevelsOwnBounds) {
    std::vector<TestLevel> requests;
    for (HweTest test : kAllTests)
        if (isExactFamily(test))
            for (double level : {0.3, 1e-300, 0.05, 1e-6, 0.5, 1e-30, 2e-6, 1e-10})
                requests.push_back({test, level});
    for (std::uint32_t n : {7u, 151u, 4000u, 200000u})
        for (std::uint32_t a : {1u, 3u, n / 3, n, 2 * n - 5}) {
            const auto all = exactRejections(n, a, requests);
            ASSERT_EQ(all.size(), requests.size());
            for (std::size_t i = 0; i < requests.size(); ++i) {
                const TestLevel& r = requests[i];
                ExactRejection alone;
                if (n <= 151) {
                    alone = *exactRejection(r.test, n, a, r.level);
                } else {
                    const std::vector<TestLevel> two = {{r.test, 1e-300}, r};
                    alone = exactRejections(n, a, two)[1];
                }
                EXPECT_EQ(all[i].low, alone.low)
                    << hweTestName(r.test) << " " << n << " " << a << " " << r.level;
                EXPECT_EQ(all[i].high, alone.high)
                    << hweTestName(r.test) << " " << n << " " << a << " " << r.level;
            }
        }
}

TEST(ExactTest, SizeNeverExceedsTheLevelUnderHardyWeinberg) {
    // Every exact test but the mid-p ones is valid given the allele count.
    for (HweTest test :
         {HweTest::Exact, HweTest::ExactDost, HweTest::ExactDeficit, HweTest::ExactExcess}) {
        const std::vector<TestLevel> tests{{test, 0.05}, {test, 0.01}};
        for (double p : {0.5, 0.2, 0.05})
            for (std::uint32_t n = 1; n <= 200; ++n) {
                const auto e = exactPower(hw(p), n, tests);
                if (e[0].testable == 0) continue;
                EXPECT_LE(e[0].conditionalPower, 0.05 + 1e-12)
                    << hweTestName(test) << p << " " << n;
                EXPECT_LE(e[1].conditionalPower, 0.01 + 1e-12)
                    << hweTestName(test) << p << " " << n;
            }
    }
}

TEST(ExactPower, SwappingTheAllelesChangesNoPower) {
    const auto tests = everyTestAt({0.05, 0.01, 0.1});
    const std::pair<ModelSetting, ModelSetting> pairs[] = {
        {hw(0.3), hw(0.7)},
        {wahlund(0.25, 0.05), wahlund(0.75, 0.05)},
        {inbreeding(0.1, 0.3), inbreeding(0.9, 0.3)},
        {selection(0.4, 1.2, 1, 0.7), selection(0.6, 0.7, 1, 1.2)},
    };
    for (const auto& [one, other] : pairs)
        for (std::uint32_t n : {9u, 137u, 2000u}) {
            const auto a = exactPower(one, n, tests), b = exactPower(other, n, tests);
            for (std::size_t i = 0; i < tests.size(); ++i) {
                EXPECT_NEAR(a[i].testable, b[i].testable, 1e-9) << describe(one, n);
                EXPECT_NEAR(a[i].power, b[i].power, 1e-9)
                    << describe(one, n) << " " << hweTestName(tests[i].test);
            }
        }
}

TEST(HweTests, DecisionsOnSingleSamples) {
    // 30, 40, 30: X2 = 4 rejects at 0.05; the corrected X2 is 3.425 and does not.
    EXPECT_EQ(rejects(HweTest::X2, {30, 40, 30}, 0.05), std::optional<bool>(true));
    EXPECT_EQ(rejects(HweTest::X2, {30, 40, 30}, 0.01), std::optional<bool>(false));
    EXPECT_EQ(rejects(HweTest::X2cc, {30, 40, 30}, 0.05), std::optional<bool>(false));
    EXPECT_EQ(rejects(HweTest::X2cc, {30, 40, 30}, 0.1), std::optional<bool>(true));
    for (HweTest g : {HweTest::G, HweTest::GWindow}) {
        EXPECT_EQ(rejects(g, {30, 40, 30}, 0.05), std::optional<bool>(true));
        // A G that rounding leaves slightly below 0 is a computed G of 0.
        EXPECT_EQ(rejects(g, {64, 32, 4}, 0.05), std::optional<bool>(false));
    }
    // The window's G needs every genotype; G (0 ln 0 = 0) and X2 both alleles.
    EXPECT_FALSE(rejects(HweTest::GWindow, {7, 0, 3}, 0.05));
    EXPECT_EQ(rejects(HweTest::G, {7, 0, 3}, 0.05), std::optional<bool>(true));
    EXPECT_FALSE(rejects(HweTest::G, {10, 0, 0}, 0.05));
    EXPECT_EQ(rejects(HweTest::X2, {7, 0, 3}, 0.05), std::optional<bool>(true));
    EXPECT_FALSE(rejects(HweTest::X2, {10, 0, 0}, 0.05));
    EXPECT_FALSE(rejects(HweTest::X2cc, {0, 0, 10}, 0.05));
}

TEST(HweTests, CriticalValues) {
    EXPECT_EQ(criticalValue(0.05), kCritical05);
    EXPECT_EQ(criticalValue(0.01), kCritical01);
    EXPECT_NEAR(static_cast<double>(criticalValue(0.1)), 2.705543454095404, 1e-13);
    EXPECT_NEAR(static_cast<double>(criticalValue(0.001)), 10.827566170662733, 1e-12);
    EXPECT_NEAR(static_cast<double>(criticalValue(0.5)), 0.454936423119572, 1e-13);
    EXPECT_NEAR(static_cast<double>(criticalValue(0.0499999)), 3.841459, 1e-5);
}

TEST(HweTests, NamesRoundTrip) {
    for (HweTest t : kAllTests) EXPECT_EQ(parseHweTest(hweTestName(t)), t);
    EXPECT_FALSE(parseHweTest("X2"));
    EXPECT_FALSE(parseHweTest(""));
}

TEST(NegativeF, FrequenciesAtTheLowestFAreSound) {
    for (double p : {0.01, 0.1, 0.4, 0.5, 0.6, 0.77, 0.99}) {
        const double lowest = -std::min(p, 1 - p) / std::max(p, 1 - p);
        for (double f : {lowest, lowest * (1 + 1e-13), lowest * (1 - 1e-13)}) {
            const GenotypeFrequencies fr = frequenciesOf(inbreeding(p, f));
            EXPECT_GE(fr.f11, 0) << p << " " << f;
            EXPECT_GE(fr.f22, 0) << p << " " << f;
            EXPECT_GT(fr.f12, 0);
            EXPECT_NEAR(static_cast<double>(fr.f11 + fr.f12 + fr.f22), 1, 1e-15);
            // The rarer homozygote is (nearly) gone.
            EXPECT_LT(std::min(fr.f11, fr.f22), 1e-12L);
        }
    }
    // Only heterozygotes at p 0.5, f -1: every sample is n of them, and
    // every test rejects it once n is large enough.
    const auto e = exactPower(inbreeding(0.5, -1), 30, everyTestAt({0.05}));
    for (std::size_t i = 0; i < e.size(); ++i) {
        const HweTest t = kAllTests[i];
        if (t == HweTest::GWindow) {
            EXPECT_EQ(e[i].testable, 0);  // no homozygote at all
            continue;
        }
        EXPECT_NEAR(e[i].testable, 1, 1e-12) << hweTestName(t);
        const bool deficit = t == HweTest::ExactDeficit || t == HweTest::ExactDeficitMidP;
        EXPECT_NEAR(e[i].power, deficit ? 0 : 1, 1e-12) << hweTestName(t);
    }
}

TEST(GivenAlleleCount, WeightedByTheAlleleCountsItSumsToThePower) {
    const auto tests = everyTestAt({0.05, 0.2});
    for (const ModelSetting& setting : models())
        for (std::uint32_t n : {1u, 2u, 5u, 16u, 41u}) {
            const Probabilities pr = probabilitiesOf(setting);
            std::vector<long double> testable(tests.size()), power(tests.size());
            for (std::uint32_t a = 0; a <= 2 * n; ++a) {
                long double pa = 0;  // P(a copies of A1)
                for (std::uint32_t h = a % 2; h <= std::min(a, 2 * n - a); h += 2)
                    pa += multinomial(n, (a - h) / 2, h, (2 * n - a - h) / 2, pr);
                const auto given = exactPowerGivenAlleleCount(setting, n, a, tests);
                ASSERT_EQ(given.size(), tests.size());
                for (std::size_t i = 0; i < tests.size(); ++i) {
                    EXPECT_LE(given[i].power, given[i].testable + 1e-15);
                    testable[i] += pa * given[i].testable;
                    power[i] += pa * given[i].power;
                }
            }
            const auto whole = exactPower(setting, n, tests);
            for (std::size_t i = 0; i < tests.size(); ++i) {
                EXPECT_NEAR(static_cast<double>(testable[i]), whole[i].testable, 3e-12)
                    << describe(setting, n) << " " << hweTestName(tests[i].test);
                EXPECT_NEAR(static_cast<double>(power[i]), whole[i].power, 3e-12)
                    << describe(setting, n) << " " << hweTestName(tests[i].test);
            }
        }
}

TEST(GivenAlleleCount, ImpossibleAndUntestableCountsAndTheExactSize) {
    const std::vector<TestLevel> exact{{HweTest::Exact, 0.05}, {HweTest::X2, 0.05}};
    // No heterozygotes: an odd allele count cannot occur.
    for (const ExactPower& e : exactPowerGivenAlleleCount(selection(0.5, 1, 0, 1), 10, 7, exact)) {
        EXPECT_EQ(e.testable, 0);
        EXPECT_EQ(e.power, 0);
        EXPECT_TRUE(std::isnan(e.conditionalPower));
    }
    // Only one allele: nothing to test.
    for (const ExactPower& e : exactPowerGivenAlleleCount(hw(0.3), 10, 0, exact)) {
        EXPECT_EQ(e.testable, 0);
        EXPECT_TRUE(std::isnan(e.conditionalPower));
    }
    // Under Hardy-Weinberg the exact test's power given a is its size given
    // a, whatever p: at most the level, and the same at every p.
    for (std::uint32_t a : {1u, 9u, 40u, 77u}) {
        const auto one = exactPowerGivenAlleleCount(hw(0.2), 60, a, exact);
        const auto other = exactPowerGivenAlleleCount(hw(0.7), 60, a, exact);
        EXPECT_NEAR(one[0].testable, 1, 1e-15);
        EXPECT_LE(one[0].power, 0.05 + 1e-12);
        EXPECT_NEAR(one[0].power, other[0].power, 1e-12) << a;
    }
    const auto beyond = exactPowerGivenAlleleCount(hw(0.3), 10, 21, exact);
    EXPECT_EQ(beyond[0].testable, 0);
    EXPECT_EQ(beyond[0].power, 0);
}

TEST(ExactPower, ARequestsResultDoesNotDependOnTheOthersAsked) {
    // G's testable probability is small here, so its sum needs a lower cut;
    // every other request must come out bit for bit as when asked alone.
    const auto tests = everyTestAt({0.05, 0.01});
    for (const ModelSetting& setting : {hw(0.01), selection(0.01, 0.001, 1, 1), hw(0.4)})
        for (std::uint32_t n : {5u, 40u}) {
            const auto together = exactPower(setting, n, tests);
            for (std::size_t i = 0; i < tests.size(); ++i) {
                const auto alone = exactPower(setting, n, std::span(tests).subspan(i, 1))[0];
                EXPECT_EQ(together[i].power, alone.power) << describe(setting, n);
                EXPECT_EQ(together[i].testable, alone.testable) << describe(setting, n);
            }
            const auto given = exactPowerGivenAlleleCount(setting, n, 3, tests);
            for (std::size_t i = 0; i < tests.size(); ++i)
                EXPECT_EQ(given[i].power, exactPowerGivenAlleleCount(
                                              setting, n, 3, std::span(tests).subspan(i, 1))[0]
                                              .power);
        }
}

// At biobank sizes the power of X2 against a departure F from the
// proportions approaches that of a noncentral chi-square with one degree of
// freedom and noncentrality n F^2: P((Z + sqrt(ncp))^2 > c). The departure
// is made to shrink as 1 / sqrt(n) (heterozygote miscalls alone take a share
// e of the heterozygotes and leave the allele frequency, so F = e), so the
// power stays away from 0 and 1 and the gap measures the approximation,
// which closes as O(1 / sqrt(n)).
TEST(ExactPower, X2ApproachesTheNoncentralChiSquareAtBiobankSizes) {
    constexpr double kNoncentrality = 8;
    const std::vector<TestLevel> x2{{HweTest::X2, 0.05}, {HweTest::X2, 1e-6}};
    auto upper = [](double z) { return std::erfc(z / std::sqrt(2.0)) / 2; };
    double lastGap[2] = {1, 1};
    for (std::uint32_t n : {10000u, 100000u, 1000000u}) {
        const double e = std::sqrt(kNoncentrality / n);
        const auto got = exactPower(miscalls(0.3, e, 0), n, x2);
        for (std::size_t i = 0; i < x2.size(); ++i) {
            const double c = std::sqrt(static_cast<double>(criticalValue(x2[i].level)));
            const double shift = std::sqrt(kNoncentrality);
            const double approx = upper(c - shift) + upper(c + shift);
            const double gap = std::fabs(got[i].power - approx);
            EXPECT_LT(gap, lastGap[i]) << "n " << n << " level " << x2[i].level;
            EXPECT_LT(gap, 3 / std::sqrt(static_cast<double>(n))) << "n " << n;
            EXPECT_LE(got[i].massLeftOut, 1e-12) << "n " << n;
            lastGap[i] = gap;
        }
    }
}

// Every test at the largest n: sound probabilities, the mass left out within
// its bound, and the decisions of the far tail (1e-6, 1e-300) never NaN.
TEST(ExactPower, HoldsItsBoundAtAMillionGenotypes) {
    const auto tests = everyTestAt({0.05, 1e-6, 1e-300});
    const auto got = exactPower(miscalls(0.05, 0.01, 0), 1000000, tests);
    for (std::size_t i = 0; i < tests.size(); ++i) {
        const std::string what =
            std::string(hweTestName(tests[i].test)) + " at " + std::to_string(tests[i].level);
        EXPECT_LE(got[i].massLeftOut, 1e-12) << what;
        EXPECT_GE(got[i].power, 0) << what;
        EXPECT_LE(got[i].power, got[i].testable) << what;
        EXPECT_NEAR(got[i].testable, 1, 1e-12) << what;
        EXPECT_FALSE(std::isnan(got[i].conditionalPower)) << what;
    }
    // A heterozygote deficit of 1% at p = 0.05 among 10^6: the deficit test
    // finds it at 1e-6 (X2's noncentrality n F^2 = 100), an excess test never.
    auto powerOf = [&](HweTest test, double level) {
        for (std::size_t i = 0; i < tests.size(); ++i)
            if (tests[i].test == test && tests[i].level == level) return got[i].power;
        return -1.0;
    };
    EXPECT_GT(powerOf(HweTest::ExactDeficit, 1e-6), 0.99);
    EXPECT_LT(powerOf(HweTest::ExactExcess, 1e-6), 1e-9);
}
