#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/Errors.h"
#include "engine/FastSampler.h"
#include "engine/Random.h"
#include "engine/SampleStatistics.h"
#include "engine/Sampling.h"
#include "engine/Simulation.h"
#include "engine/StatisticCache.h"

using namespace zyg;

namespace {

constexpr std::uint64_t kAll = std::uint64_t{1} << 32;

std::vector<SamplerKernel> availableKernels() {
    std::vector<SamplerKernel> kernels;
    for (SamplerKernel k : {SamplerKernel::Generic, SamplerKernel::Avx2, SamplerKernel::Avx512})
        if (kernelAvailable(k)) kernels.push_back(k);
    return kernels;
}

// The threshold that lies exactly on the uniform value k / 2^32.
Extended on(std::uint32_t k) { return static_cast<Extended>(k) * 0x1p-32L; }

// Everything a run tells its observer: the latest sample drawn and the
// latest replicate report (what a window's fields would hold), the number of
// each call, the progress positions and, for the comparisons of short runs,
// every call in order.
class RunRecord final : public RunObserver {
public:
    std::optional<GenotypeCounts> sample;
    std::optional<ReplicateReport> report;
    int samplesDrawn = 0, replicatesDone = 0;
    std::vector<std::uint32_t> positions;
    std::vector<std::string> log;
    bool logging = false;

    void sampleDrawn(std::uint32_t i, const GenotypeCounts& s) override {
        sample = s;
        ++samplesDrawn;
        note("sample " + std::to_string(i) + " " + text(s));
    }
    void replicateDone(const ReplicateReport& r) override {
        report = r;
        ++replicatesDone;
        note("done " + describe(r));
    }
    void progress(std::uint32_t done, std::uint32_t total) override {
        positions.push_back(done);
        note("progress " + std::to_string(done) + " of " + std::to_string(total));
    }

