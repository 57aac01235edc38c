#include <gtest/gtest.h>

#include "core/Clock.h"
#include "core/Errors.h"
#include "engine/Models.h"
#include "engine/Random.h"
#include "engine/Sampling.h"

using namespace zyg;

namespace {

class FixedClock final : public Clock {
public:
    explicit FixedClock(TimeOfDay t) : t_(t) {}
    TimeOfDay utcTimeOfDay() const override { return t_; }

private:
    TimeOfDay t_;
};

// The seed whose next value of the generator is exactly k / 2^32.
std::uint32_t seedBefore(std::uint32_t k) {
    std::uint32_t inverse = 1;  // Newton's iteration for the inverse mod 2^32
    for (int i = 0; i < 5; ++i) inverse *= 2 - kRandomMultiplier * inverse;
    return (k - kRandomIncrement) * inverse;
}

GenotypeCounts counts(std::uint16_t a, std::uint16_t b, std::uint16_t c) { return {a, b, c}; }

Extended x2Of(GenotypeCounts c) {
    return pearsonX2(c, sampleExpectedCounts(c, static_cast<std::uint16_t>(c.o11 + c.o12 + c.o22)));
}
Extended gOf(GenotypeCounts c) {
    return likelihoodRatioG(
        c, sampleExpectedCounts(c, static_cast<std::uint16_t>(c.o11 + c.o12 + c.o22)));
}

}  // namespace

TEST(Generator, FirstValuesFromSeedZeroAndFromTheClock) {
    setRandomSeed(0);
    EXPECT_EQ(nextRandom(), 1.0L / 4294967296.0L);
    EXPECT_EQ(nextRandom(), 134775814.0L / 4294967296.0L);
    EXPECT_EQ(nextRandom(), 3698175007.0L / 4294967296.0L);

    const FixedClock clock({13, 45, 30, 250});
    setClock(&clock);
    randomize();
    setClock(nullptr);
    EXPECT_EQ(randomSeed(), 49530250u);
    EXPECT_EQ(nextRandom(), 1022231475.0L / 4294967296.0L);
    EXPECT_EQ(nextRandom(), 2686869120.0L / 4294967296.0L);
    EXPECT_EQ(nextRandom(), 3715750017.0L / 4294967296.0L);

    const FixedClock lastMillisecond({23, 59, 59, 999});
    setClock(&lastMillisecond);
    randomize();
    setClock(nullptr);
    EXPECT_EQ(randomSeed(), 86399999u);
}

TEST(Sampling, EndToEndReplicateFromTheClockSeed) {
    const auto hw = modelFrequencies(GenotypeModel::HardyWeinberg, 0.4L, 0.6L, 0, 0, {});
    setRandomSeed(49530250);
    const GenotypeCounts c = drawSample(hw, 10);
    EXPECT_EQ(c, counts(1, 4, 5));
    const ExpectedCounts e = sampleExpectedCounts(c, 10);
    EXPECT_NEAR(static_cast<double>(e.e11), 0.9, 1e-15);
    EXPECT_NEAR(static_cast<double>(e.e12), 4.2, 1e-15);
    EXPECT_NEAR(static_cast<double>(e.e22), 4.9, 1e-15);
    EXPECT_NEAR(static_cast<double>(pearsonX2(c, e)), 0.0226757, 5e-8);
    EXPECT_NEAR(static_cast<double>(likelihoodRatioG(c, e)), 0.0224268, 5e-8);

    setRandomSeed(49530250);
    const GenotypeCounts three = drawSample(hw, 3);
    EXPECT_EQ(three, counts(0, 2, 1));
    const ExpectedCounts e3 = sampleExpectedCounts(three, 3);
    EXPECT_NEAR(static_cast<double>(e3.e11), 1.0 / 3, 1e-15);
    EXPECT_NEAR(static_cast<double>(pearsonX2(three, e3)), 0.75, 1e-15);
    EXPECT_EQ(likelihoodRatioG(three, e3), kNotComputable);
}

