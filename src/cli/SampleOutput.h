#pragma once

// What zygomet-test writes for its samples: CSV at full precision, or an
// aligned table for a reader.

#include <span>
#include <string>
#include <vector>

#include "engine/TestCatalogue.h"
#include "sources/SampleSource.h"

namespace zyg {

// marker,AA,AB,BB,n,p,F and, for each test in its order, x2,p_x2 (the
// statistic only for x2, g and x2cc), p_exact, p_exact_midp, ...
// On X: marker,AA,AB,BB,A,B,nf,nm,p_female,p_male,p,F_female, then each
// test's columns, those of the tests on the females alone ending in _females.
std::string sampleCsvHeader(std::span<const HweTest> tests, LocusKind locus = LocusKind::Autosomal);

// The CSV rows of a batch of samples: shortest round-trip numbers with ".",
// empty fields for what a monomorphic sample lacks. The samples are computed
// on up to `threads` threads; the text is the same for any number.
std::string sampleCsvRows(std::span<const InputSample> samples, std::span<const HweTest> tests,
                          unsigned threads);

// The aligned table (marker, counts, n, p, the expected counts, F, each
// test's statistic and p-value to 6 significant digits, and a note), built
// batch by batch: each row first as its cells, '\t' between them and '\n'
// after, which widens the columns; once every row is in, each such line is
// aligned to the widest cells.
class SampleTable {
public:
    explicit SampleTable(std::span<const HweTest> tests, LocusKind locus = LocusKind::Autosomal);
    std::string headerCells();
    std::string rowCells(std::span<const InputSample> samples, unsigned threads);
    std::string aligned(std::string_view cells) const;

private:
    std::string cellLine(const std::vector<std::string>& cells);

    std::vector<HweTest> tests_;
    LocusKind locus_;
    std::vector<std::size_t> width_;
};

// "only A1 occurs" or "only A2 occurs" for a monomorphic sample, else empty.
std::string monomorphicNote(const SampleCounts& counts);

}  // namespace zyg
