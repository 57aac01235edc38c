// Exact power of the X-linked tests: the probabilities that a sample of nf
// females and nm males is testable and rejected, summed over the female
// multinomial and the male binomial.
//
// Cells. The females' triples are grouped by their allele count af (rows);
// each row keeps the heterozygote counts whose probability is at least the
// female cut, walked from the row's most probable count by exact ratios,
// with prefix sums from each end so that a run at either end of the row
// (a tail) costs one lookup. The male counts keep those at least the male
// cut. A pair (male count mA, female row af) fixes nA = mA + af, and within
// it the heterozygote count decides every test.
//
// Decisions. X2 and G are convex in the heterozygote count (each class
// term is convex in its count, and the counts are linear in it), so the
// rejected counts of a pair are the two ends of the row outside the counts
// whose statistic lies below the critical value; the bounds are found from
// the previous male count's bounds by galloping. x-exact and its mid-p reject
// the outcomes of nA whose conditional probability is at most a threshold
// (their p-values grow with the outcome's probability); the threshold is the
// largest conditional probability of an outcome whose p-value is at most the
// level, found per nA by bisection over the null conditional distribution
// (rows of the autosomal conditional distribution of the females, one per
// female allele count, weighted by the hypergeometric male count) and then
// by sorting the few outcomes left between the bounds. Within a row the
// outcomes at most the threshold are two tails, found by binary search.
//
// Error bound. The cuts are 5e-13 / (number of triples) and
// 5e-13 / (nm + 1), so the pairs left out hold below 1e-12; the mass left
// out is measured as 1 minus the product of the masses kept. Cells are a few
// hundred roundings of 2^-53 from their exact values, the prefix sums as
// many again, so a tail is within 1e-13 of its row's mass and every
// probability is within 3e-12 of the sum over all outcomes decided one by
// one. The null conditional distribution keeps what lies above 1e-20 / (the
// number of outcomes) times the level, in long double, so the p-values it
// decides by are within a relative 1e-12 of the exact sums, far inside the
// 1e-9 by which a p-value counts as equal to the level.

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "engine/XLinked.h"
#include "engine/XLinkedInternal.h"

namespace zyg {

using xlinked::logFactorial;

namespace {

constexpr Extended kTieTolerance = 1e-7L;
constexpr Extended kLevelTolerance = 1e-9L;

// A row of cells over heterozygote counts first, first + 2, ...: each
// probability, and the sums from the low end (low[i] = cells 0..i) and from
// the high end (high[i] = cells i..end).
template <class Real>
struct Row {
    std::int64_t first = 0;  // heterozygote count of cell 0
    std::int64_t top = 0;    // index of the most probable cell
    std::vector<Real> cell, low, high;
    Real mass = 0;

