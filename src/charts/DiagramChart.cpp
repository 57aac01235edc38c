#include "charts/DiagramChart.h"

#include <QChart>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "charts/ChartParts.h"
#include "charts/PowerChart.h"

namespace zyg {

using chartparts::hideFromLegend;
using chartparts::levelText;
using chartparts::newChart;
using chartparts::number;

QString outlineSeriesName(HweTest test, std::uint32_t n) {
    return QStringLiteral("%1, n = %2").arg(powerSeriesName(test)).arg(n);
}

TrianglePoint malePoint(double pMale) { return {1 - pMale, 0}; }

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
    // On X the title says whose genotypes the triangle holds.
    const QString modelWords = picture.pMale
                                   ? QStringLiteral("%1 in females, males' p = %2")
                                         .arg(modelText(picture.setting), number(*picture.pMale))
                                   : modelText(picture.setting);
    // The tests that count the males see the same males beside every sample.
    const QString maleWords = picture.males
                                  ? QStringLiteral(" females, males fixed at A = %1, B = %2;")
                                        .arg(picture.males->a)
                                        .arg(picture.males->b)
                                  : QStringLiteral(",");
    // With the males named the title takes two lines: one would be cut off.
    const QString breakWord = picture.males ? QStringLiteral("<br>") : QStringLiteral(" ");
    const QString title =
        QStringLiteral("%1;%2samples of n = %3%4 %5 test at %6")
            .arg(modelWords, breakWord)
            .arg(picture.n)
            .arg(maleWords, powerSeriesName(picture.test), levelText(picture.level));
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
    // Their legend keys keep the legend's own readable size, however small
    // the squares of a fine lattice are drawn.
    for (QScatterSeries* s : {rejected, untestable, accepted})
        for (QLegendMarker* m : chart->legend()->markers(s))
            m->setShape(QLegend::MarkerShapeRectangle);

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

    // On X the males, one allele each, lie on the base at their frequency.
    if (picture.pMale) {
        auto* males = new QScatterSeries;
        males->setName(kModelMalesSeriesName);
        males->setObjectName(kModelMalesSeriesName);
        const TrianglePoint t = malePoint(*picture.pMale);
        males->append(t.x, t.y);
        males->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
        males->setMarkerSize(14);
        males->setColor(QColor(0xf0, 0xc0, 0x10));
        males->setBorderColor(Qt::black);
        chart->addSeries(males);
    }

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
    QScatterSeries* sMales =
        samples(kSamplesMalesName, QColor(0xcc, 0x79, 0xa7), QScatterSeries::MarkerShapeTriangle);
    for (const DiagramSample& d : extras.samples) {
        // A sample of males only has no point in the triangle.
        if (d.counts.o11 + d.counts.o12 + d.counts.o22 > 0) {
            const TrianglePoint t = trianglePoint(d.counts);
            (!d.rejected ? sUntestable : *d.rejected ? sRejected : sAccepted)->append(t.x, t.y);
        }
        if (d.males && d.males->a + d.males->b > 0) {
            const TrianglePoint t = malePoint(static_cast<double>(d.males->a) /
                                              static_cast<double>(d.males->a + d.males->b));
            sMales->append(t.x, t.y);
        }
    }
    for (QScatterSeries* s : {sRejected, sAccepted, sUntestable, sMales}) {
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
    // The lattice's squares grow with the plot area: each as wide as most of
    // the room between neighbouring samples (1/n apart across), so that on a
    // large screen the regions read as areas, not as dots.
    const double n = std::max<std::uint32_t>(picture.n, 1);
    QObject::connect(
        chart, &QChart::plotAreaChanged, x,
        [x, y, yLow, yHigh, n, accepted, rejected, untestable](const QRectF& area) {
            if (area.width() <= 0 || area.height() <= 0) return;
            const double perPixelX = 1.2 / area.width(), perPixelY = (yHigh - yLow) / area.height();
            const double room = 1 / std::max(perPixelX, perPixelY) / n;
            const double square = std::clamp(room, 2.5, 40.0);
            accepted->setMarkerSize(square);
            rejected->setMarkerSize(square * 0.7);
            untestable->setMarkerSize(square * 0.7);
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
