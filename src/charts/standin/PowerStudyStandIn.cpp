// A plain implementation of the part of power/PowerStudy.h that the charts
// use, built only while the power-study library's own implementation is
// absent from the tree (see CMakeLists.txt): exact points one after another,
// simulated points with the window's sampler from the plan's seed.

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "engine/Sampling.h"
#include "power/PowerStudy.h"

namespace zyg {

namespace {

std::string number(double v) {
    if (std::isnan(v)) return {};
    std::array<char, 64> buffer{};
    const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), v);
    return ec == std::errc() ? std::string(buffer.data(), end) : std::string();
}

std::string number(const std::optional<double>& v) { return v ? number(*v) : std::string(); }

}  // namespace

std::string_view modelKey(GenotypeModel model) {
    switch (model) {
        case GenotypeModel::HardyWeinberg: return "hw";
        case GenotypeModel::Wahlund: return "wahlund";
        case GenotypeModel::Inbreeding: return "inbreeding";
        case GenotypeModel::Selection: return "selection";
    }
    return "hw";
}

std::string_view methodName(PowerMethod method) {
    return method == PowerMethod::Exact ? "exact" : "simulate";
}

std::vector<PowerPoint> simulatePoint(const ModelSpec& model, std::uint32_t n,
                                      const std::vector<HweTest>& tests,
                                      const std::vector<double>& levels,
                                      const SimulationPlan& plan) {
    const GenotypeFrequencies fr = frequenciesOf(model);
    const Extended c1 = fr.f11, c2 = fr.f11 + fr.f12;
    const std::size_t cells = tests.size() * levels.size();
    std::vector<std::uint32_t> tested(cells, 0), rejected(cells, 0);
    std::uint32_t seed = plan.seed;
    for (std::uint32_t i = 0; i < plan.nrep; ++i) {
        const GenotypeCounts sample = referenceSampler(seed, c1, c2, static_cast<std::uint16_t>(n));
        for (std::size_t t = 0; t < tests.size(); ++t)
            for (std::size_t l = 0; l < levels.size(); ++l) {
                const std::optional<bool> r = rejects(tests[t], sample, levels[l]);
                if (!r) continue;
                ++tested[t * levels.size() + l];
                if (*r) ++rejected[t * levels.size() + l];
            }
    }
    std::vector<PowerPoint> points;
    const double reps = plan.nrep;
    for (std::size_t t = 0; t < tests.size(); ++t)
        for (std::size_t l = 0; l < levels.size(); ++l) {
            const std::size_t k = t * levels.size() + l;
            PowerPoint p;
            p.model = model;
            p.n = n;
            p.test = tests[t];
            p.level = levels[l];
            p.method = PowerMethod::Simulate;
            p.testable = tested[k] / reps;
            p.power = rejected[k] / reps;
            p.conditionalPower = double(rejected[k]) / tested[k];
            p.se = std::sqrt(p.power * (1 - p.power) / reps);
            // Wilson score interval.
            const double z = 1.959963984540054, z2 = z * z;
            const double centre = (p.power + z2 / (2 * reps)) / (1 + z2 / reps);
            const double half = z *
                                std::sqrt(p.power * (1 - p.power) / reps + z2 / (4 * reps * reps)) /
                                (1 + z2 / reps);
            p.low95 = std::max(0.0, centre - half);
            p.high95 = std::min(1.0, centre + half);
            p.nrep = plan.nrep;
            p.seed = plan.seed;
            p.testedCount = tested[k];
            p.rejectedCount = rejected[k];
            points.push_back(p);
        }
    return points;
}

std::vector<PowerPoint> runStudy(const PowerGrid& grid, PowerMethod method,
                                 const SimulationPlan& plan, const StudyControl& control) {
    ModelSpec spec;
    spec.model = grid.model;
    spec.p = grid.p.at(0);
    spec.var = grid.var.at(0);
    spec.f = grid.f.at(0);
    spec.w11 = grid.w11.at(0);
    spec.w12 = grid.w12.at(0);
    spec.w22 = grid.w22.at(0);
    std::vector<TestLevel> asked;
    for (HweTest t : grid.tests)
        for (double l : grid.levels) asked.push_back({t, l});
    std::vector<PowerPoint> points;
    std::size_t done = 0;
    for (std::uint32_t n : grid.n) {
        if (control.cancel && control.cancel->load()) throw StudyCancelled();
        if (method == PowerMethod::Exact) {
            const std::vector<ExactPower> exact = exactPower(spec, n, asked);
            for (std::size_t k = 0; k < asked.size(); ++k) {
                PowerPoint p;
                p.model = spec;
                p.n = n;
                p.test = asked[k].test;
                p.level = asked[k].level;
                p.testable = exact[k].testable;
                p.power = exact[k].power;
                p.conditionalPower = exact[k].conditionalPower;
                p.massLeftOut = exact[k].massLeftOut;
                points.push_back(p);
            }
        } else {
            const std::vector<PowerPoint> sim =
                simulatePoint(spec, n, grid.tests, grid.levels, plan);
            points.insert(points.end(), sim.begin(), sim.end());
        }
        done += asked.size();
        if (control.progress) control.progress(done, grid.n.size() * asked.size());
    }
    return points;
}

std::vector<TargetCrossing> targetCrossings(const std::vector<PowerPoint>& points, double target) {
    std::vector<TargetCrossing> out;
    for (const PowerPoint& p : points) {
        TargetCrossing* c = nullptr;
        for (TargetCrossing& e : out)
            if (e.test == p.test && e.level == p.level) c = &e;
        if (!c) {
            out.push_back({p.model, p.test, p.level, std::nullopt, std::nullopt});
            c = &out.back();
        }
        if (p.power >= target) {
            if (!c->firstReaching) c->firstReaching = p.n;
            if (!c->staysFrom) c->staysFrom = p.n;
        } else {
            c->staysFrom.reset();
        }
    }
    return out;
}

std::string csvHeader() {
    return "model,p,var,f,w11,w12,w22,n,test,level,method,testable,power,conditional_power,se,"
           "low95,high95,nrep,seed,mass_left_out\n";
}

std::string csvRow(const PowerPoint& p) {
    const ModelSpec& m = p.model;
    return std::string(modelKey(m.model)) + ',' + number(m.p) + ',' + number(m.var) + ',' +
           number(m.f) + ',' + number(m.w11) + ',' + number(m.w12) + ',' + number(m.w22) + ',' +
           std::to_string(p.n) + ',' + std::string(hweTestName(p.test)) + ',' + number(p.level) +
           ',' + std::string(methodName(p.method)) + ',' + number(p.testable) + ',' +
           number(p.power) + ',' + number(p.conditionalPower) + ',' + number(p.se) + ',' +
           number(p.low95) + ',' + number(p.high95) + ',' + (p.nrep ? std::to_string(p.nrep) : "") +
           ',' + (p.seed ? std::to_string(*p.seed) : "") + ',' +
           (p.method == PowerMethod::Exact ? number(p.massLeftOut) : "") + '\n';
}

}  // namespace zyg
