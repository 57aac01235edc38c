#include "engine/ExactPower.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "core/NumberText.h"
#include "engine/Models.h"
#include "engine/SampleStatistics.h"
#include "engine/Simulation.h"

namespace zyg {

namespace {

// Two heterozygote counts whose conditional probabilities differ by less than
// this share of the larger are taken as equally probable by the exact test,
// so that rounding cannot split a tie.
constexpr Extended kTieTolerance = 1e-7L;
// A p-value that equals the level up to this share of it counts as equal, so
// that a p-value of exactly the level is rejected whatever its last bits.
constexpr Extended kLevelTolerance = 1e-9L;

bool within(double value, double low, double high) { return value >= low && value <= high; }

// ln k! for k = 0 to kMaxPowerSampleSize, made once.
const std::vector<Extended>& logFactorials() {
    static const std::vector<Extended> table = [] {
        std::vector<Extended> t(kMaxPowerSampleSize + 1);
        for (std::uint32_t k = 0; k <= kMaxPowerSampleSize; ++k)
            t[k] = std::lgamma(static_cast<Extended>(k) + 1);
        return t;
    }();
    return table;
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

// X2 with the continuity correction: the sum of (|o - e| - 0.5)^2 / e, or
// kNotComputable when an expected count is 0 or less.
Extended correctedX2(const GenotypeCounts& counts, std::uint16_t n) {
    const SampleExpectation s = expectationOf(counts, n);
    if (!s.positive) return kNotComputable;
    Extended sum = 0;
    const Extended d11 = std::fabs(s.o11 - s.e11) - 0.5L;
    sum = ((d11 * d11) / s.e11) + sum;
    const Extended d12 = std::fabs(s.o12 - s.e12) - 0.5L;
    sum = ((d12 * d12) / s.e12) + sum;
    const Extended d22 = std::fabs(s.o22 - s.e22) - 0.5L;
    sum = ((d22 * d22) / s.e22) + sum;
    return sum;
}

// X2, G or the corrected X2 of a sample in doubles, for samples the test can
// test: within about 1e-12 of the extended statistics for samples of up to
// 10000.
double quickStatistic(HweTest test, const GenotypeCounts& c, std::uint32_t n) {
    const double size = n;
    const double o11 = c.o11, o12 = c.o12, o22 = c.o22;
    const double p = (o12 * 0.5 + o11) / size;
    const double q = 1 - p;
    const double e11 = p * p * size, e12 = 2 * p * q * size, e22 = q * q * size;
    switch (test) {
        case HweTest::G:
            return 2 * (o11 * std::log(o11 / e11) + o12 * std::log(o12 / e12) +
                        o22 * std::log(o22 / e22));
        case HweTest::X2: {
            const double d11 = o11 - e11, d12 = o12 - e12, d22 = o22 - e22;
            return d11 * d11 / e11 + d12 * d12 / e12 + d22 * d22 / e22;
        }
        case HweTest::X2cc: {
            const double d11 = std::fabs(o11 - e11) - 0.5, d12 = std::fabs(o12 - e12) - 0.5,
                         d22 = std::fabs(o22 - e22) - 0.5;
            return d11 * d11 / e11 + d12 * d12 / e12 + d22 * d22 / e22;
        }
        case HweTest::Exact:
        case HweTest::ExactMidP:
        case HweTest::ExactDost:
        case HweTest::ExactDeficit:
        case HweTest::ExactExcess:
        case HweTest::ExactDeficitMidP:
        case HweTest::ExactExcessMidP: break;
    }
    return -1;
}

// The statistic of X2, G or the corrected X2 on one sample: kNotComputable
// when the test cannot be computed, and 0 for a G that rounding made
// slightly negative.
Extended statisticOf(HweTest test, const GenotypeCounts& counts, std::uint16_t n) {
    Extended x2 = kNotComputable, g = kNotComputable;
    switch (test) {
        case HweTest::X2: sampleStatistics(counts, n, true, false, x2, g); return x2;
        case HweTest::G:
            sampleStatistics(counts, n, false, true, x2, g);
            if (g == kNotComputable) return g;
            return g < 0 ? 0 : g;
        case HweTest::X2cc: return correctedX2(counts, n);
        case HweTest::Exact:
        case HweTest::ExactMidP:
        case HweTest::ExactDost:
        case HweTest::ExactDeficit:
        case HweTest::ExactExcess:
        case HweTest::ExactDeficitMidP:
        case HweTest::ExactExcessMidP: break;
    }
    return kNotComputable;
}

// 1/k and 1/((h + 1)(h + 2)), tabled for the sample sizes of a power study so
// that the probability ratios below cost multiplications only. Probabilities
// along a row are doubles: a row has at most a few thousand steps, each
// rounded once to 2^-53, far inside the bound the results promise.
class Reciprocals {
public:
    Reciprocals() : one_(2 * kMaxPowerSampleSize + 3), pair_(2 * kMaxPowerSampleSize + 1) {
        for (std::size_t k = 1; k < one_.size(); ++k) one_[k] = 1.0 / static_cast<double>(k);
        for (std::size_t h = 0; h < pair_.size(); ++h)
            pair_[h] = 1.0 / (static_cast<double>(h + 1) * static_cast<double>(h + 2));
    }
    const double* ones() const { return one_.data(); }
    const double* pairs() const { return pair_.data(); }
    double one(int k) const {
        return static_cast<std::size_t>(k) < one_.size() ? one_[static_cast<std::size_t>(k)]
                                                         : 1.0 / k;
    }
    double pair(int h) const {
        return static_cast<std::size_t>(h) < pair_.size()
                   ? pair_[static_cast<std::size_t>(h)]
                   : 1.0 / ((static_cast<double>(h) + 1) * (static_cast<double>(h) + 2));
    }

private:
    std::vector<double> one_, pair_;
};

const Reciprocals& reciprocals() {
    static const Reciprocals table;
    return table;
}

// The conditional distribution of the heterozygote count h given the A1
// allele count a in samples of n under Hardy-Weinberg proportions:
// P(h | a) is proportional to 2^h / (n11! h! n22!), n11 = (a - h) / 2,
// n22 = (2n - a - h) / 2. The weights are relative to the most probable h
// (weight 1) and are made from it by their ratios; weights below `cut` are
// left out, and so are all beyond them, as the distribution is unimodal.
struct ConditionalRow {
    int firstH = 0;  // the heterozygote count of weights[0]
    std::vector<double> weights;
    std::size_t top = 0;  // the index of the most probable count (weight 1)
    Extended total = 0;
};

void conditionalRow(std::uint32_t n, std::uint32_t a, double cut, ConditionalRow& row,
                    std::vector<double>& below) {
    const Reciprocals& r = reciprocals();
    const int m = static_cast<int>(2 * n - a);
    const int ai = static_cast<int>(a);
    const int hMin = ai % 2;
    const int hMax = std::min(ai, m);
    // up(h) = P(h + 2) / P(h) = 4 n11 n22 / ((h + 1)(h + 2)).
    auto up = [&](int h) {
        const double n11 = (ai - h) / 2, n22 = (m - h) / 2;
        return 4 * (n11 * n22) * r.pair(h);
    };
    const Extended centre = static_cast<Extended>(a) * m / (2 * static_cast<Extended>(n));
    int mode = static_cast<int>(std::floor(centre));
    if ((mode - hMin) % 2 != 0) --mode;
    mode = std::clamp(mode, hMin, hMax);
    while (mode + 2 <= hMax && up(mode) > 1) mode += 2;
    while (mode - 2 >= hMin && up(mode - 2) < 1) mode -= 2;

    // Each walk keeps its running values in locals, so that they stay in
    // registers; the tables serve every sample size of a power study.
    const bool tabled = n <= kMaxPowerSampleSize;
    const double* one = r.ones();
    const double* pair = r.pairs();
    below.clear();
    double sumBelow = 0;
    {
        double w = 1, hd = mode;
        int n11 = (ai - mode) / 2 + 1, n22 = (m - mode) / 2 + 1;  // at h - 2
        for (int h = mode; h - 2 >= hMin; h -= 2, hd -= 2, ++n11, ++n22) {
            // P(h - 2) / P(h) = (h - 1) h / (4 (n11 + 1)(n22 + 1)), n11 and n22 at h.
            const double inverse = tabled ? one[n11] * one[n22] : r.one(n11) * r.one(n22);
            w = w * (((hd - 1) * hd * 0.25) * inverse);
            if (w < cut) break;
            sumBelow += w;
            below.push_back(w);
        }
    }
    row.weights.assign(below.rbegin(), below.rend());
    row.firstH = mode - 2 * static_cast<int>(below.size());
    row.top = below.size();
    row.weights.push_back(1);
    double sumAbove = 1;
    {
        double w = 1;
        double n11 = (ai - mode) / 2, n22 = (m - mode) / 2;
        for (int h = mode; h + 2 <= hMax; h += 2, n11 -= 1, n22 -= 1) {
            w = w * (4 * (n11 * n22) * (tabled ? pair[h] : r.pair(h)));
            if (w < cut) break;
            sumAbove += w;
            row.weights.push_back(w);
        }
    }
    row.total = static_cast<Extended>(sumBelow) + sumAbove;
}

// The exact test's p-value of heterozygote count h in its row.
Extended exactPValue(const ConditionalRow& row, int h) {
    const double observed = row.weights[static_cast<std::size_t>((h - row.firstH) / 2)];
    const double bound = observed * (1 + static_cast<double>(kTieTolerance));
    Extended sum = 0;
    for (double v : row.weights)
        if (v <= bound) sum += v;
    return std::min<Extended>(sum / row.total, 1);
}

// The exact test's decisions on a whole row. The weights rise to the top and
// fall after it, so the counts no more probable than a weight x are a run at
// each end, and their probability S(x) is a sum from the left end plus a sum
// from the right end. A count's p-value S(w (1 + tolerance)) / total grows
// with its weight w, so the rejected counts are the two runs of least
// probable counts whose p-values stay at or below the level.
class ExactRowDecisions {
public:
    explicit ExactRowDecisions(const ConditionalRow& row) : row_(row) {}

    // Takes the row's weights as they are now.
    void update() {
        const auto& w = row_.weights;
        fromLeft_.resize(w.size() + 1);
        fromRight_.resize(w.size() + 1);
        double left = 0, right = 0;
        fromLeft_[0] = fromRight_[0] = 0;
        for (std::size_t i = 0; i < w.size(); ++i) {
            left += w[i];
            right += w[w.size() - 1 - i];
            fromLeft_[i + 1] = left;
            fromRight_[i + 1] = right;
        }
    }

    // The rejected counts at a level: h <= low and h >= high.
    void rejection(double level, int& low, int& high) const {
        const auto& w = row_.weights;
        const std::size_t size = w.size(), top = row_.top;
        const double threshold =
            static_cast<double>(static_cast<Extended>(level) * (1 + kLevelTolerance) * row_.total);
        auto rejected = [&](std::size_t i) {
            return atMost(w[i] * (1 + static_cast<double>(kTieTolerance))) <= threshold;
        };
        // Left of the top the weights rise: the rejected counts are a prefix.
        std::size_t l = 0, r = top;  // rejected below l, kept from r
        while (l < r) {
            const std::size_t mid = l + (r - l) / 2;
            if (rejected(mid))
                l = mid + 1;
            else
                r = mid;
        }
        const std::size_t leftRejected = l;
        // Right of the top they fall: the rejected counts are a suffix.
        l = top + 1;
        r = size;  // kept below l, rejected from r
        while (l < r) {
            const std::size_t mid = l + (r - l) / 2;
            if (rejected(mid))
                r = mid;
            else
                l = mid + 1;
        }
        low = row_.firstH + 2 * static_cast<int>(leftRejected) - 2;
        high = row_.firstH + 2 * static_cast<int>(l);
    }

private:
    // The sum of the weights at most x.
    double atMost(double x) const {
        const auto& w = row_.weights;
        const auto topIt = w.begin() + static_cast<std::ptrdiff_t>(row_.top);
        const auto left = std::upper_bound(w.begin(), topIt + 1, x) - w.begin();
        const auto right =
            w.end() - std::partition_point(topIt + 1, w.end(), [&](double v) { return v > x; });
        return fromLeft_[static_cast<std::size_t>(left)] +
               fromRight_[static_cast<std::size_t>(right)];
    }

    const ConditionalRow& row_;
    std::vector<double> fromLeft_, fromRight_;
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
        return static_cast<Extended>(upTo(to)) - (from == firstH ? 0.0 : upTo(from - 2));
    }
};

class PowerSum {
public:
    PowerSum(const ModelSetting& setting, std::uint32_t n, std::span<const TestLevel> tests)
        : n_(n), lf_(logFactorials()), cum_(n + 3) {
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
        const Extended cells = (static_cast<Extended>(n) + 1) * (static_cast<Extended>(n) + 2) / 2;
        cut_ = static_cast<double>(1e-12L / cells);
        for (const TestLevel& t : tests) {
            Request r{t.test, t.level, 0, 0};
            if (t.test != HweTest::Exact) {
                r.critical = criticalValue(t.level);
                r.root = std::sqrt(r.critical / n);
            } else {
                minExactLevel_ = std::min(minExactLevel_, t.level);
            }
            requests_.push_back(r);
        }
    }

