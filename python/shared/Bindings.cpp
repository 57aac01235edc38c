#include "Bindings.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <exception>
#include <limits>
#include <thread>

#include "core/NumberText.h"
#include "engine/XLinked.h"
#include "power/PowerStudy.h"

namespace zyg::bindings {

namespace {

// A number as a sentence shows it; NaN has no shortest text of its own.
std::string number(double v) { return std::isnan(v) ? "NaN" : shortestText(v); }

// A problem of the study in the library's neutral words.
std::string sentence(StudyInput input, ProblemKind kind, double value, ValueRange range = {}) {
    StudyProblem problem;
    problem.input = input;
    problem.kind = kind;
    problem.value = value;
    problem.range = range;
    return studyProblemText(problem);
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

// A whole number of at most 32 bits, for a list the request holds as
// counts; what lies in range but is no whole number is refused here, what
// lies out of range in the library's words. `range` is the input's.
std::uint32_t wholeNumber(StudyInput input, double v, ValueRange range, const char* subject) {
    if (!(v >= 0 && v <= 4294967295.0))
        throw ArgumentError(sentence(input, ProblemKind::OutOfRange, v, range));
    if (v != std::floor(v))
        throw ArgumentError(std::string(subject) + " are whole numbers (not " + number(v) + ")");
    return static_cast<std::uint32_t>(v);
}

std::vector<std::uint32_t> wholeNumbers(StudyInput input, const std::vector<double>& values,
                                        ValueRange range, const char* subject) {
    std::vector<std::uint32_t> whole;
    for (double v : values) whole.push_back(wholeNumber(input, v, range, subject));
    return whole;
}

// A parameter given on a kind of locus that does not read it.
std::string onOtherLoci(const ModelParameter& q) {
    std::vector<std::string> kinds;
    for (const LocusKindEntry& e : kLocusKinds)
        if (q.loci.contains(e.kind)) kinds.emplace_back(e.label);
    return std::string(q.column) + " has a meaning on " + listOfNames(kinds) + " loci only";
}

// The model parameter a script names by its column ("het_miscall") or by
// the command line's word for it ("het-miscall").
const ModelParameter* parameterNamed(const std::string& name) {
    for (const ModelParameter& q : modelParameters())
        if (q.column == name || q.name == name) return &q;
    return nullptr;
}

std::uint32_t clockSeed() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    return static_cast<std::uint32_t>(ms % 86'400'000);
}

}  // namespace

const std::vector<std::string>& studyValueNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out{"p", "n"};
        for (const ModelParameter& q : modelParameters())
            if (q.input != StudyInput::P) out.emplace_back(q.column);
        out.emplace_back("allele_count");
        out.emplace_back("levels");
        return out;
    }();
    return names;
}

