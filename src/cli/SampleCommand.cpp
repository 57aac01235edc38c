#include "cli/SampleCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <set>
#include <stdexcept>

#include "cli/Options.h"
#include "cli/SampleInput.h"
#include "cli/SampleOutput.h"
#include "core/NumberText.h"
#include "core/Version.h"
#include "engine/TestCatalogue.h"
#include "report/WholeFile.h"

namespace zyg {

namespace {

constexpr const char* kProgram = "zygomet-test";

struct CommandOptions {
    std::optional<std::string> file;
    std::vector<HweTest> tests = observedSampleTests();
    std::optional<std::string> csv;
    bool skipBad = false;
    std::vector<std::string> counts;  // the counts given as arguments
    std::set<std::string> given;
};

std::string allTestNames(const char* separator) {
    return testNameList(observedSampleTests(), separator);
}

const std::vector<OptionEntry<CommandOptions>>& optionTable() {
    static const std::vector<OptionEntry<CommandOptions>> table = {
        fileOption("--file", "test one sample per line of FILE (- for standard input)",
                   "give a file name, or - for standard input", &CommandOptions::file),
        {"--test", "TESTS", "tests, comma-separated, in the order of the output (default all)",
         [](CommandOptions& o, const std::string& v) {
             o.tests.clear();
             std::size_t start = 0;
             for (;;) {
                 const auto comma = v.find(',', start);
                 const std::string name = v.substr(start, comma - start);
                 const auto t = parseHweTest(name);
                 if (!t || !testEntry(*t).observedSamples)
                     refuse("--test", v, "the tests are " + allTestNames(", "));
                 if (std::find(o.tests.begin(), o.tests.end(), *t) != o.tests.end())
                     refuse("--test", v, name + " is named twice");
                 o.tests.push_back(*t);
                 if (comma == std::string::npos) break;
                 start = comma + 1;
             }
         }},
        fileOption("--csv", "write CSV to FILE instead of the table (- for standard output)",
                   "give a file name, or - for standard output", &CommandOptions::csv),
        {"--skip-bad", nullptr, "report bad lines on standard error and test the others",
         [](CommandOptions& o, const std::string&) { o.skipBad = true; }},
        {"--version", nullptr, "print the version and stop",
         [](CommandOptions&, const std::string&) {}},
    };
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

// The whole input, from a file or from the command's input stream.
std::string readInput(const std::string& file, std::istream& in) {
    std::string text;
    if (file == "-") {
        char buffer[1 << 16];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
            text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (in.bad()) refuse("--file", file, "standard input cannot be read");
        return text;
    }
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        refuse("--file", file, std::string("cannot be read (") + std::strerror(errno) + ")");
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        text.reserve(static_cast<std::size_t>(info.st_size) + 1);
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            refuse("--file", file, std::string("cannot be read (") + std::strerror(error) + ")");
        }
        if (got == 0) break;
        text.append(buffer.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

std::string where(const std::string& file, std::size_t line) {
    return (file == "-" ? std::string("standard input") : file) + ", line " + std::to_string(line);
}

// The lines listed one by one before the rest is only counted.
constexpr std::size_t kLinesListed = 20;

int execute(const CommandOptions& o, const SampleStreams& io) {
    std::vector<InputSample> samples;
    std::size_t skipped = 0;
    if (o.file) {
        ParsedInput input = parseSampleLines(readInput(*o.file, io.in), io.threads);
        if (!input.bad.empty()) {
            const std::size_t listed = o.skipBad ? input.bad.size() : kLinesListed;
            for (std::size_t i = 0; i < input.bad.size() && i < listed; ++i) {
                const BadLine& b = input.bad[i];
                io.err << kProgram << ": " << where(*o.file, b.line) << ": \"" << b.text
                       << "\": " << b.why << "\n";
            }
            if (input.bad.size() > listed)
                io.err << kProgram << ": and " << input.bad.size() - listed << " more bad lines\n";
            if (!o.skipBad) return kExitUsage;
            skipped = input.bad.size();
        }
        samples = std::move(input.samples);
    } else {
        if (o.counts.empty()) {
            io.err << sampleHelpText();
            return kExitUsage;
        }
        std::vector<std::string_view> fields(o.counts.begin(), o.counts.end());
        std::string why;
        const auto counts = parseSampleFields(fields, why);
        std::string typed;
        for (const std::string& c : o.counts) typed += (typed.empty() ? "" : " ") + c;
        if (!counts) throw UsageError("the counts \"" + typed + "\": " + why);
        samples.push_back({0, {}, *counts});
    }

    const bool csvToOut = o.csv && *o.csv == "-";
    const std::string text = o.csv ? sampleCsvText(samples, o.tests, io.threads)
                                   : sampleTable(samples, o.tests, io.threads);
    if (o.csv && !csvToOut) {
        if (const std::string fault = writeWholeFile(*o.csv, text); !fault.empty()) {
            io.err << kProgram << ": --csv \"" << *o.csv << "\": the file cannot be written ("
                   << fault << ")\n";
            return kExitFailure;
        }
    } else {
        io.out << text;
    }

    // Notes go to standard error; a table carries its own for monomorphic
    // samples.
    if (o.csv) {
        std::vector<std::size_t> monomorphic;
        for (const InputSample& s : samples)
            if (!monomorphicNote(s.counts).empty()) monomorphic.push_back(s.line);
        if (!monomorphic.empty()) {
            io.err << kProgram << ": " << monomorphic.size()
                   << (monomorphic.size() == 1 ? " sample has" : " samples have")
                   << " only one allele and no p-values";
            if (o.file) {
                io.err << " (line";
                if (monomorphic.size() > 1) io.err << "s";
                for (std::size_t i = 0; i < monomorphic.size() && i < kLinesListed; ++i)
                    io.err << (i ? ", " : " ") << monomorphic[i];
                if (monomorphic.size() > kLinesListed) io.err << ", ...";
                io.err << ")";
            }
            io.err << "\n";
        }
    }
    if (skipped > 0)
        io.err << kProgram << ": " << skipped << (skipped == 1 ? " bad line" : " bad lines")
               << " skipped\n";
    if (samples.empty()) io.err << kProgram << ": no samples to test\n";

    io.out.flush();
    if (!io.out) {
        io.err << kProgram << ": standard output cannot be written\n";
        return kExitFailure;
    }
    return kExitDone;
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
        "numbers (a header). Counts are whole numbers from 0 to 1000000000.\n"
        "\n"
        "Options:\n";
    text += optionLines(optionTable());
    text +=
        "  --help              this text\n"
        "  --                  the arguments after it are counts, not options\n"
        "\n"
        "Tests (all of them by default, in this order):\n";
    text += testHelpLines(observedSampleTests());
    text +=
        "The exact tests condition on the allele count; counts whose probabilities\n"
        "differ by less than a relative 1e-7 are equally probable. Their p-values\n"
        "hold a relative accuracy of 1e-11 for any n wherever they are at least\n"
        "1e-300. G is computed for samples with a zero count; the main window, which\n"
        "keeps its own rule, does not test such a sample with G.\n"
        "\n"
        "A sample in which one allele is absent (monomorphic) has no p-values: its\n"
        "fields are empty and a note says so. Bad input (a count that is not a whole\n"
        "number, negative or above 1000000000, all counts 0, fewer than three\n"
        "counts) ends the command with its line and text, and with --csv FILE no\n"
        "file is written; --skip-bad lists such lines and tests the others.\n"
        "\n"
        "CSV columns: marker,AA,AB,BB,n,p,F, then for each test in the order given\n"
        "x2,p_x2, g,p_g, x2cc,p_x2cc, p_exact, p_exact_midp, ... at full precision\n"
        "(the shortest text that reads back to the same number, always with \".\").\n"
        "\n"
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
