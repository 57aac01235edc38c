// The X-linked section: the four X tests on 10^4 samples of 1000 females and
// 1000 males (one thread), as zygomet-test meets them on a file of
// X-linked markers; then the exact power of x-exact and its mid-p at n 2000
// (half males) and of x-x2 and x-g at n 20000, one level each.

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "BenchSections.h"
#include "engine/XLinked.h"

namespace zyg::bench {
namespace {

// Samples near Hardy-Weinberg at every allele frequency, males at the
// females' frequency give or take 0.02.
std::vector<XSampleCounts> drawXSamples(std::size_t count, std::uint64_t nf, std::uint64_t nm) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(0.02, 0.98), shift(-0.02, 0.02),
        inbreeding(-0.02, 0.05);
    std::vector<XSampleCounts> samples;
    while (samples.size() < count) {
        const double p = unit(random), q = 1 - p, f = inbreeding(random);
        const double aa = std::max(0.0, p * p + f * p * q), bb = std::max(0.0, q * q + f * p * q);
        const double ab = std::max(0.0, 1 - aa - bb);
        XSampleCounts c;
        c.aa = std::binomial_distribution<std::uint64_t>(nf, std::min(1.0, aa))(random);
        c.ab = std::binomial_distribution<std::uint64_t>(nf - c.aa,
                                                         std::min(1.0, ab / (1 - aa)))(random);
        c.bb = nf - c.aa - c.ab;
        c.a = std::binomial_distribution<std::uint64_t>(
            nm, std::clamp(p + shift(random), 0.0, 1.0))(random);
        c.b = nm - c.a;
        samples.push_back(c);
    }
    return samples;
}

void observed() {
    const std::vector<XSampleCounts> samples = drawXSamples(10000, 1000, 1000);
    const std::pair<const char*, std::vector<XTest>> cases[] = {
        {"x-exact, x-exact-midp", {XTest::Exact, XTest::ExactMidP}},
        {"x-x2, x-g", {XTest::X2, XTest::G}},
        {"all four", {XTest::Exact, XTest::ExactMidP, XTest::X2, XTest::G}},
    };
    std::printf("%zu samples of 1000 females and 1000 males, one thread\n", samples.size());
    std::printf("%-28s %10s %14s\n", "tests", "best ms", "us per sample");
    for (const auto& [name, tests] : cases) {
        double best = 1e300, checksum = 0;
        for (int round = 0; round < 3; ++round) {
            checksum = 0;
            const double ms = timeMs([&] {
                for (const XSampleCounts& c : samples)
                    for (const XTestValue& v : testXSample(c, tests))
                        checksum += static_cast<double>(v.pValue.value_or(0));
            });
            best = std::min(best, ms);
        }
        std::printf("%-28s %10.1f %14.2f  (mean p %.4f)\n", name, best,
                    best * 1000 / static_cast<double>(samples.size()),
                    checksum / static_cast<double>(samples.size() * tests.size()));
    }
}

void power() {
    XModelSetting model;
    model.model = GenotypeModel::Inbreeding;
    model.p = 0.3;
    model.pMale = 0.35;
    model.f = 0.05;
    std::printf("\nExact power, inbreeding p 0.3, f 0.05, male frequency 0.35, level 0.05\n");
    // At n 20000 the males at the females' frequency and f 0.01, where the
    // power is not 1.
    struct Case {
        XTest test;
        XSampleSize size;
        double f, pMale;
    };
    const Case cases[] = {{XTest::Exact, {1000, 1000}, 0.05, 0.35},
                          {XTest::ExactMidP, {1000, 1000}, 0.05, 0.35},
                          {XTest::X2, {10000, 10000}, 0.01, 0.3},
                          {XTest::G, {10000, 10000}, 0.01, 0.3}};
    for (const Case& c : cases) {
        model.f = c.f;
        model.pMale = c.pMale;
        const XTestLevel asked[] = {{c.test, 0.05}};
        std::vector<ExactPower> result;
        double best = 1e300;
        for (int round = 0; round < 3; ++round)
            best = std::min(best, timeMs([&] { result = xExactPower(model, c.size, asked); }));
        char name[80];
        std::snprintf(name, sizeof name, "%s n %u (f %.2f, male %.2f)",
                      std::string(xTestName(c.test)).c_str(), c.size.females + c.size.males, c.f,
                      c.pMale);
        std::printf("%-42s %10.1f ms  power %.6f, left out %.1e\n", name, best, result[0].power,
                    result[0].massLeftOut);
    }
    model.f = 0.05;
    model.pMale = 0.35;
    const TestLevel females[] = {{HweTest::Exact, 0.05}};
    std::printf("%-42s %10s     power %.6f\n", "exact on the 1000 females alone", "",
                femaleOnlyPower(model, {1000, 1000}, females)[0].power);
}

void xLinkedSection() {
    observed();
    power();
}

ZYG_BENCH_SECTION(18, "X-linked tests and their exact power", xLinkedSection);

}  // namespace
}  // namespace zyg::bench
