#include "engine/NullSize.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/ConditionalWalk.h"
#include "engine/XLinkedInternal.h"

namespace zyg {
namespace {

// A p-value within this share of the level counts as equal to it, as the
// decisions of `rejects` and of the X tests' power take it.
constexpr Extended kLevelTolerance = 1e-9L;

// The first pass leaves out cells below this share of the smallest level.
constexpr Extended kFirstCut = 1e-30L;

// A size within this factor of the mass a first pass left out is summed
// again over the whole row.
constexpr Extended kSafety = 1e12L;

struct RowSizes {
    std::vector<Extended> sizes;
    bool sumAgain = false;  // a size may be lost in what the cut left out
};

// The rejected counts of a request: from..low and high..to (low below from,
// high above to for none).
struct Rejected {
    int from = 0, low = -1, high = 0, to = 0;
};

// The heterozygote counts a chi-square test rejects. Every deviation o - e of a row is proportional
// to h - e12 (e12 = a (2n - a) / 2n), so X2, G and X2cc grow with |h - e12|: the rejected counts
// are a prefix of the counts up to e12 and a suffix of those above, found by binary search.
// g-window cannot compute a sample with a zero count, which only the counts at the very ends of a
// row have; those are never rejected.
// The last count h of from, from + 2, ..., to where `holds` holds, for a
// predicate that holds up to some count and fails after it; from - 2 when it
// never holds. Galloping from `from`, so a boundary near it costs few probes.
template <class Holds>
int lastHolding(int from, int to, Holds holds) {
    int yes = from - 2, no = to + 2, step = 2;
    while (yes + step < no) {
        if (!holds(yes + step)) {
            no = yes + step;
            break;
        }
        yes += step;
        step *= 2;
    }
    while (no - yes > 2) {
        const int mid = yes + ((no - yes) / 4) * 2;
        (holds(mid) ? yes : no) = mid;
    }
    return yes;
}

// The first count of from, ..., to (in steps of 2) where `holds` holds, for a
// predicate that fails up to some count and holds after it; to + 2 when it
// never holds. Galloping down from `to`.
template <class Holds>
int firstHolding(int from, int to, Holds holds) {
    int yes = to + 2, no = from - 2, step = 2;
    while (yes - step > no) {
        if (!holds(yes - step)) {
            no = yes - step;
            break;
        }
        yes -= step;
        step *= 2;
    }
    while (yes - no > 2) {
        const int mid = no + ((yes - no) / 4) * 2;
        (holds(mid) ? yes : no) = mid;
    }
    return yes;
}

Rejected statisticRejection(HweTest test, std::uint32_t n, std::uint32_t a, Extended critical,
                            const Rejected* known) {
    const int lo = static_cast<int>(a % 2);
    const int hi = static_cast<int>(std::min(a, 2 * n - a));
    const Extended e12 = static_cast<Extended>(a) * (2 * n - a) / (2 * static_cast<Extended>(n));
    auto statistic = [&](int h) {
        const auto hu = static_cast<std::uint32_t>(h);
        return testStatistic(test, (a - hu) / 2, hu, (2 * n - a - hu) / 2);
    };
    auto rejected = [&](int h) {
        const auto hu = static_cast<std::uint32_t>(h);
        return statisticRejects(test, (a - hu) / 2, hu, (2 * n - a - hu) / 2, critical);
    };
    // The first count above e12, from its estimate, settled by the exact
    // comparisons.
    int split = lo + 2 * static_cast<int>(std::max<Extended>(0, std::floor((e12 - lo) / 2)));
    while (split - 2 >= lo && split - 2 > e12) split -= 2;
    while (split <= hi && split <= e12) split += 2;
    int first = lo, last = hi;
    while (first <= last && statistic(first) == kNotComputable) first += 2;
    while (last >= first && statistic(last) == kNotComputable) last -= 2;
    Rejected r{first, first - 2, last + 2, last};
    // The counts a lower level rejects (a higher critical value) are
    // rejected here too: the searches start from them.
    const int leftFrom = known ? std::max(first, known->low + 2) : first;
    const int rightTo = known ? std::min(last, known->high - 2) : last;
    // Left: the last rejected count of [first, split).
    r.low = lastHolding(leftFrom, std::min(split - 2, last), rejected);
    // Right: the first rejected count of [split, last].
    r.high = firstHolding(std::max(split, first), rightTo, rejected);
    return r;
}

// Sums the row's weights over the rejected counts of each request. `bounds`
// holds each request's rejected counts. The row is walked in W: doubles while
// the cut stays among the normal doubles (their sums of a few thousand cells
// keep 13 digits), long double for the whole rows and the far tails.
template <class W>
RowSizes rowSizes(std::uint32_t n, std::uint32_t a, std::span<const Rejected> bounds,
                  Extended cut) {
    ConditionalRow<W> row;
    conditionalRow<W>(n, a, static_cast<W>(cut), row);
    const int firstKept = row.firstH;
    const int lastKept = row.firstH + 2 * static_cast<int>(row.size - 1);
    const W* w = row.weights();
    // Sums from each end, so that a tail's sum is made of its own cells and
    // never a difference of sums near the row's total.
    std::vector<W> fromLeft(row.size + 1, 0), fromRight(row.size + 1, 0);
    for (std::size_t k = 0; k < row.size; ++k) {
        fromLeft[k + 1] = fromLeft[k] + w[k];
        fromRight[k + 1] = fromRight[k] + w[row.size - 1 - k];
    }
    auto index = [&](int h) { return static_cast<std::size_t>((h - firstKept) / 2); };
    // The kept weight of the counts from..to, at the left end of the row.
    auto leftSum = [&](int from, int to) {
        from = std::max(from, firstKept);
        to = std::min(to, lastKept);
        if (from > to) return W{0};
        return fromLeft[index(to) + 1] - fromLeft[index(from)];
    };
    // The same at the right end.
    auto rightSum = [&](int from, int to) {
        from = std::max(from, firstKept);
        to = std::min(to, lastKept);
        if (from > to) return W{0};
        return fromRight[row.size - index(from)] - fromRight[row.size - 1 - index(to)];
    };
    const Extended leftOut = cut * static_cast<Extended>(n);
    RowSizes out;
    out.sizes.assign(bounds.size(), 0);
    for (std::size_t i = 0; i < bounds.size(); ++i) {
        const Rejected& b = bounds[i];
        const int low = std::min(b.low, b.to), high = std::max(b.high, std::max(b.from, low + 2));
        const bool leftRejects = low >= b.from, rightRejects = high <= b.to;
        Extended sum = (leftRejects ? static_cast<Extended>(leftSum(b.from, low)) : 0);
        if (rightRejects) sum += static_cast<Extended>(rightSum(high, b.to));
        const bool outside =
            (leftRejects && firstKept > b.from) || (rightRejects && lastKept < b.to);
        if ((leftRejects || rightRejects) && sum == 0 && cut == 0)
            sum = std::numeric_limits<Extended>::min() * static_cast<Extended>(row.total);
        out.sizes[i] = sum / static_cast<Extended>(row.total);
        if (outside && out.sizes[i] <= kSafety * leftOut) out.sumAgain = true;
    }
    return out;
}

}  // namespace

NullSizePlan::NullSizePlan(std::span<const TestLevel> requests)
    : requests_(requests.begin(), requests.end()), critical_(requests.size(), 0) {
    for (std::size_t i = 0; i < requests_.size(); ++i) {
        if (!isExactFamily(requests_[i].test)) critical_[i] = criticalValue(requests_[i].level);
        smallestLevel_ = std::min(smallestLevel_, static_cast<Extended>(requests_[i].level));
        if (!isExactFamily(requests_[i].test)) byLevel_.push_back(i);
    }
    std::stable_sort(byLevel_.begin(), byLevel_.end(), [&](std::size_t x, std::size_t y) {
        if (requests_[x].test != requests_[y].test) return requests_[x].test < requests_[y].test;
        return requests_[x].level < requests_[y].level;
    });
}

std::optional<std::vector<Extended>> NullSizePlan::sizes(std::uint32_t n, std::uint32_t a) const {
    if (n == 0 || n > kMaxNullSizeSample || a > 2 * n) return std::nullopt;
    if (a == 0 || a == 2 * n) return std::vector<Extended>(requests_.size(), 0);
    // The rejected counts of every request: the exact family's from one
    // conditional distribution, the others' by their statistics.
    std::vector<Rejected> bounds(requests_.size());
    const int lo = static_cast<int>(a % 2), hi = static_cast<int>(std::min(a, 2 * n - a));
    std::vector<TestLevel> exact;
    for (const TestLevel& r : requests_)
        if (isExactFamily(r.test)) exact.push_back(r);
    const std::vector<ExactRejection> exactBounds = exactRejections(n, a, exact);
    for (std::size_t i = 0, e = 0; i < requests_.size(); ++i)
        if (isExactFamily(requests_[i].test)) {
            const ExactRejection& r = exactBounds[e++];
            bounds[i] = {lo, r.low, r.high, hi};
        }
    // The statistics' requests by test and increasing level, each search
    // starting from the bounds of the level below.
    const Rejected* known = nullptr;
    for (std::size_t k = 0; k < byLevel_.size(); ++k) {
        const std::size_t i = byLevel_[k];
        if (k == 0 || requests_[byLevel_[k - 1]].test != requests_[i].test) known = nullptr;
        bounds[i] = statisticRejection(requests_[i].test, n, a, critical_[i], known);
        known = &bounds[i];
    }
    const Extended cut = kFirstCut * smallestLevel_;
    RowSizes first = cut >= 1e-280L ? rowSizes<double>(n, a, bounds, cut)
                                    : rowSizes<Extended>(n, a, bounds, cut);
    if (!first.sumAgain) return std::move(first.sizes);
    return std::move(rowSizes<Extended>(n, a, bounds, 0).sizes);
}

std::optional<Extended> nullSize(HweTest test, std::uint32_t n, std::uint32_t a, double level) {
    const TestLevel request{test, level};
    const auto sizes = NullSizePlan({&request, 1}).sizes(n, a);
    if (!sizes) return std::nullopt;
    return sizes->front();
}

const std::vector<Extended>* NullSizeCache::sizes(std::uint32_t n, std::uint32_t a) {
    const std::uint64_t key = (std::uint64_t{n} << 32) | a;
    auto found = cache_.find(key);
    if (found == cache_.end()) found = cache_.emplace(key, plan_.sizes(n, a)).first;
    return found->second ? &*found->second : nullptr;
}

Extended nullPValueDistribution(HweTest test, std::span<const NullMarker> markers, double t) {
    const TestLevel request{test, t};
    NullSizeCache cache({&request, 1});
    Extended sum = 0, count = 0;
    for (const NullMarker& m : markers) {
        count += static_cast<Extended>(m.count);
        if (const auto* s = cache.sizes(m.n, m.a))
            sum += s->front() * static_cast<Extended>(m.count);
    }
    return count > 0 ? sum / count : 0;
}

// ---------------------------------------------------------------------------
// X tests.

namespace {

Extended logChoose(std::uint64_t n, std::uint64_t k) {
    return xlinked::logFactorial(n) - xlinked::logFactorial(k) - xlinked::logFactorial(n - k);
}

struct Outcome {
    Extended probability;
    Extended x2, g;  // the statistics, when a request needs them
};

struct XSizes {
    std::vector<Extended> sizes;
    bool sumAgain = false;
};

// Every outcome of nA whose probability is at least `cut`, decided by each
// request. The exact tests reject the least probable outcomes, so anything
// left out is rejected by them; the chi-square tests reject both ends of
// each female row.
XSizes xSizesWithCut(XSampleSize size, std::uint64_t nA, std::span<const XTestLevel> requests,
                     Extended cut) {
    const std::uint64_t nf = size.females, nm = size.males, nt = nm + 2 * nf;
    bool needStatistics = false;
    for (const XTestLevel& r : requests)
        needStatistics = needStatistics || r.test == XTest::X2 || r.test == XTest::G;
    xlinked::prepareLogFactorials(nt);
    const Extended logAll = logChoose(nt, nA);
    std::vector<Outcome> outcomes;
    bool truncated = false;
    ConditionalRow<Extended> row;
    const std::uint64_t mLo = nA > 2 * nf ? nA - 2 * nf : 0, mHi = std::min(nm, nA);
    for (std::uint64_t m = mLo; m <= mHi; ++m) {
        const std::uint64_t fa = nA - m;
        const Extended weight = std::exp(logChoose(nm, m) + logChoose(2 * nf, fa) - logAll);
        if (weight < cut) {
            truncated = true;
            continue;
        }
        auto add = [&](std::uint64_t h, Extended p) {
            Outcome o{p, 0, 0};
            if (needStatistics) {
                const XSampleCounts c{(fa - h) / 2, h, (2 * nf - fa - h) / 2, m, nm - m};
                o.x2 = xlinked::pearsonX2Of(c);
                o.g = xlinked::likelihoodRatioGOf(c);
            }
            outcomes.push_back(o);
        };
        if (fa == 0 || fa == 2 * nf) {
            add(0, weight);
            continue;
        }
        const Extended cellCut = cut == 0 ? 0 : cut / weight;
        conditionalRow<Extended>(static_cast<std::uint32_t>(nf), static_cast<std::uint32_t>(fa),
                                 cellCut, row);
        const std::uint64_t hi = std::min(fa, 2 * nf - fa);
        const std::uint64_t last = static_cast<std::uint64_t>(row.firstH) + 2 * (row.size - 1);
        if (static_cast<std::uint64_t>(row.firstH) > fa % 2 || last < hi) truncated = true;
        const Extended* w = row.weights();
        for (std::size_t k = 0; k < row.size; ++k)
            add(static_cast<std::uint64_t>(row.firstH) + 2 * k, weight * w[k] / row.total);
    }
    std::sort(outcomes.begin(), outcomes.end(),
              [](const Outcome& x, const Outcome& y) { return x.probability < y.probability; });
    // Running sums from the least probable outcome: atMost[k] holds outcomes
    // 0..k.
    std::vector<Extended> atMost(outcomes.size());
    Extended running = 0;
    for (std::size_t k = 0; k < outcomes.size(); ++k)
        atMost[k] = running += outcomes[k].probability;
    auto sumBelow = [&](Extended bound, bool inclusive) {
        const auto it =
            inclusive
                ? std::upper_bound(outcomes.begin(), outcomes.end(), bound,
                                   [](Extended b, const Outcome& o) { return b < o.probability; })
                : std::lower_bound(outcomes.begin(), outcomes.end(), bound,
                                   [](const Outcome& o, Extended b) { return o.probability < b; });
        const auto k = static_cast<std::size_t>(it - outcomes.begin());
        return k == 0 ? Extended{0} : atMost[k - 1];
    };

    XSizes out;
    out.sizes.assign(requests.size(), 0);
    std::vector<Extended> exactP, midP;  // by outcome, made when a request needs them
    const Extended leftOut = cut * static_cast<Extended>(nt) * static_cast<Extended>(nt);
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const XTestLevel& r = requests[i];
        const Extended target = static_cast<Extended>(r.level) * (1 + kLevelTolerance);
        Extended sum = 0;
        bool any = false;
        if (r.test == XTest::Exact || r.test == XTest::ExactMidP) {
            // The p-values grow with the outcome's probability: the rejected
            // outcomes are the least probable ones, a prefix of the sorted
            // outcomes. Each outcome's p-value is made once for every level.
            std::vector<Extended>& p = r.test == XTest::Exact ? exactP : midP;
            if (p.empty())
                for (const Outcome& o : outcomes) {
                    const Extended atMostTied = sumBelow(o.probability * (1 + kTieTolerance), true);
                    if (r.test == XTest::Exact) {
                        p.push_back(atMostTied);
                    } else {
                        const Extended less = sumBelow(o.probability * (1 - kTieTolerance), false);
                        p.push_back(less + (atMostTied - less) / 2);
                    }
                }
            const auto rejected =
                static_cast<std::size_t>(std::upper_bound(p.begin(), p.end(), target) - p.begin());
            if (rejected > 0) sum = atMost[rejected - 1];
            // The outcomes left out are less probable than every kept one.
            any = sum > 0 || truncated;
        } else {
            const Extended critical = -2 * std::log(target);
            for (const Outcome& o : outcomes)
                if ((r.test == XTest::X2 ? o.x2 : o.g) >= critical)
                    sum += o.probability, any = true;
            any = any || truncated;
        }
        if (any && sum == 0 && cut == 0) sum = std::numeric_limits<Extended>::min();
        out.sizes[i] = sum;
        if (truncated && any && sum <= kSafety * leftOut) out.sumAgain = true;
    }
    return out;
}

// Summing every outcome again is bounded by this many outcomes; beyond it
// the first pass's sizes stand (what it left out is below 1e-30 of the
// smallest level).
constexpr Extended kMaxWholeOutcomes = 2e7L;

}  // namespace

std::optional<std::vector<Extended>> xNullSizes(XSampleSize size, std::uint64_t allelesA,
                                                std::span<const XTestLevel> requests) {
    const std::uint64_t nt = std::uint64_t{size.males} + 2 * std::uint64_t{size.females};
    if (nt == 0 || allelesA > nt || nt > kMaxXNullSizeAlleles) return std::nullopt;
    if (allelesA == 0 || allelesA == nt) return std::vector<Extended>(requests.size(), 0);
    Extended smallest = 1;
    for (const XTestLevel& r : requests) smallest = std::min(smallest, Extended(r.level));
    const Extended cut = kFirstCut * smallest / (static_cast<Extended>(nt) * nt);
    XSizes first = xSizesWithCut(size, allelesA, requests, cut);
    const Extended outcomes = (Extended(size.males) + 1) * (Extended(size.females) + 1);
    if (!first.sumAgain || outcomes > kMaxWholeOutcomes) return std::move(first.sizes);
    return std::move(xSizesWithCut(size, allelesA, requests, 0).sizes);
}

}  // namespace zyg
