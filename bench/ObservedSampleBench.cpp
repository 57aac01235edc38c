// The sample-tests section: the p-values of zygomet-test for 10^5 samples
// drawn as bench/make-test-samples.py draws them (n from 100 to 20000, every
// allele frequency, near Hardy-Weinberg), on one thread: the exact family
// from one walk, X2, and all ten tests. The whole command on 10^6 such lines
// is timed with /usr/bin/time (DEVELOPERS.md).

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "BenchSections.h"
#include "engine/ObservedSample.h"

namespace zyg::bench {
namespace {

std::vector<SampleCounts> drawSamples(std::size_t count) {
    std::mt19937_64 random(1);
    std::uniform_int_distribution<std::uint64_t> sizes(100, 20000);
    std::uniform_real_distribution<double> unit(0, 1), inbreeding(-0.05, 0.1);
    std::vector<SampleCounts> samples;
    while (samples.size() < count) {
        const std::uint64_t n = sizes(random);
        const double p = unit(random), q = 1 - p, f = inbreeding(random);
        const double aa = std::max(0.0, p * p + f * p * q), bb = std::max(0.0, q * q + f * p * q);
        const double ab = std::max(0.0, 1 - aa - bb);
        SampleCounts c;
        c.aa = std::binomial_distribution<std::uint64_t>(n, std::min(1.0, aa))(random);
        const double rest = 1 - aa;
        c.ab = rest > 0 ? std::binomial_distribution<std::uint64_t>(
                              n - c.aa, std::min(1.0, ab / rest))(random)
                        : 0;
        c.bb = n - c.aa - c.ab;
        samples.push_back(c);
    }
    return samples;
}

void sampleTestsSection() {
    const std::vector<SampleCounts> samples = drawSamples(100000);
    const std::pair<const char*, std::vector<HweTest>> cases[] = {
        {"exact family (one walk)", {HweTest::Exact, HweTest::ExactMidP}},
        {"x2", {HweTest::X2}},
        {"exact, exact-midp, x2", {HweTest::Exact, HweTest::ExactMidP, HweTest::X2}},
        {"all ten tests",
         {HweTest::X2, HweTest::G, HweTest::X2cc, HweTest::Exact, HweTest::ExactMidP,
          HweTest::ExactDost, HweTest::ExactDeficit, HweTest::ExactExcess,
          HweTest::ExactDeficitMidP, HweTest::ExactExcessMidP}},
    };
    std::printf("%zu samples, n 100 to 20000, one thread\n", samples.size());
    std::printf("%-28s %10s %14s\n", "tests", "best ms", "ns per sample");
    for (const auto& [name, tests] : cases) {
        double best = 1e300, checksum = 0;
        for (int round = 0; round < 3; ++round) {
            checksum = 0;
            const double ms = timeMs([&] {
                for (const SampleCounts& c : samples)
                    for (const SampleTestValue& v : testSample(c, tests))
                        checksum += v.pValue.value_or(0);
            });
            best = std::min(best, ms);
        }
        std::printf("%-28s %10.1f %14.0f   (sum of p-values %.6g)\n", name, best,
                    best * 1e6 / static_cast<double>(samples.size()), checksum);
    }
}

}  // namespace

ZYG_BENCH_SECTION(17, "sample tests", sampleTestsSection);

}  // namespace zyg::bench
