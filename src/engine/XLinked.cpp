#include "engine/XLinked.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string>

#include "engine/ObservedSample.h"
#include "engine/XLinkedInternal.h"

namespace zyg {

namespace xlinked {

namespace {

constexpr std::uint64_t kBlock = 4096;
constexpr std::uint64_t kBlocks = kTabledLogFactorials / kBlock;

std::once_flag gMade[kBlocks];

}  // namespace

Extended gLogFactorials[kTabledLogFactorials];

void prepareLogFactorials(std::uint64_t largest) {
    const std::uint64_t last = std::min(largest, kTabledLogFactorials - 1) / kBlock;
    for (std::uint64_t block = 0; block <= last; ++block)
        std::call_once(gMade[block], [block] {
            for (std::uint64_t k = block * kBlock; k < (block + 1) * kBlock; ++k)
                gLogFactorials[k] = std::lgamma(static_cast<Extended>(k) + 1);
        });
}

namespace {

using Wide = __int128;

struct Totals {
    std::uint64_t nm, nf, nt, nA, nB;
};

Totals totalsOf(const XSampleCounts& c) {
    Totals t{};
    t.nm = c.a + c.b;
    t.nf = c.aa + c.ab + c.bb;
    t.nt = t.nm + 2 * t.nf;
    t.nA = c.a + 2 * c.aa + c.ab;
    t.nB = t.nt - t.nA;
    return t;
}

Extended wide(Wide v) { return static_cast<Extended>(v); }

}  // namespace

// Each class adds (o - e)^2 / e, with o - e an integer over nt (males) or
// nt^2 (females): o - e for A is (A nt - nm nA) / nt and e = nm nA / nt, so
// the term is (A nt - nm nA)^2 / (nt nm nA); B's deviation is the opposite.
Extended pearsonX2Of(const XSampleCounts& c) {
    const Totals t = totalsOf(c);
    const Extended nt = static_cast<Extended>(t.nt), nA = static_cast<Extended>(t.nA),
                   nB = static_cast<Extended>(t.nB);
    Extended sum = 0;
    if (t.nm > 0) {
        const Extended d = wide(Wide(c.a) * t.nt - Wide(t.nm) * t.nA);
        const Extended nm = static_cast<Extended>(t.nm);
        sum += (d * d) / ((nt * nm) * nA);
        sum += (d * d) / ((nt * nm) * nB);
    }
    if (t.nf > 0) {
        const Wide t2 = Wide(t.nt) * t.nt;
        const Extended dAA = wide(Wide(c.aa) * t2 - Wide(t.nf) * t.nA * t.nA);
        const Extended dAB = wide(Wide(c.ab) * t2 - 2 * Wide(t.nf) * t.nA * t.nB);
        const Extended dBB = wide(Wide(c.bb) * t2 - Wide(t.nf) * t.nB * t.nB);
        const Extended scale = (nt * nt) * static_cast<Extended>(t.nf);
        sum += (dAA * dAA) / ((scale * nA) * nA);
        sum += (dAB * dAB) / (((scale * 2) * nA) * nB);
        sum += (dBB * dBB) / ((scale * nB) * nB);
    }
    return sum;
}

// o ln(o / e) = o ln(1 + (o - e) / e), with (o - e) / e from the same
// integer numerators as X2; 0 ln 0 = 0.
Extended likelihoodRatioGOf(const XSampleCounts& c) {
    const Totals t = totalsOf(c);
    const Extended nA = static_cast<Extended>(t.nA), nB = static_cast<Extended>(t.nB);
    Extended sum = 0;
    auto term = [&sum](std::uint64_t o, Extended relative) {
        if (o > 0) sum += static_cast<Extended>(o) * std::log1p(relative);
    };
    if (t.nm > 0) {
        const Extended d = wide(Wide(c.a) * t.nt - Wide(t.nm) * t.nA);
        const Extended nm = static_cast<Extended>(t.nm);
        term(c.a, d / (nm * nA));
        term(c.b, -d / (nm * nB));
    }
    if (t.nf > 0) {
        const Wide t2 = Wide(t.nt) * t.nt;
        const Extended nf = static_cast<Extended>(t.nf);
        term(c.aa, wide(Wide(c.aa) * t2 - Wide(t.nf) * t.nA * t.nA) / ((nf * nA) * nA));
        term(c.ab, wide(Wide(c.ab) * t2 - 2 * Wide(t.nf) * t.nA * t.nB) / (((nf * 2) * nA) * nB));
        term(c.bb, wide(Wide(c.bb) * t2 - Wide(t.nf) * t.nB * t.nB) / ((nf * nB) * nB));
    }
    return std::max<Extended>(0, 2 * sum);
}

}  // namespace xlinked

using xlinked::logFactorial;
using Wide = __int128;

namespace {

void checkCounts(const XSampleCounts& c) {
    for (std::uint64_t v : {c.aa, c.ab, c.bb, c.a, c.b})
        if (v > kMaxSampleGenotypeCount)
            throw std::invalid_argument("a count is above " +
                                        std::to_string(kMaxSampleGenotypeCount));
    if (c.aa + c.ab + c.bb + c.a + c.b == 0) throw std::invalid_argument("the sample is empty");
}

bool testable(const XSampleCounts& c) {
    const std::uint64_t nA = c.a + 2 * c.aa + c.ab, nB = c.b + 2 * c.bb + c.ab;
    return nA > 0 && nB > 0;
}

Extended clampPValue(Extended p) {
    return std::clamp<Extended>(p, std::numeric_limits<Extended>::min(), 1);
}

constexpr Extended kTieTolerance = 1e-7L;
// A walk, or the run of rows, stops once the rest is below this share of
// the sum so far.
constexpr double kNegligible = 1e-18;
const Extended kLn2 = std::log(2.0L);
// A row whose mode is at most e^4 times as probable as the observed outcome
// is summed by walking its more probable outcomes around the mode, fewer
// there than in its tails.
constexpr Extended kCentralWalk = 4;

// The conditional distribution of the outcomes given nA, relative to the
// observed outcome. Row m holds the outcomes with mA = m: female allele
// count af = nA - m, bf = 2 nf - af, heterozygote counts h = af mod 2, ...,
// min(af, bf) with fAA = (af - h) / 2 and fBB = (bf - h) / 2.
class ExactSum {
public:
    ExactSum(const XSampleCounts& c)
        : nm_(c.a + c.b), nf_(c.aa + c.ab + c.bb), nA_(c.a + 2 * c.aa + c.ab) {
        nt_ = nm_ + 2 * nf_;
        logObserved_ = logWeight(c.a, c.ab);
    }

