#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "engine/FastSampler.h"
#include "engine/Simulation.h"
#include "power/Parallel.h"
#include "power/PowerStudy.h"

namespace zyg {

PowerPoint simulatedPoint(const ModelSetting& model, std::uint32_t n, HweTest test, double level,
                          std::uint32_t nrep, std::uint32_t seed) {
    PowerPoint point;
    point.model = model;
    point.n = n;
    point.test = test;
    point.level = level;
    point.method = PowerMethod::Simulate;
    point.nrep = nrep;
    point.seed = seed;
    return point;
}

void fillSimulatedPoint(PowerPoint& point, std::uint32_t tested, std::uint32_t rejected,
                        std::uint32_t nrep) {
    const double reps = nrep;
    point.testedCount = tested;
    point.rejectedCount = rejected;
    point.testable = tested / reps;
    point.power = rejected / reps;
    point.conditionalPower =
        tested > 0 ? double(rejected) / double(tested) : std::numeric_limits<double>::quiet_NaN();
    const double pr = point.power;
    point.se = std::sqrt(pr * (1 - pr) / reps);
    // The Wilson score interval: sound at 0 and 1, where the normal one is not.
    constexpr double z = 1.959963984540054;
    const double z2 = z * z;
    const double centre = (pr + z2 / (2 * reps)) / (1 + z2 / reps);
    const double half =
        z * std::sqrt(pr * (1 - pr) / reps + z2 / (4 * reps * reps)) / (1 + z2 / reps);
    // The bounds are exact where the estimate is: no rounding residue at 0 or 1.
    point.low95 = rejected == 0 ? 0.0 : std::max(0.0, centre - half);
    point.high95 = rejected == nrep ? 1.0 : std::min(1.0, centre + half);
}

namespace {

std::vector<TestLevel> testLevels(const StudyRequest& request) {
    std::vector<TestLevel> out;
    for (HweTest t : request.tests)
        for (double level : request.levels) out.push_back({t, level});
    return out;
}

}  // namespace

std::vector<PowerPoint> simulatePoint(const ModelSetting& model, std::uint32_t n,
                                      const std::vector<HweTest>& tests,
                                      const std::vector<double>& levels, std::uint32_t replicates,
                                      std::uint32_t seed) {
    const bool x2On = std::find(tests.begin(), tests.end(), HweTest::X2) != tests.end();
    // The window's G decides g-window, and its counts go with g too, for the
    // results file (which holds the window's G).
    const bool gOn = std::any_of(tests.begin(), tests.end(), [](HweTest t) {
        return t == HweTest::G || t == HweTest::GWindow;
    });
    const GenotypeFrequencies frequencies = frequenciesOf(model);

    // The window's engine from the given seed; the program-wide seed stays
    // where the window left it.
    auto state = std::make_unique<SimulationState>();
    state->frequencies = frequencies;
    RunResult result;
    if (x2On || gOn) {
        RunOptions options;
        options.seed = seed;
        result = runSimulation({n, replicates, x2On, gOn}, *state, ".", nullptr, options);
    }

    std::vector<PowerPoint> out;
    // The samples again, for the tests the window does not compute: the same
    // generator from the same seed draws them to the last count.
    std::vector<GenotypeCounts> samples;
    const bool others = std::any_of(tests.begin(), tests.end(), [](HweTest t) {
        return t != HweTest::X2 && t != HweTest::GWindow;
    });
    if (others) {
        samples.reserve(replicates);
        // The engine's vector sampler, which draws what referenceSampler draws.
        const SampleCounter draw(drawThresholds(frequencies));
        const SeedJump nextSample = seedJump(n);
        std::uint32_t at = seed;
        for (std::uint32_t r = 0; r < replicates; ++r) {
            samples.push_back(draw(at, static_cast<std::uint16_t>(n)));
            at = nextSample.apply(at);
        }
    }

    for (HweTest test : tests)
        for (double level : levels) {
            PowerPoint point = simulatedPoint(model, n, test, level, replicates, seed);
            std::uint32_t tested = 0, rejected = 0;
            if (test == HweTest::G) {
                point.windowTested = result.g.ok;
                point.windowAbove05 = result.g.counts.above05;
                point.windowAbove01 = result.g.counts.above01;
            }
            if (test == HweTest::X2 || test == HweTest::GWindow) {
                const ReplicateTable& table = test == HweTest::X2 ? state->x2Table : state->gTable;
                const Extended critical = criticalValue(level);
                // A G that rounding made slightly negative is a computed G of 0.
                for (std::uint32_t r = 1; r <= replicates; ++r) {
                    const Extended s = table[r];
                    if (s == kNotComputable) continue;
                    ++tested;
                    rejected += s > critical;
                }
                const TestOutcome& outcome = test == HweTest::X2 ? result.x2 : result.g;
                point.windowTested = outcome.ok;
                point.windowAbove05 = outcome.counts.above05;
                point.windowAbove01 = outcome.counts.above01;
            } else if (isExactFamily(test)) {
                // One conditional distribution per allele count, not per sample.
                std::unordered_map<std::uint32_t, std::optional<ExactRejection>> bounds;
                for (const GenotypeCounts& c : samples) {
                    const std::uint32_t a = 2 * std::uint32_t{c.o11} + c.o12;
                    auto it = bounds.find(a);
                    if (it == bounds.end())
                        it = bounds.emplace(a, exactRejection(test, n, a, level)).first;
                    if (!it->second) continue;
                    ++tested;
                    rejected += c.o12 <= it->second->low || c.o12 >= it->second->high;
                }
            } else {
                for (const GenotypeCounts& c : samples)
                    if (const auto d = rejects(test, c, level)) {
                        ++tested;
                        rejected += *d;
                    }
            }
            fillSimulatedPoint(point, tested, rejected, replicates);
            out.push_back(point);
        }
    return out;
}

std::vector<PowerPoint> runStudy(const StudyRequest& request, const StudyControl& control) {
    const std::vector<ModelSetting> settings = modelSettings(request);
    const std::vector<std::uint32_t>& sizes = request.n;
    const std::size_t total = settings.size() * sizes.size();
    std::vector<std::vector<PowerPoint>> results(total);
    const std::vector<TestLevel> tests = testLevels(request);
    auto cancelled = [&] { return control.cancel && control.cancel->load(); };
    auto unit = [&](std::size_t i) {
        const ModelSetting& model = settings[i / sizes.size()];
        const std::uint32_t n = sizes[i % sizes.size()];
        if (request.method == PowerMethod::Simulate && model.locus != LocusKind::Autosomal) {
            results[i] = simulateXPoint(model, n, request.tests, request.levels, request.replicates,
                                        request.seed);
            return;
        }
        if (request.method == PowerMethod::Simulate) {
            results[i] = simulatePoint(model, n, request.tests, request.levels, request.replicates,
                                       request.seed);
            return;
        }
        auto add = [&](const std::vector<ExactPower>& exact, std::optional<std::uint32_t> a) {
            for (std::size_t k = 0; k < tests.size(); ++k) {
                PowerPoint point;
                point.model = model;
                point.n = n;
                point.alleleCount = a;
                point.test = tests[k].test;
                point.level = tests[k].level;
                point.method = PowerMethod::Exact;
                point.testable = exact[k].testable;
                point.power = exact[k].power;
                point.conditionalPower = exact[k].conditionalPower;
                point.massLeftOut = exact[k].massLeftOut;
                results[i].push_back(point);
            }
        };
        if (request.alleleCounts.empty()) {
            add(settingPower(model, n, tests), std::nullopt);
            return;
        }
        for (std::uint32_t a : request.alleleCounts)
            add(exactPowerGivenAlleleCount(model, n, a, tests), a);
    };

    std::size_t reported = 0;
    auto report = [&](std::size_t done) {
        if (!control.progress) return;
        if (done == total || done >= reported + std::max<std::size_t>(1, total / 100)) {
            reported = done;
            control.progress(done, total);
        }
    };

    if (request.method == PowerMethod::Simulate) {
        // The engine spreads each run over the cores itself.
        for (std::size_t i = 0; i < total; ++i) {
            if (cancelled()) throw StudyCancelled();
            unit(i);
            report(i + 1);
        }
    } else {
        forEachInParallel(total,
                          control.threads ? control.threads : std::thread::hardware_concurrency(),
                          unit, report, control.cancel);
    }

    std::vector<PowerPoint> points;
    points.reserve(total * tests.size() * std::max<std::size_t>(1, request.alleleCounts.size()));
    for (auto& r : results) points.insert(points.end(), r.begin(), r.end());
    return points;
}

}  // namespace zyg