    std::vector<ExactPower> run() {
        const Extended mean = n_ * ((2 * p11_) + p12_);
        const long start = std::clamp(std::lround(static_cast<double>(mean)), 0L, 2L * n_);
        Extended covered = 0;
        // Upwards from the mean, then downwards; each direction ends when two
        // neighbouring allele counts (one of each parity) hold no cell above
        // the cut.
        for (int dir : {+1, -1}) {
            int empty = 0;
            for (long a = dir > 0 ? start : start - 1; a >= 0 && a <= 2L * n_; a += dir) {
                const Extended mass = row(static_cast<std::uint32_t>(a));
                covered += mass;
                empty = mass > 0 ? 0 : empty + 1;
                if (empty >= 2) break;
            }
        }
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

private:
    Extended logCell(int n11, int h, int n22) const {
        Extended v = lf_[n_] - lf_[static_cast<std::size_t>(n11)] -
                     lf_[static_cast<std::size_t>(h)] - lf_[static_cast<std::size_t>(n22)];
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

        // up(h) = P(h + 2) / P(h) under the model.
        auto up = [&](int h) {
            const Extended n11 = (ai - h) / 2, n22 = (m - h) / 2;
            return (n11 * n22 * ratio_) /
                   ((static_cast<Extended>(h) + 1) * (static_cast<Extended>(h) + 2));
        };
        int mode = lo;
        if (lo < hi) {
            // The real root of (K/4)(a - h)(m - h) = h^2, then a walk uphill.
            const Extended k4 = ratio_ / 4;
            const Extended am = static_cast<Extended>(ai) * m;
            const Extended size = 2 * static_cast<Extended>(n_);
            const Extended root = std::sqrt(k4 * (k4 * size * size - 4 * (k4 - 1) * am));
            const Extended guess = (2 * k4 * am) / (k4 * size + root);
            mode = static_cast<int>(std::floor(guess));
            if ((mode - lo) % 2 != 0) --mode;
            mode = std::clamp(mode, lo, hi);
            while (mode + 2 <= hi && up(mode) > 1) mode += 2;
            while (mode - 2 >= lo && up(mode - 2) < 1) mode -= 2;
        }
        const Extended top = std::exp(logCell((ai - mode) / 2, mode, (m - mode) / 2));
        if (!(top >= cut_)) return 0;

        const double topCell = static_cast<double>(top);
        const double* one = reciprocals().ones();
        const double* pair = reciprocals().pairs();
        double* cum = cum_.data();
        // Index kTop holds topH; cells below it go to smaller indices.
        const int kTop = (mode - lo) / 2 + 1;
        // Each walk keeps its own running values, so that they stay in registers.
        double below = 0;
        int kFirst = kTop;
        {
            double w = topCell, sumBelow = 0, hd = mode;
            int k = kTop;
            int n11 = (ai - mode) / 2 + 1, n22 = (m - mode) / 2 + 1;  // at h - 2
            for (int h = mode; h - 2 >= lo; h -= 2, hd -= 2, ++n11, ++n22) {
                // P(h - 2) / P(h) = (h - 1) h / (K (n11 + 1)(n22 + 1)), n11 and n22 at h.
                w = w * (((hd - 1) * hd * inverseRatio_) * (one[n11] * one[n22]));
                if (w < cut_) break;
                sumBelow += w;
                cum[--k] = sumBelow;
            }
            below = sumBelow;
            kFirst = k;
        }
        double sum = topCell;
        cum[kTop] = sum;
        int kLast = kTop;
        {
            double w = topCell, sumUp = topCell;
            double n11 = (ai - mode) / 2, n22 = (m - mode) / 2;
            const double ratio = ratioDouble_, cut = cut_;
            int k = kTop;
            for (int h = mode; h + 2 <= hi; h += 2, n11 -= 1, n22 -= 1) {
                w = w * ((n11 * n22) * ratio * pair[h]);
                if (w < cut) break;
                sumUp += w;
                cum[++k] = sumUp;
            }
            sum = sumUp;
            kLast = k;
        }
        cells_.firstH = mode - 2 * (kTop - kFirst);
        cells_.topH = mode;
        cells_.lastH = mode + 2 * (kLast - kTop);
        cells_.first = kFirst;
        cells_.belowTop = below;
        cells_.cum = cum;
        sum += below;

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
            if (r.test == HweTest::G) {
                // Every genotype must occur: h >= 1, n11 >= 1, n22 >= 1.
                tlo = std::max(tlo, parity == 0 ? 2 : 1);
                thi = std::min({thi, a - 2, m - 2});
            }
            if (tlo > thi) continue;
            r.testable += cells_.sum(tlo, thi);
            if (r.test == HweTest::Exact) {
                if (!exactRowMade) {
                    const double cut = minExactLevel_ * 1e-20;
                    conditionalRow(n_, static_cast<std::uint32_t>(a), cut, conditional_, below_);
                    decisions_.update();
                    exactRowMade = true;
                }
                int low = 0, high = 0;
                decisions_.rejection(r.level, low, high);
                r.rejected +=
                    cells_.sum(tlo, std::min(low, thi)) + cells_.sum(std::max(high, tlo), thi);
                continue;
            }
            statisticShares(r, a, m, parity, centre, tlo, thi);
        }
    }

