#include "power/Panel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

#include "engine/NullSize.h"
#include "engine/XLinked.h"
#include "power/PowerStudy.h"

namespace zyg {

namespace {

// The smallest and largest levels a solve searches.
constexpr double kLowestLevel = 1e-300;
constexpr double kHighestLevel = 0.5;

// Runs body(i) for i in [0, count) on the machine's cores, reporting each
// finished item.
template <class Body>
void parallelFor(std::size_t count, Body body, const PanelProgress& progress = {},
                 std::size_t progressBase = 0, std::size_t progressTotal = 0) {
    const std::size_t threads =
        std::max<std::size_t>(1, std::min<std::size_t>(std::thread::hardware_concurrency(), 8));
    std::atomic<std::size_t> next{0}, done{0};
    std::mutex reporting;
    auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < count;) {
            body(i);
            const std::size_t finished = done.fetch_add(1) + 1;
            if (progress && finished % 256 == 0) {
                const std::lock_guard lock(reporting);
                progress(progressBase + finished, progressTotal);
            }
        }
    };
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < threads && t < count; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();
}

// The nearest point of a geometric grid of the given ratio.
double onGrid(double value, double ratio) {
    const double step = std::log(ratio);
    return std::exp(std::round(std::log(value) / step) * step);
}

// The level rounded to 3 significant digits, down or up.
double roundLevel(double level, bool up) {
    const double scale = std::pow(10.0, 2 - static_cast<int>(std::floor(std::log10(level))));
    const double r =
        (up ? std::ceil(level * scale * (1 - 1e-12)) : std::floor(level * scale * (1 + 1e-12))) /
        scale;
    return std::clamp(r, kLowestLevel, kHighestLevel);
}

double minorFrequency(std::uint32_t n, std::uint32_t a) {
    return static_cast<double>(std::min(a, 2 * n - a)) / (2.0 * n);
}

bool onX(const Panel::Pair& p) { return p.locus == LocusKind::XLinked; }
std::size_t locusIndex(LocusKind kind) { return kind == LocusKind::XLinked ? 1 : 0; }

// Whether a test sees the markers of a kind of locus: the autosomal tests see
// every marker (an X marker's females), the tests that count the males the X
// markers only.
bool sees(HweTest test, LocusKind kind) {
    return appliesTo(test, LocusKind::Autosomal) || kind == LocusKind::XLinked;
}

// The X-linked engine's test of a catalogue test, which shares its name.
std::optional<XTest> xTestOf(HweTest test) { return parseXTest(hweTestName(test)); }

// The sizes of one pair for every request, in their order (0 for a request
// whose test does not see the pair).
class PairSizes {
public:
    explicit PairSizes(std::span<const TestLevel> requests) : requests_(requests) {
        std::vector<TestLevel> autosomal;
        for (std::size_t i = 0; i < requests.size(); ++i) {
            if (const auto x = xTestOf(requests[i].test)) {
                xRequests_.push_back({*x, requests[i].level});
                xIndex_.push_back(i);
            } else {
                autosomal.push_back(requests[i]);
                autosomalIndex_.push_back(i);
            }
        }
        plan_.emplace(autosomal);
    }

    void sizes(const Panel::Pair& p, std::vector<Extended>& out) const {
        out.assign(requests_.size(), 0);
        if (!autosomalIndex_.empty() && p.n > 0)
            if (const auto s = plan_->sizes(p.n, p.a))
                for (std::size_t k = 0; k < s->size(); ++k) out[autosomalIndex_[k]] = (*s)[k];
        if (!xRequests_.empty() && onX(p))
            if (const auto s = xNullSizes({p.n, p.males}, std::uint64_t{p.a} + p.maleA, xRequests_))
                for (std::size_t k = 0; k < s->size(); ++k) out[xIndex_[k]] = (*s)[k];
    }

private:
    std::span<const TestLevel> requests_;
    std::optional<NullSizePlan> plan_;
    std::vector<XTestLevel> xRequests_;
    std::vector<std::size_t> autosomalIndex_, xIndex_;
};

