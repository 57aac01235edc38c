// A power curve as the window asks for it (one model setting, a range of n,
// several tests, one level): its points against the exact engine, its
// simulated points, where it reaches a target, and its text forms.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <sstream>

#include "power/PowerStudy.h"

namespace zyg {
namespace {

StudyRequest inbreeding() {
    ModelSetting setting{GenotypeModel::Inbreeding, 0.4};
    setting.f = 0.1;
    StudyRequest r = StudyRequest::of(setting);
    r.n = {10, 20, 30, 40, 50, 60};
    r.tests = {HweTest::X2, HweTest::G, HweTest::Exact};
    r.levels = {0.05};
    return r;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, separator);) out.push_back(item);
    return out;
}

std::optional<std::uint32_t> firstReaching(const std::vector<PowerPoint>& points, double target,
                                           HweTest test) {
    for (const TargetCrossing& c : targetCrossings(points, target))
        if (c.test == test) return c.firstReaching;
    return std::nullopt;
}

std::optional<std::uint32_t> staysFrom(const std::vector<PowerPoint>& points, double target,
                                       HweTest test) {
    for (const TargetCrossing& c : targetCrossings(points, target))
        if (c.test == test) return c.staysFrom;
    return std::nullopt;
}

TEST(PowerCurve, ExactPointsAreTheEnginesValuesInOrder) {
    const StudyRequest r = inbreeding();
    std::size_t lastDone = 0, lastTotal = 0;
    StudyControl control;
    control.progress = [&](std::size_t done, std::size_t total) {
        EXPECT_GE(done, lastDone);
        lastDone = done;
        lastTotal = total;
    };
    const std::vector<PowerPoint> points = runStudy(r, control);
    EXPECT_EQ(lastDone, lastTotal);
    ASSERT_EQ(points.size(), 6u * 3u);
    std::size_t i = 0;
    for (std::uint32_t n : r.n) {
        std::vector<TestLevel> asked;
        for (HweTest t : r.tests) asked.push_back({t, r.levels[0]});
        const std::vector<ExactPower> exact = exactPower(modelSettings(r)[0], n, asked);
        for (std::size_t t = 0; t < asked.size(); ++t, ++i) {
            const PowerPoint& pt = points[i];
            EXPECT_EQ(pt.n, n);
            EXPECT_EQ(pt.test, r.tests[t]);
            EXPECT_EQ(pt.power, exact[t].power) << "n " << n << " test " << t;
            EXPECT_EQ(pt.testable, exact[t].testable);
        }
    }
}

TEST(PowerCurve, ACancelledComputationReturnsNothing) {
    StudyRequest r = inbreeding();
    std::atomic<bool> cancel{true};
    StudyControl stopped;
    stopped.cancel = &cancel;
    EXPECT_THROW(runStudy(r, stopped), StudyCancelled);
    // Cancelled while running, after the first sizes.
    std::atomic<bool> later{false};
    r.n.clear();
    for (std::uint32_t n = 10; n <= 400; n += 10) r.n.push_back(n);
    StudyControl midway;
    midway.cancel = &later;
    midway.progress = [&](std::size_t done, std::size_t) {
        if (done >= 3) later = true;
    };
    EXPECT_THROW(runStudy(r, midway), StudyCancelled);
}

TEST(PowerCurve, SimulatedPointsCarryTheirIntervalAndAgreeWithExactPower) {
    StudyRequest r = inbreeding();
    r.n = {80};
    r.method = PowerMethod::Simulate;
    r.replicates = 4000;
    r.seed = 12345;
    const auto a = runStudy(r);
    const auto b = runStudy(r);
    std::vector<TestLevel> asked;
    for (HweTest t : r.tests) asked.push_back({t, r.levels[0]});
    const std::vector<ExactPower> exact = exactPower(modelSettings(r)[0], 80, asked);
    for (std::size_t t = 0; t < r.tests.size(); ++t) {
        const PowerPoint& pt = a[t];
        EXPECT_EQ(pt.power, b[t].power) << "the same seed gives the same samples";
        ASSERT_TRUE(pt.se && pt.low95 && pt.high95);
        EXPECT_LE(*pt.low95, pt.power);
        EXPECT_GE(*pt.high95, pt.power);
        EXPECT_NEAR(pt.power, exact[t].power, 4 * *pt.se + 1e-3);
    }
}

TEST(PowerCurve, TheTargetIsReachedAtTheFirstNAndForGoodFromTheLastRise) {
    std::vector<PowerPoint> points;
    auto point = [](std::uint32_t n, HweTest t, double power) {
        PowerPoint p;
        p.n = n;
        p.test = t;
        p.power = power;
        return p;
    };
    // Power is saw-toothed in n: the first n that reaches the target counts,
    // even when a larger n falls back below it.
    points = {point(10, HweTest::X2, 0.5),  point(10, HweTest::G, 0.1),
              point(20, HweTest::X2, 0.8),  point(20, HweTest::G, 0.2),
              point(30, HweTest::X2, 0.79), point(30, HweTest::G, 0.3)};
    EXPECT_EQ(firstReaching(points, 0.8, HweTest::X2), 20u);
    EXPECT_EQ(staysFrom(points, 0.8, HweTest::X2), std::nullopt);
    EXPECT_EQ(firstReaching(points, 0.8, HweTest::G), std::nullopt);
    points.push_back(point(40, HweTest::X2, 0.85));
    points.push_back(point(40, HweTest::G, 0.9));
    EXPECT_EQ(firstReaching(points, 0.8, HweTest::X2), 20u);
    EXPECT_EQ(staysFrom(points, 0.8, HweTest::X2), 40u);
    EXPECT_EQ(staysFrom(points, 0.8, HweTest::G), 40u);
}

TEST(PowerCurve, TextFormsHaveOneLinePerPointAndTheCommandLinesColumns) {
    StudyRequest r = inbreeding();
    r.n = {10, 20};
    const std::vector<PowerPoint> points = runStudy(r);
    const std::vector<std::string> csv = split(studyCsv(points), '\n');
    ASSERT_EQ(csv.size(), 1u + 2 * 3);
    EXPECT_EQ(
        csv[0].rfind(
            "model,p,var,f,w11,w12,w22,n,test,level,method,testable,power,conditional_power,se", 0),
        0u);
    const std::vector<std::string> header = split(csv[0], ',');
    const auto column = [&](const char* name) {
        return static_cast<std::size_t>(std::find(header.begin(), header.end(), name) -
                                        header.begin());
    };
    for (std::size_t k = 1; k < csv.size(); ++k) {
        std::vector<std::string> cells = split(csv[k], ',');
        if (csv[k].back() == ',') cells.push_back("");
        ASSERT_EQ(cells.size(), header.size()) << csv[k];
        EXPECT_EQ(cells[column("model")], "inbreeding");
        EXPECT_EQ(cells[column("method")], "exact");
        EXPECT_TRUE(cells[column("se")].empty());
    }
    // Full precision: the power reads back to the same double.
    EXPECT_EQ(std::stod(split(csv[1], ',')[column("power")]), points[0].power);

    const std::vector<std::string> table = split(studyTabText(points), '\n');
    ASSERT_EQ(table.size(), 1u + 2 * 3);
    EXPECT_EQ(split(table[1], '\t')[0], "10");
    EXPECT_EQ(split(table[1], '\t')[1], "X2");
}

}  // namespace
}  // namespace zyg
