#include "engine/Simulation.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>

#include "core/NumberText.h"
#include "engine/Checked.h"
#include "engine/Random.h"
#include "engine/Sampling.h"
#include "engine/StatisticCache.h"
#include "engine/WorkerPool.h"

namespace zyg {

namespace {

// One run at a time: the fast engine's samples and chunk tallies are static.
std::mutex runMutex;

// What a run counted besides the ok counts of the SimulationState.
struct RunCounts {
    Significance x2, g;
};

// above / ok as a result field shows it, or nothing while no replicate could
// be tested.
std::optional<double> proportion(std::uint16_t above, std::uint16_t ok) {
    if (ok == 0) return std::nullopt;
    return toDouble(static_cast<Extended>(above) / static_cast<Extended>(ok));
}

// Tells the run's observer, if any, what the run does.
class Reporter {
public:
    Reporter(RunObserver* observer, const SimulationSettings& settings, std::uint32_t nrep)
        : observer_(observer),
          settings_(settings),
          total_(nrep),
          live_(nrep <= kProgressThreshold),
          step_(std::max<std::uint32_t>(1, (nrep + kProgressSteps - 1) / kProgressSteps)) {}

    void sampleDrawn(std::uint32_t i, const GenotypeCounts& sample) const {
        if (observer_) observer_->sampleDrawn(i, sample);
    }

    void replicateDone(std::uint32_t i, const GenotypeCounts& sample,
                       const ExpectedCounts& expected, Extended x2, Extended g,
                       const RunCounts& counts, const SimulationState& state) const {
        if (!observer_) return;
        ReplicateReport report;
        report.replicate = i;
        report.sample = sample;
        report.expected = expected;
        if (settings_.x2On) {
            report.x2 = x2;
            report.x2p05 = proportion(counts.x2.above05, state.x2Ok);
            report.x2p01 = proportion(counts.x2.above01, state.x2Ok);
        }
        if (settings_.gOn) {
            report.g = g;
            report.gp05 = proportion(counts.g.above05, state.gOk);
            report.gp01 = proportion(counts.g.above01, state.gOk);
        }
        observer_->replicateDone(report);
    }

    // Replicates done so far in a long run; passed on in steps.
    void progress(std::uint32_t done) {
        if (!observer_ || live_) return;
        position_ = done;
        if (!forwarded_ || done >= *forwarded_ + step_) {
            forwarded_ = done;
            observer_->progress(done, total_);
        }
    }

