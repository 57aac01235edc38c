#include "power/Panel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <mutex>
#include <thread>

#include "engine/NullSize.h"

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

// The sizes of every pair for the requests, pair by pair.
std::vector<std::vector<Extended>> pairSizes(const Panel& panel,
                                             std::span<const TestLevel> requests,
                                             const PanelProgress& progress = {},
                                             std::size_t total = 0) {
    const NullSizePlan plan(requests);
    const auto& pairs = panel.pairs();
    std::vector<std::vector<Extended>> sizes(pairs.size());
    parallelFor(
        pairs.size(),
        [&](std::size_t i) {
            auto s = plan.sizes(pairs[i].n, pairs[i].a);
            sizes[i] = s ? std::move(*s) : std::vector<Extended>(requests.size(), 0);
        },
        progress, 0, total);
    return sizes;
}

// Up to this many distinct pairs each marker's power is computed at its own
// n and allele frequency; beyond, on geometric grids of n (steps of 1%) and of
// the minor allele frequency (steps of 5%).
constexpr std::size_t kExactPowerPairs = 2000;
constexpr double kGridN = 1.01, kGridMaf = 1.05;

// The power points a panel needs: one per (n, minor allele frequency) on the
// grid of the overview, and the point of each pair.
struct PowerGrid {
    std::vector<std::pair<std::uint32_t, double>> points;  // n, p
    std::vector<std::size_t> pointOf;                      // by pair; SIZE_MAX: none
};

PowerGrid powerGrid(const Panel& panel) {
    PowerGrid grid;
    const bool exact = panel.distinctPairs() <= kExactPowerPairs;
    std::map<std::pair<std::uint32_t, double>, std::size_t> index;
    for (const Panel::Pair& p : panel.pairs()) {
        const double maf = minorFrequency(p.n, p.a);
        if (maf == 0) {
            grid.pointOf.push_back(SIZE_MAX);
            continue;
        }
        const auto key =
            exact ? std::make_pair(p.n, maf)
                  : std::make_pair(static_cast<std::uint32_t>(std::lround(onGrid(p.n, kGridN))),
                                   std::min(0.5, onGrid(maf, kGridMaf)));
        const auto [it, added] = index.emplace(key, grid.points.size());
        if (added) grid.points.push_back(key);
        grid.pointOf.push_back(it->second);
    }
    return grid;
}

