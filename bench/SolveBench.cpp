// The solve section: --solve n for answers near n = 5000 (the exact test,
// X2 and G against inbreeding) and near n = 500000 (the exact test and X2),
// with the exact computations each made, and a parameter solve at n 5000.

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>

#include "BenchSections.h"
#include "power/Solve.h"

namespace zyg::bench {
namespace {

void solveSection() {
    std::printf("%-70s %10s %8s  %s\n", "case", "ms", "evals", "answer");
    ModelSetting m;
    m.model = GenotypeModel::Inbreeding;
    m.p = 0.3;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    auto solveN = [&](double f, HweTest test, unsigned threads) {
        m.f = f;
        SolveAnswer a;
        const double ms = timeMs([&] {
            a = solveSampleSize(m, {test, 0.05}, 0.8, 1, kMaxPowerSampleSize, nullptr, threads);
        });
        char name[120];
        std::snprintf(name, sizeof name,
                      "solve n, inbreeding p 0.3 f %g, %s at 0.05, 0.8, %u thread(s)", f,
                      std::string(hweTestName(test)).c_str(), threads);
        std::printf("%-70s %10.1f %8u  n %u, stays from %u\n", name, ms, a.evaluations,
                    a.firstN.value_or(0), a.staysN.value_or(0));
    };
    // Answers near n 5000, then near n 500000 (on every core only).
    for (HweTest test : {HweTest::Exact, HweTest::X2, HweTest::G})
        for (unsigned threads : {1u, cores})
            if (threads == 1 || cores > 1) solveN(0.04, test, threads);
    for (HweTest test : {HweTest::Exact, HweTest::X2}) solveN(0.004, test, cores);
    m.f = 0.04;
    SolveAnswer a;
    const double ms = timeMs([&] {
        a = solveParameter(m, *findSolvableParameter("f"), 5000, {HweTest::Exact, 0.05}, 0.8);
    });
    std::printf("%-70s %10.1f %8u  f %.4g\n", "solve f at n 5000, exact at 0.05, 0.8", ms,
                a.evaluations, a.value.value_or(0));
}

ZYG_BENCH_SECTION(45, "solve", solveSection);

}  // namespace
}  // namespace zyg::bench
