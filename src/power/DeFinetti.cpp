#include "power/DeFinetti.h"

#include <cmath>

namespace zyg {

namespace {
const double kHeight = std::sqrt(3.0) / 2;
}

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

std::optional<std::vector<LatticePoint>> latticeDecisions(
    std::uint32_t n, HweTest test, double level, const std::atomic<bool>* cancel,
    const std::function<void(int)>& progress) {
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
            points.push_back({c, rejects(test, c, level)});
        }
    }
    return points;
}

}  // namespace zyg
