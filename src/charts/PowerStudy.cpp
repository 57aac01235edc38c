#include "charts/PowerStudy.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "engine/Sampling.h"

namespace zyg {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The shortest text that reads back as the same double, always with ".".
std::string number(double v) {
    if (std::isnan(v)) return {};
    std::array<char, 64> buffer{};
    const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), v);
    return ec == std::errc() ? std::string(buffer.data(), end) : std::string();
}

}  // namespace

RequestProblem checkRequest(const PowerCurveRequest& r) {
    if (const std::string model = checkModel(r.spec); !model.empty())
        return {RequestField::Model, model};
    auto size = [](std::uint32_t n) { return n >= 1 && n <= kMaxPowerSampleSize; };
    const std::string range = " must be from 1 to " + std::to_string(kMaxPowerSampleSize) + ".";
    if (!size(r.nFrom)) return {RequestField::NFrom, "The first n" + range};
    if (!size(r.nTo)) return {RequestField::NTo, "The last n" + range};
    if (r.nFrom > r.nTo)
        return {RequestField::NTo, "The last n (" + std::to_string(r.nTo) +
                                       ") is smaller than the first (" + std::to_string(r.nFrom) +
                                       ")."};
    if (r.nStep == 0) return {RequestField::NStep, "The step of n must be at least 1."};
    if ((r.nTo - r.nFrom) / r.nStep + 1 > 2000)
        return {RequestField::NStep,
                "The range has more than 2000 sample sizes; choose a larger step."};
    if (r.tests.empty()) return {RequestField::Tests, "Choose at least one test."};
    if (!(r.level > 0 && r.level <= 0.5))
        return {RequestField::Level, "The level must lie above 0 and at most 0.5."};
    if (r.method == PowerMethod::Simulate && (r.replicates < 1 || r.replicates > kMaxReplicates))
        return {RequestField::Replicates, "The number of replicates must be from 1 to " +
                                              std::to_string(kMaxReplicates) + "."};
    if (!(r.target > 0 && r.target < 1))
        return {RequestField::Target, "The target power must lie between 0 and 1."};
    return {};
}

std::vector<std::uint32_t> sampleSizes(const PowerCurveRequest& r) {
    std::vector<std::uint32_t> sizes;
    for (std::uint32_t n = r.nFrom; n <= r.nTo; n += r.nStep) {
        sizes.push_back(n);
        if (r.nTo - n < r.nStep) break;  // the next step would pass the end (or overflow)
    }
    return sizes;
}

std::optional<std::vector<PowerPoint>> simulatedPower(const ModelSpec& spec, std::uint32_t n,
                                                      const std::vector<HweTest>& tests,
                                                      double level, std::uint32_t replicates,
                                                      std::uint32_t seed,
                                                      const std::atomic<bool>* cancel) {
    const GenotypeFrequencies fr = frequenciesOf(spec);
    const Extended c1 = fr.f11;
    const Extended c2 = fr.f11 + fr.f12;
    std::vector<std::uint32_t> testable(tests.size(), 0), rejected(tests.size(), 0);
    for (std::uint32_t i = 0; i < replicates; ++i) {
        if (cancel && (i & 63) == 0 && cancel->load(std::memory_order_relaxed)) return std::nullopt;
        const GenotypeCounts sample = referenceSampler(seed, c1, c2, static_cast<std::uint16_t>(n));
        for (std::size_t t = 0; t < tests.size(); ++t) {
            const std::optional<bool> r = rejects(tests[t], sample, level);
            if (!r) continue;
            ++testable[t];
            if (*r) ++rejected[t];
        }
    }
    std::vector<PowerPoint> points;
    const double reps = replicates;
    for (std::size_t t = 0; t < tests.size(); ++t) {
        PowerPoint pt;
        pt.test = tests[t];
        pt.n = n;
        pt.testable = testable[t] / reps;
        pt.power = rejected[t] / reps;
        pt.conditionalPower = testable[t] ? double(rejected[t]) / testable[t] : kNaN;
        pt.se = std::sqrt(pt.power * (1 - pt.power) / reps);
        pt.lower = std::max(0.0, pt.power - 1.96 * pt.se);
        pt.upper = std::min(1.0, pt.power + 1.96 * pt.se);
        points.push_back(pt);
    }
    return points;
}

