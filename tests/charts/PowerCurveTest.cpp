// The power curve's request checks, its sample sizes, its computation against
// the exact engine, cancellation, and its text forms.
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <atomic>
#include <cmath>

#include "charts/PowerCurve.h"

namespace zyg {
namespace {

PowerCurveRequest inbreeding() {
    PowerCurveRequest r;
    r.setting.model = GenotypeModel::Inbreeding;
    r.setting.p = 0.4;
    r.setting.f = 0.1;
    r.nFrom = 10;
    r.nTo = 60;
    r.nStep = 10;
    r.tests = {HweTest::X2, HweTest::G, HweTest::Exact};
    return r;
}

TEST(PowerCurveRequest, EveryBadInputNamesItsField) {
    struct Case {
        const char* what;
        void (*spoil)(PowerCurveRequest&);
        RequestField field;
    };
    const Case cases[] = {
        {"from above to", [](PowerCurveRequest& r) { r.nFrom = 100, r.nTo = 50; },
         RequestField::NTo},
        {"step 0", [](PowerCurveRequest& r) { r.nStep = 0; }, RequestField::NStep},
        {"from 0", [](PowerCurveRequest& r) { r.nFrom = 0; }, RequestField::NFrom},
        {"to beyond the largest n", [](PowerCurveRequest& r) { r.nTo = kMaxPowerSampleSize + 1; },
         RequestField::NTo},
        {"too many sizes", [](PowerCurveRequest& r) { r.nFrom = 1, r.nTo = 10000, r.nStep = 1; },
         RequestField::NStep},
        {"no test", [](PowerCurveRequest& r) { r.tests.clear(); }, RequestField::Tests},
        {"var above p.q",
         [](PowerCurveRequest& r) {
             r.setting.model = GenotypeModel::Wahlund;
             r.setting.p = 0.1;
             r.setting.var = 0.2;
         },
         RequestField::Model},
        {"all fitnesses 0",
         [](PowerCurveRequest& r) {
             r.setting.model = GenotypeModel::Selection;
             r.setting.w11 = r.setting.w12 = r.setting.w22 = 0;
         },
         RequestField::Model},
        {"no replicates",
         [](PowerCurveRequest& r) {
             r.method = PowerMethod::Simulate;
             r.replicates = 0;
         },
         RequestField::Replicates},
        {"target 1", [](PowerCurveRequest& r) { r.target = 1; }, RequestField::Target},
    };
    ASSERT_TRUE(checkRequest(inbreeding()).message.empty());
    for (const Case& c : cases) {
        PowerCurveRequest r = inbreeding();
        c.spoil(r);
        const RequestProblem problem = checkRequest(r);
        EXPECT_FALSE(problem.message.empty()) << c.what;
        EXPECT_EQ(problem.field, c.field) << c.what << ": " << problem.message;
    }
}

TEST(PowerCurveRequest, SampleSizesIncludeTheEndOnlyWhenTheStepLandsOnIt) {
    PowerCurveRequest r = inbreeding();
    r.nFrom = 10, r.nTo = 50, r.nStep = 20;
    EXPECT_EQ(sampleSizes(r), (std::vector<std::uint32_t>{10, 30, 50}));
    r.nTo = 49;
    EXPECT_EQ(sampleSizes(r), (std::vector<std::uint32_t>{10, 30}));
    r.nFrom = r.nTo = 7;
    EXPECT_EQ(sampleSizes(r), (std::vector<std::uint32_t>{7}));
    // A step that would carry n past the largest value does not wrap around.
    r.nFrom = 9990, r.nTo = kMaxPowerSampleSize, r.nStep = 9000;
    EXPECT_EQ(sampleSizes(r), (std::vector<std::uint32_t>{9990}));
}

TEST(PowerCurve, ExactPointsAreTheEnginesValuesInOrder) {
    const PowerCurveRequest r = inbreeding();
    std::atomic<bool> cancel{false};
    std::size_t lastDone = 0, lastTotal = 0;
    const auto curve = computePowerCurve(r, cancel, [&](std::size_t done, std::size_t total) {
        EXPECT_GE(done, lastDone);
        lastDone = done;
        lastTotal = total;
    });
    ASSERT_TRUE(curve);
    EXPECT_EQ(lastDone, lastTotal);
    ASSERT_EQ(curve->points.size(), 6u * 3u);
    std::size_t i = 0;
    for (std::uint32_t n : sampleSizes(r)) {
        std::vector<TestLevel> asked;
        for (HweTest t : r.tests) asked.push_back({t, r.level});
        const std::vector<ExactPower> exact = exactPower(r.setting, n, asked);
        for (std::size_t t = 0; t < asked.size(); ++t, ++i) {
            const PowerPoint& pt = curve->points[i];
            EXPECT_EQ(pt.n, n);
            EXPECT_EQ(pt.test, r.tests[t]);
            EXPECT_EQ(pt.power, exact[t].power) << "n " << n << " test " << t;
            EXPECT_EQ(pt.testable, exact[t].testable);
        }
    }
}

TEST(PowerCurve, ACancelledComputationReturnsNothing) {
    PowerCurveRequest r = inbreeding();
    std::atomic<bool> cancel{true};
    EXPECT_FALSE(computePowerCurve(r, cancel));
    // Cancelled while running, after the first sizes.
    std::atomic<bool> later{false};
    r.nTo = 400;
    const auto curve = computePowerCurve(r, later, [&](std::size_t done, std::size_t) {
        if (done >= 3) later = true;
    });
    EXPECT_FALSE(curve);
}

TEST(PowerCurve, SimulatedPointsCarryTheirIntervalAndAgreeWithExactPower) {
    PowerCurveRequest r = inbreeding();
    r.nFrom = r.nTo = 80;
    r.method = PowerMethod::Simulate;
    r.replicates = 4000;
    r.seed = 12345;
    std::atomic<bool> cancel{false};
    const auto a = computePowerCurve(r, cancel);
    const auto b = computePowerCurve(r, cancel);
    ASSERT_TRUE(a && b);
    std::vector<TestLevel> asked;
    for (HweTest t : r.tests) asked.push_back({t, r.level});
    const std::vector<ExactPower> exact = exactPower(r.setting, 80, asked);
    for (std::size_t t = 0; t < r.tests.size(); ++t) {
        const PowerPoint& pt = a->points[t];
        EXPECT_EQ(pt.power, b->points[t].power) << "the same seed gives the same samples";
        ASSERT_TRUE(pt.se && pt.low95 && pt.high95);
        EXPECT_LE(lowerEnd(pt), pt.power);
        EXPECT_GE(upperEnd(pt), pt.power);
        EXPECT_NEAR(pt.power, exact[t].power, 4 * *pt.se + 1e-3);
    }
}

TEST(PowerCurve, TheTargetIsReachedAtTheFirstNAndForGoodFromTheLastRise) {
    PowerCurve curve;
    curve.request.target = 0.8;
    curve.request.tests = {HweTest::X2, HweTest::G};
    auto point = [](std::uint32_t n, HweTest t, double power) {
        PowerPoint p;
        p.n = n;
        p.test = t;
        p.power = power;
        return p;
    };
    // Power is saw-toothed in n: the first n that reaches the target counts,
    // even when a larger n falls back below it.
    curve.points = {point(10, HweTest::X2, 0.5),  point(10, HweTest::G, 0.1),
                    point(20, HweTest::X2, 0.8),  point(20, HweTest::G, 0.2),
                    point(30, HweTest::X2, 0.79), point(30, HweTest::G, 0.3)};
    EXPECT_EQ(smallestReaching(curve, HweTest::X2), 20u);
    EXPECT_EQ(reachedForGood(curve, HweTest::X2), std::nullopt);
    EXPECT_EQ(smallestReaching(curve, HweTest::G), std::nullopt);
    curve.points.push_back(point(40, HweTest::X2, 0.85));
    curve.points.push_back(point(40, HweTest::G, 0.9));
    EXPECT_EQ(smallestReaching(curve, HweTest::X2), 20u);
    EXPECT_EQ(reachedForGood(curve, HweTest::X2), 40u);
    EXPECT_EQ(reachedForGood(curve, HweTest::G), 40u);
}

TEST(PowerCurve, TextFormsHaveOneLinePerPointAndTheCommandLinesColumns) {
    PowerCurveRequest r = inbreeding();
    r.nTo = 20;
    std::atomic<bool> cancel{false};
    const auto curve = computePowerCurve(r, cancel);
    ASSERT_TRUE(curve);
    const QStringList csv =
        QString::fromStdString(curveCsv(*curve)).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(csv.size(), 1 + 2 * 3);
    EXPECT_TRUE(csv[0].startsWith(QStringLiteral(
        "model,p,var,f,w11,w12,w22,n,test,level,method,testable,power,conditional_power,se")));
    const QStringList header = csv[0].split(u',');
    for (const QString& row : csv.mid(1)) {
        const QStringList cells = row.split(u',');
        ASSERT_EQ(cells.size(), header.size()) << row.toStdString();
        EXPECT_EQ(cells[header.indexOf(QStringLiteral("model"))], QStringLiteral("inbreeding"));
        EXPECT_EQ(cells[header.indexOf(QStringLiteral("method"))], QStringLiteral("exact"));
        EXPECT_TRUE(cells[header.indexOf(QStringLiteral("se"))].isEmpty());
        EXPECT_FALSE(row.contains(u';'));
    }
    // Full precision: the power reads back to the same double.
    const QStringList first = csv[1].split(u',');
    EXPECT_EQ(first[header.indexOf(QStringLiteral("power"))].toDouble(), curve->points[0].power);

    const QStringList table =
        QString::fromStdString(curveTableText(*curve)).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(table.size(), 1 + 2 * 3);
    EXPECT_EQ(table[1].split(u'\t').first(), QStringLiteral("10"));
    EXPECT_EQ(table[1].split(u'\t')[1], QStringLiteral("X2"));
}

}  // namespace
}  // namespace zyg
