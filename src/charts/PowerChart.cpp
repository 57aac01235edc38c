#include "charts/PowerChart.h"

#include <QAreaSeries>
#include <QChart>
#include <QLegend>
#include <QLegendMarker>
#include <QLineF>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPen>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <array>
#include <cmath>
#include <map>

#include "charts/ChartParts.h"
#include "core/NumberText.h"

namespace zyg {

namespace {

using chartparts::hideFromLegend;
using chartparts::levelText;
using chartparts::newChart;
using chartparts::number;

// A tick step of 1, 2 or 5 times a power of ten that gives about `ticks`
// ticks over the range.
double niceStep(double range, int ticks) {
    const double raw = range / std::max(ticks, 1);
    const double decade = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * decade >= raw) return std::max(1.0, m * decade);
    return std::max(1.0, 10 * decade);
}

// 1, 2 or 5 times a power of ten, at least `raw`: a step of the power axis.
double niceFraction(double raw) {
    const double decade = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * decade >= raw) return m * decade;
    return 10 * decade;
}

// Axes of n and power, attached to every series already in the chart. The n
// axis runs from the first to the last n drawn, its ticks at round numbers;
// a logarithmic one runs over whole decades around the sample sizes.
void addPowerAxes(QChart* chart, double nFrom, double nTo, bool logN, double yHigh,
                  const QString& yTitle, const QString& xTitle = QStringLiteral("Sample size n"),
                  bool wholeX = true) {
    QAbstractAxis* x = nullptr;
    if (logN && nFrom >= 1) {
        auto* axis = new QLogValueAxis;
        axis->setBase(10);
        axis->setLabelFormat(QStringLiteral("%.0f"));
        axis->setMinorTickCount(8);
        const double low = std::pow(10.0, std::floor(std::log10(nFrom)));
        double high = std::pow(10.0, std::ceil(std::log10(nTo)));
        if (high <= low) high = low * 10;
        axis->setRange(low, high);
        x = axis;
    } else {
        auto* axis = new QValueAxis;
        if (nTo <= nFrom) {
            const double half = wholeX ? 1 : std::max(std::fabs(nFrom) * 0.1, 0.001);
            nFrom = wholeX ? std::max(0.0, nFrom - half) : nFrom - half;
            nTo = nFrom + 2 * half;
        }
        axis->setRange(nFrom, nTo);
        axis->setTickType(QValueAxis::TicksDynamic);
        axis->setTickAnchor(0);
        // A parameter's axis has fractional steps, and as many decimals as
        // its step needs.
        const double step = wholeX ? niceStep(nTo - nFrom, 8) : niceFraction((nTo - nFrom) / 8);
        axis->setTickInterval(step);
        const int decimals =
            wholeX ? 0 : std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 8);
        axis->setLabelFormat(QStringLiteral("%.%1f").arg(decimals));
        x = axis;
    }
    x->setTitleText(xTitle);
    auto* y = new QValueAxis;
    y->setTitleText(yTitle);
    y->setRange(0, yHigh);
    // A fitted axis puts its ticks at round steps from 0, so that each label
    // shows its tick's value exactly; the whole axis has six ticks.
    double tick = yHigh / 5;
    if (yHigh < 1) {
        tick = niceFraction(yHigh / 5);
        y->setTickType(QValueAxis::TicksDynamic);
        y->setTickAnchor(0);
        y->setTickInterval(tick);
    } else {
        y->setTickCount(6);
    }
    // Enough decimals for the ticks' step.
    const int decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(tick) - 1e-9)), 1, 6);
    y->setLabelFormat(QStringLiteral("%.%1f").arg(decimals));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries* s : chart->series()) {
        s->attachAxis(x);
        s->attachAxis(y);
    }
}

// The plot area a label's size is reckoned in: about that of the window's
// chart and of the exported picture.
constexpr double kPlotWidthPx = 760, kPlotHeightPx = 420;
// A label's text in pixels: bold characters of the default chart font.
QSizeF labelPixels(const QString& text) { return {7.2 * text.size() + 6, 17}; }