// What the false flags of a set of markers need: the sum of their sizes, of
// their variances and of the squared sizes.
struct SizeSums {
    Extended mean = 0, variance = 0, squares = 0;
    void add(const SizeSums& o) {
        mean += o.mean;
        variance += o.variance;
        squares += o.squares;
    }
};

// Pairs summed as one piece of work: the pieces' sums are added in their
// order, so the figures do not depend on how the threads shared the work.
constexpr std::size_t kPiecePairs = 512;

// The size sums of every request by kind of locus and bin: [request][slot],
// slot = locus index x bins + bin.
std::vector<std::vector<SizeSums>> sizeSums(const Panel& panel, std::span<const TestLevel> requests,
                                            const PanelProgress& progress = {},
                                            std::size_t progressBase = 0,
                                            std::size_t progressTotal = 0) {
    const PairSizes plan(requests);
    const auto& pairs = panel.pairs();
    const std::size_t bins = panel.binCount(), slots = 2 * bins;
    const std::size_t pieces = (pairs.size() + kPiecePairs - 1) / kPiecePairs;
    std::vector<std::vector<SizeSums>> partial(pieces);
    std::atomic<std::size_t> done{0};
    std::mutex reporting;
    parallelFor(pieces, [&](std::size_t piece) {
        std::vector<SizeSums>& sums = partial[piece];
        sums.assign(requests.size() * slots, SizeSums{});
        std::vector<Extended> s;
        const std::size_t end = std::min(pairs.size(), (piece + 1) * kPiecePairs);
        for (std::size_t i = piece * kPiecePairs; i < end; ++i) {
            plan.sizes(pairs[i], s);
            const auto c = static_cast<Extended>(pairs[i].count);
            const std::size_t slot = locusIndex(pairs[i].locus) * bins + pairs[i].bin;
            for (std::size_t r = 0; r < requests.size(); ++r) {
                SizeSums& to = sums[r * slots + slot];
                to.mean += c * s[r];
                to.variance += c * s[r] * (1 - s[r]);
                to.squares += c * s[r] * s[r];
            }
        }
        const std::size_t finished =
            done.fetch_add(end - piece * kPiecePairs) + (end - piece * kPiecePairs);
        if (progress) {
            const std::lock_guard lock(reporting);
            progress(progressBase + finished, progressTotal);
        }
    });
    std::vector<std::vector<SizeSums>> out(requests.size(), std::vector<SizeSums>(slots));
    for (const auto& sums : partial)
        for (std::size_t r = 0; r < requests.size(); ++r)
            for (std::size_t k = 0; k < slots; ++k) out[r][k].add(sums[r * slots + k]);
    return out;
}

// Up to this many distinct pairs each marker's power is computed at its own
// n and allele frequency; beyond, on geometric grids of n (steps of 1%) and of
// the minor allele frequency (steps of 5%), and on X of the share of males
// (steps of 0.01).
constexpr std::size_t kExactPowerPairs = 2000;
constexpr double kGridN = 1.01, kGridMaf = 1.05, kGridMales = 0.01;

// A point of power: the locus, n (on X females and males together), the
// allele frequency (the minor one on an autosome) and the share of males.
struct GridPoint {
    LocusKind locus;
    std::uint32_t n;
    double p, males;
    auto operator<=>(const GridPoint&) const = default;
};

// The power points a panel needs, and the point of each pair.
struct PowerGrid {
    std::vector<GridPoint> points;
    std::vector<std::size_t> pointOf;  // by pair; SIZE_MAX: none
};