    static std::string text(const GenotypeCounts& s) {
        return std::to_string(s.o11) + "," + std::to_string(s.o12) + "," + std::to_string(s.o22);
    }
    static std::string bits(Extended v) {
        char b[48];
        std::snprintf(b, sizeof b, "%La", v);  // every bit of the extended real
        return b;
    }
    static std::string bits(const std::optional<double>& v) {
        if (!v) return "none";
        char b[40];
        std::snprintf(b, sizeof b, "%a", *v);
        return b;
    }
    static std::string describe(const ReplicateReport& r) {
        return std::to_string(r.replicate) + " " + text(r.sample) + " e " + bits(r.expected.e11) +
               " " + bits(r.expected.e12) + " " + bits(r.expected.e22) + " x2 " + bits(r.x2) +
               " g " + bits(r.g) + " " + bits(r.x2p05) + " " + bits(r.x2p01) + " " + bits(r.gp05) +
               " " + bits(r.gp01);
    }

private:
    void note(std::string s) {
        if (logging) log.push_back(std::move(s));
    }
};

bool sameBits(Extended a, Extended b) { return std::memcmp(&a, &b, 10) == 0; }

struct Outcome {
    std::unique_ptr<SimulationState> state = std::make_unique<SimulationState>();
    RunRecord observer;
    RunResult result;
    std::string error;  // the fault's message, empty when the run ended normally
    std::uint32_t seedAfter = 0;
};

struct Case {
    SimulationSettings settings;
    GenotypeFrequencies frequencies;
    std::uint32_t seed = 0;
};

void run(const Case& c, const RunOptions& options, Outcome& out, bool logging = false) {
    out.state->frequencies = c.frequencies;
    out.state->expected = {1.5L, 2.5L, 3.5L};  // what the refresh left
    out.state->x2Ok = out.state->gOk = 77;
    out.observer.logging = logging;
    setRandomSeed(c.seed);
    try {
        out.result = runSimulation(c.settings, *out.state, ",", &out.observer, options);
    } catch (const CommandError& e) {
        out.error = e.what();
    }
    out.seedAfter = randomSeed();
}

RunOptions fast(unsigned threads, SamplerKernel kernel = SamplerKernel::Auto) {
    RunOptions options;
    options.threads = threads;
    options.kernel = kernel;
    return options;
}

RunOptions reference() {
    RunOptions options;
    options.engine = RunEngine::Reference;
    return options;
}

bool sameOutcome(const TestOutcome& a, const TestOutcome& b) {
    return a.on == b.on && a.ok == b.ok && a.counts.above05 == b.counts.above05 &&
           a.counts.above01 == b.counts.above01 && a.proportion05 == b.proportion05 &&
           a.proportion01 == b.proportion01;
}

// Compares everything two runs leave: state, result, seed, fault and what an
// observer keeping the latest reports holds.
void expectSameRun(const Case& c, const Outcome& a, const Outcome& b, const std::string& what) {
    SCOPED_TRACE(what + ": n " + std::to_string(c.settings.n) + ", nrep " +
                 std::to_string(c.settings.nrep) + ", X2 " + std::to_string(c.settings.x2On) +
                 ", G " + std::to_string(c.settings.gOn) + ", seed " + std::to_string(c.seed));
    const SimulationState &x = *a.state, &y = *b.state;
    EXPECT_EQ(a.error, b.error);
    EXPECT_EQ(a.seedAfter, b.seedAfter);
    EXPECT_EQ(x.lastSample, y.lastSample);
    EXPECT_TRUE(sameBits(x.expected.e11, y.expected.e11) &&
                sameBits(x.expected.e12, y.expected.e12) &&
                sameBits(x.expected.e22, y.expected.e22));
    EXPECT_EQ(x.x2Ok, y.x2Ok);
    EXPECT_EQ(x.gOk, y.gOk);
    const RunResult &r = a.result, &s = b.result;
    EXPECT_EQ(r.nrep, s.nrep);
    EXPECT_TRUE(sameOutcome(r.x2, s.x2));
    EXPECT_TRUE(sameOutcome(r.g, s.g));
    EXPECT_EQ(r.lastSample, s.lastSample);
    EXPECT_TRUE(sameBits(r.lastExpected.e11, s.lastExpected.e11) &&
                sameBits(r.lastExpected.e12, s.lastExpected.e12) &&
                sameBits(r.lastExpected.e22, s.lastExpected.e22));
    EXPECT_TRUE(sameBits(r.lastX2, s.lastX2) && sameBits(r.lastG, s.lastG));
    EXPECT_EQ(r.message.x2Part, s.message.x2Part);
    EXPECT_EQ(r.message.gPart, s.message.gPart);
    const std::uint32_t stored = std::min(c.settings.nrep, kMaxReplicates);
    std::uint32_t differing = 0;
    for (std::uint32_t i = 1; i <= stored; ++i)
        if (!sameBits(x.x2Table[i], y.x2Table[i]) || !sameBits(x.gTable[i], y.gTable[i]))
            ++differing;
    EXPECT_EQ(differing, 0u);
    EXPECT_EQ(a.observer.sample, b.observer.sample);
    EXPECT_EQ(a.observer.report.has_value(), b.observer.report.has_value());
    if (a.observer.report && b.observer.report) {
        EXPECT_EQ(RunRecord::describe(*a.observer.report), RunRecord::describe(*b.observer.report));
    }
    const std::uint32_t none = 0xFFFFFFFFu;
    EXPECT_EQ(a.observer.positions.empty() ? none : a.observer.positions.back(),
              b.observer.positions.empty() ? none : b.observer.positions.back());
}

// What a fast run of more than 100 replicates tells its observer: a bounded,
// increasing run of progress positions, and only the replicates it does one
// at a time (here at most the last computed ahead and the one that failed).
void expectLongRunReports(const Outcome& fastRun, const std::string& what) {
    SCOPED_TRACE(what);
    const RunRecord& o = fastRun.observer;
    EXPECT_LE(o.replicatesDone, 1);
    EXPECT_LE(o.samplesDrawn, 2);
    EXPECT_LE(o.positions.size(), 102u);
    for (std::size_t k = 1; k < o.positions.size(); ++k)
        EXPECT_LT(o.positions[k - 1], o.positions[k]);
}

}  // namespace