// How many segments of a polyline pass through a box.
int segmentsThrough(const QList<QPointF>& line, const QRectF& box) {
    const QLineF edges[] = {{box.topLeft(), box.topRight()},
                            {box.topRight(), box.bottomRight()},
                            {box.bottomRight(), box.bottomLeft()},
                            {box.bottomLeft(), box.topLeft()}};
    int through = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (i + 1 == line.size()) {
            if (line.size() == 1 && box.contains(line[i])) ++through;
            break;
        }
        const QLineF segment(line[i], line[i + 1]);
        bool crosses = box.contains(line[i]) || box.contains(line[i + 1]);
        for (const QLineF& e : edges)
            if (!crosses && segment.intersects(e) == QLineF::BoundedIntersection) crosses = true;
        if (crosses) ++through;
    }
    return through;
}

// A scatter series of one point whose only visible part is its label.
QScatterSeries* labelSeries(const QString& name, QPointF at, const QString& text, QColor colour) {
    auto* label = new QScatterSeries;
    label->setObjectName(name);
    label->append(at);
    label->setMarkerSize(1);
    label->setColor(Qt::transparent);
    label->setBorderColor(Qt::transparent);
    label->setPointLabelsVisible(true);
    label->setPointLabelsFormat(text);
    label->setPointLabelsColor(colour);
    QFont font = label->pointLabelsFont();
    font.setBold(true);
    label->setPointLabelsFont(font);
    label->setPointLabelsClipping(false);
    return label;
}

}  // namespace

// The Okabe-Ito colours, but the yellow, too pale for a line on white, and
// the dashes and gaps in pen widths, one entry per test in the order of the
// test catalogue; the tests that share a colour never share a pattern.
struct TestPen {
    QRgb colour;
    std::array<qreal, 6> dashes;  // dash, gap, ... up to the first 0; none: a solid line
};
const TestPen kTestPens[] = {
    {qRgb(0x00, 0x72, 0xb2), {}},                      // x2: blue
    {qRgb(0xd5, 0x5e, 0x00), {6, 3}},                  // g: vermillion
    {qRgb(0x00, 0x9e, 0x73), {1.5, 2.5}},              // x2cc: bluish green
    {qRgb(0xcc, 0x79, 0xa7), {8, 3, 1.5, 3}},          // exact: reddish purple
    {qRgb(0xe6, 0x9f, 0x00), {3, 3}},                  // exact-midp: orange
    {qRgb(0x56, 0xb4, 0xe9), {8, 3, 1.5, 3, 1.5, 3}},  // exact-dost: sky blue
    {qRgb(0x00, 0x00, 0x00), {12, 4}},                 // exact-deficit: black
    {qRgb(0x00, 0x72, 0xb2), {12, 3, 3, 3}},           // exact-excess: blue
    {qRgb(0xd5, 0x5e, 0x00), {1.5, 5}},                // exact-deficit-midp: vermillion
    {qRgb(0x00, 0x9e, 0x73), {4, 2, 4, 6}},            // exact-excess-midp: bluish green
    {qRgb(0xd5, 0x5e, 0x00), {6, 2, 1.5, 2}},          // g-window: vermillion
    {qRgb(0x00, 0x00, 0x00), {10, 2}},                 // x-exact: black
    {qRgb(0xcc, 0x79, 0xa7), {2, 2}},                  // x-exact-midp: reddish purple
    {qRgb(0x56, 0xb4, 0xe9), {5, 2, 5, 2, 1.5, 2}},    // x-x2: sky blue
    {qRgb(0xe6, 0x9f, 0x00), {10, 3, 3, 3}},           // x-g: orange
};
static_assert(std::size(kTestPens) == kTestCount, "one pen for every test of the catalogue");

QColor testColour(HweTest test) { return QColor(kTestPens[testIndex(test)].colour); }

QList<qreal> testDashes(HweTest test) {
    QList<qreal> dashes;
    for (qreal d : kTestPens[testIndex(test)].dashes)
        if (d > 0) dashes.push_back(d);
    return dashes;
}

QString powerSeriesName(HweTest test) { return QString::fromStdString(testLabel(test)); }

QString intervalSeriesName(HweTest test) {
    return powerSeriesName(test) + QStringLiteral(" 95% interval");
}

QString reachedSeriesName(std::uint32_t n) {
    return QStringLiteral("Reaches target at n = %1").arg(n);
}

QString staysSeriesName(std::uint32_t n) {
    return QStringLiteral("Stays at target from n = %1").arg(n);
}

