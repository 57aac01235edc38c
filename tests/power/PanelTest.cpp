#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/NullSize.h"
#include "engine/XLinked.h"
#include "power/Panel.h"

namespace zyg {
namespace {

// A small panel: each marker's catch rate is its own exact power.
const std::vector<PanelMarker> kMarkers = {{200, 120}, {200, 120}, {200, 280}, {150, 3}, {150, 3},
                                           {150, 3},   {300, 60},  {300, 0},   {0, 0}};

TEST(Panel, FalseFlagsAndCatchRateAreSumsOfTheMarkersOwnFigures) {
    ModelSetting effect;
    effect.model = GenotypeModel::Error;
    effect.hetMiscall = 0.1;
    const PanelRequest request{
        {HweTest::Exact, HweTest::X2}, {1e-2, 1e-8}, kDefaultBinEdges, effect, std::nullopt};
    const Panel panel(kMarkers, request.binEdges);
    EXPECT_EQ(panel.markers(), 8u);  // the marker without calls is left out
    EXPECT_EQ(panel.testable(), 7u);
    EXPECT_EQ(panel.distinctPairs(), 5u);
    const std::vector<PanelCell> cells = evaluatePanel(panel, request);
    ASSERT_EQ(cells.size(), 2u * 2u * 5u);
    for (const PanelCell& c : cells) {
        if (c.bin != panel.binCount()) continue;
        double mean = 0, variance = 0, caught = 0;
        for (const PanelMarker& m : kMarkers) {
            if (m.n == 0) continue;
            const double s = static_cast<double>(*nullSize(c.test, m.n, m.a, c.level));
            mean += s;
            variance += s * (1 - s);
            const double maf = std::min(m.a, 2 * m.n - m.a) / (2.0 * m.n);
            if (maf == 0) continue;
            ModelSetting at = effect;
            at.p = maf;
            const TestLevel tl{c.test, c.level};
            caught += exactPower(at, m.n, {&tl, 1})[0].power;
        }
        EXPECT_NEAR(c.falseFlags.mean, mean, 1e-12 * (1 + mean));
        EXPECT_NEAR(c.falseFlags.sd, std::sqrt(variance), 1e-12);
        ASSERT_TRUE(c.catchRate);
        EXPECT_NEAR(*c.catchRate, caught / 8, 1e-12);
        EXPECT_LE(c.falseFlags.low, c.falseFlags.high);
    }
}

TEST(Panel, OnePairRepeatedIsTheOneMarkerNumbersTimesTheCount) {
    const std::vector<PanelMarker> same(1000, PanelMarker{500, 300});
    const Panel panel(same, kDefaultBinEdges);
    const auto cells =
        evaluatePanel(panel, {{HweTest::G}, {1e-4}, kDefaultBinEdges, std::nullopt, std::nullopt});
    const double s = static_cast<double>(*nullSize(HweTest::G, 500, 300, 1e-4));
    EXPECT_NEAR(cells.back().falseFlags.mean, 1000 * s, 1e-12);
    EXPECT_EQ(cells[3].markers, 1000u);  // maf 0.3
    EXPECT_FALSE(cells.back().catchRate);
}

// The solved levels against the figures just beside them: the answer keeps
// to its bound, the next level of 3 significant digits does not.
// X markers have rows of their own: the autosomal tests see their females
// (and the whole panel), the tests that count the males the X markers alone.
TEST(Panel, XMarkersAreSummedByTheirOwnSizesAndPower) {
    const PanelMarker x{100, 80, LocusKind::XLinked, 50, 20};
    const std::vector<PanelMarker> markers = {{200, 120}, x, x};
    ModelSetting effect;
    effect.model = GenotypeModel::Error;
    effect.hetMiscall = 0.05;
    const double level = 1e-3;
    const Panel panel(markers, kDefaultBinEdges);
    const auto cells = evaluatePanel(
        panel, {{HweTest::Exact, HweTest::XExact}, {level}, kDefaultBinEdges, effect, 0.3});
    const std::size_t rows = kDefaultBinEdges.size();  // four bins and the total
    ASSERT_EQ(cells.size(), 3 * rows + rows);
    const auto total = [&](std::size_t group) { return cells[group * rows + rows - 1]; };
    const double auto1 = static_cast<double>(*nullSize(HweTest::Exact, 200, 120, level));
    const double females = static_cast<double>(*nullSize(HweTest::Exact, 100, 80, level));
    const XTestLevel xl{XTest::Exact, level};
    const double withMales = static_cast<double>((*xNullSizes({100, 50}, 100, {&xl, 1}))[0]);
    EXPECT_EQ(total(0).group, LocusKind::Autosomal);
    EXPECT_NEAR(total(0).falseFlags.mean, auto1, 1e-15);
    EXPECT_EQ(total(1).group, LocusKind::XLinked);
    EXPECT_NEAR(total(1).falseFlags.mean, 2 * females, 1e-15);
    EXPECT_FALSE(total(2).group);
    EXPECT_EQ(total(2).markers, 3u);
    EXPECT_NEAR(total(2).falseFlags.mean, auto1 + 2 * females, 1e-15);
    EXPECT_TRUE(coversTest(panel, total(2)));
    EXPECT_EQ(total(3).group, LocusKind::XLinked);
    EXPECT_EQ(total(3).markers, 2u);
    EXPECT_NEAR(total(3).falseFlags.mean, 2 * withMales, 1e-15);
    // The catch rate of x-exact: the X model at the marker's sexes, p 100/250
    // and the males' frequency as given.
    XModelSetting xs;
    xs.model = GenotypeModel::Error;
    xs.hetMiscall = 0.05;
    xs.p = 0.4;
    xs.pMale = 0.3;
    EXPECT_NEAR(*total(3).catchRate, xExactPower(xs, {100, 50}, {&xl, 1})[0].power, 1e-12);
}

TEST(Panel, SolvedLevelsSitAtTheBoundaryOfTheScan) {
    std::vector<PanelMarker> markers;
    for (std::uint32_t a = 1; a < 400; a += 7) markers.push_back({200, a});
    const Panel panel(markers, kDefaultBinEdges);
    // Boundaries in the first range the search covers and below it.
    for (const auto& [test, flags] : {std::pair{HweTest::Exact, 0.5},
                                      {HweTest::Exact, 1e-16},
                                      {HweTest::X2, 0.5},
                                      {HweTest::G, 1e-20}}) {
        const auto flagsAt = [&, test = test](double level) {
            return evaluatePanel(panel,
                                 {{test}, {level}, kDefaultBinEdges, std::nullopt, std::nullopt})
                .back()
                .falseFlags.mean;
        };
        const auto level = levelForFalseFlags(panel, test, flags);
        ASSERT_TRUE(level) << hweTestName(test) << " " << flags;
        const double step = std::pow(10.0, std::floor(std::log10(*level)) - 2);
        EXPECT_LE(flagsAt(*level), flags) << hweTestName(test) << " " << *level;
        EXPECT_GT(flagsAt(*level + step), flags) << hweTestName(test) << " " << *level;
    }

    ModelSetting effect;
    effect.model = GenotypeModel::Inbreeding;
    effect.f = 0.2;
    const auto reach = levelForCatchRate(panel, HweTest::Exact, effect, 0.6);
    ASSERT_TRUE(reach);
    const auto rateAt = [&](double l) {
        return *evaluatePanel(panel,
                              {{HweTest::Exact}, {l}, kDefaultBinEdges, effect, std::nullopt})
                    .back()
                    .catchRate;
    };
    const double rstep = std::pow(10.0, std::floor(std::log10(*reach)) - 2);
    EXPECT_GE(rateAt(*reach), 0.6);
    EXPECT_LT(rateAt(*reach - rstep), 0.6);
}

}  // namespace
}  // namespace zyg
