#include "power/StudyRequest.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "core/NumberText.h"
#include "engine/XLinked.h"

namespace zyg {

namespace {

constexpr std::pair<GenotypeModel, std::string_view> kModelKeys[] = {
    {GenotypeModel::HardyWeinberg, "hw"},      {GenotypeModel::Wahlund, "wahlund"},
    {GenotypeModel::Inbreeding, "inbreeding"}, {GenotypeModel::Selection, "selection"},
    {GenotypeModel::Error, "error"},           {GenotypeModel::NullAllele, "null"},
};

template <const ValueRange& Range>
ValueRange fixedRange(double) {
    return Range;
}

// A variance typed as p*q may lie one rounding above the product.
ValueRange varRange(double p) { return {0, p * (1 - p), true, kBoundSlack}; }

using GM = GenotypeModel;
using MS = ModelSetting;
using SR = StudyRequest;

const ModelParameter kModelParameters[] = {
    {StudyInput::P, "p", "p", "p", "p", "frequency of allele A1", std::nullopt, 0.5, true, false,
     false, MovingEnd::None, "", fixedRange<kPRange>, &SR::p, &MS::p},
    {StudyInput::Var, "var", "var", "var", "var", "variance of p among subpopulations", GM::Wahlund,
     0, true, true, false, MovingEnd::High, "p*q", varRange, &SR::var, &MS::var},
    {StudyInput::F, "f", "f", "f", "f", "inbreeding coefficient", GM::Inbreeding, 0, true, true,
     false, MovingEnd::Low, "-min(p,q)/max(p,q)", fRange, &SR::f, &MS::f},
    {StudyInput::W11, "w11", "w11", "w", "fitnesses", "fitness of A1A1", GM::Selection, 1, false,
     true, false, MovingEnd::None, "", fixedRange<kFitnessRange>, &SR::w11, &MS::w11},
    {StudyInput::W12, "w12", "w12", "w", "fitnesses", "fitness of A1A2", GM::Selection, 1, false,
     true, false, MovingEnd::None, "", fixedRange<kFitnessRange>, &SR::w12, &MS::w12},
    {StudyInput::W22, "w22", "w22", "w", "fitnesses", "fitness of A2A2", GM::Selection, 1, false,
     true, false, MovingEnd::None, "", fixedRange<kFitnessRange>, &SR::w22, &MS::w22},
    {StudyInput::HetMiscall, "het-miscall", "het_miscall", "miscall", "miscall rates",
     "P(a heterozygote is called homozygous)", GM::Error, 0, false, true, true, MovingEnd::None, "",
     fixedRange<kMiscallRange>, &SR::hetMiscall, &MS::hetMiscall},
    {StudyInput::HomMiscall, "hom-miscall", "hom_miscall", "miscall", "miscall rates",
     "P(a homozygote is called heterozygous)", GM::Error, 0, false, true, true, MovingEnd::None, "",
     fixedRange<kMiscallRange>, &SR::homMiscall, &MS::homMiscall},
    {StudyInput::Null, "null", "null", "null", "the null allele's frequency",
     "frequency of a non-amplifying allele", GM::NullAllele, 0, true, true, true, MovingEnd::None,
     "", fixedRange<kNullRange>, &SR::nullFrequency, &MS::nullFrequency},
    {StudyInput::PMale, "p-male", "p_male", "p-male", "p-male",
     "X: frequency of allele A1 in males", std::nullopt, 0.5, false, true, true, MovingEnd::None,
     "", fixedRange<kPRange>, &SR::pMale, &MS::pMale, kXLinkedOnly, true},
};

// The list of a model parameter as the model reads it: the values given, or
// the one value without a departure for a parameter the model does not read.
const std::vector<double>& parameterValues(const StudyRequest& r, const ModelParameter& q) {
    static std::vector<std::vector<double>> nones = [] {
        std::vector<std::vector<double>> out;
        for (const ModelParameter& q : kModelParameters)
            out.push_back({q.followsP ? std::numeric_limits<double>::quiet_NaN() : q.none});
        return out;
    }();
    // A list that follows p and holds no value gets a NaN, which
    // modelSettings makes the setting's p.
    if (q.readBy(r.model, r.locus) && !(q.followsP && (r.*q.values).empty())) return r.*q.values;
    return nones[static_cast<std::size_t>(&q - kModelParameters)];
}

}  // namespace

std::span<const ModelParameter> modelParameters() { return kModelParameters; }

const ModelParameter* findModelParameter(StudyInput input) {
    for (const ModelParameter& q : kModelParameters)
        if (q.input == input) return &q;
    return nullptr;
}

const ModelParameter* findModelParameter(std::string_view name) {
    for (const ModelParameter& q : kModelParameters)
        if (q.name == name) return &q;
    return nullptr;
}

std::optional<double> ModelParameter::farEnd(const ModelSetting& s, bool up) const {
    const ValueRange r = range(s.p);
    const double from = noneAt(s);
    if (up) return r.high > from ? std::optional<double>(r.high) : std::nullopt;
    return r.low < from ? std::optional<double>(r.low) : std::nullopt;
}

std::string ModelParameter::rangeText() const {
    // Any p shows the ends that do not move.
    const ValueRange r = range(0.5);
    const std::string low =
        moving == MovingEnd::Low ? std::string(movingText) : shortestText(r.low);
    const std::string high =
        moving == MovingEnd::High ? std::string(movingText) : shortestText(r.high);
    return low + " to " + high;
}

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
    for (const ModelParameter& q : kModelParameters) r.*q.values = {q.get(s)};
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
    for (const ModelParameter& q : kModelParameters)
        settings *= static_cast<double>(parameterValues(r, q).size());
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

