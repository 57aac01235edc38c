#include "power/DeFinetti.h"

#include <algorithm>
#include <cmath>

#include "engine/XLinked.h"

namespace zyg {

namespace {
const double kHeight = std::sqrt(3.0) / 2;
// A p-value equal to the level is rejected whatever its last bits.
constexpr Extended kLevelTolerance = 1e-9L;
}  // namespace

TrianglePoint trianglePoint(double f11, double f12, double f22) {
    (void)f11;
    return {f22 + f12 / 2, f12 * kHeight};
}

TrianglePoint trianglePoint(const GenotypeCounts& c) {
    const double n = c.o11 + c.o12 + c.o22;
    return trianglePoint(c.o11 / n, c.o12 / n, c.o22 / n);
}

GenotypeCounts countsAt(TrianglePoint point, std::uint32_t n) {
    const auto het = static_cast<long>(std::lround(point.y / kHeight * n));
    const auto hom2 = static_cast<long>(std::lround(point.x * n - het / 2.0));
    GenotypeCounts c;
    c.o12 = static_cast<std::uint16_t>(het);
    c.o22 = static_cast<std::uint16_t>(hom2);
    c.o11 = static_cast<std::uint16_t>(static_cast<long>(n) - het - hom2);
    return c;
}

MaleCounts expectedMales(std::uint32_t nm, double pMale) {
    const auto a = static_cast<std::uint64_t>(std::llround(static_cast<double>(nm) * pMale));
    return {std::min<std::uint64_t>(a, nm), nm - std::min<std::uint64_t>(a, nm)};
}

std::optional<bool> rejectsOnX(HweTest test, const GenotypeCounts& females, const MaleCounts& males,
                               double level) {
    const std::optional<XTest> counted = parseXTest(hweTestName(test));
    if (!counted) return rejects(test, females, level);
    const XSampleCounts x{females.o11, females.o12, females.o22, males.a, males.b};
    if (x.aa + x.ab + x.bb + x.a + x.b == 0) return std::nullopt;
    const std::optional<Extended> p = testXSample(x, std::span(&*counted, 1)).front().pValue;
    if (!p) return std::nullopt;
    return *p <= static_cast<Extended>(level) * (1 + kLevelTolerance);
}

std::optional<std::vector<LatticePoint>> latticeDecisions(std::uint32_t n, HweTest test,
                                                          double level,
                                                          const std::atomic<bool>* cancel,
                                                          const std::function<void(int)>& progress,
                                                          const std::optional<MaleCounts>& males) {
    std::vector<LatticePoint> points;
    const std::size_t total = static_cast<std::size_t>(n + 1) * (n + 2) / 2;
    points.reserve(total);
    int lastPercent = -1;
    for (std::uint32_t het = 0; het <= n; ++het) {
        if (cancel && cancel->load()) return std::nullopt;
        if (progress) {
            if (const auto percent = static_cast<int>(points.size() * 100 / total);
                percent != lastPercent)
                progress(lastPercent = percent);
        }
        for (std::uint32_t hom1 = 0; hom1 + het <= n; ++hom1) {
            const GenotypeCounts c{static_cast<std::uint16_t>(hom1),
                                   static_cast<std::uint16_t>(het),
                                   static_cast<std::uint16_t>(n - hom1 - het)};
            points.push_back(
                {c, males ? rejectsOnX(test, c, *males, level) : rejects(test, c, level)});
        }
    }
    return points;
}

}  // namespace zyg
