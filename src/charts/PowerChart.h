#pragma once

// The charts of the two study windows, built from their data alone so that the
// windows, the exports and the command line draw the same picture.

#include <QString>

#include "power/DeFinetti.h"
#include "power/PowerStudy.h"

class QChart;

namespace zyg {

// The names the power chart gives its series, so that readers of the chart
// (the window's tooltips, the tests) can find them.
QString powerSeriesName(HweTest test);     // the curve of one test: "X2", "G", ...
QString intervalSeriesName(HweTest test);  // "X2 95% interval" (simulated curves only)
QString reachedSeriesName(HweTest test);   // "X2 reaches target": one point, or none
inline const QString kTargetSeriesName = QStringLiteral("Target");

// Power against n for the points of one model setting at one level: one line
// per test (in the order the points name them), its 95% band when simulated,
// the target as a horizontal line and, for each test, a marker labelled with
// the smallest n that reaches it. `logN` draws n on a logarithmic axis (for
// sample sizes over several orders of magnitude). The caller owns the chart.
QChart* buildPowerChart(const std::vector<PowerPoint>& points, double target, bool logN = false);

// An empty chart with the power chart's axes and a title, shown before the
// first curve or while one is computed.
QChart* buildEmptyPowerChart(const QString& title);

// "Inbreeding, p = 0.4, f = 0.1": the model and the parameters it reads.
QString modelText(const ModelSetting& setting);

// The one-line description of a curve's model, level and method.
QString curveTitle(const ModelSetting& setting, double level, PowerMethod method,
                   std::uint32_t replicates);

// The de Finetti diagram of a lattice: the triangle with its corners, the
// Hardy-Weinberg parabola, the samples the test does not reject, those it
// rejects and those it cannot test, the model's point and the last sample
// when there is one. The caller owns the chart.
QChart* buildDeFinettiChart(const DeFinettiPicture& picture);

inline const QString kAcceptedSeriesName = QStringLiteral("Not rejected");
inline const QString kRejectedSeriesName = QStringLiteral("Rejected");
inline const QString kUntestableSeriesName = QStringLiteral("Not testable");
inline const QString kParabolaSeriesName = QStringLiteral("Hardy-Weinberg");
inline const QString kModelSeriesName = QStringLiteral("Model");
inline const QString kLastSampleSeriesName = QStringLiteral("Last sample");

}  // namespace zyg
