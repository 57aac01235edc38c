#pragma once

// The fast sampler: the same samples as referenceSampler, drawn with integer
// thresholds and many generator lanes at once.
//
// A uniform value is u = k / 2^32 for the integer k that the generator
// produces, so u < c holds exactly when k < ceil(c * 2^32). Both thresholds of
// a sample become integers once, and a draw costs two integer comparisons.
//
// The generator x <- a x + 1 (mod 2^32) has jump-ahead: m steps at once are
// x <- A_m x + C_m (mod 2^32). A kernel runs L lanes, lane j starting at the
// draw j + 1 of the sample and every lane stepping by A_L, C_L, so the draws
// of a sample are counted in vector registers, L at a time.

#include <cstdint>

#include "core/Types.h"

namespace zyg {

// ceil(c * 2^32), clamped to 0 and 2^32: the number of integers k from 0 to
// 2^32 - 1 with k / 2^32 < c. A NaN threshold admits no value.
std::uint64_t uniformThreshold(Extended c);

// The integer thresholds of one sample: a draw k is A1A1 when k < below11,
// A1A2 when below11 <= k < below12, A2A2 otherwise. below12 is never less than
// below11, so a second threshold at or below the first admits no A1A2.
struct DrawThresholds {
    std::uint64_t below11 = 0;
    std::uint64_t below12 = 0;
};

// From c1 = f11 and c2 = f11 + f12 (one extended addition), as drawSample
// forms them.
DrawThresholds drawThresholds(const GenotypeFrequencies& frequencies);
DrawThresholds drawThresholds(Extended c1, Extended c2);

// The affine map of m generator steps: seed -> multiplier * seed + increment.
struct SeedJump {
    std::uint32_t multiplier = 1;
    std::uint32_t increment = 0;
    std::uint32_t apply(std::uint32_t seed) const { return multiplier * seed + increment; }
};

// m steps of the generator at once, by repeated squaring. The generator's
// period is 2^32, so only m mod 2^32 matters.
SeedJump seedJump(std::uint64_t steps);

// The vector kernels. Auto picks the widest that the processor supports.
enum class SamplerKernel { Auto, Generic, Avx2, Avx512 };

bool kernelAvailable(SamplerKernel kernel);
// What Auto stands for on this processor (never Auto).
SamplerKernel resolveKernel(SamplerKernel kernel);
const char* kernelName(SamplerKernel kernel);

// The counts of n draws of the generator that starts at `seed` (the first draw
// is the step after it); the seed itself is not advanced. Equal to
// referenceSampler with the thresholds these integers come from.
GenotypeCounts fastSample(std::uint32_t seed, const DrawThresholds& thresholds, std::uint16_t n,
                          SamplerKernel kernel = SamplerKernel::Auto);

// A sampler bound to one kernel and one pair of thresholds, for the replicate
// loop: the kernel is chosen once, not per sample.
class SampleCounter {
public:
    SampleCounter(const DrawThresholds& thresholds, SamplerKernel kernel = SamplerKernel::Auto);
    GenotypeCounts operator()(std::uint32_t seed, std::uint16_t n) const;

private:
    using CountBelow = void (*)(std::uint32_t seed, std::uint32_t n, std::uint32_t t1,
                                std::uint32_t t2, std::uint32_t counts[2]);
    CountBelow count_;
    CountBelow countShort_;         // one vector of lanes, for samples that fill no more
    std::uint16_t shortLimit_ = 0;  // the largest sample size for countShort_
    DrawThresholds thresholds_;
};

// drawSample through the fast sampler: the same counts from the program-wide
// generator, which is left n steps further on.
GenotypeCounts drawSampleFast(const GenotypeFrequencies& frequencies, std::uint16_t n,
                              SamplerKernel kernel = SamplerKernel::Auto);

}  // namespace zyg
