#include "Bindings.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <exception>
#include <limits>
#include <thread>

#include "core/NumberText.h"
#include "power/PowerStudy.h"

namespace zyg::bindings {

namespace {

// A number as a sentence shows it; NaN has no shortest text of its own.
std::string number(double v) { return std::isnan(v) ? "NaN" : shortestText(v); }

const char* nameOf(StudyInput input) {
    switch (input) {
        case StudyInput::P: return "p";
        case StudyInput::Var: return "var";
        case StudyInput::F: return "f";
        case StudyInput::W11: return "w11";
        case StudyInput::W12: return "w12";
        case StudyInput::W22: return "w22";
        case StudyInput::HetMiscall: return "het_miscall";
        case StudyInput::HomMiscall: return "hom_miscall";
        case StudyInput::Null: return "null";
        case StudyInput::PMale: return "p_male";
        case StudyInput::Locus: return "locus";
        case StudyInput::Males: return "males";
        case StudyInput::N: return "n";
        case StudyInput::AlleleCounts: return "allele_count";
        case StudyInput::Tests: return "tests";
        case StudyInput::Levels: return "levels";
        case StudyInput::Replicates: return "nrep";
        case StudyInput::Target: return "target";
        case StudyInput::Points: return "study";
    }
    return "study";
}

std::string ruleOf(StudyInput input, PowerMethod method) {
    switch (input) {
        case StudyInput::P: return "p must lie from 0.01 to 0.99";
        case StudyInput::Var: return "var must lie from 0 to p*q";
        case StudyInput::F: return "f must lie from -min(p,q)/max(p,q) to 1";
        case StudyInput::W11:
        case StudyInput::W12:
        case StudyInput::W22: return "fitnesses must lie from 0 to 10";
        case StudyInput::HetMiscall:
        case StudyInput::HomMiscall: return "miscall rates must lie from 0 to 1";
        case StudyInput::Null: return "the null allele's frequency must lie from 0 to 0.99";
        case StudyInput::PMale: return "p_male must lie from 0.01 to 0.99";
        case StudyInput::Locus: return "the model must have an X-linked form";
        case StudyInput::Males: return "the share of males must lie from 0 to 1";
        case StudyInput::N:
            return "sample sizes are whole numbers from 1 to " +
                   std::to_string(maxSampleSize(method));
        case StudyInput::AlleleCounts: return "allele counts are whole numbers from 0 to 2n";
        case StudyInput::Levels: return "levels must lie above 0 and at most 0.5";
        case StudyInput::Replicates:
            return "the number of replicates is a whole number from 1 to " +
                   std::to_string(kMaxReplicates);
        case StudyInput::Target: return "the target is one power above 0 and at most 1";
        case StudyInput::Tests: return "give at least one test";
        case StudyInput::Points: break;
    }
    return "";
}

template <class T>
void once(std::vector<T>& values) {
    auto end = values.begin();
    for (auto it = values.begin(); it != values.end(); ++it)
        if (std::find(values.begin(), end, *it) == end) *end++ = *it;
    values.erase(end, values.end());
}

std::string listOfNames(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

std::string modelNames() {
    std::vector<std::string> names;
    for (GenotypeModel m :
         {GenotypeModel::HardyWeinberg, GenotypeModel::Wahlund, GenotypeModel::Inbreeding,
          GenotypeModel::Selection, GenotypeModel::Error, GenotypeModel::NullAllele})
        names.emplace_back(modelKey(m));
    return listOfNames(names);
}

std::string testNames() {
    std::vector<std::string> names;
    for (HweTest t : kHweTests) names.emplace_back(hweTestName(t));
    return listOfNames(names);
}

// The model parameters by name, each with the model that reads it and its
// list in the request.
struct Parameter {
    const char* name;
    GenotypeModel owner;
    std::vector<double> StudyRequest::*list;
};
constexpr Parameter kParameters[] = {
    {"var", GenotypeModel::Wahlund, &StudyRequest::var},
    {"f", GenotypeModel::Inbreeding, &StudyRequest::f},
    {"w11", GenotypeModel::Selection, &StudyRequest::w11},
    {"w12", GenotypeModel::Selection, &StudyRequest::w12},
    {"w22", GenotypeModel::Selection, &StudyRequest::w22},
    {"het_miscall", GenotypeModel::Error, &StudyRequest::hetMiscall},
    {"hom_miscall", GenotypeModel::Error, &StudyRequest::homMiscall},
    {"null", GenotypeModel::NullAllele, &StudyRequest::nullFrequency},
};

std::vector<std::uint32_t> wholeNumbers(StudyInput input, const std::vector<double>& values,
                                        PowerMethod method) {
    std::vector<std::uint32_t> whole;
    for (double v : values) {
        if (!(v >= 0 && v <= 4294967295.0) || v != std::floor(v))
            throw ArgumentError(ruleOf(input, method) + " (not " + number(v) + ")");
        whole.push_back(static_cast<std::uint32_t>(v));
    }
    return whole;
}

std::uint32_t clockSeed() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    return static_cast<std::uint32_t>(ms % 86'400'000);
}

}  // namespace

const std::vector<std::string>& studyValueNames() {
    static const std::vector<std::string> names = {
        "p",   "n",           "var",         "f",    "w11",          "w12",
        "w22", "het_miscall", "hom_miscall", "null", "allele_count", "levels"};
    return names;
}

std::string problemSentence(const StudyProblem& problem, PowerMethod method) {
    const std::string name = nameOf(problem.input);
    const std::string rule = ruleOf(problem.input, method);
    switch (problem.kind) {
        case ProblemKind::Missing: return "no value given for " + name;
        case ProblemKind::OutOfRange: return rule + " (not " + number(problem.value) + ")";
        case ProblemKind::ExactOnly: return name + " has a meaning for the exact method only";
        case ProblemKind::OutOfBound: {
            if (problem.input == StudyInput::AlleleCounts)
                return rule + " (" + number(problem.range.high) + " at n " + number(problem.at) +
                       "; not " + number(problem.value) + ")";
            // The bound that moves with p, at the p where the value passes it.
            const double bound =
                problem.input == StudyInput::Var ? problem.range.high : problem.range.low;
            return rule + " (" + significantText(bound, 6) + " at p " + number(problem.at) +
                   "; not " + number(problem.value) + ")";
        }
        case ProblemKind::AllZero: return "the three fitnesses must not all be 0";
        case ProblemKind::TooMany:
            return "the study asks for " + number(problem.value) +
                   " units of work (each point counting its n + " + number(kPointWork) +
                   "); at most " + number(problem.bound) + " are allowed";
        case ProblemKind::WrongLocus:
        case ProblemKind::NoXForm: return studyProblemText(problem);
    }
    return rule;
}

std::vector<HweTest> parseTests(const std::vector<std::string>& names) {
    if (names.empty()) throw ArgumentError(ruleOf(StudyInput::Tests, PowerMethod::Exact));
    std::vector<HweTest> tests;
    for (const std::string& name : names) {
        const auto test = parseHweTest(name);
        if (!test)
            throw ArgumentError("unknown test \"" + name + "\"; the tests are " + testNames());
        if (std::find(tests.begin(), tests.end(), *test) != tests.end())
            throw ArgumentError("the test " + name + " is named twice");
        tests.push_back(*test);
    }
    return tests;
}

StudyRequest buildRequest(const StudyArguments& a) {
    StudyRequest r;
    const auto model = parseModelKey(a.model);
    if (!model)
        throw ArgumentError("unknown model \"" + a.model + "\"; the models are " + modelNames());
    r.model = *model;
    if (a.method == "exact")
        r.method = PowerMethod::Exact;
    else if (a.method == "simulate")
        r.method = PowerMethod::Simulate;
    else
        throw ArgumentError("unknown method \"" + a.method +
                            "\"; the methods are exact and simulate");

    for (const auto& [name, values] : a.values)
        if (std::find(studyValueNames().begin(), studyValueNames().end(), name) ==
            studyValueNames().end())
            throw ArgumentError("unknown parameter \"" + name + "\"; the parameters are " +
                                listOfNames(studyValueNames()));
    const auto given = [&](const std::string& name) { return a.values.count(name) > 0; };
    for (const Parameter& q : kParameters) {
        if (!given(q.name)) continue;
        if (q.owner != r.model)
            throw ArgumentError(std::string(q.name) + " is not a parameter of the model " +
                                a.model + " (it belongs to the model " +
                                std::string(modelKey(q.owner)) + ")");
        r.*q.list = a.values.at(q.name);
    }
    const bool solveN = a.solve == "n";
    if (!given("p")) throw ArgumentError("p is required");
    if (!given("n") && !solveN) throw ArgumentError("n is required");
    const std::pair<GenotypeModel, const char*> needs[] = {{GenotypeModel::Wahlund, "var"},
                                                           {GenotypeModel::Inbreeding, "f"},
                                                           {GenotypeModel::NullAllele, "null"}};
    for (const auto& [m, name] : needs)
        if (r.model == m && !given(name))
            throw ArgumentError("the model " + a.model + " needs " + name);
    r.p = a.values.at("p");
    if (given("levels")) r.levels = a.values.at("levels");
    if (given("n")) r.n = wholeNumbers(StudyInput::N, a.values.at("n"), r.method);
    if (given("allele_count"))
        r.alleleCounts =
            wholeNumbers(StudyInput::AlleleCounts, a.values.at("allele_count"), r.method);
    if (a.tests) r.tests = parseTests(*a.tests);

    if (r.method != PowerMethod::Simulate && (a.nrep || a.seed))
        throw ArgumentError(std::string(a.nrep ? "nrep" : "seed") +
                            " has a meaning for the simulate method only");
    if (a.nrep) {
        if (!(*a.nrep >= 0 && *a.nrep <= 4294967295.0) || *a.nrep != std::floor(*a.nrep))
            throw ArgumentError(ruleOf(StudyInput::Replicates, r.method) + " (not " +
                                number(*a.nrep) + ")");
        r.replicates = static_cast<std::uint32_t>(*a.nrep);
    }
    if (a.seed) {
        if (!(*a.seed >= 0 && *a.seed <= 4294967295.0) || *a.seed != std::floor(*a.seed))
            throw ArgumentError("the seed is a whole number from 0 to 4294967295 (not " +
                                number(*a.seed) + ")");
        r.seed = static_cast<std::uint32_t>(*a.seed);
    } else {
        r.seed = clockSeed();
    }
    r.target = a.target;

    if (!a.solve.empty()) {
        if (!solveN) {
            const SolvableParameter* q = findSolvableParameter(a.solve);
            std::vector<std::string> names{"n"};
            for (const SolvableParameter* s : solvableParameters()) names.emplace_back(s->name);
            if (!q)
                throw ArgumentError("cannot solve for \"" + a.solve + "\"; solve for " +
                                    listOfNames(names));
            if (!q->readBy(r.model))
                throw ArgumentError(a.solve + " is not a parameter of the model " + a.model +
                                    " (it belongs to the model " +
                                    std::string(modelKey(*q->model)) + ")");
        }
        if (r.method != PowerMethod::Exact)
            throw ArgumentError("a solve runs with the exact method only");
        if (given("allele_count")) throw ArgumentError("allele_count has no meaning when solving");
        if (solveN && !given("n")) r.n.clear();
    }

    // A value given twice is one point of the grid, not two rows.
    for (auto* values : {&r.p, &r.var, &r.f, &r.w11, &r.w12, &r.w22, &r.hetMiscall, &r.homMiscall,
                         &r.nullFrequency, &r.levels})
        once(*values);
    once(r.n);
    once(r.alleleCounts);
    once(r.tests);
    // Solving for n: the sizes given are its bounds, their smallest and largest
    // (the smallest taken as 1 when only one is given), as on the command line.
    if (solveN) {
        SampleBounds bounds{1, maxSampleSize(r.method)};
        if (!r.n.empty()) {
            const auto [least, most] = std::minmax_element(r.n.begin(), r.n.end());
            bounds = {r.n.size() > 1 ? *least : 1, *most};
        }
        r.solveBounds = bounds;
    }
    if (const auto problems = checkStudy(r); !problems.empty())
        throw ArgumentError(problemSentence(problems.front(), r.method));
    return r;
}

std::string studyCsvText(const StudyArguments& arguments) {
    const StudyRequest request = buildRequest(arguments);
    if (arguments.solve.empty()) return studyCsv(runStudy(request));
    SolveAim aim;
    aim.parameter = findSolvableParameter(arguments.solve);
    aim.target = request.target.value_or(0.8);
    return solveCsv(solveStudy(request, aim), aim);
}

std::optional<double> readNumber(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return value;
}

std::vector<CsvColumn> csvColumns(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(std::move(field));
            field.clear();
        } else if (c == '\n') {
            row.push_back(std::move(field));
            field.clear();
            rows.push_back(std::move(row));
            row.clear();
        } else if (c != '\r') {
            field += c;
        }
    }
    if (!field.empty() || !row.empty()) {
        row.push_back(std::move(field));
        rows.push_back(std::move(row));
    }
    std::vector<CsvColumn> columns;
    if (rows.empty()) return columns;
    for (const std::string& name : rows.front()) columns.push_back({name, true, {}, {}});
    for (std::size_t c = 0; c < columns.size(); ++c) {
        CsvColumn& column = columns[c];
        for (std::size_t r = 1; r < rows.size(); ++r) {
            const std::string cell = c < rows[r].size() ? rows[r][c] : std::string();
            column.texts.push_back(cell);
            if (cell.empty()) continue;
            if (!readNumber(cell)) column.numeric = false;
        }
        if (column.numeric) {
            for (const std::string& cell : column.texts)
                column.numbers.push_back(cell.empty() ? std::numeric_limits<double>::quiet_NaN()
                                                      : *readNumber(cell));
            column.texts.clear();
        }
    }
    return columns;
}

