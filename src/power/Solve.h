#pragma once

// Solving a study for the sample size or for the size of the effect: for
// each model setting, test and level of a checked request, the smallest n
// whose exact power reaches a target (and the n from which it stays there),
// or, at a given n, the smallest departure from Hardy-Weinberg in one model
// parameter at which it does. The answers are data; the command line and the
// study windows word them. No Qt.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "power/PowerStudy.h"

namespace zyg {

// A model parameter the solver can move: an entry of modelParameters()
// marked solvable, searched from its value without a departure to the far end
// of its range on the side of the value given.
using SolvableParameter = ModelParameter;
const std::vector<const SolvableParameter*>& solvableParameters();
const SolvableParameter* findSolvableParameter(std::string_view name);

// What to solve for: the sample size (no parameter) or a model parameter.
// Solving for n searches the request's solveBounds (by default 1 to the
// method's largest n) and reads no grid. Solving for a parameter reads the side of each of its
// values (above or below `none`; a value at `none` searches upwards) and solves at each n of the
// request.
struct SolveAim {
    const SolvableParameter* parameter = nullptr;
    double target = 0.8;
};

struct SolveAnswer {
    ModelSetting model;  // the setting; solving a parameter: at the answer when reached
    HweTest test = HweTest::X2;
    double level = 0.05;
    std::uint32_t n = 0;  // solving a parameter: the n it is solved at

    bool reached = false;
    // Solving n: the smallest n of the bounds with power >= target, and the
    // smallest from which every larger n up to the upper bound has it.
    std::optional<std::uint32_t> firstN, staysN;
    std::uint32_t low = 1, high = 1;  // the bounds searched
    // Solving a parameter: the value (4 significant digits) nearest to `none`
    // on the searched side whose power reaches the target; the end of the
    // range searched; whether power fell anywhere on the way from `none` to
    // the answer (or to the end when not reached), and where it fell most.
    std::optional<double> value;
    double rangeEnd = 0;
    bool monotone = true;
    double fallFrom = 0, fallTo = 0;  // parameter values of the largest fall
    double fallFromPower = 0, fallToPower = 0;

    // Exact power at the answer (first n or value), or the highest power seen
    // on the way when the target is not reached.
    ExactPower power;
    double bestPower = 0;
    std::uint32_t bestN = 0;        // solving n: the n of bestPower, the first when tied
    std::uint32_t evaluations = 0;  // exact power computations made
};

// Every answer of a checked request, one per model setting (and n when
// solving a parameter), test and level, in the order of runStudy. Settings
// that solving a parameter makes equal are answered once. `control`'s
// progress counts the answers; its cancel ends the work with StudyCancelled.
std::vector<SolveAnswer> solveStudy(const StudyRequest& request, const SolveAim& aim,
                                    const StudyControl& control = {});

// One answer of each kind, for one setting, test and level. Solving n
// computes the n its scans will need next on `threads` threads.
SolveAnswer solveSampleSize(const ModelSetting& model, TestLevel test, double target,
                            std::uint32_t low, std::uint32_t high,
                            const std::atomic<bool>* cancel = nullptr, unsigned threads = 1);
SolveAnswer solveParameter(const ModelSetting& model, const SolvableParameter& parameter,
                           std::uint32_t n, TestLevel test, double target,
                           const std::atomic<bool>* cancel = nullptr);

// The answers as lines for people, grouped by setting, and as CSV: the study
// CSV's columns with the answer in n (or the parameter's column) and the
// power there, then stays_n (solving n) or monotone (solving a parameter);
// the answer's fields are empty when the target is not reached.
std::string solveTable(const std::vector<SolveAnswer>& answers, const SolveAim& aim);
std::string solveCsv(const std::vector<SolveAnswer>& answers, const SolveAim& aim);

// A methods paragraph a planner can paste: for each answer the question
// (the test, the level, the target, the model and its parameters) and the
// answer, then how power was computed and by which program (`program`,
// "zygomet-power") and version.
std::string solveSummary(const std::vector<SolveAnswer>& answers, const SolveAim& aim,
                         std::string_view program);

}  // namespace zyg
