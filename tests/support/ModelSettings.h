#pragma once

// Model settings written as one call: hw(0.4), inbreeding(0.3, 0.1), ...

#include "engine/ExactPower.h"

namespace zyg::testing {

inline ModelSetting hw(double p) { return {GenotypeModel::HardyWeinberg, p}; }
inline ModelSetting wahlund(double p, double var) {
    ModelSetting s{GenotypeModel::Wahlund, p};
    s.var = var;
    return s;
}
inline ModelSetting inbreeding(double p, double f) {
    ModelSetting s{GenotypeModel::Inbreeding, p};
    s.f = f;
    return s;
}
inline ModelSetting selection(double p, double w11, double w12, double w22) {
    ModelSetting s{GenotypeModel::Selection, p};
    s.w11 = w11;
    s.w12 = w12;
    s.w22 = w22;
    return s;
}

}  // namespace zyg::testing
