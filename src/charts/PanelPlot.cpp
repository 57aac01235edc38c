#include "charts/PanelPlot.h"

#include <QApplication>
#include <QChart>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPen>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "charts/ChartFiles.h"
#include "charts/PlotFile.h"
#include "charts/PowerChart.h"
#include "core/NumberText.h"

namespace zyg {

std::string plotTradeOff(const std::vector<TradeOffCurve>& curves, const std::string& file) {
    // A log axis shows no 0: false flags below this share of a marker are
    // drawn at it.
    constexpr double kFloor = 1e-6;
    double top = kFloor * 10;
    bool any = false;
    for (const TradeOffCurve& k : curves) {
        for (const auto& p : k.points) {
            top = std::max(top, p.falseFlags);
            any = true;
        }
        if (k.chosen) top = std::max(top, k.chosen->falseFlags);
    }
    if (!any) return "there are no points to draw (the chart needs an effect)";
    const auto application = commandLineApplication();
    auto chart = std::make_unique<QChart>();
    chart->setTitle("False flags against catch rate as the level varies");
    auto* x = new QLogValueAxis;
    x->setTitleText("expected false flags on the panel");
    x->setBase(10);
    x->setLabelFormat("%g");
    x->setRange(kFloor, std::pow(10.0, std::ceil(std::log10(top) + 1e-9)));
    auto* y = new QValueAxis;
    y->setTitleText("catch rate (%)");
    y->setRange(0, 100);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (const TradeOffCurve& k : curves) {
        auto* line = new QLineSeries;
        line->setName(QString::fromStdString(testLabel(k.test)));
        QPen pen(testColour(k.test));
        pen.setWidthF(2);
        if (const QList<qreal> dashes = testDashes(k.test); !dashes.isEmpty())
            pen.setDashPattern(dashes);
        line->setPen(pen);
        for (const auto& p : k.points)
            line->append(std::max(p.falseFlags, kFloor), 100 * p.catchRate);
        chart->addSeries(line);
        line->attachAxis(x);
        line->attachAxis(y);
        if (k.chosen) {
            auto* mark = new QScatterSeries;
            mark->setName(
                QString::fromStdString(testLabel(k.test) + " at " + shortestText(k.chosen->level)));
            mark->setColor(testColour(k.test));
            mark->setMarkerSize(10);
            mark->append(std::max(k.chosen->falseFlags, kFloor), 100 * k.chosen->catchRate);
            chart->addSeries(mark);
            mark->attachAxis(x);
            mark->attachAxis(y);
        }
    }
    const QString fault = saveChart(*chart, QString::fromLocal8Bit(file.c_str()));
    return fault.toLocal8Bit().toStdString();
}

}  // namespace zyg
