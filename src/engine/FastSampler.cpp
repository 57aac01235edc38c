#include "engine/FastSampler.h"

#include <array>
#include <cmath>

#include "engine/Random.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZYG_X86_KERNELS 1
#endif

namespace zyg {

namespace {

constexpr std::uint64_t kTwoTo32 = std::uint64_t{1} << 32;

constexpr SeedJump composeJump(SeedJump outer, SeedJump inner) {
    return {outer.multiplier * inner.multiplier,
            outer.multiplier * inner.increment + outer.increment};
}

constexpr SeedJump jumpOf(std::uint64_t steps) {
    SeedJump result;                                      // no step at all
    SeedJump power{kRandomMultiplier, kRandomIncrement};  // one step, squared as we go
    for (; steps != 0; steps >>= 1) {
        if (steps & 1) result = composeJump(power, result);
        power = composeJump(power, power);
    }
    return result;
}

// Where lane j of an L-lane kernel starts (draw j + 1 after the seed) and how
// far every lane moves per vector step (L draws).
template <int L>
struct LaneTable {
    alignas(64) std::uint32_t startMultiplier[L];
    alignas(64) std::uint32_t startIncrement[L];
    SeedJump step;
};

template <int L>
constexpr LaneTable<L> makeLaneTable() {
    LaneTable<L> table{};
    for (int j = 0; j < L; ++j) {
        const SeedJump start = jumpOf(static_cast<std::uint64_t>(j) + 1);
        table.startMultiplier[j] = start.multiplier;
        table.startIncrement[j] = start.increment;
    }
    table.step = jumpOf(L);
    return table;
}

template <int L>
inline constexpr LaneTable<L> kLanes = makeLaneTable<L>();

// The kernels count, among the n draws after `seed`, those below t1 and those
// below t2 (32-bit thresholds; 2^32 is handled by the caller).

// Portable kernel: eight independent lanes in plain integers, which the
// compiler may vectorise for the baseline instruction set.
void countBelowGeneric(std::uint32_t seed, std::uint32_t n, std::uint32_t t1, std::uint32_t t2,
                       std::uint32_t counts[2]) {
    constexpr int L = 8;
    const LaneTable<L>& lanes = kLanes<L>;
    std::uint32_t state[L], below1[L] = {}, below2[L] = {};
    for (int j = 0; j < L; ++j)
        state[j] = lanes.startMultiplier[j] * seed + lanes.startIncrement[j];
    const std::uint32_t a = lanes.step.multiplier, c = lanes.step.increment;
    const std::uint32_t fullSteps = n / L;
    for (std::uint32_t i = 0; i < fullSteps; ++i) {
        for (int j = 0; j < L; ++j) {
            below1[j] += state[j] < t1;
            below2[j] += state[j] < t2;
            state[j] = state[j] * a + c;
        }
    }
    const int rest = static_cast<int>(n % L);
    for (int j = 0; j < rest; ++j) {
        below1[j] += state[j] < t1;
        below2[j] += state[j] < t2;
    }
    counts[0] = counts[1] = 0;
    for (int j = 0; j < L; ++j) {
        counts[0] += below1[j];
        counts[1] += below2[j];
    }
}

#ifdef ZYG_X86_KERNELS

// AVX2: V vectors of 8 lanes. AVX2 compares only signed integers, so the lanes
// hold k xor 2^31 and the thresholds likewise: k < t unsigned exactly when
// (k xor 2^31) < (t xor 2^31) signed. Flipping the top bit adds 2^31, and as
// the multiplier is odd, a (k + 2^31) + c = (a k + c) + 2^31 (mod 2^32): the
// flipped lanes follow the same recurrence.
template <int V>
__attribute__((target("avx2"))) void countBelowAvx2(std::uint32_t seed, std::uint32_t n,
                                                    std::uint32_t t1, std::uint32_t t2,
                                                    std::uint32_t counts[2]) {
    constexpr int L = 8 * V;
    const LaneTable<L>& lanes = kLanes<L>;
    const __m256i flip = _mm256_set1_epi32(static_cast<int>(0x80000000u));
    const __m256i x0 = _mm256_set1_epi32(static_cast<int>(seed));
    __m256i state[V], below1[V], below2[V];
#pragma GCC unroll 16
    for (int v = 0; v < V; ++v) {
        const __m256i a =
            _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.startMultiplier + 8 * v));
        const __m256i c =
            _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.startIncrement + 8 * v));
        state[v] = _mm256_xor_si256(_mm256_add_epi32(_mm256_mullo_epi32(a, x0), c), flip);
        below1[v] = below2[v] = _mm256_setzero_si256();
    }
    const __m256i a = _mm256_set1_epi32(static_cast<int>(lanes.step.multiplier));
    const __m256i c = _mm256_set1_epi32(static_cast<int>(lanes.step.increment));
    const __m256i limit1 = _mm256_set1_epi32(static_cast<int>(t1 ^ 0x80000000u));
    const __m256i limit2 = _mm256_set1_epi32(static_cast<int>(t2 ^ 0x80000000u));
    const std::uint32_t fullSteps = n / L;
    for (std::uint32_t i = 0; i < fullSteps; ++i) {
#pragma GCC unroll 16
        for (int v = 0; v < V; ++v) {
            below1[v] = _mm256_sub_epi32(below1[v], _mm256_cmpgt_epi32(limit1, state[v]));
            below2[v] = _mm256_sub_epi32(below2[v], _mm256_cmpgt_epi32(limit2, state[v]));
            state[v] = _mm256_add_epi32(_mm256_mullo_epi32(state[v], a), c);
        }
    }
    const int rest = static_cast<int>(n % L);
    if (rest != 0) {
        const __m256i laneIndex = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
#pragma GCC unroll 16
        for (int v = 0; v < V; ++v) {
            const __m256i valid = _mm256_cmpgt_epi32(_mm256_set1_epi32(rest - 8 * v), laneIndex);
            below1[v] = _mm256_sub_epi32(
                below1[v], _mm256_and_si256(valid, _mm256_cmpgt_epi32(limit1, state[v])));
            below2[v] = _mm256_sub_epi32(
                below2[v], _mm256_and_si256(valid, _mm256_cmpgt_epi32(limit2, state[v])));
        }
    }
    __m256i sum1 = below1[0], sum2 = below2[0];
    for (int v = 1; v < V; ++v) {
        sum1 = _mm256_add_epi32(sum1, below1[v]);
        sum2 = _mm256_add_epi32(sum2, below2[v]);
    }
    // Two horizontal additions leave, in each 128-bit half, that half's total
    // of sum1 in element 0 and of sum2 in element 1.
    __m256i both = _mm256_hadd_epi32(sum1, sum2);
    both = _mm256_hadd_epi32(both, both);
    const __m128i halves =
        _mm_add_epi32(_mm256_castsi256_si128(both), _mm256_extracti128_si256(both, 1));
    counts[0] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(halves));
    counts[1] = static_cast<std::uint32_t>(_mm_extract_epi32(halves, 1));
}

