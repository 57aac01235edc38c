#pragma once

// A panel of markers and the threshold of a Hardy-Weinberg filter on it: how
// many markers each test flags by chance at a level when every marker is in
// Hardy-Weinberg proportions (the false flags), and what share of markers
// with a given defect it drops (the catch rate), overall and by
// minor-allele-frequency bin. No Qt.
//
// False flags. Marker i is rejected by chance with probability s_i, its
// exact size given its n and allele count (engine/NullSize.h), independently
// of the others: the count is a sum of independent Bernoulli variables with
// mean sum s_i and variance sum s_i (1 - s_i). Its 95% interval is that of
// the Poisson distribution of the same mean while sum s_i^2 <= 0.05 (Le Cam:
// the two distributions then differ by at most that much in every
// probability), and the normal one of the same mean and variance, rounded
// outwards to whole markers, beyond.
//
// Catch rate. Each marker's power at its n and allele frequency under the
// effect (engine/ExactPower.h), averaged over the markers. Distinct (n,
// allele count) pairs are computed once. Beyond 2000 distinct pairs the
// power, which varies smoothly with both, is computed at the nearest point
// of geometric grids of n (steps of 1%) and of the minor allele frequency
// (steps of 5%), so that a panel of 100,000 markers costs about a thousand
// points rather than one per pair.
//
// X-linked markers enter with their females: the autosomal tests see the
// females alone, so a marker counts as n = nf genotypes with the females'
// allele count, and its power is that of the females' model.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "core/Types.h"
#include "engine/ExactPower.h"

namespace zyg {

// One marker: called genotypes n (for X, the females) and copies of A1.
struct PanelMarker {
    std::uint32_t n = 0, a = 0;
};

// The minor-allele-frequency bins: [edge i, edge i + 1), the last one closed.
inline const std::vector<double> kDefaultBinEdges{0, 0.01, 0.05, 0.2, 0.5};

struct PanelRequest {
    std::vector<HweTest> tests;
    std::vector<double> levels;
    std::vector<double> binEdges = kDefaultBinEdges;
    std::optional<ModelSetting> effect;  // its p is each marker's
};

// What a panel holds: the markers grouped by (n, allele count).
class Panel {
public:
    Panel(std::span<const PanelMarker> markers, std::vector<double> binEdges);
    std::uint64_t markers() const { return markers_; }
    // Markers that both alleles occur in (the others are never flagged).
    std::uint64_t testable() const { return testable_; }
    std::size_t distinctPairs() const { return pairs_.size(); }
    std::size_t binCount() const { return binEdges_.size() - 1; }
    const std::vector<double>& binEdges() const { return binEdges_; }
    // The markers of bin b (binCount() for all).
    std::uint64_t markersIn(std::size_t bin) const;

    struct Pair {
        std::uint32_t n, a;
        std::uint64_t count;
        std::size_t bin;
    };
    const std::vector<Pair>& pairs() const { return pairs_; }

private:
    std::vector<Pair> pairs_;
    std::vector<double> binEdges_;
    std::vector<std::uint64_t> binMarkers_;
    std::uint64_t markers_ = 0, testable_ = 0;
};

// The expected number of false flags and its spread.
struct FalseFlags {
    double mean = 0, sd = 0;
    std::uint64_t low = 0, high = 0;  // the 95% interval
};

// One test, level and bin (bin == binCount() for the whole panel).
struct PanelCell {
    HweTest test = HweTest::Exact;
    double level = 0;
    std::size_t bin = 0;
    std::uint64_t markers = 0;
    FalseFlags falseFlags;
    std::optional<double> catchRate;  // with an effect
};

// Reports the work done, out of the total.
using PanelProgress = std::function<void(std::size_t done, std::size_t total)>;

// Every test x level x bin (the whole panel last within each test and level).
std::vector<PanelCell> evaluatePanel(const Panel& panel, const PanelRequest& request,
                                     const PanelProgress& progress = {});

// The largest level from 1e-300 to 0.5 (to 3 significant digits) at which
// the test's expected false flags on the panel stay at most `flags`; nothing
// when even 1e-300 flags more.
std::optional<double> levelForFalseFlags(const Panel& panel, HweTest test, double flags);

// The smallest level from 1e-300 to 0.5 (to 3 significant digits) whose
// catch rate under the effect reaches `target`; nothing when 0.5 does not.
std::optional<double> levelForCatchRate(const Panel& panel, HweTest test,
                                        const ModelSetting& effect, double target);

// The trade-off of one test as the level varies: expected false flags and
// catch rate at each level, in the order of the levels, and the level a
// solve chose, if any.
struct TradeOffCurve {
    HweTest test = HweTest::Exact;
    struct Point {
        double level, falseFlags, catchRate;
    };
    std::vector<Point> points;
    std::optional<Point> chosen;
};

// The whole-panel curves of evaluated cells, one per test (each needs a
// catch rate).
std::vector<TradeOffCurve> tradeOffCurves(std::span<const PanelCell> cells, std::size_t binCount);

// Levels from `low` to `high` evenly on a log scale, `count` of them.
std::vector<double> logLevels(double low, double high, std::size_t count);

}  // namespace zyg
