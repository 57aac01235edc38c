#pragma once

// The replicate loop of the Run command: nrep samples of n genotypes, both
// statistics for each, the counts of tested and significant replicates, and
// every field update going to whatever display drives the run.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Types.h"
#include "engine/FastSampler.h"

namespace zyg {

// The critical values of one degree of freedom, as the extended reals
// nearest to these decimals; a statistic strictly above them is significant.
inline constexpr Extended kCritical05 = 3.841459L;
inline constexpr Extended kCritical01 = 6.634907L;
// Runs of more than this many replicates show the progress bar; runs of at
// most this many repaint the X2 fields after every replicate.
inline constexpr std::uint32_t kProgressThreshold = 100;

// The replicates of one test counted significant at the 5% and the 1% level.
struct Significance {
    std::uint16_t above05 = 0;
    std::uint16_t above01 = 0;
};

// Counts one statistic: strictly above each critical value is significant,
// so -1 (not computable) never counts.
void countSignificance(Extended statistic, Significance& counts);

// The window's controls that a run writes, shows or hides.
enum class RunControl {
    o11AdvEdit,
    o12AdvEdit,
    o22AdvEdit,
    e11AdvEdit,
    e12AdvEdit,
    e22AdvEdit,
    X2AdvEdit,
    X2_05AdvEdit,
    X2_01AdvEdit,
    GAdvEdit,
    G_05AdvEdit,
    G_01AdvEdit,
    X2RTFLabel,
    GLabel,
    ProgressBar1,
    AbsolutePanel,
    ResultsGroupBox,
    MessageLabel,
};

// What the run needs of a window. The run knows nothing of widgets.
class RunDisplay {
public:
    virtual ~RunDisplay() = default;
    virtual void showInteger(RunControl field, std::int32_t value) = 0;
    virtual void showFloat(RunControl field, double value) = 0;
    virtual void blank(RunControl field) = 0;
    // Paints the control at once, without processing other events.
    virtual void repaint(RunControl control) = 0;
    virtual void setProgressPosition(int position) = 0;
    virtual void setVisible(RunControl control, bool visible) = 0;
    virtual void setMessage(const std::string& caption) = 0;
    virtual void enableSaveCommands() = 0;
};

// How a run computes its replicates. Both engines give the same samples,
// statistics, counts, seed and final display; they differ in speed and in
// what the display receives while a long run goes on.
enum class RunEngine {
    // Samples drawn many at a time with integer thresholds and split over the
    // cores; the counting and the display follow replicate after replicate.
    // In a run of more than kProgressThreshold replicates the hidden result
    // fields receive only their final values and the progress bar moves in at
    // most about 100 steps.
    Fast,
    // The plain sequential loop, every field written on every replicate.
    Reference,
};

struct RunOptions {
    RunEngine engine = RunEngine::Fast;
    unsigned threads = 0;  // threads for the fast engine; 0 means one per core
    SamplerKernel kernel = SamplerKernel::Auto;
};

// What a run counted besides the ok counts of the SimulationState.
struct RunCounts {
    Significance x2, g;
};

// Runs the replicates of one simulation from the settings and frequencies
// that the refresh has just put into place, and shows the results. A fault
// inside a replicate ends the run at once with a CommandError; the fields then
// keep what they were last given. Uses the fast engine. Not reentrant: the
// fast engine keeps its samples in static storage.
void runSimulation(const SimulationSettings& settings, SimulationState& state, RunDisplay& display,
                   std::string_view decimalSeparator);

// The same with a choice of engine, threads and sampler kernel.
RunCounts runSimulation(const SimulationSettings& settings, SimulationState& state,
                        RunDisplay& display, std::string_view decimalSeparator,
                        const RunOptions& options);

// Starts the fast engine's worker threads and makes every thread's statistic
// cache now, so that the first run does not wait for them. Optional: a run
// does both itself when they are missing.
void prepareFastEngine();

// The message on the replicates that could not be tested: the X2 part, the G
// part, both joined by a carriage return, or the empty text.
std::string completionMessage(const SimulationSettings& settings, const SimulationState& state,
                              std::string_view decimalSeparator);

}  // namespace zyg
