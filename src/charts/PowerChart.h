#pragma once

// The power chart of the power-curve window, built from its data alone so
// that the window, the exports and the command line draw the same picture;
// the names, colours and dashes of each test that every chart uses.

#include <QColor>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <optional>
#include <vector>

#include "power/PowerStudy.h"

class QChart;

namespace zyg {

// The names the power chart gives its series, so that readers of the chart
// (the window's tooltips, the tests) can find them.
QString powerSeriesName(HweTest test);     // the curve of one test: "X2", "G", ...
QString intervalSeriesName(HweTest test);  // "X2 95% interval" (simulated curves only)
// The markers on the target line: one per n at which some test first reaches
// the target ("Reaches target at n = 80"), one per n from which some test
// stays at or above it ("Stays at target from n = 90"); each carries one label
// naming every test it stands for.
QString reachedSeriesName(std::uint32_t n);
QString staysSeriesName(std::uint32_t n);
// The same on an effect chart (power against a model parameter at one n):
// "Reaches target at f = 0.031".
QString reachedSeriesName(const ModelParameter& along, double value);
QString staysSeriesName(const ModelParameter& along, double value);
QString labelSeriesName(const QString& markerName);  // the marker's label
inline const QString kTargetSeriesName = QStringLiteral("Target");
// The level drawn across a size chart (the curves of Hardy-Weinberg).
inline const QString kLevelSeriesName = QStringLiteral("Level");
// The line from a marker to its label when the label sits away from it.
QString leaderSeriesName(const QString& markerName);
// The property of a label series that holds its box in chart units.
inline constexpr const char* kLabelBoxProperty = "labelBox";

// Each test's colour (from the Okabe-Ito palette, which readers with any
// common colour-vision deficiency tell apart) and its own dash pattern, so
// that no two lines differ by colour alone.
QColor testColour(HweTest test);
QList<qreal> testDashes(HweTest test);  // empty: a solid line

// A curve kept on the chart for comparison, drawn greyed: its points and the
// words that name it in the legend (its model setting).
struct KeptCurve {
    std::vector<PowerPoint> points;
    QString label;
    // The parameter on its x axis (none: n); a chart draws only the kept
    // curves of its own axis.
    const ModelParameter* along = nullptr;
};
// "X2, Inbreeding, p = 0.4, f = 0.1": the kept line of one test.
QString keptSeriesName(const KeptCurve& kept, HweTest test);

// Where a label is put: the box of its text in chart units, anchored at the
// point the label series holds (the text is drawn centred above it).
struct LabelPlace {
    QPointF anchor;
    QRectF box;
};
// Places one label of width and height (in chart units) near a marker at
// `at`, clear of the lines (each a polyline in chart units) and of the boxes
// already placed, within the chart's ranges; the first candidate place
// clear of everything, else the one that covers the fewest line points.
LabelPlace placeLabel(QPointF at, QSizeF size, const std::vector<QList<QPointF>>& lines,
                      const std::vector<QRectF>& taken, QRectF bounds);

// The range of the power axis: 0 to 1, fitted to the curves, or fitted under
// Hardy-Weinberg (where the curves are sizes near the level) and 0 to 1 else.
enum class PowerAxis { Auto, Full, Fit };

// Power against n for the points of one model setting at one level: one line
// per test (in the order the points name them), its 95% band when simulated,
// the target as a horizontal line, the markers of the target crossings and,
// greyed behind them, the kept curves. The x axis runs over the n of the
// curves drawn; `logN` draws it logarithmic (for sample sizes over several
// orders of magnitude). `marked`, when given, are the crossings to mark (found
// by a finer search than the points'); otherwise those of the points. Under
// Hardy-Weinberg the chart is a size chart: the level is drawn instead of the
// target and no crossing is marked. `amongTestable` draws the power among the
// samples that can be tested (the main window's proportion) instead of among
// all samples; the y axis's title says which. The caller owns the chart.
QChart* buildPowerChart(const std::vector<PowerPoint>& points, double target,
                        const std::vector<KeptCurve>& kept = {},
                        const std::vector<TargetCrossing>* marked = nullptr, bool logN = false,
                        PowerAxis axis = PowerAxis::Auto, bool amongTestable = false);

// Where power reaches the target along a model parameter, for one test:
// the first value of the points (in their order, from no departure outward)
// whose power reaches it, and the value from which every later one does.
struct EffectCrossing {
    HweTest test = HweTest::X2;
    std::optional<double> firstReaching, staysFrom;
};
// One per test, in the order the points name them; the points are of one n,
// their settings differing in `along` only.
std::vector<EffectCrossing> effectCrossings(const std::vector<PowerPoint>& points,
                                            const ModelParameter& along, double target);

// Power against the model parameter `along` at the one n of the points: one
// line per test, its band when simulated, the target and the markers of
// where each test reaches it (`marked`, else those of the points), the kept
// curves of the same parameter greyed behind.
QChart* buildEffectChart(const std::vector<PowerPoint>& points, const ModelParameter& along,
                         double target, const std::vector<KeptCurve>& kept = {},
                         const std::vector<EffectCrossing>* marked = nullptr,
                         PowerAxis axis = PowerAxis::Auto, bool amongTestable = false);

// An empty chart with the power chart's axes and a title, shown before the
// first curve or while one is computed.
QChart* buildEmptyPowerChart(const QString& title);

// "Inbreeding, p = 0.4, f = 0.1": the model and the parameters it reads; on
// X with the locus words below.
QString modelText(const ModelSetting& setting);
// The same without the locus.
QString modelOnlyText(const ModelSetting& setting);
// ", X-linked, males 0.5, p-male = 0.35": an X-linked setting's share of
// males and the parameters only X reads (but `along`); empty on an autosome.
QString locusText(const ModelSetting& setting, const ModelParameter* along = nullptr);
// The legend's name of a test's curve: on X an autosomal test tests the
// females alone, "Exact (females)".
QString curveLegendName(HweTest test, LocusKind locus);

// "f" or "het-miscall": how charts and tables name a parameter.
QString symbolOf(const ModelParameter& along);
// "Inbreeding, p = 0.4, n = 500": the model, the parameters it reads but
// `along`, and the sample size; the x axis's title ("f (inbreeding
// coefficient) at n = 500") and the effect chart's title.
QString effectSettingText(const ModelSetting& setting, const ModelParameter& along,
                          std::uint32_t n);
QString effectAxisTitle(const ModelParameter& along, std::uint32_t n);
QString effectTitle(const ModelSetting& setting, const ModelParameter& along, std::uint32_t n,
                    double level, PowerMethod method, std::uint32_t replicates);

// The one-line description of a curve's model, level and method.
QString curveTitle(const ModelSetting& setting, double level, PowerMethod method,
                   std::uint32_t replicates);

}  // namespace zyg
