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

GenotypeCounts countsAt(std::uint32_t n, std::uint32_t a, int h) {
    const auto hu = static_cast<std::uint32_t>(h);
    return {static_cast<std::uint16_t>((a - hu) / 2), static_cast<std::uint16_t>(hu),
            static_cast<std::uint16_t>((2 * n - a - hu) / 2)};
}

struct RowSizes {
    std::vector<Extended> sizes;
    bool sumAgain = false;  // a size may be lost in what the cut left out
};

RowSizes rowSizes(std::uint32_t n, std::uint32_t a, std::span<const TestLevel> requests,
                  std::span<const Extended> critical, Extended cut) {
    ConditionalRow<Extended> row;
    conditionalRow<Extended>(n, a, cut, row);
    const int lo = static_cast<int>(a % 2);
    const int hi = static_cast<int>(std::min(a, 2 * n - a));
    const int firstKept = row.firstH;
    const int lastKept = row.firstH + 2 * static_cast<int>(row.size - 1);
    const Extended* w = row.weights();
    const Extended leftOut = cut * static_cast<Extended>(n);

    RowSizes out;
    out.sizes.assign(requests.size(), 0);
    // The statistics of each test, computed once for all its levels.
    std::vector<std::vector<Extended>> statistics(kTestCount);
    auto statistic = [&](HweTest test, int h) {
        return testStatistic(test, countsAt(n, a, h));
    };
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const HweTest test = requests[i].test;
        Extended sum = 0;
        bool rejectsOutside = false;
        if (isExactFamily(test)) {
            const ExactRejection r = *exactRejection(test, n, a, requests[i].level);
            for (std::size_t k = 0; k < row.size; ++k) {
                const int h = firstKept + 2 * static_cast<int>(k);
                if (h <= r.low || h >= r.high) sum += w[k];
            }
            const bool empty = r.low < lo && r.high > hi;
            rejectsOutside = (r.low >= lo && firstKept > lo) || (r.high <= hi && lastKept < hi);
            if (!empty && sum == 0 && cut == 0) sum = std::numeric_limits<Extended>::min();
        } else {
            std::vector<Extended>& s = statistics[testIndex(test)];
            if (s.empty()) {
                s.resize(row.size);
                for (std::size_t k = 0; k < row.size; ++k)
                    s[k] = statistic(test, firstKept + 2 * static_cast<int>(k));
            }
            bool any = false;
            for (std::size_t k = 0; k < row.size; ++k)
                if (s[k] != kNotComputable && s[k] > critical[i]) sum += w[k], any = true;
            // The statistics grow towards both ends of the row (g-window
            // cannot compute a sample with a zero count, the very ends), so
            // a count left out is rejected when one of the two outermost
            // counts on its side is.
            for (const int h : {lo, lo + 2, hi - 2, hi}) {
                if (h < lo || h > hi || (h >= firstKept && h <= lastKept)) continue;
                const Extended x = statistic(test, h);
                if (x != kNotComputable && x > critical[i]) rejectsOutside = any = true;
            }
            if (any && sum == 0 && cut == 0) sum = std::numeric_limits<Extended>::min();
        }
        out.sizes[i] = sum / row.total;
        if (rejectsOutside && out.sizes[i] <= kSafety * leftOut) out.sumAgain = true;
    }
    return out;
}

}  // namespace

NullSizePlan::NullSizePlan(std::span<const TestLevel> requests)
    : requests_(requests.begin(), requests.end()), critical_(requests.size(), 0) {
    for (std::size_t i = 0; i < requests_.size(); ++i) {
        if (!isExactFamily(requests_[i].test)) critical_[i] = criticalValue(requests_[i].level);
        smallestLevel_ = std::min(smallestLevel_, static_cast<Extended>(requests_[i].level));
    }
}

std::optional<std::vector<Extended>> NullSizePlan::sizes(std::uint32_t n, std::uint32_t a) const {
    if (n == 0 || n > kMaxNullSizeSample || a > 2 * n) return std::nullopt;
    if (a == 0 || a == 2 * n) return std::vector<Extended>(requests_.size(), 0);
    RowSizes first = rowSizes(n, a, requests_, critical_, kFirstCut * smallestLevel_);
    if (!first.sumAgain) return std::move(first.sizes);
    return std::move(rowSizes(n, a, requests_, critical_, 0).sizes);
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
        if (const auto* s = cache.sizes(m.n, m.a)) sum += s->front() * static_cast<Extended>(m.count);
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
        const auto it = inclusive ? std::upper_bound(outcomes.begin(), outcomes.end(), bound,
                                                     [](Extended b, const Outcome& o) {
                                                         return b < o.probability;
                                                     })
                                  : std::lower_bound(outcomes.begin(), outcomes.end(), bound,
                                                     [](const Outcome& o, Extended b) {
                                                         return o.probability < b;
                                                     });
        const auto k = static_cast<std::size_t>(it - outcomes.begin());
        return k == 0 ? Extended{0} : atMost[k - 1];
    };

    XSizes out;
    out.sizes.assign(requests.size(), 0);
    const Extended leftOut = cut * static_cast<Extended>(nt) * static_cast<Extended>(nt);
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const XTestLevel& r = requests[i];
        const Extended target = static_cast<Extended>(r.level) * (1 + kLevelTolerance);
        Extended sum = 0;
        bool any = false;
        if (r.test == XTest::Exact || r.test == XTest::ExactMidP) {
            // The p-values grow with the outcome's probability: the rejected
            // outcomes are the least probable ones.
            for (const Outcome& o : outcomes) {
                const Extended atMostTied = sumBelow(o.probability * (1 + kTieTolerance), true);
                Extended p = atMostTied;
                if (r.test == XTest::ExactMidP) {
                    const Extended less = sumBelow(o.probability * (1 - kTieTolerance), false);
                    p = less + (atMostTied - less) / 2;
                }
                if (p > target) break;
                sum += o.probability;
            }
            // The outcomes left out are less probable than every kept one.
            any = sum > 0 || truncated;
        } else {
            const Extended critical = -2 * std::log(target);
            for (const Outcome& o : outcomes)
                if ((r.test == XTest::X2 ? o.x2 : o.g) >= critical) sum += o.probability, any = true;
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
