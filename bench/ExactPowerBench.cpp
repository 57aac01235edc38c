// The exact-power section: one point at the largest sample size for each test,
// for the first four and for all ten, one for the exact test at the tiny levels
// that need long double rows, a curve of 1000 sample sizes for X2 and G, and what a
// simulation of the largest replicate count costs at the same point; then
// biobank sizes: one point of x2, g, x2cc and exact at 0.05 and 1e-6 at n
// 10^3 to 10^6 (the growth with n) under a genotyping-error model, and a
// curve of 1000 sample sizes from 1000 to 10^6 (x2 and exact, one level) on
// all cores.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <vector>

#include "BenchSections.h"
#include "engine/ExactPower.h"
#include "engine/Simulation.h"
#include "engine/WorkerPool.h"
#include "power/PowerStudy.h"

namespace zyg::bench {
namespace {

ModelSetting benchModel() {
    ModelSetting m;
    m.model = GenotypeModel::Inbreeding;
    m.p = 0.4;
    m.f = 0.05;
    return m;
}

struct Timing {
    double min = 0, median = 0;
};

template <class F>
Timing repeat(int times, F&& f) {
    std::vector<double> ms;
    for (int i = 0; i < times; ++i) ms.push_back(timeMs(f));
    std::sort(ms.begin(), ms.end());
    return {ms.front(), ms[ms.size() / 2]};
}

// Quality control at biobank sizes: heterozygote miscalls of 1% at p 0.2.
void biobankSizes() {
    ModelSetting model;
    model.model = GenotypeModel::Error;
    model.p = 0.2;
    model.hetMiscall = 0.01;
    std::printf(
        "\nGenotyping error p 0.2, het miscall 0.01; x2, g, x2cc, exact at 0.05 and 1e-6\n");
    std::vector<TestLevel> levels;
    for (HweTest t : {HweTest::X2, HweTest::G, HweTest::X2cc, HweTest::Exact})
        for (double level : {0.05, 1e-6}) levels.push_back({t, level});
    double previous = 0;
    for (std::uint32_t n : {1000u, 10000u, 100000u, 1000000u}) {
        std::vector<ExactPower> result;
        const Timing t =
            repeat(n >= 1000000 ? 3 : 7, [&] { result = exactPower(model, n, levels); });
        char name[64];
        std::snprintf(name, sizeof name, "one point n %u: four tests, two levels", n);
        std::printf("%-50s %10.2f %10.2f  exact 1e-6 power %.6f, left out %.1e%s\n", name, t.min,
                    t.median, result[7].power, result[7].massLeftOut,
                    previous > 0
                        ? (" (x" + std::to_string(t.median / previous).substr(0, 4) + ")").c_str()
                        : "");
        previous = t.median;
    }
    StudyRequest grid;
    grid.model = GenotypeModel::Error;
    grid.p = {0.2};
    grid.hetMiscall = {0.01};
    grid.n.clear();
    for (std::uint32_t n = 1000; n <= 1000000; n += 1000) grid.n.push_back(n);
    grid.tests = {HweTest::X2, HweTest::Exact};
    grid.levels = {1e-6};
    std::vector<PowerPoint> curve;
    const Timing t = repeat(1, [&] { curve = runStudy(grid, {}); });
    std::printf("%-50s %10.1f %10.1f  %zu sample sizes, %zu points\n",
                "curve n 1000:1000000:1000, x2 and exact, all cores", t.min, t.median,
                grid.n.size(), curve.size());
}

void exactPowerSection() {
    const ModelSetting model = benchModel();
    std::printf("Inbreeding p 0.4 f 0.05; levels 0.05 and 0.01; %u threads for curves\n",
                WorkerPool::coreCount());
    std::printf("%-50s %10s %10s  %s\n", "case", "min ms", "median ms", "result at 0.05");

    const std::pair<const char*, std::vector<HweTest>> points[] = {
        {"one point n 10000: x2", {HweTest::X2}},
        {"one point n 10000: g", {HweTest::G}},
        {"one point n 10000: x2cc", {HweTest::X2cc}},
        {"one point n 10000: exact", {HweTest::Exact}},
        {"one point n 10000: exact-midp", {HweTest::ExactMidP}},
        {"one point n 10000: exact-dost", {HweTest::ExactDost}},
        {"one point n 10000: exact-deficit", {HweTest::ExactDeficit}},
        {"one point n 10000: exact-excess", {HweTest::ExactExcess}},
        {"one point n 10000: exact-deficit-midp", {HweTest::ExactDeficitMidP}},
        {"one point n 10000: exact-excess-midp", {HweTest::ExactExcessMidP}},
        {"one point n 10000: all four tests",
         {HweTest::X2, HweTest::G, HweTest::X2cc, HweTest::Exact}},
        {"one point n 10000: all ten tests",
         std::vector<HweTest>(std::begin(kHweTests), std::end(kHweTests))},
        {"one point n 10000: exact at 1e-300 (long double)", {HweTest::Exact}},
    };
    double x2Power = 0;
    for (const auto& [name, tests] : points) {
        std::vector<TestLevel> levels;
        const bool tiny = std::string_view(name).find("1e-300") != std::string_view::npos;
        for (HweTest t : tests) {
            levels.push_back({t, tiny ? 1e-300 : 0.05});
            levels.push_back({t, tiny ? 1e-200 : 0.01});
        }
        std::vector<ExactPower> result;
        const Timing t = repeat(9, [&] { result = exactPower(model, 10000, levels); });
        if (tests.size() == 1 && tests[0] == HweTest::X2) x2Power = result[0].power;
        std::printf("%-50s %10.2f %10.2f  power %.9f, left out %.1e\n", name, t.min, t.median,
                    result[0].power, result[0].massLeftOut);
    }

    StudyRequest grid;
    grid.model = GenotypeModel::Inbreeding;
    grid.p = {0.4};
    grid.f = {0.05};
    grid.n.clear();
    for (std::uint32_t n = 10; n <= 10000; n += 10) grid.n.push_back(n);
    grid.tests = {HweTest::X2, HweTest::G};
    for (unsigned threads : {1u, 0u}) {
        StudyControl control;
        control.threads = threads;
        std::vector<PowerPoint> curve;
        const Timing t = repeat(3, [&] { curve = runStudy(grid, control); });
        char name[64];
        std::snprintf(name, sizeof name, "curve n 10:10000:10, x2 and g, %s",
                      threads == 1 ? "1 thread" : "all cores");
        std::printf("%-50s %10.1f %10.1f  %zu sample sizes, %zu points\n", name, t.min, t.median,
                    grid.n.size(), curve.size());
    }

    prepareFastEngine();
    std::vector<PowerPoint> simulated;
    const Timing t = repeat(3, [&] {
        simulated = simulatePoint(model, 10000, {HweTest::X2, HweTest::G}, {0.05}, kMaxReplicates,
                                  49530250);
    });
    std::printf("%-50s %10.1f %10.1f  power %.4f, se %.4f (exact %.4f)\n",
                "simulation n 10000, 50000 replicates, x2+g", t.min, t.median, simulated[0].power,
                *simulated[0].se, x2Power);

    biobankSizes();
}

ZYG_BENCH_SECTION(15, "exact power", exactPowerSection);

}  // namespace
}  // namespace zyg::bench