    XExactPValues pValues() {
        const std::uint64_t low = nA_ > 2 * nf_ ? nA_ - 2 * nf_ : 0;
        const std::uint64_t high = std::min(nm_, nA_);
        // The mode of the male count's hypergeometric distribution.
        const std::uint64_t mode = std::clamp<std::uint64_t>(
            static_cast<std::uint64_t>((Wide(nA_ + 1) * (nm_ + 1)) / (nt_ + 2)), low, high);
        // Once two neighbouring rows lie wholly below the observed outcome,
        // every row further out does too (each parity of the female allele
        // count is log-concave), and their totals follow by the ratio of
        // neighbouring rows' totals.
        const auto walk = [this](std::uint64_t from, std::uint64_t to, bool up) {
            int wholeRows = 0;
            double next = 0;
            for (std::uint64_t m = from;; m = up ? m + 1 : m - 1) {
                double rest;
                if (wholeRows >= 2) {
                    rest = next;
                    less_ += rest;
                } else {
                    rest = row(m);
                }
                wholeRows = rest >= 0 ? wholeRows + 1 : 0;
                if (m == to) break;
                if (rest >= 0) {
                    // The next row's total over this one's; rows further out
                    // fall by smaller ratios (the totals are log-concave).
                    const std::uint64_t af = nA_ - m, bf = 2 * nf_ - af;
                    const double r =
                        up ? static_cast<double>(nm_ - m) * static_cast<double>(af) /
                                 (static_cast<double>(m + 1) * static_cast<double>(bf + 1))
                           : static_cast<double>(m) * static_cast<double>(bf) /
                                 (static_cast<double>(nm_ - m + 1) * static_cast<double>(af + 1));
                    if (r < 1 && rest * r < kNegligible * floor() * (1 - r)) break;
                    next = rest * r;
                }
            }
        };
        walk(mode, low, false);
        if (mode < high) walk(mode + 1, high, true);
        const std::uint64_t nB = nt_ - nA_;
        const Extended logObservedProbability = logObserved_ + logFactorial(nm_) +
                                                logFactorial(nf_) + logFactorial(nA_) +
                                                logFactorial(nB) - logFactorial(nt_);
        XExactPValues p;
        p.pValue = clampPValue(std::exp(logObservedProbability + std::log(less_ + tied_)));
        p.midP = clampPValue(std::exp(logObservedProbability + std::log(less_ + tied_ / 2)));
        return p;
    }

private:
    // ln of nm!/(m! (nm - m)!) nf!/(fAA! h! fBB!) 2^h without nm! nf!.
    Extended logWeight(std::uint64_t m, std::uint64_t h) const {
        const std::uint64_t af = nA_ - m, bf = 2 * nf_ - af;
        return static_cast<Extended>(h) * kLn2 -
               ((((logFactorial(m) + logFactorial(nm_ - m)) + logFactorial((af - h) / 2)) +
                 logFactorial(h)) +
                logFactorial((bf - h) / 2));
    }

