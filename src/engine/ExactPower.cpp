#include "engine/ExactPower.h"

// Exact power: the probabilities of "testable" and "rejected" summed over the
// multinomial distribution of the genotype counts (n11, h, n22) of n
// genotypes, instead of simulated.
//
// Grouping by allele count. The triples are grouped by the A1 allele count
// a = 2 n11 + h (m = 2n - a copies of A2). Within a group n11 = (a - h) / 2 and
// n22 = (m - h) / 2, so the heterozygote count h alone fixes the sample, and
// the sample's own expectation (allele frequency a / 2n) is the same for the
// whole group: every test's decision is a function of h. h runs over
// a mod 2, a mod 2 + 2, ..., min(a, m).
//
// Tails. Within a group each statistic grows as h moves away from the
// expected heterozygote count (see statisticShares); the two-sided exact
// tests reject the least probable counts of a unimodal distribution, the
// one-sided ones the counts with the least probability beyond them (see
// ExactRowDecisions). So the rejected counts are a run at one or both ends of
// the group (the tails), found by a galloping search from the previous
// group's bounds (X2, G, X2cc) or by binary search on the group's conditional
// distribution under Hardy-Weinberg (the exact tests, one distribution per
// group for all of them).
//
// Ratio walks. The probabilities of a group follow from its most probable
// count (one extended exp of extended log-factorials) by the ratios of
// neighbouring counts, P(h + 2) / P(h) = K n11 n22 / ((h + 1)(h + 2)) with
// K = P12^2 / (P11 P22); the reciprocals come from tables, so a cell costs two
// or three multiplications and no exp or log (walkRow in engine/ConditionalWalk, shared
// by the power sum and the exact test's conditional distribution, where K = 4).
//
// Pruning. A walk stops at the first cell below a cut: beyond it the cells
// only fall. The run over allele counts starts at the expected count and stops
// in each direction after two neighbouring groups (one of each parity, whose
// heterozygote counts interleave) keep no cell: the groups of each parity fall
// away from the bulk, so those beyond hold still less. The mass left out is
// measured, not assumed: it is reported as 1 minus the mass summed. The cut
// is 1e-12 divided by the number of triples, so the mass left out is below
// 1e-12; a request whose testable probability T is below 1/2 has the sum made
// again with a cut 2T times lower (PowerSum::lowerCut), so that its
// conditional power keeps its digits.
//
// Error bound. A cell k steps from the top is the top (rounded once from its
// extended exp) times k ratios; each ratio is made of two table entries
// (rounded once each), K or 1/K (rounded once) and three products, so the cell
// carries at most 6k + 1 roundings of 2^-53, and the running sum k more. The
// groups are log-concave (up(h) falls with h) and the walk stops some 1e-20
// below the top, so a group keeps few cells: at n = 10000, about 500 on both
// sides together under Hardy-Weinberg (a = n), fewer for any other K or a;
// the count grows as sqrt(n), to about 1600 on each side at n = 10^6, where a
// cell and a sum are within 7 * 1600 * 2^-53 = 1.3e-12 (relative).
// With k <= 500 a cell and a sum are within 3501 * 2^-53 = 4e-13 (relative),
// and a difference of two running sums (a tail) within that of the row's
// mass. Summed over all groups (mass at most 1), and with the mass left out,
// every probability returned is within 2e-12 of the sum over all triples
// (3e-12 at n = 10^6), each decided by `rejects` (see exactPower in the
// header).
//
// Cost. The groups that hold mass span some 20 standard deviations of the
// allele count, a range that grows as sqrt(n), and each keeps a run of cells
// (and, for the exact tests, a conditional distribution) that grows as
// sqrt(n) too: a point costs about n operations, with a galloping search of
// a few probes per group and tail for X2, G and X2cc.

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <utility>

#include "core/NumberText.h"
#include "engine/ConditionalWalk.h"
#include "engine/Models.h"
#include "engine/ObservedSample.h"
#include "engine/SampleStatistics.h"
#include "engine/Simulation.h"

