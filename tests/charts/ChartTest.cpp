// The charts read back from their series: the power chart carries the exact
// engine's values, the de Finetti diagram's acceptance region is exactly the
// set of samples the test does not reject, and the picture files are written.
#include <gtest/gtest.h>

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QScatterSeries>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QValueAxis>
#include <QXmlStreamReader>
#include <cmath>
#include <map>
#include <memory>
#include <set>

#include "charts/ChartFiles.h"
#include "charts/DiagramChart.h"
#include "charts/PowerChart.h"
#include "engine/XLinked.h"
#include "power/Solve.h"

namespace zyg {
namespace {

QXYSeries* seriesNamed(QChart& chart, const QString& name) {
    for (QAbstractSeries* s : chart.series())
        if (s->objectName() == name || s->name() == name) return qobject_cast<QXYSeries*>(s);
    return nullptr;
}

StudyResult exactCurve(GenotypeModel model, std::vector<HweTest> tests) {
    ModelSetting setting;
    setting.model = model;
    setting.p = 0.3;
    setting.f = 0.2;
    setting.var = 0.03;
    StudyRequest r = StudyRequest::of(setting);
    r.n.clear();
    for (std::uint32_t n = 5; n <= 125; n += 15) r.n.push_back(n);
    r.tests = std::move(tests);
    r.levels = {0.05};
    r.target = 0.5;
    return {r, runStudy(r)};
}

std::optional<std::uint32_t> smallestReaching(const StudyResult& curve, HweTest test) {
    for (const TargetCrossing& c : targetCrossings(curve.points, *curve.request.target))
        if (c.test == test) return c.firstReaching;
    return std::nullopt;
}

// Power against a model parameter at one n: each line's x values are the
// parameter's values, the markers sit where effectCrossings puts them (the
// first value reaching the target, with a falling stretch before the end
// moving "stays from"), and only kept curves of the same axis are drawn.
TEST(PowerChart, AnEffectChartDrawsPowerAgainstTheParameter) {
    const ModelParameter& f = *findModelParameter("f");
    ModelSetting setting{GenotypeModel::Inbreeding, 0.3};
    StudyRequest r = StudyRequest::of(setting);
    r.f = {0, 0.05, 0.1, 0.15, 0.2, 0.25};
    r.n = {200};
    r.tests = {HweTest::X2, HweTest::Exact};
    r.levels = {0.05};
    const std::vector<PowerPoint> points = runStudy(r);
    const std::vector<EffectCrossing> crossings = effectCrossings(points, f, 0.5);
    ASSERT_EQ(crossings.size(), 2u);
    const KeptCurve alongN{exactCurve(GenotypeModel::Inbreeding, {HweTest::X2}).points, "n",
                           nullptr};
    const KeptCurve alongF{points, "kept f", &f};
    std::unique_ptr<QChart> chart(buildEffectChart(points, f, 0.5, {alongN, alongF}));
    for (const EffectCrossing& c : crossings) {
        const QList<QPointF> line = seriesNamed(*chart, powerSeriesName(c.test))->points();
        ASSERT_EQ(line.size(), 6);
        std::optional<double> first;
        for (qsizetype i = 0; i < line.size(); ++i) {
            EXPECT_DOUBLE_EQ(line[i].x(), r.f[static_cast<std::size_t>(i)]);
            if (!first && line[i].y() >= 0.5) first = line[i].x();
        }
        ASSERT_TRUE(first);
        EXPECT_EQ(c.firstReaching, first);
        EXPECT_EQ(c.staysFrom, first);  // power grows with f here
        EXPECT_NE(seriesNamed(*chart, reachedSeriesName(f, *first)), nullptr);
    }
    EXPECT_NE(seriesNamed(*chart, keptSeriesName(alongF, HweTest::X2)), nullptr);
    EXPECT_EQ(seriesNamed(*chart, keptSeriesName(alongN, HweTest::X2)), nullptr);
    auto* x = qobject_cast<QValueAxis*>(chart->axes(Qt::Horizontal).front());
    EXPECT_EQ(x->titleText(), "f (inbreeding coefficient) at n = 200");
    EXPECT_DOUBLE_EQ(x->min(), 0);
    EXPECT_DOUBLE_EQ(x->max(), 0.25);
    // Solve's answer beyond the values drawn widens the axis to its marker.
    const std::vector<EffectCrossing> beyond{{HweTest::X2, 0.3, std::nullopt}};
    std::unique_ptr<QChart> solved(buildEffectChart(points, f, 0.5, {}, &beyond));
    EXPECT_GE(qobject_cast<QValueAxis*>(solved->axes(Qt::Horizontal).front())->max(), 0.3);
    EXPECT_NE(seriesNamed(*solved, reachedSeriesName(f, 0.3)), nullptr);

    // A curve that reaches the target and falls below it again stays from
    // the last rise only.
    std::vector<PowerPoint> saw = points;
    const double powers[] = {0.1, 0.6, 0.3, 0.7, 0.8, 0.9};
    std::size_t at = 0;
    for (PowerPoint& pt : saw)
        if (pt.test == HweTest::X2) pt.power = powers[at++];
    const EffectCrossing bumped = effectCrossings(saw, f, 0.5)[0];
    EXPECT_EQ(bumped.firstReaching, 0.05);
    EXPECT_EQ(bumped.staysFrom, 0.15);
}

TEST(PowerChart, EachTestsSeriesHoldsTheExactEnginesPower) {
    const StudyResult curve = exactCurve(GenotypeModel::Inbreeding,
                                         {HweTest::X2, HweTest::G, HweTest::X2cc, HweTest::Exact});
    std::unique_ptr<QChart> chart(buildPowerChart(curve.points, *curve.request.target));
    for (HweTest test : curve.request.tests) {
        QXYSeries* line = seriesNamed(*chart, powerSeriesName(test));
        ASSERT_NE(line, nullptr) << powerSeriesName(test).toStdString();
        const QList<QPointF> points = line->points();
        const std::vector<std::uint32_t>& sizes = curve.request.n;
        ASSERT_EQ(points.size(), static_cast<qsizetype>(sizes.size()));
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            const TestLevel asked[] = {{test, curve.request.levels.front()}};
            const ExactPower exact =
                exactPower(modelSettings(curve.request)[0], sizes[i], asked)[0];
            EXPECT_EQ(points[static_cast<qsizetype>(i)].x(), sizes[i]);
            EXPECT_EQ(points[static_cast<qsizetype>(i)].y(), exact.power)
                << powerSeriesName(test).toStdString() << " n " << sizes[i];
        }
        // The marker stands on the target line at the smallest n that
        // reaches it, and its label names the test.
        const auto n = smallestReaching(curve, test);
        if (n) {
            QXYSeries* reached = seriesNamed(*chart, reachedSeriesName(*n));
            ASSERT_NE(reached, nullptr);
            ASSERT_EQ(reached->count(), 1);
            EXPECT_EQ(reached->at(0), QPointF(*n, *curve.request.target));
            const QXYSeries* label = seriesNamed(*chart, labelSeriesName(reached->name()));
            ASSERT_NE(label, nullptr);
            EXPECT_TRUE(label->pointLabelsFormat().contains(powerSeriesName(test)))
                << label->pointLabelsFormat().toStdString();
        }
    }
    QXYSeries* target = seriesNamed(*chart, kTargetSeriesName);
    ASSERT_NE(target, nullptr);
    for (const QPointF& p : target->points()) EXPECT_EQ(p.y(), 0.5);
    // Exact curves have no interval bands.
    for (QAbstractSeries* s : chart->series()) EXPECT_EQ(qobject_cast<QAreaSeries*>(s), nullptr);
}

std::vector<QXYSeries*> seriesStartingWith(QChart& chart, const QString& prefix) {
    std::vector<QXYSeries*> found;
    for (QAbstractSeries* s : chart.series())
        if (s->objectName().startsWith(prefix)) found.push_back(qobject_cast<QXYSeries*>(s));
    return found;
}

// Tests that reach the target at the same n share one marker and one label;
// where a test dips below the target again, a second marker says from which
// n it stays there.
TEST(PowerChart, TestsThatReachTheTargetTogetherShareOneMarkerAndLabel) {
    const StudyResult curve = exactCurve(GenotypeModel::Inbreeding,
                                         {HweTest::X2, HweTest::G, HweTest::X2cc, HweTest::Exact});
    const double goal = *curve.request.target;
    std::unique_ptr<QChart> chart(buildPowerChart(curve.points, goal));
    std::map<std::uint32_t, std::vector<HweTest>> byN;
    std::map<std::uint32_t, std::vector<HweTest>> staysByN;
    for (const TargetCrossing& c : targetCrossings(curve.points, goal)) {
        if (c.firstReaching) byN[*c.firstReaching].push_back(c.test);
        if (c.staysFrom && c.staysFrom != c.firstReaching) staysByN[*c.staysFrom].push_back(c.test);
    }
    ASSERT_LT(byN.size(), 4u) << "the case should have tests reaching at the same n";
    EXPECT_EQ(seriesStartingWith(*chart, QStringLiteral("Reaches target at")).size(),
              2 * byN.size());  // markers and their labels
    EXPECT_EQ(seriesStartingWith(*chart, QStringLiteral("Stays at target from")).size(),
              2 * staysByN.size());
    for (const auto& [n, tests] : byN) {
        const QXYSeries* label = seriesNamed(*chart, labelSeriesName(reachedSeriesName(n)));
        ASSERT_NE(label, nullptr);
        for (HweTest t : tests)
            EXPECT_TRUE(label->pointLabelsFormat().contains(powerSeriesName(t)));
        EXPECT_TRUE(label->pointLabelsFormat().endsWith(QStringLiteral("n = %1").arg(n)));
    }

    // A finer search's crossings replace the points' own.
    TargetCrossing solved;
    solved.test = HweTest::X2;
    solved.firstReaching = 77;
    solved.staysFrom = 81;
    const std::vector<TargetCrossing> marked{solved};
    std::unique_ptr<QChart> finer(buildPowerChart(curve.points, goal, {}, &marked));
    ASSERT_NE(seriesNamed(*finer, reachedSeriesName(77)), nullptr);
    ASSERT_NE(seriesNamed(*finer, staysSeriesName(81)), nullptr);
    EXPECT_EQ(seriesStartingWith(*finer, QStringLiteral("Reaches target at")).size(), 2u);
}

// The labels' boxes, as placed, are clear of the lines and of each other.
TEST(PowerChart, LabelsArePlacedClearOfTheLinesAndOfEachOther) {
    const QRectF bounds(0, 0, 100, 1);
    // Two steep lines through the marker and one flat line just above it.
    const std::vector<QList<QPointF>> lines = {
        {{0, 0}, {50, 0.8}, {100, 1}}, {{0, 0}, {45, 0.8}, {100, 1}}, {{0, 0.84}, {100, 0.84}}};
    std::vector<QRectF> taken;
    const QSizeF size(12, 0.04);
    for (int i = 0; i < 4; ++i) {
        const LabelPlace place = placeLabel(QPointF(48, 0.8), size, lines, taken, bounds);
        EXPECT_TRUE(bounds.contains(place.box));
        EXPECT_EQ(place.box.size(), size);
        for (const QRectF& other : taken) EXPECT_FALSE(other.intersects(place.box)) << i;
        for (const QList<QPointF>& line : lines)
            for (qsizetype k = 0; k + 1 < line.size(); ++k)
                for (int step = 0; step <= 100; ++step) {
                    const QPointF p = line[k] + (line[k + 1] - line[k]) * (step / 100.0);
                    EXPECT_FALSE(place.box.contains(p)) << "label " << i << " covers a line";
                }
        taken.push_back(place.box);
    }
}

// After Solve the markers of four tests crowd the target line: no two label
// boxes intersect, each lies in the plot, and a label away from its marker
// has a leader line from it.
TEST(PowerChart, CrowdedLabelsNeverOverlapAndFarOnesHaveLeaders) {
    ModelSetting setting;
    setting.model = GenotypeModel::Inbreeding;
    setting.p = 0.2;
    setting.f = 0.03;
    StudyRequest r = StudyRequest::of(setting);
    r.n = SampleRange{1000, 20000, 250}.sizes();
    r.tests = {HweTest::X2, HweTest::G, HweTest::X2cc, HweTest::Exact};
    r.levels = {0.05};
    r.solveBounds = SampleBounds{1000, 20000};
    std::vector<TargetCrossing> marked;
    for (const SolveAnswer& a : solveStudy(r, SolveAim{nullptr, 0.8})) {
        TargetCrossing c;
        c.test = a.test;
        c.firstReaching = a.firstN;
        c.staysFrom = a.staysN;
        marked.push_back(c);
    }
    std::unique_ptr<QChart> chart(buildPowerChart(runStudy(r), 0.8, {}, &marked));
    std::vector<std::pair<QString, QRectF>> boxes;
    for (QAbstractSeries* s : chart->series())
        if (const QVariant box = s->property(kLabelBoxProperty); box.isValid())
            boxes.emplace_back(s->objectName(), box.toRectF());
    ASSERT_GE(boxes.size(), 4u);
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_TRUE(QRectF(1000, 0, 19000, 1).contains(boxes[i].second)) << i;
        for (std::size_t j = i + 1; j < boxes.size(); ++j)
            EXPECT_FALSE(boxes[i].second.intersects(boxes[j].second))
                << boxes[i].first.toStdString() << " and " << boxes[j].first.toStdString();
        // A box more than a marker's width from the target line's marker is led to.
        QString marker = boxes[i].first;
        marker.chop(QStringLiteral(" label").size());
        auto* dot = qobject_cast<QXYSeries*>(seriesNamed(*chart, marker));
        ASSERT_NE(dot, nullptr);
        const QPointF at = dot->at(0);
        const QRectF& b = boxes[i].second;
        const bool far = at.y() < b.top() - 0.05 || at.y() > b.bottom() + 0.05 ||
                         at.x() < b.left() - 1000 || at.x() > b.right() + 1000;
        if (far) {
            EXPECT_NE(seriesNamed(*chart, leaderSeriesName(marker)), nullptr)
                << marker.toStdString();
        }
    }
}