    // ln of the sum of a row's weights, nm!/(m! (nm - m)!) (2nf)!/(af! bf!),
    // on the scale of logWeight.
    Extended logRowTotal(std::uint64_t m) const {
        const std::uint64_t af = nA_ - m, bf = 2 * nf_ - af;
        return (logFactorial(2 * nf_) - logFactorial(nf_)) -
               (((logFactorial(m) + logFactorial(nm_ - m)) + logFactorial(af)) + logFactorial(bf));
    }

    Extended relative(std::uint64_t m, std::uint64_t h) const {
        return logWeight(m, h) - logObserved_;
    }

    // e^x in doubles: the values that count lie within e^-45 of the sum so
    // far (at least 1), where rounding x to a double costs a relative
    // 45 2^-53 = 5e-15 at most; smaller ones are left out anyway.
    static double exponential(Extended x) { return std::exp(static_cast<double>(x)); }

    double floor() const { return static_cast<double>(std::max<Extended>(less_ + tied_, 1)); }

    // The most probable heterozygote count of a row: from the root of
    // (af - h)(bf - h) = (h + 1)(h + 2), moved until w(h + 2) < w(h) and
    // w(h - 2) <= w(h).
    static std::uint64_t rowMode(std::uint64_t af, std::uint64_t bf) {
        const std::uint64_t first = af % 2, last = std::min(af, bf);
        const long double root = (static_cast<long double>(af) * static_cast<long double>(bf) - 2) /
                                 (static_cast<long double>(af + bf) + 3);
        std::uint64_t h = root <= first ? first : static_cast<std::uint64_t>(root);
        if ((h - first) % 2 != 0) ++h;
        h = std::min(h, last);
        auto rises = [af, bf](std::uint64_t k) {  // w(k + 2) >= w(k)
            return Wide(af - k) * (bf - k) >= Wide(k + 1) * (k + 2);
        };
        while (h + 2 <= last && rises(h)) h += 2;
        while (h >= first + 2 && !rises(h - 2)) h -= 2;
        return h;
    }

