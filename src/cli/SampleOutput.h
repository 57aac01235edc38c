#pragma once

// What zygomet-test writes for its samples: CSV at full precision, or an
// aligned table for a reader.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/Types.h"
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

// "only A1 occurs" or "only A2 occurs" for a monomorphic sample, "no called
// genotype" for one whose counts are all 0, else empty.
std::string monomorphicNote(const SampleCounts& counts);

// Whether every count is 0: a marker of a file with no genotype called, a
// row without p-values.
bool noGenotypes(const SampleCounts& counts);

// A genotype file holds autosomal and X-linked markers in one layout: the
// columns of autosomal count lines, in which an X-linked marker shows its
// females (n is nf, p and F are theirs, and the tests are on the females
// alone), and, when tests that count the males are asked, these columns:
// A,B,nm,p_male,p_all (p over everyone's alleles) and each such test's
// statistic and p-value, empty on an autosomal marker.
std::vector<std::string> maleColumns(std::span<const HweTest> maleTests);

struct MaleCells {
    std::vector<std::string> cells;                // as maleColumns names them
    std::vector<std::optional<Extended>> pValues;  // each test's, nothing when untested
};
// At full precision for CSV, else to 6 significant digits.
MaleCells maleCells(const SampleCounts& counts, std::span<const HweTest> maleTests, bool csv);

// A p-value as the CSV (full precision) or the table (6 digits) writes it,
// also below the double range.
std::string pValueText(Extended v, bool csv);

}  // namespace zyg
