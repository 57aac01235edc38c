#pragma once

// Small pieces both charts are made of: how they write numbers and levels,
// a fresh chart with the house look, and hiding a series from the legend.

#include <QString>

class QChart;
class QAbstractSeries;

namespace zyg::chartparts {

// A level as a percentage ("5%", "0.1%").
QString percent(double level);
// A level as people write it: a percentage down to 0.1% ("5%", "0.1%"),
// below that as typed ("1e-6", "5e-8", "0.0005").
QString levelText(double level);
// A number of six significant digits at most.
QString number(double v);
void hideFromLegend(QChart* chart, QAbstractSeries* series);
// A chart with its title, no rounding, no animation and the legend below.
QChart* newChart(const QString& title);

}  // namespace zyg::chartparts