TEST(Sampling, ThresholdsAreStrictAndF22IsNeverRead) {
    const GenotypeFrequencies half{0.25L, 0.5L, 12345};  // f22 is not read
    setRandomSeed(seedBefore(0x40000000u));              // next u is exactly 0.25
    EXPECT_EQ(drawSample(half, 1), counts(0, 1, 0));
    setRandomSeed(seedBefore(0xC0000000u));  // exactly 0.75
    EXPECT_EQ(drawSample(half, 1), counts(0, 0, 1));
    setRandomSeed(seedBefore(0x3FFFFFFFu));  // just below 0.25
    EXPECT_EQ(drawSample(half, 1), counts(1, 0, 0));

    // No heterozygotes when f12 is 0 or negative: c2 <= c1.
    for (Extended f12 : {0.0L, -0.1L}) {
        setRandomSeed(7);
        const GenotypeCounts c = drawSample({0.3L, f12, 0.7L}, 1000);
        EXPECT_EQ(c.o12, 0);
        EXPECT_EQ(c.o11 + c.o22, 1000);
        EXPECT_GT(c.o11, 0);
        EXPECT_GT(c.o22, 0);
    }
}

TEST(Sampling, EmptySampleDrawsNothingAndCannotBeTested) {
    setRandomSeed(99);
    EXPECT_EQ(drawSample({0.16L, 0.48L, 0.36L}, 0), counts(0, 0, 0));
    EXPECT_EQ(randomSeed(), 99u);
    try {
        sampleExpectedCounts(counts(0, 0, 0), 0);
        FAIL() << "expected an error";
    } catch (const CommandError& e) {
        EXPECT_STREQ(e.what(), "Invalid floating point operation");
    }
}

TEST(Statistics, WorkedExampleAndTestableEdges) {
    const GenotypeCounts c = counts(30, 40, 30);
    const ExpectedCounts e = sampleExpectedCounts(c, 100);
    EXPECT_EQ(e.e11, 25.0L);
    EXPECT_EQ(e.e12, 50.0L);
    EXPECT_EQ(e.e22, 25.0L);
    EXPECT_EQ(pearsonX2(c, e), 4.0L);
    EXPECT_NEAR(static_cast<double>(likelihoodRatioG(c, e)), 4.0271027, 5e-8);

    // Exactly Hardy-Weinberg with an exactly representable allele frequency.
    EXPECT_EQ(x2Of(counts(1, 2, 1)), 0.0L);
    EXPECT_EQ(gOf(counts(1, 2, 1)), 0.0L);

    // Not exactly representable: zero only up to rounding. Rounding leaves
    // G's sum about -1.3e-17 for 64, 32, 4; that G is now 0, a tested G (as a
    // negative value it used to count as not computable).
    EXPECT_GT(x2Of(counts(64, 32, 4)), 0.0L);
    EXPECT_LT(x2Of(counts(64, 32, 4)), 1e-30L);
    EXPECT_EQ(gOf(counts(64, 32, 4)), 0.0L);
    EXPECT_GT(gOf(counts(49, 42, 9)), 0.0L);
    EXPECT_LT(gOf(counts(49, 42, 9)), 1e-15L);
}

TEST(Statistics, MissingGenotypesMakeTheStatisticsNotComputable) {
    // One allele only: two expected counts are zero.
    EXPECT_EQ(x2Of(counts(10, 0, 0)), kNotComputable);
    EXPECT_EQ(gOf(counts(10, 0, 0)), kNotComputable);
    EXPECT_EQ(x2Of(counts(0, 0, 10)), kNotComputable);

    // Only heterozygotes: X2 = n, G impossible.
    EXPECT_EQ(x2Of(counts(0, 50, 0)), 50.0L);
    EXPECT_EQ(gOf(counts(0, 50, 0)), kNotComputable);
    EXPECT_EQ(x2Of(counts(0, 1, 0)), 1.0L);
    EXPECT_EQ(gOf(counts(0, 1, 0)), kNotComputable);

    // No heterozygote: X2 is about 10, G impossible.
    EXPECT_NEAR(static_cast<double>(x2Of(counts(7, 0, 3))), 10.0, 1e-15);
    EXPECT_EQ(gOf(counts(7, 0, 3)), kNotComputable);

    // A zero expected count spoils X2 even when the others contribute.
    EXPECT_EQ(pearsonX2(counts(3, 3, 3), {1, 0, 2}), kNotComputable);
    EXPECT_EQ(likelihoodRatioG(counts(3, 3, 3), {1, -1, 2}), kNotComputable);
}
