#include <gtest/gtest.h>

#include "core/Errors.h"
#include "engine/Models.h"

using namespace zyg;

namespace {

GenotypeFrequencies model(GenotypeModel m, Extended p, Extended var = 0, Extended f = 0,
                          Fitnesses w = {}) {
    return modelFrequencies(m, p, 1 - p, var, f, w);
}

void expectNear(const GenotypeFrequencies& r, long double f11, long double f12, long double f22) {
    EXPECT_NEAR(static_cast<double>(r.f11), static_cast<double>(f11), 5e-7);
    EXPECT_NEAR(static_cast<double>(r.f12), static_cast<double>(f12), 5e-7);
    EXPECT_NEAR(static_cast<double>(r.f22), static_cast<double>(f22), 5e-7);
}

void expectIdentical(const GenotypeFrequencies& a, const GenotypeFrequencies& b) {
    EXPECT_EQ(a.f11, b.f11);
    EXPECT_EQ(a.f12, b.f12);
    EXPECT_EQ(a.f22, b.f22);
}

}  // namespace

TEST(Models, WorkedValuesWithTheWindowDefaults) {
    expectNear(model(GenotypeModel::HardyWeinberg, 0.4L), 0.16, 0.48, 0.36);
    expectNear(model(GenotypeModel::Wahlund, 0.4L, 0.01L), 0.17, 0.46, 0.37);
    expectNear(model(GenotypeModel::Inbreeding, 0.4L, 0, 0.01L), 0.1624, 0.4752, 0.3624);
    expectNear(model(GenotypeModel::Selection, 0.4L, 0, 0, {1.1L, 1, 0.91L}), 0.178935, 0.488003,
               0.333062);
}

TEST(Models, OperationOrderIsPartOfTheResult) {
    // The Hardy-Weinberg f12 is ((p x 2) x q) in extended, not 2pq in double.
    const Extended p = 0.4L, q = 1 - p;
    const auto r = model(GenotypeModel::HardyWeinberg, p);
    EXPECT_EQ(r.f11, p * p);
    EXPECT_EQ(r.f12, (p * 2) * q);
    EXPECT_EQ(r.f22, q * q);
    // Selection divides each weighted proportion by the very W it summed.
    const Fitnesses w{1.1L, 1, 0.91L};
    const auto s = model(GenotypeModel::Selection, p, 0, 0, w);
    const Extended a11 = (p * p) * w.w11, a12 = ((p * 2) * q) * w.w12, a22 = (q * q) * w.w22;
    const Extended meanFitness = (a11 + a12) + a22;
    EXPECT_EQ(s.f11, a11 / meanFitness);
    EXPECT_EQ(s.f12, a12 / meanFitness);
    EXPECT_EQ(s.f22, a22 / meanFitness);
}

TEST(Models, EdgesOfTheParameterRanges) {
    const auto half = model(GenotypeModel::HardyWeinberg, 0.5L);
    EXPECT_EQ(half.f11, 0.25L);
    EXPECT_EQ(half.f12, 0.5L);
    EXPECT_EQ(half.f22, 0.25L);

    // Wahlund var = 0 and inbreeding f = 0 are Hardy-Weinberg to the last bit.
    for (Extended p : {0.01L, 0.123456L, 0.4L, 0.77L, 0.99L}) {
        const auto hw = model(GenotypeModel::HardyWeinberg, p);
        expectIdentical(model(GenotypeModel::Wahlund, p, 0), hw);
        expectIdentical(model(GenotypeModel::Inbreeding, p, 0, 0), hw);
    }

    // f = 1: no heterozygotes at all, exactly.
    const Extended p = 0.4L, q = 1 - p, t = p * q;
    const auto inbred = model(GenotypeModel::Inbreeding, p, 0, 1);
    EXPECT_EQ(inbred.f12, 0.0L);
    EXPECT_EQ(inbred.f11, (p * p) + t);
    EXPECT_EQ(inbred.f22, (q * q) + t);

    // Wahlund at its maximum var = p.q with p = 0.5 leaves no heterozygotes.
    EXPECT_EQ(model(GenotypeModel::Wahlund, 0.5L, 0.25L).f12, 0.0L);

    EXPECT_EQ(model(GenotypeModel::Selection, 0.4L, 0, 0, {1, 1, 0}).f22, 0.0L);
    const auto onlyA2 = model(GenotypeModel::Selection, 0.4L, 0, 0, {0, 0, 0.0001L});
    EXPECT_EQ(onlyA2.f11, 0.0L);
    EXPECT_EQ(onlyA2.f12, 0.0L);
    EXPECT_EQ(onlyA2.f22, 1.0L);
    expectNear(model(GenotypeModel::Selection, 0.3L, 0, 0, {2, 2, 2}), 0.09, 0.42, 0.49);
}

TEST(Models, SelectionWithZeroMeanFitnessRaisesTheFloatingPointError) {
    // p typed as 0 with W22 = 0: every weighted proportion is 0, so W = 0 and 0 / 0.
    try {
        model(GenotypeModel::Selection, 0, 0, 0, {1, 1, 0});
        FAIL() << "expected an error";
    } catch (const CommandError& e) {
        EXPECT_STREQ(e.what(), "Invalid floating point operation");
    }
}

