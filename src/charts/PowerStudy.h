#pragma once

// A power curve as data: the request (model, range of n, tests, level, method,
// target), its checks, the computation with progress and cancellation, the
// smallest n that reaches the target, and the study's text forms (the table
// the window copies and the CSV file it exports). No Qt.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Types.h"
#include "engine/ExactPower.h"

namespace zyg {

enum class PowerMethod { Exact, Simulate };

struct PowerCurveRequest {
    ModelSpec spec;
    std::uint32_t nFrom = 10, nTo = 200, nStep = 10;
    std::vector<HweTest> tests{HweTest::X2, HweTest::G};
    double level = 0.05;
    PowerMethod method = PowerMethod::Exact;
    std::uint32_t replicates = 1000;  // simulation only
    std::uint32_t seed = 1;           // simulation only
    double target = 0.80;
};

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

// One computed point of one test.
struct PowerPoint {
    HweTest test = HweTest::X2;
    std::uint32_t n = 0;
    double testable = 0;          // P(testable), or its simulated estimate
    double power = 0;             // P(testable and rejected)
    double conditionalPower = 0;  // P(rejected | testable); NaN when nothing is testable
    double se = 0;                // standard error of power; NaN for exact points
    double lower = 0, upper = 0;  // 95% interval of power (equal to power for exact points)
};

struct PowerCurve {
    PowerCurveRequest request;
    std::vector<PowerPoint> points;  // by n, then by the request's test order
};

// Called after each sample size with the number done and the total; returns
// false to stop.
using CurveProgress = std::function<bool(std::size_t done, std::size_t total)>;

// Computes every point of a sound request, or nothing when `cancel` is set or
// the progress callback asks to stop: a cancelled curve is never returned in
// part.
std::optional<PowerCurve> computePowerCurve(const PowerCurveRequest& request,
                                            const std::atomic<bool>& cancel,
                                            const CurveProgress& progress = {});

// The simulated power of the tests at one n: `replicates` samples drawn with the
// program's generator from `seed`. Returns the points in the tests' order, or
// nothing when `cancel` is set meanwhile.
std::optional<std::vector<PowerPoint>> simulatedPower(const ModelSpec& spec, std::uint32_t n,
                                                      const std::vector<HweTest>& tests,
                                                      double level, std::uint32_t replicates,
                                                      std::uint32_t seed,
                                                      const std::atomic<bool>* cancel = nullptr);

// The smallest n of the curve whose power reaches the target for this test.
std::optional<std::uint32_t> smallestReaching(const PowerCurve& curve, HweTest test);

// "X2", "G", "X2 (cc)", "Exact": the names people read in legends and tables.
std::string testLabel(HweTest test);

// "hw", "wahlund", "inbreeding", "selection".
std::string modelKey(GenotypeModel model);

// The table as tab-separated text with a header line, numbers with ".".
std::string curveTableText(const PowerCurve& curve);

// The CSV file: a header row and one row per point, numbers with "." at full
// precision whatever the locale.
std::string curveCsv(const PowerCurve& curve);

}  // namespace zyg