// AVX-512: V vectors of 16 lanes. Unsigned compares give 16-bit lane masks,
// whose population counts are added up in general registers; this keeps the
// vector units to the generator and the compares.
template <int V>
__attribute__((target("avx512f,avx512bw,popcnt"))) void countBelowAvx512(std::uint32_t seed,
                                                                         std::uint32_t n,
                                                                         std::uint32_t t1,
                                                                         std::uint32_t t2,
                                                                         std::uint32_t counts[2]) {
    constexpr int L = 16 * V;
    const LaneTable<L>& lanes = kLanes<L>;
    const __m512i x0 = _mm512_set1_epi32(static_cast<int>(seed));
    __m512i state[V];
#pragma GCC unroll 16
    for (int v = 0; v < V; ++v)
        state[v] = _mm512_add_epi32(
            _mm512_mullo_epi32(_mm512_load_si512(lanes.startMultiplier + 16 * v), x0),
            _mm512_load_si512(lanes.startIncrement + 16 * v));
    const __m512i a = _mm512_set1_epi32(static_cast<int>(lanes.step.multiplier));
    const __m512i c = _mm512_set1_epi32(static_cast<int>(lanes.step.increment));
    const __m512i limit1 = _mm512_set1_epi32(static_cast<int>(t1));
    const __m512i limit2 = _mm512_set1_epi32(static_cast<int>(t2));
    std::uint64_t below1 = 0, below2 = 0;
    const std::uint32_t fullSteps = n / L;
    for (std::uint32_t i = 0; i < fullSteps; ++i) {
#pragma GCC unroll 16
        for (int v = 0; v < V; ++v) {
            below1 += static_cast<std::uint64_t>(
                _mm_popcnt_u32(_cvtmask16_u32(_mm512_cmplt_epu32_mask(state[v], limit1))));
            below2 += static_cast<std::uint64_t>(
                _mm_popcnt_u32(_cvtmask16_u32(_mm512_cmplt_epu32_mask(state[v], limit2))));
            state[v] = _mm512_add_epi32(_mm512_mullo_epi32(state[v], a), c);
        }
    }
    const int rest = static_cast<int>(n % L);
    if (rest != 0) {
#pragma GCC unroll 16
        for (int v = 0; v < V; ++v) {
            const int lanesLeft = rest - 16 * v;
            if (lanesLeft <= 0) break;
            const __mmask16 valid =
                lanesLeft >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << lanesLeft) - 1);
            below1 += static_cast<std::uint64_t>(_mm_popcnt_u32(
                _cvtmask16_u32(_mm512_mask_cmplt_epu32_mask(valid, state[v], limit1))));
            below2 += static_cast<std::uint64_t>(_mm_popcnt_u32(
                _cvtmask16_u32(_mm512_mask_cmplt_epu32_mask(valid, state[v], limit2))));
        }
    }
    counts[0] = static_cast<std::uint32_t>(below1);
    counts[1] = static_cast<std::uint32_t>(below2);
}

