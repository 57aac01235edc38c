#pragma once

// The replicate loop of the Run command: nrep samples of n genotypes, both
// statistics for each, the counts of tested and significant replicates. A run
// returns its result; whoever started it decides what to show, and may listen
// to the run as it goes on through a RunObserver.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/Types.h"
#include "engine/FastSampler.h"

namespace zyg {

// The critical values of one degree of freedom, as the extended reals
// nearest to these decimals; a statistic strictly above them is significant.
inline constexpr Extended kCritical05 = 3.841459L;
inline constexpr Extended kCritical01 = 6.634907L;
// Runs of at most this many replicates report every replicate as it is done;
// longer runs report progress steps instead.
inline constexpr std::uint32_t kProgressThreshold = 100;
// A long run reports about this many progress positions.
inline constexpr std::uint32_t kProgressSteps = 100;

// The replicates of one test counted significant at the 5% and the 1% level.
struct Significance {
    std::uint16_t above05 = 0;
    std::uint16_t above01 = 0;
};

// Counts one statistic: strictly above each critical value is significant,
// so -1 (not computable) never counts.
void countSignificance(Extended statistic, Significance& counts);

// What one test did in a run.
struct TestOutcome {
    bool on = false;       // the test was chosen for the run
    std::uint16_t ok = 0;  // replicates the test could be computed for
    Significance counts;   // of those, the significant ones
    // above / ok at each level, rounded to double as a result field shows
    // them; nothing when the test was off or could test no replicate.
    std::optional<double> proportion05, proportion01;
};

// The message on the replicates that could not be tested, one part per test;
// a part is empty when its test was off or tested every replicate. A window
// shows the non-empty parts one per line.
struct CompletionMessage {
    std::string x2Part, gPart;
};

// Everything a run that ended normally leaves to show and save.
struct RunResult {
    std::uint32_t nrep = 0;
    TestOutcome x2, g;
    // The last replicate: its sample, the sample's own expected counts and
    // its statistics (kNotComputable when not computable or the test was off).
    // With no replicate, lastExpected is the model's expectation that the
    // state held before the run.
    GenotypeCounts lastSample;
    ExpectedCounts lastExpected;
    Extended lastX2 = kNotComputable, lastG = kNotComputable;
    CompletionMessage message;
};

// One replicate done.
struct ReplicateReport {
    std::uint32_t replicate = 0;  // 1 to nrep
    GenotypeCounts sample;
    ExpectedCounts expected;                           // the sample's own expectation
    Extended x2 = kNotComputable, g = kNotComputable;  // kNotComputable too when off
    // The proportions over the replicates so far, when the test is on and
    // has tested at least one replicate.
    std::optional<double> x2p05, x2p01, gp05, gp01;
};

// Listens to a run while it goes on; every call comes from the thread that
// called runSimulation, in replicate order, and must not start another run.
//
// A run of at most kProgressThreshold replicates reports every replicate:
// sampleDrawn, then replicateDone. A longer run reports progress: increasing
// positions, about kProgressSteps of them, the last one being the replicates
// done when the run ends or fails. In a long run the reference engine still
// reports every replicate; the fast engine reports only the replicates that
// it does one at a time (the last of those it computed ahead, and any that
// follow). So an observer that keeps the latest of each report holds the
// same values with either engine, whether the run ends or fails.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    // A replicate's sample is drawn; its statistics follow, unless a fault
    // ends the run first.
    virtual void sampleDrawn(std::uint32_t /*replicate*/, const GenotypeCounts& /*sample*/) {}
    virtual void replicateDone(const ReplicateReport& /*report*/) {}
    virtual void progress(std::uint32_t /*done*/, std::uint32_t /*total*/) {}
};

// How a run computes its replicates. Both engines give the same samples,
// statistics, counts, seed and result; they differ in speed and in how often
// a long run reports its replicates.
enum class RunEngine {
    // Samples drawn many at a time with integer thresholds and split over the
    // cores; the counting follows replicate after replicate.
    Fast,
    // The plain sequential loop.
    Reference,
};

struct RunOptions {
    RunEngine engine = RunEngine::Fast;
    unsigned threads = 0;  // threads for the fast engine; 0 means one per core
    SamplerKernel kernel = SamplerKernel::Auto;
    // When set, the run draws from this seed and leaves the program-wide seed
    // as it found it, so a study in the background never moves the window's
    // random sequence. When unset, the run starts from the program-wide seed
    // and leaves it after its last draw, as the window's runs do.
    std::optional<std::uint32_t> seed;
};

// Runs the replicates of one simulation from the settings and the
// frequencies in the state (the window's refresh puts them there), updates
// the state (its tables, ok counts, last sample and expected counts) and
// returns the result. The decimal separator is the one of the completion
// message's percentages.
//
// A fault inside a replicate ends the run at once with a CommandError; the
// observer has then heard everything up to the fault, and the program-wide
// seed (when used) stands after the last sample drawn.
//
// Safe to call from any thread: calls are serialized by an internal lock
// (the fast engine keeps its samples in static storage), so a call waits for
// a run that another thread has started. Each caller passes its own state;
// the state is large (two tables of 50000 reals), so allocate it on the heap.
RunResult runSimulation(const SimulationSettings& settings, SimulationState& state,
                        std::string_view decimalSeparator, RunObserver* observer = nullptr,
                        const RunOptions& options = {});

// Starts the fast engine's worker threads and makes every thread's statistic
// cache now, so that the first run does not wait for them. Optional: a run
// does both itself when they are missing.
void prepareFastEngine();

// The message parts for ok counts of a run of `settings`.
CompletionMessage completionMessage(const SimulationSettings& settings, std::uint16_t x2Ok,
                                    std::uint16_t gOk, std::string_view decimalSeparator);

}  // namespace zyg
