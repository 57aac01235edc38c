#include "engine/Models.h"

#include "engine/Checked.h"

namespace zyg {

// Each parenthesised step below is one extended operation, rounded once, in
// exactly this order; the window compares the results with zero, so the
// order is part of the result.
GenotypeFrequencies modelFrequencies(GenotypeModel model, Extended p, Extended q, Extended var,
                                     Extended f, const Fitnesses& w) {
    GenotypeFrequencies r;
    switch (model) {
        case GenotypeModel::HardyWeinberg:
            r.f11 = p * p;
            r.f12 = (p * 2) * q;
            r.f22 = q * q;
            break;
        case GenotypeModel::Wahlund:
            r.f11 = (p * p) + var;
            r.f12 = ((p * 2) * q) - (var * 2);
            r.f22 = (q * q) + var;
            break;
        case GenotypeModel::Inbreeding: {
            const Extended t = p * q;
            r.f11 = (p * p) + (f * t);
            r.f12 = (t * 2) * (1 - f);
            r.f22 = (q * q) + (f * t);
            break;
        }
        case GenotypeModel::Selection: {
            const Extended a11 = checkedResult((p * p) * w.w11);
            const Extended a12 = checkedResult(((p * 2) * q) * w.w12);
            const Extended a22 = checkedResult((q * q) * w.w22);
            const Extended meanFitness = checkedResult((a11 + a12) + a22);
            r.f11 = checkedDivide(a11, meanFitness);
            r.f12 = checkedDivide(a12, meanFitness);
            r.f22 = checkedDivide(a22, meanFitness);
            break;
        }
    }
    checkedResult(r.f11);
    checkedResult(r.f12);
    checkedResult(r.f22);
    return r;
}

ExpectedCounts expectedCounts(const GenotypeFrequencies& frequencies, std::uint16_t n) {
    const Extended size = n;
    return {checkedResult(frequencies.f11 * size), checkedResult(frequencies.f12 * size),
            checkedResult(frequencies.f22 * size)};
}

}  // namespace zyg
