#include "charts/PowerCurve.h"

#include <cmath>

#include "core/NumberText.h"

namespace zyg {

RequestProblem checkRequest(const PowerCurveRequest& r) {
    if (const std::string model = checkModel(r.setting); !model.empty())
        return {RequestField::Model, model};
    auto size = [](std::uint32_t n) { return n >= 1 && n <= kMaxPowerSampleSize; };
    const std::string range = " must be from 1 to " + std::to_string(kMaxPowerSampleSize) + ".";
    if (!size(r.nFrom))
        return {RequestField::NFrom, "n from is " + std::to_string(r.nFrom) + "; it" + range};
    if (!size(r.nTo))
        return {RequestField::NTo, "n to is " + std::to_string(r.nTo) + "; it" + range};
    if (r.nFrom > r.nTo)
        return {RequestField::NTo, "n to (" + std::to_string(r.nTo) + ") is smaller than n from (" +
                                       std::to_string(r.nFrom) +
                                       "); it must be at least as large."};
    if (r.nStep == 0) return {RequestField::NStep, "The step of n is 0; it must be at least 1."};
    if ((r.nTo - r.nFrom) / r.nStep + 1 > kMaxCurveSizes)
        return {RequestField::NStep, "The range has more than " + std::to_string(kMaxCurveSizes) +
                                         " sample sizes; choose a larger step."};
    if (r.tests.empty()) return {RequestField::Tests, "No test is chosen; choose at least one."};
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

std::optional<PowerCurve> computePowerCurve(const PowerCurveRequest& request,
                                            const std::atomic<bool>& cancel,
                                            const CurveProgress& progress) {
    PowerGrid grid;
    grid.model = request.setting.model;
    grid.p = {request.setting.p};
    grid.var = {request.setting.var};
    grid.f = {request.setting.f};
    grid.w11 = {request.setting.w11};
    grid.w12 = {request.setting.w12};
    grid.w22 = {request.setting.w22};
    grid.n = sampleSizes(request);
    grid.tests = request.tests;
    grid.levels = {request.level};
    SimulationPlan plan;
    plan.nrep = request.replicates;
    plan.seed = request.seed;
    StudyControl control;
    control.cancel = &cancel;
    if (progress) control.progress = progress;
    PowerCurve curve;
    curve.request = request;
    try {
        curve.points = runStudy(grid, request.method, plan, control);
    } catch (const StudyCancelled&) {
        return std::nullopt;
    }
    if (cancel.load()) return std::nullopt;
    return curve;
}

std::optional<std::uint32_t> smallestReaching(const PowerCurve& curve, HweTest test) {
    for (const TargetCrossing& c : targetCrossings(curve.points, curve.request.target))
        if (c.test == test) return c.firstReaching;
    return std::nullopt;
}

std::optional<std::uint32_t> reachedForGood(const PowerCurve& curve, HweTest test) {
    for (const TargetCrossing& c : targetCrossings(curve.points, curve.request.target))
        if (c.test == test) return c.staysFrom;
    return std::nullopt;
}

std::string testLabel(HweTest test) {
    switch (test) {
        case HweTest::X2: return "X2";
        case HweTest::G: return "G";
        case HweTest::X2cc: return "X2 (cc)";
        case HweTest::Exact: return "Exact";
        case HweTest::ExactMidP: return "Exact (mid-p)";
        case HweTest::ExactDost: return "Exact (doubled one-sided)";
        case HweTest::ExactDeficit: return "Exact (deficit)";
        case HweTest::ExactExcess: return "Exact (excess)";
        case HweTest::ExactDeficitMidP: return "Exact (deficit, mid-p)";
        case HweTest::ExactExcessMidP: return "Exact (excess, mid-p)";
    }
    return "X2";
}

double lowerEnd(const PowerPoint& p) { return p.low95.value_or(p.power); }
double upperEnd(const PowerPoint& p) { return p.high95.value_or(p.power); }

std::string curveTableText(const PowerCurve& curve) {
    std::string out = "n\ttest\tlevel\tP(testable)\tpower\tconditional power\tse\tlow95\thigh95\n";
    for (const PowerPoint& pt : curve.points) {
        auto optional = [](const std::optional<double>& v) { return v ? shortestText(*v) : ""; };
        out += std::to_string(pt.n) + '\t' + testLabel(pt.test) + '\t' + shortestText(pt.level) +
               '\t' + shortestText(pt.testable) + '\t' + shortestText(pt.power) + '\t' +
               shortestText(pt.conditionalPower) + '\t' + optional(pt.se) + '\t' +
               optional(pt.low95) + '\t' + optional(pt.high95) + '\n';
    }
    return out;
}

std::string curveCsv(const PowerCurve& curve) {
    std::string out = csvHeader();
    if (out.empty() || out.back() != '\n') out += '\n';
    for (const PowerPoint& pt : curve.points) {
        std::string row = csvRow(pt);
        if (row.empty() || row.back() != '\n') row += '\n';
        out += row;
    }
    return out;
}

}  // namespace zyg
