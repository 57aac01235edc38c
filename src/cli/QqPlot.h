#pragma once

// The Q-Q plot of a genotype file's p-values: each test's -log10 p-values,
// smallest first, against what they would be if every marker were in
// Hardy-Weinberg proportions given its n and allele count. That null is
// discrete: a rare marker has few possible samples, so its p-values are far
// from uniform, and the uniform expectation overstates how small they get.
// Autosomal and X-linked markers are panels apart. The numbers are made
// here, without Qt; the picture is drawn by a program of its own
// (zygomet-plot-qq), so that zygomet-test starts without the toolkit.
//
// The model of a panel of N p-values, at rank i (1 the smallest p):
// - expected: -log10 t for the t at which the panel's null distribution of
//   the p-value, F0(t) = the mean over its markers of the test's size at
//   level t given the marker's n and allele count (engine/NullSize.h), meets
//   (i - 0.5) / N. F0 is evaluated at levels 10^(-k/100) from 10^-0.31 on
//   (and F0(1) = 1) and inverted between neighbouring levels on the log
//   scale, so expected lies within 0.01 of the exact inverse of the step
//   function beyond p 0.49;
// - low, high: the same inverse at the 97.5% and 2.5% points of the
//   uniform order statistic Beta(i, N + 1 - i): the 95% band of the i-th
//   smallest p-value under the null;
// - uniform: -log10((i - 0.5) / N), the continuous expectation.
// Every rank among the 300 smallest p-values is a point, then ranks 2%
// apart, and the last; beyond the 300 smallest the observed values are
// read from bins 0.01 wide, so memory stays bounded whatever N.

#include <array>
#include <cstdint>
#include <map>
#include <queue>
#include <string>
#include <vector>

#include "core/Types.h"
#include "engine/LocusKind.h"
#include "engine/ObservedSample.h"
#include "engine/TestCatalogue.h"

namespace zyg {

// Whether a --qq file name ends in .png, .svg (a picture) or .csv (the
// numbers), any case.
bool qqFileName(const std::string& path);

struct QqPoint {
    std::uint64_t rank = 0;
    double expected = 0, observed = 0, low = 0, high = 0, uniform = 0;  // -log10 p
};

struct QqPanel {
    HweTest test = HweTest::Exact;
    LocusKind locus = LocusKind::Autosomal;
    std::uint64_t markers = 0;
    std::vector<QqPoint> points;
};

class QqCollector {
public:
    explicit QqCollector(std::vector<HweTest> tests) : tests_(std::move(tests)) {}
    // A p-value of tests[test] on a marker of `locus`, with the counts the
    // test saw (the females' for a test of count lines on X).
    void add(std::size_t test, LocusKind locus, const SampleCounts& counts, Extended p);
    // The panels in the order of the tests, autosomal before X-linked.
    std::vector<QqPanel> panels() const;

private:
    struct Panel {
        std::priority_queue<double, std::vector<double>, std::greater<>> tail;  // the largest
        std::vector<std::uint64_t> bins;
        std::uint64_t count = 0;
        // (n, allele count) or (nf, nm, allele count) and how many markers.
        std::map<std::array<std::uint64_t, 3>, std::uint64_t> markers;
    };
    std::vector<HweTest> tests_;
    std::map<std::pair<std::size_t, LocusKind>, Panel> panels_;
};

// The panels as CSV: test,locus,markers,rank,expected,observed,low,high,uniform.
std::string qqCsv(const std::vector<QqPanel>& panels);

// Writes the numbers (.csv) or has zygomet-plot-qq draw them (.png, .svg),
// whole or not at all: empty, else what went wrong.
std::string writeQqFile(const std::string& path, const std::vector<QqPanel>& panels);

}  // namespace zyg