    // Passes on the last position if a step held it back.
    void finishProgress() {
        if (!observer_ || !position_ || position_ == forwarded_) return;
        forwarded_ = position_;
        observer_->progress(*position_, total_);
    }

private:
    RunObserver* observer_;
    const SimulationSettings& settings_;
    std::uint32_t total_;
    bool live_;
    std::uint32_t step_;
    std::optional<std::uint32_t> position_, forwarded_;
};

// Stores the statistic of replicate i and counts it as tested when it is 0 or
// more; returns the stored value.
Extended storeStatistic(ReplicateTable& table, std::uint32_t i, Extended statistic,
                        std::uint16_t& okCount) {
    table[i] = statistic;
    const Extended stored = table[i];
    if (stored >= 0) checkedIncrement(okCount);
    return stored;
}

std::string messagePart(const char* test, std::uint16_t okCount, std::uint32_t nrep,
                        std::string_view decimalSeparator) {
    if (okCount == 0) return std::string(test) + " could not be computed for any replicates";
    const Extended percent = (static_cast<Extended>(okCount) / static_cast<Extended>(nrep)) * 100;
    return std::string(test) + " could only be computed for " + std::to_string(okCount) +
           " out of " + std::to_string(nrep) + " replicates (" +
           formatGeneral(percent, 15, decimalSeparator) + " %)";
}

// The sequential reference loop over the replicates first to nrep: draw,
// test, count, one replicate after another, from `seed`. `counts` holds the
// significance counters of the replicates before first.
void referenceReplicates(const SimulationSettings& settings, SimulationState& state,
                         std::uint32_t& seed, Reporter& reporter, std::uint32_t first,
                         std::uint16_t nrep, RunCounts& counts) {
    const Extended c1 = state.frequencies.f11;
    const Extended c2 = state.frequencies.f11 + state.frequencies.f12;
    for (std::uint32_t i = first; i <= nrep; ++i) {
        const std::uint16_t n = narrowToU16(settings.n);
        state.lastSample = referenceSampler(seed, c1, c2, n);
        reporter.sampleDrawn(i, state.lastSample);
        state.expected = sampleExpectedCounts(state.lastSample, n);

        Extended x2 = kNotComputable, g = kNotComputable;
        if (settings.x2On)
            x2 = storeStatistic(state.x2Table, i, pearsonX2(state.lastSample, state.expected),
                                state.x2Ok);
        if (settings.gOn)
            g = storeStatistic(state.gTable, i, likelihoodRatioG(state.lastSample, state.expected),
                               state.gOk);

        if (settings.x2On) countSignificance(state.x2Table[i], counts.x2);
        if (settings.gOn) countSignificance(state.gTable[i], counts.g);

        reporter.replicateDone(i, state.lastSample, state.expected, x2, g, counts, state);
        reporter.progress(i);
    }
}

// The samples of the fast engine's current run, by replicate from 0.
std::array<GenotypeCounts, 65535> fastSamples;

// The counting of the replicates first + 1 to last, whose statistics are
// already in the tables: the ok counts and the significance counters, as the
// reference loop adds them up.
void countReplicates(const SimulationSettings& settings, SimulationState& state,
                     std::uint32_t first, std::uint32_t last, RunCounts& counts) {
    const Extended* const x2 = state.x2Table.data();
    const Extended* const g = state.gTable.data();
    for (std::uint32_t r = first; r < last; ++r) {
        if (settings.x2On) {
            if (x2[r] >= 0) checkedIncrement(state.x2Ok);
            countSignificance(x2[r], counts.x2);
        }
        if (settings.gOn) {
            if (g[r] >= 0) checkedIncrement(state.gOk);
            countSignificance(g[r], counts.g);
        }
    }
}

// Replicates per chunk of work handed to a thread: some tens of microseconds
// each, so that the threads share the end of the run evenly and the progress
// position can move, yet the hand-over costs little.
std::uint32_t chunkReplicates(std::uint16_t n, bool anyTest, std::uint32_t replicates) {
    const std::uint32_t costPerReplicate = n / 14 + (anyTest ? 150 : 10) + 20;  // nanoseconds
    const std::uint32_t byCost = std::max<std::uint32_t>(1, 60000 / costPerReplicate);
    const std::uint32_t byCount = (replicates + 1023) / 1024;
    return std::max(byCost, byCount);
}

// What a chunk of replicates adds to the ok counts and the significance
// counters. Counting is addition, so the chunks' sums, taken in order, give
// the counts of the replicate-by-replicate loop.
struct TestTally {
    std::uint32_t ok = 0, above05 = 0, above01 = 0;