// Under Hardy-Weinberg the curves are sizes: the level is drawn, no target
// or marker is, and the fitted axis holds every point; 0 to 1 stays a choice.
TEST(PowerChart, UnderHardyWeinbergTheChartShowsSizesAgainstTheLevel) {
    const StudyResult curve = exactCurve(GenotypeModel::HardyWeinberg, {HweTest::X2, HweTest::G});
    for (PowerAxis axis : {PowerAxis::Auto, PowerAxis::Full}) {
        std::unique_ptr<QChart> chart(buildPowerChart(curve.points, 0.5, {}, nullptr, false, axis));
        EXPECT_EQ(seriesNamed(*chart, kTargetSeriesName), nullptr);
        QXYSeries* level = seriesNamed(*chart, kLevelSeriesName);
        ASSERT_NE(level, nullptr);
        EXPECT_DOUBLE_EQ(level->at(0).y(), 0.05);
        for (QAbstractSeries* s : chart->series())
            EXPECT_FALSE(s->objectName().startsWith("Reaches")) << s->objectName().toStdString();
        auto* y = qobject_cast<QValueAxis*>(chart->axes(Qt::Vertical).front());
        ASSERT_NE(y, nullptr);
        EXPECT_TRUE(y->titleText().startsWith("Size"));
        if (axis == PowerAxis::Full) {
            EXPECT_EQ(y->max(), 1);
            continue;
        }
        EXPECT_LT(y->max(), 0.5);
        for (const PowerPoint& pt : curve.points) EXPECT_LE(pt.power, y->max());
        EXPECT_LE(0.05, y->max());
    }
    // Among testable samples the lines hold the conditional power, and say so.
    std::unique_ptr<QChart> testable(
        buildPowerChart(curve.points, 0.5, {}, nullptr, false, PowerAxis::Fit, true));
    const QXYSeries* g = seriesNamed(*testable, powerSeriesName(HweTest::G));
    ASSERT_NE(g, nullptr);
    std::size_t i = 0;
    for (const PowerPoint& pt : curve.points)
        if (pt.test == HweTest::G) {
            EXPECT_DOUBLE_EQ(g->at(static_cast<qsizetype>(i++)).y(), pt.conditionalPower);
        }
    EXPECT_TRUE(qobject_cast<QValueAxis*>(testable->axes(Qt::Vertical).front())
                    ->titleText()
                    .contains("testable"));
}