namespace zyg {

namespace {

// A p-value that equals the level up to this share of it counts as equal, so
// that a p-value of exactly the level is rejected whatever its last bits. It is
// a thousand times the relative error of the sums (1e-12), and so small that
// no user-visible level moves.
constexpr Extended kLevelTolerance = 1e-9L;

// The largest sample that a single-sample function takes (the window's
// sample sizes are 16-bit); the reciprocal tables reach that far.
constexpr std::uint32_t kMaxSingleSample = 65535;
static_assert(kMaxSingleSample <= kSmallWalkTable && kMaxPowerSampleSize <= kLargestWalk);

// ln k! for k = 0 to 10000, made once; larger k (only the top cell of each
// group needs one, a few thousand per point) are computed when asked for,
// the same extended lgamma, so the values do not depend on the table's size.
constexpr std::uint32_t kLogFactorialTable = 10000;
const std::vector<Extended>& logFactorials() {
    static const std::vector<Extended> table = [] {
        std::vector<Extended> t(kLogFactorialTable + 1);
        for (std::uint32_t k = 0; k <= kLogFactorialTable; ++k)
            t[k] = std::lgamma(static_cast<Extended>(k) + 1);
        return t;
    }();
    return table;
}

Extended logFactorial(const std::vector<Extended>& table, std::uint32_t k) {
    return k < table.size() ? table[k] : std::lgamma(static_cast<Extended>(k) + 1);
}

// A sample's counts and its own Hardy-Weinberg expectation, in the window's
// operations and order: the sample's allele frequency, expected counts times n.
struct SampleExpectation {
    Extended o11, o12, o22, e11, e12, e22;
    bool positive;
};

SampleExpectation expectationOf(const GenotypeCounts& counts, std::uint16_t n) {
    const Extended size = n;
    SampleExpectation s{};
    s.o11 = counts.o11;
    s.o12 = counts.o12;
    s.o22 = counts.o22;
    const Extended p = ((s.o12 * 0.5L) + s.o11) / size;
    const Extended q = 1 - p;
    s.e11 = (p * p) * size;
    s.e12 = ((p * 2) * q) * size;
    s.e22 = (q * q) * size;
    s.positive = s.e11 > 0 && s.e12 > 0 && s.e22 > 0;
    return s;
}

// |o - e| reduced by the continuity correction: by 0.5, but never below 0,
// so that the correction can only shrink a term (a count within 0.5 of its
// expectation adds nothing rather than (0.5 - |o - e|)^2 / e).
template <class T>
T corrected(T o, T e) {
    return std::max<T>(std::fabs(o - e) - T(0.5), 0);
}

// X2 with the continuity correction: the sum of max(0, |o - e| - 0.5)^2 / e,
// or kNotComputable when an expected count is 0 or less.
Extended correctedX2(const GenotypeCounts& counts, std::uint16_t n) {
    const SampleExpectation s = expectationOf(counts, n);
    if (!s.positive) return kNotComputable;
    Extended sum = 0;
    const Extended d11 = corrected(s.o11, s.e11);
    sum = ((d11 * d11) / s.e11) + sum;
    const Extended d12 = corrected(s.o12, s.e12);
    sum = ((d12 * d12) / s.e12) + sum;
    const Extended d22 = corrected(s.o22, s.e22);
    sum = ((d22 * d22) / s.e22) + sum;
    return sum;
}

// X2, G or the corrected X2 of a sample in doubles, for samples the test can
// test: within about 1e-12 of the extended statistics for samples of up to
// 10000 and within 1e-10 up to 10^6 (a sum of three terms, each a few roundings of 2^-53 from
// values whose cancellation is at most that of o - e with o, e below 10000, i.e. a relative 1e4
// 2^-53 of the largest term). statisticShares lets it decide only what it decides with a margin of
// 1e-9, a thousand times that error.
double quickStatistic(HweTest test, double o11, double o12, double o22, std::uint32_t n) {
    const double size = n;
    const double p = (o12 * 0.5 + o11) / size;
    const double q = 1 - p;
    const double e11 = p * p * size, e12 = 2 * p * q * size, e22 = q * q * size;
    switch (test) {
        case HweTest::G:
        case HweTest::GWindow: {
            // 0 ln 0 = 0: a count of 0 adds nothing (g-window never gets one).
            auto term = [](double o, double e) { return o > 0 ? o * std::log(o / e) : 0.0; };
            return 2 * (term(o11, e11) + term(o12, e12) + term(o22, e22));
        }
        case HweTest::X2: {
            const double d11 = o11 - e11, d12 = o12 - e12, d22 = o22 - e22;
            return d11 * d11 / e11 + d12 * d12 / e12 + d22 * d22 / e22;
        }
        case HweTest::X2cc: {
            const double d11 = corrected(o11, e11), d12 = corrected(o12, e12),
                         d22 = corrected(o22, e22);
            return d11 * d11 / e11 + d12 * d12 / e12 + d22 * d22 / e22;
        }
        default: break;
    }
    return -1;
}

// The field's G (0 ln 0 = 0) of a sample, as an observed sample's G is
// computed: kNotComputable when one allele is absent.
Extended fieldG(std::uint64_t n11, std::uint64_t n12, std::uint64_t n22) {
    return sampleStatistic(HweTest::G, SampleCounts{n11, n12, n22});
}

// The statistic of X2, G or the corrected X2 on one sample: kNotComputable
// when the test cannot be computed, and 0 for a G that rounding made
// slightly negative. g-window is the window's own G, which cannot be computed
// when a count is 0.
Extended statisticOf(HweTest test, const GenotypeCounts& counts, std::uint16_t n) {
    Extended x2 = kNotComputable, g = kNotComputable;
    switch (test) {
        case HweTest::X2: sampleStatistics(counts, n, true, false, x2, g); return x2;
        case HweTest::G: return fieldG(counts.o11, counts.o12, counts.o22);
        case HweTest::GWindow:
            sampleStatistics(counts, n, false, true, x2, g);
            if (g == kNotComputable) return g;
            return g < 0 ? 0 : g;
        case HweTest::X2cc: return correctedX2(counts, n);
        default: break;
    }
    return kNotComputable;
}

// X2, G or the corrected X2 in extended precision for samples beyond the
// window's 16-bit counts (n above 65535), in the operations and order of the
// window's statistics; only the counts the double statistic leaves undecided
// come here.
Extended wideStatistic(HweTest test, std::uint32_t n11, std::uint32_t n12, std::uint32_t n22,
                       std::uint32_t n) {
    const Extended size = n;
    const Extended o11 = n11, o12 = n12, o22 = n22;
    const Extended p = ((o12 * 0.5L) + o11) / size;
    const Extended q = 1 - p;
    const Extended e11 = (p * p) * size, e12 = ((p * 2) * q) * size, e22 = (q * q) * size;
    if (!(e11 > 0 && e12 > 0 && e22 > 0)) return kNotComputable;
    Extended sum = 0;
    switch (test) {
        case HweTest::X2: {
            const Extended d11 = o11 - e11, d12 = o12 - e12, d22 = o22 - e22;
            sum = ((d11 * d11) / e11) + sum;
            sum = ((d12 * d12) / e12) + sum;
            sum = ((d22 * d22) / e22) + sum;
            return sum;
        }
        case HweTest::GWindow:
            if (n11 == 0 || n12 == 0 || n22 == 0) return kNotComputable;
            sum = (std::log(o11 / e11) * o11) + sum;
            sum = (std::log(o12 / e12) * o12) + sum;
            sum = (std::log(o22 / e22) * o22) + sum;
            return std::max<Extended>(2 * sum, 0);
        case HweTest::X2cc: {
            const Extended d11 = corrected(o11, e11), d12 = corrected(o12, e12),
                           d22 = corrected(o22, e22);
            sum = ((d11 * d11) / e11) + sum;
            sum = ((d12 * d12) / e12) + sum;
            sum = ((d22 * d22) / e22) + sum;
            return sum;
        }
        default: break;
    }
    return kNotComputable;
}

// The decisions of the exact tests on a whole row. With the weights w_i of
// the row (left to right), L_i = w_0 + ... + w_i and R_i = w_i + ... + w_last
// (sums from each end), and S(x) / S<(x) the sums of the weights at most /
// below x, a count's p-value times the row's total is
//   exact               S(w_i (1 + tie))
//   exact-midp          (S(w_i (1 + tie)) + S<(w_i / (1 + tie))) / 2
//   exact-deficit(-midp) L_i (- w_i / 2),  exact-excess(-midp) R_i (- w_i / 2)
//   exact-dost          2 min(L_i, R_i)
// The weights rise to the top and fall after it, so the counts no more
// probable than a weight x are a run at each end and S(x) is a sum from the
// left end plus one from the right end. The two-sided p-values grow with the
// weight, so their rejected counts are the least probable at each end: a
// prefix of the rising side and a suffix of the falling side. L_i grows with
// i (and so does L_i - w_i / 2 = L_(i-1) + w_i / 2), R_i falls: a deficit
// test rejects a prefix of the row, an excess test a suffix, and the doubled
// one-sided test both (2 L_i <= level and 2 R_i <= level cannot both hold, as
// L_i + R_i exceeds the total).
// The rejected counts of a test at some level, as row indices: [0, left)
// and [right, size).
struct KnownRejection {
    std::size_t left = 0, right = SIZE_MAX;
};

template <class W>
class ExactRowDecisions {
public:
    explicit ExactRowDecisions(const ConditionalRow<W>& row) : row_(row) {}

