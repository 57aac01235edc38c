#include "engine/Sampling.h"

#include <cmath>

#include "engine/Checked.h"
#include "engine/Random.h"

namespace zyg {

GenotypeCounts referenceSampler(std::uint32_t& seed, Extended c1, Extended c2, std::uint16_t n) {
    GenotypeCounts counts;
    for (std::uint16_t i = 0; i < n; ++i) {
        seed = stepSeed(seed);
        const Extended u = static_cast<Extended>(seed) * kTwoToMinus32;
        if (u < c1)
            ++counts.o11;
        else if (u < c2)
            ++counts.o12;
        else
            ++counts.o22;
    }
    return counts;
}

GenotypeCounts drawSample(const GenotypeFrequencies& frequencies, std::uint16_t n) {
    const Extended c1 = frequencies.f11;
    const Extended c2 = frequencies.f11 + frequencies.f12;
    std::uint32_t seed = randomSeed();
    const GenotypeCounts counts = referenceSampler(seed, c1, c2, n);
    setRandomSeed(seed);
    return counts;
}

ExpectedCounts sampleExpectedCounts(const GenotypeCounts& counts, std::uint16_t n) {
    const Extended size = n;
    const Extended p = checkedDivide((static_cast<Extended>(counts.o12) * 0.5L) + counts.o11, size);
    const Extended q = 1 - p;
    return {(p * p) * size, ((p * 2) * q) * size, (q * q) * size};
}

namespace {

struct Cell {
    Extended observed;
    Extended expected;
};

template <class Term>
bool sumCells(const GenotypeCounts& counts, const ExpectedCounts& expected, Extended& sum,
              Term term) {
    const Cell cells[3] = {{static_cast<Extended>(counts.o11), expected.e11},
                           {static_cast<Extended>(counts.o12), expected.e12},
                           {static_cast<Extended>(counts.o22), expected.e22}};
    bool computable = true;
    sum = 0;
    for (const Cell& cell : cells) {
        if (!term(cell, sum)) computable = false;
    }
    return computable;
}

}  // namespace

Extended pearsonX2(const GenotypeCounts& counts, const ExpectedCounts& expected) {
    Extended sum;
    const bool computable = sumCells(counts, expected, sum, [](const Cell& c, Extended& s) {
        if (c.expected <= 0) return false;
        const Extended d = c.observed - c.expected;
        s = ((d * d) / c.expected) + s;
        return true;
    });
    return computable ? sum : kNotComputable;
}

Extended likelihoodRatioG(const GenotypeCounts& counts, const ExpectedCounts& expected) {
    Extended sum;
    const bool computable = sumCells(counts, expected, sum, [](const Cell& c, Extended& s) {
        if (c.observed == 0 || c.expected <= 0) return false;
        s = (std::log(c.observed / c.expected) * c.observed) + s;
        return true;
    });
    return computable ? computedG(2 * sum) : kNotComputable;
}

}  // namespace zyg
