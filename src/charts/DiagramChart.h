#pragma once

// The de Finetti diagram of the diagram window, built from its data alone so
// that the window, the exports and the command line draw the same picture.

#include <QList>
#include <QPointF>
#include <QString>
#include <optional>
#include <vector>

#include "power/DeFinetti.h"

class QChart;

namespace zyg {

// One of the user's own samples on the diagram, with the chosen test's
// decision on it (nothing when it cannot be tested). An X-linked sample's
// counts are its females'; its males are drawn on the base of the triangle
// at their allele frequency.
struct DiagramSample {
    QString name;
    GenotypeCounts counts;
    std::optional<bool> rejected;
    std::optional<MaleCounts> males;
};

// Where males of this frequency of A1 lie on the base of the triangle
// (A1A1 at x 0, A2A2 at x 1, as for the females' allele frequency).
TrianglePoint malePoint(double pMale);

// The outline of a test's acceptance region among the samples of n.
struct DiagramOutline {
    HweTest test = HweTest::X2;
    std::uint32_t n = 0;
    std::vector<LatticePoint> lattice;
};

// What the diagram draws over the lattice besides the model and last sample.
struct DiagramExtras {
    std::vector<DiagramSample> samples;
    std::vector<DiagramOutline> outlines;
    double minAlleleFrequency = 0;  // the lines where the minor allele has it; 0: none
    double minExpectedCount = 0;    // the lines where the rarer homozygote's
                                    // expected count among n is it; 0: none
};

// The acceptance region's outline among the samples of a lattice: for each
// allele count, the fewest and the most heterozygotes not rejected, joined
// along the lower edge and back along the upper one (a closed line in
// triangle coordinates); empty when no sample is accepted.
QList<QPointF> regionOutline(const std::vector<LatticePoint>& lattice);

// The de Finetti diagram of a lattice: the triangle with its corners, the
// Hardy-Weinberg parabola, the samples the test does not reject, those it
// rejects and those it cannot test, the model's point and the last sample
// when there is one; the extras over them. The caller owns the chart.
QChart* buildDeFinettiChart(const DeFinettiPicture& picture, const DiagramExtras& extras = {});

// The series of the extras: the user's samples by decision, one outline per
// test and n, and the two kinds of lines.
QString outlineSeriesName(HweTest test, std::uint32_t n);  // "Exact, n = 40"
inline const QString kSamplesRejectedName = QStringLiteral("Your samples: rejected");
inline const QString kSamplesAcceptedName = QStringLiteral("Your samples: not rejected");
inline const QString kSamplesUntestableName = QStringLiteral("Your samples: not testable");
inline const QString kMinAlleleFrequencyName = QStringLiteral("Minimum allele frequency");
inline const QString kMinExpectedCountName = QStringLiteral("Minimum expected count");
inline const QString kSamplesMalesName = QStringLiteral("Your samples: males");
inline const QString kModelMalesSeriesName = QStringLiteral("Model: males");

inline const QString kAcceptedSeriesName = QStringLiteral("Not rejected");
inline const QString kRejectedSeriesName = QStringLiteral("Rejected");
inline const QString kUntestableSeriesName = QStringLiteral("Not testable");
inline const QString kParabolaSeriesName = QStringLiteral("Hardy-Weinberg");
inline const QString kModelSeriesName = QStringLiteral("Model");
inline const QString kLastSampleSeriesName = QStringLiteral("Last sample");

}  // namespace zyg