// No two lines differ by colour alone, and every colour is one of the
// Okabe-Ito palette's; kept curves are grey, named by their model setting.
TEST(PowerChart, EveryLineHasItsOwnDashesAndKeptCurvesAreGreyAndNamed) {
    const std::set<QRgb> okabeIto = {qRgb(0, 0, 0),          qRgb(0xe6, 0x9f, 0),
                                     qRgb(0x56, 0xb4, 0xe9), qRgb(0, 0x9e, 0x73),
                                     qRgb(0xf0, 0xe4, 0x42), qRgb(0, 0x72, 0xb2),
                                     qRgb(0xd5, 0x5e, 0),    qRgb(0xcc, 0x79, 0xa7)};
    std::set<std::pair<QRgb, QList<qreal>>> styles;
    std::set<QList<qreal>> dashes;
    for (HweTest t : kHweTests) {
        EXPECT_TRUE(okabeIto.count(testColour(t).rgb())) << hweTestName(t);
        styles.insert({testColour(t).rgb(), testDashes(t)});
        dashes.insert(testDashes(t));
    }
    EXPECT_EQ(styles.size(), std::size(kHweTests));
    EXPECT_EQ(dashes.size(), std::size(kHweTests));

    const StudyResult now = exactCurve(GenotypeModel::Inbreeding, {HweTest::X2, HweTest::G});
    StudyResult before = exactCurve(GenotypeModel::Wahlund, {HweTest::X2, HweTest::G});
    const KeptCurve kept{before.points, modelText(modelSettings(before.request).front())};
    // Shown, so that the legend's markers say whether they are drawn.
    QChartView view(buildPowerChart(now.points, 0.5, {kept}));
    QChart* chart = view.chart();
    view.resize(800, 500);
    view.show();
    QCoreApplication::processEvents();
    for (HweTest t : {HweTest::X2, HweTest::G}) {
        auto* line = qobject_cast<QLineSeries*>(seriesNamed(*chart, keptSeriesName(kept, t)));
        ASSERT_NE(line, nullptr);
        EXPECT_TRUE(line->name().contains(QStringLiteral("Wahlund"))) << line->name().toStdString();
        // One legend entry for the kept curve, not one per test.
        const QList<QLegendMarker*> markers = chart->legend()->markers(line);
        ASSERT_EQ(markers.size(), 1);
        EXPECT_EQ(markers.front()->isVisible(), t == HweTest::X2);
        const QColor c = line->pen().color();
        EXPECT_TRUE(c.red() == c.green() && c.green() == c.blue()) << "kept curves are grey";
        EXPECT_EQ(line->pen().style() == Qt::CustomDashLine, !testDashes(t).isEmpty());
        QList<QPointF> expected;
        for (const PowerPoint& pt : before.points)
            if (pt.test == t) expected.append(QPointF(pt.n, pt.power));
        EXPECT_EQ(line->points(), expected);
        auto* current = qobject_cast<QLineSeries*>(seriesNamed(*chart, powerSeriesName(t)));
        EXPECT_EQ(current->pen().color(), testColour(t));
    }
}

