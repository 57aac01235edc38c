#pragma once

// One study, one shape. A study is a request: the generating model with a
// list of values for each of its parameters, the sample sizes, the tests, the
// levels, the method and its replicates and seed, and an optional target
// power. The command line, the power-curve window and the de Finetti window
// all build one; `checkStudy` checks it once and returns what is wrong as
// data, which each front end words in its own way; the study runner and the
// engine take a checked request and check nothing again. Every limit a study
// has is named here, once. No Qt.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Types.h"
#include "engine/ExactPower.h"

namespace zyg {

// A closed or half-open range of allowed values.
struct ValueRange {
    double low = 0;
    double high = 0;
    bool lowIncluded = true;
    double slack = 0;  // the share of a bound a value may lie beyond it
    bool contains(double v) const {
        const double lowest = low - std::fabs(low) * slack;
        return (lowIncluded ? v >= lowest : v > lowest) && v <= high + std::fabs(high) * slack;
    }
};

inline constexpr ValueRange kPRange{0.01, 0.99};
// f from the smallest value that keeps every genotype frequency at or above
// 0 (an excess of heterozygotes) to 1.
ValueRange fRange(double p);
inline constexpr ValueRange kFitnessRange{0, 10};
// The error model's miscall rates and the null model's allele frequency.
inline constexpr ValueRange kMiscallRange{0, 1};
inline constexpr ValueRange kNullRange{0, 0.99};
inline constexpr ValueRange kLevelRange{0, 0.5, false};
inline constexpr ValueRange kTargetRange{0, 1, false};
// The share of males of an X-linked study.
inline constexpr ValueRange kMaleShareRange{0, 1};
// A bound that depends on p (var's p*q, f's -min(p,q)/max(p,q)) typed to
// its last digit may lie a rounding beyond the computed one.
inline constexpr double kBoundSlack = 1e-12;
// The most work one study may ask for: each point (model setting x sample
// size x allele count x tests x levels) counts its n plus kPointWork, so a
// study is bounded by its cost (which grows with n) and by the points it
// holds in memory. 1000 sample sizes from 1000 to 10^6 with two tests and two
// levels are 2 10^9; a million points at n = 10000 are 2 10^10.
inline constexpr double kMaxStudyWork = 2e10;
inline constexpr double kPointWork = 10000;
// The most values one list may hold.
inline constexpr std::size_t kMaxListValues = 100000;
// The most sample sizes one power curve of the window draws.
inline constexpr std::size_t kMaxCurveSizes = 2000;
// The largest n whose whole lattice the de Finetti diagram draws:
// (n + 1)(n + 2) / 2 samples, 45451 at 300.
inline constexpr std::uint32_t kMaxDiagramSampleSize = 300;

enum class PowerMethod { Exact, Simulate };

// A range of sample sizes as a user names it: from, from + step, ... up to
// to, which it holds when the step lands on it.
struct SampleRange {
    std::uint32_t from = 1;
    std::uint32_t to = 1;
    std::uint32_t step = 1;
    // How many sizes it holds: 0 when from lies above to or the step is 0.
    std::uint64_t count() const;
    // Its sizes in order; empty when it holds none.
    std::vector<std::uint32_t> sizes() const;
};

// The sample sizes a solve for n searches: every n from low to high.
struct SampleBounds {
    std::uint32_t low = 1;
    std::uint32_t high = 1;
};

// The largest sample size a study of this method takes: what the exact
// engine tables, or what the window's simulation engine draws.
std::uint32_t maxSampleSize(PowerMethod method);

struct StudyRequest {
    GenotypeModel model = GenotypeModel::HardyWeinberg;
    // Each parameter's values; only the lists the model reads are crossed.
    std::vector<double> p{0.5};
    std::vector<double> var{0};
    std::vector<double> f{0};
    std::vector<double> w11{1}, w12{1}, w22{1};
    std::vector<double> hetMiscall{0}, homMiscall{0};  // error
    std::vector<double> nullFrequency{0};              // null
    // The locus. On X the model's parameters are the females'; `males` is the
    // share of the n people who are male (nm = n x males rounded, nf = n -
    // nm) and pMale their allele frequency (empty: equal to p).
    LocusKind locus = LocusKind::Autosomal;
    double males = 0.5;
    std::vector<double> pMale;
    // The sample sizes of the grid (a curve, a table, the n at which a
    // parameter is solved).
    std::vector<std::uint32_t> n{100};
    // Solving for n: the sizes searched; none: from 1 to the method's largest.
    // The grid's n are not read then, but checked when given.
    std::optional<SampleBounds> solveBounds;
    // Power among the samples with exactly these copies of A1 (0 to 2n);
    // none: power over all samples.
    std::vector<std::uint32_t> alleleCounts;
    std::vector<HweTest> tests{HweTest::X2, HweTest::G};
    std::vector<double> levels{0.05, 0.01};
    PowerMethod method = PowerMethod::Exact;
    std::uint32_t replicates = 10000;  // simulate: per point
    std::uint32_t seed = 0;            // simulate: every point is drawn from this seed
    std::optional<double> target;      // report where power reaches it