    // Takes the row's weights as they are now. The two-sided tests by weight
    // (exact, exact-midp) read the sums from the left end up to the top and
    // those from the right end up to the cell after it only: with
    // `twoSidedOnly` the sums stop there, which halves the work; the one-sided
    // tests need them across the whole row.
    void update(bool twoSidedOnly = false) {
        const W* w = row_.weights();
        const std::size_t size = row_.size;
        fromLeft_.resize(size + 1);
        fromRight_.resize(size + 1);
        const std::size_t leftCount = twoSidedOnly ? row_.top + 1 : size;
        const std::size_t rightCount = twoSidedOnly ? size - row_.top - 1 : size;
        W left = 0, right = 0;
        fromLeft_[0] = fromRight_[0] = 0;
        // Both sums go in one loop while both go on: each addition waits on
        // the one before, and two chains side by side share the waits.
        const std::size_t both = std::min(leftCount, rightCount);
        std::size_t i = 0;
        for (; i < both; ++i) {
            left += w[i];
            right += w[size - 1 - i];
            fromLeft_[i + 1] = left;
            fromRight_[i + 1] = right;
        }
        for (std::size_t j = i; j < leftCount; ++j) {
            left += w[j];
            fromLeft_[j + 1] = left;
        }
        for (std::size_t j = i; j < rightCount; ++j) {
            right += w[size - 1 - j];
            fromRight_[j + 1] = right;
        }
    }

    // The test's p-value of the count at index i, times the row's total.
    W scaledPValue(HweTest test, std::size_t i) const {
        const W* w = row_.weights();
        switch (test) {
            case HweTest::Exact: return atMost(w[i] * kTie);
            case HweTest::ExactMidP: return midP(w[i]);
            case HweTest::ExactDost:
                return 2 * std::min(fromLeft_[i + 1], fromRight_[row_.size - i]);
            case HweTest::ExactDeficit: return fromLeft_[i + 1];
            case HweTest::ExactExcess: return fromRight_[row_.size - i];
            case HweTest::ExactDeficitMidP: return fromLeft_[i] + w[i] / 2;
            case HweTest::ExactExcessMidP: return fromRight_[row_.size - i - 1] + w[i] / 2;
            default: break;
        }
        return 0;
    }

    // The p-value of the count at index i, at most 1.
    Extended pValue(HweTest test, std::size_t i) const {
        return std::min<Extended>(static_cast<Extended>(scaledPValue(test, i)) / row_.total, 1);
    }

    // The rejected counts at a level: h <= low and h >= high (low below the
    // row and high above it when a side rejects nothing; low is -1 for a test
    // that never rejects on the left, high INT_MAX for one that never rejects
    // on the right). Each test's predicate is written out, so that a probe
    // costs its own sums only. With `known`, the rejection of the same test
    // at a level at most this one: the rejected counts only grow with the
    // level, so the two-sided tests by weight search from its bounds outward
    // by galloping, and `known` is set to this level's bounds.
    void rejection(HweTest test, double level, int& low, int& high,
                   KnownRejection* known = nullptr) const {
        const W* w = row_.weights();
        const std::size_t size = row_.size;
        const W threshold =
            static_cast<W>(static_cast<Extended>(level) * (1 + kLevelTolerance) * row_.total);
        auto hAt = [&](std::size_t i) { return row_.firstH + 2 * static_cast<int>(i); };
        // The first index in [from, to) where `holds` fails (it holds before).
        auto endOf = [](std::size_t from, std::size_t to, auto holds) {
            while (from < to) {
                const std::size_t mid = from + (to - from) / 2;
                if (holds(mid))
                    from = mid + 1;
                else
                    to = mid;
            }
            return from;
        };
        // The first index in [from, to) where `holds` holds (it fails before).
        auto startOf = [](std::size_t from, std::size_t to, auto holds) {
            while (from < to) {
                const std::size_t mid = from + (to - from) / 2;
                if (holds(mid))
                    to = mid;
                else
                    from = mid + 1;
            }
            return from;
        };
        // Two-sided by weight: a prefix of [0, top] (the top is rejected
        // only when every count is) and a suffix of (top, size).
        auto byWeight = [&](auto rejected) {
            const std::size_t top = row_.top;
            std::size_t leftRejected, rightRejected = size;
            if (known) {
                // Every count rejected at the lower level is rejected here:
                // [0, known->left) on the left and [known->right, size) on
                // the right.
                std::size_t from = std::min(known->left, top + 1), step = 1;
                std::size_t to = top + 1;
                for (;;) {
                    const std::size_t probe = from + step - 1;
                    if (probe >= to) break;
                    if (!rejected(probe)) {
                        to = probe;
                        break;
                    }
                    from = probe + 1;
                    step *= 2;
                }
                leftRejected = endOf(from, to, rejected);
                if (leftRejected <= top) {
                    std::size_t hi = std::clamp(known->right, top + 1, size), lo = top + 1;
                    for (step = 1; hi >= lo + step;) {
                        const std::size_t probe = hi - step;
                        if (!rejected(probe)) {
                            lo = probe + 1;
                            break;
                        }
                        hi = probe;
                        step *= 2;
                    }
                    rightRejected = startOf(lo, hi, rejected);
                }
                known->left = leftRejected;
                known->right = leftRejected > top ? top + 1 : rightRejected;
            } else {
                leftRejected = endOf(0, top + 1, rejected);
                if (leftRejected <= top) rightRejected = startOf(top + 1, size, rejected);
            }
            low = hAt(leftRejected) - 2;
            high = leftRejected > top ? hAt(top + 1) : hAt(rightRejected);
        };
        auto deficit = [&](auto rejected) {
            low = hAt(endOf(0, size, rejected)) - 2;
            high = std::numeric_limits<int>::max();
        };
        auto excess = [&](auto rejected) {
            low = -1;
            high = hAt(startOf(0, size, rejected));
        };
        switch (test) {
            case HweTest::ExactMidP:
                return byWeight([&](std::size_t i) { return midP(w[i]) <= threshold; });
            case HweTest::ExactDeficit:
                return deficit([&](std::size_t i) { return fromLeft_[i + 1] <= threshold; });
            case HweTest::ExactDeficitMidP:
                return deficit([&](std::size_t i) { return fromLeft_[i] + w[i] / 2 <= threshold; });
            case HweTest::ExactExcess:
                return excess([&](std::size_t i) { return fromRight_[size - i] <= threshold; });
            case HweTest::ExactExcessMidP:
                return excess([&](std::size_t i) {
                    return fromRight_[size - i - 1] + w[i] / 2 <= threshold;
                });
            case HweTest::ExactDost:
                // 2 min(L_i, R_i) <= level: 2 L_i <= level (a prefix) or
                // 2 R_i <= level (a suffix).
                low = hAt(endOf(0, size,
                                [&](std::size_t i) { return 2 * fromLeft_[i + 1] <= threshold; })) -
                      2;
                high = hAt(startOf(
                    0, size, [&](std::size_t i) { return 2 * fromRight_[size - i] <= threshold; }));
                return;
            default:
                return byWeight([&](std::size_t i) { return atMost(w[i] * kTie) <= threshold; });
        }
    }

private:
    static constexpr W kTie = 1 + static_cast<W>(kTieTolerance);