    void add(Extended statistic) {
        ok += statistic >= 0;
        above05 += statistic > kCritical05;
        above01 += statistic > kCritical01;
    }
};

struct ChunkTally {
    TestTally x2, g;
};

// One tally per chunk; chunkReplicates never makes more than 1024 chunks.
std::array<ChunkTally, 1024> chunkTallies;

void checkedAdd(std::uint16_t& counter, std::uint32_t amount) {
    if (amount > 0xFFFFu - counter) throw CommandError(kIntegerOverflow);
    counter = static_cast<std::uint16_t>(counter + amount);
}

void addTally(const TestTally& tally, std::uint16_t& okCount, Significance& significance) {
    checkedAdd(okCount, tally.ok);
    checkedAdd(significance.above05, tally.above05);
    checkedAdd(significance.above01, tally.above01);
}

// The fast engine for the replicates 1 to nrep: samples, statistics and the
// chunks' counts on every core; then, in replicate order, the counts and the
// reports, leaving what the reference loop would leave. A run whose
// replicates can fault (an empty sample, a sample size beyond 16 bits,
// replicates beyond the tables) goes to the reference loop from the first
// replicate that can fault.
void fastReplicates(const SimulationSettings& settings, SimulationState& state,
                    std::uint32_t& runSeed, Reporter& reporter, std::uint16_t nrep,
                    RunCounts& counts, const RunOptions& options) {
    if (nrep == 0) return;
    if (settings.n == 0 || settings.n > 0xFFFF) {
        referenceReplicates(settings, state, runSeed, reporter, 1, nrep, counts);
        return;
    }
    const std::uint16_t n = static_cast<std::uint16_t>(settings.n);
    const bool x2On = settings.x2On, gOn = settings.gOn, anyTest = x2On || gOn;
    const std::uint32_t fastCount = anyTest ? std::min<std::uint32_t>(nrep, kMaxReplicates) : nrep;
    const bool eachReported = nrep <= kProgressThreshold;
    const std::uint32_t chunk = chunkReplicates(n, anyTest, fastCount);

    const std::uint32_t seed = runSeed;
    const SampleCounter sampler(drawThresholds(state.frequencies), options.kernel);
    const SeedJump nextSample = seedJump(n);
    Extended* const x2 = state.x2Table.data();
    Extended* const g = state.gTable.data();
    GenotypeCounts* const samples = fastSamples.data();

    const auto compute = [&](std::uint32_t first, std::uint32_t last) {
        std::uint32_t sampleSeed = seedJump(std::uint64_t{first} * n).apply(seed);
        StatisticCache& cache = StatisticCache::forThisThread();
        ChunkTally tally;
        // All samples of the chunk first, so that their places in the cache
        // have arrived by the time the statistics look them up.
        for (std::uint32_t r = first; r < last; ++r) {
            samples[r] = sampler(sampleSeed, n);
            sampleSeed = nextSample.apply(sampleSeed);
            if (anyTest) cache.prefetch(samples[r], n, x2On, gOn);
        }
        for (std::uint32_t r = first; anyTest && r < last; ++r) {
            const GenotypeCounts sample = samples[r];
            Extended x2Value, gValue;
            cache.statistics(sample, n, x2On, gOn, x2Value, gValue);
            if (x2On) {
                x2[r] = x2Value;
                tally.x2.add(x2Value);
            }
            if (gOn) {
                g[r] = gValue;
                tally.g.add(gValue);
            }
        }
        chunkTallies[first / chunk] = tally;
    };
    // Replicate i, counted, as the reference loop reports it.
    const auto report = [&](std::uint32_t i) {
        const GenotypeCounts& sample = samples[i - 1];
        reporter.sampleDrawn(i, sample);
        reporter.replicateDone(i, sample, sampleExpectedCounts(sample, n),
                               x2On ? x2[i - 1] : kNotComputable, gOn ? g[i - 1] : kNotComputable,
                               counts, state);
    };
    std::uint32_t counted = 0;
    const auto count = [&](std::uint32_t computed) {
        if (!eachReported) {
            for (std::uint32_t c = counted / chunk; c * chunk < computed; ++c) {
                addTally(chunkTallies[c].x2, state.x2Ok, counts.x2);
                addTally(chunkTallies[c].g, state.gOk, counts.g);
            }
            counted = computed;
            reporter.progress(computed);
            return;
        }
        for (; counted < computed; ++counted) {
            countReplicates(settings, state, counted, counted + 1, counts);
            report(counted + 1);
        }
    };

    unsigned threads = options.threads != 0 ? options.threads : WorkerPool::coreCount();
    if (std::uint64_t{fastCount} * (n + 200u) < 200000) threads = 1;  // not worth a wake-up
    orderedChunks(fastCount, chunk, threads, compute, count);

    state.lastSample = samples[fastCount - 1];
    state.expected = sampleExpectedCounts(state.lastSample, n);
    runSeed = seedJump(std::uint64_t{fastCount} * n).apply(seed);
    if (!eachReported) report(fastCount);
    if (fastCount < nrep)
        referenceReplicates(settings, state, runSeed, reporter, fastCount + 1, nrep, counts);
}

TestOutcome testOutcome(bool on, std::uint16_t ok, const Significance& counts) {
    TestOutcome outcome;
    outcome.on = on;
    outcome.ok = ok;
    outcome.counts = counts;
    if (on) {
        outcome.proportion05 = proportion(counts.above05, ok);
        outcome.proportion01 = proportion(counts.above01, ok);
    }
    return outcome;
}

}  // namespace

void countSignificance(Extended statistic, Significance& counts) {
    if (statistic > kCritical05) checkedIncrement(counts.above05);
    if (statistic > kCritical01) checkedIncrement(counts.above01);
}

RunResult runSimulation(const SimulationSettings& settings, SimulationState& state,
                        std::string_view decimalSeparator, RunObserver* observer,
                        const RunOptions& options) {
    const std::lock_guard<std::mutex> lock(runMutex);
    // The run draws from its own copy of the seed. A run on the program-wide
    // seed leaves it after its last draw, also when a fault ends the run.
    std::uint32_t seed = options.seed.value_or(randomSeed());
    struct LeaveSeed {
        const bool programWide;
        const std::uint32_t& seed;
        ~LeaveSeed() {
            if (programWide) setRandomSeed(seed);
        }
    } leaveSeed{!options.seed, seed};

    RunCounts counts;
    state.x2Ok = 0;
    state.gOk = 0;

    const std::uint16_t nrep = narrowToU16(settings.nrep);
    Reporter reporter(observer, settings, nrep);
    try {
        if (options.engine == RunEngine::Reference)
            referenceReplicates(settings, state, seed, reporter, 1, nrep, counts);
        else
            fastReplicates(settings, state, seed, reporter, nrep, counts, options);
    } catch (...) {
        reporter.finishProgress();
        throw;
    }
    reporter.finishProgress();

    RunResult result;
    result.nrep = settings.nrep;
    result.x2 = testOutcome(settings.x2On, state.x2Ok, counts.x2);
    result.g = testOutcome(settings.gOn, state.gOk, counts.g);
    result.lastSample = state.lastSample;
    result.lastExpected = state.expected;
    if (nrep > 0) {
        if (settings.x2On) result.lastX2 = state.x2Table[nrep];
        if (settings.gOn) result.lastG = state.gTable[nrep];
    }
    result.message = completionMessage(settings, state.x2Ok, state.gOk, decimalSeparator);
    return result;
}

void prepareFastEngine() {
    const std::lock_guard<std::mutex> lock(runMutex);
    StatisticCache::forThisThread();
    const unsigned helpers = WorkerPool::coreCount() - 1;
    if (helpers == 0) return;
    const auto makeCache = [] { StatisticCache::forThisThread(); };
    const FunctionRef<void()> task(makeCache);
    WorkerPool& pool = WorkerPool::instance();
    pool.start(helpers, task);
    pool.join();
}

CompletionMessage completionMessage(const SimulationSettings& settings, std::uint16_t x2Ok,
                                    std::uint16_t gOk, std::string_view decimalSeparator) {
    CompletionMessage message;
    if (settings.x2On && x2Ok < settings.nrep)
        message.x2Part = messagePart("X2", x2Ok, settings.nrep, decimalSeparator);
    if (settings.gOn && gOk < settings.nrep)
        message.gPart = messagePart("G", gOk, settings.nrep, decimalSeparator);
    return message;
}

}  // namespace zyg
