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

#include "core/NumberText.h"

namespace zyg {

namespace {

QString percent(double level) {
    return QString::fromStdString(significantText(level * 100, 4)) + QStringLiteral("%");
}

QString number(double v) { return QString::fromStdString(significantText(v, 6)); }

void hideFromLegend(QChart* chart, QAbstractSeries* series) {
    for (QLegendMarker* m : chart->legend()->markers(series)) m->setVisible(false);
}

// A tick step of 1, 2 or 5 times a power of ten that gives about `ticks`
// ticks over the range.
double niceStep(double range, int ticks) {
    const double raw = range / std::max(ticks, 1);
    const double decade = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * decade >= raw) return std::max(1.0, m * decade);
    return std::max(1.0, 10 * decade);
}

// Axes of n and power, attached to every series already in the chart. The n
// axis runs from the first to the last n drawn, its ticks at round numbers;
// a logarithmic one runs over whole decades around the sample sizes.
void addPowerAxes(QChart* chart, double nFrom, double nTo, bool logN = false) {
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
        axis->setLabelFormat(QStringLiteral("%.0f"));
        if (nTo <= nFrom) {
            nFrom = std::max(0.0, nFrom - 1);
            nTo = nFrom + 2;
        }
        axis->setRange(nFrom, nTo);
        axis->setTickType(QValueAxis::TicksDynamic);
        axis->setTickAnchor(0);
        axis->setTickInterval(niceStep(nTo - nFrom, 8));
        x = axis;
    }
    x->setTitleText(QStringLiteral("Sample size n"));
    auto* y = new QValueAxis;
    y->setTitleText(QStringLiteral("Power: P(test rejects)"));
    y->setRange(0, 1);
    y->setTickCount(6);
    y->setLabelFormat(QStringLiteral("%.1f"));
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

QChart* newChart(const QString& title) {
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->setBackgroundRoundness(0);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setAnimationOptions(QChart::NoAnimation);
    return chart;
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

QString labelSeriesName(const QString& markerName) { return markerName + QStringLiteral(" label"); }

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
    LabelPlace best;
    int fewest = -1;
    for (const QPointF& o : offsets) {
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

QString modelText(const ModelSetting& s) {
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
    return QStringLiteral("%1; level %2; %3").arg(modelText(setting), percent(level), how);
}

QChart* buildEmptyPowerChart(const QString& title) {
    QChart* chart = newChart(title);
    addPowerAxes(chart, 0, 100);
    return chart;
}

QChart* buildPowerChart(const std::vector<PowerPoint>& points, double targetPower,
                        const std::vector<KeptCurve>& kept,
                        const std::vector<TargetCrossing>* marked, bool logN) {
    if (points.empty()) return buildEmptyPowerChart(QStringLiteral("No points"));
    const PowerPoint& first = points.front();
    QChart* chart = newChart(curveTitle(first.model, first.level, first.method, first.nrep));
    std::vector<HweTest> tests;
    double nFrom = first.n, nTo = first.n;
    for (const PowerPoint& pt : points) {
        if (std::find(tests.begin(), tests.end(), pt.test) == tests.end()) tests.push_back(pt.test);
        nFrom = std::min<double>(nFrom, pt.n);
        nTo = std::max<double>(nTo, pt.n);
    }
    for (const KeptCurve& k : kept)
        for (const PowerPoint& pt : k.points) {
            nFrom = std::min<double>(nFrom, pt.n);
            nTo = std::max<double>(nTo, pt.n);
        }
    const bool simulated = first.method == PowerMethod::Simulate;
    const std::vector<TargetCrossing> crossings =
        marked ? *marked : targetCrossings(points, targetPower);
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
                if (pt.test == test) line->append(pt.n, pt.power);
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
                upper->append(pt.n, pt.high95.value_or(pt.power));
                lower->append(pt.n, pt.low95.value_or(pt.power));
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
    target->setName(QStringLiteral("Target %1").arg(number(targetPower)));
    target->setObjectName(kTargetSeriesName);
    target->append(nFrom, targetPower);
    target->append(nTo > nFrom ? nTo : nFrom + 1, targetPower);
    QPen targetPen(QColor(0x55, 0x55, 0x55));
    targetPen.setStyle(Qt::DashLine);
    targetPen.setWidthF(1.2);
    target->setPen(targetPen);
    chart->addSeries(target);

    for (HweTest test : tests) {
        auto* line = new QLineSeries;
        line->setName(powerSeriesName(test));
        line->setObjectName(powerSeriesName(test));
        for (const PowerPoint& pt : points)
            if (pt.test == test) line->append(pt.n, pt.power);
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
    std::map<std::uint32_t, QStringList> reachedAt, staysFrom;
    for (HweTest test : tests)
        for (const TargetCrossing& c : crossings) {
            if (c.test != test || !c.firstReaching) continue;
            reachedAt[*c.firstReaching] << powerSeriesName(test);
            if (c.staysFrom && *c.staysFrom != *c.firstReaching)
                staysFrom[*c.staysFrom] << powerSeriesName(test);
        }
    const double xPerPx = (nTo > nFrom ? nTo - nFrom : 2) / kPlotWidthPx;
    const double yPerPx = 1.0 / kPlotHeightPx;
    const QRectF bounds(nFrom, 0, nTo > nFrom ? nTo - nFrom : 2, 1);
    std::vector<QRectF> taken;
    auto addMarker = [&](const QString& name, std::uint32_t n, const QString& text,
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
        chart->addSeries(label);
        hideFromLegend(chart, label);
    };
    // A marker of one test bears its colour; a shared one is dark grey.
    auto markerColour = [&](const QStringList& names) {
        for (HweTest t : tests)
            if (names.size() == 1 && powerSeriesName(t) == names.front())
                return testColour(t).darker(120);
        return QColor(0x30, 0x30, 0x30);
    };
    for (const auto& [n, names] : reachedAt)
        addMarker(reachedSeriesName(n), n,
                  QStringLiteral("%1: n = %2").arg(names.join(QStringLiteral(", "))).arg(n),
                  QScatterSeries::MarkerShapeRectangle, markerColour(names));
    for (const auto& [n, names] : staysFrom)
        addMarker(
            staysSeriesName(n), n,
            QStringLiteral("%1 stays from n = %2").arg(names.join(QStringLiteral(", "))).arg(n),
            QScatterSeries::MarkerShapeTriangle, markerColour(names));

    addPowerAxes(chart, nFrom, nTo, logN);
    return chart;
}

QString outlineSeriesName(HweTest test, std::uint32_t n) {
    return QStringLiteral("%1, n = %2").arg(powerSeriesName(test)).arg(n);
}

QList<QPointF> regionOutline(const std::vector<LatticePoint>& lattice) {
    if (lattice.empty()) return {};
    const GenotypeCounts& any = lattice.front().counts;
    const std::uint32_t n = static_cast<std::uint32_t>(any.o11) + any.o12 + any.o22;
    // For each count of A2 copies (2 o22 + o12), the accepted heterozygote range.
    std::vector<int> low(2 * n + 1, -1), high(2 * n + 1, -1);
    for (const LatticePoint& p : lattice) {
        if (!p.rejected || *p.rejected) continue;
        const std::size_t a = 2u * p.counts.o22 + p.counts.o12;
        const int het = p.counts.o12;
        if (low[a] < 0 || het < low[a]) low[a] = het;
        if (high[a] < 0 || het > high[a]) high[a] = het;
    }
    auto at = [n](std::size_t a, int het) {
        const double f12 = static_cast<double>(het) / n;
        const double f22 = (static_cast<double>(a) / n - f12) / 2;
        const TrianglePoint t = trianglePoint(1 - f12 - f22, f12, f22);
        return QPointF(t.x, t.y);
    };
    QList<QPointF> lower, upper;
    for (std::size_t a = 0; a < low.size(); ++a)
        if (low[a] >= 0) {
            lower.append(at(a, low[a]));
            upper.prepend(at(a, high[a]));
        }
    if (lower.isEmpty()) return {};
    QList<QPointF> outline = lower + upper;
    outline.append(outline.front());
    return outline;
}

QChart* buildDeFinettiChart(const DeFinettiPicture& picture, const DiagramExtras& extras) {
    const QString title = QStringLiteral("%1; samples of n = %2, %3 test at %4")
                              .arg(modelText(picture.setting))
                              .arg(picture.n)
                              .arg(powerSeriesName(picture.test), percent(picture.level));
    QChart* chart = newChart(title);
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);

    // Lattice points: smaller markers as the lattice grows finer.
    const double marker = std::clamp(360.0 / std::max<std::uint32_t>(picture.n, 1), 2.5, 9.0);
    auto lattice = [&](const QString& name, QColor colour, double size) {
        auto* s = new QScatterSeries;
        s->setName(name);
        s->setObjectName(name);
        s->setMarkerSize(size);
        // Squares: a circle is drawn as a path and costs some fifteen times
        // as much, which at tens of thousands of samples is seconds a paint.
        s->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
        s->setColor(colour);
        s->setBorderColor(colour);
        s->setPen(Qt::NoPen);
        return s;
    };
    QScatterSeries* accepted = lattice(kAcceptedSeriesName, QColor(0x3b, 0x8e, 0xd0), marker);
    QScatterSeries* rejected = lattice(kRejectedSeriesName, QColor(0xe8, 0xb4, 0xa0), marker * 0.7);
    QScatterSeries* untestable =
        lattice(kUntestableSeriesName, QColor(0xb0, 0xb0, 0xb0), marker * 0.7);
    QList<QPointF> a, rj, u;
    for (const LatticePoint& p : picture.lattice) {
        const TrianglePoint t = trianglePoint(p.counts);
        const QPointF q(t.x, t.y);
        if (!p.rejected)
            u.append(q);
        else if (*p.rejected)
            rj.append(q);
        else
            a.append(q);
    }
    accepted->append(a);
    rejected->append(rj);
    untestable->append(u);
    chart->addSeries(rejected);
    chart->addSeries(untestable);
    chart->addSeries(accepted);

    auto* edges = new QLineSeries;
    edges->setObjectName(QStringLiteral("Triangle"));
    const TrianglePoint apex = trianglePoint(0, 1, 0);
    edges->append(0, 0);
    edges->append(1, 0);
    edges->append(apex.x, apex.y);
    edges->append(0, 0);
    edges->setPen(QPen(Qt::black, 1.2));
    chart->addSeries(edges);
    hideFromLegend(chart, edges);

    auto* parabola = new QLineSeries;
    parabola->setName(kParabolaSeriesName);
    parabola->setObjectName(kParabolaSeriesName);
    for (int i = 0; i <= 200; ++i) {
        const double q = i / 200.0, p = 1 - q;
        const TrianglePoint t = trianglePoint(p * p, 2 * p * q, q * q);
        parabola->append(t.x, t.y);
    }
    parabola->setPen(QPen(QColor(0x20, 0x20, 0x20), 2, Qt::DashLine));
    chart->addSeries(parabola);

    // The corners' names, each the label of an unmarked point of its own; a
    // label sits above its point, so the bottom corners' points lie below them.
    const struct {
        const char* name;
        double x, y;
    } corners[] = {{"A1A1", -0.02, -0.075}, {"A2A2", 1.02, -0.075}, {"A1A2", apex.x, apex.y}};
    for (const auto& c : corners) {
        auto* s = new QScatterSeries;
        s->setObjectName(QString::fromLatin1(c.name));
        s->append(c.x, c.y);
        s->setMarkerSize(1);
        s->setColor(Qt::transparent);
        s->setBorderColor(Qt::transparent);
        s->setPointLabelsVisible(true);
        s->setPointLabelsFormat(QString::fromLatin1(c.name));
        s->setPointLabelsColor(Qt::black);
        s->setPointLabelsClipping(false);
        QFont f = s->pointLabelsFont();
        f.setBold(true);
        s->setPointLabelsFont(f);
        chart->addSeries(s);
        hideFromLegend(chart, s);
    }

    const GenotypeFrequencies fr = frequenciesOf(picture.setting);
    auto* model = new QScatterSeries;
    model->setName(kModelSeriesName);
    model->setObjectName(kModelSeriesName);
    const TrianglePoint m = trianglePoint(static_cast<double>(fr.f11), static_cast<double>(fr.f12),
                                          static_cast<double>(fr.f22));
    model->append(m.x, m.y);
    model->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    model->setMarkerSize(12);
    model->setColor(QColor(0xf0, 0xc0, 0x10));
    model->setBorderColor(Qt::black);
    chart->addSeries(model);

    if (picture.lastSample) {
        auto* last = new QScatterSeries;
        last->setName(QStringLiteral("%1 (%2, %3, %4)")
                          .arg(kLastSampleSeriesName)
                          .arg(picture.lastSample->o11)
                          .arg(picture.lastSample->o12)
                          .arg(picture.lastSample->o22));
        last->setObjectName(kLastSampleSeriesName);
        const TrianglePoint t = trianglePoint(*picture.lastSample);
        last->append(t.x, t.y);
        last->setMarkerSize(12);
        last->setColor(QColor(0xd0, 0x20, 0x20));
        last->setBorderColor(Qt::black);
        chart->addSeries(last);
    }

    // The lines of a minimum minor-allele frequency q: x = q and x = 1 - q.
    auto verticalPair = [&](const QString& name, double q, QColor colour, Qt::PenStyle style) {
        if (!(q > 0) || q >= 0.5) return;
        for (double at : {q, 1 - q}) {
            auto* line = new QLineSeries;
            line->setName(name);
            line->setObjectName(name);
            // From the base to the triangle's side at that frequency.
            const double top = std::min(at, 1 - at) * 2 * apex.y;
            line->append(at, 0);
            line->append(at, top);
            QPen pen(colour, 1.6);
            pen.setStyle(style);
            line->setPen(pen);
            chart->addSeries(line);
            if (at != q) hideFromLegend(chart, line);
        }
    };
    verticalPair(
        QStringLiteral("%1 %2").arg(kMinAlleleFrequencyName, number(extras.minAlleleFrequency)),
        extras.minAlleleFrequency, QColor(0x00, 0x72, 0xb2), Qt::DashDotLine);
    if (extras.minExpectedCount > 0 && picture.n > 0)
        verticalPair(
            QStringLiteral("%1 %2").arg(kMinExpectedCountName, number(extras.minExpectedCount)),
            std::sqrt(extras.minExpectedCount / picture.n), QColor(0xd5, 0x5e, 0x00), Qt::DotLine);

    // The other tests' regions, and those of the n of the user's samples.
    for (const DiagramOutline& o : extras.outlines) {
        auto* line = new QLineSeries;
        line->setName(QStringLiteral("Region of %1").arg(outlineSeriesName(o.test, o.n)));
        line->setObjectName(outlineSeriesName(o.test, o.n));
        line->append(regionOutline(o.lattice));
        // Another test's region in its own colour and dashes, darkened to
        // stand out on the lattice; the chosen test's at another n in black.
        QPen pen(o.test == picture.test ? QColor(Qt::black) : testColour(o.test).darker(140), 2.5);
        if (o.test == picture.test)
            pen.setDashPattern({4, 2});
        else if (const QList<qreal> dashes = testDashes(o.test); !dashes.isEmpty())
            pen.setDashPattern(dashes);
        line->setPen(pen);
        chart->addSeries(line);
    }

    // The user's samples, coloured by the chosen test's decision, over all.
    auto samples = [&](const QString& name, QColor colour,
                       QScatterSeries::MarkerShape shape) -> QScatterSeries* {
        auto* s = new QScatterSeries;
        s->setName(name);
        s->setObjectName(name);
        s->setMarkerShape(shape);
        s->setMarkerSize(11);
        s->setColor(colour);
        s->setBorderColor(Qt::black);
        return s;
    };
    QScatterSeries* sRejected = samples(kSamplesRejectedName, QColor(0xd5, 0x5e, 0x00),
                                        QScatterSeries::MarkerShapeTriangle);
    QScatterSeries* sAccepted =
        samples(kSamplesAcceptedName, QColor(0x00, 0x72, 0xb2), QScatterSeries::MarkerShapeCircle);
    QScatterSeries* sUntestable = samples(kSamplesUntestableName, QColor(0x99, 0x99, 0x99),
                                          QScatterSeries::MarkerShapeRotatedRectangle);
    for (const DiagramSample& d : extras.samples) {
        const TrianglePoint t = trianglePoint(d.counts);
        (!d.rejected ? sUntestable : *d.rejected ? sRejected : sAccepted)->append(t.x, t.y);
    }
    for (QScatterSeries* s : {sRejected, sAccepted, sUntestable}) {
        if (s->count() == 0) {
            delete s;
            continue;
        }
        chart->addSeries(s);
    }

    auto* x = new QValueAxis;
    x->setRange(-0.1, 1.1);
    x->setVisible(false);
    auto* y = new QValueAxis;
    const double yLow = -0.1, yHigh = apex.y + 0.08;
    y->setRange(yLow, yHigh);
    y->setVisible(false);
    // One unit is as long across as up, so the triangle stays equilateral
    // whatever the shape of the plot area: the longer side's range widens.
    QObject::connect(chart, &QChart::plotAreaChanged, x, [x, y, yLow, yHigh](const QRectF& area) {
        if (area.width() <= 0 || area.height() <= 0) return;
        const double perPixelX = 1.2 / area.width(), perPixelY = (yHigh - yLow) / area.height();
        if (perPixelX >= perPixelY) {
            const double half = perPixelX * area.height() / 2, mid = (yLow + yHigh) / 2;
            y->setRange(mid - half, mid + half);
            x->setRange(-0.1, 1.1);
        } else {
            const double half = perPixelY * area.width() / 2;
            x->setRange(0.5 - half, 0.5 + half);
            y->setRange(yLow, yHigh);
        }
    });
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries* s : chart->series()) {
        s->attachAxis(x);
        s->attachAxis(y);
    }
    return chart;
}

}  // namespace zyg
