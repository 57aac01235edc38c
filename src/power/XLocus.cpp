// Power on chromosome X: the study's settings split into the females' model,
// the male allele frequency and the numbers of each sex; the tests that count
// the males go to the X-linked engine, the others to the autosomal engine on
// the females alone.

#include <cmath>
#include <limits>
#include <random>
#include <unordered_map>

#include "engine/XLinked.h"
#include "power/PowerStudy.h"

namespace zyg {

namespace {

// The X-linked engine's test of a catalogue test, which shares its name.
std::optional<XTest> xTestOf(HweTest test) { return parseXTest(hweTestName(test)); }

}  // namespace

XSampleSize xSampleSize(std::uint32_t n, double males) {
    const auto nm = static_cast<std::uint32_t>(std::llround(static_cast<double>(n) * males));
    return {n - std::min(nm, n), std::min(nm, n)};
}

std::vector<ExactPower> settingPower(const ModelSetting& setting, std::uint32_t n,
                                     std::span<const TestLevel> tests) {
    if (setting.locus == LocusKind::Autosomal) return exactPower(setting, n, tests);
    const XSampleSize size = xSampleSize(n, setting.males);
    std::vector<XTestLevel> male;
    std::vector<TestLevel> female;
    for (const TestLevel& t : tests) {
        if (const auto xt = xTestOf(t.test))
            male.push_back({*xt, t.level});
        else
            female.push_back(t);
    }
    const std::vector<ExactPower> withMales =
        male.empty() ? std::vector<ExactPower>{} : xExactPower(setting, size, male);
    const std::vector<ExactPower> females =
        female.empty() ? std::vector<ExactPower>{} : femaleOnlyPower(setting, size, female);
    std::vector<ExactPower> out;
    std::size_t m = 0, f = 0;
    for (const TestLevel& t : tests) out.push_back(xTestOf(t.test) ? withMales[m++] : females[f++]);
    return out;
}

std::vector<PowerPoint> simulateXPoint(const ModelSetting& model, std::uint32_t n,
                                       const std::vector<HweTest>& tests,
                                       const std::vector<double>& levels, std::uint32_t replicates,
                                       std::uint32_t seed) {
    const XSampleSize size = xSampleSize(n, model.males);
    const GenotypeFrequencies g = frequenciesOf(femaleSetting(model));
    const double f11 = static_cast<double>(g.f11);
    const double f12 = static_cast<double>(g.f12);
    // Females: AA, then AB among the rest; males: the count of A.
    std::mt19937_64 random(seed);
    std::vector<XSampleCounts> samples(replicates);
    for (XSampleCounts& c : samples) {
        c.aa = std::binomial_distribution<std::uint32_t>(size.females, std::min(1.0, f11))(random);
        const double rest = 1 - f11;
        const std::uint32_t left = size.females - static_cast<std::uint32_t>(c.aa);
        c.ab = rest > 0 ? std::binomial_distribution<std::uint32_t>(
                              left, std::clamp(f12 / rest, 0.0, 1.0))(random)
                        : 0;
        c.bb = left - c.ab;
        c.a = std::binomial_distribution<std::uint32_t>(size.males, model.pMale)(random);
        c.b = size.males - c.a;
    }

    std::vector<PowerPoint> out;
    for (HweTest test : tests) {
        // Every sample's p-value once (the X tests), or its decision per level.
        const std::optional<XTest> xt = xTestOf(test);
        std::vector<std::optional<Extended>> pValues;
        if (xt)
            for (const XSampleCounts& c : samples)
                pValues.push_back(c.aa + c.ab + c.bb + c.a + c.b == 0
                                      ? std::nullopt
                                      : testXSample(c, std::span<const XTest>(&*xt, 1))[0].pValue);
        for (double level : levels) {
            PowerPoint point = simulatedPoint(model, n, test, level, replicates, seed);
            std::uint32_t tested = 0, rejected = 0;
            if (xt) {
                // As the exact power decides: within a relative 1e-9 of the level is at it.
                const Extended at = static_cast<Extended>(level) * (1 + 1e-9L);
                for (const auto& p : pValues)
                    if (p) {
                        ++tested;
                        rejected += *p <= at;
                    }
            } else {
                std::unordered_map<std::uint32_t, std::optional<ExactRejection>> bounds;
                for (const XSampleCounts& c : samples) {
                    const GenotypeCounts females{static_cast<std::uint16_t>(c.aa),
                                                 static_cast<std::uint16_t>(c.ab),
                                                 static_cast<std::uint16_t>(c.bb)};
                    if (isExactFamily(test)) {
                        const auto a = static_cast<std::uint32_t>(2 * c.aa + c.ab);
                        auto it = bounds.find(a);
                        if (it == bounds.end())
                            it = bounds.emplace(a, exactRejection(test, size.females, a, level))
                                     .first;
                        if (!it->second) continue;
                        ++tested;
                        rejected +=
                            females.o12 <= it->second->low || females.o12 >= it->second->high;
                    } else if (size.females > 0) {
                        if (const auto d = rejects(test, females, level)) {
                            ++tested;
                            rejected += *d;
                        }
                    }
                }
            }
            fillSimulatedPoint(point, tested, rejected, replicates);
            out.push_back(point);
        }
    }
    return out;
}

}  // namespace zyg