QString reachedSeriesName(const ModelParameter& along, double value) {
    return QStringLiteral("Reaches target at %1 = %2").arg(symbolOf(along), number(value));
}
QString staysSeriesName(const ModelParameter& along, double value) {
    return QStringLiteral("Stays at target from %1 = %2").arg(symbolOf(along), number(value));
}
QString symbolOf(const ModelParameter& along) {
    return QString::fromLatin1(along.name.data(), static_cast<qsizetype>(along.name.size()));
}
QString labelSeriesName(const QString& markerName) { return markerName + QStringLiteral(" label"); }

QString leaderSeriesName(const QString& markerName) {
    return QStringLiteral("Leader to ") + markerName;
}

QString keptSeriesName(const KeptCurve& kept, HweTest test) {
    return QStringLiteral("%1, %2").arg(powerSeriesName(test), kept.label);
}

LabelPlace placeLabel(QPointF at, QSizeF size, const std::vector<QList<QPointF>>& lines,
                      const std::vector<QRectF>& taken, QRectF bounds) {
    const double w = size.width(), h = size.height();
    // Above, below, then beside and further out: the label's box for each
    // anchor (the text is centred above its anchor).
    static const QPointF offsets[] = {
        {0, 0.6},   {0, -1.6},   {0.6, 0.6},  {-0.6, 0.6},  {0.6, -1.6}, {-0.6, -1.6},
        {0, 1.8},   {0, -2.8},   {0.6, 1.8},  {-0.6, 1.8},  {0.6, -2.8}, {-0.6, -2.8},
        {1.2, 0.6}, {-1.2, 0.6}, {1.2, -1.6}, {-1.2, -1.6}, {0, 3.0},    {0, -4.0},
        {1.2, 1.8}, {-1.2, 1.8}, {1.2, -2.8}, {-1.2, -2.8}, {0, 4.2},    {0, -5.2},
        {1.8, 0.6}, {-1.8, 0.6}, {1.8, -1.6}, {-1.8, -1.6}, {1.8, 3.0},  {-1.8, -4.0}};
    // Then ever further out, nearest first, so that a crowded chart still
    // finds a place clear of every other label.
    std::vector<QPointF> candidates(std::begin(offsets), std::end(offsets));
    std::vector<QPointF> further;
    for (int i = -6; i <= 6; ++i)
        for (int j = -12; j <= 12; ++j) further.emplace_back(0.6 * i, 0.6 + 1.2 * j);
    std::stable_sort(further.begin(), further.end(), [](QPointF a, QPointF b) {
        return a.x() * a.x() + a.y() * a.y() < b.x() * b.x() + b.y() * b.y();
    });
    candidates.insert(candidates.end(), further.begin(), further.end());
    LabelPlace best;
    int fewest = -1;
    for (const QPointF& o : candidates) {
        const QPointF anchor(at.x() + o.x() * w, at.y() + o.y() * h);
        const QRectF box(anchor.x() - w / 2, anchor.y(), w, h);
        if (!bounds.contains(box)) continue;
        int covered = 0;
        for (const QList<QPointF>& line : lines) covered += segmentsThrough(line, box);
        for (const QRectF& other : taken)
            if (other.intersects(box)) covered += 1000;
        if (fewest < 0 || covered < fewest) {
            fewest = covered;
            best = {anchor, box};
        }
        if (covered == 0) break;
    }
    if (fewest < 0) best = {at, QRectF(at.x() - w / 2, at.y(), w, h)};
    return best;
}

QString curveLegendName(HweTest test, LocusKind locus) {
    if (locus == LocusKind::XLinked && appliesTo(test, LocusKind::Autosomal))
        return powerSeriesName(test) + QStringLiteral(" (females)");
    return powerSeriesName(test);
}

QString locusText(const ModelSetting& s, const ModelParameter* along) {
    if (s.locus == LocusKind::Autosomal) return {};
    const std::string_view label = locusKindEntry(s.locus).label;
    QString text = QStringLiteral(", %1, males %2")
                       .arg(QString::fromLatin1(label.data(), static_cast<qsizetype>(label.size())),
                            number(s.males));
    for (const ModelParameter& q : modelParameters())
        if (&q != along && !q.loci.contains(LocusKind::Autosomal) && q.readBy(s.model, s.locus))
            text += QStringLiteral(", %1 = %2").arg(symbolOf(q), number(q.get(s)));
    return text;
}

QString modelText(const ModelSetting& s) { return modelOnlyText(s) + locusText(s); }