PowerGrid powerGrid(const Panel& panel) {
    PowerGrid grid;
    const bool exact = panel.distinctPairs() <= kExactPowerPairs;
    std::map<GridPoint, std::size_t> index;
    const auto onN = [&](std::uint32_t n) {
        return exact ? n : static_cast<std::uint32_t>(std::lround(onGrid(n, kGridN)));
    };
    const auto onMaf = [&](double maf) {
        return exact ? maf : std::min(0.5, onGrid(maf, kGridMaf));
    };
    for (const Panel::Pair& p : panel.pairs()) {
        const double maf = p.maf();
        if (maf == 0) {
            grid.pointOf.push_back(SIZE_MAX);
            continue;
        }
        GridPoint key{p.locus, onN(p.n), onMaf(maf), 0};
        if (onX(p)) {
            // The X models are not symmetric in the alleles once the males'
            // frequency is given: the point keeps the side of A1.
            const std::uint64_t all = std::uint64_t{2} * p.n + p.males;
            const double pA = static_cast<double>(p.a + p.maleA) / static_cast<double>(all);
            const std::uint32_t people = p.n + p.males;
            key.n = onN(people);
            key.p = pA <= 0.5 ? onMaf(pA) : 1 - onMaf(1 - pA);
            key.males = static_cast<double>(p.males) / people;
            if (!exact) key.males = std::round(key.males / kGridMales) * kGridMales;
        }
        const auto [it, added] = index.emplace(key, grid.points.size());
        if (added) grid.points.push_back(key);
        grid.pointOf.push_back(it->second);
    }
    return grid;
}

std::vector<std::vector<double>> gridPower(const PowerGrid& grid, const ModelSetting& effect,
                                           const std::optional<double>& pMale,
                                           std::span<const TestLevel> requests,
                                           const PanelProgress& progress = {}, std::size_t base = 0,
                                           std::size_t total = 0) {
    std::vector<std::vector<double>> power(grid.points.size());
    parallelFor(
        grid.points.size(),
        [&](std::size_t i) {
            const GridPoint& at = grid.points[i];
            ModelSetting s = effect;
            s.p = at.p;
            std::vector<TestLevel> seen;
            std::vector<std::size_t> where;
            for (std::size_t k = 0; k < requests.size(); ++k)
                if (sees(requests[k].test, at.locus)) {
                    seen.push_back(requests[k]);
                    where.push_back(k);
                }
            power[i].assign(requests.size(), 0);
            if (seen.empty()) return;
            if (at.locus == LocusKind::XLinked) {
                s.locus = LocusKind::XLinked;
                s.males = at.males;
                s.pMale = pMale.value_or(at.p);
            }
            const std::vector<ExactPower> r = settingPower(s, at.n, seen);
            for (std::size_t k = 0; k < r.size(); ++k) power[i][where[k]] = r[k].power;
        },
        progress, base, total);
    return power;
}

// The 95% interval of a sum of independent Bernoulli variables (see the
// overview).
std::pair<std::uint64_t, std::uint64_t> interval(double mean, double variance, double squares) {
    if (mean <= 0) return {0, 0};
    if (squares <= 0.05 && mean < 1e5) {
        // Poisson quantiles by summing its terms from 0.
        double term = std::exp(-mean), cdf = term;
        std::uint64_t k = 0, low = UINT64_MAX;
        if (cdf >= 0.025) low = 0;
        while (cdf < 0.975) {
            ++k;
            term *= mean / static_cast<double>(k);
            cdf += term;
            if (low == UINT64_MAX && cdf >= 0.025) low = k;
        }
        return {low == UINT64_MAX ? k : low, k};
    }
    const double sd = std::sqrt(variance);
    return {static_cast<std::uint64_t>(std::max(0.0, std::floor(mean - 1.959964 * sd))),
            static_cast<std::uint64_t>(std::ceil(mean + 1.959964 * sd))};
}

// A search covers the levels from 1e-12 up first, and reaches down to 1e-300
// only when the boundary lies there: a row is walked out to the smallest
// level asked, so the far tails cost most.
constexpr double kSearchStarts[] = {1e-12, kLowestLevel};
constexpr std::size_t kSearchGrid = 100;
// A bracket this narrow is settled by its levels of 3 significant digits
// (at most 60 of them).
constexpr double kFineBracket = 1.6;