    // The sum of the weights at most x.
    W atMost(W x) const {
        const W* w = row_.weights();
        const W* topIt = w + row_.top;
        const W* end = w + row_.size;
        const auto left = std::upper_bound(w, topIt + 1, x) - w;
        const auto right = end - std::partition_point(topIt + 1, end, [&](W v) { return v > x; });
        return fromLeft_[static_cast<std::size_t>(left)] +
               fromRight_[static_cast<std::size_t>(right)];
    }

    // Twice the mid-p of a count of weight x, times the total: the weights
    // at most x (1 + tie) plus those below x / (1 + tie). The second set is
    // the first less the ties, which lie next to the ends of the first on
    // each side, so they are found by stepping back from its search.
    W midP(W x) const {
        const W* w = row_.weights();
        const W* topIt = w + row_.top;
        const W* end = w + row_.size;
        const W most = x * kTie, least = x / kTie;
        auto left = std::upper_bound(w, topIt + 1, most) - w;
        auto right = end - std::partition_point(topIt + 1, end, [&](W v) { return v > most; });
        const W noMore =
            fromLeft_[static_cast<std::size_t>(left)] + fromRight_[static_cast<std::size_t>(right)];
        while (left > 0 && w[left - 1] >= least) --left;
        while (right > 0 && end[-right] >= least) --right;
        const W less =
            fromLeft_[static_cast<std::size_t>(left)] + fromRight_[static_cast<std::size_t>(right)];
        return (noMore + less) / 2;
    }

    const ConditionalRow<W>& row_;
    std::vector<W> fromLeft_, fromRight_;
};

// The last index k in [0, count) at which pred holds, for a pred that holds up
// to some index and fails after it; -1 when it never holds. Searched by
// galloping from a guess, so a good guess costs two evaluations.
template <class Pred>
int lastTrue(int count, int guess, Pred pred) {
    if (count <= 0) return -1;
    guess = std::clamp(guess, 0, count - 1);
    int yes, no;  // pred(yes) holds (or yes == -1), pred(no) fails (or no == count)
    if (pred(guess)) {
        yes = guess;
        int step = 1;
        for (;;) {
            const int next = yes + step;
            if (next >= count) {
                no = count;
                break;
            }
            if (!pred(next)) {
                no = next;
                break;
            }
            yes = next;
            step *= 2;
        }
    } else {
        no = guess;
        int step = 1;
        for (;;) {
            const int next = no - step;
            if (next < 0) {
                yes = -1;
                break;
            }
            if (pred(next)) {
                yes = next;
                break;
            }
            no = next;
            step *= 2;
        }
    }
    while (no - yes > 1) {
        const int mid = yes + (no - yes) / 2;
        if (pred(mid))
            yes = mid;
        else
            no = mid;
    }
    return yes;
}

// One test at one level, with its sums over the groups and what its search
// learnt from the last group.
struct Request {
    HweTest test;
    double level;
    Extended critical;
    Extended root;  // sqrt(critical / n): X2 = n F^2 crosses the critical value at |F| = root
    double offsetLow = 0, offsetHigh = 0;  // last row's bounds less the X2 formula's
    Extended testable = 0, rejected = 0;
};

// A run of genotype-count cells of one allele count a: heterozygote counts
// firstH, firstH + 2, ..., lastH, and running sums of their probabilities
// made outwards from the most probable count `topH`: below it, cum[k] is the
// sum from cell k up to the one before topH; from it on, the sum from topH up
// to cell k. Cell k has h = firstH + 2 (k - first).
struct CellRun {
    int firstH = 0, topH = 0, lastH = 0;
    int first = 0;        // index of firstH in cum
    double belowTop = 0;  // the sum of the cells below topH
    const double* cum = nullptr;
    // When set, sums are made cell by cell from here (cell[k] for h at k):
    // a difference of two running sums carries the rounding of the whole
    // run, too much for a range that holds a tiny share of it.
    const double* cell = nullptr;

    // The sum of the cells from firstH up to h (h within the run).
    double upTo(int h) const {
        const int k = first + (h - firstH) / 2;
        if (h >= topH) return belowTop + cum[k];
        if (h + 2 == topH) return belowTop;
        return belowTop - cum[k + 1];
    }
    // The sum of the probabilities of h in [from, to], clipped to the run.
    Extended sum(int from, int to) const {
        from = std::max(from, firstH);
        to = std::min(to, lastH);
        if (from > to) return 0;
        if (cell) {
            Extended sum = 0;
            for (int k = first + (to - firstH) / 2, end = first + (from - firstH) / 2; k >= end;
                 --k)
                sum += cell[k];
            return sum;
        }
        return static_cast<Extended>(upTo(to)) - (from == firstH ? 0.0 : upTo(from - 2));
    }
};

// The exact power of every request at one model and sample size. The
// constructor takes the sampler's genotype probabilities and the cut; run()
// walks the allele counts outward from the expected one (row() per count:
// the mode, the ratio walk into cell_ and cum_, then addShares), and returns
// each request's sums. Per group, addShares clips each request's range to the
// counts its test can test, adds that range to the request's testable mass,
// and adds its rejected tails: for X2, G and X2cc from statisticShares, for
// the exact tests from the group's conditional distribution (made once per
// group for every exact request, at the smallest exact level's cut).
class PowerSum {
public:
    PowerSum(const ModelSetting& setting, std::uint32_t n, std::span<const TestLevel> tests)
        : n_(n), lf_(logFactorials()) {
        cell_.room(n + 3);
        cum_.room(n + 3);
        const GenotypeFrequencies fr = frequenciesOf(setting);
        // The sampler's classes: A1A1 below c1, A1A2 from c1 to c2, A2A2 above.
        const Extended c1 = std::clamp<Extended>(fr.f11, 0, 1);
        const Extended c2 = std::clamp<Extended>(fr.f11 + fr.f12, c1, 1);
        p11_ = c1;
        p12_ = c2 - c1;
        p22_ = 1 - c2;
        ln11_ = p11_ > 0 ? std::log(p11_) : 0;
        ln12_ = p12_ > 0 ? std::log(p12_) : 0;
        ln22_ = p22_ > 0 ? std::log(p22_) : 0;
        if (p11_ > 0 && p12_ > 0 && p22_ > 0) {
            ratio_ = (p12_ * p12_) / (p11_ * p22_);
            ratioDouble_ = static_cast<double>(ratio_);
            inverseRatio_ = static_cast<double>(1 / ratio_);
        }
        // A cell below the cut is left out; there are (n + 1)(n + 2) / 2
        // cells in all, so what is left out sums to below 1e-12.
        cut_ = static_cast<double>(1e-12L / cellCount());
        for (const TestLevel& t : tests) {
            Request r{t.test, t.level, 0, 0};
            if (!isExactFamily(t.test)) {
                r.critical = criticalValue(t.level);
                r.root = std::sqrt(r.critical / n);
            } else {
                minExactLevel_ = std::min(minExactLevel_, t.level);
                twoSidedOnly_ =
                    twoSidedOnly_ && (t.test == HweTest::Exact || t.test == HweTest::ExactMidP);
            }
            requests_.push_back(r);
        }
        wideRows_ = minExactLevel_ < 1e-280;
    }

