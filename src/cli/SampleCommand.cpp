#include "cli/SampleCommand.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <stdexcept>

#include "cli/GenotypeCommand.h"
#include "cli/HeldOutput.h"
#include "cli/Options.h"
#include "cli/QqPlot.h"
#include "cli/SampleOutput.h"
#include "core/NumberText.h"
#include "core/Version.h"
#include "engine/TestCatalogue.h"
#include "report/WholeFile.h"
#include "sources/CountLines.h"
#include "sources/GenotypeFiles.h"

namespace zyg {

namespace {

constexpr const char* kProgram = "zygomet-test";

struct CommandOptions {
    std::optional<std::string> file;
    std::vector<HweTest> tests;      // none given: every test that applies
    std::optional<LocusKind> locus;  // --locus; none: the first sample decides
    std::optional<std::string> csv;
    bool skipBad = false;
    std::vector<std::string> counts;  // the counts given as arguments
    std::set<std::string> given;
    GenotypeOptions genotypes;  // the options of genotype files
    std::optional<std::string> annotate, outPassing;
    std::optional<double> keepPassing;
    std::vector<double> levels;
    std::optional<std::string> summary;
    std::optional<std::string> qq;
};

const std::vector<OptionEntry<CommandOptions>>& optionTable() {
    static const std::vector<OptionEntry<CommandOptions>> table = [] {
        std::vector<OptionEntry<CommandOptions>> t = {
            fileOption("--file", "test one sample per line of FILE (- for standard input)",
                       "give a file name, or - for standard input", &CommandOptions::file),
            {"--test", "TESTS", "tests, comma-separated, in the order of the output (default all)",
             [](CommandOptions& o, const std::string& v) {
                 o.tests.clear();
                 for (HweTest t : parseTestList(v, observedSampleTests(), ", ")) {
                     if (std::find(o.tests.begin(), o.tests.end(), t) != o.tests.end())
                         refuse("--test", v, std::string(hweTestName(t)) + " is named twice");
                     o.tests.push_back(t);
                 }
             }},
            {"--locus", "KIND",
             "x: three counts are females with no males (default: five counts AA AB BB A B on the "
             "first sample line make the file X-linked)",
             [](CommandOptions& o, const std::string& v) { o.locus = parseLocusOption(v); }},
            fileOption("--csv", "write CSV to FILE instead of the table (- for standard output)",
                       "give a file name, or - for standard output", &CommandOptions::csv),
            {"--skip-bad", nullptr, "report bad lines on standard error and test the others",
             [](CommandOptions& o, const std::string&) { o.skipBad = true; }},
            {"--groups", "FILE", "genotype files: sample ID and group a line; a row per group",
             [](CommandOptions& o, const std::string& v) {
                 if (v.empty()) refuse("--groups", v, "give a file name");
                 o.genotypes.groupsFile = v;
             }},
            {"--level", "VALUES", "genotype files: fail columns (p <= level) and a summary",
             [](CommandOptions& o, const std::string& v) {
                 o.levels = parseList("--level", v, 20);
                 for (double level : o.levels)
                     if (!(level > 0 && level < 1))
                         refuse("--level", v, "levels lie between 0 and 1");
             }},
            fileOption("--summary", "genotype files: write the summary to FILE as CSV",
                       "give a file name", &CommandOptions::summary),
            fileOption("--qq",
                       "genotype files: a Q-Q plot of the p-values to FILE.png or FILE.svg (or its "
                       "numbers to FILE.csv)",
                       "give a file name ending in .png, .svg or .csv", &CommandOptions::qq),
            fileOption("--annotate",
                       "a VCF or BCF: write it to FILE with the p-values as INFO tags",
                       "give a file name", &CommandOptions::annotate),
            {"--keep-passing", "LEVEL",
             "only the markers the first --test does not reject at LEVEL",
             [](CommandOptions& o, const std::string& v) {
                 const auto levels = parseList("--keep-passing", v, 1);
                 if (levels.size() != 1 || !(levels[0] > 0 && levels[0] < 1))
                     refuse("--keep-passing", v, "give one level between 0 and 1");
                 o.keepPassing = levels[0];
             }},
            fileOption("--out-passing",
                       "genotype files: write the IDs of the markers not rejected to FILE",
                       "give a file name", &CommandOptions::outPassing),
            {"--version", nullptr, "print the version and stop",
             [](CommandOptions&, const std::string&) {}},
        };
        // After --skip-bad, how a genotype file is read.
        const auto reading = genotypeFileOptions(&CommandOptions::genotypes);
        const auto at =
            std::find_if(t.begin(), t.end(), [](const auto& e) { return e.name == "--skip-bad"; });
        t.insert(at + 1, reading.begin(), reading.end());
        return t;
    }();
    return table;
}

CommandOptions parseOptions(const std::vector<std::string>& args) {
    CommandOptions o;
    // The operands are the counts; a negative count is an operand too, and
    // refused as a count, not as an unknown option.
    o.counts = parseArguments(args, optionTable(), o, o.given, kProgram, true);
    if (o.file && !o.counts.empty())
        throw UsageError("give either --file or the three counts AA AB BB, not both");
    if (!o.file && o.skipBad) throw UsageError("--skip-bad: only with --file");
    return o;
}

std::string where(const std::string& file, std::size_t line) {
    return (file == "-" ? std::string("standard input") : file) + ", line " + std::to_string(line);
}

// The lines listed one by one before the rest is only counted.
constexpr std::size_t kLinesListed = 20;

// The one sample given as arguments, as a source.
class ArgumentSample : public SampleSource {
public:
    explicit ArgumentSample(const SampleCounts& counts) : counts_(counts) {}
    bool next(SampleBatch& batch) override {
        batch.clear();
        if (given_) return false;
        given_ = true;
        batch.samples.push_back({0, {}, counts_, {}});
        return true;
    }

private:
    SampleCounts counts_;
    bool given_ = false;
};

// Reads the source batch by batch and writes each batch's rows as they are
// tested: to the --csv file's temporary file directly, or held until the
// input is whole (standard output, a file written through such as a pipe),
// so that a bad line or an input that fails leaves no output anywhere.
int testSamples(const CommandOptions& o, const SampleStreams& io, SampleSource& source) {
    RowsOutput output(o.csv);
    const auto emit = [&](std::string_view piece) { output.emit(piece); };
    // The header waits for the first sample, whose kind of locus sets the
    // columns (a file is of one kind).
    std::vector<HweTest> tests;
    std::optional<SampleTable> table;
    const auto start = [&](LocusKind locus) {
        if (table) return;
        tests = o.tests.empty() ? observedSampleTests(locus) : o.tests;
        for (HweTest t : tests)
            if (!appliesTo(t, locus))
                throw UsageError("--test " + std::string(hweTestName(t)) +
                                 ": a test of X-linked samples; give --locus x or five counts "
                                 "AA AB BB A B");
        table.emplace(tests, locus);
        emit(o.csv ? sampleCsvHeader(tests, locus) : table->headerCells());
    };
    if (o.locus) start(*o.locus);

    std::size_t bad = 0, samples = 0, monomorphic = 0;
    std::vector<std::size_t> monomorphicLines;
    std::size_t uncalled = 0;  // samples with every count 0
    std::vector<std::size_t> uncalledLines;
    SampleBatch batch;
    try {
        while (source.next(batch)) {
            for (const BadLine& b : batch.bad) {
                ++bad;
                if (o.skipBad || bad <= kLinesListed)
                    io.err << kProgram << ": " << where(*o.file, b.line) << ": \""
                           << shownText(b.text) << "\": " << b.why << "\n";
            }
            // Bad input ends the command: the rest is only read for its bad
            // lines, and nothing is tested once the output has failed.
            if ((bad > 0 && !o.skipBad) || output.failed()) continue;
            if (!batch.samples.empty()) start(batch.samples.front().counts.locus);
            samples += batch.samples.size();
            if (o.csv)
                for (const InputSample& s : batch.samples) {
                    if (noGenotypes(s.counts)) {
                        if (++uncalled <= kLinesListed) uncalledLines.push_back(s.line);
                    } else if (!monomorphicNote(s.counts).empty() &&
                               ++monomorphic <= kLinesListed) {
                        monomorphicLines.push_back(s.line);
                    }
                }
            emit(o.csv ? sampleCsvRows(batch.samples, tests, io.threads)
                       : table->rowCells(batch.samples, io.threads));
        }
    } catch (const SourceError& e) {
        refuse("--file", *o.file, e.what());
    }
    start(LocusKind::Autosomal);  // no sample: the autosomal header
    if (bad > 0 && !o.skipBad) {
        if (bad > kLinesListed)
            io.err << kProgram << ": and " << bad - kLinesListed << " more bad lines\n";
        return kExitUsage;
    }

    if (const std::string fault =
            output.finish(io.out, [&](std::string_view line) { return table->aligned(line); });
        !fault.empty()) {
        io.err << kProgram << ": " << fault << "\n";
        return kExitFailure;
    }

    // Notes go to standard error; a table carries its own for monomorphic
    // samples.
    if (monomorphic > 0) {
        io.err << kProgram << ": " << monomorphic
               << (monomorphic == 1 ? " sample has" : " samples have")
               << " only one allele and no p-values";
        if (o.file) {
            io.err << " (line";
            if (monomorphic > 1) io.err << "s";
            for (std::size_t i = 0; i < monomorphicLines.size() && i < kLinesListed; ++i)
                io.err << (i ? ", " : " ") << monomorphicLines[i];
            if (monomorphic > kLinesListed) io.err << ", ...";
            io.err << ")";
        }
        io.err << "\n";
    }
    if (uncalled > 0) {
        io.err << kProgram << ": " << uncalled << (uncalled == 1 ? " sample has" : " samples have")
               << " no genotype called and no p-values (line" << (uncalled > 1 ? "s" : "");
        for (std::size_t i = 0; i < uncalledLines.size(); ++i)
            io.err << (i ? ", " : " ") << uncalledLines[i];
        io.err << (uncalled > kLinesListed ? ", ...)\n" : ")\n");
    }
    if (bad > 0)
        io.err << kProgram << ": " << bad << (bad == 1 ? " bad line" : " bad lines")
               << " skipped\n";
    if (samples == 0) io.err << kProgram << ": no samples to test\n";

    io.out.flush();
    if (!io.out) {
        io.err << kProgram << ": standard output cannot be written\n";
        return kExitFailure;
    }
    return kExitDone;
}

// The options that only genotype files take, as given.
std::vector<std::string> genotypeOnlyOptions(const CommandOptions& o) {
    std::vector<std::string> names;
    for (const char* name :
         {"--par", "--multiallelic", "--sex", "--keep", "--remove", "--groups", "--region",
          "--level", "--summary", "--annotate", "--keep-passing", "--out-passing", "--qq"})
        if (o.given.count(name)) names.emplace_back(name);
    return names;
}

int execute(CommandOptions o, const SampleStreams& io) {
    if (o.file && *o.file != "-") {
        RecognisedInput input;
        try {
            input = recogniseInput(*o.file);
        } catch (const SourceError& e) {
            refuse("--file", *o.file, e.what());
        }
        if (!input.unreadable.empty())
            refuse("--file", *o.file,
                   input.unreadable +
                       "; zygomet-test reads VCF, BCF, PLINK .bed filesets and "
                       "count lines");
        if (input.format != InputFormat::CountLines) {
            GenotypeRun run;
            run.file = *o.file;
            run.input = input;
            // A genotype file holds markers of both kinds: by default every
            // test, each applied where it can be (GenotypeCommand.h).
            run.tests = o.tests.empty() ? observedSampleTests() : o.tests;
            run.csv = o.csv;
            run.skipBad = o.skipBad;
            run.source = o.genotypes;
            run.source.threads = std::max(1u, io.threads);
            run.levels = o.levels;
            run.summary = o.summary;
            run.annotate = o.annotate;
            run.keepPassing = o.keepPassing;
            run.outPassing = o.outPassing;
            run.qq = o.qq;
            if (o.qq && !qqFileName(*o.qq))
                refuse("--qq", *o.qq, "give a file name ending in .png, .svg or .csv");
            if (o.keepPassing && !o.annotate && !o.outPassing)
                throw UsageError("--keep-passing: only with --annotate or --out-passing");
            if (o.annotate && o.genotypes.groupsFile)
                throw UsageError("--annotate: not with --groups (a marker has one row per group)");
            return testGenotypeFile(run, io);
        }
    }
    if (const auto names = genotypeOnlyOptions(o); !names.empty())
        throw UsageError(names.front() + ": only for a genotype file (VCF, BCF or PLINK .bed)");
    if (o.file) {
        std::unique_ptr<ByteInput> input;
        try {
            input = *o.file == "-" ? streamInput(io.in) : fileInput(*o.file);
        } catch (const SourceError& e) {
            refuse("--file", *o.file, e.what());
        }
        CountLineSource source(*input, io.batch, o.locus);
        return testSamples(o, io, source);
    }
    if (o.counts.empty()) {
        io.err << sampleHelpText();
        return kExitUsage;
    }
    std::vector<std::string_view> fields(o.counts.begin(), o.counts.end());
    std::string why;
    const auto counts = parseSampleFields(fields, why, o.locus.value_or(LocusKind::Autosomal));
    std::string typed;
    for (const std::string& c : o.counts) typed += (typed.empty() ? "" : " ") + c;
    if (!counts) throw UsageError("the counts \"" + typed + "\": " + why);
    ArgumentSample source(*counts);
    return testSamples(o, io, source);
}

}  // namespace

std::string sampleVersionText() { return std::string(kProgram) + " " + kZygometVersion + "\n"; }

std::string sampleHelpText() {
    std::string text =
        "Usage: zygomet-test [options] AA AB BB\n"
        "       zygomet-test [options] --file FILE\n"
        "\n"
        "Tests of Hardy-Weinberg proportions on observed samples at one biallelic\n"
        "locus. For each sample of genotype counts AA AB BB it reports n, the\n"
        "frequency p of allele A1, the expected counts n p^2, 2npq and n q^2, the\n"
        "inbreeding coefficient F = 1 - observed/expected heterozygotes and, for\n"
        "each test, its p-value (and the statistic of x2, g and x2cc).\n"
        "\n"
        "A FILE holds one sample per line: an optional marker name, then the counts\n"
        "AA AB BB, separated by spaces, tabs or commas. Blank lines and lines that\n"
        "start with # are skipped, and so is a first line whose count fields are not\n"
        "numbers (a header). Counts are whole numbers from 0 to 1000000000. A line\n"
        "of more than " +
        std::to_string(kMaxCountLineBytes) +
        " bytes is a bad line (a comment may be longer).\n"
        "\n"
        "Options:\n";
    text += optionLines(optionTable());
    text +=
        "  --help              this text\n"
        "  --                  the arguments after it are counts, not options\n"
        "\n"
        "Tests (every one that applies by default, in this order):\n";
    text += testHelpLines(observedSampleTests());
    text +=
        "The exact tests condition on the allele count; counts whose probabilities\n"
        "differ by less than a relative 1e-7 are equally probable. Their p-values\n"
        "hold a relative accuracy of 1e-11 for any n wherever they are at least\n"
        "1e-300. G is computed for samples with a zero count; the main window, which\n"
        "keeps its own rule, does not test such a sample with G.\n"
        "\n"
        "A sample in which one allele is absent (monomorphic) has no p-values: its\n"
        "fields are empty and a note says so; so has a line of a file whose counts\n"
        "are all 0 (a marker with no genotype called). Bad input (a count that is\n"
        "not a whole number, negative or above 1000000000, fewer than three counts,\n"
        "all three counts given as arguments 0) ends the command with its line and\n"
        "text, and with --csv FILE no file is written; --skip-bad lists such lines\n"
        "and tests the others.\n"
        "\n"
        "Chromosome X: a line of five counts AA AB BB A B (the females' genotypes,\n"
        "then the males' alleles) is an X-linked sample; --locus x reads three counts\n"
        "as females with no males. The first sample line fixes the layout of a file.\n"
        "X-linked samples get nf, nm, p_female, p_male, p and F_female, the x- tests,\n"
        "which count the males, and the other tests on the females alone (columns\n"
        "ending in _females).\n"
        "\n"
        "CSV columns: marker,AA,AB,BB,n,p,F, then for each test in the order given\n"
        "x2,p_x2, g,p_g, x2cc,p_x2cc, p_exact, p_exact_midp, ... at full precision\n"
        "(the shortest text that reads back to the same number, always with \".\").\n"
        "\n";
    text += genotypeHelpText();
    text +=
        "Exit status: 0 done, 1 an output could not be written, 2 bad input.\n"
        "\n"
        "Examples:\n"
        "  Test one sample of 21 AA, 61 AB and 18 BB with every test:\n"
        "    zygomet-test 21 61 18\n"
        "  The exact and mid-p tests of every marker of a file, as CSV:\n"
        "    zygomet-test --file counts.txt --test exact,exact-midp --csv results.csv\n"
        "  Read standard input, skip the bad lines, CSV on standard output:\n"
        "    zygomet-test --file - --skip-bad --csv - < counts.txt\n";
    return text;
}

int runSampleCommand(const std::vector<std::string>& args, const SampleStreams& io) {
    return exitStatusOf(kProgram, io.err, [&] {
        if (asksFor(args, optionTable(), {"--help", "-h"})) {
            io.out << sampleHelpText();
            return kExitDone;
        }
        if (asksFor(args, optionTable(), {"--version"})) {
            io.out << sampleVersionText();
            return kExitDone;
        }
        if (args.empty()) {
            io.err << sampleHelpText();
            return kExitUsage;
        }
        return execute(parseOptions(args), io);
    });
}

}  // namespace zyg
