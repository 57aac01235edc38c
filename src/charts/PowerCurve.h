#pragma once

// A power curve as the window asks for it: one model, a range of n, the tests,
// one level, the method and a target. Checked here, computed by the power
// study library, and written out in its forms (the table the window copies and
// the CSV file it exports). No Qt.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Types.h"
#include "engine/ExactPower.h"
#include "power/PowerStudy.h"

namespace zyg {

struct PowerCurveRequest {
    ModelSetting setting;
    std::uint32_t nFrom = 10, nTo = 200, nStep = 10;
    std::vector<HweTest> tests{HweTest::X2, HweTest::G};
    double level = 0.05;
    PowerMethod method = PowerMethod::Exact;
    std::uint32_t replicates = 1000;  // simulation only
    std::uint32_t seed = 1;           // simulation only
    double target = 0.80;
};

// The largest number of sample sizes one curve may have.
inline constexpr std::size_t kMaxCurveSizes = 2000;

// Which input a problem concerns, so that a window can show its message next
// to that input.
enum class RequestField { None, Model, NFrom, NTo, NStep, Tests, Level, Replicates, Target };

struct RequestProblem {
    RequestField field = RequestField::None;
    std::string message;  // empty when the request is sound
};

// The first problem of the request, or a problem with an empty message.
RequestProblem checkRequest(const PowerCurveRequest& request);

// The sample sizes of the range: from, from + step, ... up to and including
// to when the step lands on it. The request must be sound.
std::vector<std::uint32_t> sampleSizes(const PowerCurveRequest& request);

struct PowerCurve {
    PowerCurveRequest request;
    std::vector<PowerPoint> points;  // by n, then by the request's test order
};

// Called with the points done and the points in all.
using CurveProgress = std::function<void(std::size_t done, std::size_t total)>;

// Computes every point of a sound request, or nothing when `cancel` is set
// before it ends: a cancelled curve is never returned in part.
std::optional<PowerCurve> computePowerCurve(const PowerCurveRequest& request,
                                            const std::atomic<bool>& cancel,
                                            const CurveProgress& progress = {});

// The smallest n of the curve whose power reaches the target for this test.
std::optional<std::uint32_t> smallestReaching(const PowerCurve& curve, HweTest test);

// The smallest n from which power stays at or above the target for the rest
// of the curve (power is saw-toothed in n, so this can lie beyond the first).
std::optional<std::uint32_t> reachedForGood(const PowerCurve& curve, HweTest test);

// "X2", "G", "X2 (cc)", "Exact": the names people read in legends and tables.
std::string testLabel(HweTest test);

// The lower and upper ends of a point's 95% interval; both the power itself
// for exact points.
double lowerEnd(const PowerPoint& point);
double upperEnd(const PowerPoint& point);

// The table as tab-separated text with a header line, numbers with ".".
std::string curveTableText(const PowerCurve& curve);

// The CSV file of the command line's --csv: a header row and one row per
// point.
std::string curveCsv(const PowerCurve& curve);

}  // namespace zyg