    // A request of one model setting (every list of one value).
    static StudyRequest of(const ModelSetting& setting);
};

// The inputs of a request, so that a problem can name one.
enum class StudyInput {
    P,
    Var,
    F,
    W11,
    W12,
    W22,
    HetMiscall,
    HomMiscall,
    Null,
    PMale,
    Locus,
    Males,
    N,
    AlleleCounts,
    Tests,
    Levels,
    Replicates,
    Target,
    Points
};

// The end of a parameter's range that moves with p, if one does.
enum class MovingEnd { None, Low, High };

// A parameter of the generating models, named once: everything that lists
// the parameters (reading them, their values, the grid of settings, the range
// checks, the work count, the options and their help, the CSV columns, the
// solver) iterates `modelParameters()`. Adding a parameter is one entry there
// and the model's arithmetic.
struct ModelParameter {
    StudyInput input;
    std::string_view name;               // "het-miscall": the option's word and the solver's
    std::string_view column;             // "het_miscall": its column of the study CSV
    std::string_view word;               // "miscall": its model's parameters in one table cell
    std::string_view subject;            // "miscall rates": what a rule about its values names
    std::string_view meaning;            // "P(a heterozygote is called homozygous)"
    std::optional<GenotypeModel> model;  // the model that reads it; none: every model
    double none;    // the value without a departure; a model that does not read it gets it
    bool required;  // must be given (with its model)
    bool solvable;  // a value --solve may search for
    // A column added after the CSV's first columns: empty under other models.
    bool trailingColumn;
    MovingEnd moving;
    std::string_view movingText;  // the moving end in words: "p*q"
    ValueRange (*rangeAt)(double p);
    std::vector<double> StudyRequest::*values;
    double ModelSetting::*member;
    // The kinds of locus whose settings read it.
    LocusKinds loci = kEveryLocus;
    // Its value without a departure is the setting's p (an empty list: at p).
    bool followsP = false;

    ValueRange range(double p) const { return rangeAt(p); }
    bool readBy(GenotypeModel m) const { return !model || *model == m; }
    bool readBy(GenotypeModel m, LocusKind k) const { return readBy(m) && loci.contains(k); }
    // The value without a departure at a setting.
    double noneAt(const ModelSetting& s) const { return followsP ? s.p : none; }
    double get(const ModelSetting& s) const { return s.*member; }
    void set(ModelSetting& s, double v) const { s.*member = v; }
    // The far end of the range at the setting's p above `none` (up) or below
    // it; nothing when the parameter cannot move that way.
    std::optional<double> farEnd(const ModelSetting& s, bool up) const;
    // "0.01 to 0.99", "0 to p*q": the range as the help and the rules say it.
    std::string rangeText() const;
};

// In the order of StudyInput: p, var, f, w11, w12, w22, het miscall, hom
// miscall, null, p-male (X only).
std::span<const ModelParameter> modelParameters();
const ModelParameter* findModelParameter(StudyInput input);
const ModelParameter* findModelParameter(std::string_view name);

enum class ProblemKind {
    Missing,     // the list is empty
    OutOfRange,  // `value` lies outside `range`
    OutOfBound,  // `value` lies outside `range`, which holds at `at`
    AllZero,     // the three fitnesses are all 0 (one list of each holds a 0)
    TooMany,     // `value` work (see kMaxStudyWork), more than `bound`
    ExactOnly,   // the input has a meaning for exact power only
    // The input does not apply to the request's locus: a test (`value` its
    // index in the test catalogue), or allele counts on X.
    WrongLocus,
    NoXForm,  // Locus: the model (`value` its GenotypeModel) has no X-linked form
};

// What is wrong with one input: which, which value, why.
struct StudyProblem {
    StudyInput input = StudyInput::P;
    ProblemKind kind = ProblemKind::OutOfRange;
    double value = 0;
    ValueRange range;  // OutOfRange: what is allowed
    double bound = 0;  // TooMany: the most allowed
    double at = 0;     // OutOfBound: the p (var, f) or the n (an allele count)
};

// The problems of a request, the first value refused for each input, in the
// order of StudyInput; empty when the study can run.
std::vector<StudyProblem> checkStudy(const StudyRequest& request);

// A problem in words that name no option or field of any front end ("f must
// lie from -1 to 1 at p 0.5 (not 1.5)"), for a front end without wording of
// its own (a binding); the command line and the windows word problems their
// own way.
std::string studyProblemText(const StudyProblem& problem);

// The model settings of a request: p slowest, then var, f, w11, w12, w22,
// het miscall, hom miscall, null, p-male, in the order their values were
// given; the lists the model does not read keep the values the window writes
// for them (var, f and the rates 0, fitnesses 1). Each carries the request's
// locus and male share; p-male without values is the setting's p.
std::vector<ModelSetting> modelSettings(const StudyRequest& request);

// The number of points the request computes (model settings x n x tests x
// levels), counted without making the settings.
double studyPoints(const StudyRequest& request);
// The work of the request, compared with kMaxStudyWork: the sum over its
// points of n + kPointWork.
double studyWork(const StudyRequest& request);
// The sample sizes the checks and the work count read: the grid's, or the
// two bounds of a solve for n when no grid is given.
std::vector<std::uint32_t> countedSizes(const StudyRequest& request);

// "hw", "wahlund", "inbreeding", "selection", "error", "null".
std::string_view modelKey(GenotypeModel model);
std::optional<GenotypeModel> parseModelKey(std::string_view key);
// The keys of every model, the last after `last`: "hw, wahlund, inbreeding,
// selection, error and null".
std::string modelKeys(std::string_view last = "and");
// The keys of the models with an X-linked form: "hw, inbreeding, error".
std::string xModelKeys();
std::string_view methodName(PowerMethod method);  // "exact", "simulate"

}  // namespace zyg