// The levels of 3 significant digits strictly between lo and hi, ascending,
// as roundLevel writes them.
std::vector<double> threeDigitLevels(double lo, double hi) {
    std::vector<double> out;
    int e = static_cast<int>(std::floor(std::log10(lo)));
    double scale = std::pow(10.0, 2 - e);
    auto m = static_cast<long>(std::ceil(lo * scale * (1 - 1e-12)));
    for (;; ++m) {
        if (m > 999) {
            m = 100;
            ++e;
            scale = std::pow(10.0, 2 - e);
        }
        const double c = static_cast<double>(m) / scale;
        if (c >= hi) break;
        if (c > lo) out.push_back(c);
    }
    return out;
}

// Finds the boundary of a property that holds at low levels and fails at
// high ones (wantLargestHolding: the largest level of 3 significant digits
// where it holds) or the reverse (the smallest where it holds). A pass over
// a log grid of 100 levels brackets the boundary within a factor of 1.32,
// and a second pass decides the bracket's levels of 3 significant digits:
// the values of many levels come from one evaluation, which costs hardly
// more than one.
template <class Many>
std::optional<double> searchLevels(Many many, bool wantLargestHolding) {
    const bool lowSide = wantLargestHolding;  // the property's value at the lowest levels
    std::size_t start = 0;
    double lo = kSearchStarts[0], hi = kHighestLevel;
    for (;;) {
        if (hi / lo <= kFineBracket) {
            // The property is lowSide at lo and not at hi.
            const std::vector<double> levels = threeDigitLevels(lo, hi);
            const std::vector<bool> h = levels.empty() ? std::vector<bool>{} : many(levels);
            if (wantLargestHolding) {
                double best = roundLevel(lo, false);
                for (std::size_t k = 0; k < levels.size() && h[k]; ++k) best = levels[k];
                return best;
            }
            double best = roundLevel(hi, true);
            for (std::size_t k = levels.size(); k-- > 0 && h[k];) best = levels[k];
            return best;
        }
        const std::vector<double> grid = logLevels(lo, hi, kSearchGrid);
        const std::vector<bool> h = many(grid);
        if (h.back() == lowSide && hi == kHighestLevel)  // the boundary lies above 0.5
            return wantLargestHolding ? std::optional<double>(hi) : std::nullopt;
        if (h.front() != lowSide) {  // ... or below the grid
            if (lo == kLowestLevel)
                return wantLargestHolding ? std::nullopt : std::optional<double>(lo);
            hi = lo;
            lo = kSearchStarts[++start];
            continue;
        }
        // The property changes once along the grid: between grid[j] and grid[j + 1].
        std::size_t j = 0;
        while (j + 2 < grid.size() && h[j + 1] == lowSide) ++j;
        lo = grid[j];
        hi = grid[j + 1];
    }
}

}  // namespace

double Panel::Pair::maf() const {
    if (locus != LocusKind::XLinked) return minorFrequency(n, a);
    const std::uint64_t all = std::uint64_t{2} * n + males, copies = std::uint64_t{a} + maleA;
    return static_cast<double>(std::min(copies, all - copies)) / static_cast<double>(all);
}