// The n axis ends at the first and the last n drawn, not at a rounder number.
TEST(PowerChart, TheNAxisEndsAtTheData) {
    const StudyResult curve = exactCurve(GenotypeModel::Inbreeding, {HweTest::X2});
    std::unique_ptr<QChart> chart(buildPowerChart(curve.points, 0.5));
    auto* x = qobject_cast<QValueAxis*>(chart->axes(Qt::Horizontal).front());
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->min(), curve.request.n.front());
    EXPECT_EQ(x->max(), curve.request.n.back());
}

TEST(PowerChart, SimulatedCurvesShowTheirIntervalsAroundEachPoint) {
    ModelSetting setting{GenotypeModel::Inbreeding, 0.5};
    setting.f = 0.3;
    StudyRequest r = StudyRequest::of(setting);
    r.n = {20, 40, 60};
    r.tests = {HweTest::X2};
    r.levels = {0.05};
    r.method = PowerMethod::Simulate;
    r.replicates = 500;
    std::unique_ptr<QChart> chart(buildPowerChart(runStudy(r), 0.8));
    QAreaSeries* band = nullptr;
    for (QAbstractSeries* s : chart->series())
        if (s->name() == intervalSeriesName(HweTest::X2)) band = qobject_cast<QAreaSeries*>(s);
    ASSERT_NE(band, nullptr);
    const QList<QPointF> line = seriesNamed(*chart, powerSeriesName(HweTest::X2))->points();
    ASSERT_EQ(band->upperSeries()->count(), line.size());
    for (qsizetype i = 0; i < line.size(); ++i) {
        EXPECT_LE(band->lowerSeries()->at(i).y(), line[i].y());
        EXPECT_GE(band->upperSeries()->at(i).y(), line[i].y());
        EXPECT_LT(band->lowerSeries()->at(i).y(), band->upperSeries()->at(i).y());
    }
}