    bool empty() const { return low.empty(); }
    std::int64_t size() const { return static_cast<std::int64_t>(low.size()); }
    std::int64_t last() const { return first + 2 * (size() - 1); }
    // The probability of the heterozygote counts up to h, and from h on.
    Real upTo(std::int64_t h) const {
        if (h < first) return 0;
        const std::int64_t i = std::min<std::int64_t>((h - first) / 2, size() - 1);
        return low[static_cast<std::size_t>(i)];
    }
    Real from(std::int64_t h) const {
        if (h > last()) return 0;
        const std::int64_t i = std::max<std::int64_t>((h - first + 1) / 2, 0);
        return high[static_cast<std::size_t>(i)];
    }
    void finish() {
        low.resize(cell.size());
        high.resize(cell.size());
        Real s = 0;
        for (std::size_t i = 0; i < cell.size(); ++i) low[i] = s += cell[i];
        s = 0;
        for (std::size_t i = cell.size(); i-- > 0;) high[i] = s += cell[i];
        mass = low.empty() ? 0 : low.back();
    }
};

// Walks a log-concave row from its mode both ways while the cells stay at
// or above the cut; up(k) is cell(k + 2) / cell(k).
template <class Real, class Up>
Row<Real> walkRow(std::int64_t first, std::int64_t last, std::int64_t mode, Real top, Real cut,
                  Up up) {
    Row<Real> row;
    if (!(top >= cut)) return row;
    std::vector<Real> below;
    Real v = top;
    for (std::int64_t h = mode - 2; h >= first; h -= 2) {
        v /= up(h);
        if (!(v >= cut)) break;
        below.push_back(v);
    }
    row.first = mode - 2 * static_cast<std::int64_t>(below.size());
    row.cell.assign(below.rbegin(), below.rend());
    row.top = static_cast<std::int64_t>(row.cell.size());
    row.cell.push_back(top);
    v = top;
    for (std::int64_t h = mode; h + 2 <= last; h += 2) {
        v *= up(h);
        if (!(v >= cut)) break;
        row.cell.push_back(v);
    }
    row.finish();
    return row;
}

// The most probable heterozygote count among first, first + 2, ..., last
// for a log-concave row: from a guess, moved while a neighbour is larger.
template <class Rises>
std::int64_t modeOf(std::int64_t first, std::int64_t last, double guess, Rises rises) {
    std::int64_t h = guess <= static_cast<double>(first) ? first : static_cast<std::int64_t>(guess);
    if ((h - first) % 2 != 0) ++h;
    h = std::min(h, last);
    while (h + 2 <= last && rises(h)) h += 2;
    while (h - 2 >= first && !rises(h - 2)) h -= 2;
    return h;
}

// The females' genotype probabilities as the autosomal sampler draws them.
struct FemaleModel {
    Extended p11, p12, p22;
};

FemaleModel femaleModelOf(const XModelSetting& s) {
    const GenotypeFrequencies fr = frequenciesOf(femaleSetting(s));
    const Extended c1 = std::clamp<Extended>(fr.f11, 0, 1);
    const Extended c2 = std::clamp<Extended>(fr.f11 + fr.f12, c1, 1);
    return {c1, c2 - c1, 1 - c2};
}

Extended logPower(Extended p, std::uint64_t k) {
    return k == 0 ? 0 : static_cast<Extended>(k) * std::log(p);
}

// The female rows of the model: P(af, h) for every kept cell.
class FemaleRows {
public:
    FemaleRows(const FemaleModel& m, std::uint32_t nf, double cut) : m_(m), nf_(nf), cut_(cut) {
        rows_.resize(2 * static_cast<std::size_t>(nf) + 1);
        // From the expected allele count outwards, until two neighbouring
        // rows (one of each parity) keep nothing.
        const Extended expected = (m.p11 + m.p12 / 2) * 2 * nf;
        const std::int64_t start =
            std::clamp<std::int64_t>(std::llround(static_cast<double>(expected)), 0, 2 * nf);
        int emptyRun = 0;
        for (std::int64_t a = start; a >= 0 && emptyRun < 2; --a)
            emptyRun = make(a) ? 0 : emptyRun + 1;
        emptyRun = 0;
        for (std::int64_t a = start + 1; a <= 2 * static_cast<std::int64_t>(nf) && emptyRun < 2;
             ++a)
            emptyRun = make(a) ? 0 : emptyRun + 1;
        for (std::size_t a = 0; a < rows_.size(); ++a)
            if (!rows_[a].empty()) {
                lowA_ = std::min<std::int64_t>(lowA_, a);
                highA_ = std::max<std::int64_t>(highA_, a);
                kept_ += rows_[a].mass;
            }
    }
    const Row<double>& row(std::int64_t a) const { return rows_[static_cast<std::size_t>(a)]; }
    std::int64_t lowA() const { return lowA_; }
    std::int64_t highA() const { return highA_; }
    Extended kept() const { return kept_; }

private:
    bool make(std::int64_t a) {
        const std::int64_t b = 2 * static_cast<std::int64_t>(nf_) - a;
        std::int64_t first = a % 2, last = std::min(a, b);
        // A genotype of probability 0 pins the heterozygote count.
        if (m_.p11 == 0) first = std::max(first, a);
        if (m_.p22 == 0) first = std::max(first, b);
        if (m_.p12 == 0) last = std::min<std::int64_t>(last, 0);
        if (first > last || (last - first) % 2 != 0) return false;
        auto logCell = [&](std::int64_t h) {
            const std::uint64_t aa = static_cast<std::uint64_t>((a - h) / 2),
                                bb = static_cast<std::uint64_t>((b - h) / 2),
                                het = static_cast<std::uint64_t>(h);
            return logFactorial(nf_) - logFactorial(aa) - logFactorial(het) - logFactorial(bb) +
                   logPower(m_.p11, aa) + logPower(m_.p12, het) + logPower(m_.p22, bb);
        };
        const double k =
            first == last ? 0 : static_cast<double>(m_.p12 * m_.p12 / (m_.p11 * m_.p22));
        auto up = [a, b, k](std::int64_t h) {
            return k * (static_cast<double>(a - h) / 2) * (static_cast<double>(b - h) / 2) /
                   (static_cast<double>(h + 1) * static_cast<double>(h + 2));
        };
        std::int64_t mode = first;
        if (first < last) {
            // Root of K (a - h)(b - h) / 4 = (h + 1)(h + 2), near enough.
            const double kq = k / 4, A = kq - 1, B = -(kq * static_cast<double>(a + b) + 3),
                         C = kq * static_cast<double>(a) * static_cast<double>(b) - 2;
            const double guess = std::fabs(A) < 1e-12
                                     ? -C / B
                                     : (-B - std::sqrt(std::max(0.0, B * B - 4 * A * C))) / (2 * A);
            mode = modeOf(first, last, guess, [&up](std::int64_t h) { return up(h) >= 1; });
        }
        const double top = static_cast<double>(std::exp(logCell(mode)));
        Row<double>& row = rows_[static_cast<std::size_t>(a)];
        row = walkRow<double>(first, last, mode, top, cut_, up);
        // Only the sums are read from here on.
        std::vector<double>().swap(row.cell);
        return !row.empty();
    }