    std::vector<ExactPower> run() {
        // Alone, a request whose testable probability is small is summed
        // again with lower cuts (lowerCut).
        Extended covered = sweep();
        const Extended cells = cellCount();
        if (requests_.size() == 1)
            while (lowerCut(cells, 1)) covered = sweep();
        std::vector<ExactPower> out;
        for (const Request& r : requests_) {
            ExactPower e;
            e.testable = static_cast<double>(std::clamp<Extended>(r.testable, 0, 1));
            e.power = static_cast<double>(std::clamp<Extended>(r.rejected, 0, 1));
            e.conditionalPower =
                e.testable > 0
                    ? static_cast<double>(std::clamp<Extended>(r.rejected / r.testable, 0, 1))
                    : std::numeric_limits<double>::quiet_NaN();
            e.massLeftOut = static_cast<double>(std::max<Extended>(0, 1 - covered));
            out.push_back(e);
        }
        return out;
    }

    // True when request i needs a lower cut than this sum had (see lowerCut):
    // it is summed again on its own, so that no request's result depends on
    // which others were asked with it.
    bool needsLowerCut(std::size_t i, Extended cells, Extended mass) const {
        const Request& r = requests_[i];
        if (!canBeTestable(r.test)) return false;
        const Extended share = std::min<Extended>(1, 2 * (r.testable / mass));
        return static_cast<Extended>(cut_) > 1e-12L * share / cells * (1 + 1e-9L) && cut_ > 1e-290;
    }

    bool needsLowerCut(std::size_t i) const { return needsLowerCut(i, cellCount(), 1); }
    bool givenNeedsLowerCut(std::size_t i, std::uint32_t a) const {
        if (!(givenMass_ > 0)) return false;
        const Extended cells = static_cast<Extended>(std::min(a, 2 * n_ - a) / 2 + 1);
        return needsLowerCut(i, cells, givenMass_);
    }

    // The same among the samples with a copies of A1 only: the group's
    // cells relative to its most probable one, each sum divided by the
    // group's. The cut is relative to that cell; the mass left out is
    // reported as its bound, the cut times the counts left out, as a share of
    // the group.
    std::vector<ExactPower> runGiven(std::uint32_t a) {
        given_ = true;
        cellSums_ = true;
        const Extended cells = static_cast<Extended>(std::min(a, 2 * n_ - a) / 2 + 1);
        cut_ = static_cast<double>(1e-12L / cells);
        Extended mass = sweepGiven(a);
        if (requests_.size() == 1)
            while (mass > 0 && lowerCut(cells, mass)) mass = sweepGiven(a);
        givenMass_ = mass;
        std::vector<ExactPower> out;
        for (const Request& r : requests_) {
            ExactPower e;
            if (mass > 0) {
                e.testable = static_cast<double>(std::clamp<Extended>(r.testable / mass, 0, 1));
                e.power = static_cast<double>(std::clamp<Extended>(r.rejected / mass, 0, 1));
                const Extended kept = (cells_.lastH - cells_.firstH) / 2 + 1;
                e.massLeftOut = static_cast<double>(cut_ * (cells - kept) / mass);
            }
            e.conditionalPower =
                r.testable > 0
                    ? static_cast<double>(std::clamp<Extended>(r.rejected / r.testable, 0, 1))
                    : std::numeric_limits<double>::quiet_NaN();
            out.push_back(e);
        }
        return out;
    }

private:
    Extended cellCount() const {
        return (static_cast<Extended>(n_) + 1) * (static_cast<Extended>(n_) + 2) / 2;
    }

    // False when no sample of n can be tested: only one allele can occur,
    // or (g-window) a genotype has probability 0 or n < 3 cannot hold all three.
    bool canBeTestable(HweTest test) const {
        if (test == HweTest::GWindow) return p11_ > 0 && p12_ > 0 && p22_ > 0 && n_ >= 3;
        return p12_ > 0 || (p11_ > 0 && p22_ > 0);
    }

    // The absolute cut bounds the mass left out by 1e-12 (of `mass`, the
    // probability summed); a request whose testable probability T is small
    // needs a bound relative to T for its conditional power (power / T).
    // Until the mass left out is below 1e-12 min(1, 2 T) for every request
    // that can be tested at all, the sum is made again with the cut lowered
    // to that bound: this returns true when it lowered the cut. T from a pass
    // is below the true T by at most that pass's mass left out, so one more
    // pass settles T unless it was nearly all left out; a pass that found
    // T = 0 lowers the cut by 1e-12 and tries again. Those passes sum every
    // range cell by cell: a range's share of its group may be as small as T,
    // where a difference of running sums would keep only the rounding of the
    // group. A cut below 1e-290 would leave the range of doubles: there the
    // last pass stands. Only a sum of one request lowers its cut: in a sum
    // of several the others would change with it, so exactPower sums a
    // request that needs it again on its own (needsLowerCut).
    bool lowerCut(Extended cells, Extended mass) {
        if (!(cut_ > 1e-290)) return false;
        Extended smallest = 1;
        for (const Request& r : requests_)
            if (canBeTestable(r.test)) smallest = std::min(smallest, r.testable / mass);
        const Extended wanted = 1e-12L * std::min<Extended>(1, 2 * smallest) / cells;
        // The slack 1e-9 covers the rounding of a cut stored as a double, so
        // that a pass at exactly the wanted cut is not made twice.
        if (static_cast<Extended>(cut_) <= wanted * (1 + 1e-9L)) return false;
        const double next =
            static_cast<double>(smallest > 0 ? wanted : static_cast<Extended>(cut_) * 1e-12L);
        if (!(next >= 1e-290)) return false;
        cut_ = next;
        cellSums_ = true;
        return true;
    }

    void clearSums() {
        for (Request& r : requests_) {
            r.testable = r.rejected = 0;
            r.offsetLow = r.offsetHigh = 0;
        }
    }

    // The group of allele count a alone: its mass relative to its top cell.
    Extended sweepGiven(std::uint32_t a) {
        clearSums();
        return row(a);
    }

