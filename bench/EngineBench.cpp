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

struct Outcome {
    std::unique_ptr<SimulationState> state = std::make_unique<SimulationState>();
    RunResult result;
    std::uint32_t seedAfter = 0;
};

constexpr std::uint32_t kSeed = 49530250;                     // 13:45:30.250 UTC
const GenotypeFrequencies kFrequencies{0.16L, 0.48L, 0.36L};  // Hardy-Weinberg, p = 0.4

double runOnce(const SimulationSettings& settings, RunEngine engine, Outcome& out) {
    out.state->frequencies = kFrequencies;
    setRandomSeed(kSeed);
    RunOptions options;
    options.engine = engine;
    const double ms =
        timeMs([&] { out.result = runSimulation(settings, *out.state, ".", nullptr, options); });
    out.seedAfter = randomSeed();
    return ms;
}

bool sameBits(const Extended& a, const Extended& b) {
    return std::memcmp(&a, &b, 10) == 0;  // the 80 bits of the extended real
}

bool sameOutcome(const TestOutcome& a, const TestOutcome& b) {
    return a.on == b.on && a.ok == b.ok && a.counts.above05 == b.counts.above05 &&
           a.counts.above01 == b.counts.above01 && a.proportion05 == b.proportion05 &&
           a.proportion01 == b.proportion01;
}

bool identical(const SimulationSettings& s, const Outcome& a, const Outcome& b) {
    const SimulationState &x = *a.state, &y = *b.state;
    const RunResult &r = a.result, &q = b.result;
    bool same = x.x2Ok == y.x2Ok && x.gOk == y.gOk && x.lastSample == y.lastSample &&
                sameBits(x.expected.e11, y.expected.e11) &&
                sameBits(x.expected.e12, y.expected.e12) &&
                sameBits(x.expected.e22, y.expected.e22) && a.seedAfter == b.seedAfter &&
                sameOutcome(r.x2, q.x2) && sameOutcome(r.g, q.g) && r.lastSample == q.lastSample &&
                sameBits(r.lastX2, q.lastX2) && sameBits(r.lastG, q.lastG) &&
                r.message.x2Part == q.message.x2Part && r.message.gPart == q.message.gPart;
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
