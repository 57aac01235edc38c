#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/Errors.h"
#include "engine/Models.h"
#include "engine/Random.h"
#include "engine/SampleStatistics.h"
#include "engine/Sampling.h"
#include "engine/Simulation.h"
#include "engine/StatisticCache.h"

using namespace zyg;

namespace {

// Records what a run tells its observer, in order.
class RecordingObserver final : public RunObserver {
public:
    std::vector<std::string> events;
    std::vector<ReplicateReport> reports;
    std::optional<GenotypeCounts> lastDrawn;

    void sampleDrawn(std::uint32_t i, const GenotypeCounts& s) override {
        events.push_back("sample " + std::to_string(i));
        lastDrawn = s;
    }
    void replicateDone(const ReplicateReport& r) override {
        events.push_back("done " + std::to_string(r.replicate));
        reports.push_back(r);
    }
    void progress(std::uint32_t done, std::uint32_t total) override {
        events.push_back("progress " + std::to_string(done) + "/" + std::to_string(total));
    }
};

struct TestRun {
    SimulationSettings settings;
    std::unique_ptr<SimulationState> state = std::make_unique<SimulationState>();
    RecordingObserver observer;
    RunResult result;

    TestRun(std::uint32_t n, std::uint32_t nrep, bool x2, bool g, GenotypeFrequencies f,
            std::uint32_t seed = 49530250) {
        settings = {n, nrep, x2, g};
        state->frequencies = f;
        state->expected = expectedCounts(f, static_cast<std::uint16_t>(n));
        setRandomSeed(seed);
    }
    void go(const RunOptions& options = {}) {
        result = runSimulation(settings, *state, ".", &observer, options);
    }
};

const GenotypeFrequencies kHW04{0.16L, 0.48L, 0.36L};

}  // namespace

TEST(Simulation, CriticalValuesCountStrictly) {
    EXPECT_EQ(kCritical05, 3.841459L);
    Significance s;
    countSignificance(kCritical05, s);
    EXPECT_EQ(s.above05, 0);
    countSignificance(std::nextafter(kCritical05, 100.0L), s);
    EXPECT_EQ(s.above05, 1);
    EXPECT_EQ(s.above01, 0);
    countSignificance(std::nextafter(kCritical01, 100.0L), s);
    EXPECT_EQ(s.above05, 2);
    EXPECT_EQ(s.above01, 1);
    countSignificance(kNotComputable, s);
    countSignificance(kCritical01, s);
    EXPECT_EQ(s.above01, 1);
    EXPECT_EQ(kCritical01, 6.634907L);
}

TEST(Simulation, ReplicatesAreConsecutiveStretchesOfOneSequence) {
    TestRun run(10, 3, true, true, kHW04);
    run.go();
    // Replicate 1 is the worked example from the clock seed 49530250.
    EXPECT_NEAR(static_cast<double>(run.state->x2Table[1]), 0.0226757, 5e-8);
    EXPECT_NEAR(static_cast<double>(run.state->gTable[1]), 0.0224268, 5e-8);
    // Replicate 3 continues the same generator after 20 draws.
    std::uint32_t seed = 49530250;
    GenotypeCounts last;
    for (int i = 0; i < 3; ++i) last = referenceSampler(seed, 0.16L, 0.64L, 10);
    EXPECT_EQ(run.state->lastSample, last);
    EXPECT_EQ(run.result.lastSample, last);
    EXPECT_EQ(randomSeed(), seed);
    EXPECT_EQ(run.state->x2Table[3], pearsonX2(last, sampleExpectedCounts(last, 10)));
    EXPECT_EQ(run.result.lastX2, run.state->x2Table[3]);
    EXPECT_EQ(run.result.lastG, run.state->gTable[3]);
    // The result's expectation is the last sample's own.
    const ExpectedCounts e = sampleExpectedCounts(last, 10);
    EXPECT_EQ(run.result.lastExpected.e11, e.e11);
    EXPECT_EQ(run.result.lastExpected.e22, e.e22);
}