std::vector<std::vector<double>> gridPower(const PowerGrid& grid, const ModelSetting& effect,
                                           std::span<const TestLevel> requests,
                                           const PanelProgress& progress = {}, std::size_t base = 0,
                                           std::size_t total = 0) {
    std::vector<std::vector<double>> power(grid.points.size());
    parallelFor(
        grid.points.size(),
        [&](std::size_t i) {
            ModelSetting s = effect;
            s.p = grid.points[i].second;
            const std::vector<ExactPower> r = exactPower(s, grid.points[i].first, requests);
            power[i].resize(r.size());
            for (std::size_t k = 0; k < r.size(); ++k) power[i][k] = r[k].power;
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

// Finds, by passes over a log grid of levels that narrow the bracket each
// time, the boundary of a property that holds at low levels and fails at high
// ones (holdsLow) or the reverse: the values of many levels come from one
// evaluation, which costs hardly more than one.
template <class Many>
std::optional<double> searchLevels(Many many, bool wantLargestHolding) {
    double lo = kLowestLevel, hi = kHighestLevel;
    {
        const std::vector<double> ends{lo, hi};
        const std::vector<bool> h = many(ends);
        if (wantLargestHolding) {
            if (h[1]) return hi;
            if (!h[0]) return std::nullopt;
        } else {
            if (h[0]) return lo;
            if (!h[1]) return std::nullopt;
        }
    }
    while (hi / lo > 1 + 2e-4) {
        const std::vector<double> grid = logLevels(lo, hi, 16);
        const std::vector<bool> h = many(grid);
        // The property changes once along the grid: between grid[j] and grid[j + 1].
        std::size_t j = 0;
        while (j + 2 < grid.size() && h[j + 1] == h[0]) ++j;
        lo = grid[j];
        hi = grid[j + 1];
    }
    return wantLargestHolding ? roundLevel(lo, false) : roundLevel(hi, true);
}

}  // namespace

Panel::Panel(std::span<const PanelMarker> markers, std::vector<double> binEdges)
    : binEdges_(std::move(binEdges)), binMarkers_(binEdges_.size(), 0) {
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint64_t> counts;
    for (const PanelMarker& m : markers) {
        if (m.n == 0) continue;
        ++counts[{m.n, m.a}];
    }
    for (const auto& [key, count] : counts) {
        const double maf = minorFrequency(key.first, key.second);
        std::size_t bin = 0;
        while (bin + 2 < binEdges_.size() && maf >= binEdges_[bin + 1]) ++bin;
        pairs_.push_back({key.first, key.second, count, bin});
        binMarkers_[bin] += count;
        binMarkers_.back() += count;
        markers_ += count;
        if (key.second > 0 && key.second < 2 * key.first) testable_ += count;
    }
}

std::uint64_t Panel::markersIn(std::size_t bin) const { return binMarkers_[bin]; }

std::vector<PanelCell> evaluatePanel(const Panel& panel, const PanelRequest& request,
                                     const PanelProgress& progress) {
    std::vector<TestLevel> requests;
    for (const HweTest t : request.tests)
        for (const double l : request.levels) requests.push_back({t, l});
    const PowerGrid grid = request.effect ? powerGrid(panel) : PowerGrid{};
    // Progress counts pairs and power points alike; a power point costs more,
    // but both are reported as they finish.
    const std::size_t total = panel.distinctPairs() + grid.points.size();
    const auto sizes = pairSizes(panel, requests, progress, total);
    const auto power = request.effect ? gridPower(grid, *request.effect, requests, progress,
                                                  panel.distinctPairs(), total)
                                      : std::vector<std::vector<double>>{};
    const std::size_t bins = panel.binCount();
    std::vector<PanelCell> cells;
    for (std::size_t r = 0; r < requests.size(); ++r) {
        std::vector<double> mean(bins + 1, 0), variance(bins + 1, 0), squares(bins + 1, 0),
            caught(bins + 1, 0);
        const auto& pairs = panel.pairs();
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            const double s = static_cast<double>(sizes[i][r]);
            const double c = static_cast<double>(pairs[i].count);
            const double pw =
                request.effect && grid.pointOf[i] != SIZE_MAX ? power[grid.pointOf[i]][r] : 0.0;
            for (const std::size_t b : {pairs[i].bin, bins}) {
                mean[b] += c * s;
                variance[b] += c * s * (1 - s);
                squares[b] += c * s * s;
                caught[b] += c * pw;
            }
        }
        for (std::size_t b = 0; b <= bins; ++b) {
            PanelCell cell;
            cell.test = requests[r].test;
            cell.level = requests[r].level;
            cell.bin = b;
            cell.markers = panel.markersIn(b);
            cell.falseFlags.mean = mean[b];
            cell.falseFlags.sd = std::sqrt(variance[b]);
            std::tie(cell.falseFlags.low, cell.falseFlags.high) =
                interval(mean[b], variance[b], squares[b]);
            if (request.effect && cell.markers > 0)
                cell.catchRate = caught[b] / static_cast<double>(cell.markers);
            cells.push_back(cell);
        }
    }
    return cells;
}

std::optional<double> levelForFalseFlags(const Panel& panel, HweTest test, double flags) {
    return searchLevels(
        [&](const std::vector<double>& levels) {
            std::vector<TestLevel> requests;
            for (const double l : levels) requests.push_back({test, l});
            const auto sizes = pairSizes(panel, requests);
            std::vector<bool> holds(levels.size());
            for (std::size_t k = 0; k < levels.size(); ++k) {
                Extended sum = 0;
                for (std::size_t i = 0; i < sizes.size(); ++i)
                    sum += sizes[i][k] * static_cast<Extended>(panel.pairs()[i].count);
                holds[k] = sum <= flags;
            }
            return holds;
        },
        true);
}

std::optional<double> levelForCatchRate(const Panel& panel, HweTest test,
                                        const ModelSetting& effect, double target) {
    const PowerGrid grid = powerGrid(panel);
    return searchLevels(
        [&](const std::vector<double>& levels) {
            std::vector<TestLevel> requests;
            for (const double l : levels) requests.push_back({test, l});
            const auto power = gridPower(grid, effect, requests);
            std::vector<bool> holds(levels.size());
            for (std::size_t k = 0; k < levels.size(); ++k) {
                double caught = 0;
                for (std::size_t i = 0; i < panel.pairs().size(); ++i)
                    if (grid.pointOf[i] != SIZE_MAX)
                        caught +=
                            power[grid.pointOf[i]][k] * static_cast<double>(panel.pairs()[i].count);
                holds[k] = caught / static_cast<double>(panel.markers()) >= target;
            }
            return holds;
        },
        false);
}

std::vector<TradeOffCurve> tradeOffCurves(std::span<const PanelCell> cells, std::size_t binCount) {
    std::vector<TradeOffCurve> curves;
    for (const PanelCell& c : cells) {
        if (c.bin != binCount || !c.catchRate) continue;
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