std::vector<HweTest> parseTests(const std::vector<std::string>& names, bool samples) {
    if (names.empty()) throw ArgumentError(sentence(StudyInput::Tests, ProblemKind::Missing, 0));
    std::vector<HweTest> tests;
    for (const std::string& name : names) {
        if (samples && parseXTest(name))
            throw ArgumentError("the test " + name +
                                " counts the males of X-linked samples: give their counts");
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

    const auto locus = parseLocusKind(a.locus);
    if (!locus) {
        std::vector<std::string> loci;
        for (const LocusKindEntry& e : kLocusKinds) loci.emplace_back(e.name);
        throw ArgumentError("unknown locus \"" + a.locus + "\"; the loci are " + listOfNames(loci));
    }
    r.locus = *locus;
    if (a.males) {
        if (r.locus != LocusKind::XLinked)
            throw ArgumentError("males has a meaning on X-linked loci only");
        r.males = *a.males;
    }

    for (const auto& [name, values] : a.values)
        if (std::find(studyValueNames().begin(), studyValueNames().end(), name) ==
            studyValueNames().end())
            throw ArgumentError("unknown parameter \"" + name + "\"; the parameters are " +
                                listOfNames(studyValueNames()));
    const auto given = [&](std::string_view name) { return a.values.count(std::string(name)) > 0; };
    const bool solveN = a.solve == "n";
    if (!given("n") && !solveN) throw ArgumentError("n is required");
    for (const ModelParameter& q : modelParameters()) {
        if (!given(q.column)) {
            if (q.required && q.readBy(r.model, r.locus))
                throw ArgumentError(q.model
                                        ? "the model " + a.model + " needs " + std::string(q.column)
                                        : std::string(q.column) + " is required");
            continue;
        }
        if (!q.loci.contains(r.locus)) throw ArgumentError(onOtherLoci(q));
        if (!q.readBy(r.model))
            throw ArgumentError(std::string(q.column) + " is not a parameter of the model " +
                                a.model + " (it belongs to the model " +
                                std::string(modelKey(*q.model)) + ")");
        r.*q.values = a.values.at(std::string(q.column));
    }
    if (given("levels")) r.levels = a.values.at("levels");
    const ValueRange sizes{1, static_cast<double>(maxSampleSize(r.method))};
    if (given("n")) r.n = wholeNumbers(StudyInput::N, a.values.at("n"), sizes, "sample sizes");
    if (given("allele_count"))
        r.alleleCounts = wholeNumbers(StudyInput::AlleleCounts, a.values.at("allele_count"),
                                      {0, 4294967295.0}, "allele counts");
    if (a.tests) r.tests = parseTests(*a.tests, false);

    if (r.method != PowerMethod::Simulate && (a.nrep || a.seed))
        throw ArgumentError(std::string(a.nrep ? "nrep" : "seed") +
                            " has a meaning for the simulate method only");
    if (a.nrep)
        r.replicates = wholeNumber(StudyInput::Replicates, *a.nrep,
                                   {1, static_cast<double>(kMaxReplicates)}, "replicates");
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
            const ModelParameter* q = parameterNamed(a.solve);
            std::vector<std::string> names{"n"};
            for (const SolvableParameter* s : solvableParameters()) names.emplace_back(s->column);
            if (!q || !q->solvable)
                throw ArgumentError("cannot solve for \"" + a.solve + "\"; solve for " +
                                    listOfNames(names));
            if (!q->loci.contains(r.locus)) throw ArgumentError(onOtherLoci(*q));
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
    for (const ModelParameter& q : modelParameters()) once(r.*q.values);
    once(r.levels);
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
        throw ArgumentError(studyProblemText(problems.front()));
    return r;
}

std::string studyCsvText(const StudyArguments& arguments) {
    const StudyRequest request = buildRequest(arguments);
    if (arguments.solve.empty()) return studyCsv(runStudy(request));
    SolveAim aim;
    aim.parameter = parameterNamed(arguments.solve);
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
        if (hasStatistic(t)) names.emplace_back(testEntry(t).statisticColumn);
        names.emplace_back(testEntry(t).pValueColumn);
    }
    return names;
}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Runs testRange(begin, end) over [0, count) on up to `threads` threads (0:
// one per core). Small inputs stay on the calling thread; large ones are cut
// into parts that the threads take in turn, so one slow part does not hold
// the rest. The first error of any thread is raised once all have ended.
template <class Range>
void inParts(std::size_t count, unsigned threads, const Range& testRange) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
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

// A p-value as a double, as the command line prints it.
double probability(Extended value) { return static_cast<double>(std::min<Extended>(value, 1)); }

}  // namespace

