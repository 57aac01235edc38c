#include "engine/Simulation.h"

#include <algorithm>
#include <array>

#include "core/NumberText.h"
#include "engine/Checked.h"
#include "engine/DeferredDisplay.h"
#include "engine/Random.h"
#include "engine/Sampling.h"
#include "engine/StatisticCache.h"
#include "engine/WorkerPool.h"

namespace zyg {

namespace {

struct TestFields {
    RunControl value, p05, p01, label;
};

constexpr TestFields kX2Fields{RunControl::X2AdvEdit, RunControl::X2_05AdvEdit,
                               RunControl::X2_01AdvEdit, RunControl::X2RTFLabel};
constexpr TestFields kGFields{RunControl::GAdvEdit, RunControl::G_05AdvEdit,
                              RunControl::G_01AdvEdit, RunControl::GLabel};

// A statistic's field shows it when it is positive and is blank otherwise.
void showStatistic(Extended stored, RunControl field, RunDisplay& display) {
    if (stored > 0)
        display.showFloat(field, toDouble(stored));
    else
        display.blank(field);
}

// Stores the statistic of replicate i, shows it when positive, and counts it
// as tested when it is 0 or more.
void storeStatistic(ReplicateTable& table, std::uint32_t i, Extended statistic,
                    std::uint16_t& okCount, RunControl field, RunDisplay& display) {
    table[i] = statistic;
    const Extended stored = table[i];
    showStatistic(stored, field, display);
    if (stored >= 0) checkedIncrement(okCount);
}

void showProportions(const Significance& s, std::uint16_t okCount, const TestFields& fields,
                     RunDisplay& display) {
    if (okCount == 0) return;
    display.showFloat(fields.p05,
                      toDouble(static_cast<Extended>(s.above05) / static_cast<Extended>(okCount)));
    display.showFloat(fields.p01,
                      toDouble(static_cast<Extended>(s.above01) / static_cast<Extended>(okCount)));
}

void showTestRow(const TestFields& fields, bool on, RunDisplay& display) {
    for (RunControl control : {fields.label, fields.value, fields.p05, fields.p01})
        display.setVisible(control, on);
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
// show, test, count and show the proportions, one replicate after another.
// `counts` holds the significance counters of the replicates before first.
void referenceReplicates(const SimulationSettings& settings, SimulationState& state,
                         RunDisplay& display, std::uint32_t first, std::uint16_t nrep,
                         RunCounts& counts) {
    for (std::uint32_t i = first; i <= nrep; ++i) {
        const std::uint16_t n = narrowToU16(settings.n);
        state.lastSample = drawSample(state.frequencies, n);
        display.showInteger(RunControl::o11AdvEdit, state.lastSample.o11);
        display.showInteger(RunControl::o12AdvEdit, state.lastSample.o12);
        display.showInteger(RunControl::o22AdvEdit, state.lastSample.o22);
        state.expected = sampleExpectedCounts(state.lastSample, n);

        if (settings.x2On)
            storeStatistic(state.x2Table, i, pearsonX2(state.lastSample, state.expected),
                           state.x2Ok, RunControl::X2AdvEdit, display);
        if (settings.gOn)
            storeStatistic(state.gTable, i, likelihoodRatioG(state.lastSample, state.expected),
                           state.gOk, RunControl::GAdvEdit, display);

        if (settings.x2On) countSignificance(state.x2Table[i], counts.x2);
        if (settings.gOn) countSignificance(state.gTable[i], counts.g);

        if (settings.x2On) showProportions(counts.x2, state.x2Ok, kX2Fields, display);
        if (settings.gOn) showProportions(counts.g, state.gOk, kGFields, display);

        display.setProgressPosition(static_cast<int>(i));
        if (nrep <= kProgressThreshold) {
            display.repaint(RunControl::X2AdvEdit);
            display.repaint(RunControl::X2_05AdvEdit);
            display.repaint(RunControl::X2_01AdvEdit);
        }
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

// The field writes of replicate i, in the reference loop's order, once it has
// been counted.
void showReplicate(const SimulationSettings& settings, const SimulationState& state,
                   std::uint32_t i, const GenotypeCounts& sample, const RunCounts& counts,
                   RunDisplay& display) {
    display.showInteger(RunControl::o11AdvEdit, sample.o11);
    display.showInteger(RunControl::o12AdvEdit, sample.o12);
    display.showInteger(RunControl::o22AdvEdit, sample.o22);
    if (settings.x2On) showStatistic(state.x2Table[i], RunControl::X2AdvEdit, display);
    if (settings.gOn) showStatistic(state.gTable[i], RunControl::GAdvEdit, display);
    if (settings.x2On) showProportions(counts.x2, state.x2Ok, kX2Fields, display);
    if (settings.gOn) showProportions(counts.g, state.gOk, kGFields, display);
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
// display, leaving what the reference loop would leave. A run whose
// replicates can fault (an empty sample, a sample size beyond 16 bits,
// replicates beyond the tables) goes to the reference loop from the first
// replicate that can fault.
void fastReplicates(const SimulationSettings& settings, SimulationState& state, RunDisplay& display,
                    std::uint16_t nrep, RunCounts& counts, const RunOptions& options) {
    if (nrep == 0) return;
    if (settings.n == 0 || settings.n > 0xFFFF) {
        referenceReplicates(settings, state, display, 1, nrep, counts);
        return;
    }
    const std::uint16_t n = static_cast<std::uint16_t>(settings.n);
    const bool x2On = settings.x2On, gOn = settings.gOn, anyTest = x2On || gOn;
    const std::uint32_t fastCount = anyTest ? std::min<std::uint32_t>(nrep, kMaxReplicates) : nrep;
    const bool eachShown = nrep <= kProgressThreshold;
    const std::uint32_t chunk = chunkReplicates(n, anyTest, fastCount);

    const std::uint32_t seed = randomSeed();
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
    std::uint32_t counted = 0;
    const auto count = [&](std::uint32_t computed) {
        if (!eachShown) {
            for (std::uint32_t c = counted / chunk; c * chunk < computed; ++c) {
                addTally(chunkTallies[c].x2, state.x2Ok, counts.x2);
                addTally(chunkTallies[c].g, state.gOk, counts.g);
            }
            counted = computed;
            display.setProgressPosition(static_cast<int>(computed));
            return;
        }
        for (; counted < computed; ++counted) {
            const std::uint32_t i = counted + 1;
            countReplicates(settings, state, counted, i, counts);
            state.lastSample = samples[counted];
            showReplicate(settings, state, i, state.lastSample, counts, display);
            display.setProgressPosition(static_cast<int>(i));
            display.repaint(RunControl::X2AdvEdit);
            display.repaint(RunControl::X2_05AdvEdit);
            display.repaint(RunControl::X2_01AdvEdit);
        }
    };

    unsigned threads = options.threads != 0 ? options.threads : WorkerPool::coreCount();
    if (std::uint64_t{fastCount} * (n + 200u) < 200000) threads = 1;  // not worth a wake-up
    orderedChunks(fastCount, chunk, threads, compute, count);

    state.lastSample = samples[fastCount - 1];
    state.expected = sampleExpectedCounts(state.lastSample, n);
    setRandomSeed(seedJump(std::uint64_t{fastCount} * n).apply(seed));
    if (!eachShown) showReplicate(settings, state, fastCount, state.lastSample, counts, display);
    if (fastCount < nrep)
        referenceReplicates(settings, state, display, fastCount + 1, nrep, counts);
}

// After the replicates: the sample's expectation, the result panels, the test
// rows, the completion message and the Save commands.
void finishRun(const SimulationSettings& settings, const SimulationState& state,
               RunDisplay& display, std::string_view decimalSeparator) {
    display.showFloat(RunControl::e11AdvEdit, toDouble(state.expected.e11));
    display.showFloat(RunControl::e12AdvEdit, toDouble(state.expected.e12));
    display.showFloat(RunControl::e22AdvEdit, toDouble(state.expected.e22));
    display.setVisible(RunControl::AbsolutePanel, true);
    display.setVisible(RunControl::ResultsGroupBox, true);
    display.setVisible(RunControl::MessageLabel, true);
    display.setVisible(RunControl::ProgressBar1, false);
    showTestRow(kX2Fields, settings.x2On, display);
    showTestRow(kGFields, settings.gOn, display);
    display.setMessage(completionMessage(settings, state, decimalSeparator));
    display.enableSaveCommands();
}

}  // namespace

void countSignificance(Extended statistic, Significance& counts) {
    if (statistic > kCritical05) checkedIncrement(counts.above05);
    if (statistic > kCritical01) checkedIncrement(counts.above01);
}

RunCounts runSimulation(const SimulationSettings& settings, SimulationState& state,
                        RunDisplay& display, std::string_view decimalSeparator,
                        const RunOptions& options) {
    if (settings.nrep > kProgressThreshold) display.setVisible(RunControl::ProgressBar1, true);

    RunCounts counts;
    state.x2Ok = 0;
    state.gOk = 0;

    const std::uint16_t nrep = narrowToU16(settings.nrep);
    if (options.engine == RunEngine::Reference) {
        referenceReplicates(settings, state, display, 1, nrep, counts);
    } else if (nrep <= kProgressThreshold) {
        fastReplicates(settings, state, display, nrep, counts, options);
    } else {
        DeferredDisplay deferred(display, nrep);
        try {
            fastReplicates(settings, state, deferred, nrep, counts, options);
        } catch (...) {
            deferred.flush();
            throw;
        }
        deferred.flush();
    }
    finishRun(settings, state, display, decimalSeparator);
    return counts;
}

void runSimulation(const SimulationSettings& settings, SimulationState& state, RunDisplay& display,
                   std::string_view decimalSeparator) {
    runSimulation(settings, state, display, decimalSeparator, RunOptions{});
}

void prepareFastEngine() {
    StatisticCache::forThisThread();
    const unsigned helpers = WorkerPool::coreCount() - 1;
    if (helpers == 0) return;
    const auto makeCache = [] { StatisticCache::forThisThread(); };
    const FunctionRef<void()> task(makeCache);
    WorkerPool& pool = WorkerPool::instance();
    pool.start(helpers, task);
    pool.join();
}

std::string completionMessage(const SimulationSettings& settings, const SimulationState& state,
                              std::string_view decimalSeparator) {
    std::string x2Part, gPart;
    if (settings.x2On && state.x2Ok < settings.nrep)
        x2Part = messagePart("X2", state.x2Ok, settings.nrep, decimalSeparator);
    if (settings.gOn && state.gOk < settings.nrep)
        gPart = messagePart("G", state.gOk, settings.nrep, decimalSeparator);
    if (!x2Part.empty() && !gPart.empty()) return x2Part + "\r" + gPart;
    return x2Part + gPart;
}

}  // namespace zyg