// Samples of the accepted series, mapped back to counts.
std::set<std::tuple<int, int, int>> countsOf(QXYSeries* s, std::uint32_t n) {
    std::set<std::tuple<int, int, int>> out;
    for (const QPointF& p : s->points()) {
        const GenotypeCounts c = countsAt({p.x(), p.y()}, n);
        EXPECT_EQ(c.o11 + c.o12 + c.o22, static_cast<int>(n));
        out.insert({c.o11, c.o12, c.o22});
    }
    return out;
}

TEST(DeFinettiChart, TheAcceptanceRegionIsExactlyTheSamplesTheTestDoesNotReject) {
    for (HweTest test : {HweTest::X2, HweTest::G, HweTest::X2cc, HweTest::Exact}) {
        for (double level : {0.05, 0.01}) {
            for (std::uint32_t n = 1; n <= 14; ++n) {
                DeFinettiPicture picture;
                picture.n = n;
                picture.test = test;
                picture.level = level;
                picture.lattice = *latticeDecisions(n, test, level);
                std::unique_ptr<QChart> chart(buildDeFinettiChart(picture));
                std::set<std::tuple<int, int, int>> accepted, rejected, untestable;
                for (int a = 0; a <= static_cast<int>(n); ++a)
                    for (int b = 0; a + b <= static_cast<int>(n); ++b) {
                        const GenotypeCounts c{static_cast<std::uint16_t>(a),
                                               static_cast<std::uint16_t>(b),
                                               static_cast<std::uint16_t>(n - a - b)};
                        const std::optional<bool> r = rejects(test, c, level);
                        (!r ? untestable : *r ? rejected : accepted).insert({a, b, c.o22});
                    }
                const std::string what = std::string(hweTestName(test)) + " at " +
                                         std::to_string(level) + ", n " + std::to_string(n);
                EXPECT_EQ(countsOf(seriesNamed(*chart, kAcceptedSeriesName), n), accepted) << what;
                EXPECT_EQ(countsOf(seriesNamed(*chart, kRejectedSeriesName), n), rejected) << what;
                EXPECT_EQ(countsOf(seriesNamed(*chart, kUntestableSeriesName), n), untestable)
                    << what;
            }
        }
    }
}