void testSamples(const std::uint64_t* aa, const std::uint64_t* ab, const std::uint64_t* bb,
                 std::size_t count, const std::vector<HweTest>& tests,
                 const std::vector<double*>& out, unsigned threads) {
    inParts(count, threads, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const SampleCounts counts{aa[i], ab[i], bb[i]};
            const std::uint64_t n = counts.aa + counts.ab + counts.bb;
            std::size_t c = 0;
            out[c++][i] = static_cast<double>(n);
            if (n == 0) {
                for (; c < out.size(); ++c) out[c][i] = kNaN;
                continue;
            }
            const SampleSummary summary = summarizeSample(counts);
            out[c++][i] = summary.p;
            out[c++][i] = summary.f.value_or(kNaN);
            const std::vector<SampleTestValue> values = testSample(counts, tests);
            for (std::size_t t = 0; t < tests.size(); ++t) {
                if (hasStatistic(tests[t])) out[c++][i] = values[t].statistic.value_or(kNaN);
                out[c++][i] = values[t].pValue.value_or(kNaN);
            }
        }
    });
}

XTests parseXTests(const std::vector<std::string>& names) {
    if (names.empty()) throw ArgumentError(sentence(StudyInput::Tests, ProblemKind::Missing, 0));
    XTests tests;
    std::vector<std::string> seen;
    for (const std::string& name : names) {
        if (std::find(seen.begin(), seen.end(), name) != seen.end())
            throw ArgumentError("the test " + name + " is named twice");
        seen.push_back(name);
        if (const auto x = parseXTest(name)) {
            tests.order.push_back({true, tests.males.size()});
            tests.males.push_back(*x);
        } else if (const auto t = parseHweTest(name); t && testEntry(*t).observedSamples) {
            tests.order.push_back({false, tests.females.size()});
            tests.females.push_back(*t);
        } else {
            throw ArgumentError("unknown test \"" + name + "\"; the tests are " +
                                listOfNames(xTestNames()));
        }
    }
    return tests;
}

std::vector<std::string> xTestNames() {
    std::vector<std::string> names;
    for (HweTest t : observedSampleTests(LocusKind::XLinked)) names.emplace_back(hweTestName(t));
    return names;
}

std::vector<std::string> xSampleColumnNames(const XTests& tests) {
    // The catalogue's row of an X test's name holds its columns.
    std::vector<HweTest> inOrder;
    for (const auto& [male, index] : tests.order)
        inOrder.push_back(male ? *parseHweTest(xTestName(tests.males[index]))
                               : tests.females[index]);
    return xLinkedSampleColumns(inOrder);
}

void testXSamples(const XCountArrays& counts, std::size_t count, const XTests& tests,
                  const std::vector<double*>& out, unsigned threads) {
    inParts(count, threads, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const XSampleCounts x{counts.aa[i], counts.ab[i], counts.bb[i], counts.a[i],
                                  counts.b[i]};
            const std::uint64_t females = x.aa + x.ab + x.bb, males = x.a + x.b;
            std::size_t c = 0;
            out[c++][i] = static_cast<double>(females);
            out[c++][i] = static_cast<double>(males);
            if (females + males == 0) {
                for (; c < out.size(); ++c) out[c][i] = kNaN;
                continue;
            }
            const XSampleSummary summary = summarizeXSample(x);
            out[c++][i] = summary.pFemale.value_or(kNaN);
            out[c++][i] = summary.pMale.value_or(kNaN);
            out[c++][i] = summary.p;
            out[c++][i] = summary.fFemale.value_or(kNaN);
            const std::vector<XTestValue> male = testXSample(x, tests.males);
            std::vector<SampleTestValue> female(tests.females.size());
            if (females > 0) female = testSample(SampleCounts{x.aa, x.ab, x.bb}, tests.females);
            for (const auto& [isMale, index] : tests.order) {
                if (isMale) {
                    const XTestValue& v = male[index];
                    if (xTestHasStatistic(tests.males[index]))
                        out[c++][i] = v.statistic ? static_cast<double>(*v.statistic) : kNaN;
                    out[c++][i] = v.pValue ? probability(*v.pValue) : kNaN;
                } else {
                    const SampleTestValue& v = female[index];
                    if (hasStatistic(tests.females[index]))
                        out[c++][i] = v.statistic.value_or(kNaN);
                    out[c++][i] = v.pValue.value_or(kNaN);
                }
            }
        }
    });
}

}  // namespace zyg::bindings
