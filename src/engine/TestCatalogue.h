#pragma once

// The tests of Hardy-Weinberg proportions, each named once: its name on the
// command line and in CSV files, its label in tables and legends, whether it
// belongs to the exact family, whether it has a statistic beside its p-value,
// the kinds of locus it applies to, where it is offered, its line of --help
// and its CSV columns. Every list of tests, every name, label and help line
// and the parsing of a name are lookups in kTestCatalogue.
//
// Adding a test: an enumerator of HweTest (at the end, so that the order of
// the others stays), its row of kTestCatalogue at the same place, and the code
// that decides it (exact power, the observed samples, the simulation).

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/LocusKind.h"

namespace zyg {

// The exact family (exactFamily in the catalogue) is conditional on the
// allele count a: given a, the heterozygote count H has P(H = h | a)
// proportional to 2^h / (n11! h! n22!) under Hardy-Weinberg, and a sample
// with h heterozygotes gets the p-value below. They are testable when both
// alleles occur, and reject when the p-value is at most the level (up to a
// relative 1e-9). Counts whose conditional probabilities differ by less than a
// relative 1e-7 are equally probable ("ties").
enum class HweTest {
    X2,                // Pearson's X2 against the sample's own expectation, no correction
    G,                 // the likelihood-ratio G with 0 ln 0 = 0: testable when both alleles occur
    X2cc,              // X2 with the continuity correction: |o - e| less min(0.5, |o - e|)
    Exact,             // P(counts no more probable than h)
    ExactMidP,         // P(counts less probable than h) + P(counts tied with h) / 2;
                       // 0.5 when h is the only possible count
    ExactDost,         // doubled one-sided: min(1, 2 min(P(H <= h), P(H >= h)))
    ExactDeficit,      // P(H <= h): heterozygote deficit
    ExactExcess,       // P(H >= h): heterozygote excess
    ExactDeficitMidP,  // P(H <= h) - P(H = h) / 2
    ExactExcessMidP,   // P(H >= h) - P(H = h) / 2
    GWindow,           // G as the main window decides it: a sample with a zero count is not
                       // testable (the main window's G, for comparing with its runs)
    // The tests that count the males of an X-linked sample (engine/XLinked.h,
    // named there by the same names).
    XExact,      // exact, conditional on the allele count of females and males together
    XExactMidP,  // its mid-p
    XX2,         // Pearson's X2 over the five classes A, B, AA, AB, BB, 2 df
    XG,          // the likelihood-ratio G over the same classes, 2 df
};

struct TestEntry {
    HweTest test;
    std::string_view name;   // --test, the CSV's test column
    std::string_view label;  // tables, legends, menus
    bool exactFamily;        // conditional on the allele count
    bool hasStatistic;       // a statistic beside the p-value (chi-square tests)
    LocusKinds loci;         // the kinds of locus it applies to; on X an autosomal
                             // test is applied to the females alone
    bool observedSamples;    // offered for observed samples (zygomet-test)
    // The description in --help; "\n" starts a continuation line.
    std::string_view help;
    // The CSV columns of an observed sample: the statistic's (empty when the
    // test has none) and the p-value's.
    std::string_view statisticColumn;
    std::string_view pValueColumn;
};

inline constexpr TestEntry kTestCatalogue[] = {
    {HweTest::X2, "x2", "X2", false, true, kEveryLocus, true,
     "Pearson's X2 against the sample's own Hardy-Weinberg\nexpectation, 1 df", "x2", "p_x2"},
    {HweTest::G, "g", "G", false, true, kEveryLocus, true,
     "the likelihood-ratio G = 2 sum o ln(o/e), 0 ln 0 = 0, 1 df", "g", "p_g"},
    {HweTest::X2cc, "x2cc", "X2 (cc)", false, true, kEveryLocus, true,
     "X2 with each term max(0, |o - e| - 0.5)^2 / e: the\ncontinuity correction never "
     "increases a term",
     "x2cc", "p_x2cc"},
    {HweTest::Exact, "exact", "Exact", true, false, kEveryLocus, true,
     "exact test: P(heterozygote counts no more probable)", "", "p_exact"},
    {HweTest::ExactMidP, "exact-midp", "Exact mid-p", true, false, kEveryLocus, true,
     "exact mid-p: P(less probable) + P(as probable) / 2", "", "p_exact_midp"},
    {HweTest::ExactDost, "exact-dost", "Exact doubled one-sided", true, false, kEveryLocus, true,
     "doubled one-sided: min(1, 2 min(P(H <= h), P(H >= h)))", "", "p_exact_dost"},
    {HweTest::ExactDeficit, "exact-deficit", "Exact deficit", true, false, kEveryLocus, true,
     "one-sided, heterozygote deficit: P(H <= h)", "", "p_exact_deficit"},
    {HweTest::ExactExcess, "exact-excess", "Exact excess", true, false, kEveryLocus, true,
     "one-sided, heterozygote excess: P(H >= h)", "", "p_exact_excess"},
    {HweTest::ExactDeficitMidP, "exact-deficit-midp", "Exact deficit mid-p", true, false,
     kEveryLocus, true, "P(H <= h) - P(H = h) / 2", "", "p_exact_deficit_midp"},
    {HweTest::ExactExcessMidP, "exact-excess-midp", "Exact excess mid-p", true, false, kEveryLocus,
     true, "P(H >= h) - P(H = h) / 2", "", "p_exact_excess_midp"},
    {HweTest::GWindow, "g-window", "G (window)", false, true, kAutosomalOnly, false,
     "G as the main window decides it: a sample with a zero\ncount is not tested (for comparing "
     "with the window's runs)",
     "g_window", "p_g_window"},
    {HweTest::XExact, "x-exact", "X exact", false, false, kXLinkedOnly, true,
     "X-linked exact test with the males: P(outcomes no more\nprobable, given the allele count)",
     "", "p_x_exact"},
    {HweTest::XExactMidP, "x-exact-midp", "X exact mid-p", false, false, kXLinkedOnly, true,
     "X-linked exact mid-p: P(less probable) + P(as probable) / 2", "", "p_x_exact_midp"},
    {HweTest::XX2, "x-x2", "X-linked X2", false, true, kXLinkedOnly, true,
     "Pearson's X2 over males A, B and females AA, AB, BB, 2 df", "x_x2", "p_x_x2"},
    {HweTest::XG, "x-g", "X-linked G", false, true, kXLinkedOnly, true,
     "the likelihood-ratio G over the same five classes, 2 df", "x_g", "p_x_g"},
};

inline constexpr std::size_t kTestCount = std::size(kTestCatalogue);

// Every test, in the order of the catalogue (and of the enumeration).
inline constexpr std::array<HweTest, kTestCount> kHweTests = [] {
    std::array<HweTest, kTestCount> all{};
    for (std::size_t i = 0; i < kTestCount; ++i) all[i] = kTestCatalogue[i].test;
    return all;
}();

// The catalogue lists the tests in the order of the enumeration, so that an
// entry is found by its index.
static_assert([] {
    for (std::size_t i = 0; i < kTestCount; ++i)
        if (static_cast<std::size_t>(kTestCatalogue[i].test) != i) return false;
    return true;
}());

// The test's place in the catalogue (what charts key colours and dashes by).
constexpr std::size_t testIndex(HweTest test) { return static_cast<std::size_t>(test); }
constexpr const TestEntry& testEntry(HweTest test) { return kTestCatalogue[testIndex(test)]; }

constexpr std::string_view hweTestName(HweTest test) { return testEntry(test).name; }
constexpr bool isExactFamily(HweTest test) { return testEntry(test).exactFamily; }
constexpr bool hasStatistic(HweTest test) { return testEntry(test).hasStatistic; }
constexpr bool appliesTo(HweTest test, LocusKind kind) {
    return testEntry(test).loci.contains(kind);
}
std::string testLabel(HweTest test);

// The test of a name, or nothing for a name the catalogue does not hold.
std::optional<HweTest> parseHweTest(std::string_view name);

// The tests offered for observed samples, in the catalogue's order.
std::vector<HweTest> observedSampleTests();
// Those that apply to a kind of locus: what an observed sample of it gets
// when no test is named.
std::vector<HweTest> observedSampleTests(LocusKind kind);
// The tests that apply to a kind of locus, in the catalogue's order.
std::vector<HweTest> locusTests(LocusKind kind);

// The name of a test's column (its statistic's or its p-value's) on an
// X-linked sample: the autosomal tests use the females alone there, and their
// columns say so with the suffix "_females".
std::string xLinkedColumn(HweTest test, std::string_view column);
// The columns of an X-linked sample's figures, as every output names them:
// nf, nm, p_female, p_male, p (over all alleles), F_female, then per test its
// statistic (where it has one) and its p-value.
std::vector<std::string> xLinkedSampleColumns(const std::vector<HweTest>& tests);

}  // namespace zyg