// Whether a triangle point lies above the Hardy-Weinberg parabola (more
// heterozygotes than 2pq).
bool aboveParabola(const TrianglePoint& t) {
    const TrianglePoint onCurve =
        trianglePoint((1 - t.x) * (1 - t.x), 2 * t.x * (1 - t.x), t.x * t.x);
    return t.y > onCurve.y + 1e-12;
}

TEST(DeFinettiChart, TheModelsPointLiesWhereItsDepartureSays) {
    auto modelPoint = [](const ModelSetting& setting) {
        DeFinettiPicture picture;
        picture.setting = setting;
        picture.n = 4;
        picture.lattice = *latticeDecisions(4, HweTest::X2, 0.05);
        std::unique_ptr<QChart> chart(buildDeFinettiChart(picture));
        QXYSeries* s = seriesNamed(*chart, kModelSeriesName);
        EXPECT_EQ(s->count(), 1);
        return TrianglePoint{s->at(0).x(), s->at(0).y()};
    };
    ModelSetting hw;
    hw.p = 0.3;
    const TrianglePoint h = modelPoint(hw);
    EXPECT_NEAR(h.x, 0.7, 1e-12);  // the frequency of A2
    EXPECT_NEAR(h.y, 0.42 * std::sqrt(3.0) / 2, 1e-12);
    ModelSetting wahlund = hw;
    wahlund.model = GenotypeModel::Wahlund;
    wahlund.var = 0.05;
    EXPECT_FALSE(aboveParabola(modelPoint(wahlund)));
    EXPECT_LT(modelPoint(wahlund).y, h.y);
    ModelSetting inbred = hw;
    inbred.model = GenotypeModel::Inbreeding;
    inbred.f = 0.4;
    EXPECT_LT(modelPoint(inbred).y, h.y);
    ModelSetting advantage = hw;
    advantage.model = GenotypeModel::Selection;
    advantage.w11 = 0.5;
    advantage.w12 = 1;
    advantage.w22 = 0.5;
    EXPECT_TRUE(aboveParabola(modelPoint(advantage)));
}