TEST(Simulation, ShortRunsReportEveryReplicateLongRunsReportProgress) {
    TestRun small(20, 100, true, false, kHW04);
    small.go();
    ASSERT_EQ(small.observer.events.size(), 200u);
    EXPECT_EQ(small.observer.events[0], "sample 1");
    EXPECT_EQ(small.observer.events[1], "done 1");
    EXPECT_EQ(small.observer.events[199], "done 100");
    // The proportions so far: over the tested replicates, none for G (off).
    const ReplicateReport& r = small.observer.reports.back();
    ASSERT_TRUE(r.x2p05);
    EXPECT_EQ(*r.x2p05, *small.result.x2.proportion05);
    EXPECT_FALSE(r.gp05);
    EXPECT_EQ(r.g, kNotComputable);

    for (RunEngine engine : {RunEngine::Fast, RunEngine::Reference}) {
        TestRun large(20, 101, true, false, kHW04);
        RunOptions options;
        options.engine = engine;
        large.go(options);
        // The progress moves up to nrep in steps; the fast engine reports only
        // the last replicate, the reference every one.
        std::vector<std::string> progress;
        for (const std::string& event : large.observer.events)
            if (event.rfind("progress ", 0) == 0) progress.push_back(event);
        ASSERT_FALSE(progress.empty());
        EXPECT_LE(progress.size(), 102u);
        EXPECT_EQ(progress.back(), "progress 101/101");
        EXPECT_EQ(large.observer.reports.size(), engine == RunEngine::Fast ? 1u : 101u);
        EXPECT_EQ(large.observer.reports.back().replicate, 101u);
    }
}

TEST(Simulation, AnObserverIsOptional) {
    TestRun with(30, 150, true, true, kHW04), without(30, 150, true, true, kHW04);
    RunOptions options;
    options.seed = 777u;
    with.go(options);
    without.result = runSimulation(without.settings, *without.state, ".", nullptr, options);
    EXPECT_EQ(with.result.lastSample, without.result.lastSample);
    EXPECT_EQ(with.result.x2.counts.above05, without.result.x2.counts.above05);
    EXPECT_EQ(with.result.g.ok, without.result.g.ok);
}

TEST(Simulation, OnlyTheChosenTestsHaveOutcomes) {
    TestRun x2(50, 200, true, false, kHW04);
    x2.go();
    EXPECT_EQ(x2.state->gOk, 0);
    EXPECT_EQ(x2.state->x2Ok, 200);
    EXPECT_TRUE(x2.result.x2.on);
    EXPECT_EQ(x2.result.x2.ok, 200);
    EXPECT_TRUE(x2.result.x2.proportion01);
    EXPECT_FALSE(x2.result.g.on);
    EXPECT_FALSE(x2.result.g.proportion05);
    EXPECT_EQ(x2.result.lastG, kNotComputable);
    EXPECT_EQ(x2.result.message.x2Part, "");  // every replicate testable
    EXPECT_EQ(x2.result.message.gPart, "");

    TestRun g(50, 200, false, true, kHW04);
    g.go();
    EXPECT_EQ(g.state->x2Ok, 0);
    EXPECT_FALSE(g.result.x2.on);
    EXPECT_TRUE(g.result.g.on);
}

TEST(Simulation, ProportionsAreSignificantOverTested) {
    // Inbred population, f = 1: only homozygotes, X2 = n each time, G never.
    const GenotypeFrequencies inbred{0.4L, 0, 0.6L};
    TestRun run(30, 80, true, true, inbred);
    run.go();
    EXPECT_EQ(run.state->gOk, 0);
    EXPECT_EQ(run.result.x2.ok, 80);
    EXPECT_EQ(run.result.x2.counts.above01, 80);
    EXPECT_EQ(run.result.x2.proportion05, 1.0);
    EXPECT_EQ(run.result.lastG, kNotComputable);
    // No G proportion while nothing could be tested, neither on the way nor
    // at the end.
    EXPECT_FALSE(run.result.g.proportion05);
    EXPECT_FALSE(run.result.g.proportion01);
    for (const ReplicateReport& r : run.observer.reports) EXPECT_FALSE(r.gp05 || r.gp01);
    EXPECT_EQ(run.result.message.x2Part, "");
    EXPECT_EQ(run.result.message.gPart, "G could not be computed for any replicates");
}

