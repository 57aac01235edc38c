#include "power/StudyRequest.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace zyg {

namespace {

constexpr std::pair<GenotypeModel, std::string_view> kModelKeys[] = {
    {GenotypeModel::HardyWeinberg, "hw"},      {GenotypeModel::Wahlund, "wahlund"},
    {GenotypeModel::Inbreeding, "inbreeding"}, {GenotypeModel::Selection, "selection"},
    {GenotypeModel::Error, "error"},           {GenotypeModel::NullAllele, "null"},
};

bool reads(GenotypeModel model, StudyInput input) {
    switch (input) {
        case StudyInput::Var: return model == GenotypeModel::Wahlund;
        case StudyInput::F: return model == GenotypeModel::Inbreeding;
        case StudyInput::W11:
        case StudyInput::W12:
        case StudyInput::W22: return model == GenotypeModel::Selection;
        case StudyInput::HetMiscall:
        case StudyInput::HomMiscall: return model == GenotypeModel::Error;
        case StudyInput::Null: return model == GenotypeModel::NullAllele;
        default: return true;
    }
}

// The list of a model parameter as the model reads it: the values given, or
// the one value the window writes for a parameter the model does not read.
const std::vector<double>& parameterValues(const StudyRequest& r, StudyInput input) {
    static const std::vector<double> zero{0}, one{1};
    const bool read = reads(r.model, input);
    switch (input) {
        case StudyInput::Var: return read ? r.var : zero;
        case StudyInput::F: return read ? r.f : zero;
        case StudyInput::W11: return read ? r.w11 : one;
        case StudyInput::W12: return read ? r.w12 : one;
        case StudyInput::W22: return read ? r.w22 : one;
        case StudyInput::HetMiscall: return read ? r.hetMiscall : zero;
        case StudyInput::HomMiscall: return read ? r.homMiscall : zero;
        case StudyInput::Null: return read ? r.nullFrequency : zero;
        default: return r.p;
    }
}

constexpr StudyInput kModelInputs[] = {
    StudyInput::P,          StudyInput::Var,        StudyInput::F,
    StudyInput::W11,        StudyInput::W12,        StudyInput::W22,
    StudyInput::HetMiscall, StudyInput::HomMiscall, StudyInput::Null};

}  // namespace

ValueRange fRange(double p) {
    const double q = 1 - p;
    return {-std::min(p, q) / std::max(p, q), 1, true, kBoundSlack};
}

std::uint32_t maxSampleSize(PowerMethod method) {
    return method == PowerMethod::Exact ? kMaxPowerSampleSize : kMaxSampleSize;
}

StudyRequest StudyRequest::of(const ModelSetting& s) {
    StudyRequest r;
    r.model = s.model;
    r.p = {s.p};
    r.var = {s.var};
    r.f = {s.f};
    r.w11 = {s.w11};
    r.w12 = {s.w12};
    r.w22 = {s.w22};
    r.hetMiscall = {s.hetMiscall};
    r.homMiscall = {s.homMiscall};
    r.nullFrequency = {s.nullFrequency};
    return r;
}

std::uint64_t SampleRange::count() const {
    if (step == 0 || from > to) return 0;
    return (to - from) / step + 1;
}

std::vector<std::uint32_t> SampleRange::sizes() const {
    std::vector<std::uint32_t> out;
    if (count() == 0) return out;
    out.reserve(static_cast<std::size_t>(count()));
    for (std::uint32_t n = from;; n += step) {
        out.push_back(n);
        if (to - n < step) break;  // the next step would pass the end
    }
    return out;
}

std::vector<std::uint32_t> countedSizes(const StudyRequest& r) {
    if (!r.n.empty() || !r.solveBounds) return r.n;
    return {r.solveBounds->low, r.solveBounds->high};
}

double studyPoints(const StudyRequest& r) {
    double settings = 1;
    for (StudyInput input : kModelInputs)
        settings *= static_cast<double>(parameterValues(r, input).size());
    return settings * static_cast<double>(countedSizes(r).size()) *
           static_cast<double>(std::max<std::size_t>(1, r.alleleCounts.size())) *
           static_cast<double>(r.tests.size()) * static_cast<double>(r.levels.size());
}

double studyWork(const StudyRequest& r) {
    const double points = studyPoints(r);
    const std::vector<std::uint32_t> counted = countedSizes(r);
    if (counted.empty()) return 0;
    double sizes = 0;
    for (std::uint32_t n : counted) sizes += static_cast<double>(n) + kPointWork;
    return points / static_cast<double>(counted.size()) * sizes;
}