    FemaleModel m_;
    std::uint32_t nf_;
    double cut_;
    std::vector<Row<double>> rows_;
    std::int64_t lowA_ = std::numeric_limits<std::int64_t>::max(), highA_ = -1;
    Extended kept_ = 0;
};

// The male counts of the model: Binomial(nm, pMale) where at least the cut.
struct MaleCounts {
    std::int64_t first = 0;
    std::vector<double> probability;
    Extended kept = 0;
};

MaleCounts maleCountsOf(Extended p, std::uint32_t nm, double cut) {
    MaleCounts out;
    if (p <= 0 || p >= 1 || nm == 0) {
        out.first = p >= 1 ? nm : 0;
        out.probability = {1};
        out.kept = 1;
        return out;
    }
    const Extended q = 1 - p;
    const std::int64_t n = nm;
    const std::int64_t mode =
        std::clamp<std::int64_t>(static_cast<std::int64_t>((n + 1) * static_cast<double>(p)), 0, n);
    const Extended logTop = logFactorial(nm) - logFactorial(static_cast<std::uint64_t>(mode)) -
                            logFactorial(static_cast<std::uint64_t>(n - mode)) +
                            logPower(p, static_cast<std::uint64_t>(mode)) +
                            logPower(q, static_cast<std::uint64_t>(n - mode));
    const double ratio = static_cast<double>(p / q);
    // Cells over m = 0..n with "up" from m to m + 1; walkRow steps by 2, so
    // index the counts as 2m.
    auto up = [n, ratio](std::int64_t h) {
        const std::int64_t m = h / 2;
        return ratio * static_cast<double>(n - m) / static_cast<double>(m + 1);
    };
    const Row<double> row =
        walkRow<double>(0, 2 * n, 2 * mode, static_cast<double>(std::exp(logTop)), cut, up);
    out.first = row.first / 2;
    out.probability = row.cell;
    out.kept = row.mass;
    return out;
}

// Bounds of the rejected runs at each end of a row: heterozygote counts up
// to low and from high on are rejected (low below the row's first count, or
// high above its last, for none).
struct Tails {
    std::int64_t low, high;
};

// X2 or G of one outcome, as xPearsonX2 and xLikelihoodRatioG compute it.
Extended statisticOf(XTest test, const XSampleCounts& c) {
    return test == XTest::X2 ? xlinked::pearsonX2Of(c) : xlinked::likelihoodRatioGOf(c);
}

// o ln(o / e) from a table of ln k (tabled[k]) and ln e: a count's
// deviation cancels in the difference to about k 2^-53 ln k, far inside the
// margin below.
double xLogRatio(const double* tabled, std::int64_t o, double logE) {
    return o > 0 ? static_cast<double>(o) * (tabled[o] - logE) : 0;
}

// The decisions of X2 or G on the outcomes of one pair (male count m,
// female allele count a) by heterozygote count. The statistic is computed in
// doubles, within a relative 1e-10 of the extended one up to 10^6 people;
// only a statistic within a relative 1e-7 of the critical value is decided
// by the extended statistic, so every decision is that of xPearsonX2 or
// xLikelihoodRatioG.
class PairStatistic {
public:
    PairStatistic(XTest test, Extended critical, std::int64_t nf, std::int64_t a, std::int64_t m,
                  std::int64_t nm, const double* logs)
        : test_(test), critical_(critical), nf_(nf), a_(a), m_(m), nm_(nm), logs_(logs) {
        const double nt = static_cast<double>(nm + 2 * nf);
        const double p = static_cast<double>(a + m) / nt, q = 1 - p;
        const double females = static_cast<double>(nf), males = static_cast<double>(nm);
        eAA_ = females * p * p;
        eAB_ = 2 * females * p * q;
        eBB_ = females * q * q;
        const double mA = static_cast<double>(m), mB = static_cast<double>(nm - m);
        if (nm > 0) {
            const double eA = males * p, eB = males * q;
            male_ = test == XTest::X2 ? (mA - eA) * (mA - eA) / eA + (mB - eB) * (mB - eB) / eB
                                      : 2 * (xLogRatio(logs, m, std::log(eA)) +
                                             xLogRatio(logs, nm - m, std::log(eB)));
        }
        if (test == XTest::G && nf > 0) {
            logAA_ = std::log(eAA_);
            logAB_ = std::log(eAB_);
            logBB_ = std::log(eBB_);
        }
        const double hi = static_cast<double>(critical) * (1 + 1e-7),
                     lo = static_cast<double>(critical) * (1 - 1e-7);
        above_ = hi;
        below_ = lo;
    }