QString modelOnlyText(const ModelSetting& s) {
    switch (s.model) {
        case GenotypeModel::HardyWeinberg:
            return QStringLiteral("Hardy-Weinberg, p = %1").arg(number(s.p));
        case GenotypeModel::Wahlund:
            return QStringLiteral("Wahlund, p = %1, var = %2").arg(number(s.p), number(s.var));
        case GenotypeModel::Inbreeding:
            return QStringLiteral("Inbreeding, p = %1, f = %2").arg(number(s.p), number(s.f));
        case GenotypeModel::Selection:
            return QStringLiteral("Selection, p = %1, W11 = %2, W12 = %3, W22 = %4")
                .arg(number(s.p), number(s.w11), number(s.w12), number(s.w22));
        case GenotypeModel::Error:
            return QStringLiteral("Genotyping error, p = %1, het. miscall = %2, hom. miscall = %3")
                .arg(number(s.p), number(s.hetMiscall), number(s.homMiscall));
        case GenotypeModel::NullAllele:
            return QStringLiteral("Null allele, p = %1, r = %2")
                .arg(number(s.p), number(s.nullFrequency));
    }
    return {};
}

QString curveTitle(const ModelSetting& setting, double level, PowerMethod method,
                   std::uint32_t replicates) {
    const QString how =
        method == PowerMethod::Exact
            ? QStringLiteral("exact")
            : QStringLiteral("simulated, %1 replicates; bands: 95% intervals").arg(replicates);
    return QStringLiteral("%1; level %2; %3").arg(modelText(setting), levelText(level), how);
}

QString effectSettingText(const ModelSetting& s, const ModelParameter& along, std::uint32_t n) {
    // The model's name, then every parameter it reads but the one on the axis.
    QString text = modelOnlyText(s).section(QLatin1Char(','), 0, 0);
    for (const ModelParameter& q : modelParameters())
        if (&q != &along && q.readBy(s.model) && (q.model || q.input == StudyInput::P))
            text += QStringLiteral(", %1 = %2").arg(symbolOf(q), number(q.get(s)));
    return text + locusText(s, &along) + QStringLiteral(", n = %1").arg(n);
}

QString effectAxisTitle(const ModelParameter& along, std::uint32_t n) {
    return QStringLiteral("%1 (%2) at n = %3")
        .arg(symbolOf(along), QString::fromLatin1(along.meaning.data(),
                                                  static_cast<qsizetype>(along.meaning.size())))
        .arg(n);
}

QString effectTitle(const ModelSetting& setting, const ModelParameter& along, std::uint32_t n,
                    double level, PowerMethod method, std::uint32_t replicates) {
    const QString how =
        method == PowerMethod::Exact
            ? QStringLiteral("exact")
            : QStringLiteral("simulated, %1 replicates; bands: 95% intervals").arg(replicates);
    return QStringLiteral("Power against %1: %2; level %3; %4")
        .arg(symbolOf(along), effectSettingText(setting, along, n), levelText(level), how);
}

QChart* buildEmptyPowerChart(const QString& title) {
    QChart* chart = newChart(title);
    addPowerAxes(chart, 0, 100, false, 1, QStringLiteral("Power: P(test rejects)"));
    return chart;
}