Panel::Panel(std::span<const PanelMarker> markers, std::vector<double> binEdges)
    : binEdges_(std::move(binEdges)) {
    using Key = std::tuple<LocusKind, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t>;
    std::map<Key, std::uint64_t> counts;
    for (const PanelMarker& m : markers) {
        const bool x = m.locus == LocusKind::XLinked;
        if (m.n == 0 && (!x || m.males == 0)) continue;
        ++counts[x ? Key{m.locus, m.n, m.a, m.males, m.maleA}
                   : Key{LocusKind::Autosomal, m.n, m.a, 0, 0}];
    }
    for (auto& b : binMarkers_) b.assign(binEdges_.size(), 0);
    for (const auto& [key, count] : counts) {
        Pair pair{std::get<1>(key), std::get<2>(key), count,           0,
                  std::get<0>(key), std::get<3>(key), std::get<4>(key)};
        const double maf = pair.maf();
        while (pair.bin + 2 < binEdges_.size() && maf >= binEdges_[pair.bin + 1]) ++pair.bin;
        std::vector<std::uint64_t>& bins = binMarkers_[locusIndex(pair.locus)];
        bins[pair.bin] += count;
        bins.back() += count;
        markers_ += count;
        if (maf > 0) testable_ += count;
        pairs_.push_back(pair);
    }
}

std::uint64_t Panel::markersIn(const PanelGroup& group, std::size_t bin) const {
    if (group) return binMarkers_[locusIndex(*group)][bin];
    return binMarkers_[0][bin] + binMarkers_[1][bin];
}

std::vector<PanelGroup> Panel::groupsOf(HweTest test) const {
    std::vector<PanelGroup> groups;
    for (const LocusKind kind : {LocusKind::Autosomal, LocusKind::XLinked})
        if (sees(test, kind) && markersIn(kind, binCount()) > 0) groups.emplace_back(kind);
    if (groups.size() > 1) groups.emplace_back(std::nullopt);
    return groups;
}

bool coversTest(const Panel& panel, const PanelCell& cell) {
    const auto groups = panel.groupsOf(cell.test);
    return cell.bin == panel.binCount() && !groups.empty() && cell.group == groups.back();
}

std::vector<PanelCell> evaluatePanel(const Panel& panel, const PanelRequest& request,
                                     const PanelProgress& progress) {
    std::vector<TestLevel> requests;
    for (const HweTest t : request.tests)
        for (const double l : request.levels) requests.push_back({t, l});
    const PowerGrid grid = request.effect ? powerGrid(panel) : PowerGrid{};
    // Progress counts pairs and power points alike; a power point costs more,
    // but both are reported as they finish.
    const std::size_t total = panel.distinctPairs() + grid.points.size();
    const auto sums = sizeSums(panel, requests, progress, 0, total);
    const auto power = request.effect ? gridPower(grid, *request.effect, request.pMale, requests,
                                                  progress, panel.distinctPairs(), total)
                                      : std::vector<std::vector<double>>{};
    const std::size_t bins = panel.binCount();
    const auto& pairs = panel.pairs();
    std::vector<PanelCell> cells;
    for (std::size_t r = 0; r < requests.size(); ++r) {
        // Caught markers by locus and bin.
        std::vector<double> caught(2 * bins, 0);
        if (request.effect)
            for (std::size_t i = 0; i < pairs.size(); ++i)
                if (grid.pointOf[i] != SIZE_MAX)
                    caught[locusIndex(pairs[i].locus) * bins + pairs[i].bin] +=
                        static_cast<double>(pairs[i].count) * power[grid.pointOf[i]][r];
        for (const PanelGroup& group : panel.groupsOf(requests[r].test)) {
            for (std::size_t b = 0; b <= bins; ++b) {
                SizeSums s;
                double c = 0;
                for (const std::size_t kind : {0, 1}) {
                    if (group && locusIndex(*group) != kind) continue;
                    for (std::size_t k = 0; k < bins; ++k)
                        if (b == bins || b == k) {
                            s.add(sums[r][kind * bins + k]);
                            c += caught[kind * bins + k];
                        }
                }
                PanelCell cell;
                cell.test = requests[r].test;
                cell.level = requests[r].level;
                cell.bin = b;
                cell.group = group;
                cell.markers = panel.markersIn(group, b);
                cell.falseFlags.mean = static_cast<double>(s.mean);
                cell.falseFlags.sd = std::sqrt(static_cast<double>(s.variance));
                std::tie(cell.falseFlags.low, cell.falseFlags.high) =
                    interval(cell.falseFlags.mean, static_cast<double>(s.variance),
                             static_cast<double>(s.squares));
                if (request.effect && cell.markers > 0)
                    cell.catchRate = c / static_cast<double>(cell.markers);
                cells.push_back(cell);
            }
        }
    }
    return cells;
}

