#pragma once

// What the Python module and the R package share: a study described by named
// values (the names a script passes, "p", "f", "het_miscall", ...) made into
// a checked StudyRequest, its problems worded without any command-line
// option, the study's CSV read back into columns, and the tests of many
// samples at once on all cores. Neither language's headers are included
// here: each binding converts its own arrays and raises its own errors.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/ObservedSample.h"
#include "engine/XLinked.h"
#include "power/Solve.h"

namespace zyg::bindings {

// Bad input from a script: the message is a sentence for its user.
class ArgumentError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// A study as a script gives it. `values` holds each list by its name:
// p, n, var, f, w11, w12, w22, het_miscall, hom_miscall, null,
// allele_count, levels. Only the names given are present.
struct StudyArguments {
    std::string model = "hw";
    std::map<std::string, std::vector<double>> values;
    std::optional<std::vector<std::string>> tests;  // nothing: x2 and g
    std::string method = "exact";
    std::optional<double> nrep, seed, target;
    std::string solve;                // empty: power at every point; "n"; or a model parameter
    std::string locus = "autosomal";  // a name of kLocusKinds: "autosomal" or "x"
    std::optional<double> males;      // X: the share of the n people who are male
};

// The names `values` may hold, in the order the documentation lists them.
const std::vector<std::string>& studyValueNames();

// Builds the request (lists without repeats, as the command line does) and
// checks it; throws ArgumentError with the first problem in the library's
// neutral words (studyProblemText), which name no option of any front end.
// A model parameter is named by its CSV column ("het_miscall"); a solve
// takes that name or the command line's word ("het-miscall").
StudyRequest buildRequest(const StudyArguments& arguments);

// Runs the study, or solves it when `solve` is given, and returns its CSV
// text. Throws ArgumentError for bad input.
std::string studyCsvText(const StudyArguments& arguments);

// A CSV text as columns: a column whose every non-empty field is a number is
// numeric (empty fields are NaN, numbers read correctly rounded), any other
// column is text.
struct CsvColumn {
    std::string name;
    bool numeric = true;
    std::vector<double> numbers;
    std::vector<std::string> texts;
};
std::vector<CsvColumn> csvColumns(const std::string& text);

// Reads one decimal number correctly rounded; nothing when the text is not
// one number.
std::optional<double> readNumber(const std::string& text);

// The tests named, in their order. Throws ArgumentError for an unknown or
// repeated name, or for no name at all, and for samples (autosomal ones)
// also for a test that counts the males.
std::vector<HweTest> parseTests(const std::vector<std::string>& names, bool samples = true);

// The output columns of testSamples, in their order: n, p, F, then per
// test its statistic (x2, g and x2cc only) and its p-value, named like the
// columns of zygomet-test's CSV.
std::vector<std::string> sampleColumnNames(const std::vector<HweTest>& tests);

// Tests `count` samples whose counts were checked (each at most
// kMaxSampleGenotypeCount) and writes column c of sample i to
// out[c][i]; a sample of n 0 or with one allele absent has NaN where it
// cannot be tested. Runs on up to `threads` threads (0: one per core);
// small inputs stay on the calling thread.
void testSamples(const std::uint64_t* aa, const std::uint64_t* ab, const std::uint64_t* bb,
                 std::size_t count, const std::vector<HweTest>& tests,
                 const std::vector<double*>& out, unsigned threads = 0);

// The tests of X-linked samples: those that count the males (x-exact,
// x-exact-midp, x-x2, x-g) and the autosomal tests applied to the females
// alone, in the order asked.
struct XTests {
    std::vector<XTest> males;
    std::vector<HweTest> females;
    // Each test asked: whether it counts the males, and its place in its list.
    std::vector<std::pair<bool, std::size_t>> order;
};

// Every test an X-linked sample takes, in the order zygomet-test gives them.
std::vector<std::string> xTestNames();

// The tests named, in their order. Throws ArgumentError for an unknown or
// repeated name, or for no name at all.
XTests parseXTests(const std::vector<std::string>& names);

// The output columns of testXSamples: nf, nm, p_female, p_male, p (over all
// alleles), F_female, then per test its statistic and p-value, named as in
// zygomet-test's CSV (the tests on the females alone end in "_females").
std::vector<std::string> xSampleColumnNames(const XTests& tests);

// The count arrays of X-linked samples: females AA, AB, BB, males A, B.
struct XCountArrays {
    const std::uint64_t *aa, *ab, *bb, *a, *b;
};

// Tests `count` X-linked samples (each count at most kMaxSampleGenotypeCount)
// as testSamples does: a sample without anyone has NaN past nf and nm; a test
// that does not apply (one allele absent among everyone, or among the
// females for a test on the females alone; x-exact above kMaxXExactAlleles
// alleles) has NaN.
void testXSamples(const XCountArrays& counts, std::size_t count, const XTests& tests,
                  const std::vector<double*>& out, unsigned threads = 0);

}  // namespace zyg::bindings
