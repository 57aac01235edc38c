#pragma once

// The conditional walk: the distribution of a count h given a total, walked by
// the exact ratios of neighbouring counts instead of by exp and log per count.
//
// A row is the distribution of the heterozygote count h of n genotypes with a
// copies of one allele and m = 2n - a of the other: h runs over lo, lo + 2,
// ..., hi and neighbouring counts have the ratio
//   up(h) = P(h + 2) / P(h) = K n11 n22 / ((h + 1)(h + 2)),
//   n11 = (a - h) / 2, n22 = (m - h) / 2,
// with K = P12^2 / (P11 P22) for genotype probabilities P11, P12, P22 (K = 4
// under Hardy-Weinberg, the exact tests' conditional distribution). up(h)
// falls as h grows, so a row is unimodal (indeed log-concave).
//
// Two walks serve the users of such rows:
// - walkRow goes outward from the mode (rowMode), with reciprocals from
//   tables so that a step costs multiplications only, keeps every cell and
//   its running sums, and stops where the cells fall below a cut: the power
//   sums, and the exact tests' decisions on whole rows (conditionalRow).
// - walkFromCount goes outward from a given count with weight 1, each ratio
//   made from exact integer products, and sums the weights by how they
//   compare with that count's (the p-values of an observed sample).
// Both take two counts as equally probable when their weights differ by less
// than kTieTolerance.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/Types.h"