TEST(Models, ExpectedCountsAreUnroundedProducts) {
    const auto hw = model(GenotypeModel::HardyWeinberg, 0.4L);
    const auto e100 = expectedCounts(hw, 100);
    EXPECT_NEAR(static_cast<double>(e100.e11), 16, 1e-12);
    EXPECT_NEAR(static_cast<double>(e100.e12), 48, 1e-12);
    EXPECT_NEAR(static_cast<double>(e100.e22), 36, 1e-12);
    const auto e0 = expectedCounts(hw, 0);
    EXPECT_EQ(e0.e11, 0.0L);
    EXPECT_EQ(e0.e12, 0.0L);
    EXPECT_EQ(e0.e22, 0.0L);
    const auto e10000 = expectedCounts(hw, 10000);
    EXPECT_EQ(e10000.e12, hw.f12 * 10000);
}

namespace {
GenotypeFrequencies qc(GenotypeModel model, Extended p, Extended het, Extended hom, Extended r) {
    return modelFrequencies(model, p, 1 - p, 0, 0, {}, {het, hom, r});
}
}  // namespace

TEST(Models, ErrorAndNullModelsWithoutErrorsAreHardyWeinbergBitForBit) {
    for (Extended p : {0.01L, 0.2L, 0.5L, 0.73L, 0.99L}) {
        const GenotypeFrequencies hw =
            modelFrequencies(GenotypeModel::HardyWeinberg, p, 1 - p, 0, 0, {});
        for (GenotypeModel m : {GenotypeModel::Error, GenotypeModel::NullAllele}) {
            const GenotypeFrequencies got = qc(m, p, 0, 0, 0);
            EXPECT_EQ(got.f11, hw.f11);
            EXPECT_EQ(got.f12, hw.f12);
            EXPECT_EQ(got.f22, hw.f22);
        }
    }
}

TEST(Models, ErrorAndNullModelValues) {
    // p = 0.2, heterozygote miscall 0.02: 0.04 + 0.0032, 0.32 * 0.98, 0.64 + 0.0032.
    const GenotypeFrequencies e = qc(GenotypeModel::Error, 0.2L, 0.02L, 0, 0);
    EXPECT_NEAR(static_cast<double>(e.f11), 0.0432, 1e-17);
    EXPECT_NEAR(static_cast<double>(e.f12), 0.3136, 1e-17);
    EXPECT_NEAR(static_cast<double>(e.f22), 0.6432, 1e-17);
    // Homozygote miscalls make an excess: 0.04 * 0.9, 0.32 + 0.68 * 0.1, 0.64 * 0.9.
    const GenotypeFrequencies x = qc(GenotypeModel::Error, 0.2L, 0, 0.1L, 0);
    EXPECT_NEAR(static_cast<double>(x.f11), 0.036, 1e-17);
    EXPECT_NEAR(static_cast<double>(x.f12), 0.388, 1e-17);
    EXPECT_NEAR(static_cast<double>(x.f22), 0.576, 1e-17);
    // Null allele r = 0.1 at p = 0.5: p1 = p2 = 0.45, over 1 - 0.01 typed.
    const GenotypeFrequencies n = qc(GenotypeModel::NullAllele, 0.5L, 0, 0, 0.1L);
    EXPECT_NEAR(static_cast<double>(n.f11), (0.2025 + 0.09) / 0.99, 2e-16);
    EXPECT_NEAR(static_cast<double>(n.f12), 0.405 / 0.99, 2e-16);
    EXPECT_NEAR(static_cast<double>(n.f22), (0.2025 + 0.09) / 0.99, 2e-16);
    for (const GenotypeFrequencies& f : {e, x, n})
        EXPECT_NEAR(static_cast<double>(f.f11 + f.f12 + f.f22), 1, 1e-18);
    // At the largest r almost every typed sample is a false homozygote.
    const GenotypeFrequencies most = qc(GenotypeModel::NullAllele, 0.5L, 0, 0, 0.99L);
    EXPECT_LT(static_cast<double>(most.f12), 0.01);
    EXPECT_NEAR(static_cast<double>(most.f11 + most.f12 + most.f22), 1, 1e-17);
}

TEST(Models, EqualMiscallRatesAreSymmetricInTheAlleles) {
    // p and 1 - p exact in binary, so that swapping them swaps the homozygotes.
    for (Extended rate : {0.0L, 0.03L, 0.5L, 1.0L}) {
        const GenotypeFrequencies a = qc(GenotypeModel::Error, 0.25L, rate, rate, 0);
        const GenotypeFrequencies b = qc(GenotypeModel::Error, 0.75L, rate, rate, 0);
        EXPECT_EQ(a.f11, b.f22);
        EXPECT_EQ(a.f12, b.f12);
        EXPECT_EQ(a.f22, b.f11);
    }
}