    // Where the female part of X2 is least: a start for either statistic.
    double least() const {
        const double af = static_cast<double>(a_), bf = static_cast<double>(2 * nf_ - a_);
        return (af / (2 * eAA_) + bf / (2 * eBB_)) / (1 / (2 * eAA_) + 2 / eAB_ + 1 / (2 * eBB_));
    }

    double quick(std::int64_t h) const {
        if (nf_ == 0) return male_;
        const double aa = static_cast<double>(a_ - h) / 2,
                     bb = static_cast<double>(2 * nf_ - a_ - h) / 2, het = static_cast<double>(h);
        if (test_ == XTest::X2)
            return male_ + (aa - eAA_) * (aa - eAA_) / eAA_ + (het - eAB_) * (het - eAB_) / eAB_ +
                   (bb - eBB_) * (bb - eBB_) / eBB_;
        return male_ + 2 * (xLogRatio(logs_, (a_ - h) / 2, logAA_) + xLogRatio(logs_, h, logAB_) +
                            xLogRatio(logs_, (2 * nf_ - a_ - h) / 2, logBB_));
    }

    bool rejected(std::int64_t h) const {
        const double v = quick(h);
        if (v > above_) return true;
        if (v < below_) return false;
        return exact(h) >= critical_;
    }

    Extended exact(std::int64_t h) const {
        const std::int64_t b = 2 * nf_ - a_;
        return statisticOf(test_,
                           {static_cast<std::uint64_t>((a_ - h) / 2), static_cast<std::uint64_t>(h),
                            static_cast<std::uint64_t>((b - h) / 2), static_cast<std::uint64_t>(m_),
                            static_cast<std::uint64_t>(nm_ - m_)});
    }

private:
    XTest test_;
    Extended critical_;
    std::int64_t nf_, a_, m_, nm_;
    const double* logs_;
    double eAA_ = 0, eAB_ = 0, eBB_ = 0, male_ = 0, above_ = 0, below_ = 0;
    double logAA_ = 0, logAB_ = 0, logBB_ = 0;
};

// The rejected tails of a pair over the counts first..last (step 2): from
// a count where the statistic is least, by galloping to each side.
Tails findTails(const PairStatistic& s, std::int64_t first, std::int64_t last) {
    std::int64_t h =
        std::llround(std::clamp(s.least(), static_cast<double>(first), static_cast<double>(last)));
    if ((h - first) % 2 != 0) h -= 1;
    h = std::max(h, first);
    if (s.rejected(h)) {
        // Descend towards the least statistic until a count is accepted.
        const double here = s.quick(h);
        const std::int64_t step = h + 2 <= last && s.quick(h + 2) < here ? 2 : -2;
        double best = here;
        bool found = false;
        for (std::int64_t k = h + step; k >= first && k <= last; k += step) {
            const double v = s.quick(k);
            if (v > best) break;
            best = v;
            h = k;
            if (!s.rejected(k)) {
                found = true;
                break;
            }
        }
        if (!found && s.rejected(h)) return {last, first};  // the whole row
    }
    Tails t{h - 2, h + 2};
    for (std::int64_t step = 2;; step *= 2) {  // last rejected below h
        const std::int64_t probe = h - step;
        if (probe < first) {
            t.low = first - 2;
            break;
        }
        if (s.rejected(probe)) {
            t.low = probe;
            break;
        }
        t.high = probe;  // accepted, reused below as the bisection's other end
    }
    std::int64_t accepted = std::min(t.high, h);
    while (accepted - t.low > 2) {
        const std::int64_t mid = t.low + ((accepted - t.low) / 4) * 2;
        if (s.rejected(mid))
            t.low = mid;
        else
            accepted = mid;
    }
    accepted = h;
    t.high = last + 2;
    for (std::int64_t step = 2;; step *= 2) {  // first rejected above h
        const std::int64_t probe = h + step;
        if (probe > last) break;
        if (s.rejected(probe)) {
            t.high = probe;
            break;
        }
        accepted = probe;
    }
    while (t.high - accepted > 2) {
        const std::int64_t mid = accepted + ((t.high - accepted) / 4) * 2;
        if (s.rejected(mid))
            t.high = mid;
        else
            accepted = mid;
    }
    return t;
}

// The tails of a pair from those of the previous male count: the accepted
// counts move little from one male count to the next. Nothing when the
// previous accepted counts hold none of this pair's, and findTails must
// look afresh.
std::optional<Tails> moveTails(const PairStatistic& s, Tails t, std::int64_t first,
                               std::int64_t last) {
    if (t.low + 2 >= t.high) return std::nullopt;
    if (s.rejected(t.low + 2)) {
        do t.low += 2;
        while (t.low + 2 < t.high && s.rejected(t.low + 2));
        if (t.low + 2 >= t.high) return std::nullopt;
    } else {
        while (t.low >= first && !s.rejected(t.low)) t.low -= 2;
        t.low = std::max(t.low, first - 2);
    }
    // t.low + 2 is accepted now.
    if (s.rejected(t.high - 2)) {
        do t.high -= 2;
        while (s.rejected(t.high - 2));
    } else {
        while (t.high <= last && !s.rejected(t.high)) t.high += 2;
        t.high = std::min(t.high, last + 2);
    }
    return t;
}

// The null conditional distribution of the females' heterozygote count given
// their allele count (the autosomal exact test's), one row per allele count,
// made on first use; cells below the cut are left out.
class NullRows {
public:
    NullRows(std::int64_t nf, Extended cut) : nf_(nf), cut_(cut), rows_(2 * nf + 1) {}