std::vector<StudyProblem> checkStudy(const StudyRequest& r) {
    std::vector<StudyProblem> problems;
    auto missing = [&](StudyInput input, std::size_t size) {
        if (size > 0) return false;
        problems.push_back({input, ProblemKind::Missing, 0, {}, 0, 0});
        return true;
    };
    auto inRange = [&](StudyInput input, const std::vector<double>& values, ValueRange range) {
        for (double v : values)
            if (!range.contains(v)) {
                problems.push_back({input, ProblemKind::OutOfRange, v, range, 0, 0});
                return;
            }
    };

    // A range that moves with p: the first value outside it, at the first p
    // where it is.
    auto boundByP = [&](StudyInput input, const std::vector<double>& values, auto rangeAt) {
        for (double v : values)
            for (double p : r.p)
                if (const ValueRange range = rangeAt(p); !range.contains(v)) {
                    problems.push_back({input, ProblemKind::OutOfBound, v, range, 0, p});
                    return;
                }
    };

    if (!missing(StudyInput::P, r.p.size())) inRange(StudyInput::P, r.p, kPRange);
    if (reads(r.model, StudyInput::Var) && !missing(StudyInput::Var, r.var.size())) {
        // A variance typed as p*q may lie one rounding above the product.
        boundByP(StudyInput::Var, r.var, [](double p) {
            return ValueRange{0, p * (1 - p), true, kBoundSlack};
        });
    }
    if (reads(r.model, StudyInput::F) && !missing(StudyInput::F, r.f.size()))
        boundByP(StudyInput::F, r.f, fRange);
    if (r.model == GenotypeModel::Selection) {
        const std::pair<StudyInput, const std::vector<double>*> fitnesses[] = {
            {StudyInput::W11, &r.w11}, {StudyInput::W12, &r.w12}, {StudyInput::W22, &r.w22}};
        bool complete = true;
        for (const auto& [input, values] : fitnesses)
            if (missing(input, values->size()))
                complete = false;
            else
                inRange(input, *values, kFitnessRange);
        const auto hasZero = [](const std::vector<double>& v) {
            return std::find(v.begin(), v.end(), 0.0) != v.end();
        };
        if (complete && hasZero(r.w11) && hasZero(r.w12) && hasZero(r.w22))
            problems.push_back({StudyInput::W11, ProblemKind::AllZero, 0, {}, 0, 0});
    }
    const std::pair<StudyInput, const std::vector<double>*> rates[] = {
        {StudyInput::HetMiscall, &r.hetMiscall},
        {StudyInput::HomMiscall, &r.homMiscall},
        {StudyInput::Null, &r.nullFrequency}};
    for (const auto& [input, values] : rates)
        if (reads(r.model, input) && !missing(input, values->size()))
            inRange(input, *values, input == StudyInput::Null ? kNullRange : kMiscallRange);
    if (const std::vector<std::uint32_t> counted = countedSizes(r);
        !missing(StudyInput::N, counted.size())) {
        const ValueRange sizes{1, static_cast<double>(maxSampleSize(r.method))};
        for (std::uint32_t n : counted)
            if (!sizes.contains(n)) {
                problems.push_back(
                    {StudyInput::N, ProblemKind::OutOfRange, double(n), sizes, 0, 0});
                break;
            }
        // Bounds given beside a grid are checked after it.
        if (r.solveBounds && (problems.empty() || problems.back().input != StudyInput::N))
            for (std::uint32_t n : {r.solveBounds->low, r.solveBounds->high})
                if (!sizes.contains(n)) {
                    problems.push_back(
                        {StudyInput::N, ProblemKind::OutOfRange, double(n), sizes, 0, 0});
                    break;
                }
    }
    if (!r.alleleCounts.empty()) {
        if (r.method != PowerMethod::Exact)
            problems.push_back({StudyInput::AlleleCounts, ProblemKind::ExactOnly, 0, {}, 0, 0});
        else
            [&] {
                for (std::uint32_t a : r.alleleCounts)
                    for (std::uint32_t n : r.n)
                        if (a > 2 * static_cast<std::uint64_t>(n)) {
                            problems.push_back({StudyInput::AlleleCounts,
                                                ProblemKind::OutOfBound,
                                                double(a),
                                                {0, 2.0 * n},
                                                0,
                                                double(n)});
                            return;
                        }
            }();
    }
    missing(StudyInput::Tests, r.tests.size());
    if (!missing(StudyInput::Levels, r.levels.size()))
        inRange(StudyInput::Levels, r.levels, kLevelRange);
    if (r.method == PowerMethod::Simulate) {
        const ValueRange replicates{1, static_cast<double>(kMaxReplicates)};
        if (!replicates.contains(r.replicates))
            problems.push_back({StudyInput::Replicates, ProblemKind::OutOfRange,
                                double(r.replicates), replicates, 0, 0});
    }
    if (r.target && !kTargetRange.contains(*r.target))
        problems.push_back(
            {StudyInput::Target, ProblemKind::OutOfRange, *r.target, kTargetRange, 0, 0});
    if (const double work = studyWork(r); work > kMaxStudyWork)
        problems.push_back({StudyInput::Points, ProblemKind::TooMany, work, {}, kMaxStudyWork, 0});
    return problems;
}

std::vector<ModelSetting> modelSettings(const StudyRequest& r) {
    std::vector<ModelSetting> out;
    for (double p : r.p)
        for (double var : parameterValues(r, StudyInput::Var))
            for (double f : parameterValues(r, StudyInput::F))
                for (double w11 : parameterValues(r, StudyInput::W11))
                    for (double w12 : parameterValues(r, StudyInput::W12))
                        for (double w22 : parameterValues(r, StudyInput::W22))
                            for (double het : parameterValues(r, StudyInput::HetMiscall))
                                for (double hom : parameterValues(r, StudyInput::HomMiscall))
                                    for (double null : parameterValues(r, StudyInput::Null)) {
                                        ModelSetting s;
                                        s.model = r.model;
                                        s.p = p;
                                        s.var = var;
                                        s.f = f;
                                        s.w11 = w11;
                                        s.w12 = w12;
                                        s.w22 = w22;
                                        s.hetMiscall = het;
                                        s.homMiscall = hom;
                                        s.nullFrequency = null;
                                        out.push_back(s);
                                    }
    return out;
}

std::string_view modelKey(GenotypeModel model) {
    for (const auto& [m, key] : kModelKeys)
        if (m == model) return key;
    return "";
}

std::optional<GenotypeModel> parseModelKey(std::string_view key) {
    for (const auto& [m, k] : kModelKeys)
        if (k == key) return m;
    return std::nullopt;
}

std::string_view methodName(PowerMethod method) {
    return method == PowerMethod::Exact ? "exact" : "simulate";
}

}  // namespace zyg