    // Adds the row's outcomes no more probable than the observed one. A row
    // whose every outcome lies below it counts whole, and its total relative
    // to the observed weight comes back (for the stopping rule); otherwise -1.
    double row(std::uint64_t m) {
        const std::uint64_t af = nA_ - m, bf = 2 * nf_ - af;
        const std::uint64_t first = af % 2, last = std::min(af, bf);
        const std::uint64_t mode = rowMode(af, bf);
        const Extended upper = std::log1p(kTieTolerance), lower = std::log1p(-kTieTolerance);
        if (relative(m, mode) < lower) {
            const double total = exponential(logRowTotal(m) - logObserved_);
            less_ += total;
            return total;
        }
        if (const Extended atMode = relative(m, mode); atMode <= kCentralWalk) {
            // The outcomes at least as probable as the observed one lie
            // around the mode: walk them and take the rest as the row's
            // total less them, while that rest is not swamped by the walk's
            // rounding (it keeps at least a hundredth of the row).
            const double total = exponential(logRowTotal(m) - logObserved_);
            double above = 0, tied = 0;
            central(af, bf, mode, last, exponential(atMode), above, tied);
            const double less = total - above - tied;
            if (less >= 0.01 * total) {
                less_ += less;
                tied_ += tied;
                return -1;
            }
        }
        const double floorNow = floor();
        // Below the mode: the last count at or below the observed weight.
        if (relative(m, first) <= upper) {
            std::uint64_t lo = 0, hi = (mode - first) / 2;  // index lo qualifies
            while (lo < hi) {
                const std::uint64_t mid = (lo + hi + 1) / 2;
                if (relative(m, first + 2 * mid) <= upper)
                    lo = mid;
                else
                    hi = mid - 1;
            }
            tail(m, af, bf, first + 2 * lo, first, false, floorNow);
        }
        // Above the mode: the first count at or below the observed weight.
        if (last > mode && relative(m, last) <= upper) {
            std::uint64_t lo = 1, hi = (last - mode) / 2;  // index hi qualifies
            while (lo < hi) {
                const std::uint64_t mid = (lo + hi) / 2;
                if (relative(m, mode + 2 * mid) <= upper)
                    hi = mid;
                else
                    lo = mid + 1;
            }
            tail(m, af, bf, mode + 2 * hi, last, true, floorNow);
        }
        return -1;
    }

    // Sums the weights at least as large as the observed one's (less the tie
    // tolerance) out from the row's mode, whose weight is v: those within
    // the tolerance into `tied`, the others into `above`.
    static void central(std::uint64_t af, std::uint64_t bf, std::uint64_t mode, std::uint64_t last,
                        double v, double& above, double& tied) {
        const double tiedFrom = static_cast<double>(1 - kTieTolerance);
        const double tiedTo = static_cast<double>(1 + kTieTolerance);
        const auto add = [&](double w) { (w > tiedTo ? above : tied) += w; };
        if (v < tiedFrom) return;
        add(v);
        double w = v;
        for (std::uint64_t h = mode; h + 2 <= last;) {
            const double x = static_cast<double>(af - h), y = static_cast<double>(bf - h),
                         k = static_cast<double>(h);
            w *= (x * y) / ((k + 1) * (k + 2));
            if (w < tiedFrom) break;
            add(w);
            h += 2;
        }
        w = v;
        for (std::uint64_t h = mode; h >= 2 && h - 2 >= af % 2;) {
            const double x = static_cast<double>(af - h), y = static_cast<double>(bf - h),
                         k = static_cast<double>(h);
            w *= (k * (k - 1)) / ((x + 2) * (y + 2));
            if (w < tiedFrom) break;
            add(w);
            h -= 2;
        }
    }

    // Sums the weights from h to the end of the row (towards `end`), relative
    // to the observed weight, by the exact ratios of neighbouring counts.
    void tail(std::uint64_t m, std::uint64_t af, std::uint64_t bf, std::uint64_t h,
              std::uint64_t end, bool up, double floorNow) {
        const double tiedFrom = static_cast<double>(1 - kTieTolerance);
        double v = exponential(relative(m, h));
        double less = 0, tied = 0;
        for (;;) {
            (v >= tiedFrom ? tied : less) += v;
            if (h == end) break;
            const double x = static_cast<double>(af - h), y = static_cast<double>(bf - h),
                         k = static_cast<double>(h);
            const double r =
                up ? (x * y) / ((k + 1) * (k + 2)) : (k * (k - 1)) / ((x + 2) * (y + 2));
            if (r < 1 && v * r < kNegligible * floorNow * (1 - r)) break;
            v *= r;
            if (v == 0) break;
            h = up ? h + 2 : h - 2;
        }
        less_ += less;
        tied_ += tied;
    }