TEST(FastSampler, ThresholdsAreTheExactCeilingClamped) {
    EXPECT_EQ(uniformThreshold(0), 0u);
    EXPECT_EQ(uniformThreshold(-0.5L), 0u);
    EXPECT_EQ(uniformThreshold(std::numeric_limits<Extended>::quiet_NaN()), 0u);
    EXPECT_EQ(uniformThreshold(std::numeric_limits<Extended>::denorm_min()), 1u);  // only k = 0
    EXPECT_EQ(uniformThreshold(0.25L), kAll / 4);  // u = 0.25 is not below 0.25
    EXPECT_EQ(uniformThreshold(std::nextafter(0.25L, 1.0L)), kAll / 4 + 1);
    EXPECT_EQ(uniformThreshold(1 - 0x1p-33L), kAll);  // above the largest u, 1 - 2^-32
    EXPECT_EQ(uniformThreshold(1 - 0x1p-32L), kAll - 1);
    EXPECT_EQ(uniformThreshold(1), kAll);
    EXPECT_EQ(uniformThreshold(7), kAll);
    EXPECT_EQ(uniformThreshold(std::numeric_limits<Extended>::infinity()), kAll);

    // Around random thresholds the integer test agrees with u < c.
    std::mt19937_64 random(11);
    for (int i = 0; i < 2000; ++i) {
        const Extended c = std::ldexp(static_cast<Extended>(random()), -64);
        const std::uint64_t t = uniformThreshold(c);
        ASSERT_GT(t, 0u);
        ASSERT_LT(t, kAll);
        EXPECT_TRUE(on(static_cast<std::uint32_t>(t - 1)) < c);
        EXPECT_FALSE(on(static_cast<std::uint32_t>(t)) < c);
    }

    // The second threshold never lies below the first; crossed or equal
    // frequencies leave no room for A1A2.
    EXPECT_EQ(drawThresholds(0.5L, 0.25L).below12, kAll / 2);
    EXPECT_EQ(drawThresholds(GenotypeFrequencies{0.16L, 0.48L, 0.36L}).below12,
              uniformThreshold(0.16L + 0.48L));
}

TEST(FastSampler, JumpAheadEqualsSteppingOneByOne) {
    std::mt19937 random(5);
    for (std::uint64_t steps :
         {0ull, 1ull, 2ull, 3ull, 31ull, 32ull, 127ull, 128ull, 129ull, 10000ull, 123457ull}) {
        const std::uint32_t seed = random();
        std::uint32_t stepped = seed;
        for (std::uint64_t i = 0; i < steps; ++i) stepped = stepSeed(stepped);
        EXPECT_EQ(seedJump(steps).apply(seed), stepped) << steps << " steps";
    }
    // The generator's period is 2^32: a jump of the whole period changes nothing.
    EXPECT_EQ(seedJump(kAll).apply(12345u), 12345u);
    EXPECT_EQ(seedJump(kAll + 7).apply(99u), seedJump(7).apply(99u));
}

TEST(FastSampler, EveryKernelDrawsTheReferenceSamples) {
    std::mt19937_64 random(2024);
    const auto uniformC = [&] { return std::ldexp(static_cast<Extended>(random()), -64); };
    int checked = 0;
    for (SamplerKernel kernel : availableKernels()) {
        SCOPED_TRACE(kernelName(kernel));
        for (int i = 0; i < 1500; ++i) {
            const std::uint32_t seed = static_cast<std::uint32_t>(random());
            // Sizes around every lane count, small sizes and any size.
            static constexpr std::uint16_t kEdges[] = {0,   1,   7,   8,    9,    31,   32,
                                                       33,  63,  64,  65,   127,  128,  129,
                                                       255, 256, 257, 1000, 9999, 10000};
            const std::uint16_t n = i % 3 == 0   ? kEdges[random() % std::size(kEdges)]
                                    : i % 3 == 1 ? static_cast<std::uint16_t>(random() % 300)
                                                 : static_cast<std::uint16_t>(random() % 10001);
            Extended c1 = uniformC(), c2 = c1 + uniformC() * (1 - c1);
            switch (i % 8) {
                case 0: c1 = 0; break;                    // no A1A1
                case 1: c2 = 1; break;                    // second threshold at 2^32
                case 2: c1 = c2 = 1.25L; break;           // both at 2^32
                case 3: c2 = c1; break;                   // no A1A2: equal
                case 4: c2 = c1 - uniformC() / 4; break;  // no A1A2: crossed
                case 5: {  // thresholds exactly on values that the sample draws
                    std::uint32_t s = seed;
                    for (int k = 0; k < 1 + static_cast<int>(random() % 5); ++k) s = stepSeed(s);
                    c1 = on(s);
                    c2 = on(stepSeed(stepSeed(s)));
                    break;
                }
                case 6:
                    c1 = -0.25L;
                    c2 = 0;
                    break;  // nothing below either
                default: break;
            }
            std::uint32_t referenceSeed = seed;
            const GenotypeCounts expected = referenceSampler(referenceSeed, c1, c2, n);
            ASSERT_EQ(fastSample(seed, drawThresholds(c1, c2), n, kernel), expected)
                << "seed " << seed << ", n " << n << ", c1 " << static_cast<double>(c1) << ", c2 "
                << static_cast<double>(c2);
            ++checked;
        }
    }
    EXPECT_GE(checked, 1500);
}