    // One sum over the allele counts at the current cut: every request's
    // sums from 0, and the mass summed.
    Extended sweep() {
        clearSums();
        const Extended mean = n_ * ((2 * p11_) + p12_);
        const long start = std::clamp(std::lround(static_cast<double>(mean)), 0L, 2L * n_);
        Extended covered = 0;
        // Upwards from the mean, then downwards; each direction ends when two
        // neighbouring allele counts (one of each parity) hold no cell above
        // the cut. Why two: groups of odd and even a interleave, and a group
        // of one parity may be empty (a = 1 with no heterozygote allowed)
        // while the next one is not.
        for (int dir : {+1, -1}) {
            int empty = 0;
            for (long a = dir > 0 ? start : start - 1; a >= 0 && a <= 2L * n_; a += dir) {
                const Extended mass = row(static_cast<std::uint32_t>(a));
                covered += mass;
                empty = mass > 0 ? 0 : empty + 1;
                if (empty >= 2) break;
            }
        }
        return covered;
    }

    Extended logCell(int n11, int h, int n22) const {
        Extended v = logFactorial(lf_, n_) - logFactorial(lf_, static_cast<std::uint32_t>(n11)) -
                     logFactorial(lf_, static_cast<std::uint32_t>(h)) -
                     logFactorial(lf_, static_cast<std::uint32_t>(n22));
        if (n11 > 0) v += n11 * ln11_;
        if (h > 0) v += h * ln12_;
        if (n22 > 0) v += n22 * ln22_;
        return v;
    }

    // Enumerates the cells of allele count a above the cut, adds every
    // request's share, and returns their probability.
    Extended row(std::uint32_t a) {
        const int ai = static_cast<int>(a);
        const int m = static_cast<int>(2 * n_ - a);
        int lo = ai % 2, hi = std::min(ai, m);
        // A genotype of probability 0 never occurs: pin the count it fixes.
        if (p12_ == 0) hi = std::min(hi, 0);
        if (p11_ == 0) lo = std::max(lo, ai);  // n11 = 0 means h = a
        if (p22_ == 0) lo = std::max(lo, m);   // n22 = 0 means h = 2n - a
        if (p11_ == 0) hi = std::min(hi, ai);
        if (p22_ == 0) hi = std::min(hi, m);
        if (lo > hi) return 0;

        const int mode = rowMode(ai, m, lo, hi, ratio_);
        const Extended top = given_ ? 1 : std::exp(logCell((ai - mode) / 2, mode, (m - mode) / 2));
        if (!(top >= cut_)) return 0;

        const RowWalk<double> w =
            walkRow<double>(ai, m, lo, hi, mode, static_cast<double>(top), ratioDouble_,
                            inverseRatio_, cut_, cell_.data(), cum_.data());
        cells_.firstH = lo + 2 * (w.first - 1);
        cells_.topH = mode;
        cells_.lastH = lo + 2 * (w.last - 1);
        cells_.first = w.first;
        cells_.belowTop = w.below;
        cells_.cum = cum_.data();
        cells_.cell = cellSums_ ? cell_.data() : nullptr;
        const double sum = w.above + w.below;

        if (a > 0 && a < 2 * n_) addShares(ai, m);
        return sum;
    }

    void addShares(int a, int m) {
        const int firstH = cells_.firstH, lastH = cells_.lastH;
        const Extended centre = static_cast<Extended>(a) * m / (2 * static_cast<Extended>(n_));
        const int parity = a % 2;
        bool exactRowMade = false;
        for (Request& r : requests_) {
            int tlo = firstH, thi = lastH;
            if (r.test == HweTest::GWindow) {
                // Every genotype must occur: h >= 1, n11 >= 1, n22 >= 1.
                tlo = std::max(tlo, parity == 0 ? 2 : 1);
                thi = std::min({thi, a - 2, m - 2});
            }
            if (tlo > thi) continue;
            r.testable += cells_.sum(tlo, thi);
            if (isExactFamily(r.test)) {
                if (!exactRowMade) {
                    makeExactRow(static_cast<std::uint32_t>(a));
                    exactRowMade = true;
                }
                int low = 0, high = 0;
                if (wideRows_)
                    wideDecisions_.rejection(r.test, r.level, low, high);
                else
                    decisions_.rejection(r.test, r.level, low, high);
                r.rejected += cells_.sum(tlo, std::min(low, thi));
                if (high <= thi) r.rejected += cells_.sum(std::max(high, tlo), thi);
                continue;
            }
            statisticShares(r, a, m, parity, centre, tlo, thi);
        }
    }

    // The conditional distribution of allele count a, for every exact
    // request of the group. Weights are relative to the mode (1), so the
    // total is at least 1; the row has at most n / 2 + 1 counts, so the
    // weights left out sum to below 5001 * level * 1e-20 of the total: they
    // move no p-value by more than 1e-16 of the level, far inside the level
    // tolerance 1e-9, and every count left out has a two-sided p-value below
    // the level (rejected; the one-sided tests reject it on its own side).
    // Below a smallest level of 1e-280 the cut leaves the normal doubles, and
    // the row is made in long double.
    void makeExactRow(std::uint32_t a) {
        if (wideRows_) {
            conditionalRow<Extended>(n_, a, static_cast<Extended>(minExactLevel_) * 1e-20L, wide_);
            wideDecisions_.update(twoSidedOnly_);
        } else {
            conditionalRow<double>(n_, a, minExactLevel_ * 1e-20, conditional_);
            decisions_.update(twoSidedOnly_);
        }
    }