    const Row<Extended>& row(std::int64_t a) {
        std::optional<Row<Extended>>& r = rows_[static_cast<std::size_t>(a)];
        if (!r) r = make(a);
        return *r;
    }

private:
    Row<Extended> make(std::int64_t a) const {
        const std::int64_t b = 2 * nf_ - a;
        const std::int64_t first = a % 2, last = std::min(a, b);
        auto up = [a, b](std::int64_t h) {
            return static_cast<Extended>(a - h) * static_cast<Extended>(b - h) /
                   (static_cast<Extended>(h + 1) * static_cast<Extended>(h + 2));
        };
        const double guess = (static_cast<double>(a) * static_cast<double>(b) - 2) /
                             (static_cast<double>(a + b) + 3);
        const std::int64_t mode =
            modeOf(first, last, guess, [&up](std::int64_t h) { return up(h) >= 1; });
        auto lf = [](std::int64_t k) { return logFactorial(static_cast<std::uint64_t>(k)); };
        const Extended logTop = lf(nf_) - lf((a - mode) / 2) - lf(mode) - lf((b - mode) / 2) +
                                static_cast<Extended>(mode) * std::log(2.0L) - lf(2 * nf_) + lf(a) +
                                lf(b);
        Row<Extended> r = walkRow<Extended>(first, last, mode, std::exp(logTop), cut_, up);
        return r;
    }

