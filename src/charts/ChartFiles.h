#pragma once

// Writes a chart to a picture file without a window: PNG or SVG, chosen by the
// file's extension. Needs a running QApplication (the offscreen platform will
// do).

#include <QSize>
#include <QString>
#include <span>

class QChart;

namespace zyg {

inline constexpr QSize kDefaultChartFileSize{900, 600};

// Renders the chart at `size` into the file. The chart must not be shown in a
// view; it is laid out at that size for the file and left so. Returns the empty
// text on success, otherwise a sentence naming the file and the fault.
QString saveChart(QChart& chart, const QString& path, QSize size = kDefaultChartFileSize);

// Several charts in one picture, each in a cell of `cell`, `columns` to a
// row; as saveChart.
QString saveCharts(std::span<QChart* const> charts, const QString& path, QSize cell, int columns);

// Whether the name ends in .png or .svg (any case).
bool isChartFileName(const QString& path);

}  // namespace zyg
