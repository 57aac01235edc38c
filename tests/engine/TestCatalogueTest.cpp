#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <stdexcept>
#include <string>

#include "engine/ExactPower.h"
#include "engine/ObservedSample.h"
#include "engine/TestCatalogue.h"
#include "engine/XLinked.h"

namespace zyg {
namespace {

TEST(TestCatalogue, EveryTestHasOneNameLabelAndColumnAndParsesBack) {
    std::set<std::string_view> names, labels, columns;
    for (const TestEntry& e : kTestCatalogue) {
        EXPECT_TRUE(names.insert(e.name).second) << e.name;
        EXPECT_TRUE(labels.insert(e.label).second) << e.label;
        EXPECT_TRUE(columns.insert(e.pValueColumn).second) << e.pValueColumn;
        if (e.hasStatistic) {
            EXPECT_TRUE(columns.insert(e.statisticColumn).second) << e.name;
        }
        EXPECT_EQ(e.statisticColumn.empty(), !e.hasStatistic) << e.name;
        EXPECT_FALSE(e.help.empty()) << e.name;
        EXPECT_EQ(parseHweTest(e.name), e.test);
        EXPECT_EQ(testLabel(e.test), e.label);
        EXPECT_EQ(&testEntry(e.test), &e);
    }
    for (const char* unknown : {"", "X2", "G", "exact ", "g_window", "gwindow"})
        EXPECT_FALSE(parseHweTest(unknown)) << unknown;
}

TEST(TestCatalogue, EveryListHoldsTheTestsOfTheTable) {
    ASSERT_EQ(kHweTests.size(), kTestCount);
    for (std::size_t i = 0; i < kTestCount; ++i) {
        EXPECT_EQ(kHweTests[i], kTestCatalogue[i].test);
        EXPECT_EQ(testIndex(kHweTests[i]), i);
    }
    // Observed samples get every test but the window's own G, in the table's
    // order.
    std::vector<HweTest> expected;
    for (HweTest t : kHweTests)
        if (t != HweTest::GWindow) expected.push_back(t);
    EXPECT_EQ(observedSampleTests(), expected);
}

// The table's flags say what the engine does with each test.
TEST(TestCatalogue, FlagsMatchWhatTheEngineComputes) {
    const SampleCounts counts{30, 40, 30};
    const std::vector<HweTest> autosomal = locusTests(LocusKind::Autosomal);
    const auto values = testSample(counts, autosomal);
    for (std::size_t i = 0; i < autosomal.size(); ++i) {
        const HweTest t = autosomal[i];
        EXPECT_EQ(values[i].statistic.has_value(), hasStatistic(t)) << hweTestName(t);
        EXPECT_TRUE(values[i].pValue) << hweTestName(t);
        EXPECT_EQ(exactRejection(t, 100, 100, 0.05).has_value(), isExactFamily(t))
            << hweTestName(t);
        // On X every autosomal test but the window's G applies to the females.
        EXPECT_EQ(appliesTo(t, LocusKind::XLinked), t != HweTest::GWindow) << hweTestName(t);
    }
    // The tests that count the males are the X-linked engine's, by name.
    for (HweTest t : kHweTests) {
        if (appliesTo(t, LocusKind::Autosomal)) continue;
        const auto x = parseXTest(hweTestName(t));
        ASSERT_TRUE(x) << hweTestName(t);
        EXPECT_EQ(xTestHasStatistic(*x), hasStatistic(t)) << hweTestName(t);
        const XTest one[] = {*x};
        EXPECT_TRUE(testXSample({30, 40, 30, 45, 55}, one)[0].pValue) << hweTestName(t);
    }
}

TEST(LocusKinds, NamesParseBackAndSetsHoldTheirKinds) {
    for (const LocusKindEntry& e : kLocusKinds) {
        EXPECT_EQ(parseLocusKind(e.name), e.kind);
        EXPECT_EQ(locusKindEntry(e.kind).label, e.label);
    }
    EXPECT_FALSE(parseLocusKind("X"));
    EXPECT_TRUE(kEveryLocus.contains(LocusKind::XLinked));
    EXPECT_TRUE(kEveryLocus.contains(LocusKind::Autosomal));
    EXPECT_FALSE(kXLinkedOnly.contains(LocusKind::Autosomal));
    EXPECT_FALSE(LocusKinds().contains(LocusKind::Autosomal));
}

TEST(LocusKinds, TheAutosomalTestsRefuseHemizygotes) {
    SampleCounts x{10, 5, 3};
    x.maleA = 4;
    EXPECT_THROW(summarizeSample(x), std::invalid_argument);
    x.maleA = 0;
    x.locus = LocusKind::XLinked;
    EXPECT_THROW(testSample(x, kHweTests), std::invalid_argument);
    EXPECT_NO_THROW(exactPValues(SampleCounts{10, 5, 3}));
}

}  // namespace
}  // namespace zyg
