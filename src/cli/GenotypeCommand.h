#pragma once

// zygomet-test on a genotype file (VCF, BCF, PLINK fileset): each marker's
// counts tested as the file is read, with its position and alleles before
// the columns of count lines, what was not counted after them, the fail
// columns of the levels asked, the columns of the tests that count the
// males (when any is asked), a summary and a Q-Q plot. No Qt.

#include <optional>
#include <string>
#include <vector>

#include "cli/SampleCommand.h"
#include "engine/TestCatalogue.h"
#include "sources/GenotypeFiles.h"

namespace zyg {

struct GenotypeRun {
    std::string file;  // as typed
    RecognisedInput input;
    std::vector<HweTest> tests;
    std::optional<std::string> csv;
    bool skipBad = false;
    GenotypeOptions source;
    std::vector<double> levels;             // --level: fail columns and the summary
    std::optional<std::string> summary;     // --summary FILE (CSV); else on standard error
    std::optional<std::string> annotate;    // a copy of a VCF/BCF with the p-values as INFO tags
    std::optional<double> keepPassing;      // only the markers the first test does not reject
    std::optional<std::string> outPassing;  // the IDs of those markers, one a line
    std::optional<std::string> qq;          // the Q-Q plot: .png, .svg, or its numbers as .csv
};

// The INFO tag of a test's p-value: HWE_EXACT, HWE_MIDP, HWE_X2, ...
std::string annotationTag(HweTest test);

// Runs the test of a genotype file; the exit status. Throws UsageError for
// input that cannot be read (status 2).
int testGenotypeFile(const GenotypeRun& run, const SampleStreams& io);

// The paragraph of --help on genotype files.
std::string genotypeHelpText();

// "0.01", "1e-06": a level as its columns and the summary name it.
std::string levelText(double level);

}  // namespace zyg
