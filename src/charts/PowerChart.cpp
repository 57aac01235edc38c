#include "charts/PowerChart.h"

#include <QAreaSeries>
#include <QChart>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPen>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace zyg {

namespace {

// One colour per test, the same in every chart and legend.
QColor testColour(HweTest test) {
    switch (test) {
        case HweTest::X2: return QColor(0x1f, 0x5f, 0xa8);
        case HweTest::G: return QColor(0xc0, 0x4a, 0x1c);
        case HweTest::X2cc: return QColor(0x2e, 0x8b, 0x3e);
        case HweTest::Exact: return QColor(0x7a, 0x3d, 0x9a);
        case HweTest::ExactMidP: return QColor(0xb0, 0x7a, 0xc8);
        case HweTest::ExactDost: return QColor(0x8c, 0x56, 0x4b);
        case HweTest::ExactDeficit: return QColor(0x17, 0x9c, 0xa8);
        case HweTest::ExactExcess: return QColor(0xd6, 0x27, 0x8a);
        case HweTest::ExactDeficitMidP: return QColor(0x6c, 0xc4, 0xcc);
        case HweTest::ExactExcessMidP: return QColor(0xe8, 0x8c, 0xc0);
    }
    return Qt::black;
}

QString percent(double level) { return QString::number(level * 100, 'g', 4) + QStringLiteral("%"); }

QString number(double v) { return QString::number(v, 'g', 6); }

void hideFromLegend(QChart* chart, QAbstractSeries* series) {
    for (QLegendMarker* m : chart->legend()->markers(series)) m->setVisible(false);
}

// Axes of n and power, attached to every series already in the chart.
// A logarithmic n axis runs over whole decades around the sample sizes.
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
            nFrom -= 1;
            nTo += 1;
        }
        axis->setRange(nFrom, nTo);
        axis->applyNiceNumbers();
        if (axis->min() < 0) axis->setMin(0);
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

QChart* newChart(const QString& title) {
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->setBackgroundRoundness(0);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setAnimationOptions(QChart::NoAnimation);
    return chart;
}

}  // namespace

QString powerSeriesName(HweTest test) { return QString::fromStdString(testLabel(test)); }

QString intervalSeriesName(HweTest test) {
    return powerSeriesName(test) + QStringLiteral(" 95% interval");
}

QString reachedSeriesName(HweTest test) {
    return powerSeriesName(test) + QStringLiteral(" reaches target");
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

QChart* buildPowerChart(const std::vector<PowerPoint>& points, double targetPower, bool logN) {
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
    const bool simulated = first.method == PowerMethod::Simulate;
    const std::vector<TargetCrossing> crossings = targetCrossings(points, targetPower);
    auto smallestReaching = [&](HweTest test) -> std::optional<std::uint32_t> {
        for (const TargetCrossing& c : crossings)
            if (c.test == test) return c.firstReaching;
        return std::nullopt;
    };

    // The bands first, so that the lines are drawn over them.
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
            fill.setAlpha(60);
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
    targetPen.setWidthF(1.5);
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
        line->setPen(pen);
        line->setPointsVisible(points.size() / tests.size() <= 60);
        chart->addSeries(line);
    }

    // Each test's marker at the smallest n that reaches the target, and its
    // label in a row of its own beside the target line, so that the labels of
    // tests that reach it at about the same n do not cover each other.
    int row = 0;
    for (HweTest test : tests) {
        auto* reached = new QScatterSeries;
        reached->setName(reachedSeriesName(test));
        reached->setObjectName(reachedSeriesName(test));
        reached->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
        reached->setMarkerSize(10);
        reached->setColor(testColour(test));
        reached->setBorderColor(Qt::black);
        const auto n = smallestReaching(test);
        if (n) {
            for (const PowerPoint& pt : points)
                if (pt.test == test && pt.n == *n) reached->append(pt.n, pt.power);
        }
        chart->addSeries(reached);
        hideFromLegend(chart, reached);
        if (!n) continue;
        ++row;
        auto* label = new QScatterSeries;
        label->setObjectName(reachedSeriesName(test) + QStringLiteral(" label"));
        const double offset = 0.065 * row;
        const double y =
            targetPower > 0.45 ? targetPower - offset - 0.01 : targetPower + offset - 0.04;
        label->append(*n, y);
        label->setMarkerSize(1);
        label->setColor(Qt::transparent);
        label->setBorderColor(Qt::transparent);
        label->setPointLabelsVisible(true);
        label->setPointLabelsFormat(powerSeriesName(test) + QStringLiteral(": n = @xPoint"));
        label->setPointLabelsColor(testColour(test).darker(140));
        QFont font = label->pointLabelsFont();
        font.setBold(true);
        label->setPointLabelsFont(font);
        label->setPointLabelsClipping(false);
        chart->addSeries(label);
        hideFromLegend(chart, label);
    }

    addPowerAxes(chart, nFrom, nTo, logN);
    return chart;
}

QChart* buildDeFinettiChart(const DeFinettiPicture& picture) {
    const QString title = QStringLiteral("%1; samples of n = %2, %3 test at %4")
                              .arg(modelText(picture.setting))
                              .arg(picture.n)
                              .arg(powerSeriesName(picture.test), percent(picture.level));
    QChart* chart = newChart(title);
    chart->legend()->setAlignment(Qt::AlignRight);

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
