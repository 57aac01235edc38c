// A plain, complete-enumeration implementation of engine/ExactPower.h, built
// only while the engine's own implementation is absent from the tree (see
// CMakeLists.txt). It sums the multinomial probabilities of every genotype
// triple whose probability is not negligible; it is slow at large n but exact.

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "engine/ExactPower.h"
#include "engine/Models.h"
#include "engine/Sampling.h"
#include "engine/Simulation.h"

namespace zyg {

std::string_view hweTestName(HweTest test) {
    switch (test) {
        case HweTest::X2: return "x2";
        case HweTest::G: return "g";
        case HweTest::X2cc: return "x2cc";
        case HweTest::Exact: return "exact";
    }
    return "x2";
}

std::optional<HweTest> parseHweTest(std::string_view name) {
    for (HweTest t : {HweTest::X2, HweTest::G, HweTest::X2cc, HweTest::Exact})
        if (hweTestName(t) == name) return t;
    return std::nullopt;
}

std::string checkModel(const ModelSpec& spec) {
    std::ostringstream out;
    auto bad = [&](const char* name, double v, const char* allowed) {
        out << name << " is " << v << "; it must be " << allowed << ".";
        return out.str();
    };
    if (!(spec.p >= 0.01 && spec.p <= 0.99)) return bad("p", spec.p, "between 0.01 and 0.99");
    switch (spec.model) {
        case GenotypeModel::HardyWeinberg: break;
        case GenotypeModel::Wahlund: {
            const double pq = spec.p * (1 - spec.p);
            if (!(spec.var >= 0 && spec.var <= pq)) {
                out << "var is " << spec.var << "; it must be between 0 and p*q = " << pq << ".";
                return out.str();
            }
            break;
        }
        case GenotypeModel::Inbreeding:
            if (!(spec.f >= 0 && spec.f <= 1)) return bad("f", spec.f, "between 0 and 1");
            break;
        case GenotypeModel::Selection:
            for (auto [name, w] : {std::pair{"W11", spec.w11}, std::pair{"W12", spec.w12},
                                   std::pair{"W22", spec.w22}})
                if (!(w >= 0 && w <= 10)) return bad(name, w, "between 0 and 10");
            if (spec.w11 == 0 && spec.w12 == 0 && spec.w22 == 0)
                return "The fitnesses W11, W12 and W22 cannot all be zero.";
            break;
    }
    return {};
}

GenotypeFrequencies frequenciesOf(const ModelSpec& spec) {
    const Extended p = spec.p;
    return modelFrequencies(spec.model, p, 1 - p, spec.var, spec.f,
                            Fitnesses{spec.w11, spec.w12, spec.w22});
}

Extended criticalValue(double level) {
    if (level == 0.05) return kCritical05;
    if (level == 0.01) return kCritical01;
    // The upper `level` quantile of chi-square with 1 df: P(X > c) = erfc(sqrt(c / 2)).
    double lo = 0, hi = 100;
    for (int i = 0; i < 200; ++i) {
        const double mid = (lo + hi) / 2;
        (std::erfc(std::sqrt(mid / 2)) > level ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

namespace {

// The probabilities of the heterozygote counts given the allele count a1 of
// A1 among 2n alleles, indexed by h.
std::vector<double> heterozygoteDistribution(int n, int a1) {
    const int a2 = 2 * n - a1;
    std::vector<double> prob(static_cast<std::size_t>(std::min(a1, a2)) + 1, 0.0);
    long double total = 0;
    std::vector<long double> logs(prob.size(), 0);
    for (int h = a1 % 2; h <= std::min(a1, a2); h += 2) {
        const int hom1 = (a1 - h) / 2, hom2 = (a2 - h) / 2;
        logs[static_cast<std::size_t>(h)] = std::lgamma(static_cast<long double>(n) + 1) -
                                            std::lgamma(static_cast<long double>(h) + 1) -
                                            std::lgamma(static_cast<long double>(hom1) + 1) -
                                            std::lgamma(static_cast<long double>(hom2) + 1) +
                                            h * std::log(2.0L);
    }
    long double top = -1e300L;
    for (int h = a1 % 2; h <= std::min(a1, a2); h += 2)
        top = std::max(top, logs[static_cast<std::size_t>(h)]);
    for (int h = a1 % 2; h <= std::min(a1, a2); h += 2) {
        const long double v = std::exp(logs[static_cast<std::size_t>(h)] - top);
        prob[static_cast<std::size_t>(h)] = static_cast<double>(v);
        total += v;
    }
    for (double& v : prob) v = static_cast<double>(v / total);
    return prob;
}

double pValueFrom(const std::vector<double>& prob, int h) {
    const double observed = prob[static_cast<std::size_t>(h)];
    double sum = 0;
    for (double v : prob)
        if (v > 0 && v <= observed * (1 + 1e-7)) sum += v;
    return std::min(1.0, sum);
}

}  // namespace

std::optional<double> exactTestPValue(const GenotypeCounts& counts) {
    const int n = counts.o11 + counts.o12 + counts.o22;
    const int a1 = 2 * counts.o11 + counts.o12;
    if (a1 == 0 || a1 == 2 * n) return std::nullopt;
    return pValueFrom(heterozygoteDistribution(n, a1), counts.o12);
}

std::optional<bool> rejects(HweTest test, const GenotypeCounts& counts, double level) {
    const int n = counts.o11 + counts.o12 + counts.o22;
    if (n == 0) return std::nullopt;
    if (test == HweTest::Exact) {
        const std::optional<double> pv = exactTestPValue(counts);
        if (!pv) return std::nullopt;
        return *pv <= level;
    }
    const ExpectedCounts e = sampleExpectedCounts(counts, static_cast<std::uint16_t>(n));
    const Extended critical = criticalValue(level);
    if (test == HweTest::X2) {
        const Extended x2 = pearsonX2(counts, e);
        if (x2 == kNotComputable) return std::nullopt;
        return x2 > critical;
    }
    if (test == HweTest::G) {
        const Extended g = likelihoodRatioG(counts, e);
        if (g == kNotComputable) return std::nullopt;
        return g > critical;
    }
    if (e.e11 <= 0 || e.e12 <= 0 || e.e22 <= 0) return std::nullopt;
    auto term = [](Extended o, Extended ex) {
        const Extended d = std::fabs(o - ex) - 0.5L;
        return d * d / ex;
    };
    const Extended x2cc =
        term(counts.o11, e.e11) + term(counts.o12, e.e12) + term(counts.o22, e.e22);
    return x2cc > critical;
}

std::vector<ExactPower> exactPower(const ModelSpec& spec, std::uint32_t n,
                                   std::span<const TestLevel> tests) {
    const GenotypeFrequencies fr = frequenciesOf(spec);
    std::vector<long double> logFactorial(n + 1, 0);
    for (std::uint32_t k = 1; k <= n; ++k)
        logFactorial[k] = logFactorial[k - 1] + std::log(static_cast<long double>(k));
    auto logOf = [](Extended f) { return f > 0 ? std::log(f) : -1e300L; };
    const long double l11 = logOf(fr.f11), l12 = logOf(fr.f12), l22 = logOf(fr.f22);
    std::vector<ExactPower> out(tests.size());
    std::map<int, std::vector<double>> rows;  // heterozygote distributions by allele count
    long double kept = 0;
    for (std::uint32_t a = 0; a <= n; ++a) {
        for (std::uint32_t b = 0; a + b <= n; ++b) {
            const std::uint32_t c = n - a - b;
            if ((a && fr.f11 <= 0) || (b && fr.f12 <= 0) || (c && fr.f22 <= 0)) continue;
            const long double lp = logFactorial[n] - logFactorial[a] - logFactorial[b] -
                                   logFactorial[c] + (a ? a * l11 : 0) + (b ? b * l12 : 0) +
                                   (c ? c * l22 : 0);
            if (lp < -50) continue;
            const long double prob = std::exp(lp);
            kept += prob;
            const GenotypeCounts counts{static_cast<std::uint16_t>(a),
                                        static_cast<std::uint16_t>(b),
                                        static_cast<std::uint16_t>(c)};
            for (std::size_t t = 0; t < tests.size(); ++t) {
                std::optional<bool> r;
                if (tests[t].test == HweTest::Exact) {
                    const int a1 = static_cast<int>(2 * a + b);
                    if (a1 != 0 && a1 != static_cast<int>(2 * n)) {
                        auto it = rows.find(a1);
                        if (it == rows.end())
                            it = rows.emplace(a1, heterozygoteDistribution(static_cast<int>(n), a1))
                                     .first;
                        r = pValueFrom(it->second, static_cast<int>(b)) <= tests[t].level;
                    }
                } else {
                    r = rejects(tests[t].test, counts, tests[t].level);
                }
                if (r) {
                    out[t].testable += static_cast<double>(prob);
                    if (*r) out[t].power += static_cast<double>(prob);
                }
            }
        }
    }
    for (ExactPower& e : out) {
        e.conditionalPower = e.testable > 0 ? e.power / e.testable : std::nan("");
        e.massLeftOut = std::max(0.0, static_cast<double>(1 - kept));
    }
    return out;
}

}  // namespace zyg
