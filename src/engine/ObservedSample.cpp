#include "engine/ObservedSample.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "engine/ConditionalWalk.h"
#include "engine/ExactPower.h"

namespace zyg {

namespace {

// e^800: once a weight reaches this many times the observed one, P(h) and
// every p-value made of counts no more probable than h lie below
// 3 10^9 e^-800 < 1e-338, which double rounds to 0.
const Extended kBeyondDouble = std::exp(800.0L);

void checkCounts(const SampleCounts& c) {
    if (c.aa > kMaxSampleGenotypeCount || c.ab > kMaxSampleGenotypeCount ||
        c.bb > kMaxSampleGenotypeCount)
        throw std::invalid_argument("a genotype count is above " +
                                    std::to_string(kMaxSampleGenotypeCount));
    if (c.aa + c.ab + c.bb == 0) throw std::invalid_argument("the sample is empty");
    if (c.locus != LocusKind::Autosomal || c.maleA != 0 || c.maleB != 0)
        throw std::invalid_argument("the sample is not of an autosomal locus");
}

// The deviations from the sample's own Hardy-Weinberg expectation follow from
// one integer, D = 4 AA BB - AB^2: o - e is D / 4n for both homozygotes and
// -D / 2n for the heterozygotes, and F = D / (a b) with a = 2 AA + AB and
// b = 2 BB + AB the allele counts. Working from D keeps the deviations exact
// where o - e would cancel.
struct Deviations {
    Extended n = 0, a = 0, b = 0;
    Extended o[3] = {0, 0, 0};
    Extended e[3] = {0, 0, 0};
    Extended d[3] = {0, 0, 0};  // o - e
    Extended f = 0;
};

Deviations deviationsOf(const SampleCounts& c) {
    Deviations v;
    const std::uint64_t n = c.aa + c.ab + c.bb;
    v.n = static_cast<Extended>(n);
    v.a = static_cast<Extended>(2 * c.aa + c.ab);
    v.b = static_cast<Extended>(2 * c.bb + c.ab);
    // 4 AA BB and AB^2 are below 2^63 for counts up to 10^9: exact.
    const std::int64_t dInt =
        4 * static_cast<std::int64_t>(c.aa) * static_cast<std::int64_t>(c.bb) -
        static_cast<std::int64_t>(c.ab) * static_cast<std::int64_t>(c.ab);
    const Extended D = static_cast<Extended>(dInt);
    v.o[0] = static_cast<Extended>(c.aa);
    v.o[1] = static_cast<Extended>(c.ab);
    v.o[2] = static_cast<Extended>(c.bb);
    v.e[0] = v.a * v.a / (4 * v.n);
    v.e[1] = v.a * v.b / (2 * v.n);
    v.e[2] = v.b * v.b / (4 * v.n);
    v.d[0] = D / (4 * v.n);
    v.d[1] = -D / (2 * v.n);
    v.d[2] = v.d[0];
    if (v.a > 0 && v.b > 0) v.f = D / (v.a * v.b);
    return v;
}

Extended pearsonX2(const Deviations& v) {
    // Sum of (o - e)^2 / e, which equals n F^2.
    Extended sum = 0;
    for (int i = 0; i < 3; ++i) sum += v.d[i] * v.d[i] / v.e[i];
    return sum;
}

Extended correctedX2(const Deviations& v) {
    Extended sum = 0;
    for (int i = 0; i < 3; ++i) {
        const Extended excess = std::max<Extended>(0, std::fabs(v.d[i]) - 0.5L);
        sum += excess * excess / v.e[i];
    }
    return sum;
}

Extended likelihoodRatioG(const Deviations& v) {
    // o ln(o / e) = o ln(1 + (o - e) / e), with 0 ln 0 = 0.
    Extended sum = 0;
    for (int i = 0; i < 3; ++i)
        if (v.o[i] > 0) sum += v.o[i] * std::log1p(v.d[i] / v.e[i]);
    return std::max<Extended>(0, 2 * sum);
}

// Walks in doubles while their products stay exact and their rounding stays
// small (2n up to 2^22: at most about 2 10^4 steps of 2 roundings each); walks
// that would leave the double range, and larger samples, go in extended
// precision.
CountWalk walkFrom(std::uint64_t n, std::uint64_t a, std::uint64_t h, std::uint64_t last, bool up) {
    if (2 * n <= (std::uint64_t{1} << 22)) {
        const CountWalk walk = walkFromCount<double>(n, a, h, last, up, 1e300);
        if (!walk.beyond) return walk;
    }
    return walkFromCount<Extended>(n, a, h, last, up, kBeyondDouble);
}

double probability(Extended value) { return static_cast<double>(std::min<Extended>(value, 1)); }

}  // namespace

SampleSummary summarizeSample(const SampleCounts& counts) {
    checkCounts(counts);
    const Deviations v = deviationsOf(counts);
    SampleSummary s;
    s.n = counts.aa + counts.ab + counts.bb;
    s.p = static_cast<double>(v.a / (2 * v.n));
    s.expectedAA = static_cast<double>(v.e[0]);
    s.expectedAB = static_cast<double>(v.e[1]);
    s.expectedBB = static_cast<double>(v.e[2]);
    s.polymorphic = v.a > 0 && v.b > 0;
    if (s.polymorphic) s.f = static_cast<double>(v.f);
    return s;
}

namespace {

// The 1-df chi-square tail as a double. Near the centre the double erfc is as
// good and several times faster, which counts for millions of samples:
// rounding z to double brings a relative error of about 2 z^2 2^-53, below
// 6e-15 up to z = 5 (a tail of about 1.5e-12). Further out the tail needs the
// extended one.
double pValueOfStatistic(Extended statistic) {
    if (!(statistic > 0)) return 1;
    const Extended z = std::sqrt(statistic / 2);
    if (z <= 5) return std::erfc(static_cast<double>(z));
    return static_cast<double>(chiSquareUpperTail(statistic));
}

}  // namespace

std::optional<ExactPValues> exactPValues(const SampleCounts& counts) {
    checkCounts(counts);
    const std::uint64_t n = counts.aa + counts.ab + counts.bb;
    const std::uint64_t a = 2 * counts.aa + counts.ab;
    if (a == 0 || a == 2 * n) return std::nullopt;
    const std::uint64_t h = counts.ab;
    const std::uint64_t first = a % 2, last = std::min(a, 2 * n - a);
    const CountWalk below = walkFrom(n, a, h, first, false);
    const CountWalk above = walkFrom(n, a, h, last, true);

    ExactPValues p;
    if (below.beyond || above.beyond) {
        // h lies so far in one tail that every probability made of counts no
        // more probable than h underflows double; the other side's tail is
        // 1 less such a probability, which rounds to 1.
        const bool deficitSide = above.beyond;
        p.twoSided = p.midP = p.dost = 0;
        p.deficit = p.deficitMidP = deficitSide ? 0 : 1;
        p.excess = p.excessMidP = deficitSide ? 1 : 0;
        return p;
    }
    const Extended total = below.sum + 1 + above.sum;
    const Extended atMost = below.atMost + 1 + above.atMost;
    const Extended tied = below.tied + 1 + above.tied;
    p.twoSided = probability(atMost / total);
    p.midP = probability((atMost - tied / 2) / total);
    const Extended deficit = (below.sum + 1) / total, excess = (above.sum + 1) / total;
    p.deficit = probability(deficit);
    p.excess = probability(excess);
    p.deficitMidP = probability((below.sum + 0.5L) / total);
    p.excessMidP = probability((above.sum + 0.5L) / total);
    p.dost = probability(2 * std::min(deficit, excess));
    return p;
}

namespace {

// The statistic of a test with one, on a sample whose alleles both occur.
Extended statisticOf(HweTest test, const Deviations& v) {
    switch (test) {
        case HweTest::X2: return pearsonX2(v);
        case HweTest::X2cc: return correctedX2(v);
        case HweTest::GWindow:
            if (v.o[0] == 0 || v.o[1] == 0 || v.o[2] == 0) return kNotComputable;
            return likelihoodRatioG(v);
        default: return likelihoodRatioG(v);
    }
}

}  // namespace

Extended sampleStatistic(HweTest test, const SampleCounts& counts) {
    checkCounts(counts);
    const Deviations v = deviationsOf(counts);
    if (!hasStatistic(test) || !(v.a > 0 && v.b > 0)) return kNotComputable;
    return statisticOf(test, v);
}

std::vector<SampleTestValue> testSample(const SampleCounts& counts,
                                        std::span<const HweTest> tests) {
    checkCounts(counts);
    std::vector<SampleTestValue> values(tests.size());
    const Deviations v = deviationsOf(counts);
    if (!(v.a > 0 && v.b > 0)) return values;
    std::optional<ExactPValues> exact;
    for (std::size_t i = 0; i < tests.size(); ++i) {
        SampleTestValue& value = values[i];
        const HweTest test = tests[i];
        if (hasStatistic(test)) {
            const Extended statistic = statisticOf(test, v);
            if (statistic == kNotComputable) continue;
            value.statistic = static_cast<double>(statistic);
            value.pValue = pValueOfStatistic(statistic);
            continue;
        }
        if (!exact) exact = exactPValues(counts);
        switch (test) {
            case HweTest::Exact: value.pValue = exact->twoSided; break;
            case HweTest::ExactMidP: value.pValue = exact->midP; break;
            case HweTest::ExactDost: value.pValue = exact->dost; break;
            case HweTest::ExactDeficit: value.pValue = exact->deficit; break;
            case HweTest::ExactExcess: value.pValue = exact->excess; break;
            case HweTest::ExactDeficitMidP: value.pValue = exact->deficitMidP; break;
            case HweTest::ExactExcessMidP: value.pValue = exact->excessMidP; break;
            default: break;
        }
    }
    return values;
}

}  // namespace zyg