TEST(DeFinettiChart, TheLastSampleIsDrawnOnlyWhenThereIsOne) {
    DeFinettiPicture picture;
    picture.n = 10;
    picture.lattice = *latticeDecisions(10, HweTest::X2, 0.05);
    std::unique_ptr<QChart> without(buildDeFinettiChart(picture));
    EXPECT_EQ(seriesNamed(*without, kLastSampleSeriesName), nullptr);
    picture.lastSample = GenotypeCounts{2, 3, 5};
    std::unique_ptr<QChart> with(buildDeFinettiChart(picture));
    QXYSeries* last = seriesNamed(*with, kLastSampleSeriesName);
    ASSERT_NE(last, nullptr);
    ASSERT_EQ(last->count(), 1);
    const GenotypeCounts back = countsAt({last->at(0).x(), last->at(0).y()}, 10);
    EXPECT_EQ(back, (GenotypeCounts{2, 3, 5}));
}

// On X the triangle holds the females; the model's males and those of each
// X-linked sample lie on the base at their frequency of A1, and a sample of
// males only has no point in the triangle.
TEST(DeFinettiChart, MalesLieOnTheBaseAtTheirAlleleFrequency) {
    DeFinettiPicture picture;
    picture.n = 10;
    picture.lattice = *latticeDecisions(10, HweTest::X2, 0.05);
    std::unique_ptr<QChart> autosomal(buildDeFinettiChart(picture));
    EXPECT_EQ(seriesNamed(*autosomal, kModelMalesSeriesName), nullptr);
    EXPECT_EQ(seriesNamed(*autosomal, kSamplesMalesName), nullptr);

    picture.pMale = 0.35;
    DiagramExtras extras;
    extras.samples = {{"x1", {2, 3, 5}, false, MaleCounts{30, 10}},
                      {"autosomal", {4, 4, 2}, false, std::nullopt},
                      {"males only", {0, 0, 0}, std::nullopt, MaleCounts{0, 8}}};
    std::unique_ptr<QChart> chart(buildDeFinettiChart(picture, extras));
    QXYSeries* model = seriesNamed(*chart, kModelMalesSeriesName);
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->points(), QList<QPointF>({QPointF(0.65, 0)}));
    QXYSeries* males = seriesNamed(*chart, kSamplesMalesName);
    ASSERT_NE(males, nullptr);
    EXPECT_EQ(males->points(), QList<QPointF>({QPointF(0.25, 0), QPointF(1, 0)}));
    EXPECT_EQ(seriesNamed(*chart, kSamplesAcceptedName)->count(), 2);
    EXPECT_EQ(seriesNamed(*chart, kSamplesUntestableName), nullptr);
}

// The outline runs along the fewest and the most heterozygotes the test does
// not reject at each allele count: every accepted sample lies between them.
TEST(DeFinettiChart, TheRegionsOutlineBoundsEveryAcceptedSample) {
    for (HweTest test : {HweTest::X2, HweTest::Exact, HweTest::ExactDeficit}) {
        const std::uint32_t n = 25;
        const std::vector<LatticePoint> lattice = *latticeDecisions(n, test, 0.05);
        const QList<QPointF> outline = regionOutline(lattice);
        ASSERT_GE(outline.size(), 3);
        EXPECT_EQ(outline.front(), outline.back());     // closed
        std::map<int, std::pair<double, double>> span;  // x in 1/2n steps: lowest, highest y
        for (const QPointF& p : outline) {
            const int column = static_cast<int>(std::lround(p.x() * 2 * n));
            auto [it, fresh] = span.try_emplace(column, p.y(), p.y());
            it->second.first = std::min(it->second.first, p.y());
            it->second.second = std::max(it->second.second, p.y());
        }
        for (const LatticePoint& lp : lattice) {
            const TrianglePoint t = trianglePoint(lp.counts);
            const int column = static_cast<int>(std::lround(t.x * 2 * n));
            if (lp.rejected && !*lp.rejected) {
                ASSERT_TRUE(span.count(column)) << hweTestName(test);
                EXPECT_GE(t.y, span[column].first - 1e-12);
                EXPECT_LE(t.y, span[column].second + 1e-12);
            }
        }
    }
    // No accepted sample, no outline.
    std::vector<LatticePoint> allRejected = *latticeDecisions(6, HweTest::X2, 0.05);
    for (LatticePoint& lp : allRejected) lp.rejected = true;
    EXPECT_TRUE(regionOutline(allRejected).isEmpty());
    EXPECT_TRUE(regionOutline({}).isEmpty());
}

