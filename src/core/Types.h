#pragma once

// The types that the engine, the window and the results file share.

#include <array>
#include <cstdint>
#include <limits>

namespace zyg {

// Every real of the engine is an 80-bit extended real with a 64-bit
// significand; the results depend on it to the last bit.
using Extended = long double;
static_assert(std::numeric_limits<Extended>::digits == 64,
              "the engine needs the 80-bit extended type (64-bit significand)");

// The generating models, in the order of the window's radio buttons and of
// the model names in the results file. Error and NullAllele are models of
// the power studies only (genotypes read through a genotyping-error process,
// a non-amplifying allele): the main window never offers them and the
// results file never holds them.
enum class GenotypeModel : int {
    HardyWeinberg = 0,
    Wahlund = 1,
    Inbreeding = 2,
    Selection = 3,
    Error = 4,
    NullAllele = 5
};

// Relative frequencies of A1A1, A1A2, A2A2 in the sampled population. Their
// sum is 1 only up to rounding and is never renormalised.
struct GenotypeFrequencies {
    Extended f11 = 0, f12 = 0, f22 = 0;
};

// Expected numbers of A1A1, A1A2, A2A2; fractional and never rounded.
struct ExpectedCounts {
    Extended e11 = 0, e12 = 0, e22 = 0;
};

// Observed numbers of A1A1, A1A2, A2A2 in one sample; they add up to n.
struct GenotypeCounts {
    std::uint16_t o11 = 0, o12 = 0, o22 = 0;
    friend bool operator==(const GenotypeCounts&, const GenotypeCounts&) = default;
};

// A test statistic of exactly this value could not be computed; any value of
// 0 or more is a computed statistic.
inline constexpr Extended kNotComputable = -1.0L;

inline constexpr std::uint32_t kMaxSampleSize = 10000;
inline constexpr std::uint32_t kMaxReplicates = 50000;

struct SimulationSettings {
    std::uint32_t n = 0;     // sample size, at most kMaxSampleSize after the refresh
    std::uint32_t nrep = 0;  // replicates, at most kMaxReplicates after the refresh
    bool x2On = false;
    bool gOn = false;
};

// A table of one statistic per replicate, indexed 1 to 50000. Every index is
// range-checked.
class ReplicateTable {
public:
    Extended& operator[](std::uint32_t replicate);
    const Extended& operator[](std::uint32_t replicate) const;
    Extended* data() { return values_.data(); }  // replicate i lives at data()[i - 1]
    const Extended* data() const { return values_.data(); }

private:
    std::array<Extended, kMaxReplicates> values_{};
};

struct SimulationState {
    bool valid = false;
    GenotypeFrequencies frequencies;
    ExpectedCounts expected;
    GenotypeCounts lastSample;
    ReplicateTable x2Table;
    ReplicateTable gTable;
    std::uint16_t x2Ok = 0;
    std::uint16_t gOk = 0;
};

// The program-wide settings and state: static storage that lives as long as
// the program, so the two tables are allocated once and never per run.
SimulationSettings& simulationSettings();
SimulationState& simulationState();

}  // namespace zyg