namespace {

// Where the markers go on a chart's x axis: n, or the parameter's value.
struct ChartMark {
    HweTest test = HweTest::X2;
    std::optional<double> first, stays;
};

// What sets an effect chart apart from a chart along n: the parameter on
// the x axis (none: n), read from each point's model setting.
struct ChartAxis {
    const ModelParameter* along = nullptr;
    double of(const PowerPoint& pt) const { return along ? along->get(pt.model) : pt.n; }
    QString text(double x) const {
        return along ? number(x) : QString::number(static_cast<qulonglong>(std::llround(x)));
    }
    QString symbol() const { return along ? symbolOf(*along) : QStringLiteral("n"); }
};

QChart* buildChart(const std::vector<PowerPoint>& points, double targetPower,
                   const std::vector<KeptCurve>& kept, const std::vector<ChartMark>* marked,
                   bool logN, PowerAxis axis, bool amongTestable, const ChartAxis& xAxis) {
    if (points.empty()) return buildEmptyPowerChart(QStringLiteral("No points"));
    const PowerPoint& first = points.front();
    QChart* chart =
        newChart(xAxis.along ? effectTitle(first.model, *xAxis.along, first.n, first.level,
                                           first.method, first.nrep)
                             : curveTitle(first.model, first.level, first.method, first.nrep));
    std::vector<HweTest> tests;
    double nFrom = xAxis.of(first), nTo = nFrom;
    for (const PowerPoint& pt : points) {
        if (std::find(tests.begin(), tests.end(), pt.test) == tests.end()) tests.push_back(pt.test);
        nFrom = std::min(nFrom, xAxis.of(pt));
        nTo = std::max(nTo, xAxis.of(pt));
    }
    for (const KeptCurve& k : kept)
        for (const PowerPoint& pt : k.points) {
            nFrom = std::min(nFrom, xAxis.of(pt));
            nTo = std::max(nTo, xAxis.of(pt));
        }
    // Solve's answer along a parameter may lie beyond the values drawn: the
    // axis reaches it, so that its marker is seen.
    if (xAxis.along && marked)
        for (const ChartMark& m : *marked)
            for (const std::optional<double>& x : {m.first, m.stays})
                if (x) {
                    nFrom = std::min(nFrom, *x);
                    nTo = std::max(nTo, *x);
                }
    const bool simulated = first.method == PowerMethod::Simulate;
    // Under Hardy-Weinberg every rejection is a false one: the curves are the
    // tests' sizes, compared with the level, and no target is met.
    const bool sizeChart = !xAxis.along && first.model.model == GenotypeModel::HardyWeinberg;
    const auto shownPower = [amongTestable](const PowerPoint& pt) {
        return amongTestable ? pt.conditionalPower : pt.power;
    };
    std::vector<ChartMark> crossings;
    if (marked) {
        crossings = *marked;
    } else if (xAxis.along) {
        for (const EffectCrossing& c : effectCrossings(points, *xAxis.along, targetPower))
            crossings.push_back({c.test, c.firstReaching, c.staysFrom});
    } else {
        for (const TargetCrossing& c : targetCrossings(points, targetPower))
            crossings.push_back({c.test, c.firstReaching, c.staysFrom});
    }
    if (sizeChart) crossings.clear();
    double highest = sizeChart ? first.level : targetPower;
    for (const PowerPoint& pt : points)
        if (std::isfinite(shownPower(pt)))
            highest =
                std::max(highest, simulated ? pt.high95.value_or(shownPower(pt)) : shownPower(pt));
    const bool fit = axis == PowerAxis::Fit || (axis == PowerAxis::Auto && sizeChart);
    // A fitted axis ends a little above the highest point, at a round value.
    double yHigh = 1;
    if (fit && highest > 0 && highest < 0.9) {
        const double step = niceFraction(highest * 1.1 / 5);
        yHigh = std::min(1.0, std::ceil(highest * 1.1 / step) * step);
    }
    std::vector<QList<QPointF>> lines;  // every line drawn, for the labels to avoid

    // The kept curves first and greyed, each older one lighter, so that the
    // current curves are drawn over them.
    // The legend shows each line's own pen, dashes included.
    chart->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const int grey = 0x60 + static_cast<int>(0x70 * (kept.size() - 1 - i) /
                                                 std::max<std::size_t>(kept.size(), 1));
        std::vector<HweTest> keptTests;
        for (const PowerPoint& pt : kept[i].points)
            if (std::find(keptTests.begin(), keptTests.end(), pt.test) == keptTests.end())
                keptTests.push_back(pt.test);
        for (HweTest test : keptTests) {
            auto* line = new QLineSeries;
            // One legend entry per kept curve: its tests are told apart by
            // the dashes they share with the current curves.
            line->setObjectName(keptSeriesName(kept[i], test));
            line->setName(QStringLiteral("Kept: %1").arg(kept[i].label));
            for (const PowerPoint& pt : kept[i].points)
                if (pt.test == test) line->append(xAxis.of(pt), shownPower(pt));
            QPen pen(QColor(grey, grey, grey));
            pen.setWidthF(1.5);
            if (const QList<qreal> dashes = testDashes(test); !dashes.isEmpty())
                pen.setDashPattern(dashes);
            line->setPen(pen);
            lines.push_back(line->points());
            chart->addSeries(line);
            if (test != keptTests.front()) hideFromLegend(chart, line);
        }
    }