// Enough independent lanes to hide the multiply's latency without running out
// of registers (16 vector registers under AVX2, 32 under AVX-512).
constexpr int kAvx2Vectors = 4;
constexpr int kAvx512Vectors = 4;

#endif  // ZYG_X86_KERNELS

}  // namespace

std::uint64_t uniformThreshold(Extended c) {
    if (!(c > 0)) return 0;  // also a NaN: no u compares below it
    if (c >= 1) return kTwoTo32;
    // c * 2^32 only moves the exponent, so it is exact; u = k / 2^32 < c holds
    // exactly for the integers k below its ceiling.
    return static_cast<std::uint64_t>(std::ceil(c * 0x1p32L));
}

DrawThresholds drawThresholds(Extended c1, Extended c2) {
    const std::uint64_t below11 = uniformThreshold(c1);
    const std::uint64_t below12 = uniformThreshold(c2);
    return {below11, below12 > below11 ? below12 : below11};
}

DrawThresholds drawThresholds(const GenotypeFrequencies& frequencies) {
    return drawThresholds(frequencies.f11, frequencies.f11 + frequencies.f12);
}

SeedJump seedJump(std::uint64_t steps) { return jumpOf(steps); }

bool kernelAvailable(SamplerKernel kernel) {
    switch (kernel) {
        case SamplerKernel::Auto:
        case SamplerKernel::Generic: return true;
#ifdef ZYG_X86_KERNELS
        case SamplerKernel::Avx2: return __builtin_cpu_supports("avx2");
        case SamplerKernel::Avx512:  // everything its target attribute lets the compiler use
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("popcnt");
#else
        case SamplerKernel::Avx2:
        case SamplerKernel::Avx512: return false;
#endif
    }
    return false;
}

SamplerKernel resolveKernel(SamplerKernel kernel) {
    if (kernel != SamplerKernel::Auto) return kernel;
    static const SamplerKernel best = kernelAvailable(SamplerKernel::Avx512) ? SamplerKernel::Avx512
                                      : kernelAvailable(SamplerKernel::Avx2)
                                          ? SamplerKernel::Avx2
                                          : SamplerKernel::Generic;
    return best;
}

const char* kernelName(SamplerKernel kernel) {
    switch (kernel) {
        case SamplerKernel::Auto: return "auto";
        case SamplerKernel::Generic: return "generic";
        case SamplerKernel::Avx2: return "AVX2";
        case SamplerKernel::Avx512: return "AVX-512";
    }
    return "?";
}

SampleCounter::SampleCounter(const DrawThresholds& thresholds, SamplerKernel kernel)
    : count_(countBelowGeneric), countShort_(countBelowGeneric), thresholds_(thresholds) {
#ifdef ZYG_X86_KERNELS
    switch (resolveKernel(kernel)) {
        case SamplerKernel::Avx512:
            count_ = countBelowAvx512<kAvx512Vectors>;
            countShort_ = countBelowAvx512<1>;
            shortLimit_ = 16;
            break;
        case SamplerKernel::Avx2:
            count_ = countBelowAvx2<kAvx2Vectors>;
            countShort_ = countBelowAvx2<1>;
            shortLimit_ = 8;
            break;
        default: break;
    }
#else
    (void)kernel;
#endif
}

GenotypeCounts SampleCounter::operator()(std::uint32_t seed, std::uint16_t n) const {
    const std::uint64_t below11 = thresholds_.below11, below12 = thresholds_.below12;
    std::uint32_t count11, count12;  // draws below each threshold
    if (n == 0 || below12 == 0) {
        count11 = count12 = 0;
    } else if (below11 == kTwoTo32) {
        count11 = count12 = n;
    } else {
        std::uint32_t counts[2];
        const bool allBelow12 = below12 == kTwoTo32;
        (n <= shortLimit_ ? countShort_ : count_)(
            seed, n, static_cast<std::uint32_t>(below11),
            allBelow12 ? 0 : static_cast<std::uint32_t>(below12), counts);
        count11 = counts[0];
        count12 = allBelow12 ? n : counts[1];
    }
    return {static_cast<std::uint16_t>(count11), static_cast<std::uint16_t>(count12 - count11),
            static_cast<std::uint16_t>(n - count12)};
}

GenotypeCounts fastSample(std::uint32_t seed, const DrawThresholds& thresholds, std::uint16_t n,
                          SamplerKernel kernel) {
    return SampleCounter(thresholds, kernel)(seed, n);
}

GenotypeCounts drawSampleFast(const GenotypeFrequencies& frequencies, std::uint16_t n,
                              SamplerKernel kernel) {
    const std::uint32_t seed = randomSeed();
    const GenotypeCounts counts = fastSample(seed, drawThresholds(frequencies), n, kernel);
    setRandomSeed(seedJump(n).apply(seed));
    return counts;
}

}  // namespace zyg
