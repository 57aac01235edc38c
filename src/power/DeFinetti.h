#pragma once

// The de Finetti diagram's data: the position of a genotype composition in the
// triangle, and the test's decision on every sample of n genotypes. No Qt.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/Types.h"
#include "engine/ExactPower.h"
#include "power/StudyRequest.h"

namespace zyg {

// A point of the triangle: A1A1 at (0, 0), A2A2 at (1, 0), A1A2 at the apex
// (1/2, sqrt(3)/2). x is the frequency of A2 and y is proportional to the
// heterozygote frequency.
struct TrianglePoint {
    double x = 0, y = 0;
};

TrianglePoint trianglePoint(double f11, double f12, double f22);
TrianglePoint trianglePoint(const GenotypeCounts& counts);

// The counts that the triangle point of a sample of n stands for (the inverse
// of trianglePoint on the lattice).
GenotypeCounts countsAt(TrianglePoint point, std::uint32_t n);

struct LatticePoint {
    GenotypeCounts counts;
    std::optional<bool> rejected;  // nothing when the test cannot be computed
};

// The males of an X-linked sample: a carry A1, b carry A2.
struct MaleCounts {
    std::uint64_t a = 0, b = 0;
};

// The males expected among nm of this frequency of A1: a = nm x pMale
// rounded, b = nm - a.
MaleCounts expectedMales(std::uint32_t nm, double pMale);

// A test's decision at the level on a sample of females with these males
// beside it: a test that counts the males takes all five counts (males alone
// included), the others the females alone. Nothing when the test cannot be
// computed for it.
std::optional<bool> rejectsOnX(HweTest test, const GenotypeCounts& females, const MaleCounts& males,
                               double level);

// Every sample of n genotypes (n from 1 to kMaxDiagramSampleSize) with the
// test's decision at the level, or nothing when `cancel` is set meanwhile.
// `progress`, when given, hears the share of samples decided, in percent,
// each time it grows. With `males`, the samples are an X-linked locus's
// females and those males stand beside every one of them (see rejectsOnX).
std::optional<std::vector<LatticePoint>> latticeDecisions(
    std::uint32_t n, HweTest test, double level, const std::atomic<bool>* cancel = nullptr,
    const std::function<void(int percent)>& progress = {},
    const std::optional<MaleCounts>& males = std::nullopt);

struct DeFinettiPicture {
    ModelSetting setting;
    std::uint32_t n = 0;
    HweTest test = HweTest::X2;
    double level = 0.05;
    std::vector<LatticePoint> lattice;
    std::optional<GenotypeCounts> lastSample;
    // An X-linked model: the males' frequency of A1. The triangle holds the
    // females' genotype frequencies; the males, who carry one allele, lie
    // on its base at their allele frequency.
    std::optional<double> pMale;
    // The males beside each lattice point when the test counts them.
    std::optional<MaleCounts> males;
};

}  // namespace zyg