    for (const ModelParameter& q : kModelParameters) {
        const std::vector<double>& values = r.*q.values;
        if (!q.readBy(r.model, r.locus) || (q.followsP && values.empty()) ||
            missing(q.input, values.size()))
            continue;
        if (q.moving != MovingEnd::None)
            boundByP(q.input, values, q.rangeAt);
        else
            inRange(q.input, values, q.range(0.5));
    }
    if (r.model == GenotypeModel::Selection && !r.w11.empty() && !r.w12.empty() && !r.w22.empty()) {
        const auto hasZero = [](const std::vector<double>& v) {
            return std::find(v.begin(), v.end(), 0.0) != v.end();
        };
        if (hasZero(r.w11) && hasZero(r.w12) && hasZero(r.w22))
            problems.push_back({StudyInput::W11, ProblemKind::AllZero, 0, {}, 0, 0});
    }
    if (r.locus == LocusKind::XLinked) {
        if (!hasXForm(r.model))
            problems.push_back({StudyInput::Locus,
                                ProblemKind::NoXForm,
                                double(static_cast<int>(r.model)),
                                {},
                                0,
                                0});
        if (!kMaleShareRange.contains(r.males))
            problems.push_back(
                {StudyInput::Males, ProblemKind::OutOfRange, r.males, kMaleShareRange, 0, 0});
    }
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
        if (r.locus != LocusKind::Autosomal)
            problems.push_back({StudyInput::AlleleCounts, ProblemKind::WrongLocus, 0, {}, 0, 0});
        else if (r.method != PowerMethod::Exact)
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
    if (!missing(StudyInput::Tests, r.tests.size()))
        for (HweTest t : r.tests)
            if (!appliesTo(t, r.locus)) {
                problems.push_back(
                    {StudyInput::Tests, ProblemKind::WrongLocus, double(testIndex(t)), {}, 0, 0});
                break;
            }
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

std::string studyProblemText(const StudyProblem& problem) {
    const ModelParameter* q = findModelParameter(problem.input);
    const auto subject = [&]() -> std::string {
        if (q) return std::string(q->subject);
        switch (problem.input) {
            case StudyInput::N: return "sample sizes";
            case StudyInput::AlleleCounts: return "allele counts";
            case StudyInput::Tests: return "tests";
            case StudyInput::Levels: return "levels";
            case StudyInput::Replicates: return "replicates";
            case StudyInput::Target: return "the target power";
            case StudyInput::Males: return "the share of males";
            default: return "the study";
        }
    };
    // A whole number below a billion in all its digits (a sample size of
    // 1000000, not 1e+06); NaN as NaN, so the refusal still shows what was
    // given.
    const auto text = [](double v) {
        if (std::isnan(v)) return std::string("NaN");
        if (v == std::floor(v) && std::fabs(v) < 1e9) return fixedText(v, 0);
        return shortestText(v);
    };
    const ValueRange& r = problem.range;
    const std::string rule = r.lowIncluded
                                 ? "from " + text(r.low) + " to " + text(r.high)
                                 : "above " + text(r.low) + " and at most " + text(r.high);
    const std::string refused = " (not " + text(problem.value) + ")";
    switch (problem.kind) {
        case ProblemKind::Missing: return "no value is given for " + subject();
        case ProblemKind::OutOfRange: return subject() + " must lie " + rule + refused;
        case ProblemKind::OutOfBound:
            return subject() + " must lie " + rule + " at " +
                   (problem.input == StudyInput::AlleleCounts ? "n " : "p ") + text(problem.at) +
                   refused;
        case ProblemKind::AllZero: return "the three fitnesses must not all be 0";
        case ProblemKind::TooMany:
            return "the study asks for " + shortestText(problem.value) +
                   " units of work; at most " + shortestText(problem.bound) + " are allowed";
        case ProblemKind::ExactOnly: return subject() + " have a meaning for exact power only";
        case ProblemKind::WrongLocus:
            if (problem.input == StudyInput::Tests)
                return "the test " +
                       std::string(kTestCatalogue[static_cast<std::size_t>(problem.value)].name) +
                       " does not apply to this locus";
            return subject() + " have a meaning on autosomes only";
        case ProblemKind::NoXForm:
            return "the model " +
                   std::string(modelKey(static_cast<GenotypeModel>(int(problem.value)))) +
                   " has no X-linked form (on X: " + xModelKeys() + ")";
    }
    return subject();
}

std::vector<ModelSetting> modelSettings(const StudyRequest& r) {
    // An odometer over the parameters' lists, the last one turning fastest.
    const std::span<const ModelParameter> all = modelParameters();
    std::vector<const std::vector<double>*> lists;
    for (const ModelParameter& q : all) {
        lists.push_back(&parameterValues(r, q));
        if (lists.back()->empty()) return {};
    }
    std::vector<ModelSetting> out;
    std::vector<std::size_t> at(all.size(), 0);
    for (;;) {
        ModelSetting s;
        s.model = r.model;
        s.locus = r.locus;
        s.males = r.males;
        for (std::size_t i = 0; i < all.size(); ++i) all[i].set(s, (*lists[i])[at[i]]);
        for (const ModelParameter& q : all)
            if (q.followsP && std::isnan(q.get(s))) q.set(s, s.p);
        out.push_back(s);
        std::size_t i = all.size();
        while (i > 0 && ++at[i - 1] == lists[i - 1]->size()) at[--i] = 0;
        if (i == 0) return out;
    }
}

std::string modelKeys(std::string_view last) {
    std::string keys;
    const std::size_t n = std::size(kModelKeys);
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && i + 1 == n) {
            keys += ' ';
            keys += last;
            keys += ' ';
        } else if (i > 0) {
            keys += ", ";
        }
        keys += kModelKeys[i].second;
    }
    return keys;
}

std::string xModelKeys() {
    std::string keys;
    for (const auto& [m, key] : kModelKeys)
        if (hasXForm(m)) {
            if (!keys.empty()) keys += ", ";
            keys += key;
        }
    return keys;
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