std::optional<PowerCurve> computePowerCurve(const PowerCurveRequest& request,
                                            const std::atomic<bool>& cancel,
                                            const CurveProgress& progress) {
    PowerCurve curve;
    curve.request = request;
    const std::vector<std::uint32_t> sizes = sampleSizes(request);
    std::vector<TestLevel> asked;
    for (HweTest t : request.tests) asked.push_back({t, request.level});
    // Each sample size of a simulated curve has its own stream, so a point
    // does not change when the range around it does.
    std::size_t done = 0;
    for (std::uint32_t n : sizes) {
        if (cancel.load()) return std::nullopt;
        if (request.method == PowerMethod::Exact) {
            const std::vector<ExactPower> exact = exactPower(request.spec, n, asked);
            for (std::size_t t = 0; t < asked.size(); ++t) {
                PowerPoint pt;
                pt.test = request.tests[t];
                pt.n = n;
                pt.testable = exact[t].testable;
                pt.power = exact[t].power;
                pt.conditionalPower = exact[t].conditionalPower;
                pt.se = kNaN;
                pt.lower = pt.upper = pt.power;
                curve.points.push_back(pt);
            }
        } else {
            const std::uint32_t seed = request.seed ^ (n * 2654435761u);
            const auto simulated = simulatedPower(request.spec, n, request.tests, request.level,
                                                  request.replicates, seed, &cancel);
            if (!simulated) return std::nullopt;
            curve.points.insert(curve.points.end(), simulated->begin(), simulated->end());
        }
        ++done;
        if (progress && !progress(done, sizes.size())) return std::nullopt;
    }
    if (cancel.load()) return std::nullopt;
    return curve;
}

std::optional<std::uint32_t> smallestReaching(const PowerCurve& curve, HweTest test) {
    for (const PowerPoint& pt : curve.points)
        if (pt.test == test && pt.power >= curve.request.target) return pt.n;
    return std::nullopt;
}

std::string testLabel(HweTest test) {
    switch (test) {
        case HweTest::X2: return "X2";
        case HweTest::G: return "G";
        case HweTest::X2cc: return "X2 (cc)";
        case HweTest::Exact: return "Exact";
    }
    return "X2";
}

std::string modelKey(GenotypeModel model) {
    switch (model) {
        case GenotypeModel::HardyWeinberg: return "hw";
        case GenotypeModel::Wahlund: return "wahlund";
        case GenotypeModel::Inbreeding: return "inbreeding";
        case GenotypeModel::Selection: return "selection";
    }
    return "hw";
}

std::string curveTableText(const PowerCurve& curve) {
    std::string out = "n\ttest\tlevel\tP(testable)\tpower\tconditional power\tse\n";
    for (const PowerPoint& pt : curve.points) {
        out += std::to_string(pt.n) + '\t' + testLabel(pt.test) + '\t' +
               number(curve.request.level) + '\t' + number(pt.testable) + '\t' + number(pt.power) +
               '\t' + number(pt.conditionalPower) + '\t' + number(pt.se) + '\n';
    }
    return out;
}

std::string curveCsv(const PowerCurve& curve) {
    const PowerCurveRequest& r = curve.request;
    const ModelSpec& s = r.spec;
    const bool wahlund = s.model == GenotypeModel::Wahlund;
    const bool inbreeding = s.model == GenotypeModel::Inbreeding;
    const bool selection = s.model == GenotypeModel::Selection;
    // The model's own parameters are written; the others stay empty.
    const std::string prefix =
        modelKey(s.model) + ',' + number(s.p) + ',' + (wahlund ? number(s.var) : "") + ',' +
        (inbreeding ? number(s.f) : "") + ',' + (selection ? number(s.w11) : "") + ',' +
        (selection ? number(s.w12) : "") + ',' + (selection ? number(s.w22) : "") + ',';
    const std::string method = r.method == PowerMethod::Exact ? "exact" : "simulate";
    std::string out =
        "model,p,var,f,w11,w12,w22,n,test,level,method,testable,power,conditional_power,se\n";
    for (const PowerPoint& pt : curve.points) {
        out += prefix + std::to_string(pt.n) + ',' + std::string(hweTestName(pt.test)) + ',' +
               number(r.level) + ',' + method + ',' + number(pt.testable) + ',' + number(pt.power) +
               ',' + number(pt.conditionalPower) + ',' + number(pt.se) + '\n';
    }
    return out;
}

}  // namespace zyg