    // The bands next, so that the lines are drawn over them.
    if (simulated) {
        for (HweTest test : tests) {
            auto* upper = new QLineSeries;
            auto* lower = new QLineSeries;
            for (const PowerPoint& pt : points) {
                if (pt.test != test) continue;
                upper->append(xAxis.of(pt),
                              amongTestable ? pt.conditionalPower : pt.high95.value_or(pt.power));
                lower->append(xAxis.of(pt),
                              amongTestable ? pt.conditionalPower : pt.low95.value_or(pt.power));
            }
            auto* band = new QAreaSeries(upper, lower);
            upper->setParent(band);
            lower->setParent(band);
            band->setName(intervalSeriesName(test));
            QColor fill = testColour(test);
            fill.setAlpha(50);
            band->setBrush(fill);
            band->setPen(Qt::NoPen);
            chart->addSeries(band);
            hideFromLegend(chart, band);
        }
    }

    auto* target = new QLineSeries;
    const double across = sizeChart ? first.level : targetPower;
    target->setName(sizeChart ? QStringLiteral("Level %1").arg(levelText(first.level))
                              : QStringLiteral("Target %1").arg(number(targetPower)));
    target->setObjectName(sizeChart ? kLevelSeriesName : kTargetSeriesName);
    target->append(nFrom, across);
    target->append(nTo > nFrom ? nTo : nFrom + 1, across);
    QPen targetPen(QColor(0x55, 0x55, 0x55));
    targetPen.setStyle(Qt::DashLine);
    targetPen.setWidthF(1.2);
    target->setPen(targetPen);
    chart->addSeries(target);

    for (HweTest test : tests) {
        auto* line = new QLineSeries;
        line->setName(curveLegendName(test, first.model.locus));
        line->setObjectName(powerSeriesName(test));
        for (const PowerPoint& pt : points)
            if (pt.test == test) line->append(xAxis.of(pt), shownPower(pt));
        QPen pen(testColour(test));
        pen.setWidthF(2);
        if (const QList<qreal> dashes = testDashes(test); !dashes.isEmpty())
            pen.setDashPattern(dashes);
        line->setPen(pen);
        line->setPointsVisible(points.size() / tests.size() <= 60);
        lines.push_back(line->points());
        chart->addSeries(line);
    }

    // One marker on the target line per n where some test first reaches the
    // target, and one per n from which some test stays there; tests that
    // share an n share the marker and its one label.
    std::map<double, QStringList> reachedAt, staysFrom;
    for (HweTest test : tests)
        for (const ChartMark& c : crossings) {
            if (c.test != test || !c.first) continue;
            reachedAt[*c.first] << powerSeriesName(test);
            if (c.stays && *c.stays != *c.first) staysFrom[*c.stays] << powerSeriesName(test);
        }
    const double width = nTo > nFrom ? nTo - nFrom : 2;
    const double xPerPx = width / kPlotWidthPx;
    const double yPerPx = yHigh / kPlotHeightPx;
    const QRectF bounds(nFrom, 0, width, yHigh);
    std::vector<QRectF> taken;
    auto addMarker = [&](const QString& name, double n, const QString& text,
                         QScatterSeries::MarkerShape shape, QColor colour) {
        auto* marker = new QScatterSeries;
        marker->setName(name);
        marker->setObjectName(name);
        marker->setMarkerShape(shape);
        marker->setMarkerSize(11);
        marker->setColor(colour);
        marker->setBorderColor(Qt::black);
        marker->append(n, targetPower);
        chart->addSeries(marker);
        hideFromLegend(chart, marker);
        // The marker itself is kept clear of too.
        taken.push_back(QRectF(n - 6 * xPerPx, targetPower - 6 * yPerPx, 12 * xPerPx, 12 * yPerPx));
        const QSizeF px = labelPixels(text);
        const LabelPlace place =
            placeLabel(QPointF(n, targetPower), QSizeF(px.width() * xPerPx, px.height() * yPerPx),
                       lines, taken, bounds);
        taken.push_back(place.box);
        QScatterSeries* label = labelSeries(labelSeriesName(name), place.anchor, text, colour);
        label->setProperty(kLabelBoxProperty, place.box);
        chart->addSeries(label);
        hideFromLegend(chart, label);
        // A label put away from its marker is joined to it by a thin line,
        // from the marker to the nearest point of the label's box.
        const QPointF at(n, targetPower);
        const QPointF near(std::clamp(at.x(), place.box.left(), place.box.right()),
                           std::clamp(at.y(), place.box.top(), place.box.bottom()));
        if (std::hypot((near.x() - at.x()) / xPerPx, (near.y() - at.y()) / yPerPx) > 14) {
            auto* leader = new QLineSeries;
            leader->setObjectName(leaderSeriesName(name));
            leader->append(at);
            leader->append(near);
            leader->setPen(QPen(colour, 1));
            chart->addSeries(leader);
            hideFromLegend(chart, leader);
        }
    };
    // A marker of one test bears its colour; a shared one is dark grey.
    auto markerColour = [&](const QStringList& names) {
        for (HweTest t : tests)
            if (names.size() == 1 && powerSeriesName(t) == names.front())
                return testColour(t).darker(120);
        return QColor(0x30, 0x30, 0x30);
    };
    const QString symbol = xAxis.symbol();
    for (const auto& [n, names] : reachedAt)
        addMarker(xAxis.along ? reachedSeriesName(*xAxis.along, n)
                              : reachedSeriesName(static_cast<std::uint32_t>(n)),
                  n,
                  QStringLiteral("%1: %2 = %3")
                      .arg(names.join(QStringLiteral(", ")), symbol, xAxis.text(n)),
                  QScatterSeries::MarkerShapeRectangle, markerColour(names));
    for (const auto& [n, names] : staysFrom)
        addMarker(xAxis.along ? staysSeriesName(*xAxis.along, n)
                              : staysSeriesName(static_cast<std::uint32_t>(n)),
                  n,
                  QStringLiteral("%1 stays from %2 = %3")
                      .arg(names.join(QStringLiteral(", ")), symbol, xAxis.text(n)),
                  QScatterSeries::MarkerShapeTriangle, markerColour(names));

