// The panel section: the false flags of a biobank array (10^6 markers of
// 10^4 to 5x10^5 people, half of them rare) at two levels, and the level
// that keeps them at one, for the exact test and X2; and a panel of 10^5
// markers of about 2,000 people with a 2% heterozygote miscall, four tests
// and ten levels. The markers are drawn from one seed, so runs compare.

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "BenchSections.h"
#include "power/Panel.h"

namespace zyg::bench {
namespace {

// Markers in Hardy-Weinberg proportions: n uniform in [low, high], the minor
// allele frequency log-uniform from 1e-4 to 0.01 for half of them and
// uniform from 0.01 to 0.5 for the others.
std::vector<PanelMarker> drawPanel(std::size_t count, std::uint32_t low, std::uint32_t high) {
    std::mt19937_64 random(20261209);
    std::uniform_int_distribution<std::uint32_t> people(low, high);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<PanelMarker> markers(count);
    for (PanelMarker& m : markers) {
        m.n = people(random);
        const double p =
            unit(random) < 0.5 ? std::pow(10.0, -4 + 2 * unit(random)) : 0.01 + 0.49 * unit(random);
        m.a = std::binomial_distribution<std::uint32_t>(2 * m.n, p)(random);
    }
    return markers;
}

void panelSection() {
    std::printf("%-64s %10s  %s\n", "case", "ms", "answer");
    {
        const auto markers = drawPanel(1000000, 10000, 500000);
        const Panel panel(markers, kDefaultBinEdges);
        for (const HweTest test : {HweTest::Exact, HweTest::X2}) {
            std::vector<PanelCell> cells;
            const double ms = timeMs([&] {
                cells = evaluatePanel(panel, {{test}, {1e-6, 1e-10}, kDefaultBinEdges, {}, {}});
            });
            std::printf("%-64s %10.0f  %.3g and %.3g false flags (%zu distinct pairs)\n",
                        ("biobank 10^6 markers: false flags at 1e-6, 1e-10, " +
                         std::string(hweTestName(test)))
                            .c_str(),
                        ms, cells[panel.binCount()].falseFlags.mean, cells.back().falseFlags.mean,
                        panel.distinctPairs());
            std::optional<double> level;
            const double solveMs = timeMs([&] { level = levelForFalseFlags(panel, test, 1); });
            std::printf(
                "%-64s %10.0f  level %.3g\n",
                ("biobank 10^6 markers: --solve level, " + std::string(hweTestName(test))).c_str(),
                solveMs, level.value_or(0));
        }
    }
    {
        const auto markers = drawPanel(100000, 1900, 2000);
        const Panel panel(markers, kDefaultBinEdges);
        ModelSetting effect;
        effect.model = GenotypeModel::Error;
        effect.hetMiscall = 0.02;
        const PanelRequest request{{HweTest::Exact, HweTest::ExactMidP, HweTest::X2, HweTest::G},
                                   logLevels(1e-12, 1e-3, 10),
                                   kDefaultBinEdges,
                                   effect,
                                   {}};
        std::vector<PanelCell> cells;
        const double ms = timeMs([&] { cells = evaluatePanel(panel, request); });
        std::printf("%-64s %10.0f  exact at 1e-12: %.3g false flags (%zu distinct pairs)\n",
                    "10^5 markers of ~2000 people, het miscall 0.02, 4 tests x 10 levels", ms,
                    cells[panel.binCount()].falseFlags.mean, panel.distinctPairs());
    }
}

}  // namespace

ZYG_BENCH_SECTION(60, "panel: false flags and the level of a biobank array", panelSection);

}  // namespace zyg::bench