TEST(Simulation, ZeroReplicatesStillEndTheRun) {
    TestRun run(100, 0, true, true, kHW04);
    run.state->x2Ok = 7;
    run.go();
    EXPECT_TRUE(run.observer.events.empty());
    EXPECT_EQ(run.result.nrep, 0u);
    EXPECT_EQ(run.result.lastExpected.e12, 48);  // still the model's expectation
    EXPECT_EQ(run.state->x2Ok, 0);
    EXPECT_EQ(run.result.x2.ok, 0);
    EXPECT_FALSE(run.result.x2.proportion05);  // nothing measured
    EXPECT_EQ(run.result.message.x2Part, "");
    EXPECT_EQ(run.result.message.gPart, "");
}

TEST(Simulation, EmptySamplesEndTheRunWithTheFloatingPointError) {
    TestRun run(0, 1000, true, true, kHW04);
    try {
        run.go();
        FAIL() << "expected an error";
    } catch (const CommandError& e) {
        EXPECT_STREQ(e.what(), "Invalid floating point operation");
    }
    // The empty sample was drawn, then its expectation failed.
    EXPECT_EQ(run.observer.events, std::vector<std::string>{"sample 1"});
    EXPECT_EQ(run.observer.lastDrawn, GenotypeCounts{});
}

TEST(Simulation, OversizedSettingsFailTheirRangeChecks) {
    TestRun tooLarge(10, 70000, true, false, kHW04);
    EXPECT_THROW(tooLarge.go(), CommandError);
    // 50001 replicates pass the narrowing but not the table index.
    TestRun beyondTable(1, 50001, true, false, kHW04);
    try {
        beyondTable.go();
        FAIL();
    } catch (const CommandError& e) {
        EXPECT_STREQ(e.what(), "Range check error");
    }
    EXPECT_EQ(beyondTable.observer.lastDrawn, beyondTable.state->lastSample);
    EXPECT_EQ(beyondTable.observer.reports.back().replicate, 50000u);
    const auto lastProgress =
        std::find_if(beyondTable.observer.events.rbegin(), beyondTable.observer.events.rend(),
                     [](const std::string& e) { return e[0] == 'p'; });
    EXPECT_EQ(*lastProgress, "progress 50000/50001");
}

TEST(Simulation, CompletionMessageTexts) {
    SimulationSettings s{10, 1000, true, true};
    CompletionMessage m = completionMessage(s, 950, 999, ".");
    EXPECT_EQ(m.x2Part, "X2 could only be computed for 950 out of 1000 replicates (95 %)");
    EXPECT_EQ(m.gPart, "G could only be computed for 999 out of 1000 replicates (99.9 %)");
    EXPECT_EQ(completionMessage(s, 950, 999, ",").gPart,
              "G could only be computed for 999 out of 1000 replicates (99,9 %)");
    m = completionMessage(s, 1000, 0, ".");
    EXPECT_EQ(m.x2Part, "");
    EXPECT_EQ(m.gPart, "G could not be computed for any replicates");
    s = {10, 3, true, false};
    EXPECT_EQ(completionMessage(s, 1, 0, ".").x2Part,
              "X2 could only be computed for 1 out of 3 replicates (33.3333333333333 %)");
    EXPECT_EQ(completionMessage(s, 2, 0, ".").x2Part,
              "X2 could only be computed for 2 out of 3 replicates (66.6666666666667 %)");
    EXPECT_EQ(completionMessage(s, 2, 0, ".").gPart, "");  // G off: never reported
    s = {10, 50000, false, true};
    EXPECT_EQ(completionMessage(s, 0, 1, ".").gPart,
              "G could only be computed for 1 out of 50000 replicates (0.002 %)");
    m = completionMessage(s, 0, 50000, ".");
    EXPECT_EQ(m.x2Part + m.gPart, "");
}

// A sample in exact Hardy-Weinberg proportions used to count as untested when
// rounding left its G a hair below 0; it is now a tested G of 0, in every way
// the engine computes G.
TEST(Simulation, ASampleThatFitsExactlyHasATestedGOfZero) {
    const GenotypeCounts fits{64, 32, 4};
    const Extended g = likelihoodRatioG(fits, sampleExpectedCounts(fits, 100));
    EXPECT_EQ(g, 0);
    EXPECT_FALSE(std::signbit(g));
    Extended fusedX2 = 5, fusedG = 5, cachedX2 = 5, cachedG = 5;
    sampleStatistics(fits, 100, true, true, fusedX2, fusedG);
    StatisticCache::forThisThread().statistics(fits, 100, true, true, cachedX2, cachedG);
    EXPECT_EQ(fusedG, 0);
    EXPECT_EQ(cachedG, 0);
    // A G that cannot be computed stays -1.
    const GenotypeCounts noHeterozygote{50, 0, 50};
    EXPECT_EQ(likelihoodRatioG(noHeterozygote, sampleExpectedCounts(noHeterozygote, 100)),
              kNotComputable);
}