// On X each sample of n females is decided with the same males beside it: a
// test that counts the males on the five counts (with males of both alleles
// every sample is testable, the corners too), the others on the females alone.
TEST(DeFinettiChart, XLinkedLatticesDecideEachFemaleSampleWithTheMales) {
    const MaleCounts expected = expectedMales(7, 0.3);
    EXPECT_EQ(std::pair(expected.a, expected.b), std::pair(std::uint64_t{2}, std::uint64_t{5}));
    for (const MaleCounts& males : {expected, MaleCounts{}, MaleCounts{0, 4}})
        for (HweTest test : {HweTest::XExact, HweTest::XExactMidP, HweTest::XX2, HweTest::Exact}) {
            const auto lattice = latticeDecisions(8, test, 0.05, nullptr, {}, males);
            const std::optional<XTest> counted = parseXTest(hweTestName(test));
            for (const LatticePoint& lp : *lattice) {
                std::optional<bool> want = rejects(test, lp.counts, 0.05);
                if (counted) {
                    const XSampleCounts x{lp.counts.o11, lp.counts.o12, lp.counts.o22, males.a,
                                          males.b};
                    const auto p = testXSample(x, std::span(&*counted, 1)).front().pValue;
                    want = p ? std::optional(*p <= 0.05L * (1 + 1e-9L)) : std::nullopt;
                    EXPECT_TRUE(want.has_value() || males.a == 0 || males.b == 0);
                }
                EXPECT_EQ(lp.rejected, want)
                    << hweTestName(test) << " males " << males.a << " " << males.b << " AA "
                    << lp.counts.o11 << " AB " << lp.counts.o12;
            }
        }
}

TEST(DeFinettiChart, LatticeDecisionsStopWhenCancelled) {
    std::atomic<bool> cancel{true};
    EXPECT_FALSE(latticeDecisions(50, HweTest::Exact, 0.05, &cancel));
}

TEST(ChartFiles, PngAndSvgAreWrittenAtTheirSize) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const StudyResult curve = exactCurve(GenotypeModel::Wahlund, {HweTest::X2, HweTest::G});
    std::unique_ptr<QChart> chart(buildPowerChart(curve.points, 0.5));
    const QString png = dir.filePath(QStringLiteral("curve.png"));
    EXPECT_EQ(saveChart(*chart, png, QSize(640, 480)), QString());
    const QImage image(png);
    EXPECT_EQ(image.size(), QSize(640, 480));
    // Something is drawn: many colours, not a blank page.
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7) colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 5u);

    const QString svg = dir.filePath(QStringLiteral("curve.SVG"));
    EXPECT_EQ(saveChart(*chart, svg), QString());
    QFile file(svg);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) xml.readNext();
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    QSvgRenderer renderer(bytes);
    EXPECT_TRUE(renderer.isValid());
    EXPECT_EQ(renderer.viewBoxF(), QRectF(QPointF(0, 0), QSizeF(kDefaultChartFileSize)));
    EXPECT_TRUE(bytes.contains("Sample size n"));

    // The same chart can be written twice: it leaves the scene it was drawn in.
    EXPECT_EQ(saveChart(*chart, png), QString());
    EXPECT_EQ(QImage(png).size(), kDefaultChartFileSize);
}

TEST(ChartFiles, FaultsAreReportedNotIgnored) {
    const StudyResult curve = exactCurve(GenotypeModel::HardyWeinberg, {HweTest::X2});
    std::unique_ptr<QChart> chart(buildPowerChart(curve.points, 0.5));
    QTemporaryDir dir;
    EXPECT_FALSE(saveChart(*chart, dir.filePath(QStringLiteral("curve.jpg"))).isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("curve.jpg"))));
    const QString missing = dir.filePath(QStringLiteral("no/such/folder/curve.png"));
    const QString fault = saveChart(*chart, missing);
    EXPECT_TRUE(fault.contains(missing)) << fault.toStdString();
    EXPECT_FALSE(QFile::exists(missing));
}

}  // namespace
}  // namespace zyg