std::vector<std::string> sampleColumnNames(const std::vector<HweTest>& tests) {
    std::vector<std::string> names{"n", "p", "F"};
    for (HweTest t : tests) {
        std::string name(hweTestName(t));
        std::replace(name.begin(), name.end(), '-', '_');
        if (hasStatistic(t)) names.push_back(name);
        names.push_back("p_" + name);
    }
    return names;
}

void testSamples(const std::uint64_t* aa, const std::uint64_t* ab, const std::uint64_t* bb,
                 std::size_t count, const std::vector<HweTest>& tests,
                 const std::vector<double*>& out, unsigned threads) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const auto testRange = [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const SampleCounts counts{aa[i], ab[i], bb[i]};
            const std::uint64_t n = counts.aa + counts.ab + counts.bb;
            std::size_t c = 0;
            out[c++][i] = static_cast<double>(n);
            if (n == 0) {
                for (; c < out.size(); ++c) out[c][i] = nan;
                continue;
            }
            const SampleSummary summary = summarizeSample(counts);
            out[c++][i] = summary.p;
            out[c++][i] = summary.f.value_or(nan);
            const std::vector<SampleTestValue> values = testSample(counts, tests);
            for (std::size_t t = 0; t < tests.size(); ++t) {
                if (hasStatistic(tests[t])) out[c++][i] = values[t].statistic.value_or(nan);
                out[c++][i] = values[t].pValue.value_or(nan);
            }
        }
    };
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    // Small inputs stay on the calling thread; large ones are cut into parts
    // that the threads take in turn, so one slow part does not hold the rest.
    if (threads <= 1 || count < 2000) {
        testRange(0, count);
        return;
    }
    const std::size_t parts = std::min<std::size_t>(count / 1000, 16 * std::size_t{threads});
    const std::size_t size = (count + parts - 1) / parts;
    std::vector<std::exception_ptr> errors(threads);
    const auto worker = [&](unsigned w) {
        try {
            for (std::size_t part = w; part < parts; part += threads)
                testRange(std::min(count, part * size), std::min(count, (part + 1) * size));
        } catch (...) {
            errors[w] = std::current_exception();
        }
    };
    std::vector<std::thread> pool;
    for (unsigned w = 1; w < threads; ++w) pool.emplace_back(worker, w);
    worker(0);
    for (std::thread& t : pool) t.join();
    for (const std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
}

}  // namespace zyg::bindings