TEST(Simulation, EverySampleWithAllGenotypesIsTestedByG) {
    // Hardy-Weinberg, p 0.4, n 100: a sample lacks a genotype with probability
    // about 2e-8, so all 20000 replicates are tested, including the many that
    // fit exactly (their G is 0 and never significant).
    for (RunEngine engine : {RunEngine::Fast, RunEngine::Reference}) {
        TestRun run(100, 20000, true, true, kHW04);
        RunOptions options;
        options.engine = engine;
        run.go(options);
        EXPECT_EQ(run.result.g.ok, 20000);
        EXPECT_EQ(run.result.x2.ok, 20000);
        EXPECT_EQ(run.result.message.gPart, "");
        int zeros = 0;
        for (std::uint32_t i = 1; i <= 20000; ++i) {
            EXPECT_GE(run.state->gTable[i], 0);
            zeros += run.state->gTable[i] == 0;
        }
        EXPECT_GT(zeros, 20);
    }
}

TEST(Simulation, ASeededRunLeavesTheProgramSeedAlone) {
    for (RunEngine engine : {RunEngine::Fast, RunEngine::Reference}) {
        RunOptions seeded;
        seeded.engine = engine;
        seeded.seed = 86399999u;
        TestRun own(40, 500, true, true, kHW04, 12345u);
        own.go(seeded);
        EXPECT_EQ(randomSeed(), 12345u);  // untouched, also by the fast engine's jump

        // The same run from the program-wide seed draws the same samples.
        TestRun shared(40, 500, true, true, kHW04, 86399999u);
        RunOptions unseeded;
        unseeded.engine = engine;
        shared.go(unseeded);
        EXPECT_EQ(own.result.lastSample, shared.result.lastSample);
        EXPECT_EQ(own.result.x2.counts.above05, shared.result.x2.counts.above05);
        EXPECT_EQ(own.result.g.counts.above01, shared.result.g.counts.above01);
        EXPECT_NE(randomSeed(), 86399999u);  // an unseeded run moves it on

        // Neither does a seeded run that fails.
        TestRun failing(0, 500, true, true, kHW04, 777u);
        EXPECT_THROW(failing.go(seeded), CommandError);
        EXPECT_EQ(randomSeed(), 777u);
    }
}

TEST(Simulation, RunsOnSeveralThreadsGetTheResultsOfRunsOneAfterAnother) {
    // Each thread runs its own studies with its own seeds and state while the
    // others do the same; the lock inside serializes them, so every result is
    // the one a lone run gives.
    constexpr int kThreads = 3, kRuns = 8;
    const auto study = [](int thread, int run, RunResult& result) {
        SimulationSettings settings{static_cast<std::uint32_t>(20 + 30 * thread),
                                    static_cast<std::uint32_t>(150 + 400 * run), true, true};
        auto state = std::make_unique<SimulationState>();
        state->frequencies = kHW04;
        RunOptions options;
        options.seed = static_cast<std::uint32_t>(1000 * thread + run);
        result = runSimulation(settings, *state, ".", nullptr, options);
    };
    RunResult alone[kThreads][kRuns], together[kThreads][kRuns];
    for (int t = 0; t < kThreads; ++t)
        for (int r = 0; r < kRuns; ++r) study(t, r, alone[t][r]);
    setRandomSeed(4242u);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRuns; ++r) study(t, r, together[t][r]);
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(randomSeed(), 4242u);
    for (int t = 0; t < kThreads; ++t)
        for (int r = 0; r < kRuns; ++r) {
            SCOPED_TRACE(std::to_string(t) + " " + std::to_string(r));
            EXPECT_EQ(together[t][r].lastSample, alone[t][r].lastSample);
            EXPECT_EQ(together[t][r].x2.ok, alone[t][r].x2.ok);
            EXPECT_EQ(together[t][r].x2.counts.above05, alone[t][r].x2.counts.above05);
            EXPECT_EQ(together[t][r].g.counts.above01, alone[t][r].g.counts.above01);
        }
}