    void statisticShares(Request& r, int a, int m, int parity, Extended centre, int tlo, int thi) {
        const auto size = static_cast<std::uint16_t>(n_);
        auto rejectedAt = [&](int h) {
            const GenotypeCounts c{static_cast<std::uint16_t>((a - h) / 2),
                                   static_cast<std::uint16_t>(h),
                                   static_cast<std::uint16_t>((m - h) / 2)};
            // The statistic in doubles decides every count whose statistic
            // lies clearly off the critical value; the extended statistic
            // (the window's own for X2 and G) decides the rest.
            const double quick = quickStatistic(r.test, c, n_);
            const double critical = static_cast<double>(r.critical);
            if (std::fabs(quick - critical) > 1e-9 * critical) return quick > critical;
            return statisticOf(r.test, c, size) > r.critical;
        };
        // The statistics grow with |h - centre| wherever that is at least 1;
        // the one count closer to the centre is decided on its own.
        int leftEnd = static_cast<int>(std::floor(centre - 1));
        if (((leftEnd - parity) % 2 + 2) % 2 != 0) --leftEnd;
        int rightStart = static_cast<int>(std::ceil(centre + 1));
        if (((rightStart - parity) % 2 + 2) % 2 != 0) ++rightStart;

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
        for (int h = std::max(leftEnd + 2, tlo); h < rightStart && h <= thi; h += 2)
            if (rejectedAt(h)) r.rejected += cells_.sum(h, h);
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
    std::vector<double> cum_;
    std::vector<double> below_;
    ConditionalRow conditional_;
    ExactRowDecisions decisions_{conditional_};
};

}  // namespace

std::string_view hweTestName(HweTest test) {
    switch (test) {
        case HweTest::X2: return "x2";
        case HweTest::G: return "g";
        case HweTest::X2cc: return "x2cc";
        case HweTest::Exact: return "exact";
        case HweTest::ExactMidP: return "exact-midp";
        case HweTest::ExactDost: return "exact-dost";
        case HweTest::ExactDeficit: return "exact-deficit";
        case HweTest::ExactExcess: return "exact-excess";
        case HweTest::ExactDeficitMidP: return "exact-deficit-midp";
        case HweTest::ExactExcessMidP: return "exact-excess-midp";
    }
    return "";
}

std::vector<HweTest> allHweTests() {
    return {HweTest::X2,
            HweTest::G,
            HweTest::X2cc,
            HweTest::Exact,
            HweTest::ExactMidP,
            HweTest::ExactDost,
            HweTest::ExactDeficit,
            HweTest::ExactExcess,
            HweTest::ExactDeficitMidP,
            HweTest::ExactExcessMidP};
}

bool exactPowerComputes(HweTest test) {
    return test == HweTest::X2 || test == HweTest::G || test == HweTest::X2cc ||
           test == HweTest::Exact;
}

std::optional<HweTest> parseHweTest(std::string_view name) {
    for (HweTest t : allHweTests())
        if (hweTestName(t) == name) return t;
    return std::nullopt;
}

std::string checkModel(const ModelSetting& setting) {
    if (!within(setting.p, 0.01, 0.99))
        return "p " + shortestText(setting.p) + " is outside 0.01 to 0.99";
    switch (setting.model) {
        case GenotypeModel::HardyWeinberg: break;
        case GenotypeModel::Wahlund: {
            const double pq = setting.p * (1 - setting.p);
            // A variance typed as p*q may lie a rounding above the product.
            if (!within(setting.var, 0, pq * (1 + 1e-12)))
                return "var " + shortestText(setting.var) +
                       " is outside 0 to p*q = " + boundText(pq);
            break;
        }
        case GenotypeModel::Inbreeding:
            if (!within(setting.f, 0, 1))
                return "f " + shortestText(setting.f) + " is outside 0 to 1";
            break;
        case GenotypeModel::Selection: {
            const std::pair<const char*, double> w[] = {
                {"w11", setting.w11}, {"w12", setting.w12}, {"w22", setting.w22}};
            for (const auto& [name, value] : w)
                if (!within(value, 0, 10))
                    return std::string(name) + " " + shortestText(value) + " is outside 0 to 10";
            if (setting.w11 == 0 && setting.w12 == 0 && setting.w22 == 0)
                return "the fitnesses w11, w12 and w22 are all 0; at least one must be above 0";
            break;
        }
        default: return "unknown model";
    }
    return {};
}

GenotypeFrequencies frequenciesOf(const ModelSetting& setting) {
    const Extended p = setting.p;
    const Extended q = 1 - p;
    return modelFrequencies(setting.model, p, q, setting.var, setting.f,
                            {setting.w11, setting.w12, setting.w22});
}

Extended criticalValue(double level) {
    if (level == 0.05) return kCritical05;
    if (level == 0.01) return kCritical01;
    // The upper level/2 point z of the standard normal, z^2 the 1-df
    // chi-square quantile. Newton's method on ln Q(z) = ln(level / 2), Q the
    // upper tail: ln Q is concave, so after the first step the iterates fall
    // to the root from above.
    const Extended target = std::log(static_cast<Extended>(level) / 2);
    const Extended rootTwo = std::sqrt(2.0L);
    const Extended rootTwoPi = std::sqrt(2 * 3.14159265358979323846264338327950288L);
    Extended z = 1;
    for (int i = 0; i < 200; ++i) {
        const Extended tail = std::erfc(z / rootTwo) / 2;
        const Extended density = std::exp(-(z * z) / 2) / rootTwoPi;
        const Extended next = z + (std::log(tail) - target) * tail / density;
        if (std::fabs(next - z) <= 1e-18L * next) {
            z = next;
            break;
        }
        z = next;
    }
    return z * z;
}

std::optional<double> exactTestPValue(const GenotypeCounts& counts) {
    const std::uint32_t n = std::uint32_t{counts.o11} + counts.o12 + counts.o22;
    const std::uint32_t a = 2 * std::uint32_t{counts.o11} + counts.o12;
    if (a == 0 || a == 2 * n) return std::nullopt;
    ConditionalRow row;
    std::vector<double> scratch;
    conditionalRow(n, a, 0, row, scratch);
    return static_cast<double>(exactPValue(row, counts.o12));
}

std::optional<ExactRejection> exactRejection(std::uint32_t n, std::uint32_t a, double level) {
    if (n == 0 || a == 0 || a >= 2 * n) return std::nullopt;
    ConditionalRow row;
    std::vector<double> scratch;
    conditionalRow(n, a, level * 1e-20, row, scratch);
    ExactRowDecisions decisions(row);
    decisions.update();
    ExactRejection r;
    decisions.rejection(level, r.low, r.high);
    return r;
}

std::optional<bool> rejects(HweTest test, const GenotypeCounts& counts, double level) {
    const std::uint32_t n = std::uint32_t{counts.o11} + counts.o12 + counts.o22;
    if (n == 0 || n > 65535) return std::nullopt;
    if (test == HweTest::Exact) {
        const std::uint32_t a = 2 * std::uint32_t{counts.o11} + counts.o12;
        if (a == 0 || a == 2 * n) return std::nullopt;
        ConditionalRow row;
        std::vector<double> scratch;
        conditionalRow(n, a, 0, row, scratch);
        return exactPValue(row, counts.o12) <= static_cast<Extended>(level) * (1 + kLevelTolerance);
    }
    const Extended statistic = statisticOf(test, counts, static_cast<std::uint16_t>(n));
    if (statistic == kNotComputable) return std::nullopt;
    return statistic > criticalValue(level);
}

std::vector<ExactPower> exactPower(const ModelSetting& setting, std::uint32_t n,
                                   std::span<const TestLevel> tests) {
    if (n < 1 || n > kMaxPowerSampleSize)
        throw std::invalid_argument("sample size " + std::to_string(n) + " is outside 1 to " +
                                    std::to_string(kMaxPowerSampleSize));
    if (const std::string problem = checkModel(setting); !problem.empty())
        throw std::invalid_argument(problem);
    for (const TestLevel& t : tests)
        if (!(t.level > 0 && t.level <= 0.5))
            throw std::invalid_argument("level " + shortestText(t.level) + " is outside (0, 0.5]");
    return PowerSum(setting, n, tests).run();
}

}  // namespace zyg
