#include "power/CommandLine.h"

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <set>

#include "core/Clock.h"
#include "core/Errors.h"
#include "core/NumberText.h"
#include "engine/Simulation.h"
#include "power/PowerStudy.h"

namespace zyg {

namespace {

constexpr const char* kProgram = "zygomet-power";

struct CommandOptions {
    PowerGrid grid;
    PowerMethod method = PowerMethod::Exact;
    std::uint32_t nrep = 10000;
    std::optional<std::uint32_t> seed;
    std::optional<double> target;
    std::optional<std::string> csv;
    std::optional<std::string> results;
    std::optional<std::string> plot;
    std::set<std::string> given;
};

[[noreturn]] void refuse(const std::string& option, const std::string& value,
                         const std::string& why) {
    throw UsageError(option + " \"" + value + "\": " + why);
}

std::uint32_t wholeNumber(const std::string& option, const std::string& text, std::uint64_t low,
                          std::uint64_t high, const std::string& allowed) {
    std::uint64_t value = 0;
    bool ok = !text.empty() && text.size() <= 10;
    for (char c : text) {
        if (c < '0' || c > '9') ok = false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (!ok || value < low || value > high) refuse(option, text, allowed);
    return static_cast<std::uint32_t>(value);
}

// One option: its name, whether it takes a value, the line of --help, and
// what it does with its value. Adding an option is adding an entry.
struct OptionSpec {
    const char* name;
    const char* valueName;  // nullptr for a flag
    const char* help;
    std::function<void(CommandOptions&, const std::string&)> apply;
};

std::vector<double>* axisFor(CommandOptions& o, const std::string& name) {
    if (name == "--p") return &o.grid.p;
    if (name == "--var") return &o.grid.var;
    if (name == "--f") return &o.grid.f;
    if (name == "--w11") return &o.grid.w11;
    if (name == "--w12") return &o.grid.w12;
    if (name == "--w22") return &o.grid.w22;
    if (name == "--level") return &o.grid.levels;
    return nullptr;
}

// The range every value of an axis must lie in, checked where the option's
// text is still at hand so that the message quotes it as given ("0,3" is a
// list of 0 and 3, the usual slip of a decimal comma). var's bound depends on
// p and is checked with the grid.
struct AxisBounds {
    const char* name;
    double low;
    bool lowIncluded;
    double high;
    const char* rule;
};

constexpr AxisBounds kAxisBounds[] = {
    {"--p", 0.01, true, 0.99, "p must lie from 0.01 to 0.99"},
    {"--f", 0, true, 1, "f must lie from 0 to 1"},
    {"--w11", 0, true, 10, "fitnesses must lie from 0 to 10"},
    {"--w12", 0, true, 10, "fitnesses must lie from 0 to 10"},
    {"--w22", 0, true, 10, "fitnesses must lie from 0 to 10"},
    {"--level", 0, false, 0.5, "levels must lie above 0 and at most 0.5"},
};

void checkAxisBounds(const char* name, const std::string& text, const std::vector<double>& values) {
    for (const AxisBounds& b : kAxisBounds) {
        if (std::string_view(b.name) != name) continue;
        for (double v : values) {
            const bool aboveLow = b.lowIncluded ? v >= b.low : v > b.low;
            if (!(aboveLow && v <= b.high))
                refuse(name, text, std::string(b.rule) + " (not " + shortestText(v) + ")");
        }
    }
}

const std::vector<OptionSpec>& optionTable() {
    auto axis = [](const char* name) {
        return [name](CommandOptions& o, const std::string& v) {
            std::vector<double> values = parseAxis(name, v);
            checkAxisBounds(name, v, values);
            *axisFor(o, name) = std::move(values);
        };
    };
    static const std::vector<OptionSpec> table = {
        {"--model", "MODEL", "hw, wahlund, inbreeding or selection (default hw)",
         [](CommandOptions& o, const std::string& v) {
             const auto m = parseModelKey(v);
             if (!m) refuse("--model", v, "the models are hw, wahlund, inbreeding and selection");
             o.grid.model = *m;
         }},
        {"--p", "VALUES", "frequency of allele A1, 0.01 to 0.99 (required)", axis("--p")},
        {"--var", "VALUES", "wahlund: variance of p among subpopulations, 0 to p*q", axis("--var")},
        {"--f", "VALUES", "inbreeding: inbreeding coefficient, 0 to 1", axis("--f")},
        {"--w11", "VALUES", "selection: fitness of A1A1, 0 to 10 (default 1)", axis("--w11")},
        {"--w12", "VALUES", "selection: fitness of A1A2, 0 to 10 (default 1)", axis("--w12")},
        {"--w22", "VALUES", "selection: fitness of A2A2, 0 to 10 (default 1)", axis("--w22")},
        {"--n", "VALUES", "sample sizes, 1 to 10000 (required)",
         [](CommandOptions& o, const std::string& v) { o.grid.n = parseSampleSizes("--n", v); }},
        {"--test", "TESTS", "x2, g, x2cc, exact, comma-separated (default x2,g)",
         [](CommandOptions& o, const std::string& v) {
             o.grid.tests.clear();
             std::size_t start = 0;
             for (;;) {
                 const auto comma = v.find(',', start);
                 const std::string name = v.substr(start, comma - start);
                 // Power is computed for the first four tests only.
                 const auto t = parseHweTest(name);
                 if (!t || *t > HweTest::Exact)
                     refuse("--test", v, "the tests are x2, g, x2cc and exact");
                 o.grid.tests.push_back(*t);
                 if (comma == std::string::npos) break;
                 start = comma + 1;
             }
         }},
        {"--level", "VALUES", "levels above 0 and at most 0.5 (default 0.05,0.01)",
         axis("--level")},
        {"--method", "METHOD", "exact (default) or simulate",
         [](CommandOptions& o, const std::string& v) {
             if (v == "exact")
                 o.method = PowerMethod::Exact;
             else if (v == "simulate")
                 o.method = PowerMethod::Simulate;
             else
                 refuse("--method", v, "the methods are exact and simulate");
         }},
        {"--nrep", "N", "simulate: replicates per point, 1 to 50000 (default 10000)",
         [](CommandOptions& o, const std::string& v) {
             o.nrep = wholeNumber("--nrep", v, 1, kMaxReplicates,
                                  "the number of replicates is a whole number from 1 to 50000");
         }},
        {"--seed", "S", "simulate: generator seed, 0 to 4294967295 (default: the clock)",
         [](CommandOptions& o, const std::string& v) {
             o.seed = wholeNumber("--seed", v, 0, 4294967295u,
                                  "the seed is a whole number from 0 to 4294967295");
         }},
        {"--target", "POWER", "report the sample sizes where power reaches POWER (0 to 1)",
         [](CommandOptions& o, const std::string& v) {
             const auto t = parseDecimal(v, ".");
             if (!t || !(*t > 0 && *t <= 1))
                 refuse("--target", v, "the target is one power above 0 and at most 1");
             o.target = *t;
         }},
        {"--csv", "FILE", "write every point as CSV to FILE (- for standard output)",
         [](CommandOptions& o, const std::string& v) {
             if (v.empty()) refuse("--csv", v, "give a file name, or - for standard output");
             o.csv = v;
         }},
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
        {"--results", "FILE", "simulate: append the runs to the window's results file FILE",
         [](CommandOptions& o, const std::string& v) {
             if (v.empty()) refuse("--results", v, "give a file name");
             o.results = v;
         }},
    };
    return table;
}

// The options that only some models read.
void checkModelOptions(const CommandOptions& o) {
    const GenotypeModel m = o.grid.model;
    const std::pair<const char*, GenotypeModel> owners[] = {
        {"--var", GenotypeModel::Wahlund},   {"--f", GenotypeModel::Inbreeding},
        {"--w11", GenotypeModel::Selection}, {"--w12", GenotypeModel::Selection},
        {"--w22", GenotypeModel::Selection},
    };
    for (const auto& [option, owner] : owners)
        if (o.given.count(option) && owner != m)
            throw UsageError(std::string(option) + ": not a parameter of the model " +
                             std::string(modelKey(m)) + " (it belongs to --model " +
                             std::string(modelKey(owner)) + ")");
    for (const char* required : {"--p", "--n"})
        if (!o.given.count(required)) throw UsageError(std::string(required) + ": required");
    if (m == GenotypeModel::Wahlund && !o.given.count("--var"))
        throw UsageError("--var: required with --model wahlund");
    if (m == GenotypeModel::Inbreeding && !o.given.count("--f"))
        throw UsageError("--f: required with --model inbreeding");
    if (o.method != PowerMethod::Simulate)
        for (const char* option : {"--nrep", "--seed", "--results"})
            if (o.given.count(option))
                throw UsageError(std::string(option) + ": only with --method simulate");
    if (o.results) {
        const auto& tests = o.grid.tests;
        const auto has = [&](HweTest t) {
            return std::find(tests.begin(), tests.end(), t) != tests.end();
        };
        if (!has(HweTest::X2) && !has(HweTest::G))
            throw UsageError(
                "--results: the results file holds X2 and G; give --test with x2 or g");
    }
}

CommandOptions parseOptions(const std::vector<std::string>& args) {
    CommandOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i], value;
        bool inlineValue = false;
        if (name.rfind("--", 0) != 0)
            throw UsageError("\"" + name + "\": unexpected argument; options start with --");
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            inlineValue = true;
        }
        const auto& table = optionTable();
        const auto it = std::find_if(table.begin(), table.end(),
                                     [&](const OptionSpec& s) { return name == s.name; });
        if (it == table.end())
            throw UsageError(name + ": unknown option (" + kProgram + " --help lists them)");
        if (!inlineValue) {
            if (i + 1 >= args.size())
                throw UsageError(name + ": needs a value (" + it->valueName + ")");
            value = args[++i];
        }
        if (!o.given.insert(name).second) throw UsageError(name + ": given twice");
        it->apply(o, value);
    }
    checkModelOptions(o);
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

// Writes a file whole or not at all: a regular file (or a new one) is written
// beside its name and renamed over it once every byte is stored, so a full
// disk never leaves half a table; anything else (a device, a pipe) is written
// in place. False when the text could not be written.
bool writeWhole(const std::string& path, const std::string& text) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    const bool special = fs::exists(status) && !fs::is_regular_file(status);
    const std::string target = special ? path : path + ".partial";
    {
        std::ofstream file(target, std::ios::binary | std::ios::trunc);
        file << text;
        file.flush();
        file.close();
        if (!file) {
            if (!special) fs::remove(target, error);
            return false;
        }
    }
    if (special) return true;
    fs::rename(target, path, error);
    if (error) fs::remove(target, error);
    return !error;
}