    std::int64_t nf_;
    Extended cut_;
    std::vector<std::optional<Row<Extended>>> rows_;
};

// The outcomes of one nA under the null: rows m with their hypergeometric
// weight, the female row and its mode index.
struct NullRow {
    std::int64_t m;
    Extended weight;
    const Row<Extended>* row;
    std::int64_t modeIndex;
    Extended top;  // the row's most probable outcome
};

// The largest index i <= mode with weight x cell[i] <= t (-1 if none), and
// the smallest i > mode with it (size if none).
// The products are those the candidate thresholds are made of, so that a
// threshold equal to a cell's probability takes that cell in.
std::int64_t leftCross(const NullRow& r, Extended t, std::int64_t lo = -1, std::int64_t hi = -2) {
    const Extended w = r.weight;
    const std::vector<Extended>& c = r.row->cell;
    // Search in (lo, hi]: index lo is known to qualify (or is -1), hi + 1
    // not.
    if (hi == -2) hi = r.modeIndex;
    while (lo < hi) {
        const std::int64_t mid = lo + (hi - lo + 1) / 2;
        if (w * c[static_cast<std::size_t>(mid)] <= t)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

std::int64_t rightCross(const NullRow& r, Extended t, std::int64_t lo = -2, std::int64_t hi = -2) {
    const Extended w = r.weight;
    const std::vector<Extended>& c = r.row->cell;
    if (lo == -2) lo = r.modeIndex + 1;
    if (hi == -2) hi = r.row->size();
    // Search in [lo, hi): hi qualifies (or is the size).
    while (lo < hi) {
        const std::int64_t mid = lo + (hi - lo) / 2;
        if (w * c[static_cast<std::size_t>(mid)] <= t)
            hi = mid;
        else
            lo = mid + 1;
    }
    return hi;
}

// The null distribution of one nA and the thresholds of the exact tests.
class NullGroup {
public:
    NullGroup(NullRows& rows, std::int64_t nf, std::int64_t nm, std::int64_t nA, Extended cut) {
        const std::int64_t nt = nm + 2 * nf, nB = nt - nA;
        auto lf = [](std::int64_t k) { return logFactorial(static_cast<std::uint64_t>(k)); };
        const Extended logNorm = lf(nm) + lf(2 * nf) - (lf(nt) - lf(nA) - lf(nB));
        const std::int64_t low = std::max<std::int64_t>(0, nA - 2 * nf), high = std::min(nm, nA);
        const std::int64_t mode = std::clamp<std::int64_t>(
            static_cast<std::int64_t>(((nA + 1) * static_cast<Extended>(nm + 1)) / (nt + 2)), low,
            high);
        auto add = [&](std::int64_t m) {
            const std::int64_t a = nA - m;
            const Extended w = std::exp(logNorm - lf(m) - lf(nm - m) - lf(a) - lf(2 * nf - a));
            if (!(w >= cut)) return false;
            const Row<Extended>& r = rows.row(a);
            if (!r.empty())
                rows_.push_back({m, w, &r, r.top, w * r.cell[static_cast<std::size_t>(r.top)]});
            return true;
        };
        for (std::int64_t m = mode; m >= low && add(m); --m) {
        }
        for (std::int64_t m = mode + 1; m <= high && add(m); ++m) {
        }
        std::sort(rows_.begin(), rows_.end(),
                  [](const NullRow& x, const NullRow& y) { return x.m < y.m; });
    }

    // The mass of the outcomes with probability at most t (strictly below t
    // when strict).
    Extended massUpTo(Extended t, bool strict = false) const {
        const Extended u = strict ? std::nextafter(t, Extended(0)) : t;
        Extended sum = 0;
        for (const NullRow& r : rows_) {
            if (r.top <= u) {
                sum += r.weight * r.row->mass;
                continue;
            }
            const std::int64_t l = leftCross(r, u), h = rightCross(r, u);
            Extended s = 0;
            if (l >= 0) s += r.row->low[static_cast<std::size_t>(l)];
            if (h < r.row->size()) s += r.row->high[static_cast<std::size_t>(h)];
            sum += r.weight * s;
        }
        return sum;
    }

    // The p-value of an outcome of probability u under x-exact or its mid-p.
    Extended pValue(XTest test, Extended u) const {
        const Extended atMost = massUpTo(u * (1 + kTieTolerance));
        if (test == XTest::Exact) return atMost;
        return (massUpTo(u * (1 - kTieTolerance), true) + atMost) / 2;
    }

    // The largest outcome probability whose p-value is at most the level
    // (the outcomes at most it are rejected), or a value between two
    // outcomes with the same effect. guess (0 for none) is a nearby
    // threshold, e.g. the neighbouring nA's, to start from.
    Extended threshold(XTest test, Extended level, Extended floor, Extended guess) const {
        const Extended target = level * (1 + kLevelTolerance);
        auto rejects = [&](Extended u) { return pValue(test, u) <= target; };
        Extended lo = floor, hi = 2 * target;
        if (rejects(hi)) return hi;
        // Bracket: pValue(lo) <= target < pValue(hi); outcomes at most floor
        // hold too little probability to reach any level.
        if (guess > floor && guess < hi) {
            if (rejects(guess)) {
                lo = guess;
                for (Extended up = guess * 4; up < hi; up *= 4) {
                    if (!rejects(up)) {
                        hi = up;
                        break;
                    }
                    lo = up;
                }
            } else {
                hi = guess;
                for (Extended down = guess / 4; down > floor; down /= 4) {
                    if (rejects(down)) {
                        lo = down;
                        break;
                    }
                    hi = down;
                }
            }
        }
        // Bisect on the logarithm until few outcomes lie in (lo, hi]; each
        // row's crossings at lo and hi bound the search for the next.
        const std::size_t n = rows_.size();
        std::vector<std::int64_t> leftLo(n), leftHi(n), rightLo(n), rightHi(n);
        std::int64_t between = 0;
        for (std::size_t i = 0; i < n; ++i) {
            leftLo[i] = leftCross(rows_[i], lo);
            leftHi[i] = leftCross(rows_[i], hi, leftLo[i]);
            rightLo[i] = rightCross(rows_[i], lo);
            rightHi[i] = rightCross(rows_[i], hi, -2, rightLo[i]);
            between += (leftHi[i] - leftLo[i]) + (rightLo[i] - rightHi[i]);
        }
        std::vector<std::int64_t> leftMid(n), rightMid(n);
        for (int iteration = 0; iteration < 400 && between > 24; ++iteration) {
            if (hi <= lo * (1 + 1e-15L)) break;
            const Extended mid = std::sqrt(lo) * std::sqrt(hi);
            std::int64_t count = 0;
            for (std::size_t i = 0; i < n; ++i) {
                leftMid[i] = leftCross(rows_[i], mid, leftLo[i], leftHi[i]);
                rightMid[i] = rightCross(rows_[i], mid, rightHi[i], rightLo[i]);
            }
            if (rejects(mid)) {
                lo = mid;
                leftLo.swap(leftMid);
                rightLo.swap(rightMid);
            } else {
                hi = mid;
                leftHi.swap(leftMid);
                rightHi.swap(rightMid);
            }
            for (std::size_t i = 0; i < n; ++i)
                count += (leftHi[i] - leftLo[i]) + (rightLo[i] - rightHi[i]);
            between = count;
        }
        std::vector<Extended> candidates;
        for (std::size_t i = 0; i < n; ++i) {
            const NullRow& r = rows_[i];
            for (std::int64_t k = leftLo[i] + 1; k <= leftHi[i]; ++k)
                candidates.push_back(r.weight * r.row->cell[static_cast<std::size_t>(k)]);
            for (std::int64_t k = rightHi[i]; k < rightLo[i]; ++k)
                candidates.push_back(r.weight * r.row->cell[static_cast<std::size_t>(k)]);
        }
        std::sort(candidates.begin(), candidates.end());
        // The p-value grows with the probability: binary search.
        std::size_t good = 0, bad = candidates.size();  // candidates[< good] qualify
        while (good < bad) {
            const std::size_t mid = (good + bad) / 2;
            if (rejects(candidates[mid]))
                good = mid + 1;
            else
                bad = mid;
        }
        return good == 0 ? lo : candidates[good - 1];
    }

    // The rejected tails of row m at a threshold: counts up to low and from
    // high on, or nothing when row m holds no outcome above the cut (every
    // outcome of the row is then rejected).
    std::optional<Tails> tails(std::int64_t m, Extended t) const {
        const auto it = std::lower_bound(rows_.begin(), rows_.end(), m,
                                         [](const NullRow& r, std::int64_t v) { return r.m < v; });
        if (it == rows_.end() || it->m != m) return std::nullopt;
        const std::int64_t l = leftCross(*it, t), h = rightCross(*it, t);
        return Tails{it->row->first + 2 * l, it->row->first + 2 * h};
    }

private:
    std::vector<NullRow> rows_;
};

}  // namespace

bool hasXForm(GenotypeModel model) {
    return model == GenotypeModel::HardyWeinberg || model == GenotypeModel::Inbreeding ||
           model == GenotypeModel::Error;
}

ModelSetting femaleSetting(const XModelSetting& s) {
    ModelSetting m = s;
    m.locus = LocusKind::Autosomal;
    return m;
}

namespace {

std::vector<ExactPower> powerWithCuts(const XModelSetting& setting, XSampleSize size,
                                      std::span<const XTestLevel> tests, Extended cutFactor) {
    const std::int64_t nf = size.females, nm = size.males, nt = nm + 2 * nf;
    xlinked::prepareLogFactorials(static_cast<std::uint64_t>(nt));
    const FemaleModel fm = femaleModelOf(setting);
    const Extended triples = (static_cast<Extended>(nf) + 1) * (static_cast<Extended>(nf) + 2) / 2;
    const FemaleRows females(fm, size.females, static_cast<double>(5e-13L * cutFactor / triples));
    const MaleCounts males =
        maleCountsOf(setting.pMale, size.males, static_cast<double>(5e-13L * cutFactor / (nm + 1)));

    struct Sum {
        Extended testable = 0, power = 0;
    };
    std::vector<Sum> sums(tests.size());
    Extended testable = 0;
    const std::int64_t mFirst = males.first,
                       mLast =
                           males.first + static_cast<std::int64_t>(males.probability.size()) - 1;

    // The exact tests: per nA, the null distribution and each request's
    // threshold.
    double smallestExact = 1;
    bool anyExact = false;
    for (const XTestLevel& t : tests)
        if (t.test == XTest::Exact || t.test == XTest::ExactMidP) {
            anyExact = true;
            smallestExact = std::min(smallestExact, t.level);
        }
    const Extended outcomes = (static_cast<Extended>(nm) + 1) * (static_cast<Extended>(nf) + 1);
    const Extended nullCut = 1e-20L * smallestExact / outcomes;
    std::optional<NullRows> nullRows;
    if (anyExact) nullRows.emplace(nf, nullCut);

    std::vector<Extended> critical(tests.size());
    for (std::size_t i = 0; i < tests.size(); ++i)
        critical[i] = -2 * std::log(static_cast<Extended>(tests[i].level) * (1 + kLevelTolerance));

    if (females.highA() < 0) return std::vector<ExactPower>(tests.size());
    auto rejectedShare = [](const Row<double>& row, const Tails& t) {
        if (t.low >= t.high) return static_cast<Extended>(row.mass);
        return static_cast<Extended>(row.upTo(t.low)) + row.from(t.high);
    };
    // X2 and G, and the testable mass: row by row of the females, male count
    // by male count, each pair's tails moved from the previous pair's.
    std::vector<std::optional<Tails>> previous(tests.size());
    std::vector<double> logs(static_cast<std::size_t>(std::max(nf, nm)) + 1);
    for (std::size_t k = 1; k < logs.size(); ++k) logs[k] = std::log(static_cast<double>(k));
    for (std::int64_t a = females.lowA(); a <= females.highA(); ++a) {
        const Row<double>& row = females.row(a);
        if (row.empty()) continue;
        std::fill(previous.begin(), previous.end(), std::nullopt);
        for (std::int64_t m = mFirst; m <= mLast; ++m) {
            const std::int64_t nA = a + m;
            if (nA == 0 || nA == nt) continue;
            const Extended weight = males.probability[static_cast<std::size_t>(m - mFirst)];
            testable += weight * row.mass;
            for (std::size_t i = 0; i < tests.size(); ++i) {
                if (tests[i].test != XTest::X2 && tests[i].test != XTest::G) continue;
                const PairStatistic statistic(tests[i].test, critical[i], nf, a, m, nm,
                                              logs.data());
                std::optional<Tails> t;
                if (previous[i]) t = moveTails(statistic, *previous[i], row.first, row.last());
                if (!t) t = findTails(statistic, row.first, row.last());
                previous[i] = t;
                sums[i].power += weight * rejectedShare(row, *t);
            }
        }
    }
    // x-exact and its mid-p: nA by nA, each request's threshold from the
    // null distribution, started from the previous nA's.
    std::vector<Extended> thresholds(tests.size());
    const std::int64_t nALow = mFirst + females.lowA(), nAHigh = mLast + females.highA();
    for (std::int64_t nA = nALow; anyExact && nA <= nAHigh; ++nA) {
        if (nA == 0 || nA == nt) continue;
        const NullGroup group(*nullRows, nf, nm, nA, nullCut);
        for (std::size_t i = 0; i < tests.size(); ++i)
            if (tests[i].test == XTest::Exact || tests[i].test == XTest::ExactMidP)
                thresholds[i] =
                    group.threshold(tests[i].test, tests[i].level, nullCut, thresholds[i]);
        const std::int64_t mLo = std::max(mFirst, nA - females.highA()),
                           mHi = std::min(mLast, nA - females.lowA());
        for (std::int64_t m = mLo; m <= mHi; ++m) {
            const Row<double>& row = females.row(nA - m);
            if (row.empty()) continue;
            const Extended weight = males.probability[static_cast<std::size_t>(m - mFirst)];
            for (std::size_t i = 0; i < tests.size(); ++i) {
                if (tests[i].test != XTest::Exact && tests[i].test != XTest::ExactMidP) continue;
                // A row without outcomes above the null cut is rejected whole.
                const std::optional<Tails> t = group.tails(m, thresholds[i]);
                sums[i].power += weight * (t ? rejectedShare(row, *t) : row.mass);
            }
        }
    }
    const Extended kept = females.kept() * males.kept;
    std::vector<ExactPower> out(tests.size());
    for (std::size_t i = 0; i < tests.size(); ++i) {
        ExactPower& o = out[i];
        o.testable = static_cast<double>(std::min<Extended>(testable, 1));
        o.power = static_cast<double>(std::min<Extended>(sums[i].power, testable));
        o.conditionalPower = testable > 0 ? static_cast<double>(sums[i].power / testable)
                                          : std::numeric_limits<double>::quiet_NaN();
        o.massLeftOut = static_cast<double>(std::max<Extended>(0, 1 - kept));
    }
    return out;
}

}  // namespace

std::vector<ExactPower> xExactPower(const XModelSetting& setting, XSampleSize size,
                                    std::span<const XTestLevel> tests) {
    // The probability that every allele is A, or every allele B: untestable.
    const FemaleModel fm = femaleModelOf(setting);
    const Extended pm = setting.pMale, qm = 1 - pm;
    const Extended allA = std::pow(fm.p11, size.females) * std::pow(pm, size.males);
    const Extended allB = std::pow(fm.p22, size.females) * std::pow(qm, size.males);
    const Extended testable = 1 - allA - allB;
    Extended factor = 1;
    if (testable < 0.5L) factor = std::max<Extended>(2 * testable, 1e-270L);
    return powerWithCuts(setting, size, tests, factor);
}

std::vector<ExactPower> femaleOnlyPower(const XModelSetting& setting, XSampleSize size,
                                        std::span<const TestLevel> tests) {
    if (size.females == 0) {
        ExactPower none;
        none.conditionalPower = std::numeric_limits<double>::quiet_NaN();
        return std::vector<ExactPower>(tests.size(), none);
    }
    return exactPower(femaleSetting(setting), size.females, tests);
}

}  // namespace zyg