    void statisticShares(Request& r, int a, int m, int parity, Extended centre, int tlo, int thi) {
        auto rejectedAt = [&](int h) {
            const int n11 = (a - h) / 2, n22 = (m - h) / 2;
            // The statistic in doubles decides every count whose statistic
            // lies clearly off the critical value (by more than 1e-9 of it,
            // ten times the double statistic's error); the extended
            // statistic (the window's own for X2 and G) decides the rest.
            const double quick = quickStatistic(r.test, n11, h, n22, n_);
            const double critical = static_cast<double>(r.critical);
            if (std::fabs(quick - critical) > 1e-9 * critical) return quick > critical;
            if (r.test == HweTest::G) return fieldG(n11, h, n22) > r.critical;
            if (n_ > kMaxSingleSample) return wideStatistic(r.test, n11, h, n22, n_) > r.critical;
            const GenotypeCounts c{static_cast<std::uint16_t>(n11), static_cast<std::uint16_t>(h),
                                   static_cast<std::uint16_t>(n22)};
            return statisticOf(r.test, c, static_cast<std::uint16_t>(n_)) > r.critical;
        };
        // Within a group o11 - e11 = o22 - e22 = -(h - centre) / 2 and
        // o12 - e12 = h - centre (e11 + e12 / 2 = a / 2 = o11 + h / 2), with
        // e11, e12, e22 fixed. With d = |h - centre|:
        //   X2   = (d/2)^2 / e11 + d^2 / e12 + (d/2)^2 / e22, growing with d;
        //   X2cc = c(d/2)^2 / e11 + c(d)^2 / e12 + c(d/2)^2 / e22 with
        //          c(x) = max(0, x - 1/2): every term is non-decreasing in d;
        //   G    = 2 sum o ln(o / e) is convex along the line of the group
        //          (o ln o is convex) and 0 at h = centre, so it falls up to
        //          the centre and grows after it.
        // So on each side of the centre every statistic is monotone in h, and
        // the rejected counts there are a tail, found by galloping: the
        // counts next to the expectation need no case of their own.
        int leftEnd = static_cast<int>(std::floor(centre));  // the last h <= centre
        if (((leftEnd - parity) % 2 + 2) % 2 != 0) --leftEnd;
        const int rightStart = leftEnd + 2;  // the first h > centre

        // X2 = n F^2 in a group with F the inbreeding coefficient estimate
        // (h = centre (1 - F)), so the tails start near centre (1 -+ root);
        // the offsets carry how far the last group's bounds lay from that
        // guess, so the galloping usually costs two probes.
        const Extended lowGuess = centre * (1 - r.root), highGuess = centre * (1 + r.root);
        // Low tail: h in [tlo, min(thi, leftEnd)].
        const int lowTo = std::min(thi, leftEnd);
        if (tlo <= lowTo) {
            const int count = (lowTo - tlo) / 2 + 1;
            const double g = static_cast<double>(lowGuess) + r.offsetLow;
            const int k = lastTrue(count, static_cast<int>(std::lround((g - tlo) / 2)),
                                   [&](int i) { return rejectedAt(tlo + 2 * i); });
            if (k >= 0) {
                const int low = tlo + 2 * k;
                r.rejected += cells_.sum(tlo, low);
                r.offsetLow = low - static_cast<double>(lowGuess);
            }
        }
        // High tail: h in [max(tlo, rightStart), thi], counted from thi down.
        const int highFrom = std::max(tlo, rightStart);
        if (highFrom <= thi) {
            const int count = (thi - highFrom) / 2 + 1;
            const double g = static_cast<double>(highGuess) + r.offsetHigh;
            const int k = lastTrue(count, static_cast<int>(std::lround((thi - g) / 2)),
                                   [&](int i) { return rejectedAt(thi - 2 * i); });
            if (k >= 0) {
                const int high = thi - 2 * k;
                r.rejected += cells_.sum(high, thi);
                r.offsetHigh = high - static_cast<double>(highGuess);
            }
        }
    }

    std::uint32_t n_;
    const std::vector<Extended>& lf_;
    Extended p11_ = 0, p12_ = 0, p22_ = 0;
    Extended ln11_ = 0, ln12_ = 0, ln22_ = 0;
    Extended ratio_ = 0;
    double ratioDouble_ = 0, inverseRatio_ = 0;
    double cut_ = 0;
    double minExactLevel_ = 1;
    std::vector<Request> requests_;
    CellRun cells_;
    WalkBuffer<double> cell_, cum_;
    bool wideRows_ = false;
    bool twoSidedOnly_ = true;  // every exact request is exact or exact-midp
    bool cellSums_ = false;
    bool given_ = false;      // one group, relative to its top cell (runGiven)
    Extended givenMass_ = 0;  // sum ranges cell by
                              // cell (the passes for a small T)
    ConditionalRow<double> conditional_;
    ExactRowDecisions<double> decisions_{conditional_};
    ConditionalRow<Extended> wide_;
    ExactRowDecisions<Extended> wideDecisions_{wide_};
};

}  // namespace

GenotypeFrequencies frequenciesOf(const ModelSetting& setting) {
    const Extended p = setting.p;
    const Extended q = 1 - p;
    GenotypeFrequencies fr = modelFrequencies(
        setting.model, p, q, setting.var, setting.f, {setting.w11, setting.w12, setting.w22},
        {setting.hetMiscall, setting.homMiscall, setting.nullFrequency});
    // At the lowest f the rarer homozygote's p^2 + f p q is 0 up to the
    // roundings of p, q and f (a few 1e-17 below or above): a frequency
    // below 0 is 0, and the heterozygotes take what is left, so the three
    // still sum to 1 and the sampler's classes stay in order.
    if (fr.f11 < 0 || fr.f22 < 0) {
        fr.f11 = std::max<Extended>(fr.f11, 0);
        fr.f22 = std::max<Extended>(fr.f22, 0);
        fr.f12 = 1 - fr.f11 - fr.f22;
    }
    return fr;
}

Extended chiSquareUpperTail(Extended statistic) {
    if (!(statistic > 0)) return 1;
    // P(X2 > x) for 1 df is P(|Z| > sqrt(x)) = erfc(sqrt(x / 2)); the extended
    // erfc keeps its relative accuracy down to its underflow near 1e-4950.
    return std::erfc(std::sqrt(statistic / 2));
}

Extended criticalValue(double level) {
    if (level == 0.05) return kCritical05;
    if (level == 0.01) return kCritical01;
    // The upper level/2 point z of the standard normal, z^2 the 1-df
    // chi-square quantile. Newton's method on g(z) = ln Q(z) - ln(level / 2),
    // Q(z) = erfc(z / sqrt 2) / 2 the upper tail, g'(z) = -density / Q.
    // ln Q is concave, so a tangent lies above it and Newton's iterates from
    // a start above the root fall to the root monotonically, never past it.
    // The start: Q(z) <= exp(-z^2 / 2) / 2, so z0 = sqrt(-2 ln(level / 2))
    // has Q(z0) <= level / 4 and lies above the root; and it is at most 37.3
    // at level 1e-300, where Q is still far inside the extended range (the
    // old start at 1 overshot to z ~ 150 for levels below about 1e-100, where
    // erfc underflows and the iteration gave NaN).
    const Extended target = std::log(static_cast<Extended>(level) / 2);
    const Extended rootTwo = std::sqrt(2.0L);
    const Extended rootTwoPi = std::sqrt(2 * 3.14159265358979323846264338327950288L);
    // Newton's method converges quadratically near the root, so a few dozen
    // steps suffice; 200 only bounds the loop. It stops when a step moves z by
    // at most 1e-18 of it, about the extended precision (2^-64 = 5.4e-20).
    Extended z = std::sqrt(-2 * target);
    for (int i = 0; i < 200; ++i) {
        const Extended tail = std::erfc(z / rootTwo) / 2;
        const Extended density = std::exp(-(z * z) / 2) / rootTwoPi;
        const Extended next = z + (std::log(tail) - target) * tail / density;
        if (!(next < z) || z - next <= 1e-18L * next) {
            z = std::min(z, next);
            break;
        }
        z = next;
    }
    return z * z;
}

Extended testStatistic(HweTest test, const GenotypeCounts& counts) {
    const std::uint32_t n = std::uint32_t{counts.o11} + counts.o12 + counts.o22;
    if (n == 0 || n > kMaxSingleSample) return kNotComputable;
    return statisticOf(test, counts, static_cast<std::uint16_t>(n));
}

Extended testStatistic(HweTest test, std::uint32_t n11, std::uint32_t n12, std::uint32_t n22) {
    const std::uint64_t n = std::uint64_t{n11} + n12 + n22;
    if (n == 0 || n > kMaxPowerSampleSize) return kNotComputable;
    if (n <= kMaxSingleSample)
        return testStatistic(
            test, GenotypeCounts{static_cast<std::uint16_t>(n11), static_cast<std::uint16_t>(n12),
                                 static_cast<std::uint16_t>(n22)});
    if (test == HweTest::G) return fieldG(n11, n12, n22);
    return wideStatistic(test, n11, n12, n22, static_cast<std::uint32_t>(n));
}

bool statisticRejects(HweTest test, std::uint32_t n11, std::uint32_t n12, std::uint32_t n22,
                      Extended critical) {
    if (test == HweTest::GWindow && (n11 == 0 || n12 == 0 || n22 == 0)) return false;
    const std::uint32_t n = n11 + n12 + n22;
    const double quick = quickStatistic(test, n11, n12, n22, n);
    const double c = static_cast<double>(critical);
    if (quick >= 0 && std::fabs(quick - c) > 1e-9 * c) return quick > c;
    const Extended x = testStatistic(test, n11, n12, n22);
    return x != kNotComputable && x > critical;
}

std::optional<Extended> exactPValue(HweTest test, const GenotypeCounts& counts) {
    const std::uint32_t n = std::uint32_t{counts.o11} + counts.o12 + counts.o22;
    const std::uint32_t a = 2 * std::uint32_t{counts.o11} + counts.o12;
    if (!isExactFamily(test) || n > kMaxSingleSample || a == 0 || a == 2 * n) return std::nullopt;
    ConditionalRow<Extended> row;
    conditionalRow<Extended>(n, a, 0, row);
    ExactRowDecisions<Extended> decisions(row);
    decisions.update();
    // A weight that underflowed (only beyond n of about 15000) counts as the
    // smallest normal value: a p-value is never 0.
    const std::size_t i = static_cast<std::size_t>((counts.o12 - row.firstH) / 2);
    if (i >= row.size) return std::numeric_limits<Extended>::min();
    return std::max(decisions.pValue(test, i), std::numeric_limits<Extended>::min());
}

std::optional<Extended> exactTestPValue(const GenotypeCounts& counts) {
    return exactPValue(HweTest::Exact, counts);
}

std::optional<ExactRejection> exactRejection(HweTest test, std::uint32_t n, std::uint32_t a,
                                             double level) {
    if (!isExactFamily(test) || n == 0 || n > kMaxSingleSample || a == 0 || a >= 2 * n)
        return std::nullopt;
    ExactRejection r;
    if (level < 1e-280) {
        ConditionalRow<Extended> row;
        conditionalRow<Extended>(n, a, static_cast<Extended>(level) * 1e-20L, row);
        ExactRowDecisions<Extended> decisions(row);
        decisions.update();
        decisions.rejection(test, level, r.low, r.high);
    } else {
        ConditionalRow<double> row;
        conditionalRow<double>(n, a, level * 1e-20, row);
        ExactRowDecisions<double> decisions(row);
        decisions.update();
        decisions.rejection(test, level, r.low, r.high);
    }
    return r;
}

std::optional<ExactRejection> exactRejection(std::uint32_t n, std::uint32_t a, double level) {
    return exactRejection(HweTest::Exact, n, a, level);
}

namespace {

template <class W>
std::vector<ExactRejection> rejectionsFromRow(std::uint32_t n, std::uint32_t a, W cut,
                                              std::span<const TestLevel> requests) {
    ConditionalRow<W> row;
    conditionalRow<W>(n, a, cut, row);
    ExactRowDecisions<W> decisions(row);
    decisions.update();
    std::vector<ExactRejection> out(requests.size());
    // Each test's levels in increasing order, each search starting from the
    // bounds of the level below.
    std::vector<std::size_t> order(requests.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        if (requests[x].test != requests[y].test) return requests[x].test < requests[y].test;
        return requests[x].level < requests[y].level;
    });
    KnownRejection known;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t i = order[k];
        if (k == 0 || requests[order[k - 1]].test != requests[i].test) known = {};
        decisions.rejection(requests[i].test, requests[i].level, out[i].low, out[i].high, &known);
    }
    return out;
}

}  // namespace

