#include "cli/PowerCommand.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <ostream>
#include <set>

#include "cli/Options.h"
#include "cli/PanelCommand.h"
#include "core/Clock.h"
#include "core/Errors.h"
#include "core/NumberText.h"
#include "core/Version.h"
#include "power/PowerStudy.h"
#include "power/Solve.h"
#include "report/WholeFile.h"

namespace zyg {

namespace {

constexpr const char* kProgram = "zygomet-power";

struct CommandOptions {
    StudyRequest request;
    std::vector<double> n;  // as read; whole numbers are checked once the method is known
    std::vector<double> alleleCounts;  // as read
    std::optional<std::uint32_t> seed;
    std::optional<std::string> csv;
    std::optional<std::string> results;
    std::optional<std::string> plot;
    std::optional<std::string> solve;  // "n" or a model parameter
    bool summary = false;              // --solve: the methods paragraph after the answers
    std::vector<std::string> warnings;
    std::set<std::string> given;
    std::map<StudyInput, std::string> typed;  // each input's option text as typed
};

std::string optionOf(StudyInput input) {
    if (const ModelParameter* q = findModelParameter(input)) return "--" + std::string(q->name);
    switch (input) {
        case StudyInput::N: return "--n";
        case StudyInput::AlleleCounts: return "--allele-count";
        case StudyInput::Tests: return "--test";
        case StudyInput::Levels: return "--level";
        case StudyInput::Replicates: return "--nrep";
        case StudyInput::Target: return "--target";
        case StudyInput::Locus: return "--locus";
        case StudyInput::Males: return "--males";
        default: break;
    }
    return "";
}

std::vector<double>* listOf(CommandOptions& o, StudyInput input) {
    if (const ModelParameter* q = findModelParameter(input)) return &(o.request.*q->values);
    return input == StudyInput::Levels ? &o.request.levels : nullptr;
}

std::string sampleSizeRule(PowerMethod method) {
    return "sample sizes are whole numbers from 1 to " + std::to_string(maxSampleSize(method));
}

// The rule an input's values follow, as the command line says it.
std::string ruleOf(StudyInput input, PowerMethod method) {
    if (const ModelParameter* q = findModelParameter(input))
        return std::string(q->subject) + " must lie from " + q->rangeText();
    switch (input) {
        case StudyInput::N: return sampleSizeRule(method);
        case StudyInput::AlleleCounts: return "allele counts are whole numbers from 0 to 2n";
        case StudyInput::Levels: return "levels must lie above 0 and at most 0.5";
        case StudyInput::Replicates:
            return "the number of replicates is a whole number from 1 to " +
                   std::to_string(kMaxReplicates);
        case StudyInput::Target: return "the target is one power above 0 and at most 1";
        case StudyInput::Tests: return "give at least one test";
        case StudyInput::Males: return "the share of males must lie from 0 to 1";
        default: break;
    }
    return "";
}

// The grid-size problem, naming each option that multiplies the points and
// how many values it gave.
std::string tooMuchWork(const StudyProblem& problem, const CommandOptions& o) {
    const StudyRequest& r = o.request;
    // p is always given; the other parameters count where they were typed.
    std::vector<std::pair<StudyInput, std::size_t>> factors;
    for (const ModelParameter& q : modelParameters())
        if (q.input == StudyInput::P || o.typed.count(q.input))
            factors.emplace_back(q.input, (r.*q.values).size());
    factors.emplace_back(StudyInput::N, countedSizes(r).size());
    if (!r.alleleCounts.empty())
        factors.emplace_back(StudyInput::AlleleCounts, r.alleleCounts.size());
    factors.emplace_back(StudyInput::Tests, r.tests.size());
    factors.emplace_back(StudyInput::Levels, r.levels.size());
    std::string product;
    for (const auto& [input, count] : factors) {
        if (!product.empty()) product += " x ";
        product += optionOf(input) + " " + std::to_string(count);
    }
    return "the study asks for " + shortestText(problem.value) + " units of work (" + product +
           " points, each counting its n + " + shortestText(kPointWork) + "); at most " +
           shortestText(problem.bound) + " are allowed";
}

// A list of decimal numbers that reads like one number with a decimal comma
// ("0,1", "1,05"): an integer followed by an item of digits alone. The
// warning names how to write the one value.
std::optional<std::string> decimalCommaWarning(StudyInput input, const std::string& text) {
    std::vector<std::string> items;
    for (std::size_t start = 0;;) {
        const std::size_t comma = text.find(',', start);
        items.push_back(text.substr(start, comma == std::string::npos ? comma : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    const auto digits = [](const std::string& item, bool sign) {
        std::size_t i = sign && !item.empty() && (item[0] == '-' || item[0] == '+') ? 1 : 0;
        if (i >= item.size()) return false;
        for (; i < item.size(); ++i)
            if (!std::isdigit(static_cast<unsigned char>(item[i]))) return false;
        return true;
    };
    for (std::size_t i = 0; i + 1 < items.size(); ++i)
        if (digits(items[i], true) && digits(items[i + 1], false))
            return optionOf(input) + " \"" + text + "\": read as the values " + items[i] + " and " +
                   items[i + 1] + "; a decimal number is written with a point (" + items[i] + "." +
                   items[i + 1] + ")";
    return std::nullopt;
}

// The item of a typed list that reads as `value`, as typed ("1e-400", not the
// 0 it reads as); a value from a range is written as a number.
std::string typedItem(const std::string& typed, double value) {
    for (std::size_t start = 0;;) {
        const std::size_t comma = typed.find(',', start);
        std::string item = typed.substr(start, comma == std::string::npos ? comma : comma - start);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.erase(0, 1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.pop_back();
        if (item.find(':') == std::string::npos)
            if (const auto v = parseDecimal(item, "."); v && *v == value) return item;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return shortestText(value);
}

// A problem of the study in the command line's words: the option, its text as
// typed and what is allowed.
std::string wording(const StudyProblem& problem, const CommandOptions& o) {
    const std::string option = optionOf(problem.input);
    const auto typed = o.typed.find(problem.input);
    const std::string text = typed != o.typed.end() ? typed->second : shortestText(problem.value);
    const std::string quoted = option + " \"" + text + "\": ";
    const std::string rule = ruleOf(problem.input, o.request.method);
    switch (problem.kind) {
        case ProblemKind::Missing: return option + ": no value given";
        case ProblemKind::OutOfRange:
            return quoted + rule + " (not " + typedItem(text, problem.value) + ")";
        case ProblemKind::ExactOnly: return option + ": only with --method exact";
        case ProblemKind::OutOfBound: {
            if (problem.input == StudyInput::AlleleCounts)
                return quoted + rule + " (" + shortestText(problem.range.high) + " at n " +
                       shortestText(problem.at) + "; not " + shortestText(problem.value) + ")";
            // The bound that moves with p, at the p where the value passes it;
            // a value above a moving upper bound is plain from the bound.
            const ModelParameter* q = findModelParameter(problem.input);
            const bool upper = q && q->moving == MovingEnd::High;
            const double bound = upper ? problem.range.high : problem.range.low;
            std::string text =
                quoted + rule + " (" + boundText(bound) + " at p " + shortestText(problem.at);
            if (!upper) text += "; not " + shortestText(problem.value);
            return text + ")";
        }
        case ProblemKind::AllZero:
            return "--w11 0 --w12 0 --w22 0: the three fitnesses must not all be 0";
        case ProblemKind::TooMany: return tooMuchWork(problem, o);
        case ProblemKind::WrongLocus:
            if (problem.input == StudyInput::Tests) {
                const HweTest t = kHweTests[static_cast<std::size_t>(problem.value)];
                return quoted + "the test " + std::string(hweTestName(t)) +
                       (appliesTo(t, LocusKind::XLinked) ? " is not one of chromosome X"
                                                         : " applies to X-linked loci only") +
                       (o.request.locus == LocusKind::Autosomal ? "; give --locus x" : "");
            }
            return option + ": not with --locus " +
                   std::string(locusKindEntry(o.request.locus).name);
        case ProblemKind::NoXForm:
            return "--model " + std::string(modelKey(o.request.model)) +
                   " --locus x: the model has no X-linked form; on X the models are " +
                   xModelKeys();
    }
    return quoted + rule;
}

// "a, b and c" (or "a, b or c").
template <class List, class Name>
std::string joined(const List& all, Name name, const char* last) {
    std::string names;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i > 0) names += i + 1 == all.size() ? std::string(" ") + last + " " : ", ";
        names += name(all[i]);
    }
    return names;
}

std::string solvableNames(const char* last = "and") {
    return joined(
        solvableParameters(), [](const SolvableParameter* q) { return std::string(q->name); },
        last);
}

// A model parameter's line of --help: its model, its meaning, its range and
// whether it is required or what it defaults to.
std::string parameterHelp(const ModelParameter& q) {
    std::string help = q.model ? std::string(modelKey(*q.model)) + ": " + std::string(q.meaning)
                               : std::string(q.meaning);
    help += ", " + q.rangeText();
    if (q.followsP)
        help += " (default: p)";
    else if (!q.required)
        help += " (default " + shortestText(q.none) + ")";
    else if (!q.model)
        help += " (required)";
    return help;
}

const std::vector<OptionEntry<CommandOptions>>& optionTable() {
    auto list = [](StudyInput input) {
        return [input](CommandOptions& o, const std::string& v) {
            *listOf(o, input) = parseList(optionOf(input), v, kMaxListValues);
            o.typed[input] = v;
            if (auto warning = decimalCommaWarning(input, v)) o.warnings.push_back(*warning);
        };
    };
    static const std::vector<OptionEntry<CommandOptions>> table = [&] {
        std::vector<OptionEntry<CommandOptions>> table = {
            {"--model", "MODEL", modelKeys("or") + " (default hw)",
             [](CommandOptions& o, const std::string& v) {
                 const auto m = parseModelKey(v);
                 if (!m) refuse("--model", v, "the models are " + modelKeys());
                 o.request.model = *m;
             }},
        };
        std::vector<OptionEntry<CommandOptions>> rest = {
            {"--locus", "KIND",
             "autosomal (default) or x: females carry two alleles, males one; the model's "
             "parameters are the females'",
             [](CommandOptions& o, const std::string& v) {
                 o.request.locus = parseLocusOption(v);
                 o.typed[StudyInput::Locus] = v;
             }},
            {"--males", "SHARE",
             "x: the share of the n people who are male, 0 to 1 (default 0.5); nm = n x SHARE "
             "rounded, nf = n - nm",
             [](CommandOptions& o, const std::string& v) {
                 const auto share = parseDecimal(v, ".");
                 if (!share || !std::isfinite(*share))
                     refuse("--males", v, ruleOf(StudyInput::Males, PowerMethod::Exact));
                 o.request.males = *share;
                 o.typed[StudyInput::Males] = v;
             }},
            {"--n", "VALUES",
             "sample sizes, 1 to 1000000 (simulate: to 10000) (required; --solve n: the bounds)",
             [](CommandOptions& o, const std::string& v) {
                 o.n = parseList("--n", v, kMaxListValues);
                 o.typed[StudyInput::N] = v;
             }},
            {"--allele-count", "VALUES",
             "exact: power among the samples with this many copies of A1, 0 to 2n",
             [](CommandOptions& o, const std::string& v) {
                 o.alleleCounts = parseList("--allele-count", v, kMaxListValues);
                 o.typed[StudyInput::AlleleCounts] = v;
             }},
            {"--test", "TESTS", "tests, comma-separated (default x2,g; the list below)",
             [](CommandOptions& o, const std::string& v) {
                 o.request.tests = parseTestList(v, kHweTests);
                 o.typed[StudyInput::Tests] = v;
             }},
            {"--level", "VALUES", "levels above 0 and at most 0.5 (default 0.05,0.01)",
             list(StudyInput::Levels)},
            {"--method", "METHOD", "exact (default) or simulate",
             [](CommandOptions& o, const std::string& v) {
                 if (v == "exact")
                     o.request.method = PowerMethod::Exact;
                 else if (v == "simulate")
                     o.request.method = PowerMethod::Simulate;
                 else
                     refuse("--method", v, "the methods are exact and simulate");
             }},
            {"--nrep", "N", "simulate: replicates per point, 1 to 50000 (default 10000)",
             [](CommandOptions& o, const std::string& v) {
                 o.request.replicates = static_cast<std::uint32_t>(
                     parseWhole("--nrep", v, 0, 4294967295u,
                                ruleOf(StudyInput::Replicates, PowerMethod::Simulate)));
                 o.typed[StudyInput::Replicates] = v;
             }},
            {"--seed", "S", "simulate: generator seed, 0 to 4294967295 (default: the clock)",
             [](CommandOptions& o, const std::string& v) {
                 o.seed = static_cast<std::uint32_t>(
                     parseWhole("--seed", v, 0, 4294967295u,
                                "the seed is a whole number from 0 to 4294967295"));
             }},
            {"--target", "POWER",
             "report the sample sizes where power reaches POWER (above 0, at most 1)",
             [](CommandOptions& o, const std::string& v) {
                 const auto t = parseDecimal(v, ".");
                 if (!t || !std::isfinite(*t))
                     refuse("--target", v, ruleOf(StudyInput::Target, PowerMethod::Exact));
                 o.request.target = *t;
                 o.typed[StudyInput::Target] = v;
             }},
            {"--solve", "WHAT",
             "exact: solve for n, or at each n for a parameter: " + solvableNames("or"),
             [](CommandOptions& o, const std::string& v) {
                 if (v != "n" && !findSolvableParameter(v))
                     refuse("--solve", v, "solve for n or for one of " + solvableNames());
                 o.solve = v;
             }},
            {"--summary", nullptr,
             "--solve: print a methods paragraph after the answers (the question, the answer, "
             "how power was computed, the program and its version)",
             [](CommandOptions& o, const std::string&) { o.summary = true; }},
            fileOption("--csv", "write every point as CSV to FILE (- for standard output)",
                       "give a file name, or - for standard output", &CommandOptions::csv),
            {"--plot", "FILE", "draw power against n into FILE.svg or FILE.png",
             [](CommandOptions& o, const std::string& v) {
                 const auto endsWith = [&](const char* tail) {
                     const std::string t = tail;
                     if (v.size() <= t.size()) return false;
                     std::string end = v.substr(v.size() - t.size());
                     for (char& c : end)
                         c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                     return end == t;
                 };
                 if (!endsWith(".svg") && !endsWith(".png"))
                     refuse("--plot", v, "the file name must end in .svg or .png");
                 o.plot = v;
             }},
            fileOption("--results", "simulate: append the runs to the window's results file FILE",
                       "give a file name", &CommandOptions::results),
        };
        // The model's parameters follow --model, in their table's order.
        for (const ModelParameter& q : modelParameters())
            table.push_back(
                {"--" + std::string(q.name), "VALUES", parameterHelp(q), list(q.input)});
        table.insert(table.end(), rest.begin(), rest.end());
        return table;
    }();
    return table;
}

// The rules of the options themselves: which are required, which belong to
// which model or method.
void checkOptionRules(const CommandOptions& o) {
    const GenotypeModel m = o.request.model;
    for (const ModelParameter& q : modelParameters())
        if (q.model && *q.model != m && o.given.count(optionOf(q.input)))
            throw UsageError(optionOf(q.input) + ": not a parameter of the model " +
                             std::string(modelKey(m)) + " (it belongs to --model " +
                             std::string(modelKey(*q.model)) + ")");
    const bool solveN = o.solve && *o.solve == "n";
    if (o.request.locus == LocusKind::Autosomal) {
        for (const ModelParameter& q : modelParameters())
            if (!q.loci.contains(LocusKind::Autosomal) && o.given.count(optionOf(q.input)))
                throw UsageError(optionOf(q.input) + ": only with --locus x");
        if (o.given.count("--males")) throw UsageError("--males: only with --locus x");
        if (const SolvableParameter* q = o.solve ? findSolvableParameter(*o.solve) : nullptr;
            q && !q->loci.contains(LocusKind::Autosomal))
            throw UsageError("--solve " + *o.solve + ": only with --locus x");
    } else if (o.results) {
        throw UsageError("--results: the results file holds autosomal runs only");
    }
    for (const ModelParameter& q : modelParameters())
        if (q.required && !q.model && !o.given.count(optionOf(q.input)))
            throw UsageError(optionOf(q.input) + ": required");
    if (!o.given.count("--n") && !solveN) throw UsageError("--n: required");
    if (o.solve) {
        if (o.request.method != PowerMethod::Exact)
            throw UsageError("--solve: only with --method exact");
        for (const char* option : {"--allele-count", "--plot"})
            if (o.given.count(option)) throw UsageError(std::string(option) + ": not with --solve");
        if (const SolvableParameter* q = findSolvableParameter(*o.solve); q && !q->readBy(m))
            throw UsageError("--solve " + *o.solve + ": not a parameter of the model " +
                             std::string(modelKey(m)) + " (it belongs to --model " +
                             std::string(modelKey(*q->model)) + ")");
    } else if (o.summary) {
        throw UsageError("--summary: only with --solve");
    }
    // The parameter solved for needs no value: without one the search starts
    // at no departure and goes upwards.
    for (const ModelParameter& q : modelParameters())
        if (q.required && q.model == m && !o.given.count(optionOf(q.input)) &&
            !(o.solve && *o.solve == q.name))
            throw UsageError(optionOf(q.input) + ": required with --model " +
                             std::string(modelKey(m)));
    if (o.request.method != PowerMethod::Simulate)
        for (const char* option : {"--nrep", "--seed", "--results"})
            if (o.given.count(option))
                throw UsageError(std::string(option) + ": only with --method simulate");
    if (o.results) {
        const auto& tests = o.request.tests;
        const auto has = [&](HweTest t) {
            return std::find(tests.begin(), tests.end(), t) != tests.end();
        };
        if (m == GenotypeModel::Error || m == GenotypeModel::NullAllele)
            throw UsageError(
                "--results: the results file holds the window's models only (hw, "
                "wahlund, inbreeding, selection)");
        // The file holds the window's X2 and G: g and g-window both write the
        // window's G there, from the same run.
        if (!has(HweTest::X2) && !has(HweTest::G) && !has(HweTest::GWindow))
            throw UsageError(
                "--results: the results file holds X2 and G; give --test with x2, g or g-window");
    }
}

CommandOptions parseOptions(const std::vector<std::string>& args) {
    CommandOptions o;
    parseArguments(args, optionTable(), o, o.given, kProgram, false);
    checkOptionRules(o);
    // Sample sizes and allele counts are whole numbers; their ranges are the
    // study's to check.
    const auto wholeNumbers = [&](StudyInput input, const std::vector<double>& values,
                                  std::vector<std::uint32_t>& into) {
        into.clear();
        for (double v : values) {
            if (!(v >= 0 && v <= 4294967295.0) || v != std::floor(v))
                refuse(optionOf(input), o.typed[input],
                       ruleOf(input, o.request.method) + " (not " + shortestText(v) + ")");
            into.push_back(static_cast<std::uint32_t>(v));
        }
    };
    wholeNumbers(StudyInput::N, o.n, o.request.n);
    wholeNumbers(StudyInput::AlleleCounts, o.alleleCounts, o.request.alleleCounts);
    // A value given twice is one point of the grid, not two rows.
    const auto once = [](auto& values) {
        auto end = values.begin();
        for (auto it = values.begin(); it != values.end(); ++it)
            if (std::find(values.begin(), end, *it) == end) *end++ = *it;
        values.erase(end, values.end());
    };
    for (const ModelParameter& q : modelParameters()) once(o.request.*q.values);
    once(o.request.levels);
    once(o.request.n);
    once(o.request.alleleCounts);
    once(o.request.tests);
    // Solving for n: --n names the bounds, its smallest and largest value (the
    // smallest taken as 1 when only one is given); without it, 1 and the
    // largest sample size. The values typed stay to be checked as sizes.
    if (o.solve && *o.solve == "n") {
        SampleBounds bounds{1, maxSampleSize(o.request.method)};
        if (!o.request.n.empty()) {
            const auto [least, most] = std::minmax_element(o.request.n.begin(), o.request.n.end());
            bounds = {o.request.n.size() > 1 ? *least : 1, *most};
        }
        o.request.solveBounds = bounds;
    }
    return o;
}

// A bar on the terminal's standard error once the work has taken a second.
class ProgressBar {
public:
    ProgressBar(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}
    ~ProgressBar() { finish(); }
    void update(std::size_t done, std::size_t total) {
        if (!enabled_) return;
        const auto elapsed = std::chrono::steady_clock::now() - start_;
        if (!shown_ && elapsed < std::chrono::seconds(1)) return;
        shown_ = true;
        const std::size_t width = 40;
        const std::size_t filled = total ? done * width / total : width;
        err_ << "\r[" << std::string(filled, '#') << std::string(width - filled, ' ') << "] "
             << done << "/" << total << " points" << std::flush;
    }
    void finish() {
        if (shown_) err_ << "\r" << std::string(70, ' ') << "\r" << std::flush;
        shown_ = false;
    }

private:
    std::ostream& err_;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

std::uint32_t clockSeed() {
    const TimeOfDay t = currentClock().utcTimeOfDay();
    return ((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

// Why an output file cannot be written, found before any work: a folder, a
// folder that does not exist or may not be written (a regular file is
// written beside its name and renamed over it), a results file that may not
// be appended to. Pipes and devices are written through and are not checked.
std::string outputProblem(const std::string& path, bool appends) {
    OutputOperations& ops = outputOperations();
    OutputOperations::PathInfo info;
    if (const int error = ops.inspect(path, info); error != 0) return outputErrorMessage(error);
    if (info.directory) return outputErrorMessage(EISDIR);
    if (info.exists && !info.regular) return "";
    if (appends && info.exists) return info.writable ? "" : outputErrorMessage(EACCES);
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    OutputOperations::PathInfo where;
    if (const int error = ops.inspect(folder, where); error != 0) return outputErrorMessage(error);
    if (!where.exists) return outputErrorMessage(ENOENT);
    if (!where.directory) return outputErrorMessage(ENOTDIR);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return outputErrorMessage(EACCES);
    return "";
}

// Every output file named, checked before the work so that a file that
// cannot be written costs no computing.
std::optional<std::string> outputFault(const CommandOptions& o) {
    const std::pair<const char*, const std::optional<std::string>*> outputs[] = {
        {"--csv", &o.csv}, {"--plot", &o.plot}, {"--results", &o.results}};
    for (const auto& [option, path] : outputs) {
        if (!*path || (std::string(option) == "--csv" && **path == "-")) continue;
        if (const std::string why = outputProblem(**path, std::string(option) == "--results");
            !why.empty())
            return std::string(option) + " \"" + **path + "\": cannot be written: " + why;
    }
    return std::nullopt;
}

// --solve: the answers for each model setting, test and level.
int executeSolve(CommandOptions& o, const CommandStreams& io) {
    SolveAim aim;
    aim.parameter = findSolvableParameter(*o.solve);
    aim.target = o.request.target.value_or(0.8);
    ProgressBar bar(io.err, io.errIsTerminal);
    StudyControl control;
    control.progress = [&](std::size_t done, std::size_t total) { bar.update(done, total); };
    const std::vector<SolveAnswer> answers = solveStudy(o.request, aim, control);
    bar.finish();
    const bool csvToOut = o.csv && *o.csv == "-";
    io.out << (csvToOut ? solveCsv(answers, aim) : solveTable(answers, aim));
    if (o.summary && !csvToOut) io.out << '\n' << solveSummary(answers, aim, kProgram);
    io.out << std::flush;
    if (!io.out) {
        io.err << kProgram << ": standard output cannot be written\n";
        return kExitFailure;
    }
    if (o.csv && !csvToOut) {
        if (const std::string fault = writeWholeFile(*o.csv, solveCsv(answers, aim));
            !fault.empty()) {
            io.err << kProgram << ": --csv \"" << *o.csv << "\": cannot be written: " << fault
                   << "\n";
            return kExitFailure;
        }
    }
    return kExitDone;
}

int execute(CommandOptions& o, const CommandStreams& io, const PlotDrawer& plot) {
    StudyRequest& request = o.request;
    const bool seedFromClock = request.method == PowerMethod::Simulate && !o.seed;
    request.seed = o.seed ? *o.seed : clockSeed();
    if (const auto problems = checkStudy(request); !problems.empty())
        throw UsageError(wording(problems.front(), o));
    // A refused study says only why; a study that runs warns of a list that
    // reads like one number with a decimal comma.
    for (const std::string& warning : o.warnings)
        io.err << kProgram << ": warning: " << warning << "\n";

    if (o.plot) {
        if (!plot) refuse("--plot", *o.plot, "this build of the program cannot draw");
        if (modelSettings(request).size() != 1 || request.levels.size() != 1)
            refuse("--plot", *o.plot,
                   "a plot shows one model setting at one level; give one value of the model's "
                   "parameters and one --level");
    }
    if (const auto fault = outputFault(o)) {
        io.err << kProgram << ": " << *fault << "\n";
        return kExitFailure;
    }
    if (o.solve) return executeSolve(o, io);

    ProgressBar bar(io.err, io.errIsTerminal);
    StudyControl control;
    control.progress = [&](std::size_t done, std::size_t total) { bar.update(done, total); };
    const std::vector<PowerPoint> points = runStudy(request, control);
    bar.finish();

    const bool csvToOut = o.csv && *o.csv == "-";
    std::ostream& notes = csvToOut ? io.err : io.out;
    if (csvToOut)
        io.out << studyCsv(points) << std::flush;
    else
        io.out << powerTable(points);
    if (request.method == PowerMethod::Simulate)
        notes << "simulated with " << request.replicates << " replicates per point from seed "
              << request.seed << (seedFromClock ? " (from the clock)" : "") << "\n";
    if (request.target) {
        notes << "\n" << targetTable(targetCrossings(points, *request.target), *request.target);
        notes << "Power is saw-toothed in n: a sample size that reaches the target can be "
                 "followed\nby larger ones that do not; power stays at or above it from the "
                 "last column on.\n";
    }
    // A table or CSV that did not reach standard output (a full disk, a closed
    // pipe) is a failure, not a success.
    io.out.flush();
    if (!io.out) {
        io.err << kProgram << ": standard output cannot be written\n";
        return kExitFailure;
    }
    // "-" is standard output, written above; every other name is a file.
    if (o.csv && !csvToOut) {
        if (const std::string fault = writeWholeFile(*o.csv, studyCsv(points)); !fault.empty()) {
            io.err << kProgram << ": --csv \"" << *o.csv << "\": cannot be written: " << fault
                   << "\n";
            return kExitFailure;
        }
    }
    if (o.results) {
        try {
            appendResultLines(*o.results, resultLines(points));
        } catch (const CommandError& e) {
            io.err << kProgram << ": --results \"" << *o.results << "\": " << e.what() << "\n";
            return kExitFailure;
        }
    }
    if (o.plot) {
        const std::string fault = plot(points, request.target, *o.plot);
        if (!fault.empty()) {
            io.err << kProgram << ": --plot \"" << *o.plot << "\": " << fault << "\n";
            return kExitFailure;
        }
    }
    return kExitDone;
}

}  // namespace

std::string powerHelpText() {
    std::string text =
        "Usage: zygomet-power --p VALUES --n VALUES [options]\n"
        "   or: zygomet-power --panel FILE [options] (the threshold for a panel of\n"
        "       markers; --panel --help lists its options)\n"
        "\n"
        "The power of tests of Hardy-Weinberg proportions at one biallelic locus: for\n"
        "every point of a grid (p x the model's parameter x n x tests x levels), the\n"
        "probability that a sample of n genotypes can be tested (testable), that it is\n"
        "tested and rejected (power), and power among the testable samples\n"
        "(cond.power, what the window's proportions estimate). By default power is\n"
        "exact: the multinomial probabilities of the genotype counts summed, with at\n"
        "most 1e-12 of the probability left out. --method simulate draws samples with\n"
        "the window's own engine and generator instead.\n"
        "\n"
        "Every VALUES is a value (0.1), a list (0.1,0.2) or a range from:to:step\n"
        "(10:1000:10, which includes 1000 because the steps land on it).\n"
        "\n"
        "Options:\n";
    text += optionLines(optionTable());
    text +=
        "  --help              this text\n"
        "  --version           the program's version\n"
        "\n"
        "Tests:\n";
    text += testHelpLines(kHweTests);
    text +=
        "The exact tests condition on the allele count. X2 and g-window are computed\n"
        "as the window computes them; g is the G that zygomet-test applies, which\n"
        "tests a sample with a zero count. The chi-square tests use the window's\n"
        "critical values 3.841459 and 6.634907 at 0.05 and 0.01 and the 1-df\n"
        "chi-square quantile at any other level; every test holds at every level\n"
        "down to 1e-300 (quality control thresholds such as 1e-6 included).\n"
        "\n"
        "Chromosome X (--locus x): females carry two alleles, males one. The model's\n"
        "parameters are the females' (hw, inbreeding and error have an X form; males\n"
        "are not affected), --males is the share of males (nm = n x SHARE rounded,\n"
        "nf = n - nm) and --p-male their allele frequency (default p). The x- tests\n"
        "count the males; the other tests use the females only. --solve n and --solve\n"
        "p-male hold the share; the CSV ends each row with locus,males,p_male.\n"
        "\n"
        "Quality-control models (power against genotyping faults):\n"
        "  error  true genotypes in Hardy-Weinberg proportions at p, read with errors:\n"
        "         a heterozygote is called homozygous with probability --het-miscall\n"
        "         (either homozygote, half each), a homozygote heterozygous with\n"
        "         probability --hom-miscall. Observed frequencies:\n"
        "           P11 = p^2 (1 - hom) + pq het, P12 = 2pq (1 - het) + (p^2 + q^2) hom,\n"
        "           P22 = q^2 (1 - hom) + pq het\n"
        "         Heterozygote miscalls make a deficit, homozygote miscalls an excess.\n"
        "  null   a non-amplifying allele at frequency --null r; --p is A1's frequency\n"
        "         among the visible alleles (p1 = p (1 - r), p2 = q (1 - r)). A1/null\n"
        "         reads as A1A1, A2/null as A2A2, null/null fails to genotype and leaves\n"
        "         the sample (n counts the genotyped samples):\n"
        "           (p1^2 + 2 p1 r, 2 p1 p2, p2^2 + 2 p2 r) / (1 - r^2)\n"
        "Exact power takes n up to 1000000 (biobank samples); --method simulate draws\n"
        "with the window's engine and keeps its limit of 10000. A study is limited by\n"
        "its work: every point counts its n + 10000, at most 2e10 in all.\n"
        "\n"
        "--allele-count gives the power of each test among the samples of n with\n"
        "exactly that many copies of A1, for any model (exact method only); the table\n"
        "and the CSV's allele_count column say which.\n"
        "\n"
        "--plot draws the chart of the window's power curve: one line per test, the\n"
        "target (--target, or 0.8) as a dashed line and the smallest n that reaches\n"
        "it; give one value of the model's parameters and one --level.\n"
        "\n"
        "--solve n finds, for each model setting, test and level, the smallest n whose\n"
        "exact power reaches the target (--target, or 0.8) and the smallest n from\n"
        "which it stays at or above the target up to the upper bound; --n gives the\n"
        "bounds (two values; one value is the upper bound; default 1 to " +
        std::to_string(maxSampleSize(PowerMethod::Exact)) +
        ").\n"
        "--solve var, f, w11, w12 or w22 finds, at each --n, the value nearest to\n"
        "Hardy-Weinberg (var and f 0, fitnesses 1), to 4 significant digits, whose\n"
        "power reaches the target, searching on the side of the value given (a\n"
        "negative f searches towards an excess of heterozygotes), and says when power\n"
        "is not monotone on the way. Without a value of that parameter (--solve f\n"
        "with no --f) the search starts at no departure and goes upwards. --csv\n"
        "writes one row per answer.\n"
        "\n"
        "--target: power is saw-toothed in n for these discrete tests, so the command\n"
        "reports both the first n of the grid whose power (the power column) reaches\n"
        "the target and the smallest n from which it stays at or above the target for\n"
        "the rest of the grid.\n"
        "\n"
        "Exit status: 0 done, 1 a file could not be written, 2 bad input.\n"
        "\n"
        "Examples:\n"
        "  Sample sizes for 80% power against inbreeding f = 0.35 at p = 0.5:\n"
        "    zygomet-power --model inbreeding --p 0.5 --f 0.35 --n 60:72:2 \\\n"
        "      --test g,exact --level 0.05 --target 0.8\n"
        "  The exact test against X2 for a Wahlund effect, as CSV on standard output:\n"
        "    zygomet-power --model wahlund --p 0.2,0.5 --var 0.01 --n 50 \\\n"
        "      --test x2,exact --level 0.05 --csv -\n"
        "  Which heterozygote miscall rates a quality-control threshold of 1e-6 catches:\n"
        "    zygomet-power --model error --p 0.2 --het-miscall 0.02 --n 5000 \\\n"
        "      --test exact,exact-deficit --level 1e-6\n"
        "  The smallest n for 80% power of the exact test against inbreeding f = 0.05:\n"
        "    zygomet-power --model inbreeding --p 0.3 --f 0.05 --test exact \\\n"
        "      --level 0.05 --solve n\n"
        "  A simulated run against heterozygote disadvantage, saved to the window's\n"
        "  results file:\n"
        "    zygomet-power --model selection --p 0.4 --w11 1 --w12 0.8 --w22 1 \\\n"
        "      --n 200 --method simulate --nrep 10000 --seed 1 --results runs.txt\n";
    return text;
}

std::vector<std::string> powerOptionNames() {
    std::vector<std::string> names;
    for (const auto& entry : optionTable()) names.push_back(entry.name);
    return names;
}

int runPowerCommand(const std::vector<std::string>& args, const CommandStreams& io,
                    const PlotDrawer& plot, const TradeOffDrawer& panelPlot) {
    if (asksForPanel(args)) return runPanelCommand(args, io, panelPlot);
    return exitStatusOf(kProgram, io.err, [&] {
        if (asksFor(args, optionTable(), {"--help", "-h"})) {
            io.out << powerHelpText();
            return kExitDone;
        }
        if (asksFor(args, optionTable(), {"--version"})) {
            io.out << kProgram << " " << kZygometVersion << "\n";
            return kExitDone;
        }
        if (args.empty()) {
            io.err << powerHelpText();
            return kExitUsage;
        }
        CommandOptions options = parseOptions(args);
        return execute(options, io, plot);
    });
}

}  // namespace zyg
