// The engine section: the reference loop and the fast engine on the same seed
// for four sample sizes at the largest replicate count, with a check that
// both leave identical results.

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "BenchSections.h"
#include "engine/FastSampler.h"
#include "engine/Random.h"
#include "engine/Simulation.h"
#include "engine/WorkerPool.h"

namespace zyg::bench {
namespace {

// Keeps the last value of every field, as a window's fields would, at the cost
// of a store per write.
class LastValueDisplay final : public RunDisplay {
public:
    struct Field {
        int kind = 0;  // 0 never written, 1 integer, 2 real, 3 blank
        std::int32_t integer = 0;
        double real = 0;
        bool operator==(const Field&) const = default;
    };
    std::array<Field, 32> fields{};
    int progress = -1;
    std::string message;

    void showInteger(RunControl f, std::int32_t v) override { fields[index(f)] = {1, v, 0}; }
    void showFloat(RunControl f, double v) override { fields[index(f)] = {2, 0, v}; }
    void blank(RunControl f) override { fields[index(f)] = {3, 0, 0}; }
    void repaint(RunControl) override {}
    void setProgressPosition(int p) override { progress = p; }
    void setVisible(RunControl, bool) override {}
    void setMessage(const std::string& m) override { message = m; }
    void enableSaveCommands() override {}

private:
    static std::size_t index(RunControl f) { return static_cast<std::size_t>(f); }
};

struct Outcome {
    std::unique_ptr<SimulationState> state = std::make_unique<SimulationState>();
    LastValueDisplay display;
    RunCounts counts;
    std::uint32_t seedAfter = 0;
};

constexpr std::uint32_t kSeed = 49530250;                     // 13:45:30.250 UTC
const GenotypeFrequencies kFrequencies{0.16L, 0.48L, 0.36L};  // Hardy-Weinberg, p = 0.4

double runOnce(const SimulationSettings& settings, RunEngine engine, Outcome& out) {
    out.state->frequencies = kFrequencies;
    out.display = LastValueDisplay{};
    setRandomSeed(kSeed);
    RunOptions options;
    options.engine = engine;
    const double ms = timeMs(
        [&] { out.counts = runSimulation(settings, *out.state, out.display, ".", options); });
    out.seedAfter = randomSeed();
    return ms;
}

bool sameBits(const Extended& a, const Extended& b) {
    return std::memcmp(&a, &b, 10) == 0;  // the 80 bits of the extended real
}

bool identical(const SimulationSettings& s, const Outcome& a, const Outcome& b) {
    const SimulationState &x = *a.state, &y = *b.state;
    bool same =
        x.x2Ok == y.x2Ok && x.gOk == y.gOk && x.lastSample == y.lastSample &&
        sameBits(x.expected.e11, y.expected.e11) && sameBits(x.expected.e12, y.expected.e12) &&
        sameBits(x.expected.e22, y.expected.e22) && a.seedAfter == b.seedAfter &&
        a.counts.x2.above05 == b.counts.x2.above05 && a.counts.x2.above01 == b.counts.x2.above01 &&
        a.counts.g.above05 == b.counts.g.above05 && a.counts.g.above01 == b.counts.g.above01 &&
        a.display.fields == b.display.fields && a.display.progress == b.display.progress &&
        a.display.message == b.display.message;
    for (std::uint32_t i = 1; i <= s.nrep && same; ++i)
        same = sameBits(x.x2Table[i], y.x2Table[i]) && sameBits(x.gTable[i], y.gTable[i]);
    return same;
}

void engineSection() {
    prepareFastEngine();  // threads and caches made before any timing
    std::printf("kernel: %s, threads: %u; Hardy-Weinberg p = 0.4, X2 and G, seed %u\n",
                kernelName(resolveKernel(SamplerKernel::Auto)), WorkerPool::coreCount(), kSeed);
    std::printf("%-22s %13s %13s %13s %13s %9s  %s\n", "case", "reference ms", "fast first",
                "fast median", "fast min", "speedup", "results");
    constexpr int kFastRuns = 9;
    bool allIdentical = true;
    for (std::uint32_t n : {10000u, 1000u, 100u, 10u}) {
        const SimulationSettings settings{n, kMaxReplicates, true, true};
        Outcome reference, fast;
        const double referenceMs = runOnce(settings, RunEngine::Reference, reference);
        std::vector<double> times;
        bool same = true;
        for (int k = 0; k < kFastRuns; ++k) {
            times.push_back(runOnce(settings, RunEngine::Fast, fast));
            same = same && identical(settings, reference, fast);
        }
        const double first = times.front();
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2];
        allIdentical = allIdentical && same;
        char name[32];
        std::snprintf(name, sizeof name, "n %u, nrep %u", n, settings.nrep);
        std::printf("%-22s %13.1f %13.2f %13.2f %13.2f %8.0fx  %s\n", name, referenceMs, first,
                    median, times.front(), referenceMs / median, same ? "identical" : "DIFFERENT");
        std::fflush(stdout);
        if (n == 10000) largestRun() = {true, referenceMs, median};
    }
    std::printf(
        "fast: %d runs after the reference of each case, worker threads started beforehand;\n"
        "the first run of a case meets empty statistic caches for its sample size, the\n"
        "later ones find there the statistics of the counts that recur from run to run\n",
        kFastRuns);
    if (!allIdentical) std::printf("RESULTS DIFFER between the reference and the fast engine\n");
}

ZYG_BENCH_SECTION(10, "engine: reference loop against fast engine", engineSection);

}  // namespace
}  // namespace zyg::bench