    std::uint64_t nm_, nf_, nA_, nt_;
    Extended logObserved_ = 0;
    Extended less_ = 0, tied_ = 0;
};

}  // namespace

XSampleSummary summarizeXSample(const XSampleCounts& c) {
    checkCounts(c);
    XSampleSummary s;
    s.females = c.aa + c.ab + c.bb;
    s.males = c.a + c.b;
    s.alleles = s.males + 2 * s.females;
    s.allelesA = c.a + 2 * c.aa + c.ab;
    s.p = static_cast<double>(static_cast<Extended>(s.allelesA) / s.alleles);
    const std::uint64_t fa = 2 * c.aa + c.ab, fb = 2 * c.bb + c.ab;
    if (s.females > 0) s.pFemale = static_cast<double>(static_cast<Extended>(fa) / (2 * s.females));
    if (s.males > 0) s.pMale = static_cast<double>(static_cast<Extended>(c.a) / s.males);
    s.testable = testable(c);
    s.femalesTestable = fa > 0 && fb > 0;
    if (s.femalesTestable) {
        // F = D / (fa fb) with D = 4 AA BB - AB^2, exact in 128 bits.
        const Wide d = 4 * Wide(c.aa) * c.bb - Wide(c.ab) * c.ab;
        s.fFemale = static_cast<double>(static_cast<Extended>(d) /
                                        (static_cast<Extended>(fa) * static_cast<Extended>(fb)));
    }
    return s;
}

std::string_view xTestName(XTest test) {
    switch (test) {
        case XTest::Exact: return "x-exact";
        case XTest::ExactMidP: return "x-exact-midp";
        case XTest::X2: return "x-x2";
        case XTest::G: return "x-g";
    }
    return "";
}

std::optional<XTest> parseXTest(std::string_view name) {
    for (XTest t : kXTests)
        if (xTestName(t) == name) return t;
    return std::nullopt;
}

bool xTestHasStatistic(XTest test) { return test == XTest::X2 || test == XTest::G; }

std::optional<XExactPValues> xExactPValues(const XSampleCounts& counts) {
    checkCounts(counts);
    if (!testable(counts)) return std::nullopt;
    const std::uint64_t nt = counts.a + counts.b + 2 * (counts.aa + counts.ab + counts.bb);
    if (nt > kMaxXExactAlleles) return std::nullopt;
    xlinked::prepareLogFactorials(nt);
    return ExactSum(counts).pValues();
}

std::optional<Extended> xPearsonX2(const XSampleCounts& counts) {
    checkCounts(counts);
    if (!testable(counts)) return std::nullopt;
    return xlinked::pearsonX2Of(counts);
}

std::optional<Extended> xLikelihoodRatioG(const XSampleCounts& counts) {
    checkCounts(counts);
    if (!testable(counts)) return std::nullopt;
    return xlinked::likelihoodRatioGOf(counts);
}

Extended chiSquare2UpperTail(Extended statistic) {
    if (!(statistic > 0)) return 1;
    return clampPValue(std::exp(-statistic / 2));
}

std::vector<XTestValue> testXSample(const XSampleCounts& counts, std::span<const XTest> tests) {
    checkCounts(counts);
    std::vector<XTestValue> values(tests.size());
    if (!testable(counts)) return values;
    std::optional<std::optional<XExactPValues>> exact;
    for (std::size_t i = 0; i < tests.size(); ++i) {
        XTestValue& v = values[i];
        switch (tests[i]) {
            case XTest::X2:
            case XTest::G:
                v.statistic = tests[i] == XTest::X2 ? xlinked::pearsonX2Of(counts)
                                                    : xlinked::likelihoodRatioGOf(counts);
                v.pValue = chiSquare2UpperTail(*v.statistic);
                break;
            case XTest::Exact:
            case XTest::ExactMidP:
                if (!exact) exact = xExactPValues(counts);
                if (*exact) v.pValue = tests[i] == XTest::Exact ? (*exact)->pValue : (*exact)->midP;
                break;
        }
    }
    return values;
}

}  // namespace zyg