std::uint32_t clockSeed() {
    const TimeOfDay t = currentClock().utcTimeOfDay();
    return ((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

int execute(const CommandOptions& o, const CommandStreams& io, const PlotDrawer& plot) {
    SimulationPlan plan;
    plan.nrep = o.nrep;
    const bool seedFromClock = o.method == PowerMethod::Simulate && !o.seed;
    plan.seed = o.seed ? *o.seed : clockSeed();
    checkGrid(o.grid);

    if (o.plot) {
        if (!plot) refuse("--plot", *o.plot, "this build of the program cannot draw");
        if (modelSettings(o.grid).size() != 1 || o.grid.levels.size() != 1)
            refuse("--plot", *o.plot,
                   "a plot shows one model setting at one level; give one value of the model's "
                   "parameters and one --level");
    }

    ProgressBar bar(io.err, io.errIsTerminal);
    StudyControl control;
    control.progress = [&](std::size_t done, std::size_t total) { bar.update(done, total); };
    const std::vector<PowerPoint> points = runStudy(o.grid, o.method, plan, control);
    bar.finish();

    const bool csvToOut = o.csv && *o.csv == "-";
    std::ostream& notes = csvToOut ? io.err : io.out;
    if (csvToOut) {
        std::string text = csvHeader();
        for (const PowerPoint& p : points) text += csvRow(p);
        io.out << text << std::flush;
    } else {
        io.out << powerTable(points);
    }
    if (o.method == PowerMethod::Simulate)
        notes << "simulated with " << plan.nrep << " replicates per point from seed " << plan.seed
              << (seedFromClock ? " (from the clock)" : "") << "\n";
    if (o.target) {
        notes << "\n" << targetTable(targetCrossings(points, *o.target), *o.target);
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
    if (o.csv && !csvToOut) {
        std::string text = csvHeader();
        for (const PowerPoint& p : points) text += csvRow(p);
        if (!writeWhole(*o.csv, text)) {
            io.err << kProgram << ": --csv \"" << *o.csv << "\": the file cannot be written\n";
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
        const std::string fault = plot(points, o.target, *o.plot);
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
    for (const OptionSpec& s : optionTable()) {
        std::string head = "  " + std::string(s.name) + " " + s.valueName;
        if (head.size() < 20) head += std::string(20 - head.size(), ' ');
        text += head + "  " + s.help + "\n";
    }
    text +=
        "  --help              this text\n"
        "\n"
        "Tests: x2 is Pearson's X2 against the sample's own Hardy-Weinberg expectation,\n"
        "g the likelihood-ratio G (both as the window computes them, with its critical\n"
        "values 3.841459 and 6.634907 at 0.05 and 0.01), x2cc X2 with the continuity\n"
        "correction 0.5, exact the exact test conditional on the allele count. At other\n"
        "levels X2 and G use the 1-df chi-square quantile.\n"
        "\n"
        "--plot draws the chart of the window's power curve: one line per test, the\n"
        "target (--target, or 0.8) as a dashed line and the smallest n that reaches\n"
        "it; give one value of the model's parameters and one --level.\n"
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
        "  A simulated run against heterozygote disadvantage, saved to the window's\n"
        "  results file:\n"
        "    zygomet-power --model selection --p 0.4 --w11 1 --w12 0.8 --w22 1 \\\n"
        "      --n 200 --method simulate --nrep 10000 --seed 1 --results runs.txt\n";
    return text;
}

int runPowerCommand(const std::vector<std::string>& args, const CommandStreams& io,
                    const PlotDrawer& plot) {
    try {
        for (const std::string& a : args)
            if (a == "--help" || a == "-h") {
                io.out << powerHelpText();
                return kExitDone;
            }
        if (args.empty()) {
            io.err << powerHelpText();
            return kExitUsage;
        }
        return execute(parseOptions(args), io, plot);
    } catch (const UsageError& e) {
        io.err << kProgram << ": " << e.what() << "\n";
        return kExitUsage;
    } catch (const std::exception& e) {
        io.err << kProgram << ": " << e.what() << "\n";
        return kExitFailure;
    }
}

}  // namespace zyg
