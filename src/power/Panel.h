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
// X-linked markers. The tests that count the males see each X marker's
// females, males and allele count over both sexes: its size is the X null
// size (engine/NullSize.h) and its power that of the X models at its numbers
// of each sex, the share of males and their allele frequency taken from the
// marker (the effect's p-male when one is given). The autosomal tests see the
// females alone: n = nf genotypes with the females' allele count, and the
// power of the females' model. An X marker's bin is that of its minor-allele
// frequency over both sexes. The markers of each kind of locus are reported
// apart, and the autosomal tests, which see both kinds, also over the whole
// panel; the tests that count the males see the X markers only.
//
// Large samples. Sizes are exact sums over the conditional distribution at
// every n up to kMaxPowerSampleSize (biobank arrays): each row is walked from
// its mode outward only as far as its cells carry weight against the
// smallest level, so the work grows as the square root of n, not as n.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "core/Types.h"
#include "engine/ExactPower.h"
#include "engine/TestCatalogue.h"

namespace zyg {

// One marker: called genotypes n and copies of A1 among them; on X the
// females' genotypes and copies, with the hemizygous males and those of them
// who carry A1.
struct PanelMarker {
    std::uint32_t n = 0, a = 0;
    LocusKind locus = LocusKind::Autosomal;
    std::uint32_t males = 0, maleA = 0;
};

// The minor-allele-frequency bins: [edge i, edge i + 1), the last one closed.
inline const std::vector<double> kDefaultBinEdges{0, 0.01, 0.05, 0.2, 0.5};

struct PanelRequest {
    std::vector<HweTest> tests;
    std::vector<double> levels;
    std::vector<double> binEdges = kDefaultBinEdges;
    std::optional<ModelSetting> effect;  // its p is each marker's
    // X markers: the males' allele frequency; nothing: each marker's own.
    std::optional<double> pMale;
};

// The markers a row of the results covers: those of one kind of locus, or
// the whole panel (nothing).
using PanelGroup = std::optional<LocusKind>;

// What a panel holds: the markers grouped by what their sizes and power
// depend on ((n, allele count), and on X the males and their A1 copies).
class Panel {
public:
    Panel(std::span<const PanelMarker> markers, std::vector<double> binEdges);
    std::uint64_t markers() const { return markers_; }
    // Markers that both alleles occur in (the others are never flagged).
    std::uint64_t testable() const { return testable_; }
    std::size_t distinctPairs() const { return pairs_.size(); }
    std::size_t binCount() const { return binEdges_.size() - 1; }
    const std::vector<double>& binEdges() const { return binEdges_; }
    // The markers of a group in bin b (binCount() for all of the group).
    std::uint64_t markersIn(const PanelGroup& group, std::size_t bin) const;
    std::uint64_t markersIn(std::size_t bin) const { return markersIn(std::nullopt, bin); }
    // The groups a test's rows cover, in the order of the results: each
    // kind of locus the test sees that the panel holds, then the whole panel
    // when the test sees both kinds.
    std::vector<PanelGroup> groupsOf(HweTest test) const;

    struct Pair {
        std::uint32_t n, a;
        std::uint64_t count;
        std::size_t bin;
        LocusKind locus = LocusKind::Autosomal;
        std::uint32_t males = 0, maleA = 0;
        // The minor-allele frequency, over both sexes on X.
        double maf() const;
    };
    const std::vector<Pair>& pairs() const { return pairs_; }

private:
    std::vector<Pair> pairs_;
    std::vector<double> binEdges_;
    // By kind of locus (autosomal, X), each bin then the kind's total.
    std::vector<std::uint64_t> binMarkers_[2];
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
    PanelGroup group;  // nothing: the whole panel
    std::uint64_t markers = 0;
    FalseFlags falseFlags;
    std::optional<double> catchRate;  // with an effect
};

// Reports the work done, out of the total.
using PanelProgress = std::function<void(std::size_t done, std::size_t total)>;

// Every test x level x group x bin (the group's total last within each
// group, and the whole panel last within each test and level).
std::vector<PanelCell> evaluatePanel(const Panel& panel, const PanelRequest& request,
                                     const PanelProgress& progress = {});

// The largest level from 1e-300 to 0.5 (to 3 significant digits) at which
// the test's expected false flags on the panel stay at most `flags`; nothing
// when even 1e-300 flags more.
std::optional<double> levelForFalseFlags(const Panel& panel, HweTest test, double flags,
                                         const PanelProgress& progress = {});

// The smallest level from 1e-300 to 0.5 (to 3 significant digits) whose
// catch rate under the effect reaches `target`; nothing when 0.5 does not.
// On X the males' allele frequency is `pMale`, or each marker's own.
std::optional<double> levelForCatchRate(const Panel& panel, HweTest test,
                                        const ModelSetting& effect, double target,
                                        const std::optional<double>& pMale = std::nullopt,
                                        const PanelProgress& progress = {});

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

// The curves of evaluated cells over all the markers each test sees, one per
// test (each needs a catch rate).
std::vector<TradeOffCurve> tradeOffCurves(const Panel& panel, std::span<const PanelCell> cells);

// Whether a cell covers every marker its test sees: its bin is the total and
// its group the last of the test's groups.
bool coversTest(const Panel& panel, const PanelCell& cell);

// Levels from `low` to `high` evenly on a log scale, `count` of them.
std::vector<double> logLevels(double low, double high, std::size_t count);

}  // namespace zyg
