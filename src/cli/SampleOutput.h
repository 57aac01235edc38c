#pragma once

// What zygomet-test writes for its samples: CSV at full precision, or an
// aligned table for a reader.

#include <span>
#include <string>
#include <vector>

#include "cli/SampleInput.h"
#include "engine/TestCatalogue.h"

namespace zyg {

// marker,AA,AB,BB,n,p,F and, for each test in its order, x2,p_x2 (the
// statistic only for x2, g and x2cc), p_exact, p_exact_midp, ...
std::string sampleCsvHeader(std::span<const HweTest> tests);

// The CSV text of every sample, header first: shortest round-trip numbers
// with ".", empty fields for what a monomorphic sample lacks. The samples are
// computed on up to `threads` threads; the text is the same for any number.
std::string sampleCsvText(std::span<const InputSample> samples, std::span<const HweTest> tests,
                          unsigned threads);

// The aligned table: marker, counts, n, p, the expected counts, F, each
// test's statistic and p-value to 6 significant digits, and a note.
std::string sampleTable(std::span<const InputSample> samples, std::span<const HweTest> tests,
                        unsigned threads);

// "only A1 occurs" or "only A2 occurs" for a monomorphic sample, else empty.
std::string monomorphicNote(const SampleCounts& counts);

}  // namespace zyg