TEST(FastSampler, DrawSampleFastAdvancesTheProgramGenerator) {
    const GenotypeFrequencies f{0.3L, 0.5L, 0.2L};
    setRandomSeed(49530250);
    const GenotypeCounts a = drawSample(f, 777);
    const std::uint32_t after = randomSeed();
    setRandomSeed(49530250);
    EXPECT_EQ(drawSampleFast(f, 777), a);
    EXPECT_EQ(randomSeed(), after);
    EXPECT_EQ(drawSampleFast(f, 0), GenotypeCounts{});
    EXPECT_EQ(randomSeed(), after);
}

TEST(FastStatistics, SamePassGivesTheReferenceStatisticsBitForBit) {
    // Every sample of up to 40 genotypes (all incomputable cases among them),
    // then random samples of any size, through the cache and without it.
    std::vector<std::pair<GenotypeCounts, std::uint16_t>> samples;
    for (std::uint16_t n = 1; n <= 40; ++n)
        for (std::uint16_t a = 0; a <= n; ++a)
            for (std::uint16_t b = 0; a + b <= n; ++b)
                samples.push_back({{a, b, static_cast<std::uint16_t>(n - a - b)}, n});
    std::mt19937 random(3);
    for (int i = 0; i < 20000; ++i) {
        const std::uint16_t n = static_cast<std::uint16_t>(1 + random() % 10000);
        const std::uint16_t a = static_cast<std::uint16_t>(random() % (n + 1));
        const std::uint16_t b = static_cast<std::uint16_t>(random() % (n - a + 1));
        samples.push_back({{a, b, static_cast<std::uint16_t>(n - a - b)}, n});
    }
    samples.push_back({{64, 32, 4}, 100});  // G slightly negative through rounding
    StatisticCache& cache = StatisticCache::forThisThread();
    int differing = 0;
    for (int pass = 0; pass < 2; ++pass) {  // the second pass finds many in the cache
        for (const auto& [counts, n] : samples) {
            const ExpectedCounts e = sampleExpectedCounts(counts, n);
            const Extended x2 = pearsonX2(counts, e), g = likelihoodRatioG(counts, e);
            Extended fusedX2 = 5, fusedG = 5, cachedX2 = 5, cachedG = 5;
            sampleStatistics(counts, n, true, true, fusedX2, fusedG);
            cache.statistics(counts, n, true, true, cachedX2, cachedG);
            if (!sameBits(x2, fusedX2) || !sameBits(g, fusedG) || !sameBits(x2, cachedX2) ||
                !sameBits(g, cachedG))
                ++differing;
        }
    }
    EXPECT_EQ(differing, 0);
    // A statistic not asked for is left alone.
    Extended x2 = 5, g = 5;
    sampleStatistics({1, 2, 1}, 4, false, true, x2, g);
    EXPECT_EQ(x2, 5);
    EXPECT_EQ(g, 0);
}

// Random runs, the reference against the fast engine on one, two and three
// threads (one thread more than this machine's cores, too), and with each
// kernel.
TEST(FastRun, RandomRunsEqualTheReferenceResultByResult) {
    std::mt19937_64 random(77);
    const auto uniformC = [&] { return std::ldexp(static_cast<Extended>(random()), -64); };
    const std::vector<SamplerKernel> kernels = availableKernels();
    for (int i = 0; i < 48; ++i) {
        Case c;
        c.seed = static_cast<std::uint32_t>(random());
        const std::uint32_t nreps[] = {0, 1, 2, 99, 100, 101, 257, 1000, 2500};
        c.settings.nrep = nreps[random() % std::size(nreps)];
        const std::uint32_t maxN = c.settings.nrep > 1000 ? 600 : 10000;
        c.settings.n = i % 4 == 0 ? static_cast<std::uint32_t>(random() % 12)
                                  : static_cast<std::uint32_t>(random() % (maxN + 1));
        c.settings.x2On = i % 3 != 1;
        c.settings.gOn = i % 3 != 2;
        if (i % 16 == 5) c.settings.x2On = c.settings.gOn = false;  // only reachable directly
        Extended f11 = uniformC() * 0.6L, f12 = uniformC() * (1 - f11);
        switch (i % 6) {
            case 0: f12 = 0; break;                  // equal thresholds
            case 1: f12 = -uniformC() * f11; break;  // crossed thresholds
            case 2: f11 = 0; break;                  // first threshold at 0
            case 3: f12 = 1.5L - f11; break;         // second threshold at 2^32
            default: break;
        }
        c.frequencies = {f11, f12, 1 - f11 - f12};

        Outcome expected;
        run(c, reference(), expected);
        for (unsigned threads : {1u, 2u, 3u}) {
            Outcome got;
            const SamplerKernel kernel = kernels[(i + threads) % kernels.size()];
            run(c, fast(threads, kernel), got);
            expectSameRun(c, expected, got,
                          std::to_string(threads) + " threads, " + kernelName(kernel));
            if (c.settings.nrep > kProgressThreshold) expectLongRunReports(got, "long run");
        }
    }
}

