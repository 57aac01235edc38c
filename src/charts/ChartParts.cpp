#include "charts/ChartParts.h"

#include <QChart>
#include <QLegend>
#include <QLegendMarker>

#include "core/NumberText.h"

namespace zyg::chartparts {

QString percent(double level) {
    return QString::fromStdString(significantText(level * 100, 4)) + QStringLiteral("%");
}

QString levelText(double level) {
    if (level >= 0.001) return percent(level);
    std::string text = shortestText(level);
    // "1e-06" reads "1e-6": the exponent without its padding.
    for (const char* padded : {"e-0", "e+0"})
        if (const std::size_t at = text.find(padded); at != std::string::npos)
            text.erase(at + 2, 1);
    return QString::fromStdString(text);
}

QString number(double v) { return QString::fromStdString(significantText(v, 6)); }

void hideFromLegend(QChart* chart, QAbstractSeries* series) {
    for (QLegendMarker* m : chart->legend()->markers(series)) m->setVisible(false);
}

QChart* newChart(const QString& title) {
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->setBackgroundRoundness(0);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setAnimationOptions(QChart::NoAnimation);
    return chart;
}

}  // namespace zyg::chartparts
