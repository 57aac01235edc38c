#pragma once

// The statistics of a sample depend on nothing but its counts and its size,
// and the samples of one run repeat the same counts often unless n is large.
// This remembers the statistics of recently seen counts, in a direct-mapped
// table of one thread, and hands back exactly what the computation gives.

#include <array>
#include <cstdint>
#include <memory>

#include "core/Types.h"
#include "engine/SampleStatistics.h"

namespace zyg {

class StatisticCache {
public:
    // The calling thread's cache, made the first time it asks.
    static StatisticCache& forThisThread() {
        thread_local std::unique_ptr<StatisticCache> cache = std::make_unique<StatisticCache>();
        return *cache;
    }

    // Starts loading the place of these counts, for a statistics() call a
    // little later.
    void prefetch(const GenotypeCounts& counts, std::uint16_t n, bool x2On, bool gOn) const {
        const Entry* entry = &entries_[slot(keyOf(counts, n, x2On, gOn))];
#if defined(__x86_64__) || defined(__i386__)
        // GCC drops __builtin_prefetch in the replicate loop; this one stays.
        asm volatile("prefetcht0 %0" : : "m"(*entry));
#else
        __builtin_prefetch(entry);
#endif
    }

    // X2 and G of the sample (each only when asked for): pearsonX2 and
    // likelihoodRatioG of the counts and their sampleExpectedCounts. n must be
    // at least 1.
    void statistics(const GenotypeCounts& counts, std::uint16_t n, bool x2On, bool gOn,
                    Extended& x2, Extended& g) {
        const std::uint64_t key = keyOf(counts, n, x2On, gOn);
        Entry& entry = entries_[slot(key)];
        if (entry.key != key || counts.o22 != entry.o22) {
            entry.key = key;
            entry.o22 = counts.o22;
            sampleStatistics(counts, n, x2On, gOn, entry.x2, entry.g);
        }
        x2 = entry.x2;
        g = entry.g;
    }

private:
    static constexpr int kBits = 15;

    static std::uint64_t keyOf(const GenotypeCounts& counts, std::uint16_t n, bool x2On, bool gOn) {
        return std::uint64_t{counts.o11} | std::uint64_t{counts.o12} << 16 |
               std::uint64_t{n} << 32 | std::uint64_t{x2On} << 48 | std::uint64_t{gOn} << 49 |
               std::uint64_t{1} << 50;
    }
    static std::size_t slot(std::uint64_t key) {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - kBits));
    }
    struct Entry {
        std::uint64_t key = 0;  // never a valid key: bit 50 is clear
        std::uint16_t o22 = 0;
        Extended x2 = 0;
        Extended g = 0;
    };
    std::array<Entry, std::size_t{1} << kBits> entries_{};
};

}  // namespace zyg
