#include "engine/Models.h"

#include "engine/Checked.h"

namespace zyg {

// Each parenthesised step below is one extended operation, rounded once, in
// exactly this order; the window compares the results with zero, so the
// order is part of the result.
GenotypeFrequencies modelFrequencies(GenotypeModel model, Extended p, Extended q, Extended var,
                                     Extended f, const Fitnesses& w, const GenotypingRates& rates) {
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
        case GenotypeModel::Error: {
            // True Hardy-Weinberg genotypes, each heterozygote called
            // homozygous with probability eHet (half to each side), each
            // homozygote called heterozygous with probability eHom.
            const Extended eHet = rates.hetMiscall, eHom = rates.homMiscall;
            const Extended het = (p * 2) * q;
            const Extended lost = (het * eHet) / 2;
            r.f11 = ((p * p) * (1 - eHom)) + lost;
            r.f12 = (het * (1 - eHet)) + (((p * p) + (q * q)) * eHom);
            r.f22 = ((q * q) * (1 - eHom)) + lost;
            break;
        }
        case GenotypeModel::NullAllele: {
            // A1, A2 and a null allele at p (1 - r), q (1 - r) and r: A1/null
            // reads as A1A1, A2/null as A2A2, and null/null samples fail to
            // genotype, so the rest is scaled by 1 / (1 - r^2).
            const Extended r0 = rates.nullFrequency;
            const Extended p1 = p * (1 - r0), p2 = q * (1 - r0);
            const Extended typed = 1 - (r0 * r0);
            r.f11 = checkedDivide((p1 * p1) + ((p1 * 2) * r0), typed);
            r.f12 = checkedDivide((p1 * 2) * p2, typed);
            r.f22 = checkedDivide((p2 * p2) + ((p2 * 2) * r0), typed);
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