// A search's passes, for its progress (see searchLevels): two unless the
// boundary lies below 1e-12.
constexpr std::size_t kSearchPasses = 2;

std::optional<double> levelForFalseFlags(const Panel& panel, HweTest test, double flags,
                                         const PanelProgress& progress) {
    std::size_t pass = 0;
    const std::size_t pairs = panel.distinctPairs();
    return searchLevels(
        [&](const std::vector<double>& levels) {
            std::vector<TestLevel> requests;
            for (const double l : levels) requests.push_back({test, l});
            const std::size_t base = std::min(pass++, kSearchPasses - 1) * pairs;
            const auto sums = sizeSums(panel, requests, progress, base, kSearchPasses * pairs);
            std::vector<bool> holds(levels.size());
            for (std::size_t k = 0; k < levels.size(); ++k) {
                Extended sum = 0;
                for (const SizeSums& s : sums[k]) sum += s.mean;
                holds[k] = sum <= flags;
            }
            return holds;
        },
        true);
}

std::optional<double> levelForCatchRate(const Panel& panel, HweTest test,
                                        const ModelSetting& effect, double target,
                                        const std::optional<double>& pMale,
                                        const PanelProgress& progress) {
    const PowerGrid grid = powerGrid(panel);
    const auto groups = panel.groupsOf(test);
    const double markers =
        groups.empty() ? 0 : static_cast<double>(panel.markersIn(groups.back(), panel.binCount()));
    std::size_t pass = 0;
    return searchLevels(
        [&](const std::vector<double>& levels) {
            std::vector<TestLevel> requests;
            for (const double l : levels) requests.push_back({test, l});
            const std::size_t points = grid.points.size();
            const std::size_t base = std::min(pass++, kSearchPasses - 1) * points;
            const auto power =
                gridPower(grid, effect, pMale, requests, progress, base, kSearchPasses * points);
            std::vector<bool> holds(levels.size());
            for (std::size_t k = 0; k < levels.size(); ++k) {
                double caught = 0;
                for (std::size_t i = 0; i < panel.pairs().size(); ++i)
                    if (grid.pointOf[i] != SIZE_MAX)
                        caught +=
                            power[grid.pointOf[i]][k] * static_cast<double>(panel.pairs()[i].count);
                holds[k] = markers > 0 && caught / markers >= target;
            }
            return holds;
        },
        false);
}

std::vector<TradeOffCurve> tradeOffCurves(const Panel& panel, std::span<const PanelCell> cells) {
    std::vector<TradeOffCurve> curves;
    for (const PanelCell& c : cells) {
        if (!coversTest(panel, c) || !c.catchRate) continue;
        auto it = std::find_if(curves.begin(), curves.end(),
                               [&](const TradeOffCurve& k) { return k.test == c.test; });
        if (it == curves.end()) it = curves.insert(curves.end(), TradeOffCurve{c.test, {}, {}});
        it->points.push_back({c.level, c.falseFlags.mean, *c.catchRate});
    }
    for (TradeOffCurve& k : curves)
        std::sort(k.points.begin(), k.points.end(),
                  [](const auto& x, const auto& y) { return x.level < y.level; });
    return curves;
}

std::vector<double> logLevels(double low, double high, std::size_t count) {
    std::vector<double> levels;
    if (count == 1) return {low};
    const double a = std::log(low), b = std::log(high);
    for (std::size_t i = 0; i < count; ++i)
        levels.push_back(i == 0           ? low
                         : i + 1 == count ? high
                                          : std::exp(a + (b - a) * static_cast<double>(i) /
                                                             static_cast<double>(count - 1)));
    return levels;
}

}  // namespace zyg