namespace zyg {

// Two heterozygote counts whose conditional probabilities differ by less than
// this share of the larger are taken as equally probable by the exact tests,
// so that rounding cannot split a tie. True ties (e.g. the two counts around a
// mode with up(h) = 1) come out of different walks a few thousand roundings
// apart, 1e-12 at most, far inside it. Counts that truly differ by less than
// 1e-7 (possible: neighbouring ratios such as 4 n11 n22 / ((h + 1)(h + 2))
// may lie that close to 1 for large counts) are ties by this definition; the
// p-values treat them alike, whatever the rounding.
inline constexpr Extended kTieTolerance = 1e-7L;

// The largest n of a row walkRow takes (a + m = 2n): the reciprocal tables
// reach that far. Rows of n up to kSmallWalkTable use a table made on first
// use of any row; the larger table is made only when a larger row is walked.
inline constexpr std::uint32_t kSmallWalkTable = 65535;
inline constexpr std::uint32_t kLargestWalk = 1000000;

// 1/k and 1/((h + 1)(h + 2)) for the rows of n genotypes (n up to
// kLargestWalk): ones()[k] for k up to n + 2, pairs()[h] for h up to 2n.
// Both tables hold the same entries where they overlap.
class Reciprocals {
public:
    explicit Reciprocals(std::size_t limit);
    const double* ones() const { return one_.data(); }
    const double* pairs() const { return pair_.data(); }

private:
    std::vector<double> one_, pair_;
};
const Reciprocals& reciprocals(std::uint32_t n);

// The most probable heterozygote count among lo, lo + 2, ..., hi in the row
// of allele count a (m = 2n - a copies of A2) when successive counts have the
// ratio up(h) = P(h + 2) / P(h) = K n11 n22 / ((h + 1)(h + 2)), n11 = (a - h) / 2,
// n22 = (m - h) / 2 and K = P12^2 / (P11 P22) (4 under Hardy-Weinberg).
// up(h) falls as h grows (its numerator falls, its denominator grows), so the
// row is unimodal and the mode is the first h with up(h) <= 1. Setting
// up(h) = 1 with h + 1 and h + 2 replaced by h gives (K/4)(a - h)(m - h) = h^2,
// whose root in [0, min(a, m)] lies within a step or two of the mode; the walk
// uphill from it settles the last steps exactly (the comparisons are exact
// in extended precision: products of integers below 2^64 and one division).
// Needs every genotype probability above 0 when lo < hi.
int rowMode(int a, int m, int lo, int hi, Extended ratio);

// Room for a walk's cells, left uninitialised: a walk writes every cell it
// keeps before anything reads it, and it keeps a few thousand of a buffer
// sized for the longest row (n / 2 + 2), so memory that is never touched
// is never zeroed or even mapped.
template <class W>
class WalkBuffer {
public:
    W* room(std::size_t size) {
        if (size > size_) {
            data_ = std::make_unique_for_overwrite<W[]>(size);
            size_ = size;
        }
        return data_.get();
    }
    W* data() const { return data_.get(); }

private:
    std::unique_ptr<W[]> data_;
    std::size_t size_ = 0;
};

// The cells of one row, kept by a walk outward from the most probable count:
// index k holds h = lo + 2 (k - 1), so the top sits at kTop = (mode - lo) / 2 + 1
// and every cell the walk keeps lies in [first, last]. cell[k] is the cell's
// weight; cum[k] is the running sum outward from the top: below it the sum
// from cell k up to the cell before the top, from it on the sum from the top
// up to cell k.
template <class W>
struct RowWalk {
    int first = 0, top = 0, last = 0;
    W below = 0;  // the sum of the cells below the top
    W above = 0;  // the sum from the top up to the last cell
};

// Walks a row from its top weight `top` at h = mode down to lo and up to hi,
// each step one ratio of neighbouring cells:
//   P(h - 2) / P(h) = (h - 1) h / (K (n11 + 1)(n22 + 1))   (n11, n22 at h - 2 less 1)
//   P(h + 2) / P(h) = K n11 n22 / ((h + 1)(h + 2))          (n11, n22 at h)
// with the reciprocals from the tables, so a step costs multiplications only.
// A walk stops at the first weight below `cut`: the row is unimodal, so every
// weight beyond it is smaller still. Each walk keeps its running values in
// locals of its own, so that they stay in registers (GCC otherwise spills them
// to the stack, and the store-to-load latency doubles the cost of a cell).
// `cell` and `cum` need room for indices 0 to (hi - lo) / 2 + 1.
template <class W>
RowWalk<W> walkRow(int a, int m, int lo, int hi, int mode, W top, W ratio, W inverseRatio, W cut,
                   W* cell, W* cum) {
    const Reciprocals& tables = reciprocals(static_cast<std::uint32_t>(a + m) / 2);
    const double* one = tables.ones();
    const double* pair = tables.pairs();
    RowWalk<W> r;
    r.top = (mode - lo) / 2 + 1;
    cell[r.top] = top;
    cum[r.top] = top;
    // Downwards: h - 2 from the top, with n11 and n22 at h - 2 less 1.
    W down = top, sumBelow = 0, hd = mode;
    int kDown = r.top;
    int n11d = (a - mode) / 2 + 1, n22d = (m - mode) / 2 + 1;
    // Upwards: h + 2 from the top, with n11 and n22 at h.
    W up = top, sumUp = top;
    W n11u = (a - mode) / 2, n22u = (m - mode) / 2;
    int kUp = r.top, hu = mode;
    auto stepDown = [&] {
        down = down * (((hd - 1) * hd * inverseRatio) * (one[n11d] * one[n22d]));
        if (down < cut) return false;
        sumBelow += down;
        cell[--kDown] = down;
        cum[kDown] = sumBelow;
        hd -= 2, ++n11d, ++n22d;
        return true;
    };
    auto stepUp = [&] {
        up = up * ((n11u * n22u) * ratio * pair[hu]);
        if (up < cut) return false;
        sumUp += up;
        cell[++kUp] = up;
        cum[kUp] = sumUp;
        hu += 2, n11u -= 1, n22u -= 1;
        return true;
    };
    // The two walks share nothing, so they go side by side while both have
    // room: each weight waits on the multiplication before it, and two
    // independent chains keep the processor busy in each other's waits.
    // Every weight and sum is made by the same operations in the same order
    // as by one walk after the other.
    const int downSteps = (mode - lo) / 2, upSteps = (hi - mode) / 2;
    bool downOpen = true, upOpen = true;
    for (int both = std::min(downSteps, upSteps); both > 0; --both) {
        downOpen = stepDown();
        upOpen = stepUp();
        if (!downOpen || !upOpen) break;
    }
    if (downOpen)
        for (int left = downSteps - (r.top - kDown); left > 0 && stepDown(); --left) {
        }
    if (upOpen)
        for (int left = upSteps - (kUp - r.top); left > 0 && stepUp(); --left) {
        }
    r.first = kDown;
    r.below = sumBelow;
    r.last = kUp;
    r.above = sumUp;
    return r;
}

// The conditional distribution of the heterozygote count h given the A1
// allele count a in samples of n under Hardy-Weinberg proportions:
// P(h | a) is proportional to 2^h / (n11! h! n22!), n11 = (a - h) / 2,
// n22 = (2n - a - h) / 2, i.e. the row of any model with K = 4. The weights
// are relative to the most probable h (weight 1); weights below `cut` are left
// out, and so are all beyond them, as the distribution is unimodal.
//
// W is the type of the weights: double for the power sums at levels down to
// 1e-280, long double (range down to 1e-4951) below that and for single
// samples, whose p-values may lie far below the range of doubles.
template <class W>
struct ConditionalRow {
    int firstH = 0;  // the heterozygote count of weights()[0]
    std::size_t size = 0;
    std::size_t top = 0;  // the index of the most probable count (weight 1)
    Extended total = 0;
    int first = 0;            // index of weights()[0] in cell
    WalkBuffer<W> cell, cum;  // the walk's buffers
    const W* weights() const { return cell.data() + first; }
};

template <class W>
void conditionalRow(std::uint32_t n, std::uint32_t a, W cut, ConditionalRow<W>& row) {
    const int m = static_cast<int>(2 * n - a);
    const int ai = static_cast<int>(a);
    const int lo = ai % 2;
    const int hi = std::min(ai, m);
    const int mode = rowMode(ai, m, lo, hi, 4);
    const std::size_t room = static_cast<std::size_t>((hi - lo) / 2 + 2);
    const RowWalk<W> w = walkRow<W>(ai, m, lo, hi, mode, 1, 4, W(0.25), cut, row.cell.room(room),
                                    row.cum.room(room));
    row.first = w.first;
    row.size = static_cast<std::size_t>(w.last - w.first + 1);
    row.firstH = lo + 2 * (w.first - 1);
    row.top = static_cast<std::size_t>(w.top - w.first);
    row.total = static_cast<Extended>(w.below) + w.above;
}

// The weights of the heterozygote counts of a row with K = 4 (the exact
// tests' conditional distribution), relative to the weight of the count h,
// summed by walking from h one step (2 heterozygotes) at a time towards
// `last` (below h when !up):
//   w(k + 2) / w(k) = (a - k)(2n - a - k) / ((k + 1)(k + 2)).
// Both products are exact integers in the walk's type, so each ratio is one
// rounding and each weight one more. A walk stops once the rest of its tail
// is below kNegligibleTail of w(h) (a geometric bound: the ratios fall along
// the walk), or when a weight climbs above `ceiling` (beyond is set).
struct CountWalk {
    Extended sum = 0;     // every weight walked, h excluded
    Extended atMost = 0;  // weights no more than (1 + kTieTolerance)
    Extended tied = 0;    // weights within kTieTolerance of 1
    bool beyond = false;  // a weight reached the walk's ceiling
};

inline constexpr Extended kNegligibleTail = 1e-17L;

template <class Real>
CountWalk walkFromCount(std::uint64_t n, std::uint64_t a, std::uint64_t h, std::uint64_t last,
                        bool up, Real ceiling) {
    const Real upper = static_cast<Real>(1 + kTieTolerance);
    const Real lower = static_cast<Real>(1 - kTieTolerance);
    const Real negligible = static_cast<Real>(kNegligibleTail);
    Real term = 1, sum = 0, atMost = 0, tied = 0;
    bool beyond = false;
    // The ratio is (u1 u2) / (v1 v2): upward from k, (a - k)(2n - a - k) over
    // (k + 1)(k + 2); downward, w(k - 2) / w(k) = k (k - 1) over
    // (a - k + 2)(2n - a - k + 2). Either way the u fall and the v rise by 2
    // a step.
    const Real k = static_cast<Real>(h);
    const Real x = static_cast<Real>(a) - k, y = static_cast<Real>(2 * n - a) - k;
    Real u1 = up ? x : k, u2 = up ? y : k - 1;
    Real v1 = up ? k + 1 : x + 2, v2 = up ? k + 2 : y + 2;
    for (std::uint64_t steps = up ? (last - h) / 2 : (h - last) / 2; steps > 0; --steps) {
        const Real ratio = (u1 * u2) / (v1 * v2);
        u1 -= 2;
        u2 -= 2;
        v1 += 2;
        v2 += 2;
        term *= ratio;
        sum += term;
        if (term <= upper) {
            atMost += term;
            if (term >= lower) tied += term;
            // The ratios fall along the walk (the distribution is
            // log-concave), so the rest is below term r / (1 - r).
            if (ratio < 1 && term * ratio < negligible * (1 - ratio)) break;
        } else if (term > ceiling) {
            beyond = true;
            break;
        }
    }
    return {sum, atMost, tied, beyond};
}

}  // namespace zyg