TEST(FastRun, ShortRunsReportEveryReplicateAsTheReferenceDoes) {
    for (std::uint32_t nrep : {1u, 37u, 100u}) {
        Case c{{60, nrep, true, true}, {0.2L, 0.3L, 0.5L}, 4242u + nrep};
        Outcome expected, got;
        run(c, reference(), expected, true);
        run(c, fast(2), got, true);
        expectSameRun(c, expected, got, "short run");
        EXPECT_EQ(got.observer.log, expected.observer.log);  // every call, in the same order
        EXPECT_EQ(got.observer.replicatesDone, static_cast<int>(nrep));
        EXPECT_TRUE(got.observer.positions.empty());
    }
}

TEST(FastRun, LongRunsReportProgressInStepsAndTheLastReplicate) {
    Case c{{200, 20000, true, true}, {0.16L, 0.48L, 0.36L}, 86399999u};
    Outcome expected, got;
    run(c, reference(), expected);
    run(c, fast(0), got);
    expectSameRun(c, expected, got, "long run");
    expectLongRunReports(got, "long run");
    ASSERT_FALSE(got.observer.positions.empty());
    EXPECT_EQ(got.observer.positions.back(), 20000u);
    EXPECT_EQ(got.observer.replicatesDone, 1);
    EXPECT_EQ(got.observer.report->replicate, 20000u);
    // The reference reports every replicate, but its progress in steps too.
    EXPECT_EQ(expected.observer.replicatesDone, 20000);
    EXPECT_LE(expected.observer.positions.size(), 102u);
}

TEST(FastRun, FaultsLeaveWhatTheReferenceLeaves) {
    // Empty samples: the floating-point error of replicate 1 once its counts
    // 0, 0, 0 are drawn, in a long run and a short one.
    for (std::uint32_t nrep : {1000u, 50u}) {
        Case c{{0, nrep, true, true}, {0.16L, 0.48L, 0.36L}, 9u};
        Outcome expected, got;
        run(c, reference(), expected);
        run(c, fast(2), got);
        EXPECT_EQ(got.error, "Invalid floating point operation");
        expectSameRun(c, expected, got, "n = 0");
        EXPECT_EQ(got.observer.sample, GenotypeCounts{});
        EXPECT_FALSE(got.observer.report);
        EXPECT_TRUE(got.observer.positions.empty());
    }
    // Replicate 50001 has no table entry: 50000 replicates are counted, the
    // 50001st sample is drawn and reported, then the index check fails. Only
    // reachable by calling the engine directly.
    for (bool x2 : {true, false}) {
        Case c{{3, 50001, x2, !x2}, {0.25L, 0.5L, 0.25L}, 31337u};
        Outcome expected, got;
        run(c, reference(), expected);
        run(c, fast(2), got);
        EXPECT_EQ(got.error, "Range check error");
        expectSameRun(c, expected, got, "beyond the tables");
        expectLongRunReports(got, "beyond the tables");
        EXPECT_EQ(got.observer.positions.back(), 50000u);
        EXPECT_EQ(got.observer.report->replicate, 50000u);
        EXPECT_EQ(got.observer.samplesDrawn, 2);  // 50000, then 50001
    }
    // Without a test no table is touched, so every replicate runs.
    Case none{{5, 60000, false, false}, {0.25L, 0.5L, 0.25L}, 5u};
    Outcome expected, got;
    run(none, reference(), expected);
    run(none, fast(2), got);
    EXPECT_EQ(got.error, "");
    expectSameRun(none, expected, got, "no test");
}