std::vector<ExactRejection> exactRejections(std::uint32_t n, std::uint32_t a,
                                            std::span<const TestLevel> requests) {
    if (n == 0 || n > kMaxPowerSampleSize || a == 0 || a >= 2 * n) return {};
    double smallest = 1;
    for (const TestLevel& r : requests) {
        if (!isExactFamily(r.test)) return {};
        smallest = std::min(smallest, r.level);
    }
    if (smallest < 1e-280)
        return rejectionsFromRow<Extended>(n, a, static_cast<Extended>(smallest) * 1e-20L,
                                           requests);
    return rejectionsFromRow<double>(n, a, smallest * 1e-20, requests);
}

std::optional<bool> rejects(HweTest test, const GenotypeCounts& counts, double level) {
    const std::uint32_t n = std::uint32_t{counts.o11} + counts.o12 + counts.o22;
    if (n == 0 || n > kMaxSingleSample) return std::nullopt;
    if (isExactFamily(test)) {
        const auto p = exactPValue(test, counts);
        if (!p) return std::nullopt;
        return *p <= static_cast<Extended>(level) * (1 + kLevelTolerance);
    }
    const Extended statistic = statisticOf(test, counts, static_cast<std::uint16_t>(n));
    if (statistic == kNotComputable) return std::nullopt;
    return statistic > criticalValue(level);
}

std::vector<ExactPower> exactPowerGivenAlleleCount(const ModelSetting& setting, std::uint32_t n,
                                                   std::uint32_t a,
                                                   std::span<const TestLevel> tests) {
    // No sample of n has more than 2n copies of A1: nothing is testable.
    if (a > 2 * n) {
        ExactPower none;
        none.conditionalPower = std::numeric_limits<double>::quiet_NaN();
        return std::vector<ExactPower>(tests.size(), none);
    }
    PowerSum sum(setting, n, tests);
    std::vector<ExactPower> out = sum.runGiven(a);
    for (std::size_t i = 0; i < out.size() && out.size() > 1; ++i)
        if (sum.givenNeedsLowerCut(i, a))
            out[i] = PowerSum(setting, n, tests.subspan(i, 1)).runGiven(a)[0];
    return out;
}

std::vector<ExactPower> exactPower(const ModelSetting& setting, std::uint32_t n,
                                   std::span<const TestLevel> tests) {
    // Requests whose testable probability is small are summed again on their
    // own with a lower cut (see PowerSum::lowerCut).
    PowerSum sum(setting, n, tests);
    std::vector<ExactPower> out = sum.run();
    for (std::size_t i = 0; i < out.size() && out.size() > 1; ++i)
        if (sum.needsLowerCut(i)) out[i] = PowerSum(setting, n, tests.subspan(i, 1)).run()[0];
    return out;
}

}  // namespace zyg