    const QString measure = sizeChart ? QStringLiteral("Size") : QStringLiteral("Power");
    addPowerAxes(
        chart, nFrom, nTo, logN && !xAxis.along, yHigh,
        amongTestable ? QStringLiteral("%1 among testable samples").arg(measure)
                      : QStringLiteral("%1 over all samples").arg(measure),
        xAxis.along ? effectAxisTitle(*xAxis.along, first.n) : QStringLiteral("Sample size n"),
        !xAxis.along);
    return chart;
}

}  // namespace

QChart* buildPowerChart(const std::vector<PowerPoint>& points, double target,
                        const std::vector<KeptCurve>& kept,
                        const std::vector<TargetCrossing>* marked, bool logN, PowerAxis axis,
                        bool amongTestable) {
    std::vector<ChartMark> marks;
    if (marked)
        for (const TargetCrossing& c : *marked)
            marks.push_back({c.test, c.firstReaching, c.staysFrom});
    std::vector<KeptCurve> alongN;
    for (const KeptCurve& k : kept)
        if (!k.along) alongN.push_back(k);
    return buildChart(points, target, alongN, marked ? &marks : nullptr, logN, axis, amongTestable,
                      {});
}

QChart* buildEffectChart(const std::vector<PowerPoint>& points, const ModelParameter& along,
                         double target, const std::vector<KeptCurve>& kept,
                         const std::vector<EffectCrossing>* marked, PowerAxis axis,
                         bool amongTestable) {
    std::vector<ChartMark> marks;
    if (marked)
        for (const EffectCrossing& c : *marked)
            marks.push_back({c.test, c.firstReaching, c.staysFrom});
    std::vector<KeptCurve> same;
    for (const KeptCurve& k : kept)
        if (k.along == &along) same.push_back(k);
    return buildChart(points, target, same, marked ? &marks : nullptr, false, axis, amongTestable,
                      {&along});
}

std::vector<EffectCrossing> effectCrossings(const std::vector<PowerPoint>& points,
                                            const ModelParameter& along, double target) {
    std::vector<EffectCrossing> out;
    for (const PowerPoint& pt : points)
        if (std::none_of(out.begin(), out.end(),
                         [&](const EffectCrossing& c) { return c.test == pt.test; }))
            out.push_back({pt.test, std::nullopt, std::nullopt});
    for (EffectCrossing& c : out) {
        std::optional<double> from;  // the start of the last run of points at the target
        for (const PowerPoint& pt : points) {
            if (pt.test != c.test) continue;
            if (pt.power >= target) {
                if (!c.firstReaching) c.firstReaching = along.get(pt.model);
                if (!from) from = along.get(pt.model);
            } else {
                from.reset();
            }
        }
        c.staysFrom = from;
    }
    return out;
}

}  // namespace zyg
